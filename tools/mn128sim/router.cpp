// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/mn128sim/router.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <sstream>

#include "common/cp932.h"
#include "common/datetime.h"
#include "tools/mn128sim/system.h"

namespace mn128sim {
namespace {

// The router ends its lines as the client does: LF CR.
constexpr const char* kNl = "\n\r";

std::string Lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A whole decimal number in [lo, hi]; false otherwise.
bool ParseNumber(const std::string& text, int lo, int hi, int& out) {
    if (text.empty() || text.size() > 9) return false;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < lo || v > hi) return false;
    out = v;
    return true;
}

std::string Pad(const std::string& text, size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string Hms(int seconds) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return buf;
}

}  // namespace

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    std::string w;
    while (in >> w) words.push_back(w);
    return words;
}

const char* EncodingName(Encoding e) {
    switch (e) {
        case Encoding::Sjis: return "sjis";
        case Encoding::Euc: return "euc";
        case Encoding::Utf8: return "utf8";
    }
    return "?";
}

bool ParseEncoding(const std::string& text, Encoding& out) {
    std::string t = Lower(text);
    if (t == "sjis" || t == "shift-jis" || t == "cp932")
        out = Encoding::Sjis;
    else if (t == "euc" || t == "euc-jp")
        out = Encoding::Euc;
    else if (t == "utf8" || t == "utf-8")
        out = Encoding::Utf8;
    else
        return false;
    return true;
}

std::string EncodeText(const std::string& utf8, Encoding e) {
    switch (e) {
        case Encoding::Sjis: return kv::cp932::EncodeFromUtf8(utf8);
        case Encoding::Euc: return sys::EncodeEuc(utf8);
        case Encoding::Utf8: return utf8;
    }
    return utf8;
}

