// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The simulator's process side: the listening socket, the one console session, the control
// lines (stdin and script), the transcript and the timing of everything it sends.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "tools/mn128sim/router.h"

namespace mn128sim {

struct ServerOptions {
    std::string listenAddress = "127.0.0.1";
    uint16_t listenPort = 2323;
    bool allowRemote = false;
    std::string transcriptPath;
    std::string scriptPath;
    bool demo = false;
    bool detach = false;   // do not read stdin
    bool verbose = false;  // router events on stderr
    int tickMs = 1000;     // length of one router second
    int segmentGapMs = 30;
    // Faults of the console output; the control lines change them while running.
    bool promptSplit = false;  // "% " of every prompt in its own write, promptGapMs later
    int promptGapMs = 30;
    bool loginBytes = false;  // one byte per write until the login, loginBytesGapMs apart
    int loginBytesGapMs = 5;
    int slowMs = 0;       // every reply this late
    long rate = 0;        // output bytes per second (0: as fast as the socket takes it)
    bool silent = false;  // send nothing; replies made meanwhile are dropped
    bool echo = false;    // every byte received is sent back at once, before the reply
};

struct ScriptEntry {
    double at = 0;  // seconds since start
    std::string command;
};

// "at SECONDS command" lines, "repeat SECONDS", "#" comments. False with a message on error.
bool ParseScript(const std::string& text, std::vector<ScriptEntry>& entries, double& repeat,
                 std::string& error);
// The demo's timeline, in script form (also shown by --help).
extern const char* const kDemoScript;

class Server {
  public:
    Server(ServerOptions options, RouterConfig config);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds, prints "listening ADDR:PORT" on stdout, runs until quit / stdin EOF / SIGTERM.
    // Returns the process exit code.
    int Run();

    // One control line; returns "ok", "ok <details>" or "error <text>". Sets quit_ on "quit".
    std::string Control(const std::string& line);

  private:
    // One reply (or part of one), written lazily so that a reply cut into single bytes costs
    // no more memory than a whole one.
    struct Chunk {
        std::string bytes;
        size_t off = 0;        // bytes before this were handed to a write
        std::string inFlight;  // the current write's bytes the socket has not taken yet
        int64_t dueMs = 0;     // the next write's time
        size_t piece = 0;      // at most this many bytes per write (0: all)
        int gapMs = 0;         // between writes of a cut chunk
    };
    int64_t Now() const;
    int64_t NowUs() const;
    void Note(const char* kind, const std::string& payload);
    void Enqueue(const std::string& bytes) { Enqueue(bytes, !router_.loggedIn()); }
    void Enqueue(const std::string& bytes, bool beforeLogin);
    int64_t Push(std::string bytes, int64_t dueMs, size_t piece, int gapMs);
    int64_t OutputReadyMs() const;
    bool Listen();
    void Restart(long seconds, bool keep);
    void Accept();
    void ReadSession();
    void FeedBytes(const char* data, size_t n);
    void CompleteLine();
    void WriteSession();
    void CloseSession(const char* why);
    void ReadControl();
    void RunScript();
    void RouterEvents();
    int64_t NextWakeMs();
    std::string StateText() const;

    ServerOptions options_;
    Router router_;
    int64_t startMs_ = 0;
    int listen_ = -1;
    uint16_t boundPort_ = 0;   // the port actually bound (--listen may ask for port 0)
    int64_t relistenMs_ = -1;  // a restart's pause ends then (-1: not restarting)
    int session_ = -1;
    int transcript_ = -1;
    bool controlOpen_ = true;
    bool quit_ = false;
    bool closeWhenFlushed_ = false;

    // console input: the line being collected, capped
    std::string line_;
    bool overlong_ = false;
    char lastEnd_ = 0;  // the line end just seen, to swallow the other half of a pair

    std::deque<Chunk> out_;
    int64_t lastDueMs_ = 0;
    int stallMs_ = 0;         // the next reply waits this long
    size_t segment_ = 0;      // cut replies into pieces of this many bytes (0: whole)
    int64_t rateNextUs_ = 0;  // with a rate: no write before this (monotonic microseconds)

    std::string control_;  // partial control line from stdin
    int64_t nextTickMs_ = 0;
    int64_t dialDueMs_ = -1;

    std::vector<ScriptEntry> script_;
    double scriptRepeat_ = 0;
    size_t scriptNext_ = 0;
    double scriptOffset_ = 0;
    uint32_t garbageSeed_ = 12345;
};

}  // namespace mn128sim
