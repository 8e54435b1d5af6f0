// SPDX-License-Identifier: GPL-3.0-or-later
// The tray icon's life and the tray menus' handlers, against the fakes.
#include <gtest/gtest.h>

#include "app/startup.h"
#include "app/tray.h"
#include "app/tray_menu.h"
#include "common/trace.h"
#include "settings/settings.h"
#include "support/test_rig.h"

namespace kv {
namespace {

int Count(const std::string& text, const std::string& word) {
    int n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
    return n;
}

class FakeTrayIcon : public TrayIconPort {
  public:
    bool Available() override { return available; }
    void Add(const std::string& tip) override { added.push_back(tip); }
    void Remove() override { ++removed; }
    void WatchForNotificationArea(std::function<void()> appeared) override { watching = appeared; }
    void WatchForLoss(std::function<void()> lost) override { gone = lost; }
    void SetTip(const std::string&) override {}
    bool available = true;
    std::function<void()> watching;
    std::function<void()> gone;
    std::vector<std::string> added;
    int removed = 0;
};

// Records what the link sends; the router never answers.
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
        rig.cx.tray.SetPort(&icon);
        LinkState& link = rig.cx.link.StateForTest();
        link.SocketOpen = true;
        link.LinkReady = true;
        link.LoggedIn = true;
        link.RouterName = u"MN>";
        rig.cx.settings.sohoip = "127.0.0.1";
        rig.OpenTrace();
    }
    std::string Trace() { return rig.ReadDataFile("Kestrovan.dbg"); }
    FakeTrayIcon icon;
    SilentTransport transport;  // before the rig, which holds it
    test::TestRig rig{test::RigPorts{.transport = &transport}};
};

TEST_F(TrayTest, IconIsPutInOnceAndTakenOutOnce) {
    rig.cx.trace.SetDebugMode(true);
    rig.cx.tray.TrayOut();
    rig.cx.tray.TrayIn();
    rig.cx.tray.TrayIn();
    EXPECT_EQ(icon.added, std::vector<std::string>{"Kestrovan Ver 0.66β"});
    EXPECT_EQ(icon.removed, 0);
    rig.cx.tray.TrayOut();
    rig.cx.tray.TrayOut();
    EXPECT_EQ(icon.removed, 1);
    EXPECT_FALSE(rig.cx.tray.Installed());
    for (const char* tag : {"trayin-st", "trayin-end", "trayout-st", "trayout-end"})
        EXPECT_EQ(Count(Trace(), tag), 1) << tag;
}

TEST_F(TrayTest, WithoutNotificationAreaTheWindowStaysReachableAndTheUserIsToldOnce) {
    icon.available = false;
    rig.view.visible = false;  // started hidden (winmodes 1)
    rig.cx.tray.TrayIn();
    rig.cx.tray.TrayIn();
    EXPECT_TRUE(icon.added.empty());
    EXPECT_TRUE(rig.view.visible);
    // Said without waiting for an answer: nothing else may wait on the user.
    EXPECT_TRUE(rig.view.boxes.empty());
    ASSERT_EQ(rig.view.notices, std::vector<std::string>{kNoTrayText});
    EXPECT_EQ(Count(Trace(), "trayin err:"), 1);  // level 3: written without debug mode
    // The close box minimises: hidden, nothing could bring the window back.
    bool cancel = false;
    Form_QueryUnload(rig.cx, cancel, UnloadMode::UserClose);
    EXPECT_TRUE(cancel);
    EXPECT_TRUE(rig.view.visible);
    EXPECT_EQ(rig.view.minimized, 1);
    // A panel started later: the icon goes in then, once, and the close box hides again.
    icon.available = true;
    ASSERT_TRUE(icon.watching);
    icon.watching();
    icon.watching();
    EXPECT_EQ(icon.added, std::vector<std::string>{kTrayTip});
    EXPECT_TRUE(rig.cx.tray.Docked());
    Form_QueryUnload(rig.cx, cancel, UnloadMode::UserClose);
    EXPECT_FALSE(rig.view.visible);
}

TEST_F(TrayTest, NotesAreSaidUntilTheUserSilencesThem) {
    struct Case {
        bool tray;
        const char* key;
        const char* text;
    };
    for (const Case c :
         {Case{false, "notraynote", kNoTrayText}, Case{true, "closenote", kClosedToTrayText}}) {
        SCOPED_TRACE(c.key);
        for (int start = 0; start < 3; ++start) {
            test::TestRig run{test::RigPorts{.transport = &transport}};
            run.store.values = rig.store.values;  // the same user, started again
            FakeTrayIcon port;
            port.available = c.tray;
            run.cx.tray.SetPort(&port);
            run.cx.settings.notraynote = LoadIntSetting(run.store, "Extra", "notraynote");
            run.cx.settings.closenote = LoadIntSetting(run.store, "Extra", "closenote");
            run.cx.tray.TrayIn();
            // Closed to the tray twice in a run: said once at most.
            bool cancel = false;
            Form_QueryUnload(run.cx, cancel, UnloadMode::UserClose);
            Form_QueryUnload(run.cx, cancel, UnloadMode::UserClose);
            // Said at the first two starts; "次回から表示しない" ticked at the second.
            if (start < 2) {
                ASSERT_EQ(run.view.notices, std::vector<std::string>{c.text});
                if (start == 1) run.view.silencers[0]();
            } else {
                EXPECT_TRUE(run.view.notices.empty());
            }
            rig.store.values = run.store.values;
        }
        EXPECT_EQ(rig.store.values[std::string("Qel\\Kestrovan\\Extra\\") + c.key], "1");
    }
}

