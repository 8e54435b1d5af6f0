// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reading the call log back for the viewer: one detail line per finished call (DspLog1) or
// unit totals per day, month or year (DspLog2), newest first.
//
// The log is read from its end, so the newest calls are found first. The detail list keeps
// only the byte offset of each call and formats a row when it is asked for, so a log of any
// length costs 8 bytes a call; the totals are summed while reading, without keeping lines.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kv::logview {

// The lines of a list, UTF-8, in display order, packed into a few big buffers.
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

// Reads the log at any place. The file stays open, so rows can be read while the program
// appends to it; what was indexed stays where it was.
class LogFile {
  public:
    enum class Status { Open, Missing, Unopenable };
    explicit LogFile(const std::string& path);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    Status status() const { return status_; }
    // The length when opened: lines appended later are not looked at.
    uint64_t Size() const { return size_; }
    // As many bytes as could be read, up to count.
    size_t ReadAt(uint64_t offset, char* into, size_t count);
    // The line starting at offset without its line end, at most as long as the reader keeps
    // a line (the first MiB).
    std::string LineAt(uint64_t offset);

  private:
    static constexpr size_t kCacheBytes = size_t{64} << 10;
    static constexpr uint64_t kCacheBehind = kCacheBytes - 1024;
    std::FILE* file_ = nullptr;
    Status status_ = Status::Missing;
    uint64_t size_ = 0;
    // The last stretch read, for the rows around it.
    std::vector<char> cache_;
    uint64_t cacheStart_ = 0;
};

// Offsets of the summary lines in display order, in fixed blocks so it grows without copying.
class DetailIndex {
  public:
    size_t size() const { return size_; }
    uint64_t operator[](size_t row) const { return blocks_[row / kBlock][row % kBlock]; }
    void Append(const uint64_t* offsets, size_t count);
    // The memory it holds, for the benchmark.
    size_t Bytes() const {
        return blocks_.capacity() * sizeof(void*) + blocks_.size() * kBlock * 8;
    }

  private:
    static constexpr size_t kBlock = size_t{1} << 16;
    std::vector<std::unique_ptr<uint64_t[]>> blocks_;
    size_t size_ = 0;
};

// The detail row of one summary line (its bytes as in the log, CP932), extraUnits added to
// its units.
std::string DetailRow(std::string_view lineBytes, int64_t extraUnits = 0);
// The detail row of the summary line at offset: one call, however many records it was logged
// in (the records of one connection come one after another, the last with the call's whole
// duration); the list holds only the last of them.
std::string DetailRowAt(LogFile& file, uint64_t offset);

// How one reading reports and is stopped; all optional. Called on the reading thread.
struct ScanControl {
    // Offsets of the summary lines just found, newest first, a block of the file at a time.
    std::function<void(const uint64_t* offsets, size_t count)> onRows;
    // Bytes read so far (from the end) of the total.
    std::function<void(uint64_t done, uint64_t total)> onProgress;
    const std::atomic<bool>* cancelled = nullptr;
    // Totals of a log at least this long are summed by two threads.
    uint64_t splitBytes = uint64_t{64} << 20;
};

struct ScanResult {
    // Kind 0: the per-day totals behind the detail list; otherwise the totals listed.
    std::vector<PeriodTotal> totals;
    // Empty when the log was read to its start; otherwise why not.
    std::string message;
    bool cancelled = false;
};

// Reads the log from its end. Kind 0 finds the detail list's rows (onRows); kinds 1 to 4 sum
// by day, month, year and century, any other kind under one blank key.
ScanResult ScanLog(const std::string& logPath, int kind, const ScanControl& control = {});

// A whole display in one piece, for callers that can wait.
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
// The list of a totals reading.
LogList TotalsList(const std::vector<PeriodTotal>& totals);

// The index CmdRedsp_Click acts on: the lowest selected option, 4 when none is.
int SelectedSumIndex(const std::array<bool, 4>& selected);

// "2026/12   |        |     |        |        |    |  57|"
std::string TotalsLine(std::string_view paddedKey, int64_t total);

// One list line as a CSV row: the columns split at "|" without their padding, quoted where
// needed, ended by CR LF.
void AppendCsvRow(std::string& csv, std::string_view line);
std::string CsvFromList(const LogList& lines);

}  // namespace kv::logview
