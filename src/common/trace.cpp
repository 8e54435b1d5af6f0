// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/trace.h"

#include "common/cp932.h"
#include "common/data_file.h"

namespace kv {

Trace::~Trace() {
    if (file_) std::fclose(file_);
}

void Trace::ReportOnce(const std::string& what) {
    if (reportedFailure_) return;
    reportedFailure_ = true;
    view_.SetStatusText(what + path_);
}

void Trace::WriteLine(const std::string& message) {
    if (!file_) return;
    const LocalTime now = clock_.Now();
    std::string line =
        "\"" + FormatYymmdd(now.date) + " " + FormatTime(now.time) + " " + message + "\"";
    std::string bytes = cp932::EncodeFromUtf8(line);
    bytes += "\r\n";
    // One write per line, flushed, so a crash loses at most the line being written.
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size() ||
        std::fflush(file_) != 0)
        ReportOnce("trace write error: ");
}

void Trace::WriteTrace(TraceKind kind, const std::string& text) {
    if (!enabled_) return;
    switch (kind) {
        case TraceKind::Open:
            if (file_) return;
            // Only a regular file: a link or a FIFO in its place is not written to.
            file_ = datafile::OpenAppendStream(path_);
            if (!file_) {
                // The program goes on without a trace; say so once.
                ReportOnce("trace open error: ");
                return;
            }
            WriteLine("run");
            return;
        case TraceKind::Close:
            if (!file_) return;
            WriteLine(text);
            std::fclose(file_);
            file_ = nullptr;
            return;
        case TraceKind::Error: WriteLine(text); return;
        case TraceKind::Step:
            if (debugMode_) WriteLine(text);
            return;
    }
}

void Trace::ShowDebugStep(const std::string& text) {
    if (debugMode_) view_.SetStatusText(text);
}

}  // namespace kv
