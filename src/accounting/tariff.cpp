// The three-band tariff: which band a unit falls in, how long it lasts, whether it is charged.
#include <string>

#include "accounting/accounting.h"
#include "app/trace.h"

namespace kv {

namespace {

constexpr int32_t k0745 = 7 * 3600 + 45 * 60;
constexpr int32_t k0800 = 8 * 3600;
constexpr int32_t k1900 = 19 * 3600;
constexpr int32_t k2300 = 23 * 3600;

bool IsEmptyEntry(const std::string& entry) {
    return entry.find_first_not_of(' ') == std::string::npos;
}

// A hand-edited list may hold entries that are no month/day; they count as no holiday. Say
// so once per list rather than at every unit.
void ReportBadHolidays(Context& cx) {
    std::string joined;
    for (int i = 0; i < kHolidayEntries; ++i) joined += cx.settings.HolidayTable[i] + "|";
    if (joined == cx.HolidayTableReported) return;
    cx.HolidayTableReported = joined;
    for (int i = 0; i < kHolidayEntries; ++i) {
        const std::string& entry = cx.settings.HolidayTable[i];
        if (!IsEmptyEntry(entry) && !ParseHolidayEntry(entry))
            WriteTrace(cx, 3, "holiday err:" + entry);
    }
}

}  // namespace

int16_t IsHoliday(const Context& cx, const Date& date) {
    int16_t result = 0;
    const int weekday = Weekday(date);
    if (weekday == 1 || weekday == 7) result = 1;
    const int key = date.month * 100 + date.day;
    for (int i = 0; i < kHolidayEntries; ++i) {
        const std::string& entry = cx.settings.HolidayTable[i];
        if (IsEmptyEntry(entry)) continue;
        const auto md = ParseHolidayEntry(entry);
        if (!md) continue;
        if (md->first * 100 + md->second == key) {
            result = 1;
            break;
        }
    }
    return result;
}

int16_t SetMode(Context& cx, const Date& date, const TimeOfDay& t) {
    WriteTrace(cx, 4, "SetMode-sub");
    ReportBadHolidays(cx);
    const bool holiday = IsHoliday(cx, date) == 1;
    const int32_t secs = TimeToSecs(t);

    char band;
    if (secs < k0800 || secs >= k2300)
        band = 'C';
    else if (holiday || secs >= k1900)
        band = 'B';
    else
        band = 'A';

    int16_t mode;
    int32_t length;
    switch (band) {
        case 'A':
            mode = 1;
            length = cx.settings.seca;
            break;
        case 'B':
            mode = 2;
            length = cx.settings.secb;
            break;
        default:
            mode = 3;
            length = cx.settings.secc;
            break;
    }
    // Added, not assigned: an overrun carries into the new unit, so unit boundaries stay on
    // whole unit lengths from the connect instant.
    cx.call.NextUnitSecs += length;
    // The flat-rate window ends at 07:45:00; a band-C unit begun after it is a normal one.
    if (cx.settings.teleho == 1 && band == 'C' && (secs <= k0745 || secs >= k0800)) mode = 9;
    cx.call.TariffMode = mode;

    if (cx.ports.pump) cx.ports.pump->PumpOnce();
    WriteTrace(cx, 4, "SetMode-sub");
    return mode;
}

}  // namespace kv
