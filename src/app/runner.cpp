#include "app/runner.h"

#include "app/trace.h"

namespace kv {

int16_t RunExe(Context& cx, int16_t stop, int16_t slot, const std::string& path) {
    // The slot arrays hold six entries; anything else is a caller's mistake, not a crash.
    if (slot < 0 || slot >= static_cast<int16_t>(cx.runner.Running.size())) {
        WriteTrace(cx, 3, "runexe err: slot " + std::to_string(slot));
        return 0;
    }
    const auto i = static_cast<size_t>(slot);
    WriteTrace(cx, 4, "runexe-st");

    if (stop != 0) {
        // Killing a program that has already ended does nothing visible; the runner knows
        // which of its children are still alive.
        if (cx.runner.ProcessInfo[i] != 0 && cx.ports.runner)
            cx.ports.runner->Terminate(cx.runner.ProcessInfo[i]);
        cx.runner.ProcessInfo[i] = 0;
        cx.runner.Running[i] = 0;
    } else {
        if (!cx.ports.runner || !cx.ports.runner->FileExists(path)) {
            if (cx.ports.view)
                cx.ports.view->MessageBox("指定の EXE がありません", "Warning",
                                          MsgIcon::Exclamation, MsgButtons::Ok);
            return 0;
        }
        std::string error;
        const int64_t handle = cx.ports.runner->Start(path, error);
        if (handle == 0) {
            // Not marked as running: the next connection tries again instead of believing a
            // program is up that never started.
            WriteTrace(cx, 3, "runexe err:" + error);
            cx.runner.ProcessInfo[i] = 0;
            cx.runner.Running[i] = 0;
            return 0;
        }
        cx.runner.ProcessInfo[i] = handle;
        cx.runner.Running[i] = 1;
    }

    WriteTrace(cx, 4, "runexe-end");
    return 1;
}

}  // namespace kv
