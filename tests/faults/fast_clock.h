// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A clock that runs a whole number of times faster than the real one, both its monotonic
// milliseconds and its wall time, so the 10-second reply attempts pass in a fraction of a
// second while the real socket and event loop do the waiting.
#include <QDateTime>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>

#include "common/ports.h"

namespace kv::test {

class FastClock : public Clock {
  public:
    explicit FastClock(int factor)
        : factor_(factor),
          start_(std::chrono::steady_clock::now()),
          wallStart_(QDateTime::currentDateTime()) {
        // The event pump sleeps until the deadline measured in real milliseconds; a short
        // heartbeat wakes it so a deadline on this clock is seen when it passes.
        heartbeat_.setInterval(5);
        QObject::connect(&heartbeat_, &QTimer::timeout, [] {});
        heartbeat_.start();
    }
    int64_t MonotonicMs() const override { return ElapsedMs() * factor_; }
    LocalTime Now() const override {
        const QDateTime now = wallStart_.addMSecs(ElapsedMs() * factor_);
        const QDate d = now.date();
        const QTime t = now.time();
        return LocalTime{Date{d.year(), d.month(), d.day()},
                         TimeOfDay{t.hour(), t.minute(), t.second()}};
    }

  private:
    int64_t ElapsedMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start_)
            .count();
    }
    int factor_;
    std::chrono::steady_clock::time_point start_;
    QDateTime wallStart_;
    QTimer heartbeat_;
};

// Timers on the same fast time: an interval of n ms on the clock passes in n / factor real ms.
class FastTimerFactory : public TimerFactory {
  public:
    explicit FastTimerFactory(int factor) : factor_(factor) {}
    std::unique_ptr<Timer> NewTimer() override { return std::make_unique<FastTimer>(factor_); }

  private:
    class FastTimer : public Timer {
      public:
        explicit FastTimer(int factor) : factor_(factor) {
            timer_.setTimerType(Qt::PreciseTimer);
            QObject::connect(&timer_, &QTimer::timeout, [this] {
                if (tick_) tick_();
            });
        }
        void SetInterval(int ms) override {
            interval_ = ms;
            Apply();
        }
        int Interval() const override { return interval_; }
        void SetEnabled(bool on) override {
            enabled_ = on;
            Apply();
        }
        bool Enabled() const override { return enabled_; }
        void SetHandler(std::function<void()> tick) override { tick_ = std::move(tick); }

      private:
        void Apply() {
            if (enabled_ && interval_ > 0)
                timer_.start(std::max(1, interval_ / factor_));
            else
                timer_.stop();
        }
        int factor_;
        QTimer timer_;
        std::function<void()> tick_;
        int interval_ = 0;
        bool enabled_ = false;
    };
    int factor_;
};

}  // namespace kv::test
