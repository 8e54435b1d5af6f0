#include "app/trace.h"

#include "common/cp932.h"

namespace kv {

std::string DataFilePath(const Context& cx, const std::string& name) {
    return cx.AppPath + "/" + name;
}

namespace {

void WriteLine(Context& cx, const std::string& message) {
    if (!cx.trace.TraceFile) return;
    const LocalTime now = cx.ports.clock->Now();
    std::string line = "\"" + FormatYymmdd(now.date) + " " + FormatTime(now.time) + " " +
                       message + "\"";
    std::string bytes = cp932::EncodeFromUtf8(line);
    bytes += "\r\n";
    // One write per line, flushed, so a crash loses at most the line being written.
    if (std::fwrite(bytes.data(), 1, bytes.size(), cx.trace.TraceFile) != bytes.size() ||
        std::fflush(cx.trace.TraceFile) != 0) {
        if (!cx.trace.ReportedFailure && cx.ports.view) {
            cx.trace.ReportedFailure = true;
            cx.ports.view->SetStatusText("trace write error: " + cx.TracePath);
        }
    }
}

}  // namespace

void WriteTrace(Context& cx, int kind, const std::string& text) {
    if (cx.settings.debuglog == 0 || kind < 1 || kind > 4) return;
    switch (kind) {
        case 1:
            if (cx.trace.TraceFile) return;
            cx.trace.TraceFile = std::fopen(cx.TracePath.c_str(), "ab");
            if (!cx.trace.TraceFile) {
                // The program goes on without a trace; say so once.
                if (!cx.trace.ReportedFailure && cx.ports.view) {
                    cx.trace.ReportedFailure = true;
                    cx.ports.view->SetStatusText("trace open error: " + cx.TracePath);
                }
                return;
            }
            WriteLine(cx, "run");
            return;
        case 2:
            if (!cx.trace.TraceFile) return;
            WriteLine(cx, text);
            std::fclose(cx.trace.TraceFile);
            cx.trace.TraceFile = nullptr;
            return;
        case 3:
            WriteLine(cx, text);
            return;
        case 4:
            if (cx.DebugMode == 1) WriteLine(cx, text);
            return;
        default:
            return;
    }
}

void ShowDebugStep(Context& cx, const std::string& text) {
    if (cx.DebugMode != 0 && cx.ports.view) cx.ports.view->SetStatusText(text);
}

void SetStatusText(Context& cx, const std::string& text) {
    if (cx.ports.view) cx.ports.view->SetStatusText(text);
}

void ArmDelayedAction(Context& cx, int16_t action, int intervalMs) {
    cx.DelayedAction = action;
    if (!cx.ports.Tmr1Sec) return;
    cx.ports.Tmr1Sec->SetEnabled(false);
    cx.ports.Tmr1Sec->SetInterval(intervalMs);
    cx.ports.Tmr1Sec->SetEnabled(true);
}

void ShowHint(Context& cx, const std::string& text) {
    SetStatusText(cx, text);
    ArmDelayedAction(cx, 3, 5000);
}

}  // namespace kv
