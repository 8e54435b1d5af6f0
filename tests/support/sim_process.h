// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Runs the router console simulator mn128sim as a child process for tests: it listens on a
// free loopback port, is driven through its control lines on stdin, and writes a transcript
// from which the exact bytes exchanged with the client can be read back.
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kv::test {

class SimProcess {
  public:
    // Starts <build>/tools/mn128sim/mn128sim --listen 127.0.0.1:0 --transcript <tmp> plus
    // extraArgs; waits (bounded, 10 s) until it reports its port. Throws std::runtime_error
    // on failure.
    explicit SimProcess(std::vector<std::string> extraArgs = {});
    ~SimProcess();  // quit, then kill if needed, reap
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    uint16_t port() const { return port_; }
    // Sends one control line on its stdin and waits (bounded, 10 s) for the "ok"/"error" line,
    // which it returns ("error timeout" when none came, "error exited" when it is gone).
    std::string Command(const std::string& line);
    // Everything the simulator received from the client so far, as raw bytes, in order.
    std::string Received() const;
    // Everything it sent, raw bytes.
    std::string Sent() const;
    std::string TranscriptPath() const { return transcript_; }

    // Waits (bounded) until Received() / Sent() contains needle. True when it does.
    bool WaitReceived(const std::string& needle, int timeoutMs = 5000) const;
    bool WaitSent(const std::string& needle, int timeoutMs = 5000) const;

    // One transcript entry: monotonic ms since the simulator started, the kind ("recv",
    // "send", "conn", "close", "note"), and the exact bytes (or the note's text).
    struct Entry {
        int64_t ms = 0;
        std::string kind;
        std::string bytes;
    };
    std::vector<Entry> Transcript() const;
    // Decodes one escaped transcript payload (printable ASCII as is, "\\" and "\xHH").
    static std::string Unescape(const std::string& text);

  private:
    void Stop();
    bool ReadLine(std::string& line, int timeoutMs);
    std::string Collect(const char* kind) const;
    bool WaitFor(const char* kind, const std::string& needle, int timeoutMs) const;

    pid_t pid_ = -1;
    int control_ = -1;  // our end of its stdin/stdout
    uint16_t port_ = 0;
    std::string transcript_;
    std::string pending_;  // bytes read from its stdout, not yet a whole line
};

}  // namespace kv::test
