// SPDX-License-Identifier: GPL-3.0-or-later
// The meter where users found it wrong: a unit due at a band change or at the end's own
// second, whatever the phase of the ticks; summer time beginning or ending under a call; the
// live totals against the rebuild across a period's first midnight and across 05:00; which
// accounting day a totals file was written in.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "accounting/totals_check.h"
#include "accounting/totals_file.h"
#include "call_rig.h"

namespace kv::test {
namespace {

// Where in the wall clock's second the ticks fall, and where the program's clock started.
constexpr int64_t kTickPhases[] = {0, 1, 250, 500, 999};
constexpr int64_t kStartPhases[] = {0, 300, 700};

void UnitsOf(Settings& s, int32_t a, int32_t b, int32_t c) {
    s.seca = a;
    s.secb = b;
    s.secc = c;
    s.teleho = 0;
    s.telstday = 1;
}

// The process's zone for one test.
class ZoneScope {
  public:
    explicit ZoneScope(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneScope() {
        if (old_)
            setenv("TZ", old_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    std::optional<std::string> old_;
};

int64_t UtcSecs(const Date& d, const TimeOfDay& t) {
    return (int64_t{DateToSerial(d)} - DateToSerial(Date{1970, 1, 1})) * 86400 + t.Seconds();
}

// Units are the unit boundaries at or below the logged duration, from the router's connect
// second, each unit as long as the band at its own start makes it.
TEST(Edges, EveryUnitBeginsAtItsSecond) {
    struct Case {
        const char* name;
        TimeOfDay seen;
        int ago;   // the router's connect time, seconds before the call was seen
        int secs;  // the call's length
        int units;
    };
    // Band A units of 10 s until 19:00, band B units of 30 s after.
    const Case cases[] = {
        {"a day unit at 18:59:59, the next at 19:00:09", {18, 59, 29}, 0, 45, 5},
        {"the unit due at the end's second", {10, 0, 0}, 0, 30, 4},
        {"a second short of it", {10, 0, 0}, 0, 29, 3},
        {"seen seven seconds after the connect", {10, 0, 7}, 7, 30, 4},
        {"seen after two units had begun", {18, 59, 52}, 23, 45, 5},
    };
    // The program's clock starts, the ticks fall, the poll sees the call and the call ends,
    // each at its own phase of the wall clock's second.
    for (const Case& c : cases) {
        for (const int64_t start : kStartPhases) {
            for (const int64_t tick : kTickPhases) {
                for (const int64_t seen : {0, 600}) {
                    for (const int64_t end : {0, 999}) {
                        SCOPED_TRACE(std::string(c.name) + "; phases: start " +
                                     std::to_string(start) + ", tick " + std::to_string(tick) +
                                     ", seen " + std::to_string(seen) + ", end " +
                                     std::to_string(end));
                        CallRig rig({Date{2026, 12, 7}, c.seen});
                        UnitsOf(rig.cx.settings, 10, 30, 60);
                        rig.cx.settings.atcutmode = 0;
                        // The wall clock's second `seen - 2` begins at 0 ms.
                        rig.loop.SetWallClock(
                            {Date{2026, 12, 7}, TimeOfDay::FromSeconds(c.seen.Seconds() - 2)});
                        rig.loop.Advance(start);
                        rig.cx.meter.StartClock(rig.loop.Now());
                        rig.loop.Advance(1000 + tick - start);
                        rig.tmrDSP->SetEnabled(true);
                        rig.loop.Advance(1000 + seen - tick);
                        rig.OpenAgo(1, c.ago);
                        rig.loop.Advance(int64_t{c.secs - c.ago} * 1000 + end - seen);
                        rig.Close(1);
                        EXPECT_EQ(rig.cx.meter.Call().CallSecs, c.secs);
                        EXPECT_EQ(rig.cx.meter.Call().LoggedUnits, c.units);
                        EXPECT_EQ(rig.cx.meter.Totals().MonthUnits, c.units);
                    }
                }
            }
        }
    }
}

// A call up across a change of summer time: its length is the time that passed, never
// negative, and the rebuild from the log agrees with the totals written.
TEST(Edges, SummerTimeChangingUnderACall) {
    struct Case {
        const char* name;
        int64_t seenUtc;
        const char* routerConnect;  // local time, as the router prints it
    };
    const Case cases[] = {
        // 03:00 CEST becomes 02:00 CET: up since 02:59:55 CEST, seen at 02:00:01 CET.
        {"autumn", UtcSecs({2026, 10, 25}, {1, 0, 1}), "2026/10/25 02:59:55"},
        // 02:00 CET becomes 03:00 CEST: up since 01:59:55 CET, seen at 03:00:01 CEST.
        {"spring", UtcSecs({2026, 3, 29}, {1, 0, 1}), "2026/03/29 01:59:55"},
    };
    const ZoneScope zone("Europe/Berlin");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CallRig rig;
        UnitsOf(rig.cx.settings, 5, 5, 5);
        rig.cx.settings.atcutmode = 0;
        rig.loop.FollowZone(c.seenUtc);
        rig.cx.meter.StartClock(rig.loop.Now());
        rig.Open(1, c.routerConnect);
        rig.AdvanceSecs(25);
        rig.Close(1);
        const CallRecord& call = rig.cx.meter.Call();
        EXPECT_NEAR(call.CallSecs, 31, 1);
        EXPECT_EQ(call.LoggedUnits, call.CallSecs / 5 + 1);
        const TotalsCheck check = CheckTotals(rig.cx.meter.LogPath(), rig.cx.meter.DataPath(),
                                              rig.cx.settings, rig.loop.Now());
        EXPECT_TRUE(check.Agrees()) << FormatTotalsCheck(check, "log", "dat");
    }
}

// Each unit in the day and period in which it began, as the rebuild counts them, so a file
// the meter wrote always passes the check.
TEST(Edges, TheLiveTotalsAgreeWithTheRebuild) {
    struct Case {
        const char* name;
        LocalTime seen;
        int secs;
    };
    const Case cases[] = {
        {"into the first of a period", {{2026, 11, 30}, {23, 59, 54}}, 40},
        {"across 05:00", {{2026, 12, 7}, {4, 59, 50}}, 40},
        {"into a new year", {{2026, 12, 31}, {23, 59, 57}}, 20},
    };
    for (const Case& c : cases) {
        for (const int64_t tick : kTickPhases) {
            SCOPED_TRACE(std::string(c.name) + ", ticks at +" + std::to_string(tick) + " ms");
            CallRig rig(c.seen);
            UnitsOf(rig.cx.settings, 5, 5, 5);
            rig.cx.settings.atcutmode = 0;
            rig.loop.Advance(tick);
            rig.OpenAgo(1, 0);
            rig.loop.Advance(int64_t{c.secs} * 1000);
            rig.Close(1);
            const TotalsCheck check = CheckTotals(rig.cx.meter.LogPath(), rig.cx.meter.DataPath(),
                                                  rig.cx.settings, rig.loop.Now());
            EXPECT_TRUE(check.Agrees()) << FormatTotalsCheck(check, "log", "dat");
            EXPECT_EQ(check.fromLog.month + check.fromLog.previous, c.secs / 5 + 1);
        }
    }
}

// The day number alone repeats every month; with the period marker it names one accounting
// day (from 05:00 to 05:00), day 0 being the last of the month before.
TEST(Edges, TheAccountingDayOfATotalsFile) {
    struct Case {
        const char* name;
        int fileDay;
        Date marker;
        int16_t telstday;
        LocalTime now;
        bool same;
    };
    const Case cases[] = {
        {"written on the 1st at 03:00, read at 04:59",
         0,
         {2026, 11, 30},
         1,
         {{2026, 12, 1}, {4, 59, 0}},
         true},
        {"the same, read on the 31st", 0, {2026, 11, 30}, 1, {{2026, 12, 31}, {6, 0, 0}}, false},
        {"the same, read on the 30th of a 30-day month",
         0,
         {2026, 10, 31},
         1,
         {{2026, 11, 30}, {6, 0, 0}},
         false},
        {"the last day, read before 05:00 on the 1st",
         30,
         {2026, 10, 31},
         1,
         {{2026, 12, 1}, {2, 0, 0}},
         true},
        {"the same day number a period before",
         30,
         {2026, 9, 30},
         1,
         {{2026, 12, 1}, {2, 0, 0}},
         false},
        {"29 February 2028", 29, {2028, 1, 31}, 1, {{2028, 3, 1}, {4, 0, 0}}, true},
        {"no 29 February in 2100", 29, {2100, 1, 31}, 1, {{2100, 3, 1}, {4, 0, 0}}, false},
        {"28 February is the last in 2100", 28, {2100, 1, 31}, 1, {{2100, 3, 1}, {4, 0, 0}}, true},
        {"29 February 2000", 29, {2000, 1, 31}, 1, {{2000, 3, 1}, {4, 0, 0}}, true},
        {"a period from the 15th, its first morning",
         14,
         {2026, 11, 14},
         15,
         {{2026, 11, 15}, {4, 0, 0}},
         true},
        {"a file without a marker", 7, Date{}, 1, {{2026, 12, 7}, {12, 0, 0}}, true},
        {"yesterday", 6, {2026, 11, 30}, 1, {{2026, 12, 7}, {12, 0, 0}}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(totals::SameAccountingDay(c.fileDay, c.marker, c.telstday, c.now), c.same)
            << c.name;
    }
}

}  // namespace
}  // namespace kv::test
