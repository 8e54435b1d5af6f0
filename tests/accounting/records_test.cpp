// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <filesystem>

#include "call_rig.h"

namespace kv::test {
namespace {

std::string BadFileIn(const std::string& dir) {
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("Kestrovan.dat.bad-", 0) == 0) return name;
    }
    return "";
}

TEST(Conversions, TimesAndDurations) {
    EXPECT_EQ(TimeToSecs(TimeOfDay{10, 15, 30}), 36930);
    EXPECT_EQ(TextToTime("18:58:07"), (TimeOfDay{18, 58, 7}));
    EXPECT_EQ(TextToTime("7:5"),
              (TimeOfDay{7, 0, 0}));  // short text: no crash, parts read as numbers
    EXPECT_EQ(FormatHms(0), "00:00:00");
    EXPECT_EQ(FormatHms(927), "00:15:27");
    EXPECT_EQ(FormatHms(3725), "01:02:05");
    EXPECT_EQ(FormatHms(360000), "100:00:00");
    EXPECT_EQ(FormatHms(-5), "-00:00:05");
}

// The computer clock is 2 s behind the router; the call is noticed 6 s after the router
// connected it.
TEST(CallLog, FinishedCallWritesTheThreeLines) {
    CallRig rig({Date{2026, 12, 6}, TimeOfDay{10, 0, 9}});
    rig.cx.settings.secb = 240;  // a Sunday: band B
    rig.cx.settings.telstday = 1;
    rig.cx.link.StateForTest().ClockOffset = -2;
    rig.Open(1, "2026/12/06 10:00:05");
    EXPECT_EQ(rig.cx.meter.Call().ConnectAdjust, -4);
    EXPECT_EQ(rig.ReadDataFile("Kestrovan.log"),
              "\"Connect\",\"2026/12/06\",\"10:00:05\",-4,-2\r\n");
    rig.AdvanceSecs(921);
    rig.Close(1);
    EXPECT_EQ(
        rig.ReadDataFile("Kestrovan.log"),
        "\"Connect\",\"2026/12/06\",\"10:00:05\",-4,-2\r\n"
        "\"DisConnect\",\"2026/12/06\",\"10:15:30\",\"00:15:27\",927,4,-4,-2\r\n"
        "\"Tel\",\"2026/12/06\",\"10:00:05\",\"2026/12/06\",\"10:15:30\",\"00:15:27\",927,4,-4,"
        "-2\r\n");
    EXPECT_EQ(rig.ReadDataFile("Kestrovan.dat"), "4,6,4,\"2026/11/30\",0\r\n");
}

TEST(Records, CntStStartsTheMeterAndTheInCallRhythm) {
    CallRig rig;
    rig.cx.settings.winmodec = 0;
    rig.view.visible = false;
    rig.cx.settings.runenab = {1, 0, 1, 1, 0, 0};
    rig.cx.settings.runid = {"/bin/a", "/bin/b", "/bin/c", "/bin/d", "", ""};
    rig.runner.existing = {{"/bin/a", true}, {"/bin/c", true}, {"/bin/d", true}};
    rig.OpenAgo(1, 7);
    const CallRecord& c = rig.cx.meter.Call();
    EXPECT_TRUE(c.ChConnected[1]);
    EXPECT_EQ(c.ConnectAdjust, -7);
    EXPECT_EQ(c.CallUnits, 1);
    EXPECT_EQ(rig.cx.meter.Totals().DayUnits, 1);
    EXPECT_EQ(rig.cx.meter.Totals().MonthUnits, 1);
    EXPECT_TRUE(rig.tmrDSP->Enabled());
    EXPECT_EQ(rig.tmrSOHO->Interval(), 3000);
    EXPECT_EQ(rig.view.caption, "接続 ");
    EXPECT_TRUE(rig.view.visible);
    EXPECT_EQ(rig.view.restores, 1);
    EXPECT_EQ(rig.runner.started, (std::vector<std::string>{"/bin/a", "/bin/c"}));

    // The first tick takes off the whole time since the router's connect instant.
    rig.AdvanceSecs(1);
    EXPECT_EQ(c.ElapsedSecs, 8);
    EXPECT_EQ(c.NextUnitSecs, 172);

    // Seen again by the next poll: nothing changes.
    rig.Open(1, "garbage");
    EXPECT_EQ(c.CallUnits, 1);
    EXPECT_EQ(rig.runner.started.size(), 2u);

    rig.cx.settings.runstop = {1, 0, 0, 0, 0, 0};
    rig.Close(1);
    EXPECT_FALSE(rig.tmrDSP->Enabled());
    EXPECT_EQ(rig.tmrSOHO->Interval(), 2000);
    EXPECT_TRUE(rig.tmrSOHO->Enabled());
    EXPECT_EQ(rig.view.caption, "Kestrovan");
    EXPECT_EQ(rig.runner.terminated.size(), 1u);  // slot 0 only
    EXPECT_EQ(rig.runner.started.back(), "/bin/d");
    EXPECT_EQ(rig.cx.delayed.Pending(), DelayedAction::None);  // winmodedc 1: the window stays
}

