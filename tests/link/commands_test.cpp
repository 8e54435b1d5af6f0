// SPDX-License-Identifier: GPL-3.0-or-later
// Connect, disconnect and the automatic-call switch.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "app/commands.h"
#include "app/startup.h"
#include "link/link_rig.h"
#include "settings/settings.h"

namespace kv::test {
namespace {

TEST(Connect, SendsTheDestinationAndFreesTheLink) {
    LinkRig r;
    r.Open();
    r.transport.Answer("connect 1", kPrompt);
    r.cx.settings.cnctno = 1;
    r.cx.link.Connect(r.cx.settings.cnctno);
    r.Settle();
    EXPECT_EQ(r.transport.sent, "connect 1\n\r");
    EXPECT_TRUE(r.cx.link.State().LinkReady);
    EXPECT_FALSE(r.cx.meter.ChConnected(1));  // only a later poll opens the record
}

TEST(Connect, NoAnswerEnds) {
    LinkRig r;
    r.Open();
    EXPECT_EQ(r.Ends([&] { r.cx.link.Connect(12); }), "MN128と接続出来ません(err=4)");
    EXPECT_EQ(r.transport.sent, "connect 12\n\r");
}

TEST(DisConnect, ClosesTheRecordBeforeTheRouterAnswers) {
    LinkRig r;
    r.Open();
    r.transport.Answer("show status", StatusReport(false, true, 3));
    r.cx.link.GetNow();
    r.Settle();
    ASSERT_TRUE(r.cx.meter.ChConnected(2));
    int openWhenAnswered = -1;
    r.transport.onLine = [&](const std::string& line) -> std::optional<std::string> {
        if (line != "disconnect b2") return std::nullopt;
        r.loop.After(5, [&] { openWhenAnswered = r.cx.meter.ChConnected(2); });
        return kPrompt;
    };
    r.cx.link.DisConnect(2);
    r.Settle();
    EXPECT_EQ(r.transport.SentLines().back(), "disconnect b2");
    EXPECT_EQ(openWhenAnswered, 0);
    EXPECT_TRUE(r.cx.link.State().LinkReady);
    EXPECT_TRUE(r.view.messageTexts.empty());  // dspinfo is off
}

TEST(DisConnect, DeferredWhileAnotherExchangeRuns) {
    LinkRig r;
    r.Open();
    r.cx.link.StateForTest().LinkReady = false;
    r.cx.link.DisConnect(1);
    r.Settle();
    EXPECT_TRUE(r.transport.sent.empty());
    EXPECT_TRUE(r.cx.link.State().DisconnectPending);
    EXPECT_FALSE(r.cx.link.State().LinkReady);
}

TEST(DisConnect, ShowsTheRouterInformationAfterItsDisconnectLine) {
    LinkRig r;
    r.Open();
    r.cx.settings.dspinfo = 1;
    r.transport.Answer("disconnect b1",
                       "\n\rB1 切断中\n\r料金 30円\n\r時間 00:03:00\n\rMN128-SOHO% ");
    r.cx.link.DisConnect(1);
    r.Settle();
    ASSERT_EQ(r.view.messageTexts.size(), 1u);
    EXPECT_EQ(r.view.messageTexts[0], "料金 30円\n\r時間 00:03:00\n\r");
    EXPECT_EQ(r.cx.link.LastInformation(), r.view.messageTexts[0]);

    r.transport.Answer("disconnect b1", kPrompt);
    r.cx.link.DisConnect(1);
    r.Settle();
    EXPECT_EQ(r.view.messageTexts.back(), "");
}

TEST(DisConnect, NoAnswerShowsThePendingCountThenEnds) {
    LinkRig r;
    r.Open();
    EXPECT_EQ(r.Ends([&] { r.cx.link.DisConnect(1); }), "MN128と接続出来ません(err=5)");
    ASSERT_EQ(r.view.boxes.size(), 2u);
    EXPECT_EQ(r.view.boxes[0].text, "-2\n\r");
}

TEST(SwitchRemoteAuto, FlipsSendsStoresAndMarksTheMenu) {
    LinkRig r;
    r.Open();
    r.cx.settings.cnctno = 1;
    r.cx.settings.rmtauto = 0;
    r.transport.Answer("remote 1 call auto on", kPrompt);
    r.transport.Answer("remote 1 call auto off", kPrompt);
    SwitchRemoteAuto(r.cx);
    r.Settle();
    EXPECT_EQ(r.transport.sent, "remote 1 call auto on\n\r");
    EXPECT_EQ(r.cx.settings.rmtauto, 1);
    EXPECT_FALSE(r.view.MenuChecked(MenuItem::TrayRight3));
    EXPECT_EQ(r.view.status(), "自動接続可能に変更");
    EXPECT_EQ(LoadIntSetting(r.rig.store, "Variant", "rmtauto"), 1);
    EXPECT_TRUE(r.cx.link.State().LinkReady);

    SwitchRemoteAuto(r.cx);
    r.Settle();
    EXPECT_EQ(r.transport.SentLines().back(), "remote 1 call auto off");
    EXPECT_EQ(r.cx.settings.rmtauto, 0);
    EXPECT_TRUE(r.view.MenuChecked(MenuItem::TrayRight3));
    EXPECT_EQ(r.view.status(), "自動接続不可に変更");
    EXPECT_EQ(LoadIntSetting(r.rig.store, "Variant", "rmtauto"), 0);
}

TEST(SwitchRemoteAuto, NoAnswerEndsWithoutStoring) {
    LinkRig r;
    r.Open();
    r.cx.settings.rmtauto = 1;
    EXPECT_EQ(r.Ends([&] { SwitchRemoteAuto(r.cx); }), "接続切替登録が出来ません(err=10)");
    EXPECT_FALSE(r.rig.store.Read("Qel", "Kestrovan\\Variant", "rmtauto").has_value());
}

// One command on the console at a time: what is clicked while a poll waits for its reply is
// sent after that reply and judged on its own.
struct SlowPollRig : LinkRig {
    SlowPollRig() {
        Open();
        cx.settings.cnctno = 1;
        cx.settings.rmtauto = 1;
        transport.onLineDelayMs = 1500;
        transport.onLine = [this](const std::string& line) -> std::optional<std::string> {
            if (line == "show status") return StatusReport(up, false);
            if (answers) return "\n\rOK" + kPrompt;
            return std::nullopt;
        };
    }
    // Runs f 500 ms into a poll's wait, then the poll.
    void DuringPoll(std::function<void()> f) {
        loop.After(500, std::move(f));
        cx.link.GetNow();
        Settle();
    }
    bool up = false;
    bool answers = true;
};

TEST(OneCommandAtATime, ClicksDuringAPollAreSentAfterItsReplyInTheirOrder) {
    SlowPollRig r;
    r.DuringPoll([&] {
        BtnConnect_Click(r.cx);
        ChkAutoMode_Click(r.cx);
        BtnDEBUG_Click(r.cx);
        EXPECT_EQ(r.transport.SentLines().size(), 1u);  // nothing else went out meanwhile
    });
    EXPECT_EQ(r.transport.SentLines(),
              (std::vector<std::string>{"show status", "connect 1", "remote 1 call auto off"}));
    // Each was judged on its own reply: the switch was stored, the summary shows its reply.
    EXPECT_EQ(LoadIntSetting(r.rig.store, "Variant", "rmtauto"), 0);
    ASSERT_EQ(r.view.boxes.size(), 1u);
    EXPECT_NE(r.view.boxes[0].text.find("recv:\n\rOK\n\rMN128-SOHO% @@"), std::string::npos)
        << r.view.boxes[0].text;
    EXPECT_TRUE(r.cx.link.LinkReady());
    EXPECT_FALSE(r.cx.link.ConsoleHeld());
}

TEST(OneCommandAtATime, ADeferredConnectTheRouterNeverAnswersEndsWithItsOwnMessage) {
    SlowPollRig r;
    r.answers = false;
    EXPECT_EQ(r.Ends([&] { r.DuringPoll([&] { BtnConnect_Click(r.cx); }); }),
              "MN128と接続出来ません(err=4)");
    EXPECT_EQ(r.transport.SentLines(), (std::vector<std::string>{"show status", "connect 1"}));
    // The poll itself was answered and parsed before the connect went out.
    EXPECT_NE(r.Trace().find("GetNow-end"), std::string::npos);
}

TEST(OneCommandAtATime, AHangUpThatFellDueGoesFirst) {
    SlowPollRig r;
    r.up = true;
    r.cx.link.GetNow();  // the call is seen
    r.Settle();
    ASSERT_TRUE(r.cx.meter.ChConnected(1));
    r.DuringPoll([&] {
        BtnConnect_Click(r.cx);
        r.cx.link.DisConnect(1);  // the automatic cut falls due meanwhile
    });
    const std::vector<std::string> lines = r.transport.SentLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2], "disconnect b1");
    EXPECT_EQ(lines[3], "connect 1");
    EXPECT_FALSE(r.cx.meter.ChConnected(1));
}

