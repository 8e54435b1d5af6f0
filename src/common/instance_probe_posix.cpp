// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/instance_probe.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace kv {

std::string InstanceName(const std::string& settingsFolder) {
    // FNV-1a: short, stable across builds and versions.
    uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : settingsFolder) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char text[80];
    std::snprintf(text, sizeof text, "kestrovan-%ld-%016llx", static_cast<long>(::getuid()),
                  static_cast<unsigned long long>(hash));
    return text;
}

socklen_t InstanceAddress(const std::string& name, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
#ifdef __linux__
    const std::string path = std::string(1, '\0') + name;
#else
    const std::string path = "/tmp/" + name;
#endif
    const size_t n = std::min(path.size(), sizeof addr.sun_path - 1);
    std::memcpy(addr.sun_path, path.data(), n);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + n);
}

bool InstanceRunning(const std::string& name) {
    // The holder binds the name (see InstanceLock): a name that cannot be bound is held. Bound
    // here for a moment, it is let go at once.
    sockaddr_un addr{};
    const socklen_t len = InstanceAddress(name, addr);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool held =
        ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0 && errno == EADDRINUSE;
    ::close(fd);
#ifndef __linux__
    if (!held) ::unlink(addr.sun_path);
#endif
    return held;
}

}  // namespace kv
