#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/data_file.h"

namespace kv {

InstanceLock::~InstanceLock() {
    Release();
}

InstanceLock::Result InstanceLock::Acquire(const std::string& path, std::string& error) {
    if (fd_ >= 0) return Result::Acquired;
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    // The settings folder (it holds the router password): the user's alone, like the lock.
    if (!folder.empty() && std::filesystem::create_directories(folder, ec))
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ec);
    // A regular file only: a link or a FIFO in its place is refused, not followed or waited on.
    const int fd = datafile::OpenRegular(path);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return Result::Failed;
    }
    ::fchmod(fd, 0600);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        ::close(fd);
        if (code == EWOULDBLOCK) return Result::HeldElsewhere;
        error = path + ": " + std::strerror(code);
        return Result::Failed;
    }
    // The process id is only a note for a person looking at the file; the lock is the flock.
    if (::ftruncate(fd, 0) == 0) {
        const std::string pid = std::to_string(::getpid()) + "\n";
        if (::write(fd, pid.data(), pid.size()) < 0) {
            // Harmless: the lock is held all the same.
        }
    }
    fd_ = fd;
    return Result::Acquired;
}

void InstanceLock::Release() {
    if (fd_ < 0) return;
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

}  // namespace kv
