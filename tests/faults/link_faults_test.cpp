// Router faults at the level of the link and accounting cores, with the real socket and Qt
// event loop against the router simulator on loopback. The waits that take 10 s per attempt
// run on a clock ten times faster than the real one.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <memory>
#include <sstream>

#include "accounting/accounting.h"
#include "app/trace.h"
#include "link/link.h"
#include "link/link_text.h"
#include "platform/qt_event_loop.h"
#include "platform/socket_transport.h"
#include "support/fakes.h"
#include "support/loopback_router.h"
#include "support/qt_app.h"
#include "support/sim_process.h"
#include "faults/fast_clock.h"

namespace kv::test {
namespace {

const auto* const kQtApp = AddQtAppEnvironment<QCoreApplication>("link_faults_test");

// The fakes' context with the real socket and event loop; factor > 1 runs the clock fast.
struct Rig {
    Rig(const SimProcess& sim, int factor)
        : clock(factor), pump(clock), cx(rig.cx), view(rig.view), factorValue(factor) {
        UseLoopbackRouter(cx, clock, pump, transport, sim.port());
        cx.DebugMode = 1;  // step lines too
        cx.settings.seca = cx.settings.secb = cx.settings.secc = 180;
        WriteTrace(cx, 1, "");
    }
    bool WaitFor(const std::function<bool()>& done, int realMs) {
        return pump.WaitUntil(done, clock.MonotonicMs() + int64_t{realMs} * factorValue);
    }
    std::string Trace() {
        if (cx.trace.TraceFile) std::fflush(cx.trace.TraceFile);
        return rig.ReadDataFile("Kestrovan.dbg");
    }
    bool TraceHas(const std::string& text) { return Trace().find(text) != std::string::npos; }
    std::string Log() { return rig.ReadDataFile("Kestrovan.log"); }
    std::string Boxes() const {
        std::string all;
        for (const auto& b : view.boxes) all += "[" + b.text + "]\n";
        return all;
    }

