#pragma once
// The whole settings record to and from the store.
#include "common/trace.h"
#include "common/view.h"
#include "settings/settings.h"

namespace kv {

enum class RegCopyDirection { Store = 1, Load = 2 };

// Returns false when a store could not write every value (reported at trace level 3); a load
// always returns true. A load also shows the automatic-call switch on the window and the tray.
bool RegCopy(SettingsStore& store, Settings& s, Trace& trace, MainView& view,
             RegCopyDirection direction);

}  // namespace kv
