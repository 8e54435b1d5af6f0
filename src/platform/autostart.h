// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Starting the program at logon: an XDG autostart entry on the desktops that follow the
// freedesktop rules, the per-user Run key on Windows.
#include <string>

namespace kv {

// The entry's contents for the program at programPath, started with "-W" so the panel is up
// before the icon goes in.
std::string AutostartEntryText(const std::string& programPath);

// Creates (on) or removes (off) the entry in autostartFolder ($XDG_CONFIG_HOME/autostart).
// False with error when it could not be done; removing what is not there is done.
bool SetLogonStart(const std::string& autostartFolder, const std::string& programPath, bool on,
                   std::string& error);

// $XDG_CONFIG_HOME/autostart (~/.config/autostart).
std::string AutostartFolder();
// The entry's file in that folder.
inline constexpr const char* kAutostartFileName = "kestrovan.desktop";

}  // namespace kv
