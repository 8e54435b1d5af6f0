// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/datetime.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace kv {
namespace {
// Howard Hinnant's days-from-civil, shifted so 1899-12-30 is day 0.
constexpr int32_t kEpochShift = 25569;  // days from 1899-12-30 to 1970-01-01

int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}
int64_t LocalFieldsAsUtc(const tm& t) {
    return DaysFromCivil(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday) * 86400 + t.tm_hour * 3600 +
           t.tm_min * 60 + t.tm_sec;
}

bool LocalAt(time_t utc, tm& out) {
#ifdef _WIN32
    return localtime_s(&out, &utc) == 0;
#else
    return localtime_r(&utc, &out) != nullptr;
#endif
}

}  // namespace

std::vector<int32_t> ZoneOffsetsAt(const LocalTime& t) {
    std::vector<int32_t> offsets;
    // Read once as standard time and once as summer time; a reading whose instant shows other
    // fields does not exist (the skipped hour, or no summer time that day).
    for (int dst : {0, 1}) {
        tm want{};
        want.tm_year = t.date.year - 1900;
        want.tm_mon = t.date.month - 1;
        want.tm_mday = t.date.day;
        want.tm_hour = t.time.hour;
        want.tm_min = t.time.minute;
        want.tm_sec = t.time.second;
        want.tm_isdst = dst;
        tm probe = want;
        const time_t utc = std::mktime(&probe);
        tm back{};
        if (utc == static_cast<time_t>(-1) || !LocalAt(utc, back)) continue;
        if (back.tm_year != want.tm_year || back.tm_mon != want.tm_mon ||
            back.tm_mday != want.tm_mday || back.tm_hour != want.tm_hour ||
            back.tm_min != want.tm_min || back.tm_sec != want.tm_sec)
            continue;
        const auto offset = static_cast<int32_t>(LocalFieldsAsUtc(want) - utc);
        if (std::find(offsets.begin(), offsets.end(), offset) == offsets.end())
            offsets.push_back(offset);
    }
    return offsets;
}

int32_t ZoneOffsetAtUtc(int64_t utcSecs) {
    tm local{};
    if (!LocalAt(static_cast<time_t>(utcSecs), local)) return 0;
    return static_cast<int32_t>(LocalFieldsAsUtc(local) - utcSecs);
}

int32_t DateToSerial(const Date& d) {
    return static_cast<int32_t>(DaysFromCivil(d.year, d.month, d.day) + kEpochShift);
}

Date SerialToDate(int32_t serial) {
    int64_t z = static_cast<int64_t>(serial) - kEpochShift + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = yoe + era * 400;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp + (mp < 10 ? 3 : -9);
    return Date{static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

Date MakeDate(int year, int month, int day) {
    int64_t m0 = static_cast<int64_t>(month) - 1;
    int64_t y = year + (m0 >= 0 ? m0 / 12 : (m0 - 11) / 12);
    m0 = ((m0 % 12) + 12) % 12;
    const int64_t first = DaysFromCivil(y, m0 + 1, 1) + kEpochShift;
    return SerialToDate(static_cast<int32_t>(first + day - 1));
}

int Weekday(const Date& d) {
    // Serial 0 (1899-12-30) was a Saturday (7).
    const int32_t s = DateToSerial(d);
    return static_cast<int>(((s % 7) + 7 + 6) % 7) + 1;
}

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) return 29;
    return kDays[month - 1];
}

bool IsValidDate(int year, int month, int day) {
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
           day <= DaysInMonth(year, month);
}

TimeOfDay TimeOfDay::FromSeconds(int32_t secs) {
    secs = ((secs % 86400) + 86400) % 86400;
    return TimeOfDay{secs / 3600, (secs / 60) % 60, secs % 60};
}

std::string FormatDate(const Date& d) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", d.year, d.month, d.day);
    return buf;
}

std::string FormatTime(const TimeOfDay& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return buf;
}

std::string FormatYymmdd(const Date& d) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d%02d%02d", ((d.year % 100) + 100) % 100, d.month, d.day);
    return buf;
}

}  // namespace kv
