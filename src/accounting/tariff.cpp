// SPDX-License-Identifier: GPL-3.0-or-later
// The three-band tariff: which band a unit falls in, how long it lasts, whether it is charged.
#include "accounting/tariff.h"

#include <string>

#include "accounting/call_meter.h"

namespace kv {

namespace {

constexpr int32_t k0800 = 8 * 3600;
constexpr int32_t k2300 = 23 * 3600;

bool IsEmptyEntry(const std::string& entry) {
    return entry.find_first_not_of(' ') == std::string::npos;
}

}  // namespace

bool IsHoliday(const Settings& settings, const Date& date) {
    const int weekday = Weekday(date);
    if (weekday == 1 || weekday == 7) return true;
    const int key = date.month * 100 + date.day;
    for (int i = 0; i < kHolidayEntries; ++i) {
        const std::string& entry = settings.HolidayTable[i];
        if (IsEmptyEntry(entry)) continue;
        const auto md = ParseHolidayEntry(entry);
        if (md && md->first * 100 + md->second == key) return true;
    }
    return false;
}

Tariff TariffAt(const Settings& settings, const Date& date, const TimeOfDay& t) {
    const int32_t secs = TimeToSecs(t);
    // The holiday list is looked at only where it matters.
    return TariffAt(settings, secs >= k0800 && secs < k2300 && IsHoliday(settings, date), secs);
}

// A hand-edited list may hold entries that are no month/day; they count as no holiday. Say
// so once per list rather than at every unit.
void CallMeter::ReportBadHolidays() {
    std::string joined;
    for (int i = 0; i < kHolidayEntries; ++i) joined += settings_.HolidayTable[i] + "|";
    if (joined == holidayTableReported_) return;
    holidayTableReported_ = joined;
    for (int i = 0; i < kHolidayEntries; ++i) {
        const std::string& entry = settings_.HolidayTable[i];
        if (!IsEmptyEntry(entry) && !ParseHolidayEntry(entry)) trace_.Error("holiday err:" + entry);
    }
}

TariffMode CallMeter::SetMode(const Date& date, const TimeOfDay& t) {
    trace_.Step("SetMode-sub");
    ReportBadHolidays();
    const Tariff tariff = TariffAt(settings_, date, t);
    // Added, not assigned: an overrun carries into the new unit, so unit boundaries stay on
    // whole unit lengths from the connect instant.
    call_.NextUnitSecs += tariff.unitSecs;
    call_.TariffMode = tariff.mode;
    trace_.Step("SetMode-sub");
    return tariff.mode;
}

}  // namespace kv
