// SPDX-License-Identifier: GPL-3.0-or-later
// The meter on its own: a fake clock, a fake of the line that only records being hung up, and
// the call log and totals file in a temporary folder. No link and no socket are built in.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "accounting/call_meter.h"
#include "accounting/tariff.h"
#include "common/cp932.h"
#include "common/trace.h"
#include "support/fakes.h"

namespace kv::test {
namespace {

class FakeLine : public LineControl {
  public:
    // A hang-up closes the record at once, as the link's disconnect does.
    void HangUp(int16_t channel) override {
        hangUps.push_back(channel);
        if (meter) meter->CntEnd(channel);
    }
    int16_t CurrentChannel() const override { return 1; }
    bool AutoCutArmed() const override { return armed; }
    int32_t ClockOffset() const override { return 3; }

    CallMeter* meter = nullptr;
    bool armed = false;
    std::vector<int16_t> hangUps;
};

class FakeMeterEvents : public MeterEvents {
  public:
    void CallOpened() override { log.push_back("opened"); }
    void CallClosed() override { log.push_back("closed"); }
    std::vector<std::string> log;
};

struct MeterRig {
    MeterRig()
        : tmrDSP(loop.MakeTimer()),
          tmrSOHO(loop.MakeTimer()),
          dir(MakeTempDir()),
          trace(loop, view),
          meterView(view),
          meter(MeterPorts{loop, meterView, *tmrDSP, *tmrSOHO}, trace, settings, line, events) {
        settings.seca = 180;
        settings.secb = 180;
        settings.secc = 240;
        settings.ctanni = 10;
        settings.atcutdly = 3;
        settings.telstday = 1;
        settings.sohoint = 2000;
        settings.soho2int = 3000;
        settings.winmodec = 1;
        line.meter = &meter;
        meter.SetFiles(dir + "/Kestrovan.log", dir + "/Kestrovan.dat");
        meter.StartClock(loop.Now());
        tmrDSP->SetInterval(1000);
        tmrDSP->SetHandler([this] { meter.Second_ck(); });
    }
    ~MeterRig() { RemoveTree(dir); }
    std::string File(const std::string& name) const {
        std::ifstream f(dir + "/" + name, std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return cp932::DecodeToUtf8(ss.str());
    }

    FakeEventLoop loop;  // Monday 2026-12-07 10:00:00: band A
    RecordingView view;
    std::unique_ptr<FakeTimer> tmrDSP, tmrSOHO;
    std::string dir;
    Settings settings;
    Trace trace;
    FakeLine line;
    FakeMeterEvents events;
    RecordingMeterView meterView;
    CallMeter meter;
};

TEST(MeterAlone, AnArmedCallIsCutBeforeItsSecondUnitAndLogged) {
    MeterRig r;
    // The router connected 09:59:50 by its clock, 3 s behind the computer's: 7 s ago.
    r.meter.CntSt(1, "2026/12/07 09:59:50");
    EXPECT_TRUE(r.meter.ChConnected(1));
    EXPECT_TRUE(r.tmrDSP->Enabled());
    EXPECT_EQ(r.tmrSOHO->Interval(), 3000);
    r.loop.Advance(100 * 1000);
    EXPECT_TRUE(r.line.hangUps.empty());
    r.line.armed = true;
    r.loop.Advance(100 * 1000);
    // Cut when the next unit is 3 s away: 177 s after the connect, before the second unit.
    EXPECT_EQ(r.line.hangUps, (std::vector<int16_t>{1}));
    EXPECT_FALSE(r.meter.ChConnected(1));
    EXPECT_FALSE(r.tmrDSP->Enabled());
    EXPECT_EQ(r.meter.Call().CallUnits, 1);
    EXPECT_EQ(r.meter.Call().CallSecs, 177);
    EXPECT_EQ(r.events.log, (std::vector<std::string>{"opened", "closed"}));
    EXPECT_EQ(r.File("Kestrovan.log"),
              "\"Connect\",\"2026/12/07\",\"09:59:50\",-10,3\r\n"
              "\"DisConnect\",\"2026/12/07\",\"10:02:50\",\"00:02:57\",177,1,-10,3\r\n"
              "\"Tel\",\"2026/12/07\",\"09:59:50\",\"2026/12/07\",\"10:02:50\",\"00:02:57\",177,1,"
              "-10,3\r\n");
    EXPECT_EQ(r.File("Kestrovan.dat"), "1,7,1,\"2026/11/30\",0\r\n");
}

// The tariff is a function of the settings, the date and the time: nothing else.
TEST(MeterAlone, TariffBandsHolidaysAndTheFlatRateWindow) {
    Settings s;
    s.seca = 180;
    s.secb = 240;
    s.secc = 300;
    s.HolidayTable = SplitHolidays(kDefaultHolidays);
    const Date monday{2026, 12, 7}, sunday{2026, 12, 6}, holiday{2026, 11, 23};
    struct Case {
        Date date;
        TimeOfDay time;
        int16_t teleho;
        TariffMode mode;
        int32_t unit;
    };
    for (const Case& c : {Case{monday, {7, 59, 59}, 0, TariffMode::BandC, 300},
                          Case{monday, {8, 0, 0}, 0, TariffMode::BandA, 180},
                          Case{monday, {18, 59, 59}, 0, TariffMode::BandA, 180},
                          Case{monday, {19, 0, 0}, 0, TariffMode::BandB, 240},
                          Case{monday, {23, 0, 0}, 0, TariffMode::BandC, 300},
                          Case{sunday, {12, 0, 0}, 0, TariffMode::BandB, 240},
                          Case{holiday, {12, 0, 0}, 0, TariffMode::BandB, 240},
                          Case{monday, {23, 0, 0}, 1, TariffMode::FlatRate, 300},
                          Case{monday, {7, 45, 0}, 1, TariffMode::FlatRate, 300},
                          Case{monday, {7, 45, 1}, 1, TariffMode::BandC, 300}}) {
        s.teleho = c.teleho;
        const Tariff t = TariffAt(s, c.date, c.time);
        EXPECT_EQ(t.mode, c.mode) << FormatDate(c.date) << " " << FormatTime(c.time);
        EXPECT_EQ(t.unitSecs, c.unit) << FormatDate(c.date) << " " << FormatTime(c.time);
    }
    EXPECT_TRUE(IsHoliday(s, holiday));
    EXPECT_FALSE(IsHoliday(s, monday));
}

}  // namespace
}  // namespace kv::test
