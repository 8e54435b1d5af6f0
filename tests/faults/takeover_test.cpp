// SPDX-License-Identifier: GPL-3.0-or-later
// A call the program finds already up (taken over at start-up, after a crash or a restart) and
// that ends before the first display tick.
#include <gtest/gtest.h>

#include "accounting/call_rig.h"

namespace kv::test {
namespace {

TEST(CallTakenOver, EndingBeforeTheFirstTickKeepsTheRealDuration) {
    CallRig rig;
    rig.OpenAgo(1, 3600);
    rig.loop.Advance(400);  // less than one display tick
    rig.Close(1);
    EXPECT_EQ(rig.cx.meter.Call().CallSecs, 3600);
    EXPECT_NE(rig.ReadDataFile("Kestrovan.log")
                  .find("\"Tel\",\"2026/12/07\",\"09:00:00\",\"2026/12/"
                        "07\",\"10:00:00\",\"01:00:00\",3600,"),
              std::string::npos)
        << rig.ReadDataFile("Kestrovan.log");
}

TEST(CallTakenOver, AnOrdinaryCallStillEndsWithTheSecondsOfItsTicks) {
    CallRig rig;
    rig.OpenAgo(1, 2);
    rig.AdvanceSecs(90);
    rig.loop.Advance(400);
    rig.Close(1);
    EXPECT_EQ(rig.cx.meter.Call().CallSecs, 92);
    EXPECT_EQ(rig.cx.meter.Call().CallSecs, rig.cx.meter.Call().ElapsedSecs);
}

}  // namespace
}  // namespace kv::test
