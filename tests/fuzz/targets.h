// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Entry points for the fuzzers and for the replay of their kept corpus in the normal tests.
// Each takes arbitrary bytes and must return without crashing, hanging or tripping a sanitizer.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kv::fuzz {

using Entry = int (*)(const uint8_t* data, size_t size);

struct Target {
    const char* name;
    Entry entry;
};

int StatusReport(const uint8_t* data, size_t size);   // the status parser and ExtractField
int ShowTime(const uint8_t* data, size_t size);       // the router clock in a "show time" reply
int ReceiveChunks(const uint8_t* data, size_t size);  // Receive decoding arbitrary byte chunks
int TotalsFile(const uint8_t* data, size_t size);     // the totals file reader
int CallLog(const uint8_t* data, size_t size);        // the call-log splitter and both views
int SettingInt(const uint8_t* data, size_t size);     // the settings integer reader, passwords
int ExportFile(const uint8_t* data, size_t size);     // Pelvaro's export file reader

const std::vector<Target>& AllTargets();

}  // namespace kv::fuzz
