// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up, shutdown and the main window's commands, on the fakes.
#include <gtest/gtest.h>

#include <filesystem>

#include <fstream>
#include <random>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "app/commands.h"
#include "app/single_instance.h"
#include "app/startup.h"
#include "app/tray.h"
#include "common/data_file.h"
#include "common/trace.h"
#include "support/test_rig.h"

namespace kv::test {
namespace {

// A router that is never there: every connect is refused, so a start-up runs up to the login
// and ends there through EndProgram (which the fake exit turns into ProgramEnded).
class RefusingTransport : public ConsoleTransport {
  public:
    int Connect(const std::string&, uint16_t) override {
        ++connects;
        error = 10061;
        return error;
    }
    int Send(const char*, int len) override {
        ++sends;
        return len;
    }
    int Recv(char*, int) override {
        error = 10035;
        return -1;
    }
    void Close() override {}
    int LastError() const override { return error; }
    void SetNotifications(bool) override {}
    void SetNotifyHandler(std::function<void()>) override {}
    int connects = 0;
    int sends = 0;
    int error = 0;
};

class FakeTray : public TrayIconPort {
  public:
    bool Available() override { return true; }
    void Add(const std::string&) override { ++icons; }
    void Remove() override { --icons; }
    void SetTip(const std::string&) override {}
    int icons = 0;
};

std::vector<std::string> TraceLines(const TestRig& rig) {
    std::vector<std::string> lines;
    const std::string text = rig.ReadDataFile("Kestrovan.dbg");
    size_t p = 0;
    while (p < text.size()) {
        const size_t e = text.find("\r\n", p);
        const std::string line = text.substr(p, e == std::string::npos ? std::string::npos : e - p);
        // "yymmdd hh:mm:ss message" between quotes
        lines.push_back(line.size() >= 18 ? line.substr(17, line.size() - 18) : line);
        if (e == std::string::npos) break;
        p = e + 2;
    }
    return lines;
}

class StartupTest : public ::testing::Test {
  protected:
    StartupTest() {
        rig.cx.tray.SetPort(&tray);
        rig.cx.hooks.ShowSetupDialog = [this] {
            dialogCalls.push_back(transport.connects);
            dialogAtMs.push_back(rig.loop.MonotonicMs());
        };
        rig.view.onCheckBoxClick = [this](CheckBox box, int value) {
            if (box == CheckBox::ChkTopDsp) ChkTopDsp_Click(rig.cx, value);
        };
    }
    void Store(const std::string& word, const std::string& key, const std::string& value) {
        SaveStringSetting(rig.store, word, key, value);
    }
    // Runs Form_Load, and the start-up it sets going, to its end at the refused login.
    // Returns whether it ended there.
    bool Load(const std::vector<std::string>& args, const FormLoadSteps& steps = {}) {
        try {
            Form_Load(rig.cx, args, rig.dir, steps);
            rig.loop.Advance(60000);
        } catch (const ProgramEnded&) {
            return true;
        }
        return false;
    }

