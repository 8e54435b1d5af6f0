#pragma once
// Reading the call log back for the viewer: one detail line per finished call (DspLog1) or
// unit totals per day, month or year (DspLog2), newest first. The log is streamed in large
// blocks; only the lines shown are kept, packed into a few big buffers, so logs of any length
// can be listed.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kv::logview {

// The lines of the list, UTF-8, in display order.
class LogList {
  public:
    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    std::string_view operator[](size_t index) const;
    void Add(std::string_view line);
    // Turns the order around without moving any text.
    void Reverse() { reversed_ = !reversed_; }

  private:
    struct Entry {
        uint32_t chunk;
        uint32_t offset;
        uint32_t length;
    };
    struct Chunk {
        std::unique_ptr<char[]> data;
        size_t capacity = 0;
        size_t used = 0;
    };
    std::vector<Chunk> chunks_;
    std::vector<Entry> entries_;
    bool reversed_ = false;
};

// One line of a totals view: the key padded to 10 characters and the units summed under it.
struct PeriodTotal {
    std::string key;
    int64_t units = 0;
    bool operator==(const PeriodTotal&) const = default;
};

struct LogDisplay {
    LogList lines;
    // Totals in display order: those listed by DspLog2, the per-day totals for DspLog1.
    std::vector<PeriodTotal> totals;
    // Empty when the log was read to its end; otherwise why not (the list then holds what
    // could be read, nothing when the file is missing or cannot be opened).
    std::string message;
};

LogDisplay DspLog1(const std::string& logPath);
// kind 1, 2, 3 key by the first 10, 7, 4 characters of the start date; kind 4 by the first 2.
LogDisplay DspLog2(const std::string& logPath, int kind);

// The index CmdRedsp_Click acts on: the lowest selected option, 4 when none is.
int SelectedSumIndex(const std::array<bool, 4>& selected);

// "2026/12   |        |     |        |        |    |  57|"
std::string TotalsLine(std::string_view paddedKey, int64_t total);

// The list as CSV text, one row per line: the columns split at "|" without their padding,
// quoted where needed, rows ended by CR LF.
std::string CsvFromList(const LogList& lines);

}  // namespace kv::logview