// The panel closed at run time with the window hidden: the window comes up, the close box
// minimises, and the icon docks again when a panel is back.
TEST_F(TrayTest, NotificationAreaGoingAwayBringsTheWindowBack) {
    icon.available = true;
    rig.cx.tray.TrayIn();
    bool cancel = false;
    Form_QueryUnload(rig.cx, cancel, UnloadMode::UserClose);
    ASSERT_FALSE(rig.view.visible);
    ASSERT_TRUE(icon.gone);
    icon.available = false;
    icon.gone();
    EXPECT_TRUE(rig.view.visible);
    EXPECT_FALSE(rig.cx.tray.Docked());
    EXPECT_EQ(rig.view.status(), kTrayGoneText);
    Form_QueryUnload(rig.cx, cancel, UnloadMode::UserClose);
    EXPECT_TRUE(rig.view.visible);
    EXPECT_EQ(rig.view.minimized, 1);
    icon.available = true;
    ASSERT_TRUE(icon.watching);
    icon.watching();
    EXPECT_TRUE(rig.cx.tray.Docked());
    EXPECT_EQ(icon.added.size(), 2u);
    EXPECT_NE(Trace().find("notification area gone"), std::string::npos);
}

TEST_F(TrayTest, EndTakesTheIconOutAtOnceAndUnloadsTheWindowATenthLaterLineUp) {
    rig.cx.settings.linecut = 1;
    rig.cx.tray.TrayIn();
    frm_mnu::mnuEnd_Click(rig.cx);
    EXPECT_EQ(icon.removed, 1);
    EXPECT_EQ(rig.cx.delayed.Pending(), DelayedAction::Unload);
    EXPECT_EQ(rig.Tmr1Sec->Interval(), 100);
    EXPECT_TRUE(rig.Tmr1Sec->Enabled());
    EXPECT_EQ(transport.sent, "");
}

TEST_F(TrayTest, RightClickMenuActsOnlyWhileLoggedIn) {
    std::vector<int> clicks;
    rig.view.onCheckBoxClick = [&](CheckBox, int value) { clicks.push_back(value); };
    rig.cx.link.StateForTest().LoggedIn = false;
    for (int16_t index = 1; index <= 3; ++index) frm_mnu::mnuRight_Click(rig.cx, index);
    EXPECT_EQ(transport.sent, "");
    EXPECT_TRUE(clicks.empty());

    rig.cx.link.StateForTest().LoggedIn = true;
    // "接続抑制" ticks the check box while calling is automatic, unticks it otherwise.
    rig.cx.settings.rmtauto = 0;
    frm_mnu::mnuRight_Click(rig.cx, 3);
    rig.cx.settings.rmtauto = 1;
    frm_mnu::mnuRight_Click(rig.cx, 3);
    EXPECT_EQ(clicks, (std::vector<int>{1, 0}));
    rig.cx.link.SetLinkReady(false);  // another exchange holds the link: left for the next poll
    frm_mnu::mnuRight_Click(rig.cx, 2);
    EXPECT_TRUE(rig.cx.link.State().DisconnectPending);
    rig.cx.link.SetLinkReady(true);
    rig.cx.settings.cnctno = 3;
    EXPECT_THROW(
        {
            frm_mnu::mnuRight_Click(rig.cx, 1);
            rig.loop.Advance(60000);
        },
        test::ProgramEnded);  // silent router
    EXPECT_NE(transport.sent.find("connect 3"), std::string::npos) << transport.sent;
}

TEST_F(TrayTest, MenuOneOpensPageSetupAndWindowAndTogglesTheCutBreak) {
    int setups = 0;
    rig.cx.hooks.ShowSetupDialog = [&] { ++setups; };
    rig.view.visible = false;
    frm_mnu::mnuSOHO_Click(rig.cx);
    frm_mnu::mnuInit_Click(rig.cx);
    frm_mnu::mnuOut_Click(rig.cx);
    EXPECT_EQ(rig.shell.opened, std::vector<std::string>{"http://127.0.0.1"});
    EXPECT_EQ(setups, 1);
    EXPECT_TRUE(rig.view.visible);
    frm_mnu::mnuCutBrk_Click(rig.cx);
    EXPECT_TRUE(rig.view.MenuChecked(MenuItem::TrayCutBrk));
    EXPECT_TRUE(rig.cx.link.CutBreak());
    frm_mnu::mnuCutBrk_Click(rig.cx);
    EXPECT_FALSE(rig.view.MenuChecked(MenuItem::TrayCutBrk));
}

}  // namespace
}  // namespace kv
