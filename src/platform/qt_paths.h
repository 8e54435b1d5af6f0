#pragma once
#include <string>

namespace kv {

// The user's own folder for Kestrovan's data files, used when the program's folder cannot be
// written: $XDG_DATA_HOME/Qel/Kestrovan (~/.local/share/Qel/Kestrovan), the same for Kestrovan
// and Pelvaro whatever their own names.
std::string PerUserDataFolder();

}  // namespace kv
