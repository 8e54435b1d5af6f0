// SPDX-License-Identifier: GPL-3.0-or-later
// A program left running for days: each unit counts in the accounting day (from 05:00) and the
// accounting period in which it begins, without a restart in between.
#include <gtest/gtest.h>

#include "call_rig.h"

namespace kv::test {
namespace {

struct Totals {
    int32_t day, month, prev;
    friend bool operator==(const Totals&, const Totals&) = default;
};
void PrintTo(const Totals& t, std::ostream* os) {
    *os << "day " << t.day << " month " << t.month << " prev " << t.prev;
}
Totals Of(const CallRig& rig) {
    const ChargeTotals& t = rig.cx.meter.Totals();
    return {t.DayUnits, t.MonthUnits, t.PrevMonthUnits};
}

void DebugTrace(CallRig& rig) {
    rig.cx.trace.SetDebugMode(true);
    rig.OpenTrace();
}

// Band C units of 240 s from 04:50: 04:50, 04:54, 04:58 in the old accounting day, 05:02 and
// 05:06 in the new one.
TEST(RollOver, CallAcrossFiveOClockPutsEachUnitInTheDayItBegan) {
    CallRig rig({Date{2026, 12, 7}, TimeOfDay{4, 50, 0}});
    DebugTrace(rig);
    rig.cx.settings.dosuumode = 1;
    rig.WriteDataFile("Kestrovan.dat", "10,6,4,\"2026/11/29\",0\r\n");
    rig.cx.meter.DatFileIO(DatFileMode::Read);
    rig.OpenAgo(1, 0);
    rig.AdvanceSecs(599);  // 04:59:59
    EXPECT_EQ(Of(rig), (Totals{7, 13, 0}));
    EXPECT_EQ(rig.view.lcd(3), "\\70");
    rig.AdvanceSecs(1);  // 05:00:00: no unit begins, but the day shown is the new one
    EXPECT_EQ(Of(rig), (Totals{0, 13, 0}));
    EXPECT_EQ(rig.view.lcd(3), "\\");
    rig.AdvanceSecs(420);  // 05:07:00
    EXPECT_EQ(Of(rig), (Totals{2, 15, 0}));
    EXPECT_EQ(rig.view.lcd(3), "\\20");
    rig.Close(1);
    EXPECT_EQ(rig.cx.meter.Call().LoggedUnits, 5);
    EXPECT_EQ(Of(rig), (Totals{2, 15, 0}));
    EXPECT_EQ(rig.ReadDataFile("Kestrovan.dat"), "15,7,2,\"2026/11/29\",0\r\n");
    EXPECT_NE(rig.ReadDataFile("Kestrovan.dbg").find("RollTotals day"), std::string::npos);
    EXPECT_EQ(rig.ReadDataFile("Kestrovan.dbg").find("RollTotals period"), std::string::npos);
}

// The period starts on the 15th at midnight; the accounting day still runs to 05:00.
TEST(RollOver, CallAcrossThePeriodStartPutsEachUnitInThePeriodItBegan) {
    CallRig rig({Date{2026, 12, 14}, TimeOfDay{23, 50, 0}});
    DebugTrace(rig);
    rig.cx.settings.telstday = 15;
    rig.WriteDataFile("Kestrovan.dat", "50,14,6,\"2026/11/14\",70\r\n");
    rig.cx.meter.DatFileIO(DatFileMode::Read);
    rig.OpenAgo(1, 0);
    rig.AdvanceSecs(599);  // 23:59:59, units of 23:50, 23:54, 23:58
    EXPECT_EQ(Of(rig), (Totals{9, 53, 70}));
    EXPECT_EQ(rig.view.lcd(3), "\\530");
    rig.AdvanceSecs(1);
    EXPECT_EQ(Of(rig), (Totals{9, 0, 53}));
    EXPECT_EQ(rig.view.lcd(3), "\\");
    rig.AdvanceSecs(420);  // units of 00:02 and 00:06
    rig.Close(1);
    EXPECT_EQ(rig.cx.meter.Call().LoggedUnits, 5);
    EXPECT_EQ(Of(rig), (Totals{11, 2, 53}));
    EXPECT_EQ(rig.cx.meter.Totals().PeriodMarker, (Date{2026, 12, 14}));
    EXPECT_EQ(rig.ReadDataFile("Kestrovan.dat"), "2,14,11,\"2026/12/14\",53\r\n");
    EXPECT_NE(rig.ReadDataFile("Kestrovan.dbg").find("RollTotals period"), std::string::npos);
}

// Calls on the last evening of a period, then the program runs on past 05:00 of the next day,
// which begins a new period: the first call there starts both totals again.
TEST(RollOver, ProgramRunningIntoANewDayAndPeriod) {
    CallRig rig({Date{2026, 11, 30}, TimeOfDay{20, 0, 0}});  // a Monday, band B
    rig.cx.settings.telstday = 1;
    rig.cx.settings.dosuumode = 1;
    rig.WriteDataFile("Kestrovan.dat", "100,30,5,\"2026/10/31\",40\r\n");
    rig.cx.meter.DatFileIO(DatFileMode::Read);
    rig.OpenAgo(1, 0);
    rig.AdvanceSecs(400);  // three 180 s units
    rig.Close(1);
    EXPECT_EQ(Of(rig), (Totals{8, 103, 40}));
    EXPECT_EQ(rig.ReadDataFile("Kestrovan.dat"), "103,30,8,\"2026/10/31\",40\r\n");

    rig.AdvanceSecs(10 * 3600 - 400);  // 2026/12/01 06:00, band C
    rig.OpenAgo(1, 0);
    EXPECT_EQ(Of(rig), (Totals{1, 1, 103}));
    rig.AdvanceSecs(1);
    EXPECT_EQ(rig.view.lcd(3), "\\10");
    rig.AdvanceSecs(299);  // a second unit at 06:04
    rig.Close(1);
    EXPECT_EQ(Of(rig), (Totals{2, 2, 103}));
    EXPECT_EQ(rig.ReadDataFile("Kestrovan.dat"), "2,1,2,\"2026/11/30\",103\r\n");

    // A restart later that day reads the same figures back.
    rig.AdvanceSecs(3600);
    rig.cx.meter.TotalsForTest() = ChargeTotals{};
    rig.cx.meter.DatFileIO(DatFileMode::Read);
    EXPECT_EQ(Of(rig), (Totals{2, 2, 103}));
}

// Without a call only the caller's check moves the totals on; the read-out follows the roll.
TEST(RollOver, IdleCheckShowsTheNewFiguresOnceAndLeavesTheFileAlone) {
    CallRig rig({Date{2026, 12, 7}, TimeOfDay{20, 0, 0}});
    rig.cx.settings.telstday = 8;
    rig.cx.settings.dosuumode = 0;
    rig.WriteDataFile("Kestrovan.dat", "30,7,3,\"2026/11/07\",20\r\n");
    rig.cx.meter.DatFileIO(DatFileMode::Read);
    EXPECT_FALSE(rig.cx.meter.RollTotals(rig.loop.Now()));
    rig.AdvanceSecs(4 * 3600);  // midnight: a new period, the same accounting day
    EXPECT_TRUE(rig.cx.meter.RollTotals(rig.loop.Now()));
    EXPECT_EQ(Of(rig), (Totals{3, 0, 30}));
    EXPECT_EQ(rig.view.lcd(3), "\\");
    EXPECT_FALSE(rig.cx.meter.RollTotals(rig.loop.Now()));
    rig.AdvanceSecs(5 * 3600);  // 05:00
    rig.view.SetLcdText(3, "unchanged");
    rig.cx.settings.dosuumode = 1;
    EXPECT_TRUE(rig.cx.meter.RollTotals(rig.loop.Now()));
    EXPECT_EQ(Of(rig), (Totals{0, 0, 30}));
    EXPECT_EQ(rig.view.lcd(3), "\\");
    EXPECT_EQ(rig.ReadDataFile("Kestrovan.dat"), "30,7,3,\"2026/11/07\",20\r\n");

    // A clock set back a day starts the day again but never reopens a closed period.
    rig.cx.meter.TotalsForTest().DayUnits = 4;
    rig.loop.SetWallClock({Date{2026, 12, 7}, TimeOfDay{22, 0, 0}});
    EXPECT_TRUE(rig.cx.meter.RollTotals(rig.loop.Now()));
    EXPECT_EQ(Of(rig), (Totals{0, 0, 30}));
    EXPECT_EQ(rig.cx.meter.Totals().PeriodMarker, (Date{2026, 12, 7}));
}

}  // namespace
}  // namespace kv::test
