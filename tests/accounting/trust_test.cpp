// SPDX-License-Identifier: GPL-3.0-or-later
// Figures a user can trust: every unit counted once, in the log and in the totals, whatever
// the router, the clock, the files or a restart do.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "accounting/call_meter.h"
#include "accounting/totals_file.h"
#include "app/commands.h"
#include "call_rig.h"
#include "common/data_file.h"
#include "support/scripted_transport.h"

namespace kv::test {
namespace {

namespace fs = std::filesystem;

// The units of the call log's "Tel" lines.
int LoggedUnits(const std::string& log) {
    int units = 0;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("\"Tel\"", 0) != 0) continue;
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string v; std::getline(fields, v, ',');) f.push_back(v);
        units += std::stoi(f[7]);
    }
    return units;
}

// A poll that found the line down at the tick: nothing of that call is touched any more by
// the tick, not the cut. The unit due at the end's own second is the record's (units are the
// boundaries at or below the logged duration).
TEST(Trust, NoUnitNoReadoutAndNoCutAfterTheCallEnded) {
    for (const bool cutTick : {false, true}) {
        CallRig rig;
        rig.cx.settings.atcutdly = cutTick ? 3 : 0;
        rig.OpenAgo(1, 0);
        rig.cx.link.StatusForTest().AutoCutArmed = true;
        rig.AdvanceSecs(cutTick ? 176 : 179);
        // The tick that would begin the second unit (or cut the line) comes after the end.
        rig.tmrDSP->SetHandler([&] {
            rig.Close(1);
            rig.cx.meter.Second_ck();
        });
        rig.AdvanceSecs(1);
        const std::string log = rig.ReadDataFile("Kestrovan.log");
        EXPECT_EQ(LoggedUnits(log), cutTick ? 1 : 2) << log;
        EXPECT_EQ(rig.cx.meter.Totals().MonthUnits, cutTick ? 1 : 2);
        EXPECT_EQ(rig.view.lcd(2), "\\10");
        EXPECT_EQ(rig.view.caption, "Kestrovan");
        EXPECT_TRUE(rig.transport.sent.empty()) << rig.transport.sent;  // no bare "disconnect b"
    }
}

// The program ended during a call and started again while the line is still up: the units
// the first record logged are not charged again; the two records add up to the call.
TEST(Trust, ARestartDoesNotChargeTheSameConnectionTwice) {
    CallRig rig;
    rig.cx.settings.seca = 10;
    rig.OpenAgo(1, 0);
    rig.AdvanceSecs(25);  // units at 0, 10, 20
    rig.cx.meter.CntEnd(1);
    ASSERT_EQ(LoggedUnits(rig.ReadDataFile("Kestrovan.log")), 3);
    // Taken over again at the router's connect time, as the login does after a restart.
    rig.cx.meter.CntSt(1, rig.cx.link.Status().ChannelStatus[1].ConnectTime);
    EXPECT_EQ(rig.cx.meter.Call().CallUnits, 0);
    rig.AdvanceSecs(24);  // units at 30, 40 on top of the three already logged
    rig.Close(1);
    const std::string log = rig.ReadDataFile("Kestrovan.log");
    EXPECT_EQ(LoggedUnits(log), 5) << log;
    EXPECT_EQ(rig.cx.meter.Totals().MonthUnits, 5);
}

// Both channels: every unit the totals gained is in exactly one record of the log.
TEST(Trust, TheSecondChannelClosesTheFirstRecordSoLogAndTotalsAgree) {
    CallRig rig;
    rig.cx.settings.seca = 10;
    rig.OpenAgo(1, 0);
    rig.AdvanceSecs(35);
    rig.OpenAgo(2, 0);  // the meter moves to B2: B1's record is logged first
    rig.AdvanceSecs(25);
    rig.cx.link.StatusForTest().ChannelStatus[2].Mode.clear();
    rig.Close(1);
    rig.Close(2);
    const std::string log = rig.ReadDataFile("Kestrovan.log");
    EXPECT_EQ(LoggedUnits(log), rig.cx.meter.Totals().MonthUnits) << log;
    EXPECT_EQ(LoggedUnits(log), 4 + 3) << log;
}

