// The per-tick supervision of an open call: meter, read-outs, automatic disconnection.
#include <string>

#include "accounting/accounting.h"
#include "app/trace.h"
#include "link/link.h"

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

void ShowRunningTotal(Context& cx) {
    if (!cx.ports.view) return;
    const int64_t running = cx.settings.dosuumode != 0 ? cx.totals.DayUnits : cx.totals.MonthUnits;
    cx.ports.view->SetLcdText(3, FormatYen(running * cx.settings.ctanni));
}

void Second_ck(Context& cx) {
    WriteTrace(cx, 4, "Second_ck-st");
    const LocalTime now = cx.ports.clock->Now();
    CallRecord& c = cx.call;

    const int32_t previous = c.LastTick;
    c.LastTick = NowSeconds(cx);
    if (cx.ports.pump) cx.ports.pump->PumpOnce();
    c.ElapsedSecs = c.LastTick - c.StartTick;
    c.NextUnitSecs -= c.LastTick - previous;

    // Every tick, not only those that begin a unit: the day and month shown change at 05:00
    // and at the start of a period also while a unit runs.
    RollTotals(cx, now);

    // One unit per tick at most: after a stall the countdown catches up over later ticks.
    if (c.NextUnitSecs < 1) {
        SetMode(cx, now.date, now.time);
        if (c.TariffMode < 3 || cx.settings.teleho == 0) {
            c.CallUnits += 1;
            cx.totals.DayUnits += 1;
            cx.totals.MonthUnits += 1;
        }
    }
    WriteTrace(cx, 4, "second_ck(1)");

    if (MainView* v = cx.ports.view) {
        v->SetLcdText(1, FormatHms(c.ElapsedSecs));
        v->SetLcdText(2, FormatYen(int64_t{c.CallUnits} * cx.settings.ctanni));
        ShowRunningTotal(cx);
        v->SetLcdText(5, FormatMs(c.NextUnitSecs));
        v->SetWindowCaption(FormatHms(c.ElapsedSecs));
    }

    if (c.NextUnitSecs <= cx.settings.atcutdly && cx.status.AutoCutArmed == 1)
        DisConnect(cx, cx.status.CurrentChannel());
    WriteTrace(cx, 4, "Second_ck-end");
}

void ToggleCutBreak(Context& cx) {
    MainView* v = cx.ports.view;
    if (!v) return;
    const bool checked = !v->MenuChecked(MenuItem::MainCutBrk);
    v->SetMenuChecked(MenuItem::MainCutBrk, checked);
    v->SetMenuChecked(MenuItem::TrayCutBrk, checked);
    v->SetLcdColour(0, kColourGreen);
    if (checked) {
        v->SetLcdColour(0, kColourYellow);
        cx.CutBreak = 1;
        cx.status.AutoCutArmed = 0;
    } else {
        v->SetLcdColour(0, kColourGreen);
        cx.CutBreak = 0;
    }
}

}  // namespace kv
