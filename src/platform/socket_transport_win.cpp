// SPDX-License-Identifier: GPL-3.0-or-later
// The console transport on Winsock (win_socket.cpp does the system calls). A socket handle
// fits in the header's int: the system keeps handles within 32 bits, and INVALID_SOCKET
// becomes -1.
#include <QCoreApplication>
#include <QEventLoop>

#include "platform/socket_transport.h"
#include "platform/win_socket.h"

namespace kv {

namespace {

winsock::Socket Native(int fd) {
    return static_cast<winsock::Socket>(static_cast<intptr_t>(fd));
}

}  // namespace

// The numbers are Winsock's already.
int SocketTransport::WinsockCode(int err) {
    return err;
}

int SocketTransport::Create() {
    if (fd_ >= 0) return fd_;
    const winsock::Socket s = winsock::Open(lastError_);
    if (s == winsock::kNoSocket) return -1;
    fd_ = static_cast<int>(static_cast<intptr_t>(s));
    return fd_;
}

int SocketTransport::Connect(const std::string& ipv4, uint16_t port) {
    if (fd_ < 0 && Create() < 0) return lastError_;
    // Events are handled between the waits, so the window stays alive while a router that
    // does not answer is tried.
    lastError_ = winsock::Connect(Native(fd_), ipv4, port, connectTimeoutMs_, [] {
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    });
    if (lastError_ != 0) return lastError_;
    WatchReads(static_cast<qintptr>(fd_));
    return 0;
}

int SocketTransport::Send(const char* data, int len) {
    return winsock::Send(Native(fd_), data, len, lastError_);
}

int SocketTransport::Recv(char* buffer, int len) {
    return winsock::Recv(Native(fd_), buffer, len, lastError_);
}

void SocketTransport::CloseNative() {
    winsock::Close(Native(fd_));
}

}  // namespace kv
