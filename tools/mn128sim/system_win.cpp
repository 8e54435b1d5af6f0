// SPDX-License-Identifier: GPL-3.0-or-later
// Winsock in place of the POSIX sockets. Standard input cannot be waited on together with
// sockets here, so a thread copies it into a loopback connection that can.
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

#include "tools/mn128sim/system.h"

namespace mn128sim::sys {

namespace {

// Sockets cross the interface as int: the system keeps their values small.
SOCKET Native(int socket) {
    return static_cast<SOCKET>(static_cast<intptr_t>(socket));
}
int Small(SOCKET s) {
    return s == INVALID_SOCKET ? -1 : static_cast<int>(static_cast<intptr_t>(s));
}

std::wstring Wide(const std::string& utf8, UINT codePage = CP_UTF8) {
    if (utf8.empty()) return {};
    const int n =
        ::MultiByteToWideChar(codePage, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    return w;
}

int g_control = -1;  // the reading end of standard input's copy

void CopyStandardInput(SOCKET to) {
    const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    char buffer[1024];
    DWORD n = 0;
    while (in != nullptr && in != INVALID_HANDLE_VALUE &&
           ::ReadFile(in, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        for (DWORD done = 0; done < n;) {
            const int sent = ::send(to, buffer + done, static_cast<int>(n - done), 0);
            if (sent <= 0) {
                ::closesocket(to);
                return;
            }
            done += static_cast<DWORD>(sent);
        }
    }
    ::shutdown(to, SD_SEND);  // the end of input reaches the reader as a close
    ::closesocket(to);
}

// A connected pair on 127.0.0.1: reading end, writing end.
bool LoopbackPair(SOCKET& reader, SOCKET& writer) {
    uint16_t port = 0;
    const int listening = Listen("127.0.0.1", 0, &port);
    if (listening < 0) return false;
    writer = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = writer != INVALID_SOCKET &&
                           ::connect(writer, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    reader = connected ? ::accept(Native(listening), nullptr, nullptr) : INVALID_SOCKET;
    ::closesocket(Native(listening));
    if (reader == INVALID_SOCKET) {
        if (writer != INVALID_SOCKET) ::closesocket(writer);
        return false;
    }
    ::SetHandleInformation(reinterpret_cast<HANDLE>(reader), HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(reinterpret_cast<HANDLE>(writer), HANDLE_FLAG_INHERIT, 0);
    return true;
}

}  // namespace

bool StartNetwork() {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    // Lines end in LF, as on the other systems, for whoever reads them.
    _setmode(1, _O_BINARY);
    return true;
}

bool ParseIpv4(const std::string& text, uint32_t* address) {
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
    *address = ntohl(a.s_addr);
    return true;
}

int Listen(const std::string& address, uint16_t port, uint16_t* bound) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
    const SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                  WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) return -1;
    // Not SO_REUSEADDR: on Windows it would let a second listener take the port.
    BOOL exclusive = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
                 sizeof exclusive);
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(s, 4) != 0) {
        const int saved = ::WSAGetLastError();
        ::closesocket(s);
        ::WSASetLastError(saved);
        return -1;
    }
    int len = sizeof addr;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    *bound = ntohs(addr.sin_port);
    return Small(s);
}

int Accept(int listening, std::string* who) {
    sockaddr_in peer{};
    int len = sizeof peer;
    const SOCKET s = ::accept(Native(listening), reinterpret_cast<sockaddr*>(&peer), &len);
    if (s == INVALID_SOCKET) return -1;
    char addr[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &peer.sin_addr, addr, sizeof addr);
    *who = std::string(addr) + ":" + std::to_string(ntohs(peer.sin_port));
    BOOL one = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    return Small(s);
}

void CloseSocket(int socket) {
    ::closesocket(Native(socket));
}

IoResult Receive(int socket, char* buffer, size_t size, size_t* n) {
    const int r = ::recv(Native(socket), buffer, static_cast<int>(size), 0);
    if (r == SOCKET_ERROR) {
        const int e = ::WSAGetLastError();
        return e == WSAEWOULDBLOCK || e == WSAEINTR ? IoResult::WouldBlock : IoResult::Failed;
    }
    if (r == 0) return IoResult::Closed;
    *n = static_cast<size_t>(r);
    return IoResult::Done;
}

IoResult Send(int socket, const char* data, size_t size, size_t* n) {
    const int r = ::send(Native(socket), data, static_cast<int>(size), 0);
    if (r == SOCKET_ERROR)
        return ::WSAGetLastError() == WSAEWOULDBLOCK ? IoResult::WouldBlock : IoResult::Failed;
    *n = static_cast<size_t>(r);
    return IoResult::Done;
}

bool Wait(Watch* watches, int count, int timeoutMs) {
    std::vector<WSAPOLLFD> fds;
    for (int i = 0; i < count; ++i) {
        WSAPOLLFD f{};
        f.fd = Native(watches[i].socket);
        f.events = static_cast<SHORT>((watches[i].read ? POLLRDNORM : 0) |
                                      (watches[i].write ? POLLWRNORM : 0));
        fds.push_back(f);
    }
    if (count == 0) {
        ::Sleep(static_cast<DWORD>(timeoutMs));
        return true;
    }
    if (::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs) == SOCKET_ERROR)
        return false;
    for (int i = 0; i < count; ++i) {
        watches[i].readable = (fds[i].revents & (POLLRDNORM | POLLHUP | POLLERR)) != 0;
        watches[i].writable = (fds[i].revents & POLLWRNORM) != 0;
    }
    return true;
}

