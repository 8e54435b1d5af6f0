// SPDX-License-Identifier: GPL-3.0-or-later
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
    ports_.view.ShowFigure(MeterFigure::RunningTotal, FormatYen(running * settings_.ctanni));
}

void CallMeter::Second_ck() {
    CallRecord& c = call_;
    // Nothing to meter, or the router is away (its time is charged when it is back).
    if (suspended_ || (!c.ChConnected[1] && !c.ChConnected[2])) return;
    trace_.Step("Second_ck-st");
    // Every unit that has begun is charged, also after a stall, each at its own second.
    ChargeDueUnits(NowSeconds());
    // Every tick, not only those that begin a unit: the day and month shown change at 05:00
    // and at the start of a period also while a unit runs.
    RollTotals(ports_.clock.Now());
    trace_.Step("second_ck(1)");

    MeterView& v = ports_.view;
    v.ShowFigure(MeterFigure::CallTime, FormatHms(c.ElapsedSecs));
    v.ShowFigure(MeterFigure::CallCharge, FormatYen(int64_t{c.CallUnits} * settings_.ctanni));
    ShowRunningTotal();
    v.ShowFigure(MeterFigure::NextUnit, FormatMs(c.NextUnitSecs));
    v.ShowCaption(FormatHms(c.ElapsedSecs));

    if (c.NextUnitSecs <= settings_.atcutdly && line_.AutoCutArmed())
        line_.HangUp(line_.CurrentChannel());
    trace_.Step("Second_ck-end");
}

std::optional<int32_t> CallMeter::SecondsToCut() const {
    if (suspended_ || (!call_.ChConnected[1] && !call_.ChConnected[2])) return std::nullopt;
    // The countdown as of now, not as of the last tick.
    const int32_t next = call_.NextUnitSecs - (NowSeconds() - call_.LastTick);
    return next - settings_.atcutdly;
}

}  // namespace kv
