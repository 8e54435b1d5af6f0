// SPDX-License-Identifier: GPL-3.0-or-later
// The login dialogue against a scripted router.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "common/cp932.h"
#include "link/link_rig.h"

namespace kv::test {
namespace {

using Lines = std::vector<std::string>;

TEST(Login, PlainDialogueWithoutOptionalSteps) {
    LinkRig r;
    r.ScriptLogin();
    r.cx.link.LoginSOHO();
    r.Settle();
    EXPECT_EQ(r.transport.SentLines(), (Lines{"", "user", "show time", "show status"}));
    EXPECT_EQ(r.transport.sent, "\n\ruser\n\rshow time\n\rshow status\n\r");
    EXPECT_EQ(r.cx.link.State().RouterName, u"MN128-SOHO");
    EXPECT_TRUE(r.cx.link.State().LinkReady);
    EXPECT_TRUE(r.cx.link.State().LoggedIn);
    EXPECT_TRUE(r.rig.tmrSOHO->Enabled());
    EXPECT_EQ(r.cx.link.CurrentChannel(), 0);
    EXPECT_TRUE(r.view.boxes.empty());
    // The router answers 09:59:55 a few milliseconds after a send at 10:00:00.
    EXPECT_EQ(r.cx.link.State().ClockOffset, 5);
    const std::string trace = r.Trace();
    for (const char* step : {"LoginSOHO", "Login-0", "Login-1", "Login-2", "Login-3", "Login-4",
                             "Login-10", "Login-11", "LoginEnd"})
        EXPECT_EQ(Count(trace, std::string(" ") + step + "\""), 1u) << step;
    EXPECT_EQ(Count(trace, "Login-kcode"), 0u);
}

TEST(Login, PasswordKanjiCodeAndClockSteps) {
    LinkRig r;
    r.rig.loop.SetWallClock({Date{1999, 6, 24}, TimeOfDay{14, 5, 9}});
    r.ScriptLogin();
    r.transport.Answer("user\r\nsecret", "\n\rWelcome to MN128-SOHO!" + kPrompt);
    r.transport.Answer("sys time 1999/06/24-14:05", kPrompt);
    r.transport.Answer("show time", TimeReply("14:05:00"));
    r.cx.settings.sohowp = "secret";
    r.cx.settings.sohokcode = 1;
    r.cx.settings.sohotime = 1;
    r.cx.link.LoginSOHO();
    r.Settle();
    EXPECT_EQ(r.transport.sent,
              "\n\ruser\r\nsecret\n\rsys kcode sjis\n\rsys time 1999/06/24-14:05\n\rshow time\n\r"
              "show status\n\r");
    EXPECT_TRUE(r.cx.link.State().LoggedIn);
    EXPECT_EQ(r.cx.link.State().ClockOffset, 9);
    EXPECT_EQ(Count(r.Trace(), "Login-kcode"), 1u);
    EXPECT_EQ(Count(r.Trace(), "Login-timeset"), 1u);
}

TEST(Login, ClockOffsetAcrossMidnightStaysSmall) {
    LinkRig r;
    r.rig.loop.SetWallClock({Date{2026, 12, 8}, TimeOfDay{0, 0, 2}});
    r.ScriptLogin();
    r.transport.Answer("show time", TimeReply("23:59:58"));
    r.cx.link.LoginSOHO();
    r.Settle();
    EXPECT_EQ(r.cx.link.State().ClockOffset, 4);

    LinkRig s;
    s.rig.loop.SetWallClock({Date{2026, 12, 7}, TimeOfDay{23, 59, 59}});
    s.ScriptLogin();
    s.transport.Answer("show time", TimeReply("00:00:03"));
    s.cx.link.LoginSOHO();
    s.Settle();
    EXPECT_EQ(s.cx.link.State().ClockOffset, -4);
}

// A "show time" reply in several reads has filler characters inside it, so the time is not at
// character 24 of the reply as built; the login reads it from the reply without them instead
// of ending the program.
TEST(Login, ClockReplyInPiecesIsStillRead) {
    LinkRig r;
    r.ScriptLogin();
    r.transport.segment = 5;
    r.cx.link.LoginSOHO();
    r.Settle();
    EXPECT_TRUE(r.cx.link.State().LoggedIn);
    EXPECT_TRUE(r.view.boxes.empty());
    EXPECT_EQ(r.cx.link.State().ClockOffset, 5);
}

TEST(Login, AConnectionAlreadyUpIsTakenOver) {
    LinkRig r;
    r.ScriptLogin(StatusReport(true, false, 3));
    r.cx.link.LoginSOHO();
    r.Settle();
    EXPECT_EQ(r.cx.link.CurrentChannel(), 1);
    EXPECT_TRUE(r.cx.meter.ChConnected(1));  // the call record was opened
    EXPECT_EQ(r.view.lcd(0), "端末型(B1)");
    EXPECT_EQ(r.view.lcd(6), "0");
}

struct FailureCase {
    const char* name;
    std::function<void(LinkRig&)> script;
    const char* tag;
    const char* message;
};

class LoginFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(LoginFailure, TracesTheTagEndsWithTheMessage) {
    const FailureCase& c = GetParam();
    LinkRig r;
    r.ScriptLogin();
    r.cx.settings.sohokcode = 1;
    r.cx.settings.sohotime = 1;
    r.transport.onLine = [](const std::string&) { return std::optional<std::string>(kPrompt); };
    c.script(r);
    bool saved = false;
    r.cx.hooks.SaveWindowPosition = [&] { saved = true; };
    EXPECT_EQ(r.Ends([&] { r.cx.link.LoginSOHO(); }), c.message);
    EXPECT_TRUE(saved);
    EXPECT_TRUE(r.transport.closedByProgram());
    EXPECT_FALSE(r.cx.link.State().LoggedIn);
    EXPECT_FALSE(r.cx.link.State().LinkReady);
    EXPECT_FALSE(r.rig.tmrSOHO->Enabled());
    const std::string trace = r.Trace();
    EXPECT_EQ(Count(trace, std::string(" ") + c.tag), 1u) << trace;
    EXPECT_NE(trace.find(std::string(c.message) + "\"\r\n"), std::string::npos);
}

void Silence(LinkRig& r, const std::string& line) {
    r.transport.AnswerBytes(line, "");
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, LoginFailure,
    ::testing::Values(
        FailureCase{"NoPrompt", [](LinkRig& r) { r.transport.Answer("", "\n\rlogin"); },
                    "dummy send err:\n\rlogin", "MN128と接続出来ません(err=1)"},
        FailureCase{"WrongPassword",
                    [](LinkRig& r) { r.transport.Answer("user", "\n\rpassword incorrect\n\r"); },
                    "login err:", "MN128と接続出来ません(err=2)"},
        FailureCase{"OtherDevice",
                    [](LinkRig& r) { r.transport.Answer("user", "\n\rWelcome to Other!\n\r% "); },
                    "welcome err:", "MN128のIPアドレスを確認してください(err=99)"},
        FailureCase{"NoName",
                    [](LinkRig& r) { r.transport.Answer("user", "Welcome to MN128-SOHO\n\r% "); },
                    "name err:", "MN128と接続出来ません(err=name)"},
        FailureCase{"KanjiCode", [](LinkRig& r) { Silence(r, "sys kcode sjis"); },
                    "set kcode err:", "MN128と接続出来ません(err=kcodeset)"},
        FailureCase{"TimeSet", [](LinkRig& r) { Silence(r, "sys time 2026/12/07-10:00"); },
                    "set time err:", "MN128と接続出来ません(err=timeset)"},
        FailureCase{"ShowTime", [](LinkRig& r) { Silence(r, "show time"); },
                    "get time err:", "MN128と接続出来ません(err=time)"},
        FailureCase{"ShowTimeGarbled",
                    [](LinkRig& r) { r.transport.Answer("show time", TimeReply("9:59:55 ")); },
                    "get time err:", "MN128と接続出来ません(err=time)"},
        FailureCase{"ShowStatus", [](LinkRig& r) { Silence(r, "show status"); },
                    "show status send err:", "MN128と接続出来ません(err=3)"},
        FailureCase{
            "NotShiftJis",
            [](LinkRig& r) { r.transport.Answer("show status", "\n\rLine: ISDN" + kPrompt); },
            "isdn ck err:\n\rLine: ISDN", "漢字コードが違います。SJISにして下さい"}),
    [](const ::testing::TestParamInfo<FailureCase>& p) { return p.param.name; });

TEST(Login, NoGreetingCostsOneAttemptOnly) {
    LinkRig r;
    r.ScriptLogin(StatusReport(false, false), false);
    r.cx.link.LoginSOHO();
    r.Settle();
    EXPECT_TRUE(r.cx.link.State().LoggedIn);
    EXPECT_EQ(Count(r.Trace(), "retry(a):"), 1u);
    EXPECT_LT(r.loop.MonotonicMs(), 12000);
}

}  // namespace
}  // namespace kv::test