    RefusingTransport transport;  // before the rig, which holds it
    FakeTray tray;
    TestRig rig{RigPorts{.transport = &transport}};
    std::vector<int> dialogCalls;  // router connects made before each dialog
    std::vector<int64_t> dialogAtMs;
};

TEST(CommandLineTest, SwitchesAreWholeWordsInAnyCase) {
    EXPECT_EQ(BuildCommandLine({}), "  ");
    const std::string lower = BuildCommandLine({"-debug"});
    EXPECT_EQ(lower, " -DEBUG ");
    EXPECT_TRUE(HasSwitch(lower, "-DEBUG"));

    const std::string joined = BuildCommandLine({"-DEBUG-W"});
    EXPECT_FALSE(HasSwitch(joined, "-DEBUG"));
    EXPECT_FALSE(HasSwitch(joined, "-W"));

    // One blank between them serves both words.
    const std::string both = BuildCommandLine({"-DEBUG", "-w"});
    EXPECT_EQ(both, " -DEBUG -W ");
    EXPECT_TRUE(HasSwitch(both, "-DEBUG"));
    EXPECT_TRUE(HasSwitch(both, "-W"));
    EXPECT_FALSE(HasSwitch(BuildCommandLine({"-Sx"}), "-S"));
}

TEST_F(StartupTest, FirstRunSetsDefaultsAndOpensTheDialogBeforeTheRouter) {
    ASSERT_TRUE(Load({}));
    ASSERT_EQ(dialogCalls.size(), 1u);
    EXPECT_EQ(dialogCalls[0], 0);  // nothing had dialled the router yet
    const Settings& s = rig.cx.settings;
    EXPECT_EQ(s.seca, 180);
    EXPECT_EQ(s.secc, 240);
    EXPECT_EQ(s.ctanni, 10);
    EXPECT_EQ(s.atcutdly, 3);
    EXPECT_EQ(s.dspint, 1000);
    EXPECT_EQ(s.sohoip, "192.168.0.1");
    EXPECT_EQ(rig.cx.AppPath, rig.dir);
    EXPECT_EQ(rig.cx.meter.LogPath(), rig.dir + "/Kestrovan.log");
    EXPECT_EQ(rig.cx.trace.Path(), rig.dir + "/Kestrovan.dbg");
    EXPECT_EQ(rig.cx.meter.DataPath(), rig.dir + "/Kestrovan.dat");
    EXPECT_EQ(rig.tmrDSP->Interval(), 1000);
    EXPECT_EQ(rig.tmrSOHO->Interval(), 2000);
    EXPECT_EQ(transport.connects, 1);
}

// Settings that exist but cannot be read: said, and the end; no first run, nothing written, no
// router.
TEST_F(StartupTest, UnreadableSettingsEndTheProgramBeforeAnythingElse) {
    Store("Setup", "sohoip", "127.0.0.1");
    const auto before = rig.store.values;
    rig.store.unreadable = "/home/u/.config/Qel/Kestrovan.conf: Permission denied";
    ASSERT_TRUE(Load({}));
    EXPECT_TRUE(dialogCalls.empty());
    EXPECT_EQ(transport.connects, 0);
    ASSERT_EQ(rig.view.boxes.size(), 1u);
    EXPECT_EQ(rig.view.boxes[0].text,
              std::string(kSettingsUnreadableText) + "\n" + rig.store.unreadable);
    EXPECT_EQ(rig.store.values, before);
}

TEST_F(StartupTest, SettingsSwitchOpensTheDialogOnlyWhenSettingsExist) {
    Store("Setup", "sohoip", "127.0.0.1");
    Store("Setup", "seca", "120");
    Store("Setup", "sohoint", "1500");
    ASSERT_TRUE(Load({}));
    EXPECT_TRUE(dialogCalls.empty());
    EXPECT_EQ(rig.cx.settings.seca, 120);  // the whole record was loaded
    EXPECT_EQ(rig.tmrSOHO->Interval(), 1500);

    dialogCalls.clear();
    rig.cx.settings = Settings{};
    ASSERT_TRUE(Load({"-s"}));
    EXPECT_EQ(dialogCalls.size(), 1u);
}

TEST_F(StartupTest, WaitSwitchDelaysTheStartBeforeAnythingIsRead) {
    ASSERT_TRUE(Load({"-W"}));
    ASSERT_EQ(dialogAtMs.size(), 1u);
    EXPECT_GE(dialogAtMs[0], 5000);
    EXPECT_LT(dialogAtMs[0], 7000);
}

TEST_F(StartupTest, TraceCoversStartUpAndStepLinesNeedDebugMode) {
    Store("Setup", "sohoip", "127.0.0.1");
    Store("Setup", "debuglog", "1");
    ASSERT_TRUE(Load({"-debug"}));
    EXPECT_TRUE(rig.cx.trace.DebugMode());
    std::vector<std::string> lines = TraceLines(rig);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front(), "run");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "init-end"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "trayin-st"), lines.end());
    // The step display went to the status bar as well.
    const auto& h = rig.view.statusHistory;
    EXPECT_NE(std::find(h.begin(), h.end(), "init-st"), h.end());

    // Without the switch: the same start-up writes no step lines.
    RefusingTransport t2;
    TestRig quiet(RigPorts{.transport = &t2});
    SaveStringSetting(quiet.store, "Setup", "sohoip", "127.0.0.1");
    SaveStringSetting(quiet.store, "Setup", "debuglog", "1");
    EXPECT_THROW(Form_Load(quiet.cx, {}, quiet.dir, {}), ProgramEnded);
    lines = TraceLines(quiet);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "run");
    EXPECT_EQ(std::find(lines.begin(), lines.end(), "init-end"), lines.end());
    const auto& q = quiet.view.statusHistory;
    EXPECT_EQ(std::find(q.begin(), q.end(), "init-st"), q.end());
}

