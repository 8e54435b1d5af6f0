// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The runner's process port on Windows: the program is started by its exact path with
// CreateProcessW (no shell, no command-line search, no arguments, no inherited handles). Each
// program is put in a job object of its own, so ending it also ends what it started. Handles
// are process ids. Programs still running when the runner is destroyed are left running.
#include <cstdint>
#include <map>

#include "common/ports.h"

namespace kv {

class WinProcessRunner : public ProcessRunner {
  public:
    WinProcessRunner() = default;
    ~WinProcessRunner() override;
    WinProcessRunner(const WinProcessRunner&) = delete;
    WinProcessRunner& operator=(const WinProcessRunner&) = delete;

    bool FileExists(const std::string& path) override;
    int64_t Start(const std::string& path, std::string& error) override;
    // Ends the program's job, then waits for the program. A handle that is not a running
    // program of ours is ignored, so a reused process id is never touched.
    void Terminate(int64_t handle) override;

    // Lets go of the programs that have ended; Start calls it, tests may too.
    void Reap();
    // Whether handle is a program of ours that has not ended.
    bool IsAlive(int64_t handle) const;

  private:
    struct Child {
        void* process;  // HANDLE
        void* job;      // HANDLE
    };
    std::map<int64_t, Child> children_;
};

}  // namespace kv
