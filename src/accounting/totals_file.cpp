// SPDX-License-Identifier: GPL-3.0-or-later
#include "accounting/totals_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>

#include "common/cp932.h"
#include "common/data_file.h"

namespace kv::totals {

namespace {

std::string Trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    const size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

}  // namespace

// Day of the month, minus one before 05:00: the accounting day starts at 05:00.
int DayNumber(const LocalTime& now) {
    return now.date.day - (now.time.hour < 5 ? 1 : 0);
}

// The date on which the accounting day containing `now` began at 05:00.
Date AccountingDay(const LocalTime& now) {
    return SerialToDate(DateToSerial(now.date) - (now.time.hour < 5 ? 1 : 0));
}

// The accounting day began at 05:00 on its date and ends at 05:00 on the next: a file written
// in it was written on one of the two, and holds that date's day number and period marker.
// The day number alone repeats every month (and 0 of the 1st matches no day at all).
bool SameAccountingDay(int fileDay, const Date& marker, int16_t telstday, const LocalTime& now) {
    const Date day = AccountingDay(now);
    const Date next = SerialToDate(DateToSerial(day) + 1);
    const auto writtenOn = [&](const Date& date, int dayNumber) {
        return fileDay == dayNumber && (marker == Date{} || marker == PeriodMarker(telstday, date));
    };
    return writtenOn(day, day.day) || writtenOn(next, next.day - 1);
}

std::string Stamp(const LocalTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", t.date.year, t.date.month,
                  t.date.day, t.time.hour, t.time.minute, t.time.second);
    return buf;
}

Date PeriodMarker(int16_t telstday, const Date& today) {
    // A start day beyond the month's days would put the period's start after today.
    const int s = std::min<int>(telstday, 31);
    if (s <= today.day) return MakeDate(today.year, today.month, s - 1);
    return MakeDate(today.year, today.month - 1, s - 1);
}

std::string FormatTotalsLine(const TotalsLine& t) {
    return std::to_string(t.monthUnits) + "," + std::to_string(t.dayNumber) + "," +
           std::to_string(t.dayUnits) + ",\"" + FormatDate(t.marker) + "\"," +
           std::to_string(t.prevMonthUnits) + "\r\n";
}

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

// Any whole number the writer can print, and the negative counts an older installation's
// overflowed figures left; beyond 32 bits it saturates rather than wraps.
bool ParseCount(const std::string& text, int32_t& out) {
    const std::string s = Trim(text);
    size_t i = s.size() > 0 && (s[0] == '-' || s[0] == '+') ? 1 : 0;
    if (i == s.size()) return false;
    int64_t v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        if (v <= INT32_MAX) v = v * 10 + (s[i] - '0');
    }
    if (s[0] == '-') v = -v;
    out = static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
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
    const auto count = [](const std::string& text, int32_t& n) {
        return ParseCount(text, n) && n >= 0 && n <= kMaxCount;
    };
    return count(v[0], out.monthUnits) && ParseCount(v[1], out.dayNumber) && out.dayNumber >= 0 &&
           out.dayNumber <= 31 && count(v[2], out.dayUnits) && ParseFileDate(v[3], out.marker) &&
           count(v[4], out.prevMonthUnits);
}

ReadResult ReadTotalsFile(const std::string& path, TotalsLine& out) {
    std::string bytes;
    switch (datafile::ReadAll(path, bytes)) {
        case datafile::ReadResult::Missing: return ReadResult::Missing;
        case datafile::ReadResult::Ok: break;
        // Not a regular file (a link, a FIFO): as good as unreadable, and left as it is.
        case datafile::ReadResult::NotAFile: errno = EINVAL; return ReadResult::Unreadable;
        case datafile::ReadResult::Unreadable: return ReadResult::Unreadable;
    }
    return ParseTotals(bytes, out) ? ReadResult::Ok : ReadResult::Bad;
}

}  // namespace kv::totals
