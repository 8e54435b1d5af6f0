#include <gtest/gtest.h>

#include <filesystem>

#include "app/trace.h"
#include "support/fakes.h"

namespace kv {
namespace {

using test::TestRig;

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
    TestRig rig({Date{1999, 12, 31}, TimeOfDay{23, 59, 59}});
    rig.cx.settings.debuglog = 1;
    WriteTrace(rig.cx, 4, "before open");  // closed: nothing
    WriteTrace(rig.cx, 1, "ignored");
    WriteTrace(rig.cx, 1, "");             // already open: no second "run"
    WriteTrace(rig.cx, 4, "init-end");     // step line: debug mode only
    WriteTrace(rig.cx, 3, "login err:\"x\"");
    WriteTrace(rig.cx, 5, "bad kind");
    WriteTrace(rig.cx, 2, "query");
    WriteTrace(rig.cx, 3, "after close");
    EXPECT_EQ(Lines(rig.ReadDataFile("Kestrovan.dbg")),
              (std::vector<std::string>{"\"991231 23:59:59 run\"",
                                        "\"991231 23:59:59 login err:\"x\"\"",
                                        "\"991231 23:59:59 query\""}));
}

TEST(Trace, DebugModeAddsStepLinesAndRunsAppend) {
    TestRig rig;
    rig.cx.settings.debuglog = 1;
    rig.cx.DebugMode = 1;
    WriteTrace(rig.cx, 1, "");
    WriteTrace(rig.cx, 4, "init-end");
    WriteTrace(rig.cx, 2, "query");
    rig.loop.Advance(61000);
    WriteTrace(rig.cx, 1, "");  // a second run appends
    WriteTrace(rig.cx, 4, "端末型");
    WriteTrace(rig.cx, 2, "query");
    const auto lines = Lines(rig.ReadDataFile("Kestrovan.dbg"));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[1], "\"261207 10:00:00 init-end\"");
    EXPECT_EQ(lines[3], "\"261207 10:01:01 run\"");
    EXPECT_EQ(lines[4], "\"261207 10:01:01 端末型\"");
}

TEST(Trace, OffMeansNoFileEvenInDebugMode) {
    TestRig rig;
    rig.cx.DebugMode = 1;
    WriteTrace(rig.cx, 1, "");
    WriteTrace(rig.cx, 3, "x");
    WriteTrace(rig.cx, 2, "query");
    EXPECT_FALSE(std::filesystem::exists(rig.cx.TracePath));
}

TEST(Trace, AFileThatCannotBeOpenedLeavesTheProgramRunning) {
    TestRig rig;
    rig.cx.settings.debuglog = 1;
    rig.cx.TracePath = rig.dir + "/no-such-folder/Kestrovan.dbg";
    WriteTrace(rig.cx, 1, "");
    WriteTrace(rig.cx, 3, "x");
    WriteTrace(rig.cx, 2, "query");
    EXPECT_EQ(rig.cx.trace.TraceFile, nullptr);
    // Said once, in the status bar.
    ASSERT_EQ(rig.view.statusHistory.size(), 1u);
    EXPECT_NE(rig.view.statusHistory[0].find("trace"), std::string::npos);
}

TEST(StatusBar, HintArmsTheFiveSecondClearing) {
    TestRig rig;
    ShowHint(rig.cx, "回線を接続します");
    EXPECT_EQ(rig.view.status(), "回線を接続します");
    EXPECT_EQ(rig.cx.DelayedAction, 3);
    EXPECT_TRUE(rig.Tmr1Sec->Enabled());
    EXPECT_EQ(rig.Tmr1Sec->Interval(), 5000);
    ShowDebugStep(rig.cx, "init-st");  // not in debug mode: nothing
    EXPECT_EQ(rig.view.status(), "回線を接続します");
    rig.cx.DebugMode = 1;
    ShowDebugStep(rig.cx, "init-st");
    EXPECT_EQ(rig.view.status(), "init-st");
}

}  // namespace
}  // namespace kv
