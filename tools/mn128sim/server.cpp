// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/mn128sim/server.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "tools/mn128sim/system.h"

namespace mn128sim {
namespace {

// Longest console line taken; the rest of a longer line is dropped.
constexpr size_t kMaxLine = 1024;
constexpr size_t kMaxControlLine = 4096;
constexpr size_t kMaxBig = 1 << 20;
constexpr size_t kMaxGarbage = 1 << 20;
// A client that sends but never reads: stop reading from it once this much output waits.
constexpr size_t kMaxQueued = 4 << 20;

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) {
    g_stop = 1;
}

std::string Escape(const char* data, size_t n) {
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        auto c = static_cast<unsigned char>(data[i]);
        if (c == '\\') {
            out += "\\\\";
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

bool ToInt(const std::string& text, long lo, long hi, long& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    out = v;
    return true;
}

}  // namespace

const char* const kDemoScript =
    "# one call every 150 seconds\n"
    "at 3 traffic on      # the router calls by itself (automatic calling on); up 1.5 s later\n"
    "at 20 traffic off    # the line falls idle: the idle counter rises from here\n"
    "#                      the client may cut the idle line (its automatic disconnection);\n"
    "#                      otherwise the router cuts it after 90 idle seconds (about at 111)\n"
    "at 145 hangup        # whatever is still up goes down before the next cycle\n"
    "repeat 150\n";

bool ParseScript(const std::string& text, std::vector<ScriptEntry>& entries, double& repeat,
                 std::string& error) {
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::string keyword;
        if (!(words >> keyword)) continue;
        double seconds = -1;
        if (!(words >> seconds) || seconds < 0 || seconds > 1e7 ||
            (keyword != "at" && keyword != "repeat")) {
            error = "line " + std::to_string(number) +
                    ": expected 'at SECONDS command' or 'repeat SECONDS'";
            return false;
        }
        if (keyword == "repeat") {
            repeat = seconds;
            continue;
        }
        std::string command;
        std::getline(words >> std::ws, command);
        while (!command.empty() && (command.back() == ' ' || command.back() == '\r'))
            command.pop_back();
        if (command.empty()) {
            error = "line " + std::to_string(number) + ": no command";
            return false;
        }
        entries.push_back({seconds, command});
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const ScriptEntry& a, const ScriptEntry& b) { return a.at < b.at; });
    if (repeat > 0 && !entries.empty() && entries.back().at >= repeat) {
        error = "repeat period must exceed the last 'at' time";
        return false;
    }
    return true;
}

Server::Server(ServerOptions options, RouterConfig config)
    : options_(std::move(options)), router_(std::move(config), LocalClockNow()) {
    startMs_ = Now();
}

Server::~Server() {
    if (session_ >= 0) sys::CloseSocket(session_);
    if (listen_ >= 0) sys::CloseSocket(listen_);
    if (transcript_ >= 0) sys::CloseFile(transcript_);
}

int64_t Server::Now() const {
    return NowUs() / 1000;
}

