// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The totals file Kestrovan.dat and the accounting calendar it is kept by: the day from 05:00,
// the period from the month start day. Shared by the meter and the totals check.
#include <cstdint>
#include <string>
#include <vector>

#include "common/datetime.h"

namespace kv::totals {

// The most units a figure of the file holds: nine digits.
inline constexpr int32_t kMaxCount = 999999999;

// Day of the month, minus one before 05:00: the accounting day starts at 05:00.
int DayNumber(const LocalTime& now);
// The date on which the accounting day containing `now` began at 05:00.
Date AccountingDay(const LocalTime& now);
// A file's day number and period marker against now: written in the accounting day now is
// in (day 0 is the last day of the month before, as the file holds it early on the 1st). A
// zero marker (a file without one) is taken to be of any period.
bool SameAccountingDay(int fileDay, const Date& marker, int16_t telstday, const LocalTime& now);
// The period marker for a day: the day before the period's start day.
Date PeriodMarker(int16_t telstday, const Date& today);
// "yyyymmddhhmmss", for the names of files set aside.
std::string Stamp(const LocalTime& t);

// One line: month units, day number, day units, "period marker", previous month units.
struct TotalsLine {
    int32_t monthUnits = 0;
    int32_t dayNumber = 0;
    int32_t dayUnits = 0;
    Date marker;
    int32_t prevMonthUnits = 0;
};
std::string FormatTotalsLine(const TotalsLine& t);  // with its CR LF, UTF-8 (ASCII)
// The written style: exactly five values on the first line; counts of 0 to 999999999 (a
// negative or longer one is no figure the meter wrote).
bool ParseTotals(const std::string& bytes, TotalsLine& out);
enum class ReadResult { Missing, Unreadable, Bad, Ok };
ReadResult ReadTotalsFile(const std::string& path, TotalsLine& out);

// The values of one line of the data files' style (quoted values may hold commas).
std::vector<std::string> SplitValues(const std::string& line);
// Any whole number the writer can print, negative ones too, saturated at 32 bits.
bool ParseCount(const std::string& text, int32_t& out);

}  // namespace kv::totals
