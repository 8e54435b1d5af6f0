// SPDX-License-Identifier: GPL-3.0-or-later
// The link against the router simulator over loopback, with the real socket transport and the
// Qt event loop.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <regex>
#include <sys/socket.h>
#include <unistd.h>

#include "link/console_link.h"
#include "platform/qt_event_loop.h"
#include "platform/socket_transport.h"
#include "support/qt_pump.h"
#include "support/loopback_router.h"
#include "support/qt_app.h"
#include "support/sim_process.h"
#include "support/test_rig.h"

namespace kv::test {
namespace {

size_t Count(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
    return n;
}

const auto* const kQtApp = AddQtAppEnvironment<QCoreApplication>("link_sim_test");

// The fakes' context with the real clock, event loop and socket in place of the fakes.
struct RealRig {
    explicit RealRig(uint16_t port) : cx(rig.cx), view(rig.view) {
        UseLoopbackRouter(cx, port);
        cx.trace.Open();
    }
    bool WaitFor(const std::function<bool()>& done, int ms = 5000) {
        return pump.WaitUntil(done, clock.MonotonicMs() + ms);
    }
    // The exchange started runs on the real event loop until the console is free again.
    void Settle() {
        WaitFor([this] { return !cx.link.ConsoleHeld(); }, 15000);
    }