int64_t Server::NowUs() const {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void Server::Note(const char* kind, const std::string& payload) {
    if (transcript_ < 0) return;
    std::string line = std::to_string(Now() - startMs_) + " " + kind + " " +
                       Escape(payload.data(), payload.size()) + "\n";
    // One write per entry, so a reader never sees half an entry followed by another.
    sys::WriteAll(transcript_, line);
}

void Server::Enqueue(const std::string& bytes, bool beforeLogin) {
    if (bytes.empty() || session_ < 0) return;
    if (options_.silent) {
        // Dropped, not held: a router that stopped answering never answers late.
        Note("note", "silent: dropped " + std::to_string(bytes.size()) + " bytes");
        return;
    }
    // Never before the previous output: replies keep their order behind a stall or segments.
    const int64_t due = std::max(Now() + options_.slowMs + stallMs_, lastDueMs_);
    stallMs_ = 0;
    const bool bytewise = beforeLogin && options_.loginBytes;
    const size_t piece = bytewise ? 1 : segment_;
    const int gap = bytewise ? options_.loginBytesGapMs : options_.segmentGapMs;
    std::string head = bytes;
    std::string tail;
    // Only a reply's end can be the prompt: the name appears nowhere earlier in a reply.
    const std::string prompt = EncodeText(router_.Prompt(), router_.encoding());
    if (options_.promptSplit && head.size() >= prompt.size() &&
        head.compare(head.size() - prompt.size(), prompt.size(), prompt) == 0) {
        tail = head.substr(head.size() - 2);  // "% "
        head.resize(head.size() - 2);
    }
    int64_t last = Push(std::move(head), due, piece, gap);
    if (!tail.empty()) last = Push(std::move(tail), last + options_.promptGapMs, piece, gap);
    lastDueMs_ = piece == 0 ? last : last + gap;
}

int64_t Server::Push(std::string bytes, int64_t dueMs, size_t piece, int gapMs) {
    if (bytes.empty()) return dueMs;
    const size_t pieces = piece == 0 ? 1 : (bytes.size() + piece - 1) / piece;
    Chunk c;
    c.bytes = std::move(bytes);
    c.dueMs = dueMs;
    c.piece = piece;
    c.gapMs = gapMs;
    out_.push_back(std::move(c));
    return dueMs + static_cast<int64_t>(pieces - 1) * gapMs;  // the last write's time
}

int64_t Server::OutputReadyMs() const {
    if (session_ < 0 || out_.empty() || options_.silent) return -1;
    const Chunk& c = out_.front();
    if (!c.inFlight.empty()) return 0;  // the socket has not taken it all: POLLOUT
    int64_t ready = c.dueMs;
    if (options_.rate > 0) ready = std::max(ready, (rateNextUs_ + 999) / 1000);
    return ready;
}

void Server::Accept() {
    std::string who;
    int fd = sys::Accept(listen_, &who);
    if (fd < 0) return;
    if (session_ >= 0) {
        // One console session at a time.
        Note("note", "refused a second connection from " + who);
        sys::CloseSocket(fd);
        return;
    }
    session_ = fd;
    line_.clear();
    overlong_ = false;
    lastEnd_ = 0;
    out_.clear();
    lastDueMs_ = 0;
    closeWhenFlushed_ = false;
    Note("conn", who);
    if (options_.verbose) std::fprintf(stderr, "mn128sim: client %s connected\n", who.c_str());
    Enqueue(router_.Connect());
}

void Server::CloseSession(const char* why) {
    if (session_ < 0) return;
    sys::CloseSocket(session_);
    session_ = -1;
    out_.clear();
    Note("close", why);
    if (options_.verbose) std::fprintf(stderr, "mn128sim: session closed (%s)\n", why);
}

void Server::ReadSession() {
    char buf[4096];
    size_t n = 0;
    const sys::IoResult r = sys::Receive(session_, buf, sizeof buf, &n);
    if (r == sys::IoResult::WouldBlock) return;
    if (r != sys::IoResult::Done) {
        CloseSession(r == sys::IoResult::Closed ? "client" : "client error");
        return;
    }
    Note("recv", std::string(buf, n));
    // A terminal-like console: what is typed comes back, the password too.
    if (options_.echo) Enqueue(std::string(buf, n));
    FeedBytes(buf, n);
}

void Server::FeedBytes(const char* data, size_t n) {
    for (size_t i = 0; i < n && session_ >= 0 && !closeWhenFlushed_; ++i) {
        char c = data[i];
        if (c == '\r' || c == '\n') {
            // LF, CR, CR LF and LF CR each end one line.
            if (lastEnd_ != 0 && c != lastEnd_) {
                lastEnd_ = 0;
                continue;
            }
            lastEnd_ = c;
            CompleteLine();
            continue;
        }
        lastEnd_ = 0;
        if (line_.size() < kMaxLine)
            line_ += c;
        else
            overlong_ = true;
    }
}

void Server::CompleteLine() {
    bool closeAfter = false;
    // The reply that logs in still counts as before the login.
    const bool beforeLogin = !router_.loggedIn();
    std::string reply = overlong_ ? router_.LineTooLong() : router_.Line(line_, Now(), closeAfter);
    line_.clear();
    overlong_ = false;
    Enqueue(reply, beforeLogin);
    if (closeAfter) closeWhenFlushed_ = true;
    RouterEvents();
}

void Server::WriteSession() {
    while (session_ >= 0 && !out_.empty() && !options_.silent) {
        Chunk& c = out_.front();
        if (c.inFlight.empty()) {
            const int64_t nowUs = NowUs();
            if (c.dueMs > nowUs / 1000) return;
            size_t n = c.bytes.size() - c.off;
            if (c.piece != 0) n = std::min(n, c.piece);
            if (options_.rate > 0) {
                if (rateNextUs_ > nowUs) return;
                n = std::min(n, static_cast<size_t>(std::max(1L, options_.rate / 10)));
                // Paced from the previous slot when on time, so wake-up delays do not add up.
                const int64_t base = nowUs - rateNextUs_ < 5000 ? rateNextUs_ : nowUs;
                rateNextUs_ = base + static_cast<int64_t>(n) * 1000000 / options_.rate;
            }
            c.inFlight = c.bytes.substr(c.off, n);
            c.off += n;
            // Logged before the send, so a client that has the bytes finds them in the transcript.
            Note("send", c.inFlight);
        }
        size_t sent = 0;
        const sys::IoResult r = sys::Send(session_, c.inFlight.data(), c.inFlight.size(), &sent);
        if (r == sys::IoResult::WouldBlock) return;
        if (r != sys::IoResult::Done) {
            CloseSession("send error");
            return;
        }
        c.inFlight.erase(0, sent);
        if (!c.inFlight.empty()) return;  // the socket is full: wait for POLLOUT
        // Pieces must reach the client as separate reads: only one per due time.
        const bool cut = c.piece != 0;
        if (c.off < c.bytes.size()) {
            if (!cut) continue;  // cut by the rate only: the rate paces it
            c.dueMs += c.gapMs;
            break;
        }
        out_.pop_front();
        if (cut) break;
    }
    if (session_ >= 0 && out_.empty() && closeWhenFlushed_) CloseSession("router (logout)");
}

bool Server::Listen() {
    // After a restart, the port first bound, even when --listen asked for any free one.
    const int fd = sys::Listen(options_.listenAddress,
                               boundPort_ != 0 ? boundPort_ : options_.listenPort, &boundPort_);
    if (fd < 0) return false;
    listen_ = fd;
    return true;
}

void Server::Restart(long seconds, bool keep) {
    CloseSession("router (restart)");
    // No listening socket at all, so connections are refused rather than left waiting.
    if (listen_ >= 0) sys::CloseSocket(listen_);
    listen_ = -1;
    relistenMs_ = Now() + seconds * 1000;
    const std::string what = "restart: not listening for " + std::to_string(seconds) +
                             " s, channels " + (keep ? "kept" : "dropped");
    Note("note", what);
    if (options_.verbose) std::fprintf(stderr, "mn128sim: %s\n", what.c_str());
    router_.Restart(keep);
    RouterEvents();
}

void Server::RouterEvents() {
    for (const auto& e : router_.events) {
        Note("note", e);
        if (options_.verbose) std::fprintf(stderr, "mn128sim: %s\n", e.c_str());
    }
    router_.events.clear();
    dialDueMs_ = router_.CompleteDials(Now());
    if (!router_.events.empty()) RouterEvents();
}

std::string Server::StateText() const {
    auto st = [](const Channel& c) {
        return c.state == Channel::State::Up         ? "up"
               : c.state == Channel::State::Dialling ? "dialling"
                                                     : "idle";
    };
    auto onOff = [](bool on) { return on ? "on" : "off"; };
    return std::string("connected=") + (session_ >= 0 ? "1" : "0") +
           " login=" + (router_.loggedIn() ? "1" : "0") +
           " encoding=" + EncodingName(router_.encoding()) +
           " auto=" + (router_.autoCall() ? "on" : "off") +
           " traffic=" + (router_.traffic() ? "on" : "off") + " b1=" + st(router_.channel(1)) +
           " b2=" + st(router_.channel(2)) + " idle1=" + std::to_string(router_.channel(1).idle) +
           " idle2=" + std::to_string(router_.channel(2).idle) +
           " clock=" + FormatClock(router_.clock()) +
           " prompt=" + (options_.promptSplit ? "split" : "whole") +
           " loginbytes=" + onOff(options_.loginBytes) + " silent=" + onOff(options_.silent) +
           " slow=" + std::to_string(options_.slowMs) + " rate=" + std::to_string(options_.rate) +
           " listening=" + (listen_ >= 0 ? "1" : "0");
}

std::string Server::Control(const std::string& line) {
    const std::vector<std::string> w = Words(line);
    if (w.empty()) return "error empty command";
    const std::string& cmd = w[0];
    long v = 0;
    auto channelArg = [&](size_t i, long& ch) {
        ch = 0;
        return w.size() <= i || ToInt(w[i], 1, 2, ch);
    };
    if (cmd == "quit") {
        quit_ = true;
        return "ok";
    }
    if (cmd == "state" && w.size() == 1) return "ok " + StateText();
    if (cmd == "up" && w.size() <= 2) {
        if (!channelArg(1, v)) return "error channel must be 1 or 2";
        if (!router_.Up(v == 0 ? 1 : static_cast<int>(v))) return "error channel already up";
        RouterEvents();
        return "ok";
    }
    if (cmd == "hangup" && w.size() <= 2) {
        if (!channelArg(1, v)) return "error channel must be 1 or 2";
        router_.Hangup(static_cast<int>(v));
        RouterEvents();
        return "ok";
    }
    if (cmd == "traffic" && w.size() == 2 && (w[1] == "on" || w[1] == "off")) {
        router_.SetTraffic(w[1] == "on", Now());
        RouterEvents();
        return "ok";
    }
    if (cmd == "auto" && w.size() == 2 && (w[1] == "on" || w[1] == "off")) {
        router_.SetAutoCall(w[1] == "on");
        return "ok";
    }
    if (cmd == "idle" && (w.size() == 2 || w.size() == 3)) {
        long ch = 0;
        if (w.size() == 3 && !ToInt(w[1], 1, 2, ch)) return "error channel must be 1 or 2";
        if (!ToInt(w.back(), 0, 99999, v)) return "error idle seconds 0..99999";
        router_.SetIdle(static_cast<int>(ch), static_cast<int>(v));
        return "ok";
    }
    if (cmd == "close" && w.size() == 1) {
        if (session_ < 0) return "error no session";
        CloseSession("router");
        return "ok";
    }
    if (cmd == "stall" && w.size() == 2 && ToInt(w[1], 0, 600000, v)) {
        stallMs_ = static_cast<int>(v);
        return "ok";
    }
    if (cmd == "segment" && (w.size() == 2 || w.size() == 3) && ToInt(w[1], 0, 1 << 20, v)) {
        long gap = options_.segmentGapMs;
        if (w.size() == 3 && !ToInt(w[2], 0, 60000, gap)) return "error gap 0..60000 ms";
        segment_ = static_cast<size_t>(v);
        options_.segmentGapMs = static_cast<int>(gap);
        return "ok";
    }
    if (cmd == "prompt" && w.size() == 2 && w[1] == "whole") {
        options_.promptSplit = false;
        return "ok";
    }
    if (cmd == "prompt" && (w.size() == 2 || w.size() == 3) && w[1] == "split") {
        long gap = options_.promptGapMs;
        if (w.size() == 3 && !ToInt(w[2], 0, 60000, gap)) return "error gap 0..60000 ms";
        options_.promptSplit = true;
        options_.promptGapMs = static_cast<int>(gap);
        return "ok";
    }
    if (cmd == "login-bytes" && w.size() == 2 && w[1] == "off") {
        options_.loginBytes = false;
        return "ok";
    }
    if (cmd == "login-bytes" && (w.size() == 2 || w.size() == 3) && w[1] == "on") {
        long gap = options_.loginBytesGapMs;
        if (w.size() == 3 && !ToInt(w[2], 0, 60000, gap)) return "error gap 0..60000 ms";
        options_.loginBytes = true;
        options_.loginBytesGapMs = static_cast<int>(gap);
        return "ok";
    }
    if (cmd == "restart" && (w.size() == 2 || w.size() == 3)) {
        if (!ToInt(w[1], 0, 86400, v)) return "error restart seconds 0..86400";
        if (w.size() == 3 && w[2] != "keep" && w[2] != "drop") return "error keep or drop";
        Restart(v, w.size() == 3 && w[2] == "keep");
        return "ok";
    }
    if (cmd == "echo" && w.size() == 2 && (w[1] == "on" || w[1] == "off")) {
        options_.echo = w[1] == "on";
        Note("note", "echo " + w[1]);
        return "ok";
    }
    if (cmd == "silent" && w.size() == 2 && (w[1] == "on" || w[1] == "off")) {
        options_.silent = w[1] == "on";
        Note("note", "silent " + w[1]);
        return "ok";
    }
    if (cmd == "slow" && w.size() == 2 && ToInt(w[1], 0, 600000, v)) {
        options_.slowMs = static_cast<int>(v);
        return "ok";
    }
    if (cmd == "rate" && w.size() == 2 && ToInt(w[1], 0, 100000000, v)) {
        options_.rate = v;
        return "ok";
    }
    if (cmd == "big" && w.size() == 2 && ToInt(w[1], 0, kMaxBig, v)) {
        router_.SetBigReport(static_cast<size_t>(v));
        return "ok";
    }
    if (cmd == "garbage" && w.size() == 2 && ToInt(w[1], 1, kMaxGarbage, v)) {
        if (session_ < 0) return "error no session";
        // Line noise: control and high bytes, never a line end, so nothing the client waits
        // for ("%", ":", the router name) can appear by chance.
        std::string junk;
        for (long i = 0; i < v; ++i) {
            garbageSeed_ = garbageSeed_ * 1103515245u + 12345u;
            auto b = static_cast<unsigned char>((garbageSeed_ >> 16) & 0xFF);
            if (b >= 0x20 && b < 0x80) b = static_cast<unsigned char>(b | 0x80);
            if (b == '\n' || b == '\r') b = 0x07;
            junk += static_cast<char>(b);
        }
        Enqueue(junk);
        return "ok";
    }
    if (cmd == "encoding" && w.size() == 2) {
        Encoding e;
        if (!ParseEncoding(w[1], e)) return "error encoding must be sjis, euc or utf8";
        router_.SetEncoding(e);
        return "ok";
    }
    if (cmd == "clock" && w.size() == 3) {
        int64_t c = 0;
        if (!ParseClock(w[1] + " " + w[2], ' ', true, c)) return "error clock yyyy/mm/dd hh:mm:ss";
        router_.SetClock(c);
        return "ok";
    }
    if (cmd == "tick" && w.size() == 2 && ToInt(w[1], 1, 60000, v)) {
        options_.tickMs = static_cast<int>(v);
        nextTickMs_ = Now() + v;
        return "ok";
    }
    if (cmd == "dial-ms" && w.size() == 2 && ToInt(w[1], 0, 600000, v)) {
        router_.SetDialMs(static_cast<int>(v));
        return "ok";
    }
    if (cmd == "autocut" && w.size() == 2 && ToInt(w[1], 0, 99999, v)) {
        router_.SetAutoCutLimit(static_cast<int>(v));
        return "ok";
    }
    return "error unknown command: " + line.substr(0, 200);
}

void Server::ReadControl() {
    char buf[1024];
    size_t n = 0;
    const sys::IoResult r = sys::ReadControl(buf, sizeof buf, &n);
    if (r == sys::IoResult::WouldBlock) return;
    if (r != sys::IoResult::Done) {
        controlOpen_ = false;
        quit_ = true;  // stdin closed: whoever drove us is gone
        return;
    }
    for (size_t i = 0; i < n && !quit_; ++i) {
        char c = buf[i];
        if (c != '\n') {
            if (control_.size() < kMaxControlLine) control_ += c;
            continue;
        }
        if (!control_.empty() && control_.back() == '\r') control_.pop_back();
        std::string reply =
            control_.size() >= kMaxControlLine ? "error line too long" : Control(control_);
        control_.clear();
        sys::WriteAll(1, reply + "\n");
    }
}

void Server::RunScript() {
    if (script_.empty()) return;
    const double elapsed = static_cast<double>(Now() - startMs_) / 1000.0;
    while (scriptNext_ < script_.size() && script_[scriptNext_].at + scriptOffset_ <= elapsed) {
        const std::string& cmd = script_[scriptNext_++].command;
        std::string reply = Control(cmd);
        Note("note", "script: " + cmd + " -> " + reply);
        if (options_.verbose)
            std::fprintf(stderr, "mn128sim: script %s -> %s\n", cmd.c_str(), reply.c_str());
        if (scriptNext_ == script_.size() && scriptRepeat_ > 0) {
            scriptNext_ = 0;
            scriptOffset_ += scriptRepeat_;
        }
    }
}

int64_t Server::NextWakeMs() {
    int64_t wake = nextTickMs_;
    if (dialDueMs_ >= 0) wake = std::min(wake, dialDueMs_);
    // Output already due waits for POLLOUT instead, or a full socket would make us spin.
    if (int64_t ready = OutputReadyMs(); ready > Now()) wake = std::min(wake, ready);
    if (relistenMs_ >= 0) wake = std::min(wake, relistenMs_);
    if (scriptNext_ < script_.size())
        wake = std::min(wake, startMs_ + static_cast<int64_t>(
                                             (script_[scriptNext_].at + scriptOffset_) * 1000.0));
    return wake;
}

int Server::Run() {
    if (!options_.transcriptPath.empty()) {
        transcript_ = sys::OpenTranscript(options_.transcriptPath);
        if (transcript_ < 0) {
            std::fprintf(stderr, "mn128sim: cannot write the transcript %s: %s\n",
                         options_.transcriptPath.c_str(), std::strerror(errno));
            return 1;
        }
    }
    if (!options_.scriptPath.empty() || options_.demo) {
        std::string text;
        if (options_.demo) {
            text = kDemoScript;
        } else {
            std::ifstream in(options_.scriptPath, std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "mn128sim: cannot read the script %s\n",
                             options_.scriptPath.c_str());
                return 1;
            }
            std::ostringstream all;
            all << in.rdbuf();
            text = all.str();
        }
        std::string error;
        if (!ParseScript(text, script_, scriptRepeat_, error)) {
            std::fprintf(stderr, "mn128sim: script: %s\n", error.c_str());
            return 1;
        }
    }

    uint32_t address = 0;
    if (!sys::StartNetwork() || !sys::ParseIpv4(options_.listenAddress, &address)) {
        std::fprintf(stderr, "mn128sim: not an IPv4 address: %s\n", options_.listenAddress.c_str());
        return 2;
    }
    if ((address >> 24) != 127 && !options_.allowRemote) {
        std::fprintf(stderr, "mn128sim: %s is not a loopback address (use --allow-remote)\n",
                     options_.listenAddress.c_str());
        return 2;
    }
    if (!Listen()) {
        std::fprintf(stderr, "mn128sim: cannot listen on %s:%u: %s\n",
                     options_.listenAddress.c_str(), options_.listenPort, sys::LastErrorText());
        return 1;
    }
    const std::string where = options_.listenAddress + ":" + std::to_string(boundPort_);
    sys::WriteAll(1, "listening " + where + "\n");
    Note("note", "listening " + where);

    sys::OnStopRequest(OnSignal);
    controlOpen_ = !options_.detach;

    nextTickMs_ = Now() + options_.tickMs;
    while (!quit_ && !g_stop) {
        int64_t now = Now();
        for (int catchUp = 0; now >= nextTickMs_ && catchUp < 1000; ++catchUp) {
            router_.Second(now);
            nextTickMs_ += options_.tickMs;
        }
        if (now >= nextTickMs_) nextTickMs_ = now + options_.tickMs;  // far behind: skip ahead
        RouterEvents();
        RunScript();
        if (relistenMs_ >= 0 && Now() >= relistenMs_) {
            if (Listen()) {
                relistenMs_ = -1;
                Note("note", "listening " + where + " again");
                if (options_.verbose) std::fprintf(stderr, "mn128sim: listening again\n");
            } else {
                // The port may be taken for a moment: try again, once a second.
                Note("note", std::string("cannot listen again: ") + sys::LastErrorText());
                relistenMs_ = Now() + 1000;
            }
        }
        if (session_ >= 0) WriteSession();
        if (quit_) break;

        sys::Watch watches[3];
        int count = 0;
        int iListen = -1, iSession = -1, iControl = -1;
        if (listen_ >= 0) {
            watches[count] = {listen_, true};
            iListen = count++;
        }
        if (session_ >= 0) {
            size_t queued = 0;
            for (const Chunk& ch : out_) queued += ch.bytes.size() - ch.off + ch.inFlight.size();
            const int64_t ready = OutputReadyMs();
            watches[count] = {session_, queued < kMaxQueued, ready >= 0 && ready <= Now()};
            iSession = count++;
        }
        if (controlOpen_) {
            watches[count] = {sys::ControlInput(), true};
            iControl = count++;
        }
        int64_t wait = std::max<int64_t>(0, NextWakeMs() - Now());
        if (!sys::Wait(watches, count, static_cast<int>(std::min<int64_t>(wait, 60000)))) {
            std::fprintf(stderr, "mn128sim: poll: %s\n", sys::LastErrorText());
            return 1;
        }
        if (iControl >= 0 && watches[iControl].readable) ReadControl();
        if (iSession >= 0 && session_ >= 0) {
            if (watches[iSession].readable) ReadSession();
            if (session_ >= 0 && watches[iSession].writable) WriteSession();
        }
        if (iListen >= 0 && listen_ >= 0 && watches[iListen].readable) Accept();
    }
    CloseSession(g_stop ? "signal" : "quit");
    Note("note", "exit");
    return 0;
}

}  // namespace mn128sim
