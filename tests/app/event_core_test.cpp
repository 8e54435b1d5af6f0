// SPDX-License-Identifier: GPL-3.0-or-later
// The program never waits for the router: the meter keeps its own second whatever the console
// does, a cut that falls due is not kept behind a poll started knowing it was near, and the end
// of the program waits for nothing it does not need. Whole runs on the fakes, the router's
// replies as late as a table says.
#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/startup.h"
#include "support/test_rig.h"

namespace kv::test {
namespace {

const std::string kPrompt = "\n\rMN128-SOHO% ";

// A router whose status report is printed lateMs after it was asked for, with the line as it is
// then; it may also stop answering, or close the console.
struct CoreRig {
    explicit CoreRig(int64_t late = 0, LocalTime start = {Date{2026, 12, 7}, TimeOfDay{10, 0, 0}})
        : rig(start), lateMs(late) {
        Settings& s = cx.settings;
        s.sohoip = "127.0.0.1";
        s.seca = s.secb = s.secc = 12;
        s.ctanni = 10;
        s.dspint = 1000;
        s.sohoint = 2000;
        s.soho2int = 3000;
        s.atcutmode = 0;
        s.atcuttm = 3;
        s.atcutdly = 3;
        s.winmodec = s.winmodedc = 1;
        s.telstday = 1;
        rig.tmrDSP->SetInterval(s.dspint);
        rig.tmrSOHO->SetInterval(s.sohoint);
        WireMainTimers(cx);
        cx.hooks.SaveWindowPosition = [this] { endedAtMs = loop.MonotonicMs(); };
        ScriptedTransport& t = rig.transport;
        t.Greeting("\n\rconsole\n\r");
        t.Answer("", "\n\rlogin: ");
        t.Answer("user", "\n\rWelcome to MN128-SOHO!\n\r" + kPrompt);
        t.Answer("show time", "\n\r2026/12/07(Mon) now: " + FormatTime(start.time) + kPrompt);
        t.onLine = [this](const std::string& line) -> std::optional<std::string> {
            sent.push_back({loop.MonotonicMs(), line});
            if (silent) return std::nullopt;
            if (line == "show status") {
                loop.After(loggedIn ? lateMs : 0, [this] { rig.transport.Deliver(Report()); });
                return std::nullopt;
            }
            if (line.rfind("disconnect b", 0) == 0) {
                if (hangUpDelayMs < 0) return std::nullopt;
                loop.After(hangUpDelayMs, [this] {
                    upSinceMs.reset();
                    rig.transport.Deliver("\n\r切断中\n\r" + kPrompt);
                });
                return std::nullopt;
            }
            return kPrompt;
        };
        cx.link.LoginSOHO();
        loop.RunUntil([this] { return cx.link.LoggedIn() && !cx.link.ConsoleHeld(); });
        loggedIn = true;
    }

