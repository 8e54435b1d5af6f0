// SPDX-License-Identifier: GPL-3.0-or-later
// The console transport's Qt side, the same on every system: the notifier that announces
// reads, and closing it safely from inside its own signal. The system calls are in
// socket_transport_posix.cpp and socket_transport_win.cpp.
#include "platform/socket_transport.h"

namespace kv {

SocketTransport::SocketTransport(int connectTimeoutMs) : connectTimeoutMs_(connectTimeoutMs) {}

SocketTransport::~SocketTransport() {
    Close();
    delete retired_.data();
}

void SocketTransport::WatchReads(qintptr socket) {
    notifier_ = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Read);
    notifier_->setEnabled(false);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { OnActivated(); });
}

void SocketTransport::OnActivated() {
    if (!handler_) return;
    dispatching_ = true;
    handler_();
    dispatching_ = false;
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
        CloseNative();
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
