// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The whole settings record to and from the store.
#include <string>

#include "common/trace.h"
#include "settings/settings.h"

namespace kv {

enum class RegCopyDirection { Store = 1, Load = 2 };

// Returns false when a store could not write every value (reported at trace level 3); a load
// always returns true. A load names in *clamped the values the record could not hold (used
// clamped), for the program to tell the user; it touches no window.
bool RegCopy(SettingsStore& store, Settings& s, Trace& trace, RegCopyDirection direction,
             std::string* clamped = nullptr);

}  // namespace kv
