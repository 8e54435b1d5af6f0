// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A request to end from outside ends the program the way "終了" does, so the totals are kept
// and the trace ends with "query": on POSIX SIGTERM, SIGINT and SIGHUP, on Windows the
// console's Ctrl+C, Ctrl+Break and closing (the end of the session reaches a program with
// windows as Qt's commitDataRequest). The system's handler only passes the request on; the
// shutdown itself runs on the user-interface thread.
#include <functional>
#include <memory>

class QObject;

namespace kv {

class ShutdownSignals {
  public:
    explicit ShutdownSignals(std::function<void()> onShutdown);
    ~ShutdownSignals();
    ShutdownSignals(const ShutdownSignals&) = delete;
    ShutdownSignals& operator=(const ShutdownSignals&) = delete;
    bool Installed() const { return receiver_ != nullptr; }

  private:
    void Run() {
        // A second request during the shutdown's own waits must not start it again.
        if (running_) return;
        running_ = true;
        if (onShutdown_) onShutdown_();
        running_ = false;
    }

    std::function<void()> onShutdown_;
    // Lives on the user-interface thread; the requests are handed to it.
    std::unique_ptr<QObject> receiver_;
    bool running_ = false;
};

}  // namespace kv
