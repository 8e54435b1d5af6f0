// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "call_rig.h"
#include "app/commands.h"
#include "link/console_link.h"

namespace kv::test {
namespace {

// 2026-12-07 10:00 is a Monday morning: band A, 180 s units.

TEST(Readouts, CountdownAndAmountTexts) {
    EXPECT_EQ(FormatMs(0), "0:00");
    EXPECT_EQ(FormatMs(45), "0:45");
    EXPECT_EQ(FormatMs(125), "2:05");
    EXPECT_EQ(FormatMs(3725), "2:05");  // whole hours are dropped
    EXPECT_EQ(FormatMs(-3), "-0:03");
    EXPECT_EQ(FormatMs(-125), "-2:05");
    EXPECT_EQ(FormatYen(0), "\\");
    EXPECT_EQ(FormatYen(1230), "\\1230");
    EXPECT_EQ(FormatYen(327680), "\\327680");
}

TEST(Supervision, SecondUnitIsChargedWhenElapsedReachesTheUnitLength) {
    CallRig rig;
    rig.cx.meter.TotalsForTest().MonthUnits = 122;
    rig.OpenAgo(1, 0);
    rig.AdvanceSecs(179);
    const CallRecord& c = rig.cx.meter.Call();
    EXPECT_EQ(c.ElapsedSecs, 179);
    EXPECT_EQ(c.NextUnitSecs, 1);
    EXPECT_EQ(c.CallUnits, 1);
    EXPECT_EQ(rig.view.lcd(5), "0:01");
    rig.AdvanceSecs(1);
    EXPECT_EQ(c.ElapsedSecs, 180);
    EXPECT_EQ(c.NextUnitSecs, 180);
    EXPECT_EQ(c.CallUnits, 2);
    EXPECT_EQ(rig.cx.meter.Totals().DayUnits, 2);
    EXPECT_EQ(rig.cx.meter.Totals().MonthUnits, 124);
    EXPECT_EQ(rig.view.lcd(1), "00:03:00");
    EXPECT_EQ(rig.view.lcd(2), "\\20");
    EXPECT_EQ(rig.view.lcd(3), "\\1240");
    EXPECT_EQ(rig.view.lcd(5), "3:00");
    EXPECT_EQ(rig.view.caption, "00:03:00");

    rig.cx.settings.dosuumode = 1;
    rig.AdvanceSecs(1);
    EXPECT_EQ(rig.view.lcd(3), "\\20");
}

TEST(Supervision, AmountsBeyondSixteenBits) {
    CallRig rig;
    rig.cx.meter.TotalsForTest().MonthUnits = 40000;
    rig.cx.settings.ctanni = 30000;
    rig.OpenAgo(1, 0);
    rig.AdvanceSecs(1);
    EXPECT_EQ(rig.view.lcd(2), "\\30000");
    EXPECT_EQ(rig.view.lcd(3), "\\1200030000");
}

TEST(Supervision, ArmedCutComesAtcutdlySecondsBeforeTheNextUnit) {
    CallRig rig;
    rig.cx.link.SetLinkReady(false);  // a poll is running: the disconnect is recorded for it
    rig.OpenAgo(1, 0);
    rig.cx.link.StatusForTest().AutoCutArmed = true;
    rig.AdvanceSecs(176);
    EXPECT_EQ(rig.cx.meter.Call().NextUnitSecs, 4);
    EXPECT_FALSE(rig.cx.link.State().DisconnectPending);
    rig.AdvanceSecs(1);
    EXPECT_EQ(rig.cx.meter.Call().NextUnitSecs, 3);
    EXPECT_TRUE(rig.cx.link.State().DisconnectPending);
    EXPECT_EQ(rig.cx.meter.Call().CallUnits, 1);
}

// With the link idle the cut goes out at once and closes the record before the router answers.
TEST(Supervision, ArmedCutHangsUpAndClosesTheRecord) {
    CallRig rig;
    ScriptedTransport& router = rig.transport;
    rig.cx.link.OpenLink();
    rig.cx.link.StateForTest().RouterName = u"MN128-SOHO";
    rig.cx.link.SetLinkReady(true);
    router.Answer("disconnect b1", "\n\r切断中\n\rMN128-SOHO% ", 300);
    rig.OpenAgo(1, 0);
    rig.cx.link.StatusForTest().AutoCutArmed = true;
    rig.AdvanceSecs(177);
    EXPECT_EQ(router.SentLines().back(), "disconnect b1");
    EXPECT_FALSE(rig.cx.meter.ChConnected(1));
    EXPECT_FALSE(rig.tmrDSP->Enabled());
    EXPECT_FALSE(rig.cx.link.LinkReady());  // until the router has answered
    rig.loop.Advance(500);
    EXPECT_TRUE(rig.cx.link.LinkReady());
    EXPECT_NE(rig.ReadDataFile("Kestrovan.log").find(",\"00:02:57\",177,1,0,0\r\n"),
              std::string::npos);
}

TEST(Supervision, FlatRateWindowIsYellowAndNeverCut) {
    CallRig rig({Date{2026, 12, 7}, TimeOfDay{23, 30, 0}});
    rig.cx.settings.teleho = 1;
    rig.cx.link.SetLinkReady(false);
    rig.OpenAgo(1, 0);
    rig.cx.link.StatusForTest().ChannelStatus[1].IdleSeconds = 600;
    for (int i = 0; i < 30; ++i) {
        rig.cx.link.UpdateAutoCutState(1);  // as every status poll does
        rig.AdvanceSecs(60);
        ASSERT_EQ(rig.cx.meter.Call().TariffMode, TariffMode::FlatRate);
        EXPECT_FALSE(rig.cx.link.Status().AutoCutArmed);
        EXPECT_EQ(rig.view.colour(5), kColourYellow);
        EXPECT_FALSE(rig.cx.link.State().DisconnectPending);
    }
    EXPECT_EQ(rig.cx.meter.Call().CallUnits, 0);
    EXPECT_EQ(rig.view.lcd(2), "\\");
}

// Ticks held up (a timer handler that could not run): the first tick after charges every
// unit that began meanwhile.
TEST(Supervision, StallChargesEveryUnitBegunAtTheNextTick) {
    CallRig rig;
    rig.OpenAgo(1, 0);
    rig.AdvanceSecs(10);
    rig.tmrDSP->SetEnabled(false);
    rig.AdvanceSecs(600);
    rig.tmrDSP->SetEnabled(true);
    const CallRecord& c = rig.cx.meter.Call();
    const int32_t expected[][2] = {{4, 109}, {4, 108}, {4, 107}};  // units, countdown per tick
    for (const auto& e : expected) {
        rig.AdvanceSecs(1);
        EXPECT_EQ(c.CallUnits, e[0]);
        EXPECT_EQ(c.NextUnitSecs, e[1]);
    }
    // 10 + 600 + 3 seconds: units begun at 0, 180, 360 and 540
    EXPECT_EQ(c.ElapsedSecs, 613);
}

TEST(Supervision, TickRateDoesNotChangeTheFigures) {
    CallRig fast, slow;
    fast.cx.settings.dspint = 500;
    fast.tmrDSP->SetInterval(500);
    slow.cx.settings.dspint = 2000;
    slow.tmrDSP->SetInterval(2000);
    fast.OpenAgo(1, 5);
    slow.OpenAgo(1, 5);
    for (int step = 0; step < 600; ++step) {
        fast.AdvanceSecs(2);
        slow.AdvanceSecs(2);
        ASSERT_EQ(fast.cx.meter.Call().ElapsedSecs, slow.cx.meter.Call().ElapsedSecs) << step;
        ASSERT_EQ(fast.cx.meter.Call().NextUnitSecs, slow.cx.meter.Call().NextUnitSecs) << step;
        ASSERT_EQ(fast.cx.meter.Call().CallUnits, slow.cx.meter.Call().CallUnits) << step;
    }
    EXPECT_EQ(fast.cx.meter.Call().ElapsedSecs, 1205);
    EXPECT_EQ(fast.cx.meter.Call().CallUnits, 7);  // 0, 180, ..., 1080
}

// The program started at 10:00 the day before: the call runs past midnight and past 10:00 of
// the next day, and the clock it is metered by keeps rising.
TEST(Supervision, CallAcrossMidnightAndPastTheStartTimeNextDay) {
    CallRig rig;
    rig.AdvanceSecs(13 * 3600 + 58 * 60);  // 23:58 on the start day
    rig.OpenAgo(1, 0);
    const CallRecord& c = rig.cx.meter.Call();
    int32_t last = c.ElapsedSecs;
    for (int i = 0; i < 10 * 3600 + 300; ++i) {
        rig.AdvanceSecs(1);
        ASSERT_EQ(c.ElapsedSecs, last + 1) << i;
        ASSERT_GT(c.NextUnitSecs, 0);
        last = c.ElapsedSecs;
    }
    EXPECT_EQ(FormatTime(rig.loop.Now().time), "10:03:00");
    EXPECT_EQ(c.ElapsedSecs, 36300);
    EXPECT_EQ(rig.view.caption, "10:05:00");
    // 23:58 .. 08:00 band C (240 s units from the connect instant), then band A (180 s)
    const int32_t nightUnits = (8 * 3600 + 2 * 60 + 239) / 240;  // units begun before 08:00
    const int32_t firstDayUnit = nightUnits * 240;               // first unit begun at/after 08:00
    const int32_t dayUnits = (36300 - firstDayUnit) / 180 + 1;
    EXPECT_EQ(c.CallUnits, nightUnits + dayUnits);
    rig.Close(1);
    EXPECT_EQ(c.CallSecs, 36300);
}

TEST(Supervision, CutBreakSuspendsTheAutomaticDisconnection) {
    CallRig rig;
    rig.cx.link.StatusForTest().AutoCutArmed = true;
    ToggleCutBreak(rig.cx);
    EXPECT_TRUE(rig.view.MenuChecked(MenuItem::MainCutBrk));
    EXPECT_TRUE(rig.view.MenuChecked(MenuItem::TrayCutBrk));
    EXPECT_EQ(rig.view.colour(0), kColourYellow);
    EXPECT_TRUE(rig.cx.link.CutBreak());
    EXPECT_FALSE(rig.cx.link.Status().AutoCutArmed);

    rig.cx.link.SetLinkReady(false);
    rig.OpenAgo(1, 0);
    rig.AdvanceSecs(400);
    EXPECT_FALSE(rig.cx.link.State().DisconnectPending);

    ToggleCutBreak(rig.cx);
    EXPECT_FALSE(rig.view.MenuChecked(MenuItem::MainCutBrk));
    EXPECT_FALSE(rig.view.MenuChecked(MenuItem::TrayCutBrk));
    EXPECT_EQ(rig.view.colour(0), kColourGreen);
    EXPECT_FALSE(rig.cx.link.CutBreak());
    EXPECT_FALSE(rig.cx.link.Status().AutoCutArmed);  // until a poll arms it again
}

}  // namespace
}  // namespace kv::test
