#include "accounting/totals_check.h"

#include <cerrno>
#include <map>
#include <sstream>
#include <utility>

#include "accounting/call_meter.h"
#include "accounting/tariff.h"
#include "common/cp932.h"
#include "common/data_file.h"

namespace kv {

namespace {

using totals::AccountingDay;
using totals::ParseCount;
using totals::PeriodMarker;
using totals::SplitValues;

bool ParseDate(const std::string& text, Date& out) {
    int y = 0, m = 0, d = 0;
    char a = 0, b = 0;
    std::istringstream in(text);
    if (!(in >> y >> a >> m >> b >> d) || a != '/' || b != '/' || !IsValidDate(y, m, d))
        return false;
    out = Date{y, m, d};
    return true;
}

bool ParseTime(const std::string& text, TimeOfDay& out) {
    if (text.size() != 8 || text[2] != ':' || text[5] != ':') return false;
    out = TextToTime(text);
    return out.hour < 24 && out.minute < 60 && out.second < 60;
}

LocalTime AddSeconds(const LocalTime& t, int64_t secs) {
    int64_t s = t.time.Seconds() + secs;
    const int64_t day = s >= 0 ? s / 86400 : -((-s + 86399) / 86400);
    s -= day * 86400;
    return LocalTime{SerialToDate(static_cast<int32_t>(DateToSerial(t.date) + day)),
                     TimeOfDay::FromSeconds(static_cast<int32_t>(s))};
}

int64_t Serial(const LocalTime& t) {
    return int64_t{DateToSerial(t.date)} * 86400 + t.time.Seconds();
}

}  // namespace

TotalsCheck CheckTotals(const std::string& logPath, const std::string& dataPath,
                        const Settings& settings, const LocalTime& now) {
    TotalsCheck check;
    const Date today = AccountingDay(now);
    const Date current = PeriodMarker(settings.telstday, now.date);
    const Date previous = PeriodMarker(settings.telstday, current);

    std::string log;
    datafile::ReadAll(logPath, log);
    // Where each connection's units go on: a connection logged in two records (a restart)
    // continues where the first left off.
    std::map<std::pair<int32_t, int32_t>, std::pair<LocalTime, int64_t>> resume;
    std::istringstream lines(log);
    for (std::string raw; std::getline(lines, raw);) {
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        if (raw.empty()) continue;
        const std::vector<std::string> v = SplitValues(cp932::DecodeToUtf8(raw));
        if (v[0] == "Connect") check.callOpen = true;
        if (v[0] == "Connect" || v[0] == "DisConnect") continue;
        Date connDate, endDate;
        TimeOfDay connTime, endTime;
        int32_t secs = 0, units = 0, adjust = 0, offset = 0;
        if (v[0] != "Tel" || v.size() != 10 || !ParseDate(v[1], connDate) ||
            !ParseTime(v[2], connTime) || !ParseDate(v[3], endDate) || !ParseTime(v[4], endTime) ||
            !ParseCount(v[6], secs) || !ParseCount(v[7], units) || !ParseCount(v[8], adjust) ||
            !ParseCount(v[9], offset) || units < 0) {
            ++check.unreadLines;
            continue;
        }
        ++check.calls;
        check.callOpen = false;
        // As the meter counts: the first unit by the tariff of the moment the call was seen
        // (the router's connect time less the adjustment), the units one after another from
        // the connect instant on the computer's clock (the router's plus the offset), each by
        // the tariff of the moment it begins; the uncharged ones are passed over.
        const auto key = std::make_pair(DateToSerial(connDate), connTime.Seconds());
        LocalTime t = AddSeconds({connDate, connTime}, offset);
        const LocalTime seen = AddSeconds({connDate, connTime}, -int64_t{adjust});
        const LocalTime end{endDate, endTime};
        bool first = true;
        if (auto it = resume.find(key); it != resume.end()) {
            t = it->second.first;
            first = false;
        }
        int64_t counted = 0, guard = 0;
        while (counted < units && guard++ < 1000000) {
            const LocalTime bandAt = first ? seen : t;
            const Tariff tariff = TariffAt(settings, bandAt.date, bandAt.time);
            const bool charged = ChargedWithFlatRateService(tariff.mode) || settings.teleho == 0;
            // Units the log holds beyond the call's end fall at its end.
            const LocalTime at = first ? seen : Serial(t) > Serial(end) ? end : t;
            first = false;
            if (charged) {
                ++counted;
                if (AccountingDay(at) == today) ++check.fromLog.day;
                const Date period = PeriodMarker(settings.telstday, at.date);
                if (period == current) ++check.fromLog.month;
                if (period == previous) ++check.fromLog.previous;
            }
            if (tariff.unitSecs <= 0) break;
            t = AddSeconds(t, tariff.unitSecs);
        }
        resume[key] = {t, counted};
    }

    totals::TotalsLine file;
    switch (totals::ReadTotalsFile(dataPath, file)) {
        case totals::ReadResult::Ok:
            check.fromFile =
                TotalsFigures{totals::SameAccountingDay(file.dayNumber, now) ? file.dayUnits : 0,
                              file.marker == current    ? file.monthUnits
                              : file.marker == previous ? 0
                                                        : file.monthUnits,
                              file.marker == current    ? file.prevMonthUnits
                              : file.marker == previous ? file.monthUnits
                                                        : file.prevMonthUnits};
            break;
        // The meter starts from nothing then, and so does the comparison.
        case totals::ReadResult::Missing:
            check.fromFile = TotalsFigures{};
            check.fileTrouble = "ありません";
            break;
        case totals::ReadResult::Unreadable: check.fileTrouble = "読めません"; break;
        case totals::ReadResult::Bad: check.fileTrouble = "形式が違います"; break;
    }
    auto clamp = [](int64_t n) { return static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX)); };
    check.rebuilt =
        totals::TotalsLine{clamp(check.fromLog.month), totals::DayNumber(now),
                           clamp(check.fromLog.day), current, clamp(check.fromLog.previous)};
    return check;
}

