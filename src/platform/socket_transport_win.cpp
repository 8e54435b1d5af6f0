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

SocketTransport::SocketTransport(int connectTimeoutMs) : connectTimeoutMs_(connectTimeoutMs) {}

SocketTransport::~SocketTransport() {
    Close();
    delete retired_.data();
}

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
    notifier_ = std::make_unique<QSocketNotifier>(static_cast<qintptr>(fd_), QSocketNotifier::Read);
    notifier_->setEnabled(false);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { OnActivated(); });
    return 0;
}

void SocketTransport::OnActivated() {
    if (!handler_) return;
    dispatching_ = true;
    handler_();
    dispatching_ = false;
}

int SocketTransport::Send(const char* data, int len) {
    return winsock::Send(Native(fd_), data, len, lastError_);
}

int SocketTransport::Recv(char* buffer, int len) {
    return winsock::Recv(Native(fd_), buffer, len, lastError_);
}

void SocketTransport::Close() {
    // The notifier must go before its socket does.
    if (notifier_) {
        notifier_->setEnabled(false);
        if (dispatching_) {
            delete retired_.data();
            retired_ = notifier_.release();
            retired_->deleteLater();
        } else {
            notifier_.reset();
        }
    }
    if (fd_ >= 0) {
        winsock::Close(Native(fd_));
        fd_ = -1;
    }
    readEvents_ = false;
    lastError_ = 0;
}

// A closing peer makes the socket readable too, so with read events off a close is seen at
// the next read, which the handler that switched them off is about to do.
void SocketTransport::SetNotifications(bool readEvents) {
    readEvents_ = readEvents;
    if (notifier_) notifier_->setEnabled(readEvents);
}

}  // namespace kv