TEST_F(StartupTest, WindowSettingsAreApplied) {
    Store("Setup", "sohoip", "127.0.0.1");
    Store("Setup", "winmodes", "1");
    Store("Setup", "dsptop", "1");
    Store("Setup", "dosuumode", "1");
    FormLoadSteps steps;
    int restored = 0;
    steps.RestoreWindowPosition = [&] { ++restored; };
    rig.view.visible = false;  // a new window is not on screen yet
    ASSERT_TRUE(Load({}, steps));
    EXPECT_EQ(restored, 1);
    EXPECT_FALSE(rig.view.visible);  // only the tray icon
    EXPECT_EQ(rig.view.restores, 0);
    EXPECT_EQ(tray.icons, 1);
    EXPECT_TRUE(rig.view.topmost);
    EXPECT_EQ(rig.view.CheckBoxValue(CheckBox::ChkTopDsp), 1);
    EXPECT_EQ(rig.view.label(3), "当日累積");
    EXPECT_FALSE(rig.view.MenuChecked(MenuItem::MainCutBrk));
    EXPECT_FALSE(rig.cx.link.CutBreak());
}

TEST_F(StartupTest, SecondInstanceIsRefusedBeforeAnythingElse) {
    FormLoadSteps steps;
    steps.AnotherInstanceRunning = [] { return InstanceCheck{InstanceCheck::Running, {}}; };
    ASSERT_TRUE(Load({"-DEBUG"}, steps));
    ASSERT_EQ(rig.view.boxes.size(), 1u);
    EXPECT_EQ(rig.view.boxes[0].text, "すでに起動されています");
    EXPECT_FALSE(rig.cx.trace.DebugMode());
    EXPECT_TRUE(dialogCalls.empty());
    EXPECT_EQ(transport.connects, 0);
    EXPECT_TRUE(rig.store.values.empty());
}

// Without a lock nothing could stop a twin metering the same calls: refused, and said why.
TEST_F(StartupTest, NoLockNoStart) {
    FormLoadSteps steps;
    steps.AnotherInstanceRunning = [] {
        return InstanceCheck{InstanceCheck::NoLock, "bind: EPERM"};
    };
    ASSERT_TRUE(Load({}, steps));
    ASSERT_EQ(rig.view.boxes.size(), 1u);
    EXPECT_EQ(rig.view.boxes[0].text, std::string(kNoInstanceLockText) + "\nbind: EPERM");
    EXPECT_EQ(transport.connects, 0);
}

