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
    struct Chunk {
        std::string bytes;
        int64_t dueMs;
        bool logged;
    };
    int64_t Now() const;
    void Note(const char* kind, const std::string& payload);
    void Enqueue(const std::string& bytes);
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
    int stallMs_ = 0;     // the next reply waits this long
    size_t segment_ = 0;  // cut replies into pieces of this many bytes (0: whole)

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