    std::string Report() const {
        std::string b1 = "B1チャネル:\n\r";
        if (upSinceMs) {
            const int64_t secs = (loop.MonotonicMs() - *upSinceMs) / 1000;
            b1 += "  接続モード         [端末型]\n\r  接続時刻           [" + connectTime +
                  "]\n\r  回線使用率         [ 0%]\n\r  自動切断時間       [ " +
                  std::to_string(secs) + "/180]\n\r";
        } else {
            b1 += "  接続モード         [未接続]\n\r";
        }
        std::string b2 = "B2チャネル:\n\r";
        if (b2UpSinceMs) {
            b2 += "  接続モード         [端末型]\n\r  接続時刻           [" + b2ConnectTime +
                  "]\n\r  回線使用率         [ 0%]\n\r  自動切断時間       [ 0/180]\n\r";
        } else {
            b2 += "  接続モード         [未接続]\n\r";
        }
        return "\n\r回線種別:ISDN\n\r" + b1 + b2 + kPrompt;
    }
    static std::string Stamp(const LocalTime& t) {
        return FormatDate(t.date) + " " + FormatTime(t.time);
    }
    // The line comes up now; the router's clock agrees with the computer's.
    void Up(int ago = 0) {
        upSinceMs = loop.MonotonicMs() - int64_t{ago} * 1000;
        const LocalTime now = loop.Now();
        connectTime = Stamp({now.date, TimeOfDay::FromSeconds(now.time.Seconds() - ago)});
    }
    void UpB2() {
        b2UpSinceMs = loop.MonotonicMs();
        b2ConnectTime = Stamp(loop.Now());
    }
    std::vector<int64_t> SentAt(const std::string& line) const {
        std::vector<int64_t> at;
        for (const auto& [ms, l] : sent)
            if (l == line) at.push_back(ms);
        return at;
    }
    // The "Tel" records: duration and units.
    std::vector<std::pair<int, int>> Records() const {
        std::vector<std::pair<int, int>> records;
        std::istringstream in(rig.ReadDataFile("Kestrovan.log"));
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("\"Tel\"", 0) != 0) continue;
            std::vector<std::string> f;
            std::istringstream fields(line);
            for (std::string v; std::getline(fields, v, ',');) f.push_back(v);
            records.push_back({std::stoi(f[6]), std::stoi(f[7])});
        }
        return records;
    }
    std::pair<int, int> Record() const {
        const auto records = Records();
        return records.empty() ? std::pair{-1, -1} : records.front();
    }
    // Ends the program as SIGTERM does; returns how long the end took, or -1 when it did not
    // come within a minute.
    int64_t End() {
        const int64_t asked = loop.MonotonicMs();
        try {
            bool cancel = false;
            Form_QueryUnload(cx, cancel, UnloadMode::Program);
            loop.Advance(60000);
        } catch (const ProgramEnded&) {
            return endedAtMs - asked;
        }
        return -1;
    }

    TestRig rig;
    Context& cx = rig.cx;
    FakeEventLoop& loop = rig.loop;
    int64_t lateMs;
    int64_t hangUpDelayMs = 300;  // < 0: never answered
    bool silent = false;
    bool loggedIn = false;
    std::optional<int64_t> upSinceMs, b2UpSinceMs;
    std::string connectTime, b2ConnectTime;
    std::vector<std::pair<int64_t, std::string>> sent;
    int64_t endedAtMs = -1;
};

// Units begin at their second whatever the console does: the call's time on the window moves
// every second, also while a report is late, and every record's units are the unit boundaries
// its duration reached.
TEST(EventCore, TheMeterKeepsItsSecondWhileTheRouterIsSlow) {
    // Later than that, during a call, the router counts as gone (see the silent router below).
    for (const int64_t late : {0, 3000, 7000}) {
        SCOPED_TRACE("reply " + std::to_string(late) + " ms late");
        CoreRig r(late);
        r.loop.Advance(1000);
        r.Up();
        const int64_t upAt = r.loop.MonotonicMs();
        r.loop.After(41000, [&r] { r.upSinceMs.reset(); });
        // Once the call is seen, the time shown goes up by one every second until its end.
        r.loop.RunUntil([&r] { return r.cx.meter.ChConnected(1); }, 40000);
        ASSERT_TRUE(r.cx.meter.ChConnected(1));
        std::string last = r.rig.view.lcd(1);
        int stalls = 0;
        while (r.cx.meter.ChConnected(1) && r.loop.MonotonicMs() < upAt + 41000) {
            r.loop.Advance(1000);
            if (r.cx.meter.ChConnected(1) && r.rig.view.lcd(1) == last) ++stalls;
            last = r.rig.view.lcd(1);
        }
        EXPECT_EQ(stalls, 0);
        r.loop.Advance(60000);
        const auto [secs, units] = r.Record();
        ASSERT_GE(secs, 41);
        EXPECT_EQ(units, secs / 12 + 1) << secs;
        // The end is seen with the first report printed after it.
        EXPECT_LE(secs, 41 + late / 1000 + 3 + 1);
    }
}