// The lock is a name in the kernel: nothing on disk to delete or to be unable to write.
TEST(InstanceLockTest, OneHolderAtATimeTheSecondStartKnocksAndNoStaleLockAfterACrash) {
    const std::string name =
        InstanceName("/test/" + std::to_string(std::random_device{}()) + "/Qel");
    EXPECT_NE(name, InstanceName("/test/other/Qel"));
    std::string error;
    {
        InstanceLock first, second;
        EXPECT_FALSE(InstanceRunning(name));
        EXPECT_EQ(first.Acquire(name, error), InstanceLock::Result::Acquired);
        // Pelvaro's look at the lock is no knock.
        EXPECT_TRUE(InstanceRunning(name));
        EXPECT_FALSE(first.TakeRequest());  // nobody has knocked
        EXPECT_EQ(second.Acquire(name, error), InstanceLock::Result::HeldElsewhere);
        EXPECT_TRUE(first.TakeRequest());
        first.Release();
        EXPECT_FALSE(InstanceRunning(name));
        EXPECT_EQ(second.Acquire(name, error), InstanceLock::Result::Acquired);
    }

#ifndef _WIN32
    // A holder that dies without releasing leaves nothing behind; one of another user is not
    // taken for the user's own program (tried where a test may change its user).
    for (const bool otherUser : {false, true}) {
        if (otherUser && ::geteuid() != 0) continue;
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (otherUser && ::setuid(65534) != 0) ::_exit(1);
            InstanceLock held;
            std::string e;
            const char ok = held.Acquire(name, e) == InstanceLock::Result::Acquired ? 'y' : 'n';
            [[maybe_unused]] ssize_t n = ::write(ready[1], &ok, 1);
            ::pause();
            ::_exit(0);
        }
        char ok = 0;
        ASSERT_EQ(::read(ready[0], &ok, 1), 1);
        EXPECT_EQ(ok, 'y');
        InstanceLock third;
        EXPECT_EQ(third.Acquire(name, error),
                  otherUser ? InstanceLock::Result::Failed : InstanceLock::Result::HeldElsewhere);
        if (otherUser) {
            EXPECT_NE(error.find("another user"), std::string::npos) << error;
        }
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        EXPECT_EQ(third.Acquire(name, error), InstanceLock::Result::Acquired);
        ::close(ready[0]);
        ::close(ready[1]);
    }
#endif
}

TEST_F(StartupTest, EndClosesTheOpenRecordAndTheTraceEndsWithQuery) {
    rig.cx.settings.ctanni = 10;
    rig.cx.settings.linecut = 0;
    rig.OpenTrace();
    rig.cx.tray.TrayIn();
    // A call on B1 that is still up: without linecut the line is left alone.
    rig.cx.link.StatusForTest().CurrentChannel = 1;
    CallRecord& call = rig.cx.meter.CallForTest();
    call.ChConnected[1] = true;
    call.ConnDate = rig.loop.Now().date;
    call.ConnTime = rig.loop.Now().time;
    call.CallUnits = 1;
    EXPECT_THROW(mnuEnd_Click(rig.cx), ProgramEnded);
    EXPECT_EQ(transport.sends, 0);
    EXPECT_FALSE(rig.cx.meter.ChConnected(1));
    EXPECT_FALSE(rig.cx.tray.Installed());
    EXPECT_EQ(tray.icons, 0);
    EXPECT_NE(rig.ReadDataFile("Kestrovan.log").find("DisConnect"), std::string::npos);
    const std::vector<std::string> lines = TraceLines(rig);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "query");
    EXPECT_TRUE(rig.view.boxes.empty());
}

// "--check-totals" reads the settings and both files beside the program; "--repair-totals"
// writes the totals from the log and keeps the old file.
TEST(CheckTotalsCommand, ComparesAndRepairs) {
    TestRig rig;
    SaveStringSetting(rig.store, "Setup", "seca", "30");
    SaveStringSetting(rig.store, "Setup", "telstday", "1");
    std::ofstream(rig.dir + "/Kestrovan.log", std::ios::binary)
        << "\"Connect\",\"2026/12/07\",\"09:00:00\",0,0\r\n"
           "\"DisConnect\",\"2026/12/07\",\"09:01:15\",\"00:01:15\",75,3,0,0\r\n"
           "\"Tel\",\"2026/12/07\",\"09:00:00\",\"2026/12/07\",\"09:01:15\",\"00:01:15\",75,3,0,0\r\n";
    std::ofstream(rig.dir + "/Kestrovan.dat", std::ios::binary) << "3,7,3,\"2026/11/30\",0\r\n";
    const LocalTime now{Date{2026, 12, 7}, TimeOfDay{12, 0, 0}};
    std::string out;
    // Nothing logged and no totals yet: the meter would start from nothing, so they agree.
    EXPECT_EQ(CheckTotalsCommand(rig.store, rig.dir + "/none", false, now, out), 0) << out;
    EXPECT_EQ(CheckTotalsCommand(rig.store, rig.dir, false, now, out), 0) << out;
    EXPECT_EQ(out, "累積ファイル: " + rig.dir + "/Kestrovan.dat\n通話記録: " + rig.dir +
                       "/Kestrovan.log (通話 1 件)\n"
                       "          累積ファイル  通話記録から\n"
                       "当日累積             3             3\n"
                       "当月累積             3             3\n"
                       "先月累積             0             0\n"
                       "一致しています\n");
    std::ofstream(rig.dir + "/Kestrovan.dat", std::ios::binary) << "9,7,9,\"2026/11/30\",0\r\n";
    EXPECT_EQ(CheckTotalsCommand(rig.store, rig.dir, false, now, out), 1) << out;
    EXPECT_EQ(CheckTotalsCommand(rig.store, rig.dir, true, now, out), 0) << out;
    EXPECT_EQ(rig.ReadDataFile("Kestrovan.dat"), "3,7,3,\"2026/11/30\",0\r\n");
    EXPECT_EQ(rig.ReadDataFile("Kestrovan.dat.bak-20261207120000"), "9,7,9,\"2026/11/30\",0\r\n");
}

