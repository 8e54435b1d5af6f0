// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The simulated router: its two B channels, its clock, its automatic calling, and the console
// dialogue. No I/O here: the server feeds it lines and seconds and sends what it answers.
#include <cstdint>
#include <string>
#include <vector>

namespace mn128sim {

enum class Encoding { Sjis, Euc, Utf8 };
const char* EncodingName(Encoding e);
bool ParseEncoding(const std::string& text, Encoding& out);

struct RouterConfig {
    std::string name = "MN128-SOHO";
    std::string password;                     // empty: "user" logs in without one
    Encoding startEncoding = Encoding::Sjis;  // before "sys kcode sjis"
    int dialMs = 1500;       // from "connect" (or an automatic call) to the line being up
    int autoCutLimit = 180;  // the router hangs up after this many idle seconds (0: never)
    bool autoCall = true;    // "remote N call auto on"
};

struct Channel {
    enum class State { Idle, Dialling, Up };
    State state = State::Idle;
    int destination = 0;
    std::string peer;
    std::string ip;
    int64_t connectClock = 0;  // router clock at connection (seconds since 1899-12-30)
    int64_t dialDoneMs = 0;    // monotonic ms at which a dialling channel comes up
    int idle = 0;              // seconds without traffic
    int elapsed = 0;           // seconds since the connection
};

class Router {
  public:
    explicit Router(RouterConfig config, int64_t clockNow);

    // ---- console session ----------------------------------------------------------------
    // Replies are bytes in the console's current encoding.
    // A client connected: the greeting. The console starts logged out, in startEncoding.
    std::string Connect();
    // One line from the client (without its line end); closeAfter is set when the console
    // ends the session.
    std::string Line(const std::string& line, int64_t nowMs, bool& closeAfter);
    // The client's line exceeded the length the console takes.
    std::string LineTooLong();
    Encoding encoding() const { return encoding_; }
    void SetEncoding(Encoding e) { encoding_ = e; }
    bool loggedIn() const { return state_ == Session::LoggedIn; }

    // ---- the line and the clock ---------------------------------------------------------
    // One router second passed: counters rise, the router's own idle cut-off may hang up.
    void Second(int64_t nowMs);
    // Dialling channels whose delay is over come up. Returns the earliest pending dial
    // completion (monotonic ms), or -1 when none is dialling.
    int64_t CompleteDials(int64_t nowMs);
    // Starts a call on the first free channel; returns the channel (1, 2) or 0 when none is
    // free or the destination is already connected.
    int Dial(int destination, int64_t nowMs);
    // The line is up on the channel at once (a call the router placed on its own).
    bool Up(int channel);
    // The peer hangs up: channel 1 or 2, or 0 for every channel in use.
    void Hangup(int channel);
    // The router restarts: the console session ends; keep: calls that are up survive it,
    // otherwise every channel goes down. Calls being dialled never survive.
    void Restart(bool keep);
    void SetTraffic(bool on, int64_t nowMs);
    void SetIdle(int channel, int seconds);
    void SetClock(int64_t clock) { clock_ = clock; }
    int64_t clock() const { return clock_; }
    bool traffic() const { return traffic_; }
    bool autoCall() const { return config_.autoCall; }
    void SetAutoCall(bool on) { config_.autoCall = on; }
    void SetDialMs(int ms) { config_.dialMs = ms; }
    void SetAutoCutLimit(int seconds) { config_.autoCutLimit = seconds; }
    const Channel& channel(int n) const { return channels_[n == 2 ? 1 : 0]; }
    const RouterConfig& config() const { return config_; }

    // The next status report is padded to this many bytes (after encoding); 0 = as it is.
    void SetBigReport(size_t bytes) { bigReport_ = bytes; }

    // Things that happened by themselves (a call came up, the router hung up), for the
    // transcript. Cleared by the caller.
    std::vector<std::string> events;

    // UTF-8 texts, before encoding.
    std::string Prompt() const;
    std::string StatusReport() const;
    std::string TimeReport() const;

  private:
    enum class Session { LoginName, LoginPassword, LoggedIn };
    std::string Command(const std::string& line, int64_t nowMs, bool& closeAfter);
    void StartCall(int n, int destination, int64_t doneMs);
    void BringUp(int n);
    std::string Disconnect(const std::string& arg);
    std::string Remote(const std::vector<std::string>& words);
    std::string ChannelBlock(int n) const;
    void MaybeAutoDial(int64_t nowMs);
    std::string Encode(const std::string& utf8) const;
    std::string PaddedReport(size_t bytes) const;

    RouterConfig config_;
    Session state_ = Session::LoginName;
    Encoding encoding_;
    int64_t clock_;
    bool traffic_ = false;
    size_t bigReport_ = 0;
    int autoDestination_ = 1;
    Channel channels_[2];
};

// UTF-8 text in the given encoding; characters it lacks become '?'.
std::string EncodeText(const std::string& utf8, Encoding e);

// Router clock text helpers (clock = seconds since 1899-12-30, local time).
std::string FormatClock(int64_t clock);  // "yyyy/mm/dd hh:mm:ss"
// "yyyy/mm/dd" + sep + "hh:mm" [":ss"]; false when malformed or not a real date/time.
bool ParseClock(const std::string& text, char sep, bool withSeconds, int64_t& out);
int64_t LocalClockNow();

// The blank-separated words of a console or control line.
std::vector<std::string> Words(const std::string& line);

}  // namespace mn128sim
