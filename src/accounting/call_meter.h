// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Call accounting: the connection records, the call log and the totals file, and the
// per-second supervision that advances the meter and cuts an idle line. It owns the call
// record and the totals; it reaches the line only through LineControl.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "accounting/tariff.h"
#include "common/datetime.h"
#include "common/ports.h"
#include "common/tariff_mode.h"
#include "common/trace.h"
#include "settings/settings.h"

namespace kv {

// Unit counts are 32-bit here: the 16-bit originals overflow at 32767.
struct CallRecord {
    std::array<bool, 3> ChConnected{};  // [1], [2]: the channel's call is being metered
    Date CntStDate;
    TimeOfDay CntStTime;
    int32_t ConnectAdjust = 0;
    int32_t StartTick = 0;
    int32_t LastTick = 0;
    int32_t ElapsedSecs = 0;
    int32_t NextUnitSecs = 0;
    kv::TariffMode TariffMode = kv::TariffMode::None;
    int32_t CallUnits = 0;
    Date ConnDate;
    TimeOfDay ConnTime;
    Date EndDate;
    TimeOfDay EndTime;
    int32_t CallSecs = 0;
    int32_t LoggedUnits = 0;
};

struct ChargeTotals {
    int32_t DayUnits = 0;
    int32_t MonthUnits = 0;
    int32_t PrevMonthUnits = 0;
    Date PeriodMarker;  // the zero date until the totals file (or start-up) sets it
    // The last write of the totals file failed: the file is older than these figures.
    bool FileStale = false;
    // The accounting day (the date on which it began at 05:00) that DayUnits belong to; the
    // zero date until the totals file (or start-up) sets it.
    Date DayOf;
};

// What the meter needs of the line; the program connects it to the console link.
class LineControl {
  public:
    virtual ~LineControl() = default;
    // Cuts the line (the link's DisConnect).
    virtual void HangUp(int16_t channel) = 0;
    virtual int16_t CurrentChannel() const = 0;
    virtual bool AutoCutArmed() const = 0;
    // The computer's time of day minus the router's, in seconds.
    virtual int32_t ClockOffset() const = 0;
};

// The figures the meter shows; the program puts them on the window.
enum class MeterFigure { CallTime = 1, CallCharge = 2, RunningTotal = 3, NextUnit = 5 };

// What the meter shows; the program puts it on the window.
class MeterView {
  public:
    virtual ~MeterView() = default;
    virtual void ShowFigure(MeterFigure figure, const std::string& text) = 0;
    // The call's figures are live, or stopped (the router is away).
    virtual void ShowLive(bool live) = 0;
    virtual void ShowCaption(const std::string& text) = 0;
    virtual void ShowStatus(const std::string& text) = 0;
    // A warning the user must read (a totals file kept as it is).
    virtual void ShowWarning(const std::string& text) = 0;
    // A call begins: the window comes up (when the settings say so).
    virtual void BringUp() = 0;
};

// What the meter tells the program around it: the runner's programs and the window follow
// the calls.
class MeterEvents {
  public:
    virtual ~MeterEvents() = default;
    virtual void CallOpened() = 0;  // the end of CntSt
    virtual void CallClosed() = 0;  // the end of CntEnd
};

enum class DatFileMode { Read = 1, Write = 2 };

struct MeterPorts {
    const Clock& clock;
    MeterView& view;
    Timer& tmrDSP;
    Timer& tmrSOHO;
};

class CallMeter {
  public:
    CallMeter(const MeterPorts& ports, Trace& trace, const Settings& settings, LineControl& line,
              MeterEvents& events)
        : ports_(ports), trace_(trace), settings_(settings), line_(line), events_(events) {}

    // Kestrovan.log and Kestrovan.dat.
    void SetFiles(std::string logPath, std::string dataPath);
    const std::string& LogPath() const { return logPath_; }
    const std::string& DataPath() const { return dataPath_; }

    // The seconds clock starts with the run at the time of day and goes on with the monotonic
    // clock, so it keeps rising for a program resident for days and a call's seconds do not
    // jump with the wall clock (a change to or from summer time, a clock set back).
    void StartClock(const LocalTime& now);
    int32_t NowSeconds() const;

    // ---- connection records and files ----------------------------------------------------
    // routerConnectTime: the channel's connect time as the router reported it.
    void CntSt(int16_t channel, const std::string& routerConnectTime);
    // atExit: the program ends now; a call the router was last seen carrying ends now too, as
    // far as anyone here can know (traced as not confirmed).
    void CntEnd(int16_t channel, bool atExit = false);
    void WriteCallLog(const std::string& event);
    void DatFileIO(DatFileMode mode);
    // Starts DayUnits again when the accounting day (from 05:00) has changed, and moves
    // MonthUnits into PrevMonthUnits when a new accounting period has begun, so a program left
    // running for days counts every unit in the day and period in which it began. Shows the
    // running total when anything rolled; returns whether anything did.
    bool RollTotals(const LocalTime& now);
    void RollTotals();  // as of the computer clock now

