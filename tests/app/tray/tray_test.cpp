// The tray icon's life and the tray menus' handlers, against the fakes.
#include <gtest/gtest.h>

#include "app/trace.h"
#include "app/tray.h"
#include "support/fakes.h"

namespace kv {
namespace {

class FakeTrayIcon : public TrayIconPort {
public:
    bool Available() override { return available; }
    void Add(const std::string& tip) override { added.push_back(tip); }
    void Remove() override { ++removed; }
    bool available = true;
    std::vector<std::string> added;
    int removed = 0;
};

// Records what the link would send; nothing ever answers.
class SilentTransport : public ConsoleTransport {
public:
    int Connect(const std::string&, uint16_t) override { return 0; }
    int Send(const char* data, int len) override {
        sent.append(data, static_cast<size_t>(len));
        return len;
    }
    int Recv(char*, int) override { return -1; }
    void Close() override {}
    int LastError() const override { return 10035; }
    void SetNotifications(bool) override {}
    void SetNotifyHandler(std::function<void()>) override {}
    std::string sent;
};

class TrayTest : public ::testing::Test {
protected:
    void SetUp() override {
        rig.cx.ports.tray = &icon;
        rig.cx.ports.transport = &transport;
        rig.cx.link.SocketOpen = true;
        rig.cx.link.LinkReady = 1;
        rig.cx.settings.sohoip = "127.0.0.1";
        rig.cx.settings.debuglog = 1;
        rig.cx.DebugMode = 1;
        WriteTrace(rig.cx, 1, "");
    }
    std::string Trace() { return rig.ReadDataFile("Kestrovan.dbg"); }

    test::TestRig rig;
    FakeTrayIcon icon;
    SilentTransport transport;
};

TEST_F(TrayTest, IconIsPutInOnceAndTakenOutOnce) {
    TrayOut(rig.cx);  // nothing there yet
    EXPECT_EQ(icon.removed, 0);

    TrayIn(rig.cx);
    TrayIn(rig.cx);
    ASSERT_EQ(icon.added.size(), 1u);
    EXPECT_EQ(icon.added[0], "Kestrovan Ver 0.66β");
    EXPECT_EQ(rig.cx.TrayInstalled, 1);

    TrayOut(rig.cx);
    TrayOut(rig.cx);
    EXPECT_EQ(icon.removed, 1);
    EXPECT_EQ(rig.cx.TrayInstalled, 0);

    const std::string trace = Trace();
    for (const char* tag : {"trayin-st", "trayin-end", "trayout-st", "trayout-end"})
        EXPECT_NE(trace.find(tag), std::string::npos) << tag;
    EXPECT_TRUE(rig.view.statusHistory.empty());
}

TEST_F(TrayTest, WithoutNotificationAreaTheWindowStaysReachableAndTheUserIsToldOnce) {
    icon.available = false;
    rig.view.visible = false;  // started hidden (winmodes 1)
    rig.cx.DebugMode = 0;      // the error line is written without debug mode too
    TrayIn(rig.cx);
    TrayIn(rig.cx);
    EXPECT_TRUE(icon.added.empty());
    EXPECT_TRUE(rig.view.visible);
    EXPECT_EQ(rig.view.statusHistory, std::vector<std::string>{kNoTrayText});
    const std::string trace = Trace();
    EXPECT_NE(trace.find("trayin err:"), std::string::npos);
    EXPECT_EQ(trace.find("trayin err:"), trace.rfind("trayin err:"));
}

TEST_F(TrayTest, EndRemovesTheIconAtOnceAndUnloadsTheWindowATenthLater) {
    TrayIn(rig.cx);
    frm_mnu::mnuEnd_Click(rig.cx);
    EXPECT_EQ(icon.removed, 1);
    EXPECT_EQ(rig.cx.TrayInstalled, 0);
    EXPECT_EQ(rig.cx.DelayedAction, 1);
    EXPECT_EQ(rig.Tmr1Sec->Interval(), 100);
    EXPECT_TRUE(rig.Tmr1Sec->Enabled());
    // The line is left alone, whatever linecut says.
    EXPECT_EQ(transport.sent.find("disconnect"), std::string::npos);
}

TEST_F(TrayTest, RightClickMenuDoesNothingWhileNotLoggedIn) {
    rig.cx.link.LoggedIn = 0;
    int clicks = 0;
    rig.view.onCheckBoxClick = [&](CheckBox, int) { ++clicks; };
    for (int16_t index = 1; index <= 3; ++index) frm_mnu::mnuRight_Click(rig.cx, index);
    EXPECT_TRUE(transport.sent.empty());
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(rig.view.CheckBoxValue(CheckBox::ChkAutoMode), 0);
    EXPECT_EQ(rig.cx.link.DisconnectPending, 0);
}

TEST_F(TrayTest, RightClickMenuDrivesTheLineWhenLoggedIn) {
    rig.cx.link.LoggedIn = 1;
    std::vector<int> clicks;
    rig.view.onCheckBoxClick = [&](CheckBox box, int value) {
        if (box == CheckBox::ChkAutoMode) clicks.push_back(value);
    };
    // "接続抑制" ticks the check box when calling is automatic, and unticks it otherwise.
    rig.cx.settings.rmtauto = 0;
    frm_mnu::mnuRight_Click(rig.cx, 3);
    rig.cx.settings.rmtauto = 1;
    frm_mnu::mnuRight_Click(rig.cx, 3);
    EXPECT_EQ(clicks, (std::vector<int>{1, 0}));

    // Disconnect while another exchange holds the link: left pending for the next poll.
    rig.cx.link.LinkReady = 0;
    frm_mnu::mnuRight_Click(rig.cx, 2);
    EXPECT_EQ(rig.cx.link.DisconnectPending, 1);

    // Connect dials the configured number; the silent router ends the program.
    rig.cx.link.LinkReady = 1;
    rig.cx.settings.cnctno = 3;
    rig.cx.link.RouterName = u"MN128-SOHO>";
    EXPECT_THROW(frm_mnu::mnuRight_Click(rig.cx, 1), test::ProgramEnded);
    EXPECT_NE(transport.sent.find("connect 3"), std::string::npos) << transport.sent;
}

TEST_F(TrayTest, MenuOneOpensPageSetupAndWindowAndTogglesTheCutBreakMark) {
    int setups = 0;
    rig.cx.hooks.ShowSetupDialog = [&] { ++setups; };
    frm_mnu::mnuSOHO_Click(rig.cx);
    frm_mnu::mnuInit_Click(rig.cx);
    rig.view.visible = false;
    frm_mnu::mnuOut_Click(rig.cx);
    EXPECT_EQ(rig.shell.opened, std::vector<std::string>{"http://127.0.0.1"});
    EXPECT_EQ(setups, 1);
    EXPECT_TRUE(rig.view.visible);

    frm_mnu::mnuCutBrk_Click(rig.cx);
    EXPECT_TRUE(rig.view.MenuChecked(MenuItem::TrayCutBrk));
    EXPECT_TRUE(rig.view.MenuChecked(MenuItem::MainCutBrk));
    EXPECT_EQ(rig.cx.CutBreak, 1);
    frm_mnu::mnuCutBrk_Click(rig.cx);
    EXPECT_FALSE(rig.view.MenuChecked(MenuItem::TrayCutBrk));
    EXPECT_EQ(rig.cx.CutBreak, 0);
}

}  // namespace
}  // namespace kv
