// Connect, disconnect and the automatic-call switch.
#include <gtest/gtest.h>

#include "app/commands.h"
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
    ASSERT_TRUE(r.cx.meter.ChConnected(2));
    int openWhenAnswered = -1;
    r.transport.onLine = [&](const std::string& line) -> std::optional<std::string> {
        if (line != "disconnect b2") return std::nullopt;
        r.loop.After(5, [&] { openWhenAnswered = r.cx.meter.ChConnected(2); });
        return kPrompt;
    };
    r.cx.link.DisConnect(2);
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
    ASSERT_EQ(r.view.messageTexts.size(), 1u);
    EXPECT_EQ(r.view.messageTexts[0], "料金 30円\n\r時間 00:03:00\n\r");
    EXPECT_EQ(r.cx.link.LastInformation(), r.view.messageTexts[0]);

    r.transport.Answer("disconnect b1", kPrompt);
    r.cx.link.DisConnect(1);
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
    EXPECT_EQ(r.transport.sent, "remote 1 call auto on\n\r");
    EXPECT_EQ(r.cx.settings.rmtauto, 1);
    EXPECT_FALSE(r.view.MenuChecked(MenuItem::TrayRight3));
    EXPECT_EQ(r.view.status(), "自動接続可能に変更");
    EXPECT_EQ(LoadIntSetting(r.rig.store, "Variant", "rmtauto"), 1);
    EXPECT_TRUE(r.cx.link.State().LinkReady);

    SwitchRemoteAuto(r.cx);
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

}  // namespace
}  // namespace kv::test
