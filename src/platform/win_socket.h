// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The router console's TCP socket on Winsock, without the event loop: the Windows
// SocketTransport watches the handle for reads. Errors are Winsock's own numbers, the ones the
// error tables know (10035 would block, 10060 timed out, 10061 refused, ...).
#include <cstdint>
#include <functional>
#include <string>

namespace kv::winsock {

using Socket = uintptr_t;  // SOCKET
inline constexpr Socket kNoSocket = ~Socket{0};
inline constexpr int kNotSocket = 10038;
inline constexpr int kTimedOut = 10060;

// A TCP socket that programs started later do not inherit, or kNoSocket with error set.
Socket Open(int& error);
// Connects to a dotted IPv4 address within timeoutMs (10060 past it); whileWaiting runs every
// few tens of milliseconds meanwhile, so the window stays alive. The socket is non-blocking
// afterwards. 0, or the error.
int Connect(Socket s, const std::string& ipv4, uint16_t port, int timeoutMs,
            const std::function<void()>& whileWaiting);
// Bytes sent or read (0: the peer closed), or -1 with error set.
int Send(Socket s, const char* data, int len, int& error);
int Recv(Socket s, char* buffer, int len, int& error);
void Close(Socket s);

}  // namespace kv::winsock
