// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>
#include <time.h>

#include <cerrno>
#include <cstring>

#include "common/private_file.h"

namespace kv::privatefile {

namespace {

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool SyncPath(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

void Say(std::string* why, int error) {
    if (why) *why = std::strerror(error);
}

}  // namespace

std::optional<Stamp> StampOf(const std::string& path, bool* missing) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (missing) *missing = errno == ENOENT || errno == ENOTDIR;
        return std::nullopt;
    }
    if (missing) *missing = false;
    // The change time too: a replacement can carry the old modification time along.
    return Stamp{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), st.st_size,
                 st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec,
                 st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec};
}

std::optional<std::string> ReadBytes(const std::string& path, std::string* why) {
    // O_NONBLOCK: a FIFO in the file's place must not hang the open; it is refused below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        Say(why, errno);
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        Say(why, errno);
        ::close(fd);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        if (why) *why = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file";
        return std::nullopt;
    }
    std::string bytes;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            Say(why, errno);
            ::close(fd);
            return std::nullopt;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return bytes;
}

std::optional<std::string> WriteTemp(const std::string& folder, const std::string& name,
                                     const std::string& bytes, std::string* why) {
    std::string temp = folder + "/." + name + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        Say(why, errno);
        return std::nullopt;
    }
    bool written = WriteAll(fd, bytes);
    int error = written ? 0 : errno;
    if (written && ::fsync(fd) != 0) {
        written = false;
        error = errno;
    }
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) {
        Say(why, error);
        ::unlink(temp.c_str());
        return std::nullopt;
    }
    return temp;
}

bool Replace(const std::string& temp, const std::string& path, std::string* why) {
    // Whoever wrote temp last chose its mode.
    if (::chmod(temp.c_str(), 0600) != 0 || !SyncPath(temp, O_RDONLY) ||
        ::rename(temp.c_str(), path.c_str()) != 0) {
        Say(why, errno);
        return false;
    }
    const size_t slash = path.rfind('/');
    // The rename itself is on the disk once the folder is; the file is in place either way.
    SyncPath(slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash),
             O_RDONLY | O_DIRECTORY);
    return true;
}

bool Remove(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

int RemoveLeftovers(const std::string& folder, const std::string& name) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return 0;
    const std::string prefix = "." + name + ".";
    int removed = 0;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string file = entry->d_name;
        // mkostemp's six characters after the prefix, nothing else.
        if (file.size() != prefix.size() + 6 || file.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string path = folder + "/" + file;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (now.tv_sec - st.st_mtim.tv_sec < 60) continue;
        if (::unlink(path.c_str()) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

void TightenFolder(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
    if (st.st_uid == ::geteuid() && (st.st_mode & 077) != 0) ::chmod(folder.c_str(), 0700);
}

PrivateFiles::PrivateFiles() : old_(::umask(077)) {}

PrivateFiles::~PrivateFiles() {
    ::umask(static_cast<mode_t>(old_));
}

}  // namespace kv::privatefile
