// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Clock and timers on Qt's event loop (the user-interface thread).
#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

#include "common/ports.h"

namespace kv {

class SystemClock : public Clock {
  public:
    LocalTime Now() const override;
    int64_t MonotonicMs() const override;
    int32_t WallMsOfSecond() const override;
    int32_t UtcOffsetNow() const override;
    std::vector<int32_t> UtcOffsetsAt(const LocalTime& t) const override;
};

class QtTimer : public Timer {
  public:
    QtTimer();
    void SetInterval(int ms) override;
    int Interval() const override { return interval_; }
    void SetEnabled(bool on) override;
    bool Enabled() const override { return enabled_; }
    void SetHandler(std::function<void()> tick) override { tick_ = std::move(tick); }

  private:
    void Apply();
    QTimer timer_;
    std::function<void()> tick_;
    int interval_ = 0;
    bool enabled_ = false;
};

class QtTimerFactory : public TimerFactory {
  public:
    std::unique_ptr<Timer> NewTimer() override { return std::make_unique<QtTimer>(); }
};

}  // namespace kv
