// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The settings file's INI text, read and written here from the bytes in memory: the file is
// parsed where it lies (no copy in a temporary folder that may be full) and written whole.
// The dialect is Qt's own (quotes, backslash escapes, "%XX" in keys, "@@" for a leading "@"),
// so files written by earlier versions read the same and ours stay readable by them.
#include <map>
#include <string>
#include <string_view>

namespace kv::ini {

struct Parsed {
    std::map<std::string, std::string> values;  // "group/key" -> UTF-8 text
    bool byteOrderMark = false;                 // an editor's UTF-8 mark in front
    int junkLines = 0;  // lines that are no section, comment or key=value: dropped on writing
    bool HasJunk() const { return junkLines > 0; }
};

Parsed Parse(std::string_view bytes);

// The whole file: groups in name order, keys outside a group under [General].
std::string Format(const std::map<std::string, std::string>& values);

}  // namespace kv::ini