    // ---- tariff and supervision ------------------------------------------------------------
    // The tariff of a unit beginning at date/t: adds its length to the countdown.
    TariffMode SetMode(const Date& date, const TimeOfDay& t);
    // The per-second check: a plain tick that never waits for the router.
    void Second_ck();
    // Seconds until an armed automatic cut falls due (the next unit less atcutdly); nullopt
    // without an open call being metered.
    std::optional<int32_t> SecondsToCut() const;
    // LCD3: the day's or the month's units as yen, as dosuumode chooses.
    void ShowRunningTotal();

    // ---- the router away --------------------------------------------------------------------
    // The link is lost: an open call stays open, its meter stops and its figures are shown as
    // not live. A call that closes meanwhile ends at this moment, the last it was seen.
    void Suspend();
    // The router is back with the same connection: metering goes on and catches up the units
    // of the time away.
    void Resume();
    bool Suspended() const { return suspended_; }
    // The open call on the channel is the router's connection that began at routerConnectTime.
    bool IsSameConnection(int16_t channel, const std::string& routerConnectTime) const;

    // ---- state ------------------------------------------------------------------------------
    const CallRecord& Call() const { return call_; }
    const ChargeTotals& Totals() const { return totals_; }
    bool ChConnected(int16_t channel) const {
        return channel >= 0 && channel <= 2 && call_.ChConnected[static_cast<size_t>(channel)];
    }
    // The start of a run: nothing is being metered.
    void ResetCall();

    // Tests put the meter into the states a call would leave.
    CallRecord& CallForTest() { return call_; }
    ChargeTotals& TotalsForTest() { return totals_; }

  private:
    void ReportFileError(const std::string& tag, const std::string& path,
                         const std::string& userText);
    void ReportBadHolidays();
    void SetAsideBadFile(const LocalTime& now);
    bool WriteTotalsFile(int dayNumber);
    Date PeriodMarkerFor(const Date& today) const;
    // The wall time at which a moment on the seconds clock fell.
    LocalTime WallAt(int32_t tick) const;
    // The seconds clock turns when the wall clock's second does (a unit due at 19:00:00 is
    // not charged at 18:59:59.6 by a clock half a second ahead).
    void AlignSeconds();
    // Brings the call up to `tick` on the seconds clock: every unit boundary at or before it
    // is charged, each by the band, day and period of its own start. Returns the units charged.
    int ChargeDueUnits(int32_t tick);
    // Seconds from the router's connect time to the moment it was seen, both local times,
    // less the change of the zone's offset between them (summer time begun or ended).
    int32_t ZoneShift(const Date& connDate, const TimeOfDay& connTime, int32_t naiveAge) const;
    // Charges one unit begun in `mode` (the flat-rate rule, and units of this connection that
    // an earlier record already logged); returns whether it was charged.
    bool Charge(TariffMode mode);
    // Units the call log already holds for the router connection that began at date/time.
    int32_t UnitsAlreadyLogged(const Date& date, const TimeOfDay& time) const;

    MeterPorts ports_;
    Trace& trace_;
    const Settings& settings_;
    LineControl& line_;
    MeterEvents& events_;
    std::string logPath_;
    std::string dataPath_;
    Date baseDate_;
    int32_t baseWallSecs_ = 0;
    int64_t baseMonoMs_ = 0;
    int32_t creditUnits_ = 0;  // units of this connection an earlier record already logged
    CallRecord call_;
    ChargeTotals totals_;
    // The holiday list whose unreadable entries were last traced, so each is reported once.
    std::string holidayTableReported_;
    bool suspended_ = false;
    // The totals file could not be read at start: it is kept as it is, not written this run.
    bool totalsKept_ = false;
    bool badFileReported_ = false;  // a totals file set aside has been said in a box
    LocalTime suspendedAt_;
    int32_t suspendedTick_ = 0;
};

// ---- the files' and read-outs' formats ----------------------------------------------------
int32_t TimeToSecs(const TimeOfDay& t);
TimeOfDay TextToTime(const std::string& text);
std::string FormatHms(int32_t seconds);
std::string FormatMs(int32_t seconds);
// "\" followed by the amount; "\" alone for 0.
std::string FormatYen(int64_t amount);

}  // namespace kv
