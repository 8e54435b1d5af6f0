// SPDX-License-Identifier: GPL-3.0-or-later
#include <arpa/inet.h>
#include <fcntl.h>
#include <iconv.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include "tools/mn128sim/system.h"

namespace mn128sim::sys {

bool StartNetwork() {
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

bool ParseIpv4(const std::string& text, uint32_t* address) {
    in_addr a{};
    if (inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
    *address = ntohl(a.s_addr);
    return true;
}

int Listen(const std::string& address, uint16_t port, uint16_t* bound) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    *bound = ntohs(addr.sin_port);
    return fd;
}

int Accept(int listening, std::string* who) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int fd = ::accept(listening, reinterpret_cast<sockaddr*>(&peer), &len);
    if (fd < 0) return -1;
    char addr[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &peer.sin_addr, addr, sizeof addr);
    *who = std::string(addr) + ":" + std::to_string(ntohs(peer.sin_port));
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

void CloseSocket(int socket) {
    ::close(socket);
}

IoResult Receive(int socket, char* buffer, size_t size, size_t* n) {
    ssize_t r = ::recv(socket, buffer, size, 0);
    if (r < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
        return IoResult::WouldBlock;
    if (r < 0) return IoResult::Failed;
    if (r == 0) return IoResult::Closed;
    *n = static_cast<size_t>(r);
    return IoResult::Done;
}

IoResult Send(int socket, const char* data, size_t size, size_t* n) {
    for (;;) {
        ssize_t r = ::send(socket, data, size, MSG_NOSIGNAL);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return IoResult::WouldBlock;
        if (r < 0) return IoResult::Failed;
        *n = static_cast<size_t>(r);
        return IoResult::Done;
    }
}

bool Wait(Watch* watches, int count, int timeoutMs) {
    std::vector<pollfd> fds;
    for (int i = 0; i < count; ++i)
        fds.push_back(
            {watches[i].socket,
             static_cast<short>((watches[i].read ? POLLIN : 0) | (watches[i].write ? POLLOUT : 0)),
             0});
    int r = ::poll(fds.data(), static_cast<nfds_t>(fds.size()), timeoutMs);
    if (r < 0) return errno == EINTR;
    for (int i = 0; i < count; ++i) {
        watches[i].readable = (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
        watches[i].writable = (fds[i].revents & POLLOUT) != 0;
    }
    return true;
}

int ControlInput() {
    return 0;
}

IoResult ReadControl(char* buffer, size_t size, size_t* n) {
    ssize_t r = ::read(0, buffer, size);
    if (r < 0 && (errno == EINTR || errno == EAGAIN)) return IoResult::WouldBlock;
    if (r <= 0) return IoResult::Closed;
    *n = static_cast<size_t>(r);
    return IoResult::Done;
}

int OpenTranscript(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
}

void WriteAll(int file, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(file, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

void CloseFile(int file) {
    ::close(file);
}

void OnStopRequest(void (*onStop)(int)) {
    struct sigaction sa {};
    sa.sa_handler = onStop;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

const char* LastErrorText() {
    return std::strerror(errno);
}

std::tm LocalTime(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

std::string EncodeEuc(const std::string& utf8) {
    iconv_t cd = iconv_open("EUC-JP", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        // No converter on this system: keep ASCII, which is still "not Shift-JIS".
        std::string out;
        for (unsigned char c : utf8)
            if (c < 0x80)
                out += static_cast<char>(c);
            else if ((c & 0xC0) != 0x80)
                out += '?';
        return out;
    }
    std::string out(utf8.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* o = out.data();
    size_t oLeft = out.size();
    auto grow = [&] {
        size_t used = static_cast<size_t>(o - out.data());
        out.resize(out.size() * 2);
        o = out.data() + used;
        oLeft = out.size() - used;
    };
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &o, &oLeft) != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) {
            grow();
            continue;
        }
        // A character EUC-JP lacks (or broken UTF-8): one '?', then skip the character.
        if (oLeft == 0) grow();
        *o++ = '?';
        --oLeft;
        ++in;
        --inLeft;
        while (inLeft > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80) {
            ++in;
            --inLeft;
        }
    }
    out.resize(static_cast<size_t>(o - out.data()));
    iconv_close(cd);
    return out;
}

}  // namespace mn128sim::sys
