// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The tariff a charge unit falls in. The numbers are what the read-out shows.
#include <cstdint>

namespace kv {

enum class TariffMode : int16_t {
    None = 0,      // no unit begun yet
    BandA = 1,     // weekday daytime
    BandB = 2,     // evening, holidays
    BandC = 3,     // night
    FlatRate = 9,  // night inside the flat-rate window: not charged
};

// Units begun in band C are charged only without the flat-rate service.
inline bool ChargedWithFlatRateService(TariffMode mode) {
    return mode != TariffMode::BandC && mode != TariffMode::FlatRate;
}

}  // namespace kv
