// A week of calls on the simulated clock, with program restarts, month ends and holidays. The
// log and the totals are checked against figures worked out here from the calls themselves.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <sstream>
#include <vector>

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
    // Units of a call connected at c, seen d seconds later, lasting secs seconds.
    int32_t Units(Stamp c, int d, int32_t secs) const {
        int32_t units = 0;
        for (int32_t begin = 0; begin <= secs;) {
            const auto [length, charged] = Unit(Plus(c, begin == 0 ? d : begin));
            units += charged ? 1 : 0;
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
    int32_t month = 0, day = 0, prev = 0, marker = 0;
    bool file = false;
    int rolls = 0, dayResets = 0;
    int32_t fMonth = 0, fDayNumber = 0, fDay = 0, fMarker = 0, fPrev = 0;

    void Roll(const Stamp& now) {
        const int32_t current = PeriodMarker(telstday, now.serial);
        if (marker < current) {
            rolls += file ? 1 : 0;
            prev = month;
            month = 0;
            marker = current;
        }
    }
    void Start(const Stamp& now) {
        month = day = prev = 0;
        if (!file) {
            marker = PeriodMarker(telstday, now.serial);
        } else {
            month = fMonth;
            day = DayNumber(now) == fDayNumber ? fDay : 0;
            dayResets += DayNumber(now) != fDayNumber && fDay != 0 ? 1 : 0;
            marker = fMarker;
            prev = fPrev;
        }
        Roll(now);
    }
    void CallEnded(const Stamp& end, int32_t units) {
        month += units;
        day += units;
        file = true;
        fMonth = month;
        fDayNumber = DayNumber(end);
        fDay = day;
        fMarker = marker;
        fPrev = prev;
        Roll(end);
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
        rig.cx.totals = ChargeTotals{};
        DatFileIO(rig.cx, 1);
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
        call.units = tariff.Units(call.connect, call.delay, call.secs);
        rig.AdvanceSecs(call.delay);
        rig.Open(1, DateText(call.connect) + " " + TimeText(call.connect));
        rig.AdvanceSecs(call.secs - call.delay);
        rig.Close(1);
        ASSERT_EQ(rig.cx.call.CallSecs, call.secs);
        ASSERT_EQ(rig.cx.call.LoggedUnits, call.units)
            << DateText(call.connect) << " " << TimeText(call.connect);
        model.CallEnded(Plus(call.connect, call.secs), call.units);
        calls.push_back(call);
        ASSERT_EQ(rig.cx.totals.MonthUnits, model.month);
        ASSERT_EQ(rig.cx.totals.DayUnits, model.day);
        ASSERT_EQ(rig.cx.totals.PrevMonthUnits, model.prev);
    }
    restart();
    EXPECT_GE(calls.size(), 15u);
    EXPECT_GT(restarts, 5);
    EXPECT_GE(model.rolls, 1);      // the week crosses the start of a period
    EXPECT_GE(model.dayResets, 1);  // a start on a later accounting day

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
    EXPECT_EQ(rig.cx.totals.MonthUnits, model.month);
    EXPECT_EQ(rig.cx.totals.DayUnits, model.day);
    EXPECT_EQ(rig.cx.totals.PrevMonthUnits, model.prev);
    EXPECT_EQ(DateToSerial(rig.cx.totals.PeriodMarker), model.marker);
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
