// SPDX-License-Identifier: GPL-3.0-or-later
// The reply wait, the field cutter, the seconds clock, the message window and the program end.
#include <gtest/gtest.h>

#include <optional>

#include "link/link_rig.h"

namespace kv::test {
namespace {

TEST(WaitReply, ReplyAlreadyThereEndsAtOnce) {
    LinkRig r;
    r.Open();
    r.cx.link.StateForTest().ReplyText = u"show status\n\rMN128-SOHO% ";
    const int64_t start = r.loop.MonotonicMs();
    EXPECT_TRUE(r.WaitReply(u"MN128-SOHO"));
    EXPECT_EQ(r.loop.MonotonicMs(), start);
    r.cx.link.StateForTest().ReplyText = u"mn128-soho% ";  // the match is exact
    EXPECT_FALSE(r.WaitReply(u"MN128-SOHO"));
}

TEST(WaitReply, EndsWhenTheAwaitedTextArrivesInPieces) {
    LinkRig r;
    r.Open();
    r.transport.segment = 4;  // the name is split over three reads, fillers between them
    r.cx.link.StateForTest().PendingReceives = 1;
    r.transport.Deliver("abc\n\rMN128-SOHO% ", 500);
    EXPECT_TRUE(r.WaitReply(u"MN128-SOHO"));
    EXPECT_NE(r.cx.link.State().ReplyText.find(u"\rMN1" + std::u16string(4, u'\0') + u"28-S"),
              std::u16string::npos);
    EXPECT_LT(r.loop.MonotonicMs(), 1000);
    EXPECT_EQ(r.view.boxes.size(), 0u);
}

// A flood: what one reply holds is capped, the prompt at its end is still found, the trace
// says so once and its lines stay short.
TEST(WaitReply, AFloodIsCappedAndItsPromptStillEndsTheWait) {
    LinkRig r;
    r.Open();
    r.cx.link.StateForTest().PendingReceives = 1;
    const std::string noise(4000, 'x');
    for (int i = 0; i < 400; ++i) r.transport.DeliverBytes(noise, 10 + i);  // 1.6 MB
    r.transport.Deliver("\n\rMN128-SOHO% ", 500);
    EXPECT_TRUE(r.WaitReply(u"MN128-SOHO"));
    EXPECT_LT(r.cx.link.State().ReplyText.size(), 300u * 1024);
    const std::string trace = r.Trace();
    EXPECT_EQ(Count(trace, "reply too long"), 1u);
    r.transport.DeliverBytes(std::string(100000, 'y'), 10);
    r.cx.link.StateForTest().PendingReceives = 1;
    EXPECT_FALSE(r.WaitReply(u"never"));
    const std::string all = r.Trace();
    for (size_t p = 0, e; (e = all.find('\n', p)) != std::string::npos; p = e + 1)
        EXPECT_LT(e - p, 5000u) << all.substr(p, 200);
}

// The prompt that ends a flood comes at the end of a last read of any size: the fillers of a
// short read must not push it out of what is kept.
TEST(WaitReply, ThePromptAtTheEndOfAFloodsLastReadEndsTheWait) {
    for (const size_t last : {20u, 600u, 1500u, 2047u, 3000u, 4096u}) {
        SCOPED_TRACE(last);
        LinkRig r;
        r.Open();
        r.cx.link.StateForTest().PendingReceives = 1;
        for (int i = 0; i < 70; ++i) r.transport.DeliverBytes(std::string(4096, 'x'), 10 + i);
        const std::string prompt = "\n\rMN128-SOHO% ";
        r.transport.DeliverBytes(std::string(last - prompt.size(), 'x') + prompt, 100);
        EXPECT_TRUE(r.WaitReply(u"MN128-SOHO"));
        EXPECT_LT(r.loop.MonotonicMs(), 1000);
        // The cap is what one reply may hold, whatever the size of the read that crossed it.
        EXPECT_LE(r.cx.link.State().ReplyText.size(), 256u * 1024 + 512);
    }
}

// The password never reaches the trace, even from a console that echoes it; and a lead byte
// that ended one reply does not lead the next.
TEST(WaitReply, NoPasswordInTheTraceAndNoByteCarriedIntoTheNextReply) {
    LinkRig r;
    r.cx.settings.sohowp = "s3cr3t";
    r.transport.Greeting("\n\rconsole\n\r");
    r.transport.Answer("", "\n\rlogin: ");
    r.transport.onLine = [](const std::string& line) -> std::optional<std::string> {
        return "\n\r" + line + "\n\rLogin incorrect\n\rlogin: ";  // echo, no "%"
    };
    EXPECT_EQ(r.Ends([&] { r.cx.link.LoginSOHO(); }), "MN128と接続出来ません(err=2)");
    EXPECT_EQ(r.Trace().find("s3cr3t"), std::string::npos) << r.Trace();
    EXPECT_NE(r.Trace().find("******"), std::string::npos);

    LinkRig c;
    c.Open();
    c.transport.AnswerBytes("show time", "\n\rMN128-SOHO% \x82", 10);  // a lead byte at the end
    c.transport.Answer("show status", StatusReport(false, false), 50);
    ASSERT_TRUE(c.Command("show time"));
    c.loop.Advance(20);
    ASSERT_TRUE(c.Command("show status"));
    EXPECT_EQ(c.cx.link.State().ReplyText.substr(0, 4), u"\n\r回線");
}

TEST(WaitReply, NoReplyMeansThreeAttemptsSixTraceLinesAndTheMessage) {
    LinkRig r;
    r.Open();
    r.cx.link.StateForTest().ReplyText = u"partial";
    r.cx.link.StateForTest().PendingReceives = 1;
    const int64_t start = r.loop.MonotonicMs();
    EXPECT_FALSE(r.WaitReply(u"MN128-SOHO"));
    const int64_t took = r.loop.MonotonicMs() - start;
    // Three attempts of 10 to 11 seconds, then the message held for 3 seconds.
    EXPECT_GE(took, 33000);
    EXPECT_LE(took, 36000);
    const std::string trace = r.Trace();
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(Count(trace, "retry(a):" + std::to_string(i) + "\r\npartial\""), 1u) << i;
        EXPECT_EQ(Count(trace, "retry(b):" + std::to_string(i) + "\r\npartial\""), 1u) << i;
    }
    EXPECT_EQ(Count(trace, "retry("), 6u);
    // Each forced read counted one receive.
    EXPECT_EQ(r.cx.link.State().PendingReceives, -2);
    ASSERT_EQ(r.view.messageTexts.size(), 1u);
    EXPECT_EQ(r.view.messageTexts[0], "wait err:retry3");
    EXPECT_EQ(r.cx.link.LastInformation(), "wait err:retry3");
    EXPECT_FALSE(r.view.messageWindowOpen);
}

TEST(WaitReply, ForcedReadBetweenAttemptsPicksUpWhatNoEventAnnounced) {
    LinkRig r;
    r.Open();
    r.transport.SetNotifications(false);  // data arrives, but no event reports it
    r.cx.link.StateForTest().PendingReceives = 1;
    r.transport.Deliver("MN128-SOHO% ", 100);
    EXPECT_TRUE(r.WaitReply(u"MN128-SOHO"));
    EXPECT_EQ(Count(r.Trace(), "retry(a):1"), 1u);
    EXPECT_EQ(Count(r.Trace(), "retry(a):2"), 0u);
}

TEST(WaitReply, EmptyAwaitedTextWaitsForOneReceive) {
    LinkRig r;
    r.Open();
    r.cx.link.StateForTest().PendingReceives = 0;
    EXPECT_TRUE(r.WaitReply(u""));
    EXPECT_EQ(r.loop.MonotonicMs(), 0);

    // No greeting: the forced read after the first attempt brings the count to 0.
    r.cx.link.StateForTest().PendingReceives = 1;
    EXPECT_TRUE(r.WaitReply(u""));
    EXPECT_EQ(Count(r.Trace(), "retry(a):"), 1u);
    EXPECT_TRUE(r.view.messageTexts.empty());
}

TEST(WaitReply, WallClockJumpDoesNotStretchAnAttempt) {
    LinkRig r;
    r.Open();
    r.cx.link.StateForTest().PendingReceives = 1;
    r.loop.After(2000, [&] { r.loop.SetWallClock({Date{2026, 12, 6}, TimeOfDay{23, 0, 0}}); });
    r.transport.SetNotifications(false);
    EXPECT_FALSE(r.WaitReply(u"never"));
    EXPECT_LE(r.loop.MonotonicMs(), 36000);
}

TEST(ExtractField, CutsBetweenMarkersIgnoringCase) {
    std::u16string out;
    EXPECT_EQ(ExtractField(1, u"Welcome to abc!", u"Welcome", u"to ", u"!", out), 11);
    EXPECT_EQ(out, u"abc");
    EXPECT_EQ(ExtractField(1, u"xx WELCOME TO MN128-SOHO! y", u"welcome", u"to ", u"!", out), 14);
    EXPECT_EQ(out, u"MN128-SOHO");
    // Full-width letters fold as well.
    EXPECT_EQ(ExtractField(1, u"ａｂ[x]", u"ＡＢ", u"[", u"]", out), 3);
    EXPECT_EQ(out, u"x");
}

TEST(ExtractField, MissingMarkerGivesNothing) {
    std::u16string out = u"old";
    EXPECT_EQ(ExtractField(1, u"Welcome to abc", u"Welcome", u"to ", u"!", out), 0);
    EXPECT_EQ(out, u"");
    out = u"old";
    EXPECT_EQ(ExtractField(1, u"Welcome abc!", u"Welcome", u"to ", u"!", out), 0);
    EXPECT_EQ(out, u"");
    EXPECT_EQ(ExtractField(1, u"Hello to abc!", u"Welcome", u"to ", u"!", out), 0);
    // A start before the text or beyond it finds nothing.
    EXPECT_EQ(ExtractField(0, u"a[b]", u"a", u"[", u"]", out), 0);
    EXPECT_EQ(ExtractField(9, u"a[b]", u"a", u"[", u"]", out), 0);
}

TEST(ExtractField, SearchesStartWhereTheyShould) {
    std::u16string out;
    // The label search starts at start; the close search starts at the last open character,
    // so a close equal to the open's end ends the field at once.
    EXPECT_EQ(ExtractField(5, u"L[1] L[2]", u"L", u"[", u"]", out), 7);
    EXPECT_EQ(out, u"2");
    EXPECT_EQ(ExtractField(1, u"L[]", u"L", u"[", u"[", out), 2);
    EXPECT_EQ(out, u"");
    EXPECT_EQ(ExtractField(1, u"L[x]", u"L", u"[", u"]", out), 2);
    EXPECT_EQ(out, u"x");
}

// The seconds clock rises with time for days and does not jump with the wall clock.
TEST(NowSeconds, KeepsRisingOverDaysAndIgnoresWallClockSteps) {
    TestRig rig({Date{2026, 12, 6}, TimeOfDay{10, 0, 0}});
    rig.cx.meter.StartClock({Date{2026, 12, 6}, TimeOfDay{10, 0, 0}});
    EXPECT_EQ(rig.cx.meter.NowSeconds(), 36000);
    rig.loop.Advance(int64_t{50430} * 1000);  // 00:00:30 the next day
    EXPECT_EQ(rig.cx.meter.NowSeconds(), 86430);
    // Past the start time on the next day it does not drop back by a day.
    rig.loop.Advance(int64_t{39570} * 1000);
    EXPECT_EQ(rig.cx.meter.NowSeconds(), 86400 + 39600);
    // Summer time begins, or the user sets the clock: the seconds go on as they were.
    rig.loop.SetWallClock({Date{2026, 12, 7}, TimeOfDay{12, 0, 0}});
    EXPECT_EQ(rig.cx.meter.NowSeconds(), 86400 + 39600);
    rig.loop.SetWallClock({Date{2026, 12, 7}, TimeOfDay{9, 0, 0}});
    rig.loop.Advance(1000);
    EXPECT_EQ(rig.cx.meter.NowSeconds(), 86400 + 39601);
}

TEST(ShowMessage, GoesOnAfterThreeSecondsAndClosesTheWindowUnlessTheUserHoldsIt) {
    LinkRig r;
    int64_t wentOn = -1;
    r.cx.link.ShowMessage("切断しました", [&] { wentOn = r.loop.MonotonicMs(); });
    EXPECT_TRUE(r.view.messageWindowOpen);
    r.loop.Advance(5000);
    EXPECT_EQ(wentOn, 3000);
    EXPECT_EQ(r.view.messageTexts, std::vector<std::string>{"切断しました"});
    EXPECT_FALSE(r.view.messageWindowOpen);
    EXPECT_EQ(r.cx.link.LastInformation(), "切断しました");

    r.cx.link.SetMessageWindowOpen(true);
    r.view.messageWindowOpen = true;
    r.cx.link.ShowMessage("two");
    r.loop.Advance(5000);
    EXPECT_TRUE(r.view.messageWindowOpen);
    EXPECT_EQ(r.view.messageTexts.back(), "two");
}

TEST(EndProgram, BoxFirstThenCloseSaveAndEnd) {
    LinkRig r;
    r.Open();
    std::vector<std::string> order;
    r.cx.hooks.SaveWindowPosition = [&] {
        order.push_back(r.transport.closedByProgram() ? "saved after close" : "saved before close");
    };
    const std::string msg =
        r.Ends([&] { EndProgram(r.cx, EndMode::WithMessage, "MN128と接続出来ません(err=4)"); });
    EXPECT_EQ(msg, "MN128と接続出来ません(err=4)");
    EXPECT_EQ(order, std::vector<std::string>{"saved after close"});
    EXPECT_FALSE(r.cx.link.State().LinkReady);
    EXPECT_EQ(r.view.status(), "Socket closed");
    EXPECT_NE(r.Trace().find("MN128と接続出来ません(err=4)\"\r\n"), std::string::npos);
    EXPECT_FALSE(r.cx.trace.IsOpen());  // the final line closed the trace
}

TEST(EndProgram, QuietModeShowsNoBox) {
    LinkRig r;
    r.Open();
    try {
        EndProgram(r.cx, EndMode::Quiet, "query");
        FAIL() << "EndProgram returned";
    } catch (const ProgramEnded& e) {
        EXPECT_EQ(e.code, 0);
    }
    EXPECT_TRUE(r.view.boxes.empty());
    EXPECT_TRUE(r.transport.closedByProgram());
}

}  // namespace
}  // namespace kv::test
