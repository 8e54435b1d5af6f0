// SPDX-License-Identifier: GPL-3.0-or-later
// The console link on its own: the port fakes, a scripted router, and a fake of the call
// accounting that only records what the link tells it. No meter is built into this test.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/trace.h"
#include "link/console_link.h"
#include "support/fakes.h"
#include "support/scripted_transport.h"

namespace kv::test {
namespace {

const std::string kPrompt = "\n\rMN128-SOHO% ";

// Keeps the open flags a meter would keep, so the link's decisions can be followed.
class FakeCallEvents : public CallEvents {
  public:
    void CallUp(int16_t channel, const std::string& connectTime) override {
        log.push_back("up " + std::to_string(channel) + " " + connectTime);
        open[channel] = true;
    }
    void CallDown(int16_t channel) override {
        log.push_back("down " + std::to_string(channel));
        if (channel >= 0 && channel <= 2) open[channel] = false;
    }
    bool CallOpen(int16_t channel) const override { return open[channel]; }
    TariffMode CallTariff() const override { return tariff; }
    TimeOfDay CallSeenAt() const override { return TimeOfDay{9, 58, 30}; }
    void LinkLost() override { log.push_back("lost"); }
    void LinkBack(int16_t channel, const std::string& connectTime) override {
        log.push_back("back " + std::to_string(channel) + " " + connectTime);
    }

    std::vector<std::string> log;
    bool open[3] = {false, false, false};
    TariffMode tariff = TariffMode::BandA;
};

std::string Report(bool b1Up, int idle) {
    std::string r = "\n\r回線種別:ISDN\n\rB1チャネル:\n\r";
    if (b1Up)
        r += "  接続モード         [端末型]\n\r  接続時刻           [2026/12/07 09:58:00]\n\r"
             "  回線使用率         [ 12%]\n\r  自動切断時間       [ " +
             std::to_string(idle) + "/180]\n\r";
    else
        r += "  接続モード         [未接続]\n\r";
    return r + "B2チャネル:\n\r  接続モード         [未接続]\n\r" + kPrompt;
}

struct AloneRig {
    AloneRig()
        : transport(loop),
          tmrSOHO(loop.MakeTimer()),
          tmrRetry(loop.MakeTimer()),
          trace(loop, view),
          linkView(view),
          link(LinkPorts{transport, loop, loop, linkView, *tmrSOHO, *tmrRetry}, trace, settings,
               calls, failures) {
        settings.sohoip = "127.0.0.1";
        settings.atcuttm = 30;
        settings.atcutmode = 1;
        settings.dspinfo = 0;
        transport.Greeting("\n\rconsole\n\r");
        transport.Answer("", "\n\rlogin: ");
        transport.Answer("user", "\n\rWelcome to MN128-SOHO!\n\r" + kPrompt);
        transport.Answer("show time", "\n\r2026/12/07(Mon) now: 09:59:58" + kPrompt);
        transport.onLine = [this](const std::string& line) -> std::optional<std::string> {
            if (line == "show status") return Report(b1Up, idle);
            if (line.rfind("disconnect", 0) == 0) return "\n\r切断中\n\r" + kPrompt;
            return std::nullopt;
        };
    }

    FakeEventLoop loop;
    RecordingView view;
    ScriptedTransport transport;
    std::unique_ptr<FakeTimer> tmrSOHO, tmrRetry;
    Settings settings;
    Trace trace;
    FakeCallEvents calls;
    RecordingLinkView linkView;
    RecordingLinkEvents failures;
    ConsoleLink link;
    bool b1Up = false;
    int idle = 0;

