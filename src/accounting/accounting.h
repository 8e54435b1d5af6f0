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

// ---- tariff ---------------------------------------------------------------------------------
int16_t IsHoliday(const Context& cx, const Date& date);
int16_t SetMode(Context& cx, const Date& date, const TimeOfDay& t);

// ---- per-second supervision -----------------------------------------------------------------
void Second_ck(Context& cx);
void ToggleCutBreak(Context& cx);
std::string FormatMs(int32_t seconds);
// "\" followed by the amount; "\" alone for 0.
std::string FormatYen(int64_t amount);

}  // namespace kv
