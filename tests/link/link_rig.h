// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A context on the fakes with a scripted router console, and the router's usual replies.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "link/console_link.h"
#include "support/test_rig.h"

namespace kv::test {

inline const std::string kPrompt = "\n\rMN128-SOHO% ";

// A status report as the router prints it: per channel a header line and the labelled fields.
inline std::string ChannelBlock(int channel, bool up, int idle = 0,
                                const std::string& connectTime = "2026/12/07 09:58:00") {
    std::string b = "B" + std::to_string(channel) + "チャネル:\n\r";
    if (!up) return b + "  接続モード         [未接続]\n\r";
    return b + "  接続モード         [端末型]\n\r" + "  相手先電話番号     [0311112222]\n\r" +
           "  接続時刻           [" + connectTime + "]\n\r" + "  割り当てIPアドレス [192.0.2." +
           std::to_string(channel) + "]\n\r" + "  回線使用率         [ 12%]\n\r" +
           "  自動切断時間       [ " + std::to_string(idle) + "/180]\n\r" +
           "  経過時間           [00:02:00]\n\r";
}

inline std::string StatusReport(bool b1Up, bool b2Up, int idle1 = 0, int idle2 = 0) {
    return "\n\r回線種別:ISDN\n\r" + ChannelBlock(1, b1Up, idle1) + ChannelBlock(2, b2Up, idle2) +
           kPrompt;
}

// The router's time as hh:mm:ss at character 24 of the reply.
inline std::string TimeReply(const std::string& hms) {
    return "\n\r2026/12/07(Mon) now: " + hms + kPrompt;
}

struct LinkRig {
    LinkRig() : transport(rig.transport), cx(rig.cx), view(rig.view), loop(rig.loop) {
        cx.settings.sohoip = "127.0.0.1";
        cx.trace.SetDebugMode(true);
        rig.OpenTrace();
    }

    // A router that logs in without a password and reports both channels idle.
    void ScriptLogin(const std::string& status = StatusReport(false, false), bool greeting = true) {
        if (greeting) transport.Greeting("\n\rMN128-SOHO console\n\r");
        transport.Answer("", "\n\rlogin: ");
        transport.Answer("user", "\n\rWelcome to MN128-SOHO!\n\r" + kPrompt);
        transport.Answer("sys kcode sjis", kPrompt);
        transport.Answer("show time", TimeReply("09:59:55"));
        transport.Answer("show status", status);
    }

    // Logged in as the login leaves it, without running the dialogue.
    void Open() {
        cx.link.OpenLink();
        LinkState& s = cx.link.StateForTest();
        s.RouterName = u"MN128-SOHO";
        s.LinkReady = true;
        s.LoggedIn = true;
    }

    std::string Trace() const { return rig.ReadDataFile("Kestrovan.dbg"); }

    // Nothing waits in the program: an exchange started goes on from the event loop, which the
    // test runs until the console is free again.
    void Settle(int64_t maxMs = 120000) {
        loop.RunUntil([this] { return !cx.link.ConsoleHeld(); }, maxMs);
    }
    // The reply to what was sent last, as an exchange awaits it; the simulated time it took
    // passes.
    bool WaitReply(const std::u16string& awaited) {
        std::optional<bool> result;
        cx.link.Await(awaited, [&result](bool ok) { result = ok; });
        loop.RunUntil([&result] { return result.has_value(); });
        return result.value_or(false);
    }
    // One command and its reply, the console held around it as the program holds it.
    bool Command(const std::string& line) {
        std::optional<bool> result;
        cx.link.Hold();
        cx.link.Command(line, [this, &result](bool ok) {
            result = ok;
            cx.link.Release();
        });
        loop.RunUntil([&result] { return result.has_value(); });
        return result.value_or(false);
    }

    // Runs f and then the event loop, in which the program must end; returns the message it
    // ended with (the last box), or "" when it did not end.
    template <typename F>
    std::string Ends(F f, int64_t maxMs = 200000) {
        try {
            f();
            loop.Advance(maxMs);
        } catch (const ProgramEnded&) {
            return view.boxes.empty() ? std::string("(no box)") : view.boxes.back().text;
        }
        return "";
    }

    TestRig rig;
    ScriptedTransport& transport;  // the rig's
    Context& cx;
    RecordingView& view;
    FakeEventLoop& loop;
};

inline size_t Count(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
    return n;
}

}  // namespace kv::test
