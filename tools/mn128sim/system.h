// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The few system calls the simulator makes, on POSIX (system_posix.cpp) or Windows
// (system_win.cpp): sockets, waiting on them, the control lines from standard input, the
// transcript file, the stop request, local time and EUC-JP.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace mn128sim::sys {

// Sockets are small non-negative numbers here (-1: none) on both systems.
bool StartNetwork();
// A listening TCP socket on the IPv4 address and port (0: any free one), or -1; the port
// actually bound in *bound.
int Listen(const std::string& address, uint16_t port, uint16_t* bound);
// A dotted IPv4 address, in host byte order.
bool ParseIpv4(const std::string& text, uint32_t* address);
// The next connection, non-blocking, without Nagle's delay, or -1; its address in *who.
int Accept(int listening, std::string* who);
void CloseSocket(int socket);

enum class IoResult { Done, WouldBlock, Closed, Failed };
// Bytes received or sent in *n when Done; Closed: the peer closed (receive only).
IoResult Receive(int socket, char* buffer, size_t size, size_t* n);
IoResult Send(int socket, const char* data, size_t size, size_t* n);

// Waiting: what to wait for on each socket, what happened.
struct Watch {
    int socket = -1;
    bool read = false, write = false;
    bool readable = false, writable = false;  // readable also on a close or an error
};
// Waits at most timeoutMs. False on a failure (not an interruption, which returns true).
bool Wait(Watch* watches, int count, int timeoutMs);

// Control lines arrive on this socket-like handle (standard input, or a socket fed from it).
int ControlInput();
// Bytes of standard input; 0 at its end.
IoResult ReadControl(char* buffer, size_t size, size_t* n);

// The transcript: created or emptied, appended to, or -1.
int OpenTranscript(const std::string& path);
void WriteAll(int file, const std::string& bytes);  // 1 is standard output
void CloseFile(int file);

// SIGTERM and SIGINT (Ctrl+C on Windows) call onStop.
void OnStopRequest(void (*onStop)(int));
const char* LastErrorText();

std::tm LocalTime(std::time_t t);
// EUC-JP, a character it lacks as '?'.
std::string EncodeEuc(const std::string& utf8);

}  // namespace mn128sim::sys
