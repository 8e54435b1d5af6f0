#pragma once
// Call accounting: connection records, call log and totals file, tariff, per-second supervision.
#include <cstdint>
#include <string>

#include "app/context.h"

namespace kv {

// ---- connection records and files -----------------------------------------------------------
void CntSt(Context& cx, int16_t channel);
void CntEnd(Context& cx, int16_t channel);
void WriteCallLog(Context& cx, const std::string& event);
void DatFileIO(Context& cx, int16_t mode);
int32_t TimeToSecs(const TimeOfDay& t);
TimeOfDay TextToTime(const std::string& text);
std::string FormatHms(int32_t seconds);
// Starts DayUnits again when the accounting day (from 05:00) has changed, and moves MonthUnits
// into PrevMonthUnits when a new accounting period has begun, so a program left running for
// days counts every unit in the day and period in which it began. Shows the running total
// when anything rolled; returns whether anything did.
bool RollTotals(Context& cx, const LocalTime& now);
void RollTotals(Context& cx);  // as of the computer clock now

// ---- tariff ---------------------------------------------------------------------------------
int16_t IsHoliday(const Context& cx, const Date& date);
int16_t SetMode(Context& cx, const Date& date, const TimeOfDay& t);

// ---- per-second supervision -----------------------------------------------------------------
void Second_ck(Context& cx);
void ToggleCutBreak(Context& cx);
std::string FormatMs(int32_t seconds);
// "\" followed by the amount; "\" alone for 0.
std::string FormatYen(int64_t amount);
// LCD3: the day's or the month's units as yen, as dosuumode chooses.
void ShowRunningTotal(Context& cx);

}  // namespace kv