// An armed cut goes out when it falls due, or when the reply in flight has come: never behind
// a poll started when, at the router's pace, the cut was already near.
TEST(EventCore, AnArmedCutIsNotKeptBehindAPollStartedWhenItWasNear) {
    for (const int64_t late : {0, 2000, 8000}) {
        SCOPED_TRACE("reply " + std::to_string(late) + " ms late");
        CoreRig r(late);
        r.cx.settings.atcutmode = 1;
        r.cx.settings.seca = r.cx.settings.secb = r.cx.settings.secc = 30;
        r.loop.Advance(1000);
        r.Up();
        const int64_t upAt = r.loop.MonotonicMs();
        r.loop.RunUntil([&r] { return r.cx.link.Status().AutoCutArmed; }, 40000);
        ASSERT_TRUE(r.cx.link.Status().AutoCutArmed);
        r.loop.Advance(60000);
        const std::vector<int64_t> cuts = r.SentAt("disconnect b1");
        ASSERT_EQ(cuts.size(), 1u);
        // Due 3 s before the unit at 30 s; late at most by the one reply already asked for.
        const int64_t due = upAt + 27000;
        EXPECT_GE(cuts[0], due - 1000);
        EXPECT_LE(cuts[0], due + late);
        for (const int64_t poll : r.SentAt("show status"))
            if (poll > upAt && poll < cuts[0]) {
                EXPECT_LT(poll + late, due + 1000) << poll;
            }
        const auto [secs, units] = r.Record();
        EXPECT_EQ(units, secs / 30 + 1) << secs;
        EXPECT_EQ(units, late < 3000 ? 1 : units);
    }
}

