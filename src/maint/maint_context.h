// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Everything one run of Pelvaro works on; built in main (or by a test) and passed down.
#include <functional>
#include <string>
#include <utility>

#include "common/ports.h"
#include "maint/maint_settings.h"

namespace kv::maint {

class MaintView;

struct MaintContext {
    MaintContext(SettingsStore& s, MaintView& v, std::string programDir, std::string currentDir)
        : store(s), view(v), ProgramDir(std::move(programDir)), CurrentDir(std::move(currentDir)) {}

    SettingsStore& store;
    MaintView& view;
    std::string ProgramDir;  // folder of the pelvaro executable: Kestrovan.reg lives here
    std::string CurrentDir;  // Orlavine's data files are here; the conversion renames them here
    // Where Kestrovan keeps its data when its folder cannot be written (empty: not known); the
    // converted files go there instead then.
    std::string PerUserDataFolder;
    std::string ExportFile;  // the export file when not Kestrovan.reg beside the program
    // Whether Kestrovan runs now (empty: not known). It writes its settings back at its end,
    // undoing a load or a delete made meanwhile.
    std::function<bool()> KestrovanRunning;
    bool GoOnWhileRunning = false;  // --yes: as asked, even so
    Settings settings;
    bool ConvertMode = false;
};

}  // namespace kv::maint
