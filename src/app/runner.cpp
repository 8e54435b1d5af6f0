// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/runner.h"

namespace kv {

bool Runner::RunExe(RunAction action, int16_t slot, const std::string& path) {
    // The slot arrays hold six entries; anything else is a caller's mistake, not a crash.
    if (!InRange(slot)) {
        trace_.Error("runexe err: slot " + std::to_string(slot));
        return false;
    }
    const auto i = static_cast<size_t>(slot);
    trace_.Step("runexe-st");

    if (action == RunAction::Stop) {
        // Killing a program that has already ended does nothing visible; the runner knows
        // which of its children are still alive.
        if (processInfo_[i] != 0) processes_.Terminate(processInfo_[i]);
        processInfo_[i] = 0;
        running_[i] = false;
    } else {
        if (!processes_.FileExists(path)) {
            view_.MessageBox("指定の EXE がありません", "Warning", MsgIcon::Exclamation,
                             MsgButtons::Ok);
            return false;
        }
        std::string error;
        const int64_t handle = processes_.Start(path, error);
        if (handle == 0) {
            // Not marked as running: the next connection tries again instead of believing a
            // program is up that never started.
            trace_.Error("runexe err:" + error);
            processInfo_[i] = 0;
            running_[i] = false;
            return false;
        }
        processInfo_[i] = handle;
        running_[i] = true;
    }

    trace_.Step("runexe-end");
    return true;
}

}  // namespace kv