// The help page: opened when it is there; said when it is missing or nothing can show it.
TEST_F(StartupTest, HelpSaysWhyItDoesNotOpen) {
    rig.cx.AppPath = rig.dir;
    const std::string page = rig.dir + "/使用方法.htm";
    mnuHELP_Click(rig.cx);
    ASSERT_EQ(rig.view.boxes.size(), 1u);
    EXPECT_EQ(rig.view.boxes[0].text, "ヘルプファイルが見つかりません:\n" + page);
    EXPECT_TRUE(rig.shell.opened.empty());
    std::ofstream(datafile::FsPath(page)) << "<html></html>";
    mnuHELP_Click(rig.cx);
    EXPECT_EQ(rig.shell.opened, std::vector<std::string>{page});
    EXPECT_EQ(rig.view.boxes.size(), 1u);
    ASSERT_TRUE(rig.shell.failedLater);
    rig.shell.failedLater();  // the opener found no browser
    ASSERT_EQ(rig.view.boxes.size(), 2u);
    EXPECT_NE(rig.view.boxes[1].text.find("ブラウザー"), std::string::npos);
}

// An installed copy: the page in the data folder, reached through "..", unless one lies beside
// the program.
TEST_F(StartupTest, HelpFoundInTheInstallsDataFolder) {
    namespace fs = std::filesystem;
    const std::string bin = rig.dir + "/bin", share = rig.dir + "/share/kestrovan";
    fs::create_directories(bin);
    fs::create_directories(share);
    const std::vector<std::string> folders{rig.dir + "/missing", bin + "/../share/kestrovan"};
    EXPECT_EQ(FindHelpPage(bin, folders), bin + "/使用方法.htm");
    // Through the UTF-8 path, so the name is the same on Windows.
    std::ofstream(datafile::FsPath(share + "/使用方法.htm")) << "<html></html>";
    EXPECT_EQ(FindHelpPage(bin, folders), share + "/使用方法.htm");
    std::ofstream(datafile::FsPath(bin + "/使用方法.htm")) << "<html></html>";
    EXPECT_EQ(FindHelpPage(bin, folders), bin + "/使用方法.htm");
}

TEST_F(StartupTest, DelayedActions) {
    WireMainTimers(rig.cx);
    ShowHint(rig.cx, "x");
    EXPECT_EQ(rig.view.status(), "x");
    EXPECT_EQ(rig.cx.delayed.Pending(), DelayedAction::ClearStatus);
    EXPECT_EQ(rig.Tmr1Sec->Interval(), 5000);
    rig.loop.Advance(4999);
    EXPECT_EQ(rig.view.status(), "x");
    rig.loop.Advance(1);
    EXPECT_EQ(rig.view.status(), "");
    EXPECT_FALSE(rig.Tmr1Sec->Enabled());

    // The window hides after a call only where the tray icon can bring it back.
    for (const bool docked : {false, true}) {
        FakeTray icon;
        rig.cx.tray.SetPort(docked ? &icon : nullptr);
        rig.cx.tray.TrayIn();
        rig.view.visible = true;
        rig.cx.delayed.Arm(DelayedAction::Hide, 5000);
        rig.loop.Advance(5000);
        EXPECT_EQ(rig.view.visible, !docked);
        rig.cx.tray.TrayOut();
        rig.cx.tray.SetPort(nullptr);
    }

    rig.OpenTrace();
    rig.cx.delayed.Arm(DelayedAction::Unload, 100);
    EXPECT_THROW(rig.loop.Advance(100), ProgramEnded);
    EXPECT_EQ(TraceLines(rig).back(), "query");
}

