// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A TestRig with the settings of a typical installation and the display timer wired to the
// supervision, as the main window wires it.
#include <fstream>
#include <string>

#include "accounting/call_meter.h"
#include "support/test_rig.h"

namespace kv::test {

class CallRig : public TestRig {
  public:
    explicit CallRig(LocalTime start = {Date{2026, 12, 7}, TimeOfDay{10, 0, 0}}) : TestRig(start) {
        Settings& s = cx.settings;
        s.seca = 180;
        s.secb = 180;
        s.secc = 240;
        s.ctanni = 10;
        s.atcuttm = 30;
        s.atcutmode = 1;
        s.atcutdly = 3;
        s.sohoint = 2000;
        s.soho2int = 3000;
        s.dspint = 1000;
        s.winmodec = 1;
        s.winmodedc = 1;
        tmrDSP->SetInterval(s.dspint);
        tmrDSP->SetHandler([this] { cx.meter.Second_ck(); });
        tmrSOHO->SetInterval(s.sohoint);
        tmrSOHO->SetEnabled(true);
    }

    // The poll has just seen channel ch in terminal mode, connected at routerConnect.
    void Open(int16_t ch, const std::string& routerConnect) {
        RouterStatus& status = cx.link.StatusForTest();
        status.ChannelStatus[ch].Mode = "端末型";
        status.ChannelStatus[ch].ConnectTime = routerConnect;
        status.CurrentChannel = ch;
        cx.meter.CntSt(ch, routerConnect);
    }
    // Opens a call connected `ago` seconds before now, by the computer's clock.
    void OpenAgo(int16_t ch, int ago) {
        const LocalTime now = loop.Now();
        const int32_t serial = DateToSerial(now.date);
        int32_t secs = now.time.Seconds() - ago;
        int32_t days = 0;
        while (secs < 0) {
            secs += 86400;
            --days;
        }
        Open(ch, FormatDate(SerialToDate(serial + days)) + " " +
                     FormatTime(TimeOfDay::FromSeconds(secs)));
    }
    void Close(int16_t ch) {
        RouterStatus& status = cx.link.StatusForTest();
        status.ChannelStatus[ch].Mode.clear();
        status.CurrentChannel = 0;
        cx.meter.CntEnd(ch);
    }
    void AdvanceSecs(int64_t s) { loop.Advance(s * 1000); }
    void WriteDataFile(const std::string& name, const std::string& bytes) {
        std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
    }
    bool DataFileExists(const std::string& name) const {
        return std::ifstream(dir + "/" + name).good();
    }
};

}  // namespace kv::test
