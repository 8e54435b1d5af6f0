#pragma once
// The three-band tariff with holidays and the night flat-rate window: which band a unit
// beginning at a given moment falls in, and how long it lasts. Pure functions of the settings.
#include <cstdint>

#include "common/datetime.h"
#include "common/tariff_mode.h"
#include "settings/settings.h"

namespace kv {

struct Tariff {
    TariffMode mode = TariffMode::None;
    int32_t unitSecs = 0;
};

// Saturdays, Sundays and the days of the holiday list; unreadable entries count as none.
bool IsHoliday(const Settings& settings, const Date& date);
Tariff TariffAt(const Settings& settings, const Date& date, const TimeOfDay& t);

}  // namespace kv
