// SPDX-License-Identifier: GPL-3.0-or-later
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
// The same at secs into a day already known to be a holiday or not, for a caller that goes
// through many units of one day (inline: the totals rebuild asks for every unit of the log).
inline Tariff TariffAt(const Settings& settings, bool holiday, int32_t secs) {
    constexpr int32_t k0745 = 7 * 3600 + 45 * 60;
    constexpr int32_t k0800 = 8 * 3600;
    constexpr int32_t k1900 = 19 * 3600;
    constexpr int32_t k2300 = 23 * 3600;
    Tariff tariff;
    if (secs < k0800 || secs >= k2300) {
        tariff = {TariffMode::BandC, settings.secc};
        // The flat-rate window ends at 07:45:00; a band-C unit begun after it is a normal one.
        if (settings.teleho == 1 && (secs <= k0745 || secs >= k0800))
            tariff.mode = TariffMode::FlatRate;
    } else if (holiday || secs >= k1900) {
        tariff = {TariffMode::BandB, settings.secb};
    } else {
        tariff = {TariffMode::BandA, settings.seca};
    }
    return tariff;
}

}  // namespace kv