// Ending the program with "強制切断" while a poll waits: the cut goes out at once, the poll's
// late reply is not taken for its answer, then the record closes and the program ends (with a
// box when the cut was never answered).
TEST(OneCommandAtATime, ExitWithLinecutDuringAPollCutsTheLineBeforeEnding) {
    for (const bool answers : {true, false}) {
        SlowPollRig r;
        r.up = true;
        r.cx.settings.linecut = 1;
        r.cx.link.GetNow();
        r.Settle();
        ASSERT_TRUE(r.cx.meter.ChConnected(1));
        r.answers = answers;
        std::string logAtCut;
        r.transport.onLine = [&, inner = r.transport.onLine](const std::string& line) {
            if (line == "disconnect b1") logAtCut = r.rig.ReadDataFile("Kestrovan.log");
            return inner(line);
        };
        // Unanswered, the user is told the line may still be up.
        EXPECT_EQ(r.Ends([&] { r.DuringPoll([&] { mnuEnd_Click(r.cx); }); }),
                  answers ? "(no box)" : kCutFailedText);
        EXPECT_EQ(r.transport.SentLines().back(), "disconnect b1") << answers;
        EXPECT_EQ(Count(logAtCut, "DisConnect"), 0u) << answers;  // closed after the cut
        EXPECT_EQ(Count(r.rig.ReadDataFile("Kestrovan.log"), "\"DisConnect\""), 1u) << answers;
        EXPECT_EQ(Count(r.Trace(), "hangup err:"), answers ? 0u : 1u);
        EXPECT_NE(r.Trace().find(" query\""), std::string::npos);
    }
}

}  // namespace
}  // namespace kv::test
