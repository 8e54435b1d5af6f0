// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/instance_probe.h"

namespace kv {

namespace {

int NewSocket() {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd >= 0) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

// The user at the other end of a connected local socket; -1 when the kernel does not say.
long PeerUser(int fd) {
#ifdef SO_PEERCRED
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return -1;
    return static_cast<long>(cred.uid);
#else
    uid_t uid = 0;
    gid_t gid = 0;
    if (::getpeereid(fd, &uid, &gid) != 0) return -1;
    return static_cast<long>(uid);
#endif
}

std::string Why(const std::string& step) {
    return step + ": " + std::strerror(errno);
}

}  // namespace

bool InstanceLock::Held() const {
    return fd_ >= 0;
}

int InstanceLock::RequestSocket() const {
    return fd_;
}

InstanceLock::~InstanceLock() {
    Release();
}

InstanceLock::Result InstanceLock::Acquire(const std::string& name, std::string& error) {
    if (fd_ >= 0) return Result::Acquired;
    sockaddr_un addr{};
    const socklen_t len = InstanceAddress(name, addr);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = NewSocket();
        if (fd < 0) {
            error = Why("socket");
            return Result::Failed;
        }
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0) {
            if (::listen(fd, 8) != 0) {
                error = Why("listen");
                ::close(fd);
                return Result::Failed;
            }
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            fd_ = fd;
            return Result::Acquired;
        }
        const int bindError = errno;
        ::close(fd);
        if (bindError != EADDRINUSE) {
            errno = bindError;
            error = Why("bind");
            return Result::Failed;
        }
        // Taken: the connection itself is the request to come forward; nothing is sent.
        const int peer = NewSocket();
        if (peer < 0) {
            error = Why("socket");
            return Result::Failed;
        }
        if (::connect(peer, reinterpret_cast<const sockaddr*>(&addr), len) == 0) {
            const long owner = PeerUser(peer);
            ::close(peer);
            if (owner == static_cast<long>(::getuid())) return Result::HeldElsewhere;
            error = "the name " + name + " is held by another user's program (uid " +
                    std::to_string(owner) + ")";
            return Result::Failed;
        }
        const int connectError = errno;
        ::close(peer);
#ifndef __linux__
        // A file socket left by a holder that died: nobody listens, so it may go.
        if (connectError == ECONNREFUSED) ::unlink(addr.sun_path);
#endif
        // The holder ended between our bind and connect: try again.
        errno = connectError;
        error = Why("connect");
    }
    return Result::Failed;
}

bool InstanceLock::TakeRequest() {
    if (fd_ < 0) return false;
    bool ours = false;
    for (;;) {
        const int peer = ::accept(fd_, nullptr, nullptr);
        if (peer < 0) break;
        ours = ours || PeerUser(peer) == static_cast<long>(::getuid());
        ::close(peer);
    }
    return ours;
}

void InstanceLock::Release() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
}

}  // namespace kv
