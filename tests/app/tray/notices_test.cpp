// SPDX-License-Identifier: GPL-3.0-or-later
// The additions "通知を表示する" and "トレイのヒントに状態を表示する": when the program notifies,
// and what the tip shows, on a scripted router and the fake clock.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "accounting/call_rig.h"
#include "app/commands.h"
#include "app/notices.h"
#include "app/tray.h"
#include "link/link_rig.h"

namespace kv::test {
namespace {

class RecordingNotifier : public NotifierPort {
  public:
    void Notify(const std::string& text) override { shown.push_back(text); }
    std::vector<std::string> shown;
};

class TipTray : public TrayIconPort {
  public:
    bool Available() override { return true; }
    void Add(const std::string& tip) override { tips.push_back(tip); }
    void Remove() override {}
    void SetTip(const std::string& tip) override { tips.push_back(tip); }
    std::vector<std::string> tips;
};

// A router that reports B1 as the test sets it and drops the line when told to disconnect.
struct NoticeRig : LinkRig {
    NoticeRig() {
        Settings& s = cx.settings;
        s.seca = s.secb = s.secc = 180;
        s.ctanni = 10;
        s.atcuttm = 30;
        s.atcutmode = 1;
        s.atcutdly = 3;
        s.sohoint = s.soho2int = 2000;
        s.dspint = 1000;
        s.winmodec = s.winmodedc = 1;
        rig.tmrSOHO->SetInterval(s.sohoint);
        rig.tmrDSP->SetInterval(s.dspint);
        WireMainTimers(cx);
        cx.notices.SetPort(&notifier);

        transport.Greeting("\n\rMN128-SOHO console\n\r");
        transport.Answer("", "\n\rlogin: ");
        transport.Answer("user", "\n\rWelcome to MN128-SOHO!\n\r" + kPrompt);
        transport.Answer("show time", TimeReply("10:00:00"));
        transport.onLine = [this](const std::string& line) -> std::optional<std::string> {
            if (line == "show status")
                return "\n\r回線種別:ISDN\n\r" + ChannelBlock(1, up, idle, "2026/12/07 10:00:00") +
                       ChannelBlock(2, false) + kPrompt;
            if (line.rfind("disconnect b", 0) == 0) up = false;
            return kPrompt;
        };
        cx.link.LoginSOHO();
        Settle();
    }
    void Settle() {
        loop.RunUntil([this] { return !cx.link.ConsoleHeld(); });
    }
    // The next poll sees the call.
    void CallUp(int idleSecs) {
        up = true;
        idle = idleSecs;
        cx.link.GetNow();
        Settle();
        EXPECT_TRUE(cx.meter.ChConnected(1));
    }
    void Lose() {
        transport.PeerClose();
        loop.Advance(100);
        EXPECT_TRUE(cx.link.Lost());
    }
    void ComeBack() {
        loop.Advance(3000);  // the first attempt to log in again follows after 2 s
        EXPECT_FALSE(cx.link.Lost());
    }

    RecordingNotifier notifier;
    bool up = false;
    int idle = 0;
};

TEST(Notices, OnlyWhatTheUserNeedsToKnowIsNotified) {
    const std::string start = kNotifyCallStarted, cut = kNotifyAutoCut, lost = kNotifyLinkLost,
                      lostInCall = kNotifyLinkLostInCall, back = kNotifyLinkBack;
    struct Case {
        const char* name;
        int16_t notify;
        std::function<void(NoticeRig&)> run;
        std::vector<std::string> shown;
    };
    const std::vector<Case> cases = {
        {"a call starts", 1, [](NoticeRig& r) { r.CallUp(0); }, {start}},
        {"idle line cut before the next unit",
         1,
         [](NoticeRig& r) {
             r.CallUp(40);
             r.loop.Advance(180 * 1000);
             EXPECT_FALSE(r.cx.meter.ChConnected(1));
         },
         {start, cut}},
        {"the user's cut",
         1,
         [](NoticeRig& r) {
             r.CallUp(40);
             BtnDisConnect_Click(r.cx);
             EXPECT_FALSE(r.cx.meter.ChConnected(1));
         },
         {start}},
        {"the line drops by itself",
         1,
         [](NoticeRig& r) {
             r.CallUp(0);
             r.up = false;
             r.cx.link.GetNow();
             r.Settle();
         },
         {start}},
        {"the router goes away", 1, [](NoticeRig& r) { r.Lose(); }, {lost}},
        {"and comes back",
         1,
         [](NoticeRig& r) {
             r.Lose();
             r.ComeBack();
         },
         {lost, back}},
        {"a call kept over the loss is not new",
         1,
         [](NoticeRig& r) {
             r.CallUp(0);
             r.Lose();
             r.ComeBack();
             EXPECT_TRUE(r.cx.meter.ChConnected(1));
         },
         {start, lostInCall, back}},
        {"switched off",
         0,
         [](NoticeRig& r) {
             r.CallUp(40);
             r.Lose();
             r.ComeBack();
             r.loop.Advance(180 * 1000);
         },
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NoticeRig r;
        r.cx.settings.notify = c.notify;
        c.run(r);
        EXPECT_EQ(r.notifier.shown, c.shown);
    }
}

TEST(TrayTip, ShowsTheLineOnlyWhenAskedAndKeepsUpWithTheCall) {
    CallRig rig;
    TipTray tray;
    Context& cx = rig.cx;
    // The display tick as the window wires it; no poll (nobody answers it here).
    rig.tmrDSP->SetHandler([&cx] { tmrDSP_Timer(cx); });
    cx.tray.SetPort(&tray);
    cx.tray.TrayIn();
    const std::string tip = kTrayTip;

    // Off: the described tip stays, whatever happens.
    cx.link.StateForTest().LoggedIn = true;
    rig.Open(1, "2026/12/07 10:00:00");
    rig.AdvanceSecs(5);
    rig.Close(1);
    EXPECT_EQ(tray.tips, std::vector<std::string>{tip});

    cx.settings.traytip = 1;
    cx.link.StateForTest().LoggedIn = false;
    cx.ShowTrayState();
    EXPECT_EQ(tray.tips.back(), tip + "\nMN128未接続");
    cx.link.StateForTest().LoggedIn = true;
    cx.ShowTrayState();
    EXPECT_EQ(tray.tips.back(), tip + "\n未接続");

    rig.Open(1, FormatDate(rig.loop.Now().date) + " " + FormatTime(rig.loop.Now().time));
    rig.AdvanceSecs(65);
    EXPECT_EQ(tray.tips.back(), tip + "\n接続中(B1) 00:01:05 ¥10");
    rig.AdvanceSecs(120);  // into the second unit
    EXPECT_EQ(tray.tips.back(), tip + "\n接続中(B1) 00:03:05 ¥20");

    rig.Close(1);
    EXPECT_EQ(tray.tips.back(), tip + "\n未接続");
    cx.settings.traytip = 0;
    cx.ShowTrayState();
    EXPECT_EQ(tray.tips.back(), tip);
}

}  // namespace
}  // namespace kv::test
