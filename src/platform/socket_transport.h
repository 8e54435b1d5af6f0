// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The router console transport on a plain TCP socket: blocking connect, then non-blocking
// reads announced by a socket notifier on the user-interface thread.
#include <QPointer>
#include <QSocketNotifier>
#include <functional>
#include <memory>

#include "common/ports.h"

namespace kv {

class SocketTransport : public ConsoleTransport {
  public:
    // connectTimeoutMs bounds the blocking connect; running out is reported as 10060.
    explicit SocketTransport(int connectTimeoutMs = 30000);
    ~SocketTransport() override;
    SocketTransport(const SocketTransport&) = delete;
    SocketTransport& operator=(const SocketTransport&) = delete;

    int Create() override;
    // address: a dotted IPv4 address, an IPv6 address or a host name (POSIX; Windows takes the
    // dotted address only). A name that cannot be found is 11001 (WSAHOST_NOT_FOUND).
    int Connect(const std::string& address, uint16_t port) override;
    int Send(const char* data, int len) override;
    int Recv(char* buffer, int len) override;
    void Close() override;
    int LastError() const override { return lastError_; }
    void SetNotifications(bool readEvents) override;
    void SetNotifyHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

    // errno to the WinSock number the error tables know.
    static int WinsockCode(int err);

  private:
    // The system's side, in the POSIX or the Windows file.
    void CloseNative();
    // The Qt side, shared: read events announced on the user-interface thread.
    void WatchReads(qintptr socket);
    void OnActivated();

#ifndef _WIN32
    int ConnectTo(const void* address, unsigned length);  // a sockaddr
    int family_ = 2;  // AF_INET until an address of another family is connected to
#endif
    int fd_ = -1;
    int lastError_ = 0;
    int connectTimeoutMs_;
    bool readEvents_ = false;
    std::unique_ptr<QSocketNotifier> notifier_;
    // A notifier closed from inside its own signal cannot be deleted there; it goes later.
    QPointer<QSocketNotifier> retired_;
    bool dispatching_ = false;
    std::function<void()> handler_;
};

}  // namespace kv