TEST(Records, CntEndOfAClosedChannelOnlyResetsTheTimers) {
    CallRig rig;
    rig.cx.settings.winmodedc = 0;
    rig.cx.meter.TotalsForTest().MonthUnits = 5;
    rig.tmrSOHO->SetInterval(3000);
    rig.tmrDSP->SetEnabled(true);
    rig.cx.meter.CntEnd(1);
    rig.cx.meter.CntEnd(0);
    EXPECT_FALSE(rig.tmrDSP->Enabled());
    EXPECT_EQ(rig.tmrSOHO->Interval(), 2000);
    EXPECT_EQ(rig.cx.meter.Totals().MonthUnits, 5);
    EXPECT_FALSE(rig.DataFileExists("Kestrovan.log"));
    EXPECT_FALSE(rig.DataFileExists("Kestrovan.dat"));
    EXPECT_EQ(rig.cx.delayed.Pending(), DelayedAction::None);

    // A real end with winmodedc 0 hides the window five seconds later.
    rig.OpenAgo(1, 0);
    rig.Close(1);
    EXPECT_EQ(rig.cx.delayed.Pending(), DelayedAction::Hide);
    EXPECT_EQ(rig.Tmr1Sec->Interval(), 5000);
    EXPECT_TRUE(rig.Tmr1Sec->Enabled());
}

TEST(Records, ConnectTimeJustBeforeMidnightSeenAfterIt) {
    CallRig rig({Date{2026, 12, 8}, TimeOfDay{0, 0, 3}});
    rig.Open(1, "2026/12/07 23:59:58");
    EXPECT_EQ(rig.cx.meter.Call().ConnectAdjust, -5);
    EXPECT_EQ(rig.cx.meter.Call().ConnDate, (Date{2026, 12, 7}));
    rig.AdvanceSecs(1);
    EXPECT_EQ(rig.cx.meter.Call().ElapsedSecs, 6);
    // the unit began in band C before midnight
    EXPECT_EQ(rig.cx.meter.Call().NextUnitSecs, 240 - 6);
    rig.AdvanceSecs(60);
    rig.Close(1);
    EXPECT_NE(rig.ReadDataFile("Kestrovan.log")
                  .find("\"Tel\",\"2026/12/07\",\"23:59:58\",\"2026/12/"
                        "08\",\"00:01:04\",\"00:01:06\",66,1,-5,0"),
              std::string::npos);
}

TEST(Records, UnreadableConnectTimeMetersFromWhenTheCallWasSeen) {
    for (const std::string text :
         {"", "2026/12/07", "2026/12/07 1O:OO:OO", "garbage text here!!", "2026/13/07 10:00:00",
          "2026/12/07 25:00:00", "接続中です。しばらくお待ち"}) {
        SCOPED_TRACE(text);
        CallRig rig;
        rig.OpenTrace();
        rig.Open(1, text);
        const CallRecord& c = rig.cx.meter.Call();
        EXPECT_EQ(c.ConnectAdjust, 0);
        EXPECT_EQ(c.ConnDate, (Date{2026, 12, 7}));
        EXPECT_EQ(c.ConnTime, (TimeOfDay{10, 0, 0}));
        rig.AdvanceSecs(2);
        EXPECT_EQ(c.ElapsedSecs, 2);
        EXPECT_EQ(c.NextUnitSecs, 178);
        EXPECT_EQ(rig.ReadDataFile("Kestrovan.log"),
                  "\"Connect\",\"2026/12/07\",\"10:00:00\",0,0\r\n");
        EXPECT_NE(rig.ReadDataFile("Kestrovan.dbg").find("connect time err:" + text),
                  std::string::npos);
    }
}

