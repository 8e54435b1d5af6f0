// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/socket_transport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace kv {

namespace {

constexpr int kWouldBlock = 10035;
constexpr int kNotSocket = 10038;
constexpr int kTimedOut = 10060;
constexpr int kHostNotFound = 11001;

struct Target {
    sockaddr_storage address{};
    socklen_t length = 0;
};

// A dotted IPv4 address as always; an IPv6 address (also in brackets) or a host name is looked
// up. Empty when the name cannot be found.
std::vector<Target> Resolve(const std::string& address, uint16_t port) {
    std::vector<Target> targets;
    Target t;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&t.address);
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        t.length = sizeof(sockaddr_in);
        targets.push_back(t);
        return targets;
    }
    std::string host = address;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    // What can be no host name is not asked of the name service at all.
    in6_addr v6{};
    const bool numeric6 = inet_pton(AF_INET6, host.c_str(), &v6) == 1;
    if (!numeric6) {
        if (host.size() > 253) return targets;
        for (const char c : host)
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '.' || c == '_'))
                return targets;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (host.empty() ||
        getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return targets;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        if (a->ai_addrlen > sizeof t.address) continue;
        Target each;
        std::memcpy(&each.address, a->ai_addr, a->ai_addrlen);
        each.length = static_cast<socklen_t>(a->ai_addrlen);
        targets.push_back(each);
    }
    freeaddrinfo(found);
    return targets;
}

bool SetNonBlocking(int fd, bool on) {
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0) return false;
    return fcntl(fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
}

}  // namespace

int SocketTransport::WinsockCode(int err) {
    switch (err) {
        case 0: return 0;
        case EINTR: return 10004;
        case EBADF: return kNotSocket;
        case EACCES: return 10013;
        case EFAULT: return 10014;
        case EINVAL: return 10022;
        case EMFILE:
        case ENFILE: return 10024;
#if EAGAIN != EWOULDBLOCK
        case EAGAIN:
#endif
        case EWOULDBLOCK: return kWouldBlock;
        case EINPROGRESS: return 10036;
        case EALREADY: return 10037;
        case ENOTSOCK: return kNotSocket;
        case EDESTADDRREQ: return 10039;
        case EMSGSIZE: return 10040;
        case EPROTOTYPE: return 10041;
        case ENOPROTOOPT: return 10042;
        case EPROTONOSUPPORT: return 10043;
        case ESOCKTNOSUPPORT: return 10044;
        case EOPNOTSUPP: return 10045;
        case EPFNOSUPPORT: return 10046;
        case EAFNOSUPPORT: return 10047;
        case EADDRINUSE: return 10048;
        case EADDRNOTAVAIL: return 10049;
        case ENETDOWN: return 10050;
        case ENETUNREACH: return 10051;
        case ENETRESET: return 10052;
        case ECONNABORTED:
        case EPIPE: return 10053;
        case ECONNRESET: return 10054;
        case ENOBUFS:
        case ENOMEM: return 10055;
        case EISCONN: return 10056;
        case ENOTCONN: return 10057;
        case ESHUTDOWN: return 10058;
        case ETOOMANYREFS: return 10059;
        case ETIMEDOUT: return kTimedOut;
        case ECONNREFUSED: return 10061;
        case ELOOP: return 10062;
        case ENAMETOOLONG: return 10063;
        case EHOSTDOWN: return 10064;
        case EHOSTUNREACH: return 10065;
        case ENOTEMPTY: return 10066;
        case EUSERS: return 10068;
        case EDQUOT: return 10069;
        case ESTALE: return 10070;
        case EREMOTE: return 10071;
        default: return 10050;  // anything else: the network is not usable
    }
}

int SocketTransport::Create() {
    if (fd_ >= 0) return fd_;
    fd_ = ::socket(family_, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        lastError_ = WinsockCode(errno);
        return -1;
    }
    lastError_ = 0;
    return fd_;
}

int SocketTransport::Connect(const std::string& address, uint16_t port) {
    if (fd_ < 0 && Create() < 0) return lastError_;
    const std::vector<Target> targets = Resolve(address, port);
    if (targets.empty()) {
        // Said as such: a name that cannot be found is no network fault.
        lastError_ = kHostNotFound;
        return lastError_;
    }
    // Each address of the name in turn ("localhost": ::1, then 127.0.0.1), each on a new
    // socket of its family.
    for (size_t i = 0; i < targets.size(); ++i) {
        const int family = targets[i].address.ss_family;
        if (i > 0 || family != family_) {
            if (fd_ >= 0) {
                ::close(fd_);
                fd_ = -1;
            }
            family_ = family;
            if (Create() < 0) return lastError_;
        }
        if (ConnectTo(&targets[i].address, targets[i].length) == 0) break;
        if (i + 1 == targets.size()) return lastError_;
    }
    lastError_ = 0;
    // A router that dies without closing the connection is noticed within about a minute:
    // the failed keep-alive comes as a read error (timed out) on the console socket.
    const int on = 1, idle = 30, interval = 10, probes = 3;
    setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd_, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd_, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd_, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    WatchReads(fd_);
    return 0;
}

int SocketTransport::ConnectTo(const void* address, unsigned length) {
    const auto* addr = static_cast<const sockaddr*>(address);
    // A blocking connect, but bounded: a silent address must not hang the program.
    if (!SetNonBlocking(fd_, true)) {
        lastError_ = WinsockCode(errno);
        return lastError_;
    }
    int rc = ::connect(fd_, addr, length);
    if (rc != 0 && errno == EINPROGRESS) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(connectTimeoutMs_);
        pollfd p{fd_, POLLOUT, 0};
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) {
                lastError_ = kTimedOut;
                return lastError_;
            }
            // In short slices with the events handled between them, so the window stays alive
            // while a router that does not answer is tried (the link holds the console
            // meanwhile, so nothing else talks to it).
            const int pr = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 50)));
            if (pr == 0 && QCoreApplication::instance()) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
                continue;
            }
            if (pr < 0 && errno == EINTR) continue;
            if (pr < 0) {
                lastError_ = WinsockCode(errno);
                return lastError_;
            }
            if (pr == 0) continue;
            int err = 0;
            socklen_t len = sizeof err;
            if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
            rc = err == 0 ? 0 : -1;
            errno = err;
            break;
        }
    }
    if (rc != 0) {
        // Broadcast and other unroutable targets come back as access or address errors.
        lastError_ = WinsockCode(errno);
        if (lastError_ == 0) lastError_ = 10061;
        return lastError_;
    }
    return 0;
}

namespace {

// send or recv on fd, again when a signal cut it short; errors as Winsock numbers.
template <class Call>
int Transfer(int fd, int& lastError, Call call) {
    if (fd < 0) {
        lastError = kNotSocket;
        return -1;
    }
    ssize_t r;
    do {
        r = call();
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        lastError = SocketTransport::WinsockCode(errno);
        return -1;
    }
    lastError = 0;
    return static_cast<int>(r);
}

}  // namespace

int SocketTransport::Send(const char* data, int len) {
    return Transfer(fd_, lastError_,
                    [&] { return ::send(fd_, data, static_cast<size_t>(len), MSG_NOSIGNAL); });
}

int SocketTransport::Recv(char* buffer, int len) {
    return Transfer(fd_, lastError_,
                    [&] { return ::recv(fd_, buffer, static_cast<size_t>(len), 0); });
}

void SocketTransport::CloseNative() {
    ::close(fd_);
}

}  // namespace kv
