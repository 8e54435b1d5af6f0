// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The diagnostic trace Kestrovan.dbg and the debug step display of the status bar.
#include <cstdio>
#include <string>

#include "common/ports.h"

namespace kv {

enum class TraceKind {
    Open = 1,   // opens the file and writes "run"
    Close = 2,  // writes the last line and closes the file
    Error = 3,  // a failure: always written while the trace is on
    Step = 4,   // a procedure's step: only with the debug switch
};

// The status bar, where the trace says what it could not write and shows the debug steps.
class StatusLine {
  public:
    virtual ~StatusLine() = default;
    virtual void SetStatusText(const std::string& text) = 0;
};

class Trace {
  public:
    Trace(const Clock& clock, StatusLine& view) : clock_(clock), view_(view) {}
    ~Trace();
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    void SetPath(std::string path) { path_ = std::move(path); }
    const std::string& Path() const { return path_; }
    // The "debug log" setting: nothing is written while it is off.
    void SetEnabled(bool on) { enabled_ = on; }
    bool Enabled() const { return enabled_; }
    // The " -DEBUG " switch: step lines, and step names in the status bar.
    void SetDebugMode(bool on) { debugMode_ = on; }
    bool DebugMode() const { return debugMode_; }
    bool IsOpen() const { return file_ != nullptr; }

    // A trace that cannot be opened or written never stops the program.
    void WriteTrace(TraceKind kind, const std::string& text);
    void Open() { WriteTrace(TraceKind::Open, ""); }
    void Close(const std::string& text) { WriteTrace(TraceKind::Close, text); }
    void Error(const std::string& text) { WriteTrace(TraceKind::Error, text); }
    void Step(const std::string& text) { WriteTrace(TraceKind::Step, text); }
    void ShowDebugStep(const std::string& text);

  private:
    void WriteLine(const std::string& message);
    void ReportOnce(const std::string& what);

    const Clock& clock_;
    StatusLine& view_;
    std::string path_;
    bool enabled_ = false;
    bool debugMode_ = false;
    std::FILE* file_ = nullptr;
    bool reportedFailure_ = false;  // a failure is reported once, not at every line
};

}  // namespace kv
