// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt_event_loop.h"

#include <QCoreApplication>
#include <QDateTime>

namespace kv {

LocalTime SystemClock::Now() const {
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    return LocalTime{Date{d.year(), d.month(), d.day()},
                     TimeOfDay{t.hour(), t.minute(), t.second()}};
}

int32_t SystemClock::WallMsOfSecond() const {
    return QTime::currentTime().msec();
}

int32_t SystemClock::UtcOffsetNow() const {
    return QDateTime::currentDateTime().offsetFromUtc();
}

std::vector<int32_t> SystemClock::UtcOffsetsAt(const LocalTime& t) const {
    return ZoneOffsetsAt(t);
}

int64_t SystemClock::MonotonicMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QtTimer::QtTimer() {
    // A reply's attempt and the meter's second are counted to the millisecond, not within 5%.
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        if (tick_) tick_();
    });
}

// An interval of 0 (a missing setting) means the timer never fires, as on the original
// platform; it must not become a busy 1 ms timer.
void QtTimer::Apply() {
    if (enabled_ && interval_ > 0) {
        if (!timer_.isActive() || timer_.interval() != interval_) timer_.start(interval_);
    } else {
        timer_.stop();
    }
}

void QtTimer::SetInterval(int ms) {
    interval_ = ms;
    Apply();
}

void QtTimer::SetEnabled(bool on) {
    enabled_ = on;
    Apply();
}

}  // namespace kv
