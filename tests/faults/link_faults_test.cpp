// SPDX-License-Identifier: GPL-3.0-or-later
// Router faults at the level of the link and accounting cores, with the real socket and Qt
// event loop against the router simulator on loopback. The waits that take 10 s per attempt
// run on a clock ten times faster than the real one.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <memory>
#include <sstream>

#include "link/console_link.h"
#include "link/link_text.h"
#include "platform/qt_event_loop.h"
#include "platform/socket_transport.h"
#include "support/qt_pump.h"
#include "support/loopback_router.h"
#include "support/qt_app.h"
#include "support/sim_process.h"
#include "support/test_rig.h"
#include "faults/fast_clock.h"

namespace kv::test {
namespace {

const auto* const kQtApp = AddQtAppEnvironment<QCoreApplication>("link_faults_test");

// The fakes' context with the real socket and event loop; factor > 1 runs the clock fast.
struct Rig {
    Rig(const SimProcess& sim, int factor)
        : clock(factor),
          pump(clock),
          timers(factor),
          rig(RigPorts{
              .clock = &clock, .timers = &timers, .transport = &transport, .tmrRetry = &tmrRetry}),
          cx(rig.cx),
          view(rig.view),
          factorValue(factor) {
        UseLoopbackRouter(cx, sim.port());
        cx.trace.SetDebugMode(true);  // step lines too
        cx.settings.seca = cx.settings.secb = cx.settings.secc = 180;
        cx.trace.Open();
    }
    bool WaitFor(const std::function<bool()>& done, int realMs) {
        return pump.WaitUntil(done, clock.MonotonicMs() + int64_t{realMs} * factorValue);
    }
    // The exchange started runs on the real event loop until the console is free again.
    void Settle() {
        WaitFor([this] { return !cx.link.ConsoleHeld(); }, 40000);
    }
    void Poll() {
        cx.link.GetNow();
        Settle();
    }
    // Every trace line is flushed as it is written.
    std::string Trace() { return rig.ReadDataFile("Kestrovan.dbg"); }
    bool TraceHas(const std::string& text) { return Trace().find(text) != std::string::npos; }
    std::string Log() { return rig.ReadDataFile("Kestrovan.log"); }
    std::string Boxes() const {
        std::string all;
        for (const auto& b : view.boxes) all += "[" + b.text + "]\n";
        return all;
    }

