// SPDX-License-Identifier: GPL-3.0-or-later
// A week of calls on the simulated clock, with program restarts, month ends and holidays. The
// log and the totals are checked against figures worked out here from the calls themselves:
// each unit is put into the accounting day and period in which it begins.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <sstream>
#include <vector>

#include "accounting/totals_check.h"
#include "call_rig.h"

namespace kv::test {
namespace {

struct Variant {
    int telstday;
    Date start;
    int teleho;
    std::string holidays;
    unsigned seed;
};

void PrintTo(const Variant& v, std::ostream* os) {
    *os << "telstday " << v.telstday << " from " << FormatDate(v.start) << " teleho " << v.teleho;
}

struct Stamp {
    int32_t serial;
    int32_t secs;  // of the day
};

Stamp At(const LocalTime& t) {
    return {DateToSerial(t.date), t.time.Seconds()};
}
Stamp Plus(Stamp s, int32_t secs) {
    int64_t total = static_cast<int64_t>(s.serial) * 86400 + s.secs + secs;
    return {static_cast<int32_t>(total / 86400), static_cast<int32_t>(total % 86400)};
}
std::string DateText(const Stamp& s) {
    return FormatDate(SerialToDate(s.serial));
}
std::string TimeText(const Stamp& s) {
    return FormatTime(TimeOfDay::FromSeconds(s.secs));
}

// The tariff as a table of rules, worked out independently of the program's code.
struct Tariff {
    const Variant& v;
    std::set<int> holidays;  // month * 100 + day

    bool Holiday(int32_t serial) const {
        const Date d = SerialToDate(serial);
        const int dow = ((serial % 7) + 7) % 7;  // serial 0 was a Saturday, 1 a Sunday
        return dow == 0 || dow == 1 || holidays.count(d.month * 100 + d.day) != 0;
    }
    // unit length, and whether the unit is charged
    std::pair<int32_t, bool> Unit(Stamp s) const {
        const int h = s.secs / 3600;
        if (h < 8 || h >= 23) return {240, v.teleho == 0};
        if (Holiday(s.serial) || h >= 19) return {120, true};
        return {180, true};
    }
    // Seconds after the connect instant c at which the units of a call seen d seconds later and
    // lasting secs seconds begin (the first when the call is seen), and whether each is charged.
    std::vector<std::pair<int32_t, bool>> Units(Stamp c, int d, int32_t secs) const {
        std::vector<std::pair<int32_t, bool>> units;
        for (int32_t begin = 0; begin <= secs;) {
            const int32_t at = begin == 0 ? d : begin;
            const auto [length, charged] = Unit(Plus(c, at));
            units.emplace_back(at, charged);
            begin += length;
        }
        return units;
    }
};

// The accounting day starts at 05:00; the period on day telstday of the month.
int DayNumber(const Stamp& s) {
    return SerialToDate(s.serial).day - (s.secs < 5 * 3600 ? 1 : 0);
}
int32_t PeriodMarker(int telstday, int32_t serial) {
    Date d = SerialToDate(serial);
    for (int back = 0; back < 3; ++back) {
        const int32_t first = DateToSerial(Date{d.year, d.month, 1});
        if (first + telstday - 1 <= serial) return first + telstday - 2;
        d = SerialToDate(first - 1);
    }
    return 0;
}

struct Model {
    int telstday;
    int32_t month = 0, day = 0, prev = 0, marker = 0, dayOf = 0;
    bool file = false;
    int periodRolls = 0, dayRollsRunning = 0, dayResetsAtStart = 0;
    int32_t fMonth = 0, fDayNumber = 0, fDay = 0, fMarker = 0, fPrev = 0;

