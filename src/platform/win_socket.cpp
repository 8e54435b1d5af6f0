// SPDX-License-Identifier: GPL-3.0-or-later
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which must come first.
#include <mstcpip.h>
#include <windows.h>

#include "platform/win_socket.h"

#include <algorithm>
#include <chrono>

namespace kv::winsock {

namespace {

// Once per process, before the first socket; never undone (the process ending does that).
int Started() {
    static const int result = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data);
    }();
    return result;
}

}  // namespace

Socket Open(int& error) {
    if (const int e = Started(); e != 0) {
        error = e;
        return kNoSocket;
    }
    const SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                  WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        error = ::WSAGetLastError();
        return kNoSocket;
    }
    error = 0;
    return s;
}

int Connect(Socket s, const std::string& ipv4, uint16_t port, int timeoutMs,
            const std::function<void()>& whileWaiting) {
    if (s == kNoSocket) return kNotSocket;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = ::htons(port);
    // Only a dotted address is accepted; anything else becomes the broadcast address, which
    // cannot be connected to, as the router address always behaved.
    if (::inet_pton(AF_INET, ipv4.c_str(), &addr.sin_addr) != 1) addr.sin_addr.s_addr = INADDR_NONE;

    u_long nonBlocking = 1;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) return ::WSAGetLastError();
    if (::connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        const int e = ::WSAGetLastError();
        if (e != WSAEWOULDBLOCK) return e;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) return kTimedOut;
            // A refused connect shows in the exception set, not as writable.
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(s, &writable);
            FD_SET(s, &failed);
            const long slice = static_cast<long>(std::min<int64_t>(left, 50));
            timeval tv{0, slice * 1000};
            const int r = ::select(0, nullptr, &writable, &failed, &tv);
            if (r == SOCKET_ERROR) return ::WSAGetLastError();
            if (r == 0) {
                if (whileWaiting) whileWaiting();
                continue;
            }
            int err = 0;
            int len = sizeof err;
            if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0)
                err = ::WSAGetLastError();
            if (err == 0 && FD_ISSET(s, &failed)) err = WSAECONNREFUSED;
            if (err != 0) return err;
            break;
        }
    }
    // A router that dies without closing the connection is noticed within about a minute:
    // the failed keep-alive comes as a read error on the console socket.
    tcp_keepalive keepAlive{1, 30000, 10000};
    DWORD returned = 0;
    ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &keepAlive, sizeof keepAlive, nullptr, 0, &returned, nullptr,
               nullptr);
    return 0;
}

int Send(Socket s, const char* data, int len, int& error) {
    if (s == kNoSocket) {
        error = kNotSocket;
        return -1;
    }
    const int r = ::send(s, data, len, 0);
    error = r == SOCKET_ERROR ? ::WSAGetLastError() : 0;
    return r == SOCKET_ERROR ? -1 : r;
}

int Recv(Socket s, char* buffer, int len, int& error) {
    if (s == kNoSocket) {
        error = kNotSocket;
        return -1;
    }
    const int r = ::recv(s, buffer, len, 0);
    error = r == SOCKET_ERROR ? ::WSAGetLastError() : 0;
    return r == SOCKET_ERROR ? -1 : r;
}

void Close(Socket s) {
    if (s != kNoSocket) ::closesocket(s);
}

}  // namespace kv::winsock