    // Each exchange is sent and goes on from the event loop: the test lets it run to its end.
    void Settle() {
        loop.RunUntil([this] { return !link.ConsoleHeld(); });
    }
    void Login() {
        link.LoginSOHO();
        Settle();
    }
    void Poll() {
        link.GetNow();
        Settle();
    }
};

TEST(LinkAlone, ReportsEachCallOnceWithTheRoutersConnectTime) {
    AloneRig r;
    r.b1Up = true;
    r.Login();  // a call already up is taken over at the login
    EXPECT_TRUE(r.link.LoggedIn());
    EXPECT_EQ(r.link.State().ClockOffset, 2);
    r.Poll();  // still up: not reported again
    r.b1Up = false;
    r.Poll();  // gone: every channel is closed
    r.Poll();  // nothing open: nothing to report
    EXPECT_EQ(r.calls.log,
              (std::vector<std::string>{"up 1 2026/12/07 09:58:00", "down 1", "down 2"}));
    EXPECT_EQ(r.view.lcd(8), "");  // the read-outs of a line without a call are empty
}

TEST(LinkAlone, HangingUpClosesTheCallBeforeTheRouterAnswers) {
    AloneRig r;
    r.b1Up = true;
    r.Login();
    r.calls.log.clear();
    r.transport.onLineDelayMs = 500;
    r.link.DisConnect(1);
    // Closed before the router has answered, and the console is free once it has.
    EXPECT_EQ(r.calls.log, (std::vector<std::string>{"down 1"}));
    EXPECT_EQ(r.transport.SentLines().back(), "disconnect b1");
    EXPECT_FALSE(r.link.LinkReady());
    r.Settle();
    EXPECT_TRUE(r.link.LinkReady());
}

// The automatic disconnection is armed from the idle seconds and the meter's tariff alone.
TEST(LinkAlone, ArmsTheAutomaticCutFromIdleTimeAndTariff) {
    struct Case {
        int idle;
        TariffMode tariff;
        bool cutBreak;
        bool armed;
        uint32_t colour;
    };
    for (const Case& c : {Case{29, TariffMode::BandA, false, false, kColourGreen},
                          Case{30, TariffMode::BandA, false, true, kColourRed},
                          Case{90, TariffMode::BandC, false, true, kColourRed},
                          Case{90, TariffMode::FlatRate, false, false, kColourYellow},
                          Case{90, TariffMode::BandB, true, false, kColourGreen}}) {
        AloneRig r;
        r.b1Up = true;
        r.idle = c.idle;
        r.calls.tariff = c.tariff;
        r.link.SetCutBreak(c.cutBreak);
        r.Login();
        EXPECT_EQ(r.link.Status().AutoCutArmed, c.armed)
            << c.idle << " " << static_cast<int>(c.tariff);
        EXPECT_EQ(r.view.colour(5), c.colour) << c.idle << " " << static_cast<int>(c.tariff);
        EXPECT_EQ(r.view.lcd(11), std::to_string(static_cast<int>(c.tariff)));
        EXPECT_EQ(r.view.lcd(8), "09:58:30");
    }
}

// Two outages: the waits between attempts to log in again double up to a minute and no further,
// and start afresh after a login that worked.
TEST(LinkAlone, EachOutageBacksOffAfreshUpToAMinute) {
    AloneRig r;
    r.Login();
    ASSERT_TRUE(r.link.LoggedIn());
    auto outage = [&r](int refused) {
        std::vector<int64_t> waits;
        r.transport.connectResult = 10061;
        r.transport.PeerClose(0);
        r.loop.Advance(1);
        int64_t since = r.loop.MonotonicMs();
        int seen = r.transport.connects;
        for (int step = 0; step < 60000 && static_cast<int>(waits.size()) <= refused; ++step) {
            if (static_cast<int>(waits.size()) == refused) r.transport.connectResult = 0;
            r.loop.Advance(10);
            if (r.transport.connects == seen) continue;
            seen = r.transport.connects;
            // To the tenth of a second: the wait between one attempt and the next.
            waits.push_back((r.loop.MonotonicMs() - since + 50) / 100 * 100);
            since = r.loop.MonotonicMs();
        }
        r.Settle();
        return waits;
    };
    EXPECT_EQ(outage(7),
              (std::vector<int64_t>{2000, 4000, 8000, 16000, 32000, 60000, 60000, 60000}));
    EXPECT_TRUE(r.link.LinkReady());
    EXPECT_EQ(outage(2), (std::vector<int64_t>{2000, 4000, 8000}));
    EXPECT_TRUE(r.link.LinkReady());
}

}  // namespace
}  // namespace kv::test
