// Connection records, the call log and the totals file.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "accounting/accounting.h"
#include "app/runner.h"
#include "app/trace.h"
#include "common/cp932.h"
#include "link/link.h"

namespace kv {

namespace {

LocalTime Now(const Context& cx) {
    return cx.ports.clock->Now();
}

void SwitchTimer(Timer* timer, int intervalMs) {
    if (!timer) return;
    timer->SetEnabled(false);
    timer->SetInterval(intervalMs);
    timer->SetEnabled(true);
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

// Day of the month, minus one before 05:00: the accounting day starts at 05:00.
int DayNumber(const LocalTime& now) {
    return now.date.day - (now.time.hour < 5 ? 1 : 0);
}

// The date on which the accounting day containing `now` began at 05:00.
Date AccountingDay(const LocalTime& now) {
    return SerialToDate(DateToSerial(now.date) - (now.time.hour < 5 ? 1 : 0));
}

Date PeriodMarkerFor(const Context& cx, const Date& today) {
    const int s = cx.settings.telstday;
    if (s <= today.day) return MakeDate(today.year, today.month, s - 1);
    return MakeDate(today.year, today.month - 1, s - 1);
}

std::string Stamp(const LocalTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", t.date.year, t.date.month,
                  t.date.day, t.time.hour, t.time.minute, t.time.second);
    return buf;
}

void ReportFileError(Context& cx, const std::string& tag, const std::string& path,
                     const std::string& userText) {
    WriteTrace(cx, 3, tag + path + " " + std::strerror(errno));
    SetStatusText(cx, userText);
}

// ---- totals file ------------------------------------------------------------------------

struct TotalsLine {
    int32_t monthUnits = 0;
    int32_t dayNumber = 0;
    int32_t dayUnits = 0;
    Date marker;
    int32_t prevMonthUnits = 0;
};

std::vector<std::string> SplitValues(const std::string& line) {
    std::vector<std::string> values;
    std::string cur;
    bool quoted = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            values.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    values.push_back(cur);
    return values;
}

std::string Trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    const size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

bool ParseCount(const std::string& text, int32_t& out) {
    const std::string s = Trim(text);
    if (s.empty() || s.size() > 9) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    out = static_cast<int32_t>(std::strtol(s.c_str(), nullptr, 10));
    return true;
}

bool ParseFileDate(const std::string& text, Date& out) {
    const std::string s = Trim(text);
    const size_t a = s.find('/');
    const size_t b = a == std::string::npos ? a : s.find('/', a + 1);
    if (b == std::string::npos) return false;
    int32_t y = 0, m = 0, d = 0;
    if (!ParseCount(s.substr(0, a), y) || !ParseCount(s.substr(a + 1, b - a - 1), m) ||
        !ParseCount(s.substr(b + 1), d))
        return false;
    if (y < 1899 || y > 9999 || !IsValidDate(y, m, d)) return false;
    out = Date{y, m, d};
    return true;
}

// The written style: exactly five values on the first line.
bool ParseTotals(const std::string& bytes, TotalsLine& out) {
    std::string line = bytes.substr(0, bytes.find_first_of("\r\n"));
    const std::vector<std::string> v = SplitValues(cp932::DecodeToUtf8(line));
    if (v.size() != 5) return false;
    return ParseCount(v[0], out.monthUnits) && ParseCount(v[1], out.dayNumber) &&
           out.dayNumber <= 31 && ParseCount(v[2], out.dayUnits) &&
           ParseFileDate(v[3], out.marker) && ParseCount(v[4], out.prevMonthUnits);
}

enum class ReadResult { Missing, Unreadable, Bad, Ok };

ReadResult ReadTotalsFile(Context& cx, TotalsLine& out) {
    std::error_code ec;
    if (!std::filesystem::exists(cx.DataPath, ec)) return ReadResult::Missing;
    std::ifstream f(cx.DataPath, std::ios::binary);
    if (!f) return ReadResult::Unreadable;
    std::stringstream ss;
    ss << f.rdbuf();
    return ParseTotals(ss.str(), out) ? ReadResult::Ok : ReadResult::Bad;
}

// Keep an unreadable totals file for the user instead of overwriting it at the next call.
void SetAsideBadFile(Context& cx, const LocalTime& now) {
    const std::string aside = cx.DataPath + ".bad-" + Stamp(now);
    std::error_code ec;
    std::filesystem::rename(cx.DataPath, aside, ec);
    if (ec) {
        WriteTrace(cx, 3, "dat bad:" + cx.DataPath + " (" + ec.message() + ")");
    } else {
        WriteTrace(cx, 3, "dat bad:" + cx.DataPath + " -> " + aside);
    }
    SetStatusText(cx, "累積ファイルが読めません。0から数え直します");
}

bool WriteTotalsFile(Context& cx, int dayNumber) {
    const ChargeTotals& t = cx.totals;
    const std::string line = std::to_string(t.MonthUnits) + "," + std::to_string(dayNumber) + "," +
                             std::to_string(t.DayUnits) + "," + Quote(FormatDate(t.PeriodMarker)) +
                             "," + std::to_string(t.PrevMonthUnits) + "\r\n";
    const std::string bytes = cp932::EncodeFromUtf8(line);
    // A temporary file renamed over the old one: a crash never leaves a torn totals file.
    const std::string temp = cx.DataPath + ".tmp";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fflush(f) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    if (ok) {
        std::error_code ec;
        std::filesystem::rename(temp, cx.DataPath, ec);
        if (ec) errno = ec.value();
        ok = !ec;
    }
    if (!ok) {
        const int saved = errno;
        std::remove(temp.c_str());
        errno = saved;
    }
    return ok;
}

}  // namespace

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

bool RollTotals(Context& cx, const LocalTime& now) {
    ChargeTotals& t = cx.totals;
    bool rolled = false;
    const Date day = AccountingDay(now);
    if (t.DayOf == Date{}) {
        // Not known yet (nothing read): the figures in memory are today's.
        t.DayOf = day;
    } else if (!(t.DayOf == day)) {
        WriteTrace(cx, 4, "RollTotals day");
        t.DayUnits = 0;
        t.DayOf = day;
        rolled = true;
    }
    const Date current = PeriodMarkerFor(cx, now.date);
    if (t.PeriodMarker == Date{}) {
        // A marker never read would move this period's units into the previous one.
        t.PeriodMarker = current;
    } else if (DateToSerial(t.PeriodMarker) < DateToSerial(current)) {
        // Only forwards: a clock set back never brings a closed period back.
        WriteTrace(cx, 4, "RollTotals period");
        t.PrevMonthUnits = t.MonthUnits;
        t.MonthUnits = 0;
        t.PeriodMarker = current;
        rolled = true;
    }
    if (rolled) ShowRunningTotal(cx);
    return rolled;
}

void RollTotals(Context& cx) {
    RollTotals(cx, Now(cx));
}

// ---- records ------------------------------------------------------------------------------

void CntSt(Context& cx, int16_t channel) {
    if (channel < 1 || channel > 2) return;
    if (cx.call.ChConnected[channel] == 1) return;
    WriteTrace(cx, 4, "CntSt-st");
    if (cx.settings.winmodec == 0 && cx.ports.view) cx.ports.view->ShowMainWindow(true);

    CallRecord& c = cx.call;
    c.ChConnected[channel] = 1;
    const LocalTime now = Now(cx);
    c.CntStDate = now.date;
    c.CntStTime = now.time;
    c.StartTick = NowSeconds(cx);

    const std::string& text = cx.status.ChannelStatus[channel].ConnectTime;
    Date routerDate;
    TimeOfDay routerTime;
    if (ParseConnectTime(text, routerDate, routerTime)) {
        c.ConnectAdjust = FoldDay(TimeToSecs(routerTime) - TimeToSecs(c.CntStTime));
    } else {
        // Without a readable connect time the call is metered from the moment it was seen.
        WriteTrace(cx, 3, "connect time err:" + text);
        c.ConnectAdjust = 0;
        routerDate = c.CntStDate;
        routerTime = c.CntStTime;
    }

    c.ElapsedSecs = 0;
    c.StartTick += c.ConnectAdjust + cx.link.ClockOffset;
    c.LastTick = c.StartTick;
    c.NextUnitSecs = 0;
    SetMode(cx, c.CntStDate, c.CntStTime);

    c.CallUnits = 0;
    RollTotals(cx, now);  // the first unit belongs to the day and period in which it begins
    if (c.TariffMode < 3 || cx.settings.teleho == 0) {
        c.CallUnits = 1;
        cx.totals.DayUnits += 1;
        cx.totals.MonthUnits += 1;
    }
    if (cx.ports.pump) cx.ports.pump->PumpOnce();

    if (cx.ports.tmrDSP && !cx.ports.tmrDSP->Enabled()) cx.ports.tmrDSP->SetEnabled(true);
    SwitchTimer(cx.ports.tmrSOHO, cx.settings.soho2int);

    c.ConnDate = routerDate;
    c.ConnTime = routerTime;
    c.EndDate = c.ConnDate;
    c.EndTime = c.ConnTime;
    c.CallSecs = 0;
    c.LoggedUnits = 0;
    WriteCallLog(cx, "Connect");
    if (cx.ports.view) cx.ports.view->SetWindowCaption("接続 ");

    for (int16_t slot = 0; slot <= 2; ++slot) {
        if (cx.settings.runenab[slot] == 1 && cx.runner.Running[slot] == 0)
            RunExe(cx, 0, slot, cx.settings.runid[slot]);
    }
    WriteTrace(cx, 4, "CntSt-end");
}

void CntEnd(Context& cx, int16_t channel) {
    WriteTrace(cx, 4, "CntEnd-st");
    if (cx.ports.tmrDSP) cx.ports.tmrDSP->SetEnabled(false);
    SwitchTimer(cx.ports.tmrSOHO, cx.settings.sohoint);
    if (channel < 1 || channel > 2 || cx.call.ChConnected[channel] == 0) return;

    CallRecord& c = cx.call;
    c.ChConnected[channel] = 0;
    const LocalTime now = Now(cx);
    c.EndDate = now.date;
    c.EndTime = now.time;
    // The elapsed time is brought up to date by the display tick; a call that ends before
    // its first tick (one taken over at start-up is seconds or hours old) has still run since
    // its real start.
    c.CallSecs = std::max(c.ElapsedSecs, NowSeconds(cx) - c.StartTick);
    c.LoggedUnits = c.CallUnits;
    WriteCallLog(cx, "DisConnect");
    DatFileIO(cx, 2);
    DatFileIO(cx, 1);
    if (cx.ports.view) cx.ports.view->SetWindowCaption("Kestrovan");

    for (int16_t slot = 0; slot <= 2; ++slot) {
        if (cx.settings.runstop[slot] == 1 && cx.runner.Running[slot] == 1)
            RunExe(cx, 1, slot, cx.settings.runid[slot]);
    }
    if (cx.settings.runenab[3] == 1 && cx.runner.Running[3] == 0)
        RunExe(cx, 0, 3, cx.settings.runid[3]);
    if (cx.settings.winmodedc == 0) ArmDelayedAction(cx, 2, 5000);
    WriteTrace(cx, 4, "CntEnd-end");
}

// ---- files --------------------------------------------------------------------------------

void WriteCallLog(Context& cx, const std::string& event) {
    const CallRecord& c = cx.call;
    const std::string adjust = std::to_string(c.ConnectAdjust);
    const std::string offset = std::to_string(cx.link.ClockOffset);
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
    // A log that cannot be written never stops the metering.
    std::FILE* f = std::fopen(cx.LogPath.c_str(), "ab");
    bool ok = f != nullptr;
    if (f) {
        ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        ok = std::fclose(f) == 0 && ok;
    }
    if (!ok) ReportFileError(cx, "log err:", cx.LogPath, "通話記録に書き込めません: " + cx.LogPath);
}

void DatFileIO(Context& cx, int16_t mode) {
    const LocalTime now = Now(cx);
    const int dayNumber = DayNumber(now);
    ChargeTotals& t = cx.totals;

    if (mode == 2) {
        // The day number written must be the day the stored DayUnits belong to. Also never
        // stores the zero date when written before any read.
        RollTotals(cx, now);
        t.FileStale = !WriteTotalsFile(cx, dayNumber);
        if (t.FileStale)
            ReportFileError(cx, "dat err:", cx.DataPath,
                            "累積ファイルに書き込めません: " + cx.DataPath);
        return;
    }
    if (mode != 1) return;

    TotalsLine line;
    // After a failed write the file is older than the figures in memory: reading it back would
    // lose the calls since.
    const ReadResult read = t.FileStale ? ReadResult::Missing : ReadTotalsFile(cx, line);
    switch (read) {
        case ReadResult::Ok:
            t.MonthUnits = line.monthUnits;
            t.DayUnits = line.dayUnits;
            t.PrevMonthUnits = line.prevMonthUnits;
            t.PeriodMarker = line.marker;
            // The file knows only the day of the month its DayUnits were counted on; the same
            // day number in another period (a start a month later) is another day. Around a
            // period that begins at midnight the accounting day still belongs to the period
            // of the day before until 05:00, so either period counts as the same.
            if (dayNumber != line.dayNumber ||
                (!(line.marker == Date{}) && !(line.marker == PeriodMarkerFor(cx, now.date)) &&
                 !(line.marker == PeriodMarkerFor(cx, AccountingDay(now)))))
                t.DayUnits = 0;
            t.DayOf = AccountingDay(now);
            break;
        case ReadResult::Unreadable:
            // Not garbage, only out of reach: it stays where it is.
            ReportFileError(cx, "dat err:", cx.DataPath,
                            "累積ファイルが読めません: " + cx.DataPath);
            break;
        case ReadResult::Bad:
            SetAsideBadFile(cx, now);
            break;
        case ReadResult::Missing:
            break;
    }
    // Without a file the figures in memory go on (zero at start-up), rolled like the file's.
    RollTotals(cx, now);
}

}  // namespace kv
