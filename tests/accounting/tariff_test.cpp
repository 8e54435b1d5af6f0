// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "accounting/tariff.h"
#include "call_rig.h"

namespace kv::test {
namespace {

// 2026-12-09 is a Wednesday, 12-12 a Saturday, 12-13 a Sunday.
const Date kWednesday{2026, 12, 9};
const Date kSaturday{2026, 12, 12};
const Date kSunday{2026, 12, 13};

constexpr TariffMode A = TariffMode::BandA, B = TariffMode::BandB, C = TariffMode::BandC,
                     Flat = TariffMode::FlatRate;

struct Case {
    Date date;
    TimeOfDay t;
    int teleho;
    TariffMode mode;
    int32_t length;
};

TEST(Tariff, BandBoundariesOnWeekdaysAndHolidays) {
    CallRig rig;
    rig.cx.settings.seca = 180;
    rig.cx.settings.secb = 120;
    rig.cx.settings.secc = 240;
    const Case cases[] = {
        {kWednesday, {0, 0, 0}, 0, C, 240},
        {kWednesday, {7, 59, 59}, 0, C, 240},
        {kWednesday, {8, 0, 0}, 0, A, 180},
        {kWednesday, {18, 59, 59}, 0, A, 180},
        {kWednesday, {19, 0, 0}, 0, B, 120},
        {kWednesday, {22, 59, 59}, 0, B, 120},
        {kWednesday, {23, 0, 0}, 0, C, 240},
        {kWednesday, {23, 59, 59}, 0, C, 240},
        {kSaturday, {7, 59, 59}, 0, C, 240},
        {kSaturday, {8, 0, 0}, 0, B, 120},
        {kSaturday, {18, 59, 59}, 0, B, 120},
        {kSunday, {8, 0, 0}, 0, B, 120},
        {kSunday, {23, 0, 0}, 0, C, 240},
        // flat-rate window: 23:00 up to 07:45:00 inclusive
        {kWednesday, {23, 0, 0}, 1, Flat, 240},
        {kWednesday, {2, 0, 0}, 1, Flat, 240},
        {kWednesday, {7, 45, 0}, 1, Flat, 240},
        {kWednesday, {7, 45, 1}, 1, C, 240},
        {kWednesday, {7, 59, 59}, 1, C, 240},
        {kWednesday, {8, 0, 0}, 1, A, 180},
        {kWednesday, {22, 59, 59}, 1, B, 120},
        {kSunday, {23, 30, 0}, 1, Flat, 240},
    };
    for (const Case& c : cases) {
        rig.cx.settings.teleho = static_cast<int16_t>(c.teleho);
        rig.cx.meter.CallForTest().NextUnitSecs = -5;
        const TariffMode mode = rig.cx.meter.SetMode(c.date, c.t);
        SCOPED_TRACE(FormatDate(c.date) + " " + FormatTime(c.t) + " teleho " +
                     std::to_string(c.teleho));
        EXPECT_EQ(mode, c.mode);
        EXPECT_EQ(rig.cx.meter.Call().TariffMode, c.mode);
        // added to the overrun, not assigned
        EXPECT_EQ(rig.cx.meter.Call().NextUnitSecs, c.length - 5);
    }
}

TEST(Tariff, HolidayTableEntries) {
    CallRig rig;
    Settings& s = rig.cx.settings;
    const Date wednesday3Nov{2027, 11, 3};
    ASSERT_EQ(Weekday(wednesday3Nov), 4);
    EXPECT_FALSE(IsHoliday(rig.cx.settings, wednesday3Nov));
    EXPECT_TRUE(IsHoliday(rig.cx.settings, kSaturday));
    EXPECT_TRUE(IsHoliday(rig.cx.settings, kSunday));

    s.HolidayTable = SplitHolidays(" 1/ 1     11/ 3");
    EXPECT_TRUE(IsHoliday(rig.cx.settings, wednesday3Nov));
    EXPECT_TRUE(IsHoliday(rig.cx.settings, Date{2026, 11, 3}));  // every year
    EXPECT_TRUE(IsHoliday(rig.cx.settings, Date{2026, 1, 1}));
    EXPECT_FALSE(IsHoliday(rig.cx.settings, kWednesday));
    EXPECT_EQ(rig.cx.meter.SetMode(wednesday3Nov, TimeOfDay{8, 0, 0}), TariffMode::BandB);
    EXPECT_EQ(rig.cx.meter.SetMode(wednesday3Nov, TimeOfDay{23, 0, 0}), TariffMode::BandC);
}

TEST(Tariff, UnreadableHolidayEntriesAreSkippedAndReportedOnce) {
    CallRig rig;
    rig.OpenTrace();
    rig.cx.settings.HolidayTable = SplitHolidays("13/ 1 2/30xx/yy12/ 9");
    // the good entry after the bad ones counts
    EXPECT_TRUE(IsHoliday(rig.cx.settings, kWednesday));
    EXPECT_FALSE(IsHoliday(rig.cx.settings, Date{2027, 3, 2}));
    rig.cx.meter.SetMode(kWednesday, TimeOfDay{10, 0, 0});
    rig.cx.meter.SetMode(kWednesday, TimeOfDay{10, 3, 0});
    rig.cx.settings.HolidayTable = SplitHolidays("99/99");
    rig.cx.meter.SetMode(kWednesday, TimeOfDay{10, 6, 0});
    const std::string trace = rig.ReadDataFile("Kestrovan.dbg");
    auto count = [&](const std::string& what) {
        size_t n = 0;
        for (size_t p = trace.find(what); p != std::string::npos; p = trace.find(what, p + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("holiday err:13/ 1"), 1u);
    EXPECT_EQ(count("holiday err: 2/30"), 1u);
    EXPECT_EQ(count("holiday err:xx/yy"), 1u);
    EXPECT_EQ(count("holiday err:99/99"), 1u);
    EXPECT_EQ(count("holiday err:12/ 9"), 0u);
}

// Weekday, 180 s units in both day bands: the unit begun at 18:58 is band A; the one that
// begins when it runs out at 19:01 is band B. The first unit follows the time the call was
// seen, its countdown the router's connect instant.
TEST(Tariff, UnitsAreChosenByTheTimeTheyBegin) {
    CallRig rig({kWednesday, TimeOfDay{18, 58, 0}});
    rig.cx.settings.secb = 180;
    rig.tmrSOHO->SetEnabled(false);
    rig.Open(1, "2026/12/09 18:58:00");
    EXPECT_EQ(rig.cx.meter.Call().TariffMode, TariffMode::BandA);
    EXPECT_EQ(rig.cx.meter.Call().CallUnits, 1);
    rig.AdvanceSecs(179);
    EXPECT_EQ(rig.cx.meter.Call().TariffMode, TariffMode::BandA);
    EXPECT_EQ(rig.cx.meter.Call().CallUnits, 1);
    rig.AdvanceSecs(1);
    EXPECT_EQ(FormatTime(rig.loop.Now().time), "19:01:00");
    EXPECT_EQ(rig.cx.meter.Call().TariffMode, TariffMode::BandB);
    EXPECT_EQ(rig.cx.meter.Call().CallUnits, 2);
    EXPECT_EQ(rig.cx.meter.Call().NextUnitSecs, 180);
}

TEST(Tariff, FlatRateUnitsAreNotCharged) {
    // 07:44 with the flat-rate service: first unit mode 9, free; the unit that begins at
    // 07:48 is band C outside the window: mode 3, still not charged; from 08:00 band A is.
    CallRig rig({kWednesday, TimeOfDay{7, 44, 0}});
    rig.cx.settings.teleho = 1;
    rig.Open(1, "2026/12/09 07:44:00");
    EXPECT_EQ(rig.cx.meter.Call().TariffMode, TariffMode::FlatRate);
    EXPECT_EQ(rig.cx.meter.Call().CallUnits, 0);
    EXPECT_EQ(rig.cx.meter.Totals().MonthUnits, 0);
    rig.AdvanceSecs(240);
    EXPECT_EQ(rig.cx.meter.Call().TariffMode, TariffMode::BandC);
    EXPECT_EQ(rig.cx.meter.Call().CallUnits, 0);
    rig.AdvanceSecs(720);  // units begin at 07:52, 07:56, 08:00
    EXPECT_EQ(rig.cx.meter.Call().TariffMode, TariffMode::BandA);
    EXPECT_EQ(rig.cx.meter.Call().CallUnits, 1);
    EXPECT_EQ(rig.cx.meter.Totals().DayUnits, 1);
}

}  // namespace
}  // namespace kv::test
