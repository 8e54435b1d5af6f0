#pragma once
// Everything one run of Pelvaro works on; built in main (or by a test) and passed down.
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
    std::string CurrentDir;  // the conversion renames Orlavine's data files here
    std::string ExportFile;  // the export file when not Kestrovan.reg beside the program
    Settings settings;
    bool ConvertMode = false;
};

}  // namespace kv::maint
