// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Starts and terminates the programs the user names for connection start and end: slots 0..2
// run when a call opens, slot 3 when it closes.
#include <array>
#include <cstdint>
#include <string>

#include "common/ports.h"
#include "common/trace.h"
#include "app/view.h"

namespace kv {

enum class RunAction { Start, Stop };

class Runner {
  public:
    Runner(ProcessRunner& processes, MainView& view, Trace& trace)
        : processes_(processes), view_(view), trace_(trace) {}

    // Start runs the program at path (exactly as stored: no shell, no arguments) and marks the
    // slot running; Stop terminates the slot's program and marks it not running. Returns false
    // when a start was refused because no file exists at path ("指定の EXE がありません" is
    // shown). A program that exists but fails to start is traced at level 3 and the slot
    // stays not running, so the next connection tries again.
    bool RunExe(RunAction action, int16_t slot, const std::string& path);
    bool Running(int16_t slot) const {
        return InRange(slot) && running_[static_cast<size_t>(slot)];
    }
    // The process handle of the slot, 0 when none.
    int64_t ProcessInfo(int16_t slot) const {
        return InRange(slot) ? processInfo_[static_cast<size_t>(slot)] : 0;
    }

  private:
    static bool InRange(int16_t slot) { return slot >= 0 && slot < 6; }

    ProcessRunner& processes_;
    MainView& view_;
    Trace& trace_;
    std::array<bool, 6> running_{};
    std::array<int64_t, 6> processInfo_{};
};

}  // namespace kv
