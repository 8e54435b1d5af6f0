// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/cp932.h"
#include "common/trace.h"
#include "support/fakes.h"

namespace kv {
namespace {

// The trace alone, on the fake clock, writing into a fresh folder.
struct TraceRig {
    explicit TraceRig(LocalTime start = {Date{2026, 12, 7}, TimeOfDay{10, 0, 0}}) : loop(start) {
        trace.SetPath(dir.path + "/Kestrovan.dbg");
    }
    std::string ReadTrace() const {
        std::ifstream f(trace.Path(), std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return cp932::DecodeToUtf8(ss.str());
    }
    // Declared first so the folder goes only after the trace has closed its file.
    struct TempDir {
        std::string path = test::MakeTempDir();
        ~TempDir() { test::RemoveTree(path); }
    } dir;
    test::FakeEventLoop loop;
    test::RecordingView view;
    Trace trace{loop, view};
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    size_t p = 0;
    while (p < text.size()) {
        size_t e = text.find("\r\n", p);
        if (e == std::string::npos) {
            out.push_back(text.substr(p) + "<no CR LF>");
            break;
        }
        out.push_back(text.substr(p, e - p));
        p = e + 2;
    }
    return out;
}

TEST(Trace, LevelsWithoutDebugMode) {
    TraceRig rig({Date{1999, 12, 31}, TimeOfDay{23, 59, 59}});
    rig.trace.SetEnabled(true);
    rig.trace.WriteTrace(TraceKind::Step, "before open");  // closed: nothing
    rig.trace.WriteTrace(TraceKind::Open, "ignored");
    rig.trace.WriteTrace(TraceKind::Open, "");          // already open: no second "run"
    rig.trace.WriteTrace(TraceKind::Step, "init-end");  // step line: debug mode only
    rig.trace.WriteTrace(TraceKind::Error, "login err:\"x\"");
    rig.trace.WriteTrace(TraceKind::Close, "query");
    rig.trace.WriteTrace(TraceKind::Error, "after close");
    EXPECT_EQ(
        Lines(rig.ReadTrace()),
        (std::vector<std::string>{"\"991231 23:59:59 run\"", "\"991231 23:59:59 login err:\"x\"\"",
                                  "\"991231 23:59:59 query\""}));
}

TEST(Trace, DebugModeAddsStepLinesAndRunsAppend) {
    TraceRig rig;
    rig.trace.SetEnabled(true);
    rig.trace.SetDebugMode(true);
    rig.trace.WriteTrace(TraceKind::Open, "");
    rig.trace.WriteTrace(TraceKind::Step, "init-end");
    rig.trace.WriteTrace(TraceKind::Close, "query");
    rig.loop.Advance(61000);
    rig.trace.WriteTrace(TraceKind::Open, "");  // a second run appends
    rig.trace.WriteTrace(TraceKind::Step, "端末型");
    rig.trace.WriteTrace(TraceKind::Close, "query");
    const auto lines = Lines(rig.ReadTrace());
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[1], "\"261207 10:00:00 init-end\"");
    EXPECT_EQ(lines[3], "\"261207 10:01:01 run\"");
    EXPECT_EQ(lines[4], "\"261207 10:01:01 端末型\"");
}

TEST(Trace, OffMeansNoFileEvenInDebugMode) {
    TraceRig rig;
    rig.trace.SetDebugMode(true);
    rig.trace.WriteTrace(TraceKind::Open, "");
    rig.trace.WriteTrace(TraceKind::Error, "x");
    rig.trace.WriteTrace(TraceKind::Close, "query");
    EXPECT_FALSE(std::filesystem::exists(rig.trace.Path()));
}

TEST(Trace, AFileThatCannotBeOpenedLeavesTheProgramRunning) {
    TraceRig rig;
    rig.trace.SetEnabled(true);
    rig.trace.SetPath(rig.dir.path + "/no-such-folder/Kestrovan.dbg");
    rig.trace.WriteTrace(TraceKind::Open, "");
    rig.trace.WriteTrace(TraceKind::Error, "x");
    rig.trace.WriteTrace(TraceKind::Close, "query");
    EXPECT_FALSE(rig.trace.IsOpen());
    // Said once, in the status bar.
    ASSERT_EQ(rig.view.statusHistory.size(), 1u);
    EXPECT_NE(rig.view.statusHistory[0].find("trace"), std::string::npos);
}

TEST(StatusBar, DebugStepShownOnlyInDebugMode) {
    TraceRig rig;
    rig.view.SetStatusText("回線を接続します");
    rig.trace.ShowDebugStep("init-st");  // not in debug mode: nothing
    EXPECT_EQ(rig.view.status(), "回線を接続します");
    rig.trace.SetDebugMode(true);
    rig.trace.ShowDebugStep("init-st");
    EXPECT_EQ(rig.view.status(), "init-st");
}

}  // namespace
}  // namespace kv
