// SPDX-License-Identifier: GPL-3.0-or-later
// Connection records, the call log and the totals file.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "accounting/call_meter.h"
#include "accounting/totals_file.h"
#include "common/cp932.h"
#include "common/data_file.h"

namespace kv {

using totals::AccountingDay;
using totals::DayNumber;
using totals::ParseCount;
using totals::ReadResult;
using totals::ReadTotalsFile;
using totals::SameAccountingDay;
using totals::SplitValues;
using totals::Stamp;
using totals::TotalsLine;

namespace {

void SwitchTimer(Timer& timer, int intervalMs) {
    timer.SetEnabled(false);
    timer.SetInterval(intervalMs);
    timer.SetEnabled(true);
}

bool IsDigits(const std::string& s, size_t from, size_t count) {
    if (from + count > s.size()) return false;
    for (size_t i = from; i < from + count; ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

int Number(const std::string& s, size_t from, size_t count) {
    int v = 0;
    for (size_t i = from; i < from + count; ++i) v = v * 10 + (s[i] - '0');
    return v;
}

// "yyyy/mm/dd hh:mm:ss" as the router reports it; anything else is not trusted.
bool ParseConnectTime(const std::string& text, Date& date, TimeOfDay& time) {
    if (text.size() < 19 || !IsDigits(text, 0, 4) || text[4] != '/' || !IsDigits(text, 5, 2) ||
        text[7] != '/' || !IsDigits(text, 8, 2) || !IsDigits(text, 11, 2) || text[13] != ':' ||
        !IsDigits(text, 14, 2) || text[16] != ':' || !IsDigits(text, 17, 2))
        return false;
    const int y = Number(text, 0, 4), mo = Number(text, 5, 2), d = Number(text, 8, 2);
    const int h = Number(text, 11, 2), mi = Number(text, 14, 2), s = Number(text, 17, 2);
    if (!IsValidDate(y, mo, d) || h > 23 || mi > 59 || s > 59) return false;
    date = Date{y, mo, d};
    time = TimeOfDay{h, mi, s};
    return true;
}

// A router connect time just before midnight seen just after it differs by about -86400.
int32_t FoldDay(int32_t secs) {
    secs %= 86400;
    if (secs < -43200) secs += 86400;
    if (secs >= 43200) secs -= 86400;
    return secs;
}

std::string Quote(const std::string& s) {
    return "\"" + s + "\"";
}

}  // namespace

Date CallMeter::PeriodMarkerFor(const Date& today) const {
    return totals::PeriodMarker(settings_.telstday, today);
}

void CallMeter::ReportFileError(const std::string& tag, const std::string& path,
                                const std::string& userText) {
    trace_.Error(tag + path + " " + std::strerror(errno));
    ports_.view.ShowStatus(userText);
}

void CallMeter::SetFiles(std::string logPath, std::string dataPath) {
    logPath_ = std::move(logPath);
    dataPath_ = std::move(dataPath);
}

void CallMeter::StartClock(const LocalTime& now) {
    baseDate_ = now.date;
    baseWallSecs_ = now.time.Seconds();
    baseMonoMs_ = ports_.clock.MonotonicMs() - ports_.clock.WallMsOfSecond();
}

void CallMeter::AlignSeconds() {
    // Only the phase within the second moves: the count goes on as it was.
    const int64_t secondBegan = ports_.clock.MonotonicMs() - ports_.clock.WallMsOfSecond();
    int64_t delta = ((secondBegan - baseMonoMs_) % 1000 + 1000) % 1000;
    if (delta >= 500) delta -= 1000;
    baseMonoMs_ += delta;
}

int32_t CallMeter::ZoneShift(const Date& connDate, const TimeOfDay& connTime,
                             int32_t naiveAge) const {
    const int32_t nowOffset = ports_.clock.UtcOffsetNow();
    std::optional<int32_t> best;
    // In the hour repeated in autumn the connect time has two readings: the connection began
    // before it was seen, so the youngest age that is not negative is the one.
    for (int32_t offset : ports_.clock.UtcOffsetsAt(LocalTime{connDate, connTime})) {
        const int32_t age = naiveAge + offset - nowOffset;
        if (!best || (age >= 0 && (*best < 0 || age < *best)) || (*best < 0 && age > *best))
            best = age;
    }
    return best ? *best - naiveAge : 0;
}

int CallMeter::ChargeDueUnits(int32_t tick) {
    CallRecord& c = call_;
    if (tick < c.LastTick) tick = c.LastTick;
    c.NextUnitSecs -= tick - c.LastTick;
    c.LastTick = tick;
    c.ElapsedSecs = tick - c.StartTick;
    int units = 0;
    while (c.NextUnitSecs < 1) {
        const LocalTime began = WallAt(c.LastTick + c.NextUnitSecs);
        RollTotals(began);
        const int32_t before = c.NextUnitSecs;
        if (Charge(SetMode(began.date, began.time))) ++units;
        if (c.NextUnitSecs <= before) break;  // a unit length of 0 would never end
    }
    return units;
}

// The time of day at start plus the seconds since on the monotonic clock: it rises steadily
// for days and never jumps with the wall clock.
int32_t CallMeter::NowSeconds() const {
    const int64_t ms = ports_.clock.MonotonicMs() - baseMonoMs_;
    const int64_t secs = baseWallSecs_ + (ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000));
    if (secs > INT32_MAX) return INT32_MAX;
    if (secs < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(secs);
}

LocalTime CallMeter::WallAt(int32_t tick) const {
    const LocalTime now = ports_.clock.Now();
    const int64_t secs = int64_t{now.time.Seconds()} - (int64_t{NowSeconds()} - tick);
    const int64_t day = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
    return LocalTime{SerialToDate(static_cast<int32_t>(DateToSerial(now.date) + day)),
                     TimeOfDay::FromSeconds(static_cast<int32_t>(secs - day * 86400))};
}

bool CallMeter::Charge(TariffMode mode) {
    if (!ChargedWithFlatRateService(mode) && settings_.teleho != 0) return false;
    // Already in the log under an earlier record of the same connection (the program was
    // restarted, or the meter moved to the other channel and back): not charged again.
    if (creditUnits_ > 0) {
        --creditUnits_;
        return false;
    }
    // Saturated at what the totals file holds (nine digits), so the meter never writes a
    // figure it would refuse to read back.
    for (int32_t* n : {&call_.CallUnits, &totals_.DayUnits, &totals_.MonthUnits})
        if (*n < totals::kMaxCount) ++*n;
    return true;
}

void CallMeter::Suspend() {
    if (suspended_ || (!call_.ChConnected[1] && !call_.ChConnected[2])) return;
    suspended_ = true;
    suspendedAt_ = ports_.clock.Now();
    suspendedTick_ = NowSeconds();
    ports_.tmrDSP.SetEnabled(false);
    ports_.view.ShowLive(false);
    trace_.Error("meter stopped: the router is away");
}

void CallMeter::Resume() {
    if (!suspended_) return;
    suspended_ = false;
    ports_.view.ShowLive(true);
    if (!call_.ChConnected[1] && !call_.ChConnected[2]) return;
    // The units that began while the router was away are charged now, each by the tariff of
    // the moment it began, so a call that ends soon after is not short of them.
    const int units = ChargeDueUnits(NowSeconds());
    trace_.Error("meter resumed: " + std::to_string(units) + " units of the time away");
    ports_.tmrDSP.SetEnabled(true);
}

bool CallMeter::IsSameConnection(int16_t channel, const std::string& routerConnectTime) const {
    Date date;
    TimeOfDay time;
    return ChConnected(channel) && ParseConnectTime(routerConnectTime, date, time) &&
           date == call_.ConnDate && time == call_.ConnTime;
}

int32_t CallMeter::UnitsAlreadyLogged(const Date& date, const TimeOfDay& time) const {
    // The same connection can only have been logged lately: the end of the log is enough.
    std::string tail;
    if (datafile::ReadAll(logPath_, tail, 64 * 1024) != datafile::ReadResult::Ok) return 0;
    const std::string key =
        "\"Tel\"," + Quote(FormatDate(date)) + "," + Quote(FormatTime(time)) + ",";
    int64_t units = 0;
    for (size_t p = tail.find(key); p != std::string::npos; p = tail.find(key, p + 1)) {
        if (p > 0 && tail[p - 1] != '\n') continue;
        const size_t end = tail.find('\r', p);
        const std::vector<std::string> v = SplitValues(tail.substr(p, end - p));
        int32_t n = 0;
        if (v.size() == 10 && ParseCount(v[7], n) && n > 0) units += n;
    }
    return static_cast<int32_t>(std::min<int64_t>(units, INT32_MAX));
}

void CallMeter::ResetCall() {
    call_.CallUnits = 0;
    call_.ChConnected[1] = false;
    call_.ChConnected[2] = false;
}

// Keep an unreadable totals file for the user instead of overwriting it at the next call.
void CallMeter::SetAsideBadFile(const LocalTime& now) {
    const std::string aside = dataPath_ + ".bad-" + Stamp(now);
    std::error_code ec;
    std::filesystem::rename(datafile::FsPath(dataPath_), datafile::FsPath(aside), ec);
    if (ec) {
        trace_.Error("dat bad:" + dataPath_ + " (" + ec.message() + ")");
    } else {
        trace_.Error("dat bad:" + dataPath_ + " -> " + aside);
    }
    ports_.view.ShowStatus("累積ファイルが読めません。0から数え直します");
    // Figures the user trusted are gone from the window: said once in a box, with where the
    // old file is.
    if (badFileReported_) return;
    badFileReported_ = true;
    ports_.view.ShowWarning("累積ファイルの内容が正しくないため、0から数え直します" +
                            (ec ? std::string() : "\n元のファイル: " + aside));
}

bool CallMeter::WriteTotalsFile(int dayNumber) {
    const ChargeTotals& t = totals_;
    const TotalsLine line{t.MonthUnits, dayNumber, t.DayUnits, t.PeriodMarker, t.PrevMonthUnits};
    // A temporary file renamed over the old one: a crash never leaves a torn totals file.
    return datafile::ReplaceWhole(dataPath_, totals::FormatTotalsLine(line));
}

// ---- conversions --------------------------------------------------------------------------

int32_t TimeToSecs(const TimeOfDay& t) {
    return t.hour * 3600 + t.minute * 60 + t.second;
}

TimeOfDay TextToTime(const std::string& text) {
    // Each part read as a number: leading digits of its two characters, 0 when there are none.
    auto part = [&](size_t from) {
        int v = 0;
        for (size_t i = from; i < from + 2 && i < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9') break;
            v = v * 10 + (text[i] - '0');
        }
        return v;
    };
    return TimeOfDay{part(0), part(3), part(6)};
}

std::string FormatHms(int32_t seconds) {
    const int64_t h = seconds / 3600;
    const int64_t m = (seconds - 3600 * h) / 60;
    const int64_t s = seconds - 3600 * h - 60 * m;
    const int64_t n = 10000 * h + 100 * m + s;
    std::string digits = std::to_string(n < 0 ? -n : n);
    if (digits.size() < 6) digits.insert(0, 6 - digits.size(), '0');
    const size_t len = digits.size();
    std::string out =
        digits.substr(0, len - 4) + ":" + digits.substr(len - 4, 2) + ":" + digits.substr(len - 2);
    return n < 0 ? "-" + out : out;
}

// ---- roll-over ----------------------------------------------------------------------------

bool CallMeter::RollTotals(const LocalTime& now) {
    ChargeTotals& t = totals_;
    bool rolled = false;
    const Date day = AccountingDay(now);
    if (t.DayOf == Date{}) {
        // Not known yet (nothing read): the figures in memory are today's.
        t.DayOf = day;
    } else if (!(t.DayOf == day)) {
        trace_.Step("RollTotals day");
        t.DayUnits = 0;
        t.DayOf = day;
        rolled = true;
    }
    const Date current = PeriodMarkerFor(now.date);
    if (t.PeriodMarker == Date{}) {
        // A marker never read would move this period's units into the previous one.
        t.PeriodMarker = current;
    } else if (DateToSerial(t.PeriodMarker) < DateToSerial(current)) {
        // Only forwards: a clock set back never brings a closed period back.
        trace_.Step("RollTotals period");
        t.PrevMonthUnits = t.MonthUnits;
        t.MonthUnits = 0;
        t.PeriodMarker = current;
        rolled = true;
    }
    if (rolled) ShowRunningTotal();
    return rolled;
}

void CallMeter::RollTotals() {
    RollTotals(ports_.clock.Now());
}

// ---- records ------------------------------------------------------------------------------

void CallMeter::CntSt(int16_t channel, const std::string& routerConnectTime) {
    if (channel < 1 || channel > 2) return;
    if (call_.ChConnected[channel]) return;
    // One meter: a call on the other channel is closed and logged first, so every unit it
    // charged is in exactly one record.
    const int16_t other = channel == 1 ? 2 : 1;
    if (call_.ChConnected[other]) {
        trace_.Error("CntSt: the meter moves to B" + std::to_string(channel));
        CntEnd(other);
    }
    trace_.Step("CntSt-st");
    if (settings_.winmodec == 0) ports_.view.BringUp();

    CallRecord& c = call_;
    if (!call_.ChConnected[other]) AlignSeconds();
    c.ChConnected[channel] = true;
    const LocalTime now = ports_.clock.Now();
    c.CntStDate = now.date;
    c.CntStTime = now.time;
    c.StartTick = NowSeconds();

    const std::string& text = routerConnectTime;
    Date routerDate;
    TimeOfDay routerTime;
    creditUnits_ = 0;
    if (ParseConnectTime(text, routerDate, routerTime)) {
        c.ConnectAdjust = FoldDay(TimeToSecs(routerTime) - TimeToSecs(c.CntStTime));
        c.ConnectAdjust -= ZoneShift(routerDate, routerTime, -c.ConnectAdjust);
        creditUnits_ = UnitsAlreadyLogged(routerDate, routerTime);
        if (creditUnits_ > 0)
            trace_.Error("CntSt: " + std::to_string(creditUnits_) +
                         " units of this connection are already logged");
    } else {
        // Without a readable connect time the call is metered from the moment it was seen.
        trace_.Error("connect time err:" + text);
        c.ConnectAdjust = 0;
        routerDate = c.CntStDate;
        routerTime = c.CntStTime;
    }

    c.ElapsedSecs = 0;
    c.StartTick += c.ConnectAdjust + line_.ClockOffset();
    c.LastTick = c.StartTick;
    c.NextUnitSecs = 0;
    SetMode(c.CntStDate, c.CntStTime);

    c.CallUnits = 0;
    RollTotals(now);  // the first unit belongs to the day and period in which it begins
    Charge(c.TariffMode);

    // Not while the router is away: the units of that time are charged when it is back.
    if (!suspended_ && !ports_.tmrDSP.Enabled()) ports_.tmrDSP.SetEnabled(true);
    SwitchTimer(ports_.tmrSOHO, settings_.soho2int);

    c.ConnDate = routerDate;
    c.ConnTime = routerTime;
    c.EndDate = c.ConnDate;
    c.EndTime = c.ConnTime;
    c.CallSecs = 0;
    c.LoggedUnits = 0;
    WriteCallLog("Connect");
    ports_.view.ShowCaption("接続 ");
    events_.CallOpened();
    trace_.Step("CntSt-end");
}

void CallMeter::CntEnd(int16_t channel, bool atExit) {
    trace_.Step("CntEnd-st");
    ports_.tmrDSP.SetEnabled(false);
    SwitchTimer(ports_.tmrSOHO, settings_.sohoint);
    if (channel < 1 || channel > 2 || !call_.ChConnected[channel]) return;

    CallRecord& c = call_;
    // A call that ended while the router was away ends when it was last seen. One still up
    // when last seen and the program ends: now, the last moment anyone here can vouch for.
    const bool atLoss = suspended_ && !atExit;
    const LocalTime now = atLoss ? suspendedAt_ : ports_.clock.Now();
    c.EndDate = now.date;
    c.EndTime = now.time;
    if (suspended_) {
        trace_.Error(atExit ? "end not confirmed: the router is away, closed at the exit " +
                                  FormatTime(now.time)
                            : "call ended while the router was away: closed at " +
                                  FormatTime(now.time));
        suspended_ = false;
        ports_.view.ShowLive(true);
    }
    // The units are those whose boundaries lie within the logged duration: one that falls
    // between the last tick and the end is charged, none after it. A call taken over at
    // start-up that ends before its first tick has still run since its real start.
    ChargeDueUnits(atLoss ? suspendedTick_ : NowSeconds());
    c.ChConnected[channel] = false;
    c.CallSecs = c.ElapsedSecs;
    c.LoggedUnits = c.CallUnits;
    WriteCallLog("DisConnect");
    DatFileIO(DatFileMode::Write);
    DatFileIO(DatFileMode::Read);
    ports_.view.ShowCaption("Kestrovan");
    events_.CallClosed();
    trace_.Step("CntEnd-end");
}

// ---- files --------------------------------------------------------------------------------

void CallMeter::WriteCallLog(const std::string& event) {
    const CallRecord& c = call_;
    const std::string adjust = std::to_string(c.ConnectAdjust);
    const std::string offset = std::to_string(line_.ClockOffset());
    const std::string hms = Quote(FormatHms(c.CallSecs));
    std::string text;
    if (event == "Connect") {
        text = Quote("Connect") + "," + Quote(FormatDate(c.ConnDate)) + "," +
               Quote(FormatTime(c.ConnTime)) + "," + adjust + "," + offset + "\r\n";
    } else if (event == "DisConnect") {
        const std::string tail = hms + "," + std::to_string(c.CallSecs) + "," +
                                 std::to_string(c.LoggedUnits) + "," + adjust + "," + offset +
                                 "\r\n";
        text = Quote("DisConnect") + "," + Quote(FormatDate(c.EndDate)) + "," +
               Quote(FormatTime(c.EndTime)) + "," + tail;
        text += Quote("Tel") + "," + Quote(FormatDate(c.ConnDate)) + "," +
                Quote(FormatTime(c.ConnTime)) + "," + Quote(FormatDate(c.EndDate)) + "," +
                Quote(FormatTime(c.EndTime)) + "," + tail;
    } else {
        return;
    }
    const std::string bytes = cp932::EncodeFromUtf8(text);
    // Opened per write, so the log is complete after each line and created on the first one.
    // Whole lines only: what a full disk cut short is taken back, and a line torn earlier gets
    // its end before the next. A log that cannot be written never stops the metering.
    bool repaired = false;
    if (!datafile::AppendWhole(logPath_, bytes, /*endLinesFirst=*/true, &repaired)) {
        ReportFileError("log err:", logPath_, "通話記録に書き込めません: " + logPath_);
        return;
    }
    if (repaired) trace_.Error("log err:" + logPath_ + " ended in a torn line; its line end added");
}

void CallMeter::DatFileIO(DatFileMode mode) {
    const LocalTime now = ports_.clock.Now();
    const int dayNumber = DayNumber(now);
    ChargeTotals& t = totals_;

    if (mode == DatFileMode::Write) {
        // The day number written must be the day the stored DayUnits belong to. Also never
        // stores the zero date when written before any read.
        RollTotals(now);
        // A file that could not be read is never replaced: the figures it holds would be lost.
        if (totalsKept_) return;
        t.FileStale = !WriteTotalsFile(dayNumber);
        if (t.FileStale)
            ReportFileError("dat err:", dataPath_, "累積ファイルに書き込めません: " + dataPath_);
        return;
    }

    TotalsLine line;
    // After a failed write the file is older than the figures in memory: reading it back would
    // lose the calls since. One that could not be read stays out of the way.
    const ReadResult read =
        t.FileStale || totalsKept_ ? ReadResult::Missing : ReadTotalsFile(dataPath_, line);
    switch (read) {
        case ReadResult::Ok:
            t.MonthUnits = line.monthUnits;
            t.DayUnits = line.dayUnits;
            t.PrevMonthUnits = line.prevMonthUnits;
            t.PeriodMarker = line.marker;
            // A marker after today (a clock once set ahead) is no period of this calendar: the
            // figures are taken as this period's rather than reset at every read.
            if (DateToSerial(line.marker) > DateToSerial(now.date)) {
                trace_.Error("dat marker in the future:" + FormatDate(line.marker));
                t.PeriodMarker = PeriodMarkerFor(AccountingDay(now));
                line.marker = t.PeriodMarker;
            }
            // The file knows only the day of the month its DayUnits were counted on; the same
            // day number in another period (a start a month later) is another day. Around a
            // period that begins at midnight the accounting day still belongs to the period
            // of the day before until 05:00, so either period counts as the same.
            if (!SameAccountingDay(line.dayNumber, line.marker, settings_.telstday, now) ||
                (!(line.marker == Date{}) && !(line.marker == PeriodMarkerFor(now.date)) &&
                 !(line.marker == PeriodMarkerFor(AccountingDay(now)))))
                t.DayUnits = 0;
            t.DayOf = AccountingDay(now);
            break;
        case ReadResult::Unreadable:
            // Not garbage, only out of reach: it stays where it is and is not written this run;
            // the meter goes on in memory and in the log.
            totalsKept_ = true;
            ReportFileError("dat err:", dataPath_, "累積ファイルが読めません: " + dataPath_);
            ports_.view.ShowWarning("累積ファイルが読めないため、書き換えずに残します: " +
                                    dataPath_);
            break;
        case ReadResult::Bad: SetAsideBadFile(now); break;
        case ReadResult::Missing: break;
    }
    // Without a file the figures in memory go on (zero at start-up), rolled like the file's.
    RollTotals(now);
}

}  // namespace kv
