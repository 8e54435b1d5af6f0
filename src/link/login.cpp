// SPDX-License-Identifier: GPL-3.0-or-later
// Logging in to the router's console at start-up.
#include <cstdio>
#include <optional>
#include <string>

#include "common/cp932.h"
#include "link/console_link.h"
#include "link/link_text.h"

namespace kv {

namespace {

int Digit(char16_t c) {
    return c >= u'0' && c <= u'9' ? c - u'0' : -1;
}

// "hh:mm:ss" at index `at` of text, in seconds of the day.
std::optional<int32_t> ClockAt(std::u16string_view text, size_t at) {
    if (text.size() < at + 8) return std::nullopt;
    const std::u16string_view t = text.substr(at, 8);
    if (t[2] != u':' || t[5] != u':') return std::nullopt;
    int v[6];
    for (int i = 0, k = 0; i < 8; ++i) {
        if (i == 2 || i == 5) continue;
        v[k] = Digit(t[static_cast<size_t>(i)]);
        if (v[k++] < 0) return std::nullopt;
    }
    const int h = v[0] * 10 + v[1], m = v[2] * 10 + v[3], s = v[4] * 10 + v[5];
    if (h > 23 || m > 59 || s > 59) return std::nullopt;
    return h * 3600 + m * 60 + s;
}

// The router's time in a "show time" reply. It stands at character 24 of the reply as the
// socket layer builds it; a reply that came in several reads has filler characters in between,
// and one that begins with the tail of the previous prompt (a router may send its prompt in
// two writes, the second arriving after the wait for the name has ended) is shifted. So: that
// place, then that place without the fillers, then the first time of day in the text.
std::optional<int32_t> RouterClock(const std::u16string& reply) {
    if (auto t = ClockAt(reply, 23)) return t;
    const std::u16string plain = link::WithoutFillers(reply);
    if (auto t = ClockAt(plain, 23)) return t;
    for (size_t i = 0; i + 8 <= plain.size(); ++i) {
        if (i > 0 && Digit(plain[i - 1]) >= 0) continue;
        if (plain.size() > i + 8 && Digit(plain[i + 8]) >= 0) continue;
        if (auto t = ClockAt(plain, i)) return t;
    }
    return std::nullopt;
}

// The two clocks are within hours of each other; a difference read across midnight is
// folded back so it does not come out a day off.
int32_t FoldOffset(int32_t diff) {
    while (diff >= 43200) diff -= 86400;
    while (diff < -43200) diff += 86400;
    return diff;
}

std::u16string TimeSetCommand(const LocalTime& now) {
    char hm[8];
    std::snprintf(hm, sizeof hm, "%02d:%02d", now.time.hour % 100, now.time.minute % 100);
    return Utf8ToUtf16("sys time " + FormatDate(now.date) + "-" + hm);
}

}  // namespace

void ConsoleLink::LoginFailed(const std::string& tag, const std::string& message) {
    session_.IgnoreEcho({});
    loggingIn_ = false;
    trace_.Error(tag + ForTrace(State().ReplyText));
    // At start-up a login that fails ends the program; while reconnecting the next attempt
    // follows.
    if (!reconnecting_) {
        Fail(message);
        return;
    }
    LoginAttemptOver(false);
}

bool ConsoleLink::LoginClosed(const std::string& how) {
    if (!loggingIn_) return false;
    session_.Drop();
    if (stopped_) return true;
    // One box that says what happened; nothing more is sent to a console that is gone.
    ports_.view.ShowStatus(how);
    queue_.Abandon();
    LoginFailed("closed err:" + how + ":", kSessionClosedText);
    return true;
}

void ConsoleLink::LoginAttemptOver(bool ok) {
    // A failed attempt to log in again gives the console back without running what waits.
    if (!ok) queue_.Unhold();
    if (auto done = std::move(loginDone_)) {
        loginDone_ = nullptr;
        done(ok);
    }
}

// One command step: send, wait for the awaited text, go on with `next`.
void ConsoleLink::LoginStep(const std::string& statusTag, const std::string& traceTag,
                            const std::u16string& command, int16_t pending,
                            const std::u16string& awaited, const std::string& failTag,
                            const std::string& failMessage, std::function<void()> next,
                            int32_t* pcSecondsAfterSend) {
    trace_.ShowDebugStep(statusTag);
    trace_.Step(traceTag);
    LinkState& link = session_.Mutable();
    link.SendText = command;
    session_.ClearReply();
    link.PendingReceives = pending;
    session_.Sendbyte();
    if (pcSecondsAfterSend) *pcSecondsAfterSend = ports_.clock.Now().time.Seconds();
    queue_.Await(awaited, 3, [this, failTag, failMessage, next = std::move(next)](bool ok) {
        if (!ok) {
            LoginFailed(failTag, failMessage);
            return;
        }
        next();
    });
}

void ConsoleLink::LoginSOHO() {
    LoginDialogue(nullptr);
}

void ConsoleLink::LoginDialogue(std::function<void(bool)> done) {
    loginDone_ = std::move(done);
    loggingIn_ = true;
    trace_.ShowDebugStep("login-st");
    trace_.Step("LoginSOHO");
    ports_.tmrSOHO.SetEnabled(false);
    queue_.Hold();
    session_.ClearReply();
    session_.Mutable().PendingReceives = 1;

    // 0: open the connection and take the greeting, whatever it says.
    trace_.Step("Login-0");
    if (!session_.Open(reconnecting_)) {
        loggingIn_ = false;
        if (reconnecting_)
            LoginAttemptOver(false);
        else
            Fail("", /*atOnce=*/true);
        return;
    }
    queue_.Await(u"", 3, [this](bool ok) {
        if (!ok) {
            LoginFailed("socket open err:", "MN128と接続出来ません(err=0)");
            return;
        }
        // 1: an empty line makes the router prompt for the login name.
        LoginStep("login-1", "Login-1", u"", 0, u":",
                  "dummy send err:", "MN128と接続出来ません(err=1)", [this] {
                      // 2: name and password go out in one send.
                      std::u16string user = u"user";
                      if (!settings_.sohowp.empty()) {
                          user += u"\r\n" + Utf8ToUtf16(settings_.sohowp);
                          // Only the password can bring a "%" of its own.
                          session_.IgnoreEcho(Utf8ToUtf16(settings_.sohowp));
                      }
                      LoginStep("login-2", "Login-2", user, 1, u"%",
                                "login err:", "MN128と接続出来ません(err=2)",
                                [this] { LoginSteps3To11(); });
                  });
    });
}

void ConsoleLink::LoginSteps3To11() {
    session_.IgnoreEcho({});
    LinkState& link = session_.Mutable();
    const std::u16string banner = link::WithoutFillers(link.ReplyText);
    if (link::FindText(1, banner, u"Welcome to MN128-SOHO", true) == 0) {
        LoginFailed("welcome err:", "MN128のIPアドレスを確認してください(err=99)");
        return;
    }
    ExtractField(1, banner, u"Welcome", u"to ", u"!", link.RouterName);
    if (link.RouterName.empty()) {
        LoginFailed("name err:", "MN128と接続出来ません(err=name)");
        return;
    }

    // 3: the router's clock, to know how far the two clocks differ.
    auto showTime = [this] {
        LoginStep(
            "login-3", "Login-3", u"show time", 1, State().RouterName,
            "get time err:", "MN128と接続出来ません(err=time)",
            [this] {
                const std::optional<int32_t> routerSeconds = RouterClock(State().ReplyText);
                if (!routerSeconds) {
                    LoginFailed("get time err:", "MN128と接続出来ません(err=time)");
                    return;
                }
                session_.Mutable().ClockOffset = FoldOffset(pcSeconds_ - *routerSeconds);
                // 4: the first status report; its Japanese label only matches in
                // Shift-JIS.
                LoginStep("login-4", "Login-4", u"show status", 1, State().RouterName,
                          "show status send err:", "MN128と接続出来ません(err=3)",
                          [this] { LoginEnd(); });
            },
            &pcSeconds_);
    };
    auto setTime = [this, showTime] {
        if (settings_.sohotime != 1) {
            showTime();
            return;
        }
        LoginStep("login-timeset", "Login-timeset", TimeSetCommand(ports_.clock.Now()), 1,
                  State().RouterName, "set time err:", "MN128と接続出来ません(err=timeset)",
                  showTime);
    };
    if (settings_.sohokcode != 1) {
        setTime();
        return;
    }
    LoginStep("login-kcode", "Login-kcode", u"sys kcode sjis", 1, link.RouterName,
              "set kcode err:", "MN128と接続出来ません(err=kcodeset)", setTime);
}

void ConsoleLink::LoginEnd() {
    LinkState& link = session_.Mutable();
    if (!report::IsIsdn(link::WithoutFillers(link.ReplyText))) {
        LoginFailed("isdn ck err:", "漢字コードが違います。SJISにして下さい");
        return;
    }

    trace_.ShowDebugStep("login-10");
    trace_.Step("Login-10");
    ParseBothChannels();

    // 11: a connection already up is taken over as a new call record; logged in again, the
    // call the meter kept open is matched to it.
    trace_.ShowDebugStep("login-11");
    trace_.Step("Login-11");
    int16_t& current = status_.CurrentChannel;
    current = 0;
    if (status_.ChannelStatus[1].Mode == kTerminalMode) current = 1;
    if (status_.ChannelStatus[2].Mode == kTerminalMode) current = 2;
    const std::string connectTime = current > 0 ? status_.ChannelStatus[current].ConnectTime : "";
    if (reconnecting_) {
        trace_.Error("link back");
        ports_.view.ShowStatus("MN128再接続完了");
        retryDelayMs_ = kFirstRetryMs;
        calls_.LinkBack(current, connectTime);
    } else if (current > 0) {
        calls_.CallUp(current, connectTime);
    }
    JudgeAutoCut();
    ShowChannelStatus(current);
    ports_.tmrSOHO.SetEnabled(true);
    link.LinkReady = true;
    trace_.Step("LoginEnd");
    loggingIn_ = false;
    link.LoggedIn = true;
    online_ = true;
    LoginAttemptOver(true);
    queue_.Release(true);
}

}  // namespace kv

namespace kv::link {
// The clock read of the login, for the fuzzing of arbitrary replies.
std::optional<int32_t> ReadRouterClock(const std::u16string& reply) {
    return RouterClock(reply);
}
}  // namespace kv::link
