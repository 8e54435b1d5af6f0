// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Runs the built kestrovan as a child process for tests that copy it into a fresh folder,
// point it at the router simulator and read back the files it writes.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kv::test {

// The whole file as raw bytes; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// Polls cond every stepMs until it holds or timeoutMs has passed.
bool WaitFor(const std::function<bool()>& cond, int timeoutMs, int stepMs = 20);
// The lines of a CP932 CR LF file as UTF-8, without their line ends.
std::vector<std::string> Lines(const std::string& path);
// The messages of the trace ("yymmdd hh:mm:ss \"message\"").
std::vector<std::string> TraceMessages(const std::string& path);

// The settings a test run starts from; the router address is loopback before anything starts.
std::vector<std::pair<const char*, const char*>> LoopbackSetup();
// The environment of a run: offscreen, its own settings and per-user data folders, the
// simulator's port, and the message boxes written to boxesLog instead of shown.
std::vector<std::pair<std::string, std::string>> ProgramEnv(const std::string& dir, uint16_t port,
                                                            const std::string& boxesLog);

// A started kestrovan; killed when the test leaves early.
class Program {
  public:
    Program(const std::string& exe, const std::vector<std::pair<std::string, std::string>>& env,
            const std::vector<std::string>& args);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    pid_t pid() const { return pid_; }
    // The exit status (128 + signal when killed), or -1 when it did not end in time.
    int WaitExit(int timeoutMs);
    // Sends signal and waits for the exit as WaitExit does; -1 when it could not be sent.
    int Kill(int signal, int timeoutMs = 15000);

  private:
    pid_t pid_ = -1;
    bool exited_ = false;
};

}  // namespace kv::test