TEST(TotalsFile, PeriodMarkers) {
    struct Case {
        Date today;
        int telstday;
        Date marker;
    };
    const Case cases[] = {
        {{2026, 12, 6}, 1, {2026, 11, 30}},   {{2026, 12, 6}, 15, {2026, 11, 14}},
        {{2026, 12, 15}, 15, {2026, 12, 14}}, {{2026, 12, 6}, 0, {2026, 11, 29}},
        {{2026, 12, 1}, 0, {2026, 11, 29}},   {{2026, 1, 6}, 15, {2025, 12, 14}},
        {{2026, 12, 30}, 31, {2026, 11, 30}}, {{2026, 12, 31}, 31, {2026, 12, 30}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(FormatDate(c.today) + " telstday " + std::to_string(c.telstday));
        CallRig rig({c.today, TimeOfDay{12, 0, 0}});
        rig.cx.settings.telstday = static_cast<int16_t>(c.telstday);
        // a file from long ago rolls over to the period of today
        rig.WriteDataFile("Kestrovan.dat", "7,1,2,\"2020/01/01\",3\r\n");
        rig.cx.meter.DatFileIO(DatFileMode::Read);
        EXPECT_EQ(rig.cx.meter.Totals().PeriodMarker, c.marker);
        EXPECT_EQ(rig.cx.meter.Totals().PrevMonthUnits, 7);
        EXPECT_EQ(rig.cx.meter.Totals().MonthUnits, 0);
    }
}

TEST(TotalsFile, WriteAndReadBack) {
    CallRig rig({Date{2026, 12, 6}, TimeOfDay{12, 0, 0}});
    rig.cx.settings.telstday = 1;  // the period of the marker below
    rig.cx.meter.TotalsForTest().DayUnits = 12;
    rig.cx.meter.TotalsForTest().MonthUnits = 123;
    rig.cx.meter.TotalsForTest().PrevMonthUnits = 456;
    rig.cx.meter.TotalsForTest().PeriodMarker = Date{2026, 11, 30};
    rig.cx.meter.DatFileIO(DatFileMode::Write);
    EXPECT_EQ(rig.ReadDataFile("Kestrovan.dat"), "123,6,12,\"2026/11/30\",456\r\n");
    EXPECT_FALSE(rig.DataFileExists("Kestrovan.dat.tmp"));
    rig.cx.meter.TotalsForTest() = ChargeTotals{};
    rig.cx.meter.DatFileIO(DatFileMode::Read);
    EXPECT_EQ(rig.cx.meter.Totals().MonthUnits, 123);
    EXPECT_EQ(rig.cx.meter.Totals().DayUnits, 12);
    EXPECT_EQ(rig.cx.meter.Totals().PrevMonthUnits, 456);
    EXPECT_EQ(rig.cx.meter.Totals().PeriodMarker, (Date{2026, 11, 30}));

    // Next morning before 05:00 it is still the same accounting day; at 05:00 it is not.
    rig.loop.SetWallClock({Date{2026, 12, 7}, TimeOfDay{4, 59, 59}});
    rig.cx.meter.DatFileIO(DatFileMode::Read);
    EXPECT_EQ(rig.cx.meter.Totals().DayUnits, 12);
    rig.loop.SetWallClock({Date{2026, 12, 7}, TimeOfDay{5, 0, 0}});
    rig.cx.meter.DatFileIO(DatFileMode::Read);
    EXPECT_EQ(rig.cx.meter.Totals().DayUnits, 0);
    EXPECT_EQ(rig.cx.meter.Totals().MonthUnits, 123);
}

// The file keeps only the day of the month: a start on the same day number a month later must
// not bring back that old day's units, while a start before 05:00 on the first day of a period
// is still the accounting day written the evening before.
TEST(TotalsFile, SameDayNumberInAnotherPeriodIsAnotherDay) {
    CallRig rig({Date{2026, 11, 7}, TimeOfDay{12, 0, 0}});
    rig.cx.settings.telstday = 1;
    rig.cx.meter.TotalsForTest().DayUnits = 12;
    rig.cx.meter.TotalsForTest().MonthUnits = 20;
    rig.cx.meter.TotalsForTest().PeriodMarker = Date{2026, 10, 31};
    rig.cx.meter.DatFileIO(DatFileMode::Write);
    rig.loop.SetWallClock({Date{2026, 12, 7}, TimeOfDay{12, 0, 0}});
    rig.cx.meter.TotalsForTest() = ChargeTotals{};
    rig.cx.meter.DatFileIO(DatFileMode::Read);
    EXPECT_EQ(rig.cx.meter.Totals().DayUnits, 0);
    EXPECT_EQ(rig.cx.meter.Totals().PrevMonthUnits, 20);

    // Periods from the 15th: written on the 14th in the evening, read at 03:00 on the 15th.
    CallRig night({Date{2026, 12, 14}, TimeOfDay{23, 0, 0}});
    night.cx.settings.telstday = 15;
    night.cx.meter.TotalsForTest().DayUnits = 4;
    night.cx.meter.TotalsForTest().MonthUnits = 9;
    night.cx.meter.TotalsForTest().PeriodMarker = Date{2026, 11, 14};
    night.cx.meter.DatFileIO(DatFileMode::Write);
    night.loop.SetWallClock({Date{2026, 12, 15}, TimeOfDay{3, 0, 0}});
    night.cx.meter.TotalsForTest() = ChargeTotals{};
    night.cx.meter.DatFileIO(DatFileMode::Read);
    EXPECT_EQ(night.cx.meter.Totals().DayUnits, 4);  // still the accounting day of the 14th
    EXPECT_EQ(night.cx.meter.Totals().PrevMonthUnits, 9);
}

TEST(TotalsFile, DayNumberZeroEarlyOnTheFirst) {
    CallRig rig({Date{2026, 12, 1}, TimeOfDay{3, 0, 0}});
    rig.cx.meter.TotalsForTest().PeriodMarker = Date{2026, 11, 30};
    rig.cx.meter.DatFileIO(DatFileMode::Write);
    EXPECT_EQ(rig.ReadDataFile("Kestrovan.dat"), "0,0,0,\"2026/11/30\",0\r\n");
}

// A new installation: the first call counts in the current month, not the previous one.
TEST(TotalsFile, MissingFileStartsInTheCurrentPeriod) {
    CallRig rig({Date{2026, 11, 30}, TimeOfDay{23, 0, 0}});
    rig.cx.settings.telstday = 1;
    rig.cx.meter.DatFileIO(DatFileMode::Read);
    EXPECT_EQ(rig.cx.meter.Totals().PeriodMarker, (Date{2026, 10, 31}));
    EXPECT_FALSE(rig.DataFileExists("Kestrovan.dat"));
    rig.OpenAgo(1, 0);
    rig.AdvanceSecs(100);
    rig.Close(1);
    EXPECT_EQ(rig.cx.meter.Totals().MonthUnits, 1);
    EXPECT_EQ(rig.cx.meter.Totals().PrevMonthUnits, 0);
    EXPECT_EQ(rig.ReadDataFile("Kestrovan.dat"), "1,30,1,\"2026/10/31\",0\r\n");

    // The next call begins in the new period: the month rolls over before its first unit, and
    // the accounting day (until 05:00) is still the 30th.
    rig.AdvanceSecs(3500);
    rig.OpenAgo(1, 0);
    rig.AdvanceSecs(200);  // 2026/12/01 00:00:00 .. 00:03:20, one 240 s unit
    rig.Close(1);
    EXPECT_EQ(rig.cx.meter.Totals().PrevMonthUnits, 1);
    EXPECT_EQ(rig.cx.meter.Totals().MonthUnits, 1);
    EXPECT_EQ(rig.cx.meter.Totals().DayUnits, 2);
    EXPECT_EQ(rig.cx.meter.Totals().PeriodMarker, (Date{2026, 11, 30}));
    EXPECT_EQ(rig.ReadDataFile("Kestrovan.dat"), "1,0,2,\"2026/11/30\",1\r\n");
}

TEST(TotalsFile, BadFilesAreKeptAsideAndTheTotalsStartAfresh) {
    using namespace std::string_literals;
    const std::string bad[] = {
        ""s,
        "\r\n"s,
        "123,6,12\r\n"s,
        "123,6,12,\"2026/11/30\"\r\n"s,
        "12x,6,12,\"2026/11/30\",456\r\n"s,
        "123,6,12,\"2026/02/30\",456\r\n"s,
        "123,6,12,\"yesterday\",456\r\n"s,
        "\x82\xa0\x82\xa2\xff\x00garbage\x00"s,
        "123,6,12,\"2026/11/30\",456,7\r\n"s,
    };
    for (const std::string& text : bad) {
        SCOPED_TRACE(text);
        CallRig rig({Date{2026, 12, 6}, TimeOfDay{12, 0, 0}});
        rig.cx.settings.telstday = 1;
        rig.OpenTrace();
        rig.WriteDataFile("Kestrovan.dat", text);
        rig.cx.meter.DatFileIO(DatFileMode::Read);
        EXPECT_EQ(rig.cx.meter.Totals().MonthUnits, 0);
        EXPECT_EQ(rig.cx.meter.Totals().DayUnits, 0);
        EXPECT_EQ(rig.cx.meter.Totals().PrevMonthUnits, 0);
        EXPECT_EQ(rig.cx.meter.Totals().PeriodMarker, (Date{2026, 11, 30}));
        EXPECT_FALSE(rig.DataFileExists("Kestrovan.dat"));
        const std::string aside = BadFileIn(rig.dir);
        EXPECT_EQ(aside, "Kestrovan.dat.bad-20261206120000");
        EXPECT_NE(rig.ReadDataFile("Kestrovan.dbg").find("dat bad:"), std::string::npos);
        EXPECT_FALSE(rig.view.status().empty());

        rig.OpenAgo(1, 0);
        rig.Close(1);
        EXPECT_EQ(rig.ReadDataFile("Kestrovan.dat"), "1,6,1,\"2026/11/30\",0\r\n");
        EXPECT_EQ(BadFileIn(rig.dir), aside);  // the unreadable file is still there
    }
}

// Directories in the way make both files unwritable, also for root.
TEST(TotalsFile, UnwritableFilesKeepMeteringAndTheOldTotals) {
    CallRig rig({Date{2026, 12, 6}, TimeOfDay{12, 0, 0}});
    rig.cx.settings.telstday = 1;
    rig.WriteDataFile("Kestrovan.dat", "10,6,4,\"2026/11/30\",20\r\n");
    rig.cx.meter.DatFileIO(DatFileMode::Read);
    std::filesystem::create_directory(rig.dir + "/Kestrovan.dat.tmp");
    std::filesystem::create_directory(rig.dir + "/Kestrovan.log");
    rig.OpenTrace();
    for (int call = 1; call <= 2; ++call) {
        rig.OpenAgo(1, 0);
        rig.AdvanceSecs(400);  // band B, 180 s: three units
        rig.Close(1);
        EXPECT_EQ(rig.cx.meter.Call().LoggedUnits, 3);
        EXPECT_EQ(rig.cx.meter.Totals().MonthUnits, 10 + 3 * call);
        EXPECT_EQ(rig.cx.meter.Totals().DayUnits, 4 + 3 * call);
        EXPECT_EQ(rig.cx.meter.Totals().PrevMonthUnits, 20);
    }
    EXPECT_EQ(rig.ReadDataFile("Kestrovan.dat"), "10,6,4,\"2026/11/30\",20\r\n");
    bool logReported = false, datReported = false;
    for (const std::string& s : rig.view.statusHistory) {
        logReported |= s.find("Kestrovan.log") != std::string::npos;
        datReported |= s.find("Kestrovan.dat") != std::string::npos;
    }
    EXPECT_TRUE(logReported);
    EXPECT_TRUE(datReported);
    const std::string trace = rig.ReadDataFile("Kestrovan.dbg");
    EXPECT_NE(trace.find("log err:"), std::string::npos);
    EXPECT_NE(trace.find("dat err:"), std::string::npos);

    // Once the folder is writable again the next call saves everything.
    std::filesystem::remove(rig.dir + "/Kestrovan.dat.tmp");
    rig.OpenAgo(1, 0);
    rig.Close(1);
    EXPECT_EQ(rig.ReadDataFile("Kestrovan.dat"), "17,6,11,\"2026/11/30\",20\r\n");
}

}  // namespace
}  // namespace kv::test