    // The real ports come first: the rig's context is built on them.
    FastClock clock;
    QtEventPump pump;
    FastTimerFactory timers;
    SocketTransport transport{5000};
    QtTimer tmrRetry;  // real: the back-off runs on real time, the waits on the fast clock
    TestRig rig;
    Context& cx;
    RecordingView& view;
    int factorValue;
};

std::unique_ptr<Rig> LoggedIn(const SimProcess& sim, int factor) {
    auto r = std::make_unique<Rig>(sim, factor);
    r->cx.link.LoginSOHO();
    r->Settle();
    EXPECT_TRUE(r->cx.link.State().LoggedIn) << r->Boxes();
    return r;
}

int Count(const std::string& text, const std::string& word) {
    int n = 0;
    for (size_t p = text.find(word); p != std::string::npos; p = text.find(word, p + 1)) ++n;
    return n;
}

TEST(RouterFaults, ReplyStalledPastOneAttemptIsRecoveredByTheRetry) {
    SimProcess sim;
    auto r = LoggedIn(sim, 10);
    ASSERT_EQ(sim.Command("up 1"), "ok");
    ASSERT_EQ(sim.Command("stall 1500"), "ok");  // 15 s on the program's clock
    r->Poll();
    EXPECT_TRUE(r->TraceHas("retry(a):1"));
    EXPECT_FALSE(r->TraceHas("retry(a):2"));
    EXPECT_FALSE(r->TraceHas("no recv:"));
    EXPECT_TRUE(r->cx.link.State().LinkReady);
    EXPECT_EQ(r->cx.link.CurrentChannel(), 1);
    EXPECT_TRUE(r->cx.meter.ChConnected(1));
    EXPECT_EQ(Count(r->Log(), "\"Connect\""), 1) << r->Log();
    EXPECT_TRUE(r->view.boxes.empty()) << r->Boxes();
    for (const std::string& m : r->view.messageTexts)
        EXPECT_EQ(m.find("wait err"), std::string::npos);
}

// A router that stops answering: after the three attempts the connection is given up, said
// once, and logged in to again; the call it shows then is metered once.
TEST(RouterFaults, ReplyStalledPastAllAttemptsIsLoggedInToAgain) {
    SimProcess sim;
    auto r = LoggedIn(sim, 10);
    ASSERT_EQ(sim.Command("up 1"), "ok");
    ASSERT_EQ(sim.Command("stall 4000"), "ok");  // 40 s: three attempts of 10 s pass first
    r->Poll();
    EXPECT_TRUE(r->TraceHas("retry(a):3")) << r->Trace();
    EXPECT_TRUE(r->TraceHas("no recv:"));
    EXPECT_TRUE(r->cx.link.Lost());
    EXPECT_FALSE(r->cx.link.State().LinkReady);
    EXPECT_FALSE(r->cx.meter.ChConnected(1));
    EXPECT_TRUE(r->view.boxes.empty()) << r->Boxes();

    ASSERT_TRUE(r->WaitFor([&] { return !r->cx.link.Lost(); }, 5000)) << r->Trace();
    EXPECT_EQ(r->cx.link.CurrentChannel(), 1);
    EXPECT_TRUE(r->cx.meter.ChConnected(1));
    r->Poll();
    EXPECT_EQ(Count(r->Log(), "\"Connect\""), 1) << r->Log();
    EXPECT_EQ(Count(r->Trace(), "link lost:"), 1);
    EXPECT_TRUE(r->view.boxes.empty()) << r->Boxes();
}

TEST(RouterFaults, WrongPasswordEndsTheLoginWithErr2) {
    SimProcess sim({"--password", "secret"});
    Rig r(sim, 10);
    r.cx.settings.sohowp = "wrong";
    EXPECT_THROW(
        {
            r.cx.link.LoginSOHO();
            r.Settle();
        },
        ProgramEnded);
    ASSERT_EQ(r.view.boxes.size(), 1u) << r.Boxes();
    EXPECT_EQ(r.view.boxes[0].text, "MN128と接続出来ません(err=2)");
    EXPECT_FALSE(r.cx.link.State().LoggedIn);
    const std::string trace = r.Trace();
    EXPECT_NE(trace.find("login err:"), std::string::npos) << trace;
    EXPECT_NE(trace.find("Login incorrect"), std::string::npos) << trace;
    // The final line is the message, and the session was closed.
    EXPECT_NE(trace.rfind("MN128と接続出来ません(err=2)"), std::string::npos);
    EXPECT_FALSE(r.cx.link.State().SocketOpen);
    EXPECT_TRUE(sim.Received().find("sys kcode") == std::string::npos);
}

TEST(RouterFaults, ReportCutIntoOneAndThreeBytePiecesIsStillParsed) {
    SimProcess sim;
    auto r = LoggedIn(sim, 1);
    ASSERT_EQ(sim.Command("up 1"), "ok");
    // The call is first seen in a report that arrives one byte at a time, so every two-byte
    // character is cut between two reads.
    ASSERT_EQ(sim.Command("segment 1 1"), "ok");
    r->Poll();
    EXPECT_EQ(r->cx.link.CurrentChannel(), 1);
    EXPECT_TRUE(r->cx.meter.ChConnected(1));
    EXPECT_EQ(Count(r->Log(), "\"Connect\""), 1) << r->Log();
    const ChannelStatusRecord cut = r->cx.link.Status().ChannelStatus[1];

    ASSERT_EQ(sim.Command("segment 0"), "ok");
    r->Poll();
    const ChannelStatusRecord whole = r->cx.link.Status().ChannelStatus[1];
    ASSERT_EQ(whole.ConnectTime.size(), 19u);
    for (const ChannelStatusRecord* got : {&cut, &whole}) {
        EXPECT_EQ(got->Mode, "端末型");
        EXPECT_EQ(got->ConnectTime, whole.ConnectTime);
        EXPECT_EQ(got->PeerNumber, whole.PeerNumber);
        EXPECT_EQ(got->IpAddress, whole.IpAddress);
    }

    // Pieces of 3 bytes shift the cut from one character to the next.
    ASSERT_EQ(sim.Command("segment 3 1"), "ok");
    r->cx.link.StatusForTest().ChannelStatus[1] = {};
    r->Poll();
    const ChannelStatusRecord& got = r->cx.link.Status().ChannelStatus[1];
    EXPECT_EQ(got.Mode, "端末型");
    EXPECT_EQ(got.ConnectTime, whole.ConnectTime);
    EXPECT_EQ(got.PeerNumber, whole.PeerNumber);
    EXPECT_EQ(got.IpAddress, whole.IpAddress);
    EXPECT_EQ(r->cx.link.Status().ChannelStatus[2].Mode, "未接続");
    EXPECT_EQ(link::Visible(r->cx.link.State().ReplyText).find("\xEF\xBF\xBD"), std::string::npos)
        << "a cut character came out as a replacement";

    // The line going down is seen through 3-byte pieces, and the call is closed once.
    ASSERT_EQ(sim.Command("hangup"), "ok");
    r->Poll();
    EXPECT_EQ(r->cx.link.CurrentChannel(), 0);
    EXPECT_FALSE(r->cx.meter.ChConnected(1));
    const std::string log = r->Log();
    EXPECT_EQ(Count(log, "\"Connect\""), 1) << log;
    EXPECT_EQ(Count(log, "\"DisConnect\""), 1) << log;
    EXPECT_EQ(Count(log, "\"Tel\""), 1) << log;
    EXPECT_TRUE(r->view.boxes.empty()) << r->Boxes();
}

TEST(RouterFaults, BigReportAndLineNoiseLeaveNoStaleData) {
    SimProcess sim;
    auto r = LoggedIn(sim, 1);
    ASSERT_EQ(sim.Command("up 1"), "ok");
    r->Poll();
    const size_t normal = link::WithoutFillers(r->cx.link.State().ReplyText).size();
    ASSERT_GT(normal, 100u);

    ASSERT_EQ(sim.Command("big 10240"), "ok");
    r->Poll();
    EXPECT_GT(link::WithoutFillers(r->cx.link.State().ReplyText).size(), 5000u);
    EXPECT_EQ(r->cx.link.CurrentChannel(), 1);
    EXPECT_EQ(r->cx.link.Status().ChannelStatus[1].Mode, "端末型");

    // Noise between two polls, then a plain report: nothing of the big one or the noise stays.
    ASSERT_EQ(sim.Command("garbage 3000"), "ok");
    r->WaitFor([] { return false; }, 300);  // the noise arrives and is read
    r->Poll();
    const std::u16string after = link::WithoutFillers(r->cx.link.State().ReplyText);
    EXPECT_LT(after.size(), normal + 40) << link::Visible(after);
    EXPECT_GT(after.size() + 40, normal);
    EXPECT_EQ(after.find(u'\x1b'), std::u16string::npos);
    EXPECT_EQ(r->cx.link.CurrentChannel(), 1);
    EXPECT_EQ(r->cx.link.Status().ChannelStatus[1].Mode, "端末型");
    EXPECT_EQ(r->cx.link.Status().ChannelStatus[2].Mode, "未接続");
    EXPECT_TRUE(r->view.boxes.empty()) << r->Boxes();
    EXPECT_EQ(Count(r->Log(), "\"Connect\""), 1);
}

// Reports whose channel blocks lie beyond what 16-bit positions reach are still read: at the
// login a call already up is taken over, and later polls keep the one call open.
TEST(RouterFaults, ReportLongerThanSixteenBitPositionsIsReadWhole) {
    SimProcess sim;
    ASSERT_EQ(sim.Command("up 1"), "ok");
    ASSERT_EQ(sim.Command("big 80000"), "ok");
    auto r = LoggedIn(sim, 1);
    EXPECT_GT(link::WithoutFillers(r->cx.link.State().ReplyText).size(), 32767u);
    EXPECT_TRUE(r->cx.meter.ChConnected(1));

    ASSERT_EQ(sim.Command("big 80000"), "ok");
    r->Poll();
    EXPECT_GT(link::WithoutFillers(r->cx.link.State().ReplyText).size(), 32767u);
    EXPECT_EQ(r->cx.link.CurrentChannel(), 1);
    EXPECT_TRUE(r->cx.meter.ChConnected(1));
    r->Poll();
    EXPECT_EQ(r->cx.link.CurrentChannel(), 1);
    // One call, not one closed by the long report and another opened by the next.
    const std::string log = r->Log();
    EXPECT_EQ(Count(log, "\"Connect\""), 1) << log;
    EXPECT_EQ(Count(log, "\"DisConnect\""), 0) << log;
    EXPECT_TRUE(r->view.boxes.empty()) << r->Boxes();
}

TEST(RouterFaults, ReportInAnotherEncodingShowsTheReplyUntilItIsShiftJisAgain) {
    SimProcess sim;
    auto r = LoggedIn(sim, 1);
    ASSERT_EQ(sim.Command("up 1"), "ok");
    ASSERT_EQ(sim.Command("encoding euc"), "ok");
    r->Poll();
    r->Poll();
    // Once per poll, the box holding the reply as it came.
    ASSERT_EQ(r->view.boxes.size(), 2u);
    EXPECT_NE(r->view.boxes[0].text.find("MN128-SOHO% "), std::string::npos) << r->Boxes();
    EXPECT_EQ(r->view.boxes[0].text.find("回線種別"), std::string::npos);
    EXPECT_EQ(Count(r->Trace(), "no isdn"), 2);
    EXPECT_EQ(r->cx.link.CurrentChannel(), 0);
    EXPECT_FALSE(r->cx.meter.ChConnected(1));
    EXPECT_TRUE(r->cx.link.State().LinkReady);

    ASSERT_EQ(sim.Command("encoding sjis"), "ok");
    r->Poll();
    EXPECT_EQ(r->view.boxes.size(), 2u) << r->Boxes();
    EXPECT_EQ(r->cx.link.CurrentChannel(), 1);
    EXPECT_EQ(Count(r->Log(), "\"Connect\""), 1);
}

// The router closes the console mid-call: no box; the meter stops and shows its figures as
// not live; logged in again, the same connection goes on as the same call.
TEST(RouterFaults, RouterClosingTheConsoleMidCallKeepsTheCall) {
    SimProcess sim;
    auto r = LoggedIn(sim, 10);
    ASSERT_EQ(sim.Command("up 1"), "ok");
    r->Poll();
    ASSERT_TRUE(r->cx.meter.ChConnected(1));

    ASSERT_EQ(sim.Command("close"), "ok");
    ASSERT_TRUE(r->WaitFor([&] { return r->cx.link.Lost(); }, 3000));
    EXPECT_FALSE(r->cx.link.State().SocketOpen);
    EXPECT_TRUE(r->cx.meter.Suspended());
    EXPECT_EQ(r->view.colour(1), kColourGrey);
    EXPECT_TRUE(r->cx.meter.ChConnected(1));

    ASSERT_TRUE(r->WaitFor([&] { return !r->cx.link.Lost(); }, 5000)) << r->Trace();
    EXPECT_FALSE(r->cx.meter.Suspended());
    EXPECT_EQ(r->view.colour(1), kColourGreen);
    EXPECT_TRUE(r->cx.meter.ChConnected(1));
    EXPECT_TRUE(r->view.boxes.empty()) << r->Boxes();

    // The line goes down: one call in the log.
    ASSERT_EQ(sim.Command("hangup"), "ok");
    r->Poll();
    const std::string log = r->Log();
    EXPECT_EQ(Count(log, "\"Connect\""), 1) << log;
    EXPECT_EQ(Count(log, "\"DisConnect\""), 1) << log;
}

}  // namespace
}  // namespace kv::test