// Totals files: what cannot be read is kept as it is; every number the writer can write is
// read back; a restart before 05:00 on the 1st keeps the accounting day; a period marker after
// today does not reset the day at every start.
TEST(Trust, TotalsFilesThatWereMishandled) {
    struct Case {
        const char* name;
        LocalTime start;
        std::string file;
        int32_t month, day, prev;
        bool setAside = false;  // no figures the meter wrote: kept aside, counted afresh
    };
    const Case cases[] = {
        {"ten digits",
         {{2026, 12, 6}, {12, 0, 0}},
         "2147483647,6,12,\"2026/11/30\",4294967296\r\n",
         0,
         0,
         0,
         true},
        {"nine digits",
         {{2026, 12, 6}, {12, 0, 0}},
         "999999999,6,12,\"2026/11/30\",4\r\n",
         999999999,
         12,
         4},
        {"negative",
         {{2026, 12, 6}, {12, 0, 0}},
         "-5,6,-2,\"2026/11/30\",-40000\r\n",
         0,
         0,
         0,
         true},
        // The period rolls at midnight, the day at 05:00: the month moved on, the day holds.
        {"00:40 on the 1st", {{2027, 1, 1}, {0, 40, 0}}, "20,31,7,\"2026/11/30\",3\r\n", 0, 7, 20},
        {"marker ahead", {{2026, 12, 6}, {12, 0, 0}}, "20,6,7,\"2027/03/31\",3\r\n", 20, 7, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CallRig rig(c.start);
        rig.cx.settings.telstday = 1;
        rig.WriteDataFile("Kestrovan.dat", c.file);
        rig.cx.meter.DatFileIO(DatFileMode::Read);
        const ChargeTotals& t = rig.cx.meter.Totals();
        EXPECT_EQ(t.MonthUnits, c.month);
        EXPECT_EQ(t.DayUnits, c.day);
        EXPECT_EQ(t.PrevMonthUnits, c.prev);
        EXPECT_TRUE(DateToSerial(t.PeriodMarker) <= DateToSerial(c.start.date));
        rig.OpenAgo(1, 0);
        rig.Close(1);
        EXPECT_EQ(fs::directory_iterator(rig.dir) == fs::directory_iterator(), false);
        bool setAside = false;
        for (const auto& e : fs::directory_iterator(rig.dir))
            setAside |= e.path().filename().string().find(".bad-") != std::string::npos;
        EXPECT_EQ(setAside, c.setAside);
        EXPECT_EQ(rig.view.boxes.size(), c.setAside ? 1u : 0u);
        // One call later the file holds the figures plus that call, saturated at what the file
        // can hold, not wrapped.
        EXPECT_EQ(t.MonthUnits, c.month == totals::kMaxCount ? totals::kMaxCount : c.month + 1);
    }
}

TEST(Trust, ATotalsFileThatCannotBeReadIsNeverReplaced) {
    CallRig rig;
    rig.OpenTrace();
    const std::string outside = MakeTempDir();
    std::ofstream(outside + "/target") << "7,7,7,\"2026/11/30\",7\r\n";
    const std::string dat = rig.dir + "/Kestrovan.dat";
    // In turn: a link to a file elsewhere, a FIFO, a folder.
    for (int kind = 0; kind < 3; ++kind) {
        fs::remove_all(dat);
        if (kind == 0) fs::create_symlink(outside + "/target", dat);
        if (kind == 1) {
            ASSERT_EQ(::mkfifo(dat.c_str(), 0644), 0);
        }
        if (kind == 2) fs::create_directory(dat);
        CallRig run;
        run.cx.meter.SetFiles(run.dir + "/Kestrovan.log", dat);
        run.cx.meter.DatFileIO(DatFileMode::Read);
        EXPECT_EQ(run.view.boxes.size(), 1u) << kind;  // said once
        run.OpenAgo(1, 0);
        run.AdvanceSecs(5);
        run.Close(1);
        EXPECT_EQ(run.cx.meter.Totals().MonthUnits, 1);  // metered on in memory
        EXPECT_EQ(fs::symlink_status(dat).type(), kind == 0   ? fs::file_type::symlink
                                                  : kind == 1 ? fs::file_type::fifo
                                                              : fs::file_type::directory);
    }
    std::stringstream target;
    target << std::ifstream(outside + "/target").rdbuf();
    EXPECT_EQ(target.str(), "7,7,7,\"2026/11/30\",7\r\n");
    RemoveTree(outside);
}

// Summer time or a clock set back during a call: its seconds and units are those of its real
// length; the log's times are the wall clock's.
TEST(Trust, DurationsDoNotJumpWithTheWallClock) {
    const char* const oldZone = getenv("TZ");
    const std::string keptZone = oldZone ? oldZone : "";
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    // 2026-03-29 00:59:40 and 2026-10-25 00:59:40 UTC: 20 s before the clocks change.
    const struct {
        int64_t utc;       // follow the zone from this UTC second on; 0: step the clock
        int step;          // seconds the wall clock is set forward or back after 20 s
        const char* ends;  // the wall clock's end of the call in the log
    } cases[] = {{1774745980, 0, "\"2026/03/29\",\"03:00:19\""},
                 {1792889980, 0, "\"2026/10/25\",\"02:00:19\""},
                 {0, -3600, "\"2026/03/29\",\"01:00:19\""},
                 {0, 3600, "\"2026/03/29\",\"03:00:19\""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.utc) + " " + std::to_string(c.step));
        CallRig rig({Date{2026, 3, 29}, TimeOfDay{1, 59, 40}});
        if (c.utc) rig.loop.FollowZone(c.utc);
        rig.cx.settings.seca = rig.cx.settings.secb = rig.cx.settings.secc = 10;
        rig.OpenAgo(1, 0);
        rig.AdvanceSecs(20);
        if (c.step)
            rig.loop.SetWallClock({Date{2026, 3, 29}, TimeOfDay::FromSeconds(2 * 3600 + c.step)});
        rig.AdvanceSecs(19);
        rig.Close(1);
        EXPECT_EQ(rig.cx.meter.Call().CallSecs, 39);
        EXPECT_EQ(rig.cx.meter.Call().CallUnits, 4);
        EXPECT_NE(rig.ReadDataFile("Kestrovan.log").find("\"DisConnect\"," + std::string(c.ends)),
                  std::string::npos)
            << rig.ReadDataFile("Kestrovan.log");
    }
    if (oldZone)
        setenv("TZ", keptZone.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

// A router answering every command 8 s late during a call: the automatic cut goes out at the
// second it falls due, or the moment the console is free; the call's units are its length's.
TEST(Trust, ASlowRouterNeitherDelaysTheCutNorStarvesTheMeter) {
    std::vector<int64_t> cutAt;
    for (const int64_t delay : {10, 8000}) {
        CallRig rig;
        Settings& s = rig.cx.settings;
        s.seca = s.secb = s.secc = 12;
        s.atcuttm = 2;
        s.atcutdly = 3;
        s.dspint = 1000;
        WireMainTimers(rig.cx);
        // The poll timer falls due inside every check's pump, as it does now and then.
        rig.tmrDSP->SetHandler([&] {
            rig.loop.After(0, [&] { tmrSOHO_Timer(rig.cx); });
            tmrDSP_Timer(rig.cx);
        });
        rig.cx.link.OpenLink();
        LinkState& ls = rig.cx.link.StateForTest();
        ls.RouterName = u"MN128-SOHO";
        ls.LinkReady = true;
        ls.LoggedIn = true;
        int64_t sentAt = -1;
        rig.transport.onLineDelayMs = delay;
        rig.transport.onLine = [&](const std::string& line) -> std::optional<std::string> {
            if (line.rfind("disconnect", 0) == 0 && sentAt < 0) sentAt = rig.loop.MonotonicMs();
            if (line == "show status")
                return "\n\r回線種別:ISDN\n\rB1チャネル:\n\r  接続モード         [" +
                       std::string(sentAt < 0 ? "端末型" : "未接続") +
                       "]\n\r  接続時刻           [2026/12/07 10:00:00]\n\r  自動切断時間       [ 9/180]\n\r"
                       "B2チャネル:\n\r  接続モード         [未接続]\n\r\n\rMN128-SOHO% ";
            return std::string("\n\rMN128-SOHO% ");
        };
        rig.cx.link.GetNow();  // the call is seen
        int polls = 0;
        rig.AdvanceSecs(8);
        for (size_t at = rig.transport.sent.find("show status"); at != std::string::npos;
             at = rig.transport.sent.find("show status", at + 1))
            ++polls;
        // The polls falling due inside the checks go out after them, none dropped.
        if (delay == 10) {
            EXPECT_GE(polls, 8);
        }
        rig.AdvanceSecs(32);
        ASSERT_GE(sentAt, 0) << delay;
        cutAt.push_back(sentAt);
        const CallRecord& c = rig.cx.meter.Call();
        EXPECT_EQ(c.CallUnits, (c.CallSecs + 11) / 12) << delay << " " << c.CallSecs;
    }
    // Due at 9 s after the connect (12 - 3); with the slow router, when its poll has ended.
    EXPECT_LE(cutAt[0], 10000);
    EXPECT_LE(cutAt[1], cutAt[0] + 8000 + 100);
}

// A full disk in the middle of a log line: the line is taken back whole; the next call's
// lines are whole. A link, a FIFO or a folder in place of each data file: refused at once,
// nothing written outside the folder.
TEST(Trust, DataFilesAreWrittenWholeAndOnlyWhereTheyBelong) {
    const std::string dir = MakeTempDir();
    const std::string log = dir + "/Kestrovan.log";
    ASSERT_TRUE(
        datafile::AppendWhole(log, "\"Connect\",\"2026/12/07\",\"10:00:00\",0,0\r\n", true));
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    rlimit small = before;
    small.rlim_cur = static_cast<rlim_t>(fs::file_size(log) + 10);
    ::setrlimit(RLIMIT_FSIZE, &small);
    const bool written = datafile::AppendWhole(log, std::string(100, 'x') + "\r\n", true);
    ::setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_FALSE(written);
    EXPECT_EQ(fs::file_size(log), static_cast<uintmax_t>(small.rlim_cur - 10));
    // A line torn before (power lost mid-write) gets its end before the next one.
    { std::ofstream(log, std::ios::app) << "\"DisConnect\",\"2026/1"; }
    bool repaired = false;
    ASSERT_TRUE(datafile::AppendWhole(log, "\"Connect\",\"2026/12/07\",\"11:00:00\",0,0\r\n", true,
                                      &repaired));
    EXPECT_TRUE(repaired);
    std::stringstream text;
    text << std::ifstream(log).rdbuf();
    EXPECT_NE(text.str().find("\"DisConnect\",\"2026/1\r\n\"Connect\""), std::string::npos);

    const std::string outside = MakeTempDir() + "/target";
    std::ofstream(outside) << "untouched";
    for (const char* name : {"link", "fifo", "folder"}) {
        const std::string path = dir + "/" + name;
        if (std::string(name) == "link") fs::create_symlink(outside, path);
        if (std::string(name) == "fifo") {
            ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
        }
        if (std::string(name) == "folder") fs::create_directory(path);
        EXPECT_FALSE(datafile::AppendWhole(path, "x\r\n", true)) << name;
        EXPECT_EQ(datafile::OpenForAppend(path), -1) << name;
        EXPECT_EQ(datafile::OpenRegular(path), -1) << name;
        std::string got;
        EXPECT_NE(datafile::ReadAll(path, got), datafile::ReadResult::Ok) << name;
    }
    ASSERT_TRUE(datafile::ReplaceWhole(dir + "/link", "new\r\n"));  // the link itself replaced
    std::stringstream kept;
    kept << std::ifstream(outside).rdbuf();
    EXPECT_EQ(kept.str(), "untouched");
    RemoveTree(fs::path(outside).parent_path().string());
    RemoveTree(dir);
}

}  // namespace
}  // namespace kv::test