// A program left running for days: between calls the poll tick moves the shown totals to the
// new accounting day (05:00) and period, and the day/month switch shows the fresh figures.
TEST(TotalsBetweenCalls, PollTickRollsTheDayAndPeriod) {
    TestRig rig({Date{2026, 12, 1}, TimeOfDay{4, 59, 50}});
    Context& cx = rig.cx;
    cx.settings.ctanni = 10;
    cx.settings.telstday = 1;
    cx.settings.dosuumode = 1;
    ChargeTotals& totals = cx.meter.TotalsForTest();
    totals.DayUnits = 5;
    totals.MonthUnits = 9;
    totals.PrevMonthUnits = 2;
    totals.DayOf = Date{2026, 11, 30};         // the accounting day before 05:00
    totals.PeriodMarker = Date{2026, 10, 31};  // November's period
    tmrSOHO_Timer(cx);                         // link not ready: no poll, but the roll
    EXPECT_EQ(totals.MonthUnits, 0);           // 1 December began a new period
    EXPECT_EQ(totals.PrevMonthUnits, 9);
    EXPECT_EQ(totals.DayUnits, 5);  // still the accounting day of 30 November
    rig.loop.Advance(15000);        // 05:00:05
    tmrSOHO_Timer(cx);
    EXPECT_EQ(totals.DayUnits, 0);
    EXPECT_EQ(rig.view.lcd(3), "\\");
    Lbl3_Click(cx);  // to the month: nothing yet this period
    EXPECT_EQ(rig.view.status(), "先月累積:\\90");
}

TEST_F(StartupTest, PollTimerWaitsForTheLinkToBeReady) {
    rig.cx.link.SetLinkReady(false);
    tmrSOHO_Timer(rig.cx);
    EXPECT_EQ(transport.sends, 0);
    rig.cx.link.SetLinkReady(true);
    rig.cx.link.StateForTest().SocketOpen = true;
    tmrSOHO_Timer(rig.cx);
    EXPECT_GE(transport.sends, 1);
}

TEST_F(StartupTest, DebugSummaryHasItsEightLines) {
    TestRig holiday({Date{2026, 1, 1}, TimeOfDay{9, 0, 0}});
    Context& cx = holiday.cx;
    cx.settings.holiday = kDefaultHolidays;
    cx.settings.HolidayTable = SplitHolidays(kDefaultHolidays);
    cx.link.StatusForTest().CurrentChannel = 2;
    cx.link.SetDisplayChannel(0);
    cx.link.SetLinkReady(true);
    cx.link.StateForTest().ActivityTag = "getnow";
    cx.link.StateForTest().ClockOffset = -3;
    cx.meter.CallForTest().ConnectAdjust = 12;
    cx.link.StateForTest().ReplyText = u"MN128>";
    holiday.tmrSOHO->SetInterval(2000);
    holiday.tmrSOHO->SetEnabled(true);
    BtnDEBUG_Click(cx);
    ASSERT_EQ(holiday.view.boxes.size(), 1u);
    EXPECT_EQ(holiday.view.boxes[0].text,
              "Connect:B2\n\rStsDsp:B\n\rholiday:1\n\rtmrSOHO:(sw:1) sub:getnow\n\rtrue\n\r"
              "秒adjust:-3  ＋はPCが進んでいる\n\r接続adjust:12\n\rrecv:MN128>@@");
    EXPECT_EQ(holiday.view.boxes[0].title, "");
}

}  // namespace
}  // namespace kv::test