namespace {

// Columns as a terminal shows them: the program's texts are all full-width.
std::string PadLeft(const std::string& text, size_t width) {
    return std::string(text.size() < width ? width - text.size() : 0, ' ') + text;
}

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace

std::string FormatTotalsCheck(const TotalsCheck& check, const std::string& logPath,
                              const std::string& dataPath, CheckTextStyle style) {
    const bool html = style == CheckTextStyle::Html;
    const std::string dataLine = "累積ファイル: " + dataPath +
                                 (check.fileTrouble.empty() ? "" : " (" + check.fileTrouble + ")");
    std::string logLine = "通話記録: " + logPath + " (通話 " + std::to_string(check.calls) + " 件";
    if (check.unreadLines > 0) logLine += ", 読めない行 " + std::to_string(check.unreadLines);
    logLine += ")";
    const std::pair<const char*, int64_t TotalsFigures::*> rows[] = {
        {"当日累積", &TotalsFigures::day},
        {"当月累積", &TotalsFigures::month},
        {"先月累積", &TotalsFigures::previous}};
    auto fileFigure = [&](int64_t TotalsFigures::*field) {
        return check.fromFile ? std::to_string((*check.fromFile).*field) : std::string("-");
    };
    std::string verdict = check.Agrees() ? "一致しています" : "一致しません";
    const std::string open = check.callOpen ? "記録中の通話は通話の終わりに数えます" : "";

    if (html) {
        std::string out = "<div>" + Escape(dataLine) + "<br>" + Escape(logLine) +
                          "<table cellspacing=\"0\" cellpadding=\"1\"><tr><td></td>"
                          "<td align=\"right\">&nbsp;&nbsp;累積ファイル</td>"
                          "<td align=\"right\">&nbsp;&nbsp;通話記録から</td></tr>";
        for (const auto& [name, field] : rows)
            out += std::string("<tr><td>") + name + "</td><td align=\"right\">" +
                   fileFigure(field) + "</td><td align=\"right\">" +
                   std::to_string(check.fromLog.*field) + "</td></tr>";
        out += "</table>" + verdict;
        if (!open.empty()) out += "<br>" + open;
        return out + "</div>";
    }
    // Eight columns of label, then two right-aligned figures of twelve under their headings.
    std::string out = dataLine + "\n" + logLine + "\n" + "          累積ファイル  通話記録から\n";
    for (const auto& [name, field] : rows)
        out += std::string(name) + "  " + PadLeft(fileFigure(field), 12) + "  " +
               PadLeft(std::to_string(check.fromLog.*field), 12) + "\n";
    out += verdict + "\n";
    if (!open.empty()) out += open + "\n";
    return out;
}

bool RepairTotals(const TotalsCheck& check, const std::string& dataPath, const LocalTime& now,
                  std::string* kept) {
    std::string old;
    if (datafile::ReadAll(dataPath, old) == datafile::ReadResult::Ok) {
        const std::string backup = dataPath + ".bak-" + totals::Stamp(now);
        if (!datafile::ReplaceWhole(backup, old)) return false;
        if (kept) *kept = backup;
    }
    return datafile::ReplaceWhole(dataPath, totals::FormatTotalsLine(check.rebuilt));
}

}  // namespace kv
