// Logging in to the router's console at start-up.
#include <cstdio>
#include <optional>
#include <string>

#include "accounting/accounting.h"
#include "app/trace.h"
#include "link/link.h"
#include "common/cp932.h"
#include "link/link_text.h"

namespace kv {

namespace {

[[noreturn]] void Fail(Context& cx, const std::string& tag, const std::string& message) {
    WriteTrace(cx, 3, tag + link::Visible(cx.link.ReplyText));
    EndProgram(cx, 1, message);
}

// One command step: send, pump once, wait for the awaited text.
void Step(Context& cx, const std::string& statusTag, const std::string& traceTag,
          const std::u16string& command, int16_t pending, const std::u16string& awaited,
          const std::string& failTag, const std::string& failMessage,
          int32_t* pcSecondsAfterSend = nullptr) {
    ShowDebugStep(cx, statusTag);
    WriteTrace(cx, 4, traceTag);
    cx.link.SendText = command;
    cx.link.ReplyText.clear();
    cx.link.PendingReceives = pending;
    Sendbyte(cx);
    if (pcSecondsAfterSend) *pcSecondsAfterSend = cx.ports.clock->Now().time.Seconds();
    cx.ports.pump->PumpOnce();
    if (!WaitReply(cx, awaited)) Fail(cx, failTag, failMessage);
}

int Digit(char16_t c) { return c >= u'0' && c <= u'9' ? c - u'0' : -1; }

// "hh:mm:ss" at position 24 (from 1) of the reply, in seconds of the day.
std::optional<int32_t> RouterClock(const std::u16string& reply) {
    if (reply.size() < 31) return std::nullopt;
    const std::u16string t = reply.substr(23, 8);
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

void LoginSOHO(Context& cx) {
    LinkState& link = cx.link;
    ShowDebugStep(cx, "login-st");
    WriteTrace(cx, 4, "LoginSOHO");
    if (cx.ports.tmrSOHO) cx.ports.tmrSOHO->SetEnabled(false);
    link.LinkReady = 0;
    link.ReplyText.clear();
    link.PendingReceives = 1;

    // 0: open the connection and take the greeting, whatever it says.
    WriteTrace(cx, 4, "Login-0");
    OpenLink(cx);
    cx.ports.pump->PumpOnce();
    if (!WaitReply(cx, u"")) Fail(cx, "socket open err:", "MN128と接続出来ません(err=0)");

    // 1: an empty line makes the router prompt for the login name.
    Step(cx, "login-1", "Login-1", u"", 0, u":", "dummy send err:", "MN128と接続出来ません(err=1)");

    // 2: name and password go out in one send.
    std::u16string user = u"user";
    if (!cx.settings.sohowp.empty()) user += u"\r\n" + Utf8ToUtf16(cx.settings.sohowp);
    Step(cx, "login-2", "Login-2", user, 1, u"%", "login err:", "MN128と接続出来ません(err=2)");
    const std::u16string banner = link::WithoutFillers(link.ReplyText);
    if (link::FindText(1, banner, u"Welcome to MN128-SOHO", true) == 0)
        Fail(cx, "welcome err:", "MN128のIPアドレスを確認してください(err=99)");
    ExtractField(1, banner, u"Welcome", u"to ", u"!", link.RouterName);
    if (link.RouterName.empty()) Fail(cx, "name err:", "MN128と接続出来ません(err=name)");

    if (cx.settings.sohokcode == 1)
        Step(cx, "login-kcode", "Login-kcode", u"sys kcode sjis", 1, link.RouterName,
             "set kcode err:", "MN128と接続出来ません(err=kcodeset)");
    if (cx.settings.sohotime == 1)
        Step(cx, "login-timeset", "Login-timeset", TimeSetCommand(cx.ports.clock->Now()), 1,
             link.RouterName, "set time err:", "MN128と接続出来ません(err=timeset)");

    // 3: the router's clock, to know how far the two clocks differ.
    int32_t pcSeconds = 0;
    Step(cx, "login-3", "Login-3", u"show time", 1, link.RouterName, "get time err:",
         "MN128と接続出来ません(err=time)", &pcSeconds);
    // The time stands at character 24 of the reply as the socket layer builds it; a reply that
    // came in several reads has filler characters in between, so then read the same place of
    // the reply without them rather than give up the whole start.
    std::optional<int32_t> routerSeconds = RouterClock(link.ReplyText);
    if (!routerSeconds) routerSeconds = RouterClock(link::WithoutFillers(link.ReplyText));
    if (!routerSeconds) Fail(cx, "get time err:", "MN128と接続出来ません(err=time)");
    link.ClockOffset = FoldOffset(pcSeconds - *routerSeconds);

    // 4: the first status report; its Japanese label only matches in Shift-JIS.
    Step(cx, "login-4", "Login-4", u"show status", 1, link.RouterName, "show status send err:",
         "MN128と接続出来ません(err=3)");
    if (link::FindText(1, link::WithoutFillers(link.ReplyText), u"回線種別:ISDN", true) == 0)
        Fail(cx, "isdn ck err:", "漢字コードが違います。SJISにして下さい");

    ShowDebugStep(cx, "login-10");
    WriteTrace(cx, 4, "Login-10");
    ParseChannelStatus(cx, 1);
    UpdateAutoCutState(cx, 1);
    ParseChannelStatus(cx, 2);
    UpdateAutoCutState(cx, 2);

    // 11: a connection already up is taken over as a new call record.
    ShowDebugStep(cx, "login-11");
    WriteTrace(cx, 4, "Login-11");
    int16_t& current = cx.status.CurrentChannel();
    current = 0;
    if (cx.status.ChannelStatus[1].Mode == "端末型") current = 1;
    if (cx.status.ChannelStatus[2].Mode == "端末型") current = 2;
    if (current > 0) CntSt(cx, current);
    ShowChannelStatus(cx, current);
    if (cx.ports.tmrSOHO) cx.ports.tmrSOHO->SetEnabled(true);
    link.LinkReady = 1;
    WriteTrace(cx, 4, "LoginEnd");
    link.LoggedIn = 1;
}

}  // namespace kv

namespace kv::link {
// The clock read of the login, for the fuzzing of arbitrary replies.
std::optional<int32_t> ReadRouterClock(const std::u16string& reply) { return RouterClock(reply); }
}  // namespace kv::link
