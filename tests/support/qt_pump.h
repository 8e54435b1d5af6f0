// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Waiting on Qt's real event loop in tests against real sockets and timers: the program never
// waits, a test does until what it expects has happened.
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>

#include "support/fakes.h"

namespace kv::test {

class QtEventPump : public EventPump {
  public:
    explicit QtEventPump(const Clock& clock) : clock_(clock) {}
    void PumpOnce() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }
    bool WaitUntil(const std::function<bool()>& done, int64_t deadlineMs) override {
        // Blocks in the event loop (no spinning); a single-shot timer wakes it at the deadline.
        QTimer wake;
        wake.setSingleShot(true);
        wake.setTimerType(Qt::PreciseTimer);
        QObject::connect(&wake, &QTimer::timeout, [] {});
        PumpOnce();
        while (!done()) {
            const int64_t left = deadlineMs - clock_.MonotonicMs();
            if (left <= 0) break;
            wake.start(static_cast<int>(std::min<int64_t>(left, 1 << 30)));
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return done();
    }

  private:
    const Clock& clock_;
};

}  // namespace kv::test