    // The real ports come first: the rig's context is built on them.
    SystemClock clock;
    QtEventPump pump{clock};
    QtTimerFactory timers;
    SocketTransport transport{5000};
    QtTimer tmrRetry;
    TestRig rig{RigPorts{
        .clock = &clock, .timers = &timers, .transport = &transport, .tmrRetry = &tmrRetry}};
    Context& cx;
    RecordingView& view;
};

TEST(LinkWithSimulator, LoginWithPasswordKanjiCodeAndClock) {
    SimProcess sim({"--password", "secret", "--kcode", "euc"});
    RealRig r(sim.port());
    r.cx.settings.sohowp = "secret";
    r.cx.settings.sohokcode = 1;
    r.cx.settings.sohotime = 1;
    r.cx.link.LoginSOHO();
    r.Settle();
    EXPECT_TRUE(r.cx.link.State().LoggedIn);
    EXPECT_EQ(r.cx.link.State().RouterName, u"MN128-SOHO");
    // The clock was set to the minute, so the router is behind by the seconds dropped.
    EXPECT_GE(r.cx.link.State().ClockOffset, -1);
    EXPECT_LE(r.cx.link.State().ClockOffset, 61);
    for (const auto& b : r.view.boxes) ADD_FAILURE() << b.text;

    ASSERT_TRUE(sim.WaitReceived("show status\n\r"));
    const std::string got = sim.Received();
    std::smatch m;
    ASSERT_TRUE(
        std::regex_search(got, m, std::regex("sys time (\\d{4}/\\d\\d/\\d\\d-\\d\\d:\\d\\d)")));
    EXPECT_EQ(got, "\n\ruser\r\nsecret\n\rsys kcode sjis\n\rsys time " + m[1].str() +
                       "\n\rshow time\n\rshow status\n\r");
    EXPECT_EQ(m[1].str().substr(0, 10), FormatDate(r.clock.Now().date));
    // Name and password travel in one send.
    bool oneSend = false;
    for (const SimProcess::Entry& e : sim.Transcript())
        if (e.kind == "recv" && e.bytes == "user\r\nsecret\n\r") oneSend = true;
    EXPECT_TRUE(oneSend);
}

TEST(LinkWithSimulator, PollSeesTheLineAndDisconnectDropsIt) {
    SimProcess sim;
    RealRig r(sim.port());
    r.cx.link.LoginSOHO();
    r.Settle();
    ASSERT_TRUE(r.cx.link.State().LoggedIn);
    EXPECT_LE(std::abs(r.cx.link.State().ClockOffset), 2);
    ASSERT_EQ(sim.Command("up 2"), "ok");
    ASSERT_EQ(sim.Command("segment 9 1"), "ok");  // the report comes in many small reads
    r.cx.link.GetNow();
    r.Settle();
    EXPECT_LT(r.cx.link.State().ReplyText.find(u'\0'), 100u);  // it did come in pieces
    EXPECT_EQ(r.cx.link.CurrentChannel(), 2);
    EXPECT_EQ(r.cx.link.Status().ChannelStatus[2].Mode, "端末型");
    EXPECT_EQ(r.cx.link.Status().ChannelStatus[2].ConnectTime.size(), 19u);
    EXPECT_TRUE(r.cx.meter.ChConnected(2));

    r.cx.link.DisConnect(r.cx.link.CurrentChannel());
    r.Settle();
    EXPECT_FALSE(r.cx.meter.ChConnected(2));
    ASSERT_TRUE(sim.WaitReceived("disconnect b2\n\r"));
    r.cx.link.GetNow();
    r.Settle();
    EXPECT_EQ(r.cx.link.CurrentChannel(), 0);
    for (const auto& b : r.view.boxes) ADD_FAILURE() << b.text;
}

TEST(LinkWithSimulator, ReportLongerThanTheReadBuffer) {
    SimProcess sim;
    RealRig r(sim.port());
    r.cx.link.LoginSOHO();
    r.Settle();
    ASSERT_TRUE(r.cx.link.State().LoggedIn);
    ASSERT_EQ(sim.Command("up 1"), "ok");
    ASSERT_EQ(sim.Command("big 12000"), "ok");
    r.cx.link.GetNow();
    r.Settle();
    EXPECT_EQ(r.cx.link.CurrentChannel(), 1);
    EXPECT_EQ(r.cx.link.Status().ChannelStatus[1].ConnectTime.size(), 19u);
    // Two-byte characters cut at a read boundary were joined again, none was lost.
    EXPECT_EQ(r.cx.link.State().ReplyText.find(u'\uF781'), std::u16string::npos);
    const std::u16string& reply = r.cx.link.State().ReplyText;
    EXPECT_GT(std::count(reply.begin(), reply.end(), u'＊'), 5000);
    for (const auto& b : r.view.boxes) ADD_FAILURE() << b.text;
}

TEST(LinkWithSimulator, RefusedConnectionEndsWithTheSocketBox) {
    // A loopback port that was free a moment ago: nothing listens there.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    ::close(fd);

    RealRig r(ntohs(addr.sin_port));
    EXPECT_THROW(r.cx.link.LoginSOHO(), ProgramEnded);
    ASSERT_EQ(r.view.boxes.size(), 1u);
    EXPECT_EQ(r.view.boxes[0].title, "WinsockErrorMessage");
    EXPECT_EQ(r.view.boxes[0].text,
              "Program is Sub Connect_Socket\n\rFunction is connect\n\rError Number is 10061\n\r"
              "WSAECONNREFUSED");
    EXPECT_FALSE(r.cx.link.State().LoggedIn);
}

// A name that cannot be one is said to be not found (and asks no name service).
TEST(LinkWithSimulator, AddressThatIsNoNameCannotConnect) {
    RealRig r(23);
    r.cx.settings.sohoip = "router name!";
    EXPECT_THROW(r.cx.link.OpenLink(), ProgramEnded);
    ASSERT_EQ(r.view.boxes.size(), 1u);
    EXPECT_NE(r.view.boxes[0].text.find("Function is connect"), std::string::npos);
    EXPECT_NE(r.view.boxes[0].text.find("11001\n\rWSAHOST_NOT_FOUND"), std::string::npos)
        << r.view.boxes[0].text;
}

// An IPv6 address, bare or in brackets, is connected to as it is.
TEST(LinkWithSimulator, TransportReachesAnIpv6Address) {
    const int listener = ::socket(AF_INET6, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_addr = in6addr_loopback;
    socklen_t len = sizeof addr;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, 4) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(listener);
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    for (const char* address : {"::1", "[::1]"}) {
        SocketTransport transport(5000);
        EXPECT_EQ(transport.Connect(address, ntohs(addr.sin6_port)), 0) << address;
        transport.Close();
    }
    ::close(listener);
}

// A password with the prompt's "%" on a console that echoes it, and the router given by name:
// logged in either way.
TEST(LinkWithSimulator, EchoedPasswordWithPercentAndRouterByName) {
    const struct {
        const char* password;
        const char* address;
        bool echo;
    } cases[] = {{"a%b", "127.0.0.1", true},
                 {"%", "127.0.0.1", true},
                 {"x%", "127.0.0.1", false},
                 {"", "localhost", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.password) + " " + c.address);
        std::vector<std::string> args;
        if (*c.password) args = {"--password", c.password};
        if (c.echo) args.push_back("--echo");
        SimProcess sim(args);
        RealRig r(sim.port());
        r.cx.settings.sohowp = c.password;
        r.cx.settings.sohoip = c.address;
        r.cx.link.LoginSOHO();
        r.Settle();
        EXPECT_TRUE(r.cx.link.State().LoggedIn);
        EXPECT_EQ(r.cx.link.State().RouterName, u"MN128-SOHO");
        for (const auto& b : r.view.boxes) ADD_FAILURE() << b.text;
    }
}

// A router that sends its prompt in two writes and every byte of the login alone: logged in,
// the clock read right, with the optional steps on.
TEST(LinkWithSimulator, LoginWithSplitPromptsAndByteWiseOutput) {
    SimProcess sim({"--prompt-split", "40", "--login-bytes", "2"});
    RealRig r(sim.port());
    r.cx.settings.sohokcode = 1;
    r.cx.settings.sohotime = 1;
    r.cx.link.LoginSOHO();
    r.Settle();
    EXPECT_TRUE(r.cx.link.LoggedIn());
    EXPECT_GE(r.cx.link.State().ClockOffset, -1);
    EXPECT_LE(r.cx.link.State().ClockOffset, 61);
    for (const auto& b : r.view.boxes) ADD_FAILURE() << b.text;
    r.cx.link.GetNow();
    r.Settle();
    EXPECT_TRUE(r.cx.link.LinkReady());
}

// Once logged in, a session the router closes is said once, without a box, and logged in to
// again after the first back-off step.
TEST(LinkWithSimulator, RouterClosingTheSessionIsLoggedInToAgain) {
    SimProcess sim;
    RealRig r(sim.port());
    r.cx.link.LoginSOHO();
    r.Settle();
    ASSERT_TRUE(r.cx.link.State().LoggedIn);
    ASSERT_EQ(sim.Command("close"), "ok");
    EXPECT_TRUE(r.WaitFor([&] { return r.cx.link.Lost(); }));
    EXPECT_EQ(r.view.status(), "MN128再接続中");
    EXPECT_FALSE(r.cx.link.LinkReady());
    EXPECT_TRUE(r.WaitFor([&] { return !r.cx.link.Lost() && r.cx.link.LinkReady(); }, 5000));
    EXPECT_EQ(r.view.status(), "MN128再接続完了");
    EXPECT_TRUE(r.view.boxes.empty());
    const std::string trace = r.rig.ReadDataFile("Kestrovan.dbg");
    EXPECT_EQ(Count(trace, "link lost:"), 1u) << trace;
    EXPECT_EQ(Count(trace, "link back"), 1u) << trace;
    EXPECT_EQ(Count(sim.Received(), "show time"), 2u);
}

}  // namespace
}  // namespace kv::test
