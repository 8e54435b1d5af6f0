// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The runner's process port on POSIX: the program is started by its exact path with
// posix_spawn (no shell, no arguments), the program's environment and current folder.
// Handles are process ids. Children that end by themselves are reaped by a timer on the Qt
// event loop, so none is left a zombie; only our own children are waited for, never "any
// child", so QProcess and others keep theirs. Programs still running when the runner is
// destroyed are left running.
#include <QTimer>
#include <set>

#include "common/ports.h"

namespace kv {

class PosixProcessRunner : public ProcessRunner {
  public:
    PosixProcessRunner();
    bool FileExists(const std::string& path) override;
    int64_t Start(const std::string& path, std::string& error) override;
    // SIGKILL, then wait for it. A handle that is not a live child of ours is ignored, so a
    // recycled process id of someone else's program is never killed.
    void Terminate(int64_t handle) override;

    // Collects the children that have ended; the timer calls it, tests may too.
    void Reap();
    // Whether handle is a child of ours that has not been reaped yet.
    bool IsAlive(int64_t handle) const { return children_.count(handle) != 0; }

  private:
    std::set<int64_t> children_;
    QTimer reaper_;
};

}  // namespace kv
