// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The totals rebuilt from the call log: the day, month and previous-month units as the meter
// would have counted the logged calls (each unit in the accounting day and period in which it
// began), beside what the totals file holds; and the file written anew from them.
//
// The log is read once, a piece at a time, in constant memory, however long it is (a long one
// in two halves at once), so the viewer can rebuild on a thread of its own and stop when asked.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "accounting/totals_file.h"
#include "common/datetime.h"
#include "settings/settings.h"

namespace kv {

struct TotalsFigures {
    int64_t day = 0, month = 0, previous = 0;
    friend bool operator==(const TotalsFigures&, const TotalsFigures&) = default;
};

struct TotalsCheck {
    TotalsFigures fromLog;
    std::optional<TotalsFigures> fromFile;  // none: missing, unreadable or not understood
    std::string fileTrouble;                // why there are no figures from the file
    int calls = 0;               // calls counted, a connection logged in several records once
    int unreadLines = 0;         // lines of the log that were not understood
    bool callOpen = false;       // the log ends inside a call (not counted yet)
    bool cancelled = false;      // stopped when asked: nothing else holds
    totals::TotalsLine rebuilt;  // the line a repair writes
    bool Agrees() const { return fromFile && *fromFile == fromLog; }
};

// How a rebuild reports and is stopped; both optional. progress is called on the thread that
// called CheckTotals; cancel is also looked at by the one reading the later half.
struct TotalsScan {
    // Bytes of the log read so far, of its length when opened (or of what was read, when calls
    // were logged meanwhile).
    std::function<void(uint64_t done, uint64_t total)> progress;
    const std::atomic<bool>* cancel = nullptr;
    // The log is read in pieces of this size, and one at least splitBytes long in two halves
    // at once (the tests make them small).
    size_t pieceBytes = size_t{1} << 20;
    uint64_t splitBytes = uint64_t{64} << 20;
};

TotalsCheck CheckTotals(const std::string& logPath, const std::string& dataPath,
                        const Settings& settings, const LocalTime& now,
                        const TotalsScan& scan = {});
enum class CheckTextStyle { Terminal, Html };
// Both side by side: columns for the terminal, a table for the viewer.
std::string FormatTotalsCheck(const TotalsCheck& check, const std::string& logPath,
                              const std::string& dataPath,
                              CheckTextStyle style = CheckTextStyle::Terminal);
// Writes the rebuilt line; the old file is kept as Kestrovan.dat.bak-yyyymmddhhmmss (its name
// in *kept). False with errno.
bool RepairTotals(const TotalsCheck& check, const std::string& dataPath, const LocalTime& now,
                  std::string* kept);

}  // namespace kv
