#pragma once
// SIGTERM and SIGINT end the program the way "終了" does, so the totals are kept and the trace
// ends with "query". The signal handler only writes to a pipe; the shutdown itself runs on the
// user-interface thread when the pipe becomes readable.
#include <functional>
#include <memory>

class QSocketNotifier;

namespace kv {

class ShutdownSignals {
  public:
    explicit ShutdownSignals(std::function<void()> onShutdown);
    ~ShutdownSignals();
    ShutdownSignals(const ShutdownSignals&) = delete;
    ShutdownSignals& operator=(const ShutdownSignals&) = delete;
    bool Installed() const { return notifier_ != nullptr; }

  private:
    std::function<void()> onShutdown_;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool running_ = false;
};

}  // namespace kv