int64_t LocalClockNow() {
    std::time_t t = std::time(nullptr);
    const std::tm tm = sys::LocalTime(t);
    kv::Date d{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
    return int64_t{kv::DateToSerial(d)} * 86400 + tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
}

std::string FormatClock(int64_t clock) {
    int64_t days = clock / 86400;
    auto secs = static_cast<int32_t>(clock % 86400);
    return kv::FormatDate(kv::SerialToDate(static_cast<int32_t>(days))) + " " +
           kv::FormatTime(kv::TimeOfDay::FromSeconds(secs));
}

bool ParseClock(const std::string& text, char sep, bool withSeconds, int64_t& out) {
    // yyyy/mm/dd<sep>hh:mm[:ss]
    const size_t len = withSeconds ? 19 : 16;
    if (text.size() != len) return false;
    const std::string shape =
        std::string("dddd/dd/dd") + sep + (withSeconds ? "dd:dd:dd" : "dd:dd");
    for (size_t i = 0; i < len; ++i) {
        bool digit = text[i] >= '0' && text[i] <= '9';
        if (shape[i] == 'd' ? !digit : text[i] != shape[i]) return false;
    }
    auto num = [&](size_t at, size_t n) { return std::stoi(text.substr(at, n)); };
    int y = num(0, 4), mo = num(5, 2), d = num(8, 2), h = num(11, 2), mi = num(14, 2);
    int s = withSeconds ? num(17, 2) : 0;
    if (!kv::IsValidDate(y, mo, d) || h > 23 || mi > 59 || s > 59) return false;
    out = int64_t{kv::DateToSerial(kv::Date{y, mo, d})} * 86400 + h * 3600 + mi * 60 + s;
    return true;
}

Router::Router(RouterConfig config, int64_t clockNow)
    : config_(std::move(config)), encoding_(config_.startEncoding), clock_(clockNow) {}

std::string Router::Encode(const std::string& utf8) const {
    return EncodeText(utf8, encoding_);
}

std::string Router::Prompt() const {
    return config_.name + "% ";
}

std::string Router::Connect() {
    state_ = Session::LoginName;
    encoding_ = config_.startEncoding;
    return Encode(std::string(kNl) + "ISDN router console" + kNl);
}

std::string Router::LineTooLong() {
    std::string text = std::string(kNl) + "入力行が長すぎます" + kNl;
    if (state_ == Session::LoggedIn)
        text += Prompt();
    else
        text += "login: ";
    return Encode(text);
}

std::string Router::Line(const std::string& raw, int64_t nowMs, bool& closeAfter) {
    closeAfter = false;
    std::string line = raw;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    const std::string welcome = std::string(kNl) + "Welcome to " + config_.name + "!" + kNl + kNl;
    const std::string refused = std::string(kNl) + "Login incorrect" + kNl + "login: ";
    switch (state_) {
        case Session::LoginName:
            if (line.empty()) return Encode(std::string(kNl) + "login: ");
            if (line != "user") return Encode(refused);
            if (config_.password.empty()) {
                state_ = Session::LoggedIn;
                return Encode(welcome + Prompt());
            }
            state_ = Session::LoginPassword;
            return Encode(std::string(kNl) + "Password: ");
        case Session::LoginPassword:
            if (raw != config_.password) {
                state_ = Session::LoginName;
                return Encode(refused);
            }
            state_ = Session::LoggedIn;
            return Encode(welcome + Prompt());
        case Session::LoggedIn: break;
    }
    if (line.empty()) return Encode(std::string(kNl) + Prompt());
    if (bigReport_ > 0 && Lower(line) == "show status") {
        std::string report = PaddedReport(bigReport_);
        bigReport_ = 0;
        return report + Encode(Prompt());
    }
    // The kanji code switch answers in the new code.
    std::string text = Command(line, nowMs, closeAfter);
    return closeAfter ? Encode(text) : Encode(text + Prompt());
}

std::string Router::Command(const std::string& line, int64_t nowMs, bool& closeAfter) {
    const std::vector<std::string> words = Words(line);
    std::vector<std::string> lw;
    for (const auto& w : words) lw.push_back(Lower(w));
    const std::string nl = kNl;
    auto is = [&](std::initializer_list<const char*> expect) {
        if (lw.size() != expect.size()) return false;
        size_t i = 0;
        for (const char* e : expect)
            if (lw[i++] != e) return false;
        return true;
    };

    if (lw.size() == 3 && lw[0] == "sys" && lw[1] == "kcode") {
        Encoding e;
        if (lw[2] == "sjis")
            e = Encoding::Sjis;
        else if (lw[2] == "euc")
            e = Encoding::Euc;
        else
            return nl + "漢字コードの指定が正しくありません" + nl;
        encoding_ = e;
        return nl;
    }
    if (lw.size() == 3 && lw[0] == "sys" && lw[1] == "time") {
        int64_t c = 0;
        if (!ParseClock(words[2], '-', false, c))
            return nl + "時刻の形式が正しくありません (yyyy/mm/dd-hh:mm)" + nl;
        clock_ = c;
        return nl;
    }
    if (is({"show", "time"})) return TimeReport();
    if (is({"show", "status"})) return StatusReport();
    if (lw.size() == 2 && lw[0] == "connect") {
        int dest = 0;
        if (!ParseNumber(lw[1], 1, 99, dest)) return nl + "接続先番号が正しくありません" + nl;
        int ch = Dial(dest, nowMs);
        if (ch == 0) return nl + "接続先" + std::to_string(dest) + "へ発信できません (使用中)" + nl;
        return nl + "B" + std::to_string(ch) + "チャネル 接続先" + std::to_string(dest) + " [" +
               channels_[ch - 1].peer + "] へ発信中" + nl;
    }
    if (lw.size() == 2 && lw[0] == "disconnect") return Disconnect(lw[1]);
    if (!lw.empty() && lw[0] == "remote") return Remote(lw);
    if (is({"quit"}) || is({"exit"}) || is({"logout"})) {
        closeAfter = true;
        return nl + "Bye" + nl;
    }
    return nl + "コマンドが正しくありません" + nl;
}

std::string Router::Disconnect(const std::string& arg) {
    const std::string nl = kNl;
    int ch = 0;
    if (arg.size() != 2 || arg[0] != 'b' || !ParseNumber(arg.substr(1), 1, 2, ch))
        return nl + "チャネルの指定が正しくありません (b1, b2)" + nl;
    Channel& c = channels_[ch - 1];
    const std::string head = "B" + std::to_string(ch) + "チャネル";
    if (c.state == Channel::State::Idle) return nl + head + "は接続されていません" + nl;
    std::string text = nl + head + " 切断中" + nl;
    text += "  相手先電話番号 [" + c.peer + "]" + nl;
    text += "  接続時刻       [" +
            (c.state == Channel::State::Up ? FormatClock(c.connectClock) : "") + "]" + nl;
    text += "  経過時間       [" + Hms(c.elapsed) + "]" + nl;
    text += head + " 切断しました" + nl;
    c = Channel{};
    return text;
}

std::string Router::Remote(const std::vector<std::string>& lw) {
    const std::string nl = kNl;
    int dest = 0;
    if (lw.size() != 5 || !ParseNumber(lw[1], 1, 99, dest) || lw[2] != "call" || lw[3] != "auto" ||
        (lw[4] != "on" && lw[4] != "off"))
        return nl + "書式: remote <接続先番号> call auto on|off" + nl;
    config_.autoCall = lw[4] == "on";
    autoDestination_ = dest;
    return nl + "接続先" + std::to_string(dest) + " 自動発信 " +
           (config_.autoCall ? "有効" : "無効") + nl;
}

std::string Router::TimeReport() const {
    // The client reads hh:mm:ss at characters 24 to 31 of the reply, so exactly 23 one-byte
    // characters go before it: LF CR (2), "Date/Time " (10), "yyyy/mm/dd " (11).
    return std::string(kNl) + "Date/Time " + FormatClock(clock_) + kNl;
}

std::string Router::ChannelBlock(int n) const {
    const Channel& c = channels_[n - 1];
    const std::string nl = kNl;
    const bool up = c.state == Channel::State::Up;
    std::string mode = up ? "端末型" : c.state == Channel::State::Dialling ? "発信中" : "未接続";
    std::string t = "B" + std::to_string(n) + "チャネル:" + nl;
    t += "  接続モード         [" + mode + "]" + nl;
    t += "  接続時刻           [" + (up ? FormatClock(c.connectClock) : "") + "]" + nl;
    t += "  相手先電話番号     [" + c.peer + "]" + nl;
    t += "  割り当てIPアドレス [" + (up ? c.ip : "") + "]" + nl;
    t += "  回線使用率         [" + std::string(up && traffic_ ? " 98%" : "  0%") + "]" + nl;
    t += "  自動切断時間       [" + Pad(std::to_string(up ? c.idle : 0), 4) + "/" +
         Pad(std::to_string(config_.autoCutLimit), 4) + "]" + nl;
    t += "  経過時間           [" + Hms(up ? c.elapsed : 0) + "]" + nl;
    return t;
}

std::string Router::StatusReport() const {
    const std::string nl = kNl;
    return nl + "回線種別:ISDN" + nl + nl + ChannelBlock(1) + ChannelBlock(2) + nl;
}

std::string Router::PaddedReport(size_t bytes) const {
    std::string report = Encode(StatusReport());
    if (bytes <= report.size()) return report;
    const std::string anchor = Encode(std::string(kNl) + "回線種別:ISDN" + kNl);
    size_t at = report.find(anchor);
    at = at == std::string::npos ? 0 : at + anchor.size();
    // Lines of two-byte characters, so the cut at any read boundary may fall inside one.
    const std::string unit =
        "  " + Encode("＊＊＊＊＊＊＊＊＊＊＊＊＊＊＊＊＊＊＊＊＊＊＊＊＊＊＊＊") + kNl;
    size_t need = bytes - report.size();
    std::string pad;
    while (need >= unit.size() + 4) {
        pad += unit;
        need -= unit.size();
    }
    if (need >= 4)
        pad += "  " + std::string(need - 4, '-') + kNl;
    else
        pad += std::string(need, ' ');
    report.insert(at, pad);
    return report;
}

void Router::Second(int64_t nowMs) {
    ++clock_;
    for (int n = 1; n <= 2; ++n) {
        Channel& c = channels_[n - 1];
        if (c.state != Channel::State::Up) continue;
        ++c.elapsed;
        c.idle = traffic_ ? 0 : std::min(c.idle + 1, 99999);
        if (config_.autoCutLimit > 0 && c.idle >= config_.autoCutLimit) {
            events.push_back("router cut B" + std::to_string(n) + " after " +
                             std::to_string(c.idle) + " idle seconds");
            c = Channel{};
        }
    }
    MaybeAutoDial(nowMs);
}

int64_t Router::CompleteDials(int64_t nowMs) {
    int64_t next = -1;
    for (int n = 1; n <= 2; ++n) {
        Channel& c = channels_[n - 1];
        if (c.state != Channel::State::Dialling) continue;
        if (c.dialDoneMs <= nowMs)
            BringUp(n);
        else if (next < 0 || c.dialDoneMs < next) {
            next = c.dialDoneMs;
        }
    }
    return next;
}

void Router::StartCall(int n, int destination, int64_t doneMs) {
    Channel& c = channels_[n - 1];
    c = Channel{};
    c.state = Channel::State::Dialling;
    c.destination = destination;
    char peer[16];
    std::snprintf(peer, sizeof peer, "035555%04d", destination);
    c.peer = peer;
    c.ip = "172.16.0." + std::to_string(10 + n);
    c.dialDoneMs = doneMs;
    events.push_back("B" + std::to_string(n) + " dialling " + c.peer);
}

void Router::BringUp(int n) {
    Channel& c = channels_[n - 1];
    c.state = Channel::State::Up;
    c.connectClock = clock_;
    c.idle = 0;
    c.elapsed = 0;
    events.push_back("B" + std::to_string(n) + " up");
}

int Router::Dial(int destination, int64_t nowMs) {
    for (const Channel& c : channels_)
        if (c.state != Channel::State::Idle && c.destination == destination) return 0;
    for (int n = 1; n <= 2; ++n) {
        if (channels_[n - 1].state != Channel::State::Idle) continue;
        StartCall(n, destination, nowMs + config_.dialMs);
        return n;
    }
    return 0;
}

bool Router::Up(int channel) {
    const int n = channel == 2 ? 2 : 1;
    Channel& c = channels_[n - 1];
    if (c.state == Channel::State::Up) return false;
    // A call the router placed (or took) itself: the automatic destination.
    if (c.state == Channel::State::Idle) StartCall(n, autoDestination_, 0);
    BringUp(n);
    return true;
}

void Router::Hangup(int channel) {
    for (int n = 1; n <= 2; ++n) {
        if (channel != 0 && channel != n) continue;
        Channel& c = channels_[n - 1];
        if (c.state == Channel::State::Idle) continue;
        events.push_back("peer hung up B" + std::to_string(n));
        c = Channel{};
    }
}

void Router::Restart(bool keep) {
    state_ = Session::LoginName;
    for (int n = 1; n <= 2; ++n) {
        Channel& c = channels_[n - 1];
        if (c.state == Channel::State::Idle || (keep && c.state == Channel::State::Up)) continue;
        events.push_back("restart hung up B" + std::to_string(n));
        c = Channel{};
    }
}

void Router::SetTraffic(bool on, int64_t nowMs) {
    traffic_ = on;
    if (on)
        for (Channel& c : channels_) c.idle = 0;
    MaybeAutoDial(nowMs);
}

void Router::SetIdle(int channel, int seconds) {
    for (int n = 1; n <= 2; ++n)
        if ((channel == 0 || channel == n) && channels_[n - 1].state == Channel::State::Up)
            channels_[n - 1].idle = seconds;
}

void Router::MaybeAutoDial(int64_t nowMs) {
    if (!traffic_ || !config_.autoCall) return;
    for (const Channel& c : channels_)
        if (c.state != Channel::State::Idle) return;
    events.push_back("automatic call (traffic)");
    Dial(autoDestination_, nowMs);
}

}  // namespace mn128sim