    static int32_t AccountingDay(const Stamp& s) { return s.serial - (s.secs < 5 * 3600 ? 1 : 0); }
    // What the running program must have done by `now`.
    void Check(const Stamp& now) {
        if (dayOf != AccountingDay(now)) {
            dayRollsRunning += day != 0 ? 1 : 0;
            day = 0;
            dayOf = AccountingDay(now);
        }
        const int32_t current = PeriodMarker(telstday, now.serial);
        if (marker < current) {
            ++periodRolls;
            prev = month;
            month = 0;
            marker = current;
        }
    }
    void UnitBegins(const Stamp& at, bool charged) {
        Check(at);
        month += charged ? 1 : 0;
        day += charged ? 1 : 0;
    }
    void Start(const Stamp& now) {
        month = day = prev = 0;
        if (!file) {
            marker = PeriodMarker(telstday, now.serial);
        } else {
            month = fMonth;
            day = DayNumber(now) == fDayNumber ? fDay : 0;
            dayResetsAtStart += DayNumber(now) != fDayNumber && fDay != 0 ? 1 : 0;
            marker = fMarker;
            prev = fPrev;
        }
        dayOf = AccountingDay(now);
        Check(now);
    }
    void CallEnded(const Stamp& end) {
        Check(end);
        file = true;
        fMonth = month;
        fDayNumber = DayNumber(end);
        fDay = day;
        fMarker = marker;
        fPrev = prev;
    }
    std::string FileLine() const {
        return std::to_string(fMonth) + "," + std::to_string(fDayNumber) + "," +
               std::to_string(fDay) + ",\"" + FormatDate(SerialToDate(fMarker)) + "\"," +
               std::to_string(fPrev) + "\r\n";
    }
};

std::vector<std::string> Fields(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> out;
    std::stringstream ss(line);
    std::string f;
    while (std::getline(ss, f, ',')) {
        if (f.size() >= 2 && f.front() == '"') f = f.substr(1, f.size() - 2);
        out.push_back(f);
    }
    return out;
}

class LongRun : public ::testing::TestWithParam<Variant> {};

TEST_P(LongRun, AWeekOfCallsAgreesWithTheLog) {
    const Variant& v = GetParam();
    CallRig rig({v.start, TimeOfDay{6, 0, 0}});
    Settings& s = rig.cx.settings;
    s.seca = 180;
    s.secb = 120;
    s.secc = 240;
    s.telstday = static_cast<int16_t>(v.telstday);
    s.teleho = static_cast<int16_t>(v.teleho);
    s.sohoint = s.soho2int = 30000;
    s.HolidayTable = SplitHolidays(v.holidays);
    Tariff tariff{v, {}};
    for (int i = 0; i < kHolidayEntries; ++i)
        if (auto md = ParseHolidayEntry(s.HolidayTable[i]))
            tariff.holidays.insert(md->first * 100 + md->second);

    Model model{v.telstday};
    auto restart = [&] {
        rig.cx.meter.TotalsForTest() = ChargeTotals{};
        rig.cx.meter.DatFileIO(DatFileMode::Read);
        model.Start(At(rig.loop.Now()));
    };
    restart();

    struct Call {
        Stamp connect;
        int delay;
        int32_t secs;
        int32_t units;
    };
    std::vector<Call> calls;
    std::mt19937 rng(v.seed);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const int32_t endSerial = DateToSerial(v.start) + 7;
    int restarts = 0;
    while (At(rig.loop.Now()).serial < endSerial) {
        // Now and then the computer is off for the night: the program starts again later.
        const bool off = uniform(0, 4) == 0;
        const int gap = off ? uniform(8 * 3600, 20 * 3600) : uniform(60, 4 * 3600);
        if (off || uniform(0, 3) == 0) {
            const int before = uniform(0, gap);
            rig.AdvanceSecs(before);
            restart();
            ++restarts;
            rig.AdvanceSecs(gap - before);
        } else {
            rig.AdvanceSecs(gap);
        }
        Call call;
        call.connect = At(rig.loop.Now());
        call.delay = uniform(0, 10);
        call.secs = uniform(0, 3) == 0 ? uniform(1800, 5 * 3600) : uniform(11, 1800);
        const auto units = tariff.Units(call.connect, call.delay, call.secs);
        call.units = 0;
        for (const auto& unit : units) call.units += unit.second ? 1 : 0;
        // Stop at every unit and at every 05:00 and midnight while the call runs: the totals
        // shown must be right at each of them, not only when the call ends.
        std::map<int32_t, int> stops;  // offset from connect -> index of the unit, or -1
        for (int32_t at = call.delay + 1; at <= call.secs; ++at) {
            const int32_t secs = Plus(call.connect, at).secs;
            if (secs == 0 || secs == 5 * 3600) stops[at] = -1;
        }
        for (size_t i = 1; i < units.size(); ++i) stops[units[i].first] = static_cast<int>(i);
        const std::string when = DateText(call.connect) + " " + TimeText(call.connect);
        auto agree = [&](const std::string& where) {
            const ChargeTotals& t = rig.cx.meter.Totals();
            EXPECT_EQ(t.MonthUnits, model.month) << where;
            EXPECT_EQ(t.DayUnits, model.day) << where;
            EXPECT_EQ(t.PrevMonthUnits, model.prev) << where;
            return t.MonthUnits == model.month && t.DayUnits == model.day &&
                   t.PrevMonthUnits == model.prev;
        };

        rig.AdvanceSecs(call.delay);
        rig.Open(1, when);
        model.UnitBegins(Plus(call.connect, call.delay), units[0].second);
        ASSERT_TRUE(agree("call of " + when + " seen"));
        int32_t at = call.delay;
        for (const auto& [stop, unit] : stops) {
            rig.AdvanceSecs(stop - at);
            at = stop;
            const Stamp now = Plus(call.connect, at);
            if (unit >= 0) {
                model.UnitBegins(now, units[static_cast<size_t>(unit)].second);
            } else {
                model.Check(now);
            }
            ASSERT_TRUE(agree("call of " + when + " at " + DateText(now) + " " + TimeText(now)));
        }
        rig.AdvanceSecs(call.secs - at);
        rig.Close(1);
        ASSERT_EQ(rig.cx.meter.Call().CallSecs, call.secs);
        ASSERT_EQ(rig.cx.meter.Call().LoggedUnits, call.units) << when;
        model.CallEnded(Plus(call.connect, call.secs));
        calls.push_back(call);
        ASSERT_TRUE(agree("end of the call of " + when));
    }
    restart();
    EXPECT_GE(calls.size(), 15u);
    EXPECT_GT(restarts, 5);
    EXPECT_GE(model.periodRolls, 1);       // the week crosses the start of a period
    EXPECT_GE(model.dayResetsAtStart, 1);  // a start on a later accounting day
    EXPECT_GE(model.dayRollsRunning, 1);   // and 05:00 passes while the program runs

    // the log: three lines per call, in order, with the figures of the call
    std::stringstream log(rig.ReadDataFile("Kestrovan.log"));
    std::string line;
    size_t n = 0;
    for (const Call& c : calls) {
        const Stamp end = Plus(c.connect, c.secs);
        const std::string adjust = std::to_string(-c.delay);
        ASSERT_TRUE(std::getline(log, line));
        EXPECT_EQ(Fields(line), (std::vector<std::string>{"Connect", DateText(c.connect),
                                                          TimeText(c.connect), adjust, "0"}));
        ASSERT_TRUE(std::getline(log, line));
        ASSERT_TRUE(std::getline(log, line));
        EXPECT_EQ(Fields(line), (std::vector<std::string>{
                                    "Tel", DateText(c.connect), TimeText(c.connect), DateText(end),
                                    TimeText(end), FormatHms(c.secs), std::to_string(c.secs),
                                    std::to_string(c.units), adjust, "0"}))
            << "call " << n;
        ++n;
    }
    EXPECT_FALSE(std::getline(log, line));

    EXPECT_EQ(rig.ReadDataFile("Kestrovan.dat"), model.FileLine());
    EXPECT_EQ(rig.cx.meter.Totals().MonthUnits, model.month);
    EXPECT_EQ(rig.cx.meter.Totals().DayUnits, model.day);
    EXPECT_EQ(rig.cx.meter.Totals().PrevMonthUnits, model.prev);
    EXPECT_EQ(DateToSerial(rig.cx.meter.Totals().PeriodMarker), model.marker);

    // The totals rebuilt from the log agree with the file the week left; a corrupted file is
    // put right from the log, the old one kept.
    const std::string logPath = rig.dir + "/Kestrovan.log", dat = rig.dir + "/Kestrovan.dat";
    const TotalsCheck check = CheckTotals(logPath, dat, s, rig.loop.Now());
    EXPECT_TRUE(check.Agrees()) << FormatTotalsCheck(check, logPath, dat);
    const std::string good = rig.ReadDataFile("Kestrovan.dat");
    rig.WriteDataFile("Kestrovan.dat", "999,3,77,\"2026/01/31\",5\r\n");
    const TotalsCheck broken = CheckTotals(logPath, dat, s, rig.loop.Now());
    EXPECT_FALSE(broken.Agrees());
    std::string kept;
    ASSERT_TRUE(RepairTotals(broken, dat, rig.loop.Now(), &kept));
    EXPECT_EQ(rig.ReadDataFile("Kestrovan.dat"), good);
    EXPECT_EQ(rig.ReadDataFile(kept.substr(rig.dir.size() + 1)), "999,3,77,\"2026/01/31\",5\r\n");
}

INSTANTIATE_TEST_SUITE_P(MonthEnds, LongRun,
                         ::testing::Values(Variant{1, Date{2026, 11, 27}, 0, "12/ 1", 11u},
                                           Variant{15, Date{2026, 12, 11}, 1, "12/14", 22u},
                                           Variant{31, Date{2026, 12, 27}, 1, " 1/ 112/29", 33u}),
                         [](const ::testing::TestParamInfo<Variant>& param) {
                             return "telstday" + std::to_string(param.param.telstday);
                         });

}  // namespace
}  // namespace kv::test
