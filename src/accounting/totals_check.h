#pragma once
// The totals rebuilt from the call log: the day, month and previous-month units as the meter
// would have counted the logged calls (each unit in the accounting day and period in which it
// began), beside what the totals file holds; and the file written anew from them.
#include <cstdint>
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
    int calls = 0;                          // "Tel" records counted
    int unreadLines = 0;                    // lines of the log that were not understood
    bool callOpen = false;                  // the log ends inside a call (not counted yet)
    totals::TotalsLine rebuilt;             // the line a repair writes
    bool Agrees() const { return fromFile && *fromFile == fromLog; }
};

TotalsCheck CheckTotals(const std::string& logPath, const std::string& dataPath,
                        const Settings& settings, const LocalTime& now);
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