// The end of the program: without a call to cut it ends at once, whatever the router does;
// with "強制切断" and a call, the cut goes out at once and the end follows its answer, or one
// attempt of 10 to 11 s.
TEST(EventCore, TheEndWaitsForNoReplyItDoesNotNeed) {
    struct Case {
        const char* name;
        int64_t lateMs;  // the poll under way
        bool silent;     // the router answers nothing any more
        bool call;
        int16_t linecut;
        int64_t hangUpDelayMs;
        int64_t atMostMs;
        bool cutSent;
    };
    const Case cases[] = {
        {"slow poll, no call", 5000, false, false, 0, 300, 0, false},
        {"unanswered poll, no call", 0, true, false, 1, 300, 0, false},
        {"unanswered poll, call, no 強制切断", 0, true, true, 0, 300, 0, false},
        {"unanswered poll, call, 強制切断", 0, true, true, 1, 300, 11000, true},
        // A router answers in order: the late report first, then the cut.
        {"slow poll, call, cut answered", 5000, false, true, 1, 300, 5000, true},
        {"slow poll, call, cut unanswered", 5000, false, true, 1, -1, 11000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CoreRig r(c.call ? 0 : c.lateMs);
        r.cx.settings.linecut = c.linecut;
        if (c.call) {
            r.Up();
            r.loop.RunUntil([&r] { return r.cx.meter.ChConnected(1); }, 10000);
            ASSERT_TRUE(r.cx.meter.ChConnected(1));
            r.lateMs = c.lateMs;
        }
        r.silent = c.silent;
        r.hangUpDelayMs = c.hangUpDelayMs;
        // The end is asked for while a poll waits for its reply.
        r.loop.RunUntil([&r] { return r.cx.link.Polling(); }, 10000);
        ASSERT_TRUE(r.cx.link.Polling());
        r.loop.Advance(100);
        const int64_t asked = r.loop.MonotonicMs();
        const int64_t took = r.End();
        ASSERT_GE(took, 0);
        EXPECT_LE(took, c.atMostMs);
        const std::vector<int64_t> cuts = r.SentAt("disconnect b1");
        EXPECT_EQ(cuts.size(), c.cutSent ? 1u : 0u);
        if (!cuts.empty()) {
            EXPECT_EQ(cuts[0], asked);
        }
        if (c.call) {
            EXPECT_NE(r.Record().first, -1);  // the record was closed
        }
    }
}

// The connection lost the moment a call is first seen: the meter stops with it and charges
// nothing while the router is away; back with the same connection, the time goes on.
TEST(EventCore, ALinkLostAsTheCallOpensStopsTheMeter) {
    CoreRig r;
    r.Up();
    // The report that shows the call and the close come together.
    r.loop.RunUntil([&r] { return r.cx.link.Polling(); }, 10000);
    r.rig.transport.PeerClose(1);
    r.loop.RunUntil([&r] { return r.cx.link.Lost(); }, 10000);
    ASSERT_TRUE(r.cx.meter.ChConnected(1));
    ASSERT_TRUE(r.cx.meter.Suspended());
    // Refused while the router restarts.
    r.rig.transport.connectResult = 10061;
    const int32_t units = r.cx.meter.Call().CallUnits;
    const std::string shown = r.rig.view.lcd(1);
    r.loop.Advance(20000);
    EXPECT_FALSE(r.rig.tmrDSP->Enabled());
    EXPECT_EQ(r.cx.meter.Call().CallUnits, units);
    EXPECT_EQ(r.rig.view.lcd(1), shown);
    // Back: the same connection goes on as the same call.
    r.rig.transport.connectResult = 0;
    r.loop.RunUntil([&r] { return !r.cx.link.Lost(); }, 130000);
    ASSERT_FALSE(r.cx.link.Lost());
    EXPECT_FALSE(r.cx.meter.Suspended());
    EXPECT_TRUE(r.rig.tmrDSP->Enabled());
}

// A router that stops answering during a call is said at once (the line may be up and cannot
// be cut from here), and logged in to again, whenever in the poll's cycle it fell silent.
TEST(EventCore, ASilentRouterDuringACallIsSaidWithinTwelveSeconds) {
    for (const int64_t after : {0, 700, 1500, 2900}) {
        SCOPED_TRACE("silent " + std::to_string(after) + " ms after a reply");
        CoreRig r;
        r.Up();
        r.loop.RunUntil([&r] { return r.cx.meter.ChConnected(1); }, 10000);
        r.loop.RunUntil([&r] { return r.cx.link.Polling(); }, 10000);
        r.loop.RunUntil([&r] { return !r.cx.link.Polling(); }, 10000);
        r.loop.Advance(after);
        r.silent = true;
        const int64_t from = r.loop.MonotonicMs();
        ASSERT_TRUE(r.loop.RunUntil(
            [&r] { return r.rig.view.status().find("切断できません") != std::string::npos; },
            30000));
        EXPECT_LE(r.loop.MonotonicMs() - from, 12000);
        EXPECT_TRUE(r.cx.link.Lost());
        EXPECT_TRUE(r.cx.meter.Suspended());
    }
}

// B2 comes up while B1 is metered: B1 stays metered until it goes, then B2 from its own connect
// time. Every second of each channel is in one record, charged once.
TEST(EventCore, BothChannelsAreCharged) {
    CoreRig r;
    const int64_t up = r.loop.MonotonicMs();
    r.Up();
    r.loop.At(up + 16000, [&r] { r.UpB2(); });
    r.loop.At(up + 24000, [&r] { r.upSinceMs.reset(); });
    r.loop.At(up + 44000, [&r] { r.b2UpSinceMs.reset(); });
    r.loop.Advance(60000);
    const auto records = r.Records();
    ASSERT_EQ(records.size(), 2u);
    // 12-s units: B1 up 24 s, B2 up 28 s; each seen to its end within a poll.
    EXPECT_GE(records[0].first, 24);
    EXPECT_LE(records[0].first, 24 + 3);
    EXPECT_EQ(records[0].second, records[0].first / 12 + 1);
    EXPECT_GE(records[1].first, 28);
    EXPECT_LE(records[1].first, 28 + 3);
    EXPECT_EQ(records[1].second, records[1].first / 12 + 1);
}

// A night call under the flat-rate service first seen just before a unit boundary: the cut is
// judged once its tariff is known, so it is never cut, whatever the phase of the ticks.
TEST(EventCore, TheFlatRateWindowIsNeverCut) {
    for (const int64_t phase : {0, 1, 250, 500, 999}) {
        for (const int ago : {8, 9, 10, 11}) {
            SCOPED_TRACE("ticks at +" + std::to_string(phase) + " ms, seen " + std::to_string(ago) +
                         " s after the connect");
            CoreRig r(0, {Date{2026, 12, 7}, TimeOfDay{23, 30, 0}});
            r.cx.settings.teleho = 1;
            r.cx.settings.atcutmode = 1;
            r.loop.Advance(phase);
            r.Up(ago);
            r.loop.RunUntil([&r] { return r.cx.meter.ChConnected(1); }, 10000);
            r.loop.Advance(60000);
            EXPECT_TRUE(r.SentAt("disconnect b1").empty());
            EXPECT_TRUE(r.cx.meter.ChConnected(1));
        }
    }
}

}  // namespace
}  // namespace kv::test