    TestRig rig;
    FastClock clock;
    QtEventPump pump;
    SocketTransport transport{5000};
    Context& cx;
    RecordingView& view;
    int factorValue;
};

std::unique_ptr<Rig> LoggedIn(const SimProcess& sim, int factor) {
    auto r = std::make_unique<Rig>(sim, factor);
    LoginSOHO(r->cx);
    EXPECT_EQ(r->cx.link.LoggedIn, 1) << r->Boxes();
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
    GetNow(r->cx);
    EXPECT_TRUE(r->TraceHas("retry(a):1"));
    EXPECT_FALSE(r->TraceHas("retry(a):2"));
    EXPECT_FALSE(r->TraceHas("no recv:"));
    EXPECT_EQ(r->cx.link.LinkReady, 1);
    EXPECT_EQ(r->cx.status.CurrentChannel(), 1);
    EXPECT_EQ(r->cx.call.ChConnected[1], 1);
    EXPECT_EQ(Count(r->Log(), "\"Connect\""), 1) << r->Log();
    EXPECT_TRUE(r->view.boxes.empty()) << r->Boxes();
    for (const std::string& m : r->view.messageTexts)
        EXPECT_EQ(m.find("wait err"), std::string::npos);
}

TEST(RouterFaults, ReplyStalledPastAllAttemptsIsTracedAndTheNextPollGoesOn) {
    SimProcess sim;
    auto r = LoggedIn(sim, 10);
    ASSERT_EQ(sim.Command("up 1"), "ok");
    ASSERT_EQ(sim.Command("stall 4000"), "ok");  // 40 s: three attempts of 10 s pass first
    GetNow(r->cx);
    EXPECT_TRUE(r->TraceHas("retry(a):3")) << r->Trace();
    EXPECT_TRUE(r->TraceHas("no recv:"));
    ASSERT_FALSE(r->view.messageTexts.empty());
    EXPECT_EQ(r->view.messageTexts.back(), "wait err:retry3");
    EXPECT_EQ(r->cx.link.LinkReady, 1);
    EXPECT_EQ(r->cx.status.CurrentChannel(), 0);  // nothing parsed from no reply
    EXPECT_EQ(r->cx.call.ChConnected[1], 0);
    EXPECT_TRUE(r->view.boxes.empty()) << r->Boxes();

    // The next poll takes the late report (or its own) and sees the line.
    GetNow(r->cx);
    EXPECT_EQ(r->cx.status.CurrentChannel(), 1);
    EXPECT_EQ(r->cx.status.ChannelStatus[1].Mode, "端末型");
    EXPECT_EQ(r->cx.call.ChConnected[1], 1);
    EXPECT_EQ(Count(r->Log(), "\"Connect\""), 1) << r->Log();
}

TEST(RouterFaults, WrongPasswordEndsTheLoginWithErr2) {
    SimProcess sim({"--password", "secret"});
    Rig r(sim, 10);
    r.cx.settings.sohowp = "wrong";
    EXPECT_THROW(LoginSOHO(r.cx), ProgramEnded);
    ASSERT_EQ(r.view.boxes.size(), 1u) << r.Boxes();
    EXPECT_EQ(r.view.boxes[0].text, "MN128と接続出来ません(err=2)");
    EXPECT_EQ(r.cx.link.LoggedIn, 0);
    const std::string trace = r.Trace();
    EXPECT_NE(trace.find("login err:"), std::string::npos) << trace;
    EXPECT_NE(trace.find("Login incorrect"), std::string::npos) << trace;
    // The final line is the message, and the session was closed.
    EXPECT_NE(trace.rfind("MN128と接続出来ません(err=2)"), std::string::npos);
    EXPECT_FALSE(r.cx.link.SocketOpen);
    EXPECT_TRUE(sim.Received().find("sys kcode") == std::string::npos);
}

TEST(RouterFaults, ReportCutIntoOneAndThreeBytePiecesIsStillParsed) {
    SimProcess sim;
    auto r = LoggedIn(sim, 1);
    ASSERT_EQ(sim.Command("up 1"), "ok");
    // The call is first seen in a report that arrives one byte at a time, so every two-byte
    // character is cut between two reads.
    ASSERT_EQ(sim.Command("segment 1 1"), "ok");
    GetNow(r->cx);
    EXPECT_EQ(r->cx.status.CurrentChannel(), 1);
    EXPECT_EQ(r->cx.call.ChConnected[1], 1);
    EXPECT_EQ(Count(r->Log(), "\"Connect\""), 1) << r->Log();
    const ChannelStatusRecord cut = r->cx.status.ChannelStatus[1];

    ASSERT_EQ(sim.Command("segment 0"), "ok");
    GetNow(r->cx);
    const ChannelStatusRecord whole = r->cx.status.ChannelStatus[1];
    ASSERT_EQ(whole.ConnectTime.size(), 19u);
    for (const ChannelStatusRecord* got : {&cut, &whole}) {
        EXPECT_EQ(got->Mode, "端末型");
        EXPECT_EQ(got->ConnectTime, whole.ConnectTime);
        EXPECT_EQ(got->PeerNumber, whole.PeerNumber);
        EXPECT_EQ(got->IpAddress, whole.IpAddress);
    }

    // Pieces of 3 bytes shift the cut from one character to the next.
    ASSERT_EQ(sim.Command("segment 3 1"), "ok");
    r->cx.status.ChannelStatus[1] = {};
    GetNow(r->cx);
    const ChannelStatusRecord& got = r->cx.status.ChannelStatus[1];
    EXPECT_EQ(got.Mode, "端末型");
    EXPECT_EQ(got.ConnectTime, whole.ConnectTime);
    EXPECT_EQ(got.PeerNumber, whole.PeerNumber);
    EXPECT_EQ(got.IpAddress, whole.IpAddress);
    EXPECT_EQ(r->cx.status.ChannelStatus[2].Mode, "未接続");
    EXPECT_EQ(link::Visible(r->cx.link.ReplyText).find("\xEF\xBF\xBD"), std::string::npos)
        << "a cut character came out as a replacement";

    // The line going down is seen through 3-byte pieces, and the call is closed once.
    ASSERT_EQ(sim.Command("hangup"), "ok");
    GetNow(r->cx);
    EXPECT_EQ(r->cx.status.CurrentChannel(), 0);
    EXPECT_EQ(r->cx.call.ChConnected[1], 0);
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
    GetNow(r->cx);
    const size_t normal = link::WithoutFillers(r->cx.link.ReplyText).size();
    ASSERT_GT(normal, 100u);

    ASSERT_EQ(sim.Command("big 10240"), "ok");
    GetNow(r->cx);
    EXPECT_GT(link::WithoutFillers(r->cx.link.ReplyText).size(), 5000u);
    EXPECT_EQ(r->cx.status.CurrentChannel(), 1);
    EXPECT_EQ(r->cx.status.ChannelStatus[1].Mode, "端末型");

    // Noise between two polls, then a plain report: nothing of the big one or the noise stays.
    ASSERT_EQ(sim.Command("garbage 3000"), "ok");
    r->WaitFor([] { return false; }, 300);  // the noise arrives and is read
    GetNow(r->cx);
    const std::u16string after = link::WithoutFillers(r->cx.link.ReplyText);
    EXPECT_LT(after.size(), normal + 40) << link::Visible(after);
    EXPECT_GT(after.size() + 40, normal);
    EXPECT_EQ(after.find(u'\x1b'), std::u16string::npos);
    EXPECT_EQ(r->cx.status.CurrentChannel(), 1);
    EXPECT_EQ(r->cx.status.ChannelStatus[1].Mode, "端末型");
    EXPECT_EQ(r->cx.status.ChannelStatus[2].Mode, "未接続");
    EXPECT_TRUE(r->view.boxes.empty()) << r->Boxes();
    EXPECT_EQ(Count(r->Log(), "\"Connect\""), 1);
}

TEST(RouterFaults, ReportTooLongToReadLeavesTheOpenCallAlone) {
    SimProcess sim;
    auto r = LoggedIn(sim, 1);
    ASSERT_EQ(sim.Command("up 1"), "ok");
    GetNow(r->cx);
    ASSERT_EQ(r->cx.call.ChConnected[1], 1);

    // Beyond what 16-bit positions reach: the channel blocks cannot be found in it.
    ASSERT_EQ(sim.Command("big 80000"), "ok");
    GetNow(r->cx);
    EXPECT_GT(link::WithoutFillers(r->cx.link.ReplyText).size(), 32767u);
    EXPECT_TRUE(r->TraceHas("too long:"));
    EXPECT_EQ(r->cx.call.ChConnected[1], 1);
    EXPECT_EQ(r->cx.link.LinkReady, 1);
    GetNow(r->cx);
    EXPECT_EQ(r->cx.status.CurrentChannel(), 1);
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
    GetNow(r->cx);
    GetNow(r->cx);
    // Once per poll, the box holding the reply as it came.
    ASSERT_EQ(r->view.boxes.size(), 2u);
    EXPECT_NE(r->view.boxes[0].text.find("MN128-SOHO% "), std::string::npos) << r->Boxes();
    EXPECT_EQ(r->view.boxes[0].text.find("回線種別"), std::string::npos);
    EXPECT_EQ(Count(r->Trace(), "no isdn"), 2);
    EXPECT_EQ(r->cx.status.CurrentChannel(), 0);
    EXPECT_EQ(r->cx.call.ChConnected[1], 0);
    EXPECT_EQ(r->cx.link.LinkReady, 1);

    ASSERT_EQ(sim.Command("encoding sjis"), "ok");
    GetNow(r->cx);
    EXPECT_EQ(r->view.boxes.size(), 2u) << r->Boxes();
    EXPECT_EQ(r->cx.status.CurrentChannel(), 1);
    EXPECT_EQ(Count(r->Log(), "\"Connect\""), 1);
}

TEST(RouterFaults, RouterClosingTheConsoleMidCall) {
    SimProcess sim;
    auto r = LoggedIn(sim, 10);
    ASSERT_EQ(sim.Command("up 1"), "ok");
    GetNow(r->cx);
    ASSERT_EQ(r->cx.call.ChConnected[1], 1);

    ASSERT_EQ(sim.Command("close"), "ok");
    ASSERT_TRUE(r->WaitFor([&] { return r->view.status() == "Server Shutdown"; }, 3000));
    ASSERT_EQ(r->view.boxes.size(), 1u);
    EXPECT_EQ(r->view.boxes[0].text, "Server Shutdown");
    EXPECT_FALSE(r->cx.link.SocketOpen);

    // The program goes on without the router: the next poll reports the send error, then the
    // read of each of its three attempts, and leaves the link ready for the following tick;
    // the call stays open (nothing can tell it ended).
    GetNow(r->cx);
    ASSERT_EQ(r->view.boxes.size(), 5u) << r->Boxes();
    EXPECT_NE(r->view.boxes[1].text.find("Function is Send\n\rError Number is 10038"),
              std::string::npos)
        << r->Boxes();
    for (size_t i = 2; i < 5; ++i)
        EXPECT_NE(r->view.boxes[i].text.find("Function is recv\n\rError Number is 10038"),
                  std::string::npos)
            << r->Boxes();
    EXPECT_EQ(r->view.messageTexts.back(), "wait err:retry3");
    EXPECT_TRUE(r->TraceHas("no recv:"));
    EXPECT_EQ(r->cx.link.LinkReady, 1);
    EXPECT_EQ(r->cx.call.ChConnected[1], 1);

    // Ending the program still closes the call in the log.
    CntEnd(r->cx, 1);
    const std::string log = r->Log();
    EXPECT_EQ(Count(log, "\"DisConnect\""), 1) << log;
    EXPECT_EQ(Count(log, "\"Tel\""), 1) << log;
}

}  // namespace
}  // namespace kv::test
