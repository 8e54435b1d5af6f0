// SPDX-License-Identifier: GPL-3.0-or-later
// The console's control events come on a thread the system makes for each, and the process is
// ended as soon as the handler returns from a close, log-off or shut-down event: the handler
// passes the request to the user-interface thread and, for those, waits until the shutdown has
// run. A program that has windows hears of log-off and shut-down through its windows instead
// (Qt's commitDataRequest, connected beside this); the console ones are taken all the same.
#include <QMetaObject>
#include <QObject>
#include <mutex>

#include "app/ui/shutdown_signals.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace kv {

namespace {

std::mutex g_mutex;
QObject* g_receiver = nullptr;    // under g_mutex; null while nobody takes requests
std::function<void()> g_request;  // under g_mutex; runs on the receiver's thread
// Set once a shutdown asked for here has run (or nothing will run it any more). Never closed:
// a handler may still be waiting on it while the program ends.
HANDLE g_done = nullptr;

BOOL WINAPI OnControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT: break;
        default: return FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_receiver) return FALSE;  // the system's default: the process ends
        QMetaObject::invokeMethod(g_receiver, g_request, Qt::QueuedConnection);
    }
    // The system ends the process after its own grace period in any case.
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) ::WaitForSingleObject(g_done, INFINITE);
    return TRUE;
}

}  // namespace

ShutdownSignals::ShutdownSignals(std::function<void()> onShutdown)
    : onShutdown_(std::move(onShutdown)) {
    if (!g_done) g_done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!g_done) return;
    auto receiver = std::make_unique<QObject>();
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_receiver = receiver.get();
        g_request = [this] {
            Run();
            ::SetEvent(g_done);
        };
    }
    if (!::SetConsoleCtrlHandler(OnControl, TRUE)) {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_receiver = nullptr;
        return;
    }
    receiver_ = std::move(receiver);
}

ShutdownSignals::~ShutdownSignals() {
    if (!receiver_) return;
    ::SetConsoleCtrlHandler(OnControl, FALSE);
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_receiver = nullptr;
        g_request = nullptr;
    }
    // A request still queued goes with the receiver; whoever waits for it need not any more.
    ::SetEvent(g_done);
}

}  // namespace kv
