// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/data_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace kv::datafile {

namespace {

// O_NONBLOCK: a FIFO in place of a file must not block the open; it is refused right after.
int OpenChecked(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    // Back to blocking writes: a regular file never waits, and a short write then means a
    // real failure.
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    return fd;
}

bool WriteAll(int fd, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

ReadResult ReadAll(const std::string& path, std::string& out, size_t maxBytes) {
    out.clear();
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Unreadable;
    if (!S_ISREG(st.st_mode)) return ReadResult::NotAFile;
    const int fd = OpenChecked(path, O_RDONLY);
    if (fd < 0) return errno == EINVAL ? ReadResult::NotAFile : ReadResult::Unreadable;
    if (maxBytes > 0 && ::fstat(fd, &st) == 0 && static_cast<size_t>(st.st_size) > maxBytes)
        ::lseek(fd, st.st_size - static_cast<off_t>(maxBytes), SEEK_SET);
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int e = errno;
            ::close(fd);
            errno = e;
            return ReadResult::Unreadable;
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return ReadResult::Ok;
}

PieceReader::~PieceReader() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

ReadResult PieceReader::Open(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Unreadable;
    if (!S_ISREG(st.st_mode)) return ReadResult::NotAFile;
    const int fd = OpenChecked(path, O_RDONLY);
    if (fd < 0) return errno == EINVAL ? ReadResult::NotAFile : ReadResult::Unreadable;
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = fd;
    size_ = ::fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
#if defined(POSIX_FADV_SEQUENTIAL)
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    return ReadResult::Ok;
}

bool PieceReader::Seek(uint64_t offset) {
    if (handle_ < 0) {
        errno = EBADF;
        return false;
    }
    return ::lseek(static_cast<int>(handle_), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

std::ptrdiff_t PieceReader::Read(char* into, size_t count) {
    if (handle_ < 0) {
        errno = EBADF;
        return -1;
    }
    for (;;) {
        const ssize_t n = ::read(static_cast<int>(handle_), into, count);
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}

bool AppendWhole(const std::string& path, const std::string& bytes, bool endLinesFirst,
                 bool* repaired) {
    if (repaired) *repaired = false;
    // Read too: the last line end is looked at before appending.
    const int fd = OpenChecked(path, O_RDWR | O_APPEND | O_CREAT);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int e = errno;
        ::close(fd);
        errno = e;
        return false;
    }
    std::string data;
    if (endLinesFirst && st.st_size > 0) {
        char last[2] = {0, 0};
        const off_t from = st.st_size >= 2 ? st.st_size - 2 : 0;
        const ssize_t got = ::pread(fd, last, static_cast<size_t>(st.st_size - from), from);
        const bool ends = got == 2 && last[0] == '\r' && last[1] == '\n';
        if (!ends) {
            data = "\r\n";
            if (repaired) *repaired = true;
        }
    }
    data += bytes;
    if (!WriteAll(fd, data.data(), data.size())) {
        const int e = errno;
        // Nothing of a line that could not be written whole stays in the file.
        if (::ftruncate(fd, st.st_size) != 0) {
        }
        ::close(fd);
        errno = e;
        return false;
    }
    return ::close(fd) == 0;
}

bool ReplaceWhole(const std::string& path, const std::string& bytes) {
    const std::string temp = path + ".tmp";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
        // Left by an earlier run that ended while writing; a link there is removed, never
        // followed.
        ::unlink(temp.c_str());
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    }
    if (fd < 0) return false;
    bool ok = WriteAll(fd, bytes.data(), bytes.size());
    int e = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        e = errno;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        e = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        errno = e;
    }
    return ok;
}

int OpenForAppend(const std::string& path) {
    return OpenChecked(path, O_WRONLY | O_APPEND | O_CREAT);
}

std::FILE* OpenForReading(const std::string& path) {
    return std::fopen(path.c_str(), "rb");
}

std::FILE* OpenAppendStream(const std::string& path) {
    const int fd = OpenForAppend(path);
    if (fd < 0) return nullptr;
    std::FILE* f = ::fdopen(fd, "ab");
    if (!f) {
        const int e = errno;
        ::close(fd);
        errno = e;
    }
    return f;
}

bool WritePrivate(const std::string& path, const std::string& bytes, bool* opened) {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (opened) *opened = fd >= 0;
    if (fd < 0) return false;
    // An older file keeps its mode through O_CREAT; tighten it.
    // On the disk before it counts as written: a full disk may only say so at the flush.
    bool ok =
        ::fchmod(fd, 0600) == 0 && WriteAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
    const int e = errno;
    if (::close(fd) != 0 && ok) return false;
    if (!ok) errno = e;
    return ok;
}

int OpenRegular(const std::string& path) {
    return OpenChecked(path, O_RDWR | O_CREAT);
}

bool FolderWritable(const std::string& folder) {
    std::string name = folder + "/.kestrovan-write-XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    ::unlink(name.c_str());
    return true;
}

DataFolder ChooseDataFolder(const std::string& programFolder, const std::string& perUserFolder,
                            bool create) {
    if (perUserFolder.empty() || FolderWritable(programFolder)) return {programFolder};
    DataFolder chosen{perUserFolder, true, false};
    if (!create) return chosen;
    std::error_code ec;
    // The folder and the parents made for it: the user's alone, like the records in it.
    const mode_t old = ::umask(077);
    chosen.created = std::filesystem::create_directories(perUserFolder, ec);
    ::umask(old);
    return chosen;
}

}  // namespace kv::datafile
