// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <string>
#include <vector>

namespace kv {

// The user's own folder for Kestrovan's data files, used when the program's folder cannot be
// written: $XDG_DATA_HOME/Qel/Kestrovan (~/.local/share/Qel/Kestrovan), on Windows
// %LOCALAPPDATA%\Qel\Kestrovan; the same for Kestrovan and Pelvaro whatever their own names.
std::string PerUserDataFolder();

// Where an installed copy keeps its shared files (the help page): share/kestrovan beside the
// program's bin folder, wherever the install was put, then the system's data folders.
std::vector<std::string> InstalledDataFolders(const std::string& appDir);

}  // namespace kv
