// The per-tick supervision of an open call: meter, read-outs, automatic disconnection.
#include <string>

#include "accounting/call_meter.h"

namespace kv {

std::string FormatMs(int32_t seconds) {
    const int64_t h = seconds / 3600;
    const int64_t m = (seconds - 3600 * h) / 60;
    const int64_t s = seconds - 3600 * h - 60 * m;
    const int64_t n = 100 * m + s;  // whole hours are dropped
    std::string digits = std::to_string(n < 0 ? -n : n);
    if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
    const std::string out =
        digits.substr(0, digits.size() - 2) + ":" + digits.substr(digits.size() - 2);
    return n < 0 ? "-" + out : out;
}

std::string FormatYen(int64_t amount) {
    return amount == 0 ? std::string("\\") : "\\" + std::to_string(amount);
}

void CallMeter::ShowRunningTotal() {
    const int64_t running = settings_.dosuumode != 0 ? totals_.DayUnits : totals_.MonthUnits;
    ports_.view.SetLcdText(3, FormatYen(running * settings_.ctanni));
}

void CallMeter::Second_ck() {
    trace_.Step("Second_ck-st");
    const LocalTime now = ports_.clock.Now();
    CallRecord& c = call_;
    const uint64_t serial = callSerial_;
    struct Flag {
        bool& on;
        explicit Flag(bool& f) : on(f) { on = true; }
        ~Flag() { on = false; }
    } supervising(supervising_);
    // Events run in the pumps below: a poll can close the call meanwhile. A call no longer
    // metered gets no unit, no read-out and no cut from this check.
    auto ended = [&] {
        if (Metering(serial)) return false;
        trace_.Step("Second_ck-end");
        return true;
    };

    const int32_t previous = c.LastTick;
    c.LastTick = NowSeconds();
    ports_.pump.PumpOnce();
    if (ended()) return;
    c.ElapsedSecs = c.LastTick - c.StartTick;
    c.NextUnitSecs -= c.LastTick - previous;

    // Every tick, not only those that begin a unit: the day and month shown change at 05:00
    // and at the start of a period also while a unit runs.
    RollTotals(now);

    // Every unit that has begun is charged, also after a stall: the first by the time of this
    // tick, those behind it by the time each began.
    for (bool first = true; c.NextUnitSecs < 1; first = false) {
        const LocalTime began = first ? now : WallAt(c.LastTick + c.NextUnitSecs);
        const int32_t before = c.NextUnitSecs;
        const TariffMode mode = SetMode(began.date, began.time);
        if (ended()) return;
        Charge(mode);
        if (c.NextUnitSecs <= before) break;  // a unit length of 0 would never end
    }
    trace_.Step("second_ck(1)");

    MainView& v = ports_.view;
    v.SetLcdText(1, FormatHms(c.ElapsedSecs));
    v.SetLcdText(2, FormatYen(int64_t{c.CallUnits} * settings_.ctanni));
    ShowRunningTotal();
    v.SetLcdText(5, FormatMs(c.NextUnitSecs));
    v.SetWindowCaption(FormatHms(c.ElapsedSecs));

    if (c.NextUnitSecs <= settings_.atcutdly && line_.AutoCutArmed())
        line_.HangUp(line_.CurrentChannel());
    trace_.Step("Second_ck-end");
}

}  // namespace kv