int ControlInput() {
    if (g_control >= 0) return g_control;
    SOCKET reader = INVALID_SOCKET, writer = INVALID_SOCKET;
    if (!LoopbackPair(reader, writer)) return -1;
    std::thread(CopyStandardInput, writer).detach();
    g_control = Small(reader);
    return g_control;
}

IoResult ReadControl(char* buffer, size_t size, size_t* n) {
    if (g_control < 0) return IoResult::Closed;
    const IoResult r = Receive(g_control, buffer, size, n);
    return r == IoResult::Failed ? IoResult::Closed : r;
}

int OpenTranscript(const std::string& path) {
    return ::_wopen(Wide(path).c_str(),
                    _O_WRONLY | _O_CREAT | _O_TRUNC | _O_APPEND | _O_BINARY | _O_NOINHERIT,
                    _S_IREAD | _S_IWRITE);
}

void WriteAll(int file, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const int n =
            ::_write(file, bytes.data() + done,
                     static_cast<unsigned>(std::min<size_t>(bytes.size() - done, 1 << 30)));
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

void CloseFile(int file) {
    ::_close(file);
}

void OnStopRequest(void (*onStop)(int)) {
    std::signal(SIGINT, onStop);
    std::signal(SIGTERM, onStop);
    std::signal(SIGBREAK, onStop);
}

const char* LastErrorText() {
    static char text[64];
    std::snprintf(text, sizeof text, "Winsock error %d", ::WSAGetLastError());
    return text;
}

std::tm LocalTime(std::time_t t) {
    std::tm tm{};
    ::localtime_s(&tm, &t);
    return tm;
}

std::string EncodeEuc(const std::string& utf8) {
    const std::wstring w = Wide(utf8);
    if (w.empty()) return {};
    constexpr UINT kEucJp = 20932;
    const int n = ::WideCharToMultiByte(kEucJp, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                        "?", nullptr);
    if (n <= 0) {
        // No converter on this system: keep ASCII, which is still "not Shift-JIS".
        std::string out;
        for (unsigned char c : utf8)
            if (c < 0x80)
                out += static_cast<char>(c);
            else if ((c & 0xC0) != 0x80)
                out += '?';
        return out;
    }
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(kEucJp, 0, w.data(), static_cast<int>(w.size()), out.data(), n, "?",
                          nullptr);
    return out;
}

}  // namespace mn128sim::sys
