// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Calendar arithmetic on plain dates, with the roll-over rules the accounting relies on.
#include <cstdint>
#include <string>
#include <vector>

namespace kv {

struct Date {
    int year = 1899;
    int month = 12;
    int day = 30;  // the zero date: serial 0
    friend bool operator==(const Date&, const Date&) = default;
};

// Days since 1899-12-30 (serial 0), so dates compare and subtract as numbers.
int32_t DateToSerial(const Date& d);
Date SerialToDate(int32_t serial);
// Out-of-range month and day roll over: day 0 is the last day of the previous month,
// month 0 is December of the previous year, (2026, 2, 30) is 2026-03-02.
Date MakeDate(int year, int month, int day);
// 1 = Sunday ... 7 = Saturday.
int Weekday(const Date& d);
bool IsValidDate(int year, int month, int day);
int DaysInMonth(int year, int month);

struct TimeOfDay {
    int hour = 0;
    int minute = 0;
    int second = 0;
    int32_t Seconds() const { return hour * 3600 + minute * 60 + second; }
    static TimeOfDay FromSeconds(int32_t secs);  // folded into 0..86399
    friend bool operator==(const TimeOfDay&, const TimeOfDay&) = default;
};

struct LocalTime {
    Date date;
    TimeOfDay time;
};

// From the C library's zone (TZ): the offsets (local less UTC, seconds) the local time `t`
// can have, and the offset at a UTC instant.
std::vector<int32_t> ZoneOffsetsAt(const LocalTime& t);
int32_t ZoneOffsetAtUtc(int64_t utcSecs);

std::string FormatDate(const Date& d);       // "yyyy/mm/dd"
std::string FormatTime(const TimeOfDay& t);  // "hh:mm:ss"
std::string FormatYymmdd(const Date& d);     // "yymmdd"

}  // namespace kv