namespace kv::test {
namespace {

// A router that sends every reply in two writes split at `at` bytes (or just before its last
// byte), 30 ms apart: with the split inside the prompt, the wait for the name ends before
// "% " arrives, which then leads the next reply. The clock must still be read right, for every
// split place of the prompt and of the "show time" reply, with the optional steps on and off.
TEST(Login, EverySplitOfThePromptAndOfTheClockReply) {
    const std::string timeReply = cp932::EncodeFromUtf8(TimeReply("09:59:55"));
    for (int steps = 0; steps < 4; ++steps) {
        for (size_t at = 1; at <= timeReply.size(); ++at) {
            LinkRig r;
            r.cx.settings.sohokcode = steps & 1;
            r.cx.settings.sohotime = (steps & 2) >> 1;
            r.transport.Greeting("\n\rMN128-SOHO console\n\r");
            int64_t lastPieceMs = 0;  // the stream keeps its order: a reply follows the last one
            r.transport.onLine =
                [&r, at, &lastPieceMs](const std::string& line) -> std::optional<std::string> {
                std::string reply;
                if (line.empty())
                    reply = "\n\rlogin: ";
                else if (line == "user")
                    reply = "\n\rWelcome to MN128-SOHO!\n\r" + kPrompt;
                else if (line == "show time")
                    reply = TimeReply("09:59:55");
                else if (line == "show status")
                    reply = StatusReport(false, false);
                else
                    reply = kPrompt;
                const std::string bytes = cp932::EncodeFromUtf8(reply);
                const size_t cut = std::min(at, bytes.size() - 1);
                const int64_t now = r.loop.MonotonicMs();
                const int64_t first = std::max<int64_t>(10, lastPieceMs + 1 - now);
                r.transport.DeliverBytes(bytes.substr(0, cut), first);
                r.transport.DeliverBytes(bytes.substr(cut), first + 30);
                lastPieceMs = now + first + 30;
                return std::nullopt;
            };
            const std::string ended = r.Ends([&] { r.cx.link.LoginSOHO(); });
            ASSERT_EQ(ended, "") << steps << " " << at << "\n" << r.Trace();
            ASSERT_TRUE(r.cx.link.LoggedIn()) << steps << " " << at;
            EXPECT_EQ(r.cx.link.State().ClockOffset, 5) << steps << " " << at;
            EXPECT_TRUE(r.view.boxes.empty()) << steps << " " << at;
        }
    }
}

// A router that takes one console session closes a second at once, with or without a word
// first: one box that says so, at once, and nothing more sent to it.
TEST(Login, RouterClosingTheConsoleBeforeTheLoginIsOneBox) {
    const struct {
        const char* greeting;
        int64_t closeMs;
    } cases[] = {{nullptr, 5}, {"\n\rconsole busy\n\r", 20}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.closeMs);
        LinkRig r;
        if (c.greeting) r.transport.Greeting(c.greeting);
        r.transport.PeerClose(c.closeMs);
        EXPECT_EQ(r.Ends([&] { r.cx.link.LoginSOHO(); }), kSessionClosedText);
        EXPECT_EQ(r.view.boxes.size(), 1u);
        EXPECT_LT(r.loop.MonotonicMs(), 1000);
        EXPECT_NE(r.Trace().find("closed err:Server Shutdown:"), std::string::npos);
    }
}

}  // namespace
}  // namespace kv::test
