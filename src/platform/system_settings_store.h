// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The settings store of the system the program runs on: the user's registry on Windows, an INI
// file in the user's configuration folder elsewhere.
#ifdef _WIN32
#include "platform/registry_settings_store.h"
namespace kv {
using SystemSettingsStore = RegistrySettingsStore;
}
#else
#include "platform/qt_settings_store.h"
namespace kv {
using SystemSettingsStore = QtSettingsStore;
}
#endif
