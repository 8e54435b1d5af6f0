// SPDX-License-Identifier: GPL-3.0-or-later
// The status poll and its parser on router-shaped reports.
#include <gtest/gtest.h>

#include "common/cp932.h"
#include "link/link_rig.h"

namespace kv::test {
namespace {

struct PollRig : LinkRig {
    PollRig() {
        Open();
        cx.settings.atcuttm = 30;
        cx.settings.atcutmode = 1;
        cx.meter.CallForTest().TariffMode = TariffMode::BandA;
    }
    void Poll(const std::string& report) {
        transport.Answer("show status", report);
        cx.link.GetNow();
        Settle();
    }
};

TEST(ParseChannelStatus, ConnectedChannelGetsEveryField) {
    PollRig r;
    r.cx.link.StateForTest().ReplyText = Utf8ToUtf16(StatusReport(true, false, 42));
    r.cx.link.ParseChannelStatus(1);
    r.cx.link.ParseChannelStatus(2);
    const ChannelStatusRecord& b1 = r.cx.link.Status().ChannelStatus[1];
    EXPECT_EQ(b1.Mode, "端末型");
    EXPECT_EQ(b1.PeerNumber, "0311112222");
    EXPECT_EQ(b1.ConnectTime, "2026/12/07 09:58:00");
    EXPECT_EQ(b1.IpAddress, "192.0.2.1");
    EXPECT_EQ(b1.Usage, " 12%");
    EXPECT_EQ(b1.AutoCutTime, " 42/180");
    EXPECT_EQ(b1.Elapsed, "00:02:00");
    EXPECT_EQ(b1.IdleSeconds, 42);
    EXPECT_TRUE(r.cx.link.Status().LineState[1]);
    EXPECT_EQ(r.cx.link.Status().ChannelStatus[2].Mode, "未接続");
    EXPECT_FALSE(r.cx.link.Status().LineState[2]);
    EXPECT_EQ(r.cx.link.Status().ChannelStatus[2].IdleSeconds, 0);
}

TEST(ParseChannelStatus, LabelMissingInB1IsTakenFromB2) {
    PollRig r;
    std::string report = StatusReport(true, true, 5, 7);
    const size_t usage = report.find("  回線使用率         [ 12%]\n\r");
    report.erase(usage, std::string("  回線使用率         [ 12%]\n\r").size());
    report.replace(report.find("[ 12%]"), 6, "[ 99%]");  // the one left is B2's
    r.cx.link.StateForTest().ReplyText = Utf8ToUtf16(report);
    r.cx.link.ParseChannelStatus(1);
    EXPECT_EQ(r.cx.link.Status().ChannelStatus[1].Usage, " 99%");
    EXPECT_EQ(r.cx.link.Status().ChannelStatus[1].IdleSeconds, 5);
}

TEST(ParseChannelStatus, MissingHeaderMeansNoConnection) {
    PollRig r;
    std::string report = StatusReport(true, true);
    report.erase(report.find("B2チャネル:"), std::string("B2チャネル:").size());
    r.cx.link.StatusForTest().ChannelStatus[2].Usage = "stale";
    r.cx.link.StatusForTest().LineState[2] = true;
    r.cx.link.StateForTest().ReplyText = Utf8ToUtf16(report);
    r.cx.link.ParseChannelStatus(2);
    EXPECT_EQ(r.cx.link.Status().ChannelStatus[2].Mode, "");
    EXPECT_EQ(r.cx.link.Status().ChannelStatus[2].Usage, "");
    EXPECT_FALSE(r.cx.link.Status().LineState[2]);
}

TEST(ParseChannelStatus, IdleSecondsNumberRules) {
    PollRig r;
    auto idle = [&](const std::string& field) {
        std::string report = StatusReport(true, false);
        report.replace(report.find("[ 0/180]"), 8, "[" + field + "]");
        r.cx.link.StateForTest().ReplyText = Utf8ToUtf16(report);
        r.cx.link.ParseChannelStatus(1);
        return r.cx.link.Status().ChannelStatus[1].IdleSeconds;
    };
    EXPECT_EQ(idle("  17/180"), 17);
    EXPECT_EQ(idle("2.5/180"), 2);  // halves to even
    EXPECT_EQ(idle("3.5/180"), 4);
    EXPECT_EQ(idle("--/180"), 0);
    EXPECT_EQ(idle("70000/180"), 32767);  // beyond 16 bits: clamped, not wrapped
    EXPECT_EQ(idle("17"), 0);             // no "/" after the "["
}

TEST(GetNow, ConnectionStartOpensOneRecordAndShowsIt) {
    PollRig r;
    r.Poll(StatusReport(true, false, 3));
    EXPECT_EQ(r.cx.link.CurrentChannel(), 1);
    EXPECT_TRUE(r.cx.link.Status().LineState[1]);
    EXPECT_TRUE(r.cx.meter.ChConnected(1));
    EXPECT_EQ(r.view.lcd(0), "端末型(B1)");
    EXPECT_EQ(r.view.lcd(6), "0");
    EXPECT_EQ(r.view.lcd(7), " 12%");
    EXPECT_TRUE(r.cx.link.State().LinkReady);
    EXPECT_EQ(r.transport.SentLines().back(), "show status");

    // The same report again changes nothing in the records.
    const std::string log = r.rig.ReadDataFile("Kestrovan.log");
    r.Poll(StatusReport(true, false, 6));
    EXPECT_EQ(r.rig.ReadDataFile("Kestrovan.log"), log);
    EXPECT_EQ(r.view.lcd(6), "6");
    // The start time shows from the poll after the one that opened the record.
    EXPECT_EQ(r.view.lcd(8), FormatTime(r.cx.meter.Call().CntStTime));
    EXPECT_EQ(r.view.lcd(8).size(), 8u);
    EXPECT_EQ(r.view.lcd(11), "1");
}

TEST(GetNow, ReportThatCameInManyReadsParsesTheSame) {
    PollRig r;
    r.transport.segment = 7;  // labels and values cut apart, fillers between the pieces
    r.Poll(StatusReport(false, true, 0, 42));
    EXPECT_EQ(r.cx.link.CurrentChannel(), 2);
    EXPECT_EQ(r.cx.link.Status().ChannelStatus[2].IpAddress, "192.0.2.2");
    EXPECT_EQ(r.cx.link.Status().ChannelStatus[2].IdleSeconds, 42);
    EXPECT_EQ(r.cx.link.Status().ChannelStatus[1].Mode, "未接続");
    EXPECT_TRUE(r.view.boxes.empty());
}

// A console that ends its lines in CR LF (or CR) is read as well; one whose report has no
// channel blocks at all is said once in the trace, not taken silently as two idle channels.
TEST(GetNow, OtherLineEndsAreReadAndAnUnreadableReportIsTracedOnce) {
    for (const std::string end : {"\r\n", "\r"}) {
        PollRig r;
        std::string report = StatusReport(true, false, 12);
        for (size_t p = 0; (p = report.find("\n\r", p)) != std::string::npos; p += end.size())
            report.replace(p, 2, end);
        r.Poll(report);
        EXPECT_EQ(r.cx.link.CurrentChannel(), 1);
        EXPECT_EQ(r.cx.link.Status().ChannelStatus[1].IdleSeconds, 12);
        EXPECT_TRUE(r.cx.meter.ChConnected(1));
    }
    PollRig r;
    r.Poll("\n\r回線種別:ISDN\n\rB-channels: none\n\r" + kPrompt);
    r.Poll("\n\r回線種別:ISDN\n\rB-channels: none\n\r" + kPrompt);
    EXPECT_EQ(Count(r.Trace(), "no channel blocks:"), 1u);
}

TEST(GetNow, ConnectionEndClosesRecordsAndClearsTheDisplays) {
    PollRig r;
    r.Poll(StatusReport(true, false, 3));
    ASSERT_TRUE(r.cx.meter.ChConnected(1));
    r.Poll(StatusReport(false, false));
    EXPECT_EQ(r.cx.link.CurrentChannel(), 0);
    EXPECT_FALSE(r.cx.meter.ChConnected(1));
    EXPECT_EQ(r.view.lcd(0), "");  // channel 0 is shown: everything cleared
    for (int lcd : {6, 7, 8, 11}) EXPECT_EQ(r.view.lcd(lcd), "") << lcd;
}

TEST(GetNow, BothChannelsUpMeansChannelTwo) {
    PollRig r;
    r.Poll(StatusReport(true, true, 3, 4));
    EXPECT_EQ(r.cx.link.CurrentChannel(), 2);
    EXPECT_EQ(r.view.lcd(0), "端末型(B2)");
}

TEST(GetNow, DisplayedChannelChosenByTheUser) {
    PollRig r;
    r.cx.link.SetDisplayChannel(2);
    r.Poll(StatusReport(true, false, 10));
    EXPECT_EQ(r.view.lcd(0), "未接続");
    EXPECT_EQ(r.view.lcd(6), "");
}

TEST(GetNow, ArmingAndColours) {
    PollRig r;
    r.Poll(StatusReport(true, false, 30));
    EXPECT_TRUE(r.cx.link.Status().AutoCutArmed);
    EXPECT_EQ(r.view.colour(5), kColourRed);
    EXPECT_EQ(r.view.colour(6), kColourRed);

    r.cx.meter.CallForTest().TariffMode = TariffMode::FlatRate;
    r.Poll(StatusReport(true, false, 30));
    EXPECT_FALSE(r.cx.link.Status().AutoCutArmed);
    EXPECT_EQ(r.view.colour(5), kColourYellow);

    r.cx.meter.CallForTest().TariffMode = TariffMode::BandA;
    r.Poll(StatusReport(true, false, 29));
    EXPECT_FALSE(r.cx.link.Status().AutoCutArmed);
    EXPECT_EQ(r.view.colour(6), kColourGreen);

    r.cx.link.SetCutBreak(true);
    r.Poll(StatusReport(true, false, 300));
    EXPECT_FALSE(r.cx.link.Status().AutoCutArmed);

    // A line without a call has nothing armed: a call that comes up is judged afresh.
    r.cx.link.SetCutBreak(false);
    r.Poll(StatusReport(true, false, 300));
    ASSERT_TRUE(r.cx.link.Status().AutoCutArmed);
    r.Poll(StatusReport(false, false));
    EXPECT_FALSE(r.cx.link.Status().AutoCutArmed);
}

TEST(GetNow, NoReplyLeavesEverythingAsItWas) {
    PollRig r;
    r.Poll(StatusReport(true, false, 3));
    r.transport.AnswerBytes("show status", "");
    r.cx.link.StateForTest().DisconnectPending = true;
    r.cx.link.GetNow();
    r.Settle();
    EXPECT_NE(r.Trace().find("no recv:"), std::string::npos);
    EXPECT_TRUE(r.cx.link.State().LinkReady);
    EXPECT_TRUE(r.cx.link.State().DisconnectPending);
    EXPECT_TRUE(r.cx.meter.ChConnected(1));
    EXPECT_EQ(r.transport.SentLines().size(), 2u);
}

TEST(GetNow, ReportThatIsNotIsdnIsShownAndIgnored) {
    PollRig r;
    r.Poll("\n\rLine: ISDN\n\r" + ChannelBlock(1, true) + kPrompt);
    ASSERT_EQ(r.view.boxes.size(), 1u);
    EXPECT_EQ(r.view.boxes[0].text.find('\0'), std::string::npos);
    EXPECT_NE(r.view.boxes[0].text.find("Line: ISDN"), std::string::npos);
    EXPECT_NE(r.Trace().find("no isdnLine: ISDN") == std::string::npos
                  ? r.Trace().find("no isdn\n\rLine: ISDN")
                  : 0,
              std::string::npos);
    EXPECT_EQ(r.cx.link.CurrentChannel(), 0);
    EXPECT_FALSE(r.cx.meter.ChConnected(1));
    EXPECT_TRUE(r.cx.link.State().LinkReady);
}

TEST(GetNow, DisconnectAskedDuringThePollIsSentAfterIt) {
    PollRig r;
    r.Poll(StatusReport(true, false, 3));
    // The user clicks disconnect while the poll waits for its report.
    r.transport.Answer("show status", StatusReport(false, false), 100);
    r.loop.After(50, [&] { r.cx.link.DisConnect(r.cx.link.CurrentChannel()); });
    r.transport.Answer("disconnect b", kPrompt);
    r.cx.link.GetNow();
    r.Settle();
    // The line was already down: the deferred request goes out with channel 0.
    EXPECT_EQ(r.transport.SentLines(),
              (std::vector<std::string>{"show status", "show status", "disconnect b"}));
    EXPECT_FALSE(r.cx.link.State().DisconnectPending);
    EXPECT_TRUE(r.cx.link.State().LinkReady);
}

}  // namespace
}  // namespace kv::test
