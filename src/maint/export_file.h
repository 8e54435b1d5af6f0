// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The export file "Kestrovan.reg": 44 lines in CP932 with CR LF, one value per line, in the
// order of FieldsInFileOrder.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "maint/maint_settings.h"

namespace kv::maint {

struct MaintContext;

inline constexpr const char* kExportFileName = "Kestrovan.reg";

struct FileIoResult {
    bool ok = true;
    std::string message;  // why it failed, for the user (Japanese)
    // Write only: keys whose text cannot be written in CP932 as it is (it would read back
    // differently). The file is still written.
    std::vector<std::string> lossyKeys;
};

// Direction 1 reads the file into the record; the record is changed only when the whole file
// is sound (44 lines, every integer line a 16-bit number). Any other direction writes the
// record into the file through a temporary file renamed over the old one.
FileIoResult SettingsFileIo(MaintContext& cx, int direction);

// cx.ExportFile when set (the command line's FILE), else Kestrovan.reg beside the program.
std::string ExportFilePath(const MaintContext& cx);
// Its name alone, for messages: the file actually used.
std::string ExportFileName(const MaintContext& cx);

// The longest line each value may have in the file, in bytes: far above anything the program
// writes, low enough that a broken file cannot blow up the settings.
size_t ExportLineLimit(const std::string& key);
// The keys of the record whose text the file cannot hold as it is (it would read back
// differently).
std::vector<std::string> LossyKeys(Settings& s);

// " 180 ", "-1 ": a blank in place of the sign unless negative, and one blank after.
std::string FormatExportInt(int16_t value);
// Surrounding blanks ignored, optional sign, digits; nothing else. ok false for anything else
// or a number outside -32768..32767 (inRange false then).
struct ExportInt {
    bool isNumber = false;
    bool inRange = false;
    int16_t value = 0;
};
ExportInt ParseExportInt(std::string_view line);

}  // namespace kv::maint
