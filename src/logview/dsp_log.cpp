// SPDX-License-Identifier: GPL-3.0-or-later
#include "logview/dsp_log.h"

#include <cstring>
#include <algorithm>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <filesystem>
#include <system_error>
#include <thread>
#include <type_traits>

#include "common/cp932.h"
#include "common/data_file.h"
#include "logview/log_text.h"

namespace kv::logview {
namespace {

// The log is read a window at a time from its end; a window ends at a line end.
constexpr size_t kWindowBytes = size_t{1} << 20;
constexpr size_t kChunkBytes = size_t{4} << 20;
// A call-summary line is under 100 bytes; anything this long is not a log line, and keeping
// it whole would let a garbage file without line ends take all memory. Only the first MiB of
// a line is looked at.
constexpr size_t kMaxLineBytes = size_t{1} << 20;
constexpr size_t kKeyWidth = 10;
constexpr size_t kNone = static_cast<size_t>(-1);

enum class ReadResult { Complete, Unopenable, Broken, Cancelled };

bool IsAscii(std::string_view bytes) {
    unsigned char all = 0;
    for (const char ch : bytes) all |= static_cast<unsigned char>(ch);
    return all < 0x80;
}

// The last ch in data[0, n), or kNone.
size_t LastByte(const char* data, size_t n, char ch) {
#ifdef __GLIBC__
    const void* found = ::memrchr(data, ch, n);
    return found == nullptr ? kNone : static_cast<size_t>(static_cast<const char*>(found) - data);
#else
    while (n > 0) {
        if (data[--n] == ch) return n;
    }
    return kNone;
#endif
}

// The start of the last "Tel" in data[0, n), or kNone. "T" is rare in a log (only the summary
// lines have one), so looking for it skips the other lines in one sweep.
size_t LastTel(const char* data, size_t n) {
    while (n >= 3) {
        const size_t at = LastByte(data, n - 2, 'T');
        if (at == kNone) return kNone;
        if (data[at + 1] == 'e' && data[at + 2] == 'l') return at;
        n = at + 2;
    }
    return kNone;
}

// What one pass over a line finds: where it ends, whether it is all ASCII and where its
// first commas are (enough for fields 2 and 8).
struct LineFacts {
    size_t length = 0;  // up to the LF or the limit
    bool ascii = true;
    size_t commas = 0;            // how many of comma are set
    std::array<size_t, 8> comma;  // left unset past commas: this runs for every call
};

// Runs once for every call in the log, so it looks at sixteen bytes at a time where it can.
LineFacts ScanLine(const char* data, size_t limit) {
    LineFacts facts;
    auto note = [&facts](size_t base, unsigned bits) {
        while (bits != 0 && facts.commas < facts.comma.size()) {
            facts.comma[facts.commas++] = base + static_cast<size_t>(std::countr_zero(bits));
            bits &= bits - 1;
        }
    };
    size_t i = 0;
    unsigned high = 0;
#if defined(__SSE2__)
    const __m128i lfs = _mm_set1_epi8('\n');
    const __m128i commas = _mm_set1_epi8(',');
    for (; i + 16 <= limit; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const auto lf = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, lfs)));
        const auto comma = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, commas)));
        const auto top = static_cast<unsigned>(_mm_movemask_epi8(bytes));
        if (lf != 0) {
            const unsigned before = (lf & (0u - lf)) - 1;  // the bytes ahead of the first LF
            note(i, comma & before);
            facts.ascii = (high | (top & before)) == 0;
            facts.length = i + static_cast<size_t>(std::countr_zero(lf));
            return facts;
        }
        note(i, comma);
        high |= top;
    }
#endif
    for (; i < limit && data[i] != '\n'; ++i) {
        const auto ch = static_cast<unsigned char>(data[i]);
        high |= ch & 0x80u;
        if (ch == ',' && facts.commas < facts.comma.size()) facts.comma[facts.commas++] = i;
    }
    facts.ascii = high == 0;
    facts.length = i;
    return facts;
}

bool IsCancelled(const ScanControl& control) {
    return control.cancelled != nullptr && control.cancelled->load(std::memory_order_relaxed);
}

// Where the line that goes on at `before` starts: just after the last LF in front of it, or
// at the start of the file.
ReadResult LineStartBefore(LogFile& file, uint64_t before, std::vector<char>& buffer,
                           const ScanControl& control, uint64_t& start) {
    uint64_t hi = before;
    while (hi > 0) {
        if (IsCancelled(control)) return ReadResult::Cancelled;
        const uint64_t lo = hi > kWindowBytes ? hi - kWindowBytes : 0;
        const size_t length = static_cast<size_t>(hi - lo);
        if (file.ReadAt(lo, buffer.data(), length) != length) return ReadResult::Broken;
        const size_t lf = LastByte(buffer.data(), length, '\n');
        if (lf != kNone) {
            start = lo + lf + 1;
            return ReadResult::Complete;
        }
        hi = lo;
    }
    start = 0;
    return ReadResult::Complete;
}

// Calls onLine(offset, bytes, facts) for every line of [begin, end) whose first MiB holds
// "Tel", from the last line to the first; bytes without the LF (a CR before it stays).
// afterWindow(left) follows each window. A line ends at LF; what follows the last LF is a
// line too. begin is a line's start.
template <class OnLine, class AfterWindow>
ReadResult ScanNewestFirst(LogFile& file, uint64_t begin, uint64_t end, const ScanControl& control,
                           OnLine&& onLine, AfterWindow&& afterWindow) {
    std::vector<char> buffer(static_cast<size_t>(std::min<uint64_t>(end - begin, kWindowBytes)));
    bool anyRead = false;
    uint64_t hi = end;  // the end of what is left: the end or just after an LF
    while (hi > begin) {
        if (IsCancelled(control)) return ReadResult::Cancelled;
        const uint64_t lo = hi - begin > kWindowBytes ? hi - kWindowBytes : begin;
        const size_t length = static_cast<size_t>(hi - lo);
        if (file.ReadAt(lo, buffer.data(), length) != length) {
            return anyRead ? ReadResult::Broken : ReadResult::Unopenable;
        }
        anyRead = true;
        const char* data = buffer.data();
        // Only lines that start inside the window are looked at here; the first, cut one is
        // read again with the next window.
        size_t first = 0;
        if (lo > begin) {
            const void* lf = length > 1 ? std::memchr(data, '\n', length - 1) : nullptr;
            if (lf == nullptr) {
                // One line longer than the window: find its start, read its first MiB.
                const uint64_t stop = data[length - 1] == '\n' ? hi - 1 : hi;
                uint64_t start = 0;
                const ReadResult found = LineStartBefore(file, lo, buffer, control, start);
                if (found != ReadResult::Complete) return found;
                std::string line(
                    static_cast<size_t>(std::min<uint64_t>(stop - start, kMaxLineBytes)), '\0');
                if (file.ReadAt(start, line.data(), line.size()) != line.size()) {
                    return ReadResult::Broken;
                }
                if (line.find("Tel") != std::string::npos) {
                    onLine(start, std::string_view(line), ScanLine(line.data(), line.size()));
                }
                hi = start;
                afterWindow(hi);
                continue;
            }
            first = static_cast<size_t>(static_cast<const char*>(lf) - data) + 1;
        }
        size_t pos = length;  // lines from pos on are done
        while (pos > first) {
            const size_t tel = LastTel(data + first, pos - first);
            if (tel == kNone) break;
            const size_t at = first + tel;
            size_t start = first;
            if (at >= first + 2 && data[at - 1] == '"' && data[at - 2] == '\n') {
                start = at - 1;  // the way the program writes a summary line
            } else if (const size_t lf = LastByte(data + first, at - first, '\n'); lf != kNone) {
                start = first + lf + 1;
            }
            const LineFacts facts = ScanLine(data + start, std::min(length - start, kMaxLineBytes));
            const std::string_view line(data + start, facts.length);
            // Only a line cut at the reader's limit can have lost its "Tel".
            if (facts.length < kMaxLineBytes || line.find("Tel") != std::string_view::npos) {
                onLine(lo + start, line, facts);
            }
            pos = start;
        }
        hi = lo + first;
        afterWindow(hi);
    }
    return ReadResult::Complete;
}

std::string Message(ReadResult result, const std::string& path) {
    switch (result) {
        case ReadResult::Complete:
        case ReadResult::Cancelled: return {};
        case ReadResult::Unopenable: return "接続ログを読めません: " + path;
        case ReadResult::Broken: return "接続ログを最後まで読めません: " + path;
    }
    return {};
}

template <class C>
std::basic_string<C> FormatDetail(std::basic_string_view<C> line, int64_t extraUnits) {
    Fields<C> field;
    SplitFields(line, field, kMaxFields);
    std::basic_string<C> out;
    out.reserve(64);
    const C bar = C('|');
    out.append(field[2]).push_back(bar);
    out.append(field[3]).push_back(bar);
    out.append(field[4].size() > 5 ? field[4].substr(5) : std::basic_string_view<C>{})
        .push_back(bar);
    out.append(field[5]).push_back(bar);
    out.append(field[6]).push_back(bar);
    AppendPadLeft(out, field[7], 4);
    out.push_back(bar);
    if (extraUnits == 0) {
        AppendPadLeft(out, field[8], 4);
    } else {
        int64_t units = 0;
        for (const C ch : field[8])
            if (ch >= C('0') && ch <= C('9')) units = units * 10 + (ch - C('0'));
        const std::string digits = std::to_string(units + extraUnits);
        const std::basic_string<C> text(digits.begin(), digits.end());
        AppendPadLeft(out, std::basic_string_view<C>(text), 4);
    }
    out.push_back(bar);
    AppendPadLeft(out, field[9], 4);
    out.push_back(bar);
    AppendPadLeft(out, field[10], 4);
    return out;
}

// The totals of the summary lines met newest first: a line joins the total being summed when
// its key matches or while that key is still blank; otherwise that total is finished.
class NewestFirstTotals {
  public:
    // With runsOnly it keeps the runs of lines with the same key instead, for a later part of
    // the log read beside (AddRun gives them to the totals of the part before).
    explicit NewestFirstTotals(int keyChars, bool runsOnly = false)
        : keyChars_(keyChars), runsOnly_(runsOnly) {}

    // A run of lines with one key, as if its lines were taken one by one.
    void AddRun(const PeriodTotal& run) {
        current_ = run.key;
        Take(run.units);
    }
    std::vector<PeriodTotal> TakeRuns() { return std::move(totals_); }

    // Takes a summary line (bytes without the line end; facts of them with or without its CR).
    // False when it is none after all:
    // "Tel" in the bytes may be the second byte of a double-byte character and "el".
    bool Add(std::string_view bytes, const LineFacts& facts) {
        // The common line, pure ASCII: only fields 2 and 8 count here.
        if (facts.ascii) {
            auto field = [&](size_t number) -> std::string_view {
                if (facts.commas < number - 1) return {};
                const size_t start = facts.comma[number - 2] + 1;
                const size_t end = facts.commas >= number ? facts.comma[number - 1] : bytes.size();
                return StripQuotes(bytes.substr(start, end - start));
            };
            Add<char>(field(2), field(8));
            return true;
        }
        line16_ = cp932::Decode(bytes);
        if (std::u16string_view(line16_).find(u"Tel") == std::u16string_view::npos) return false;
        SplitFields(std::u16string_view(line16_), fields16_, kMaxFields);
        Add<char16_t>(fields16_[2], fields16_[8]);
        return true;
    }

    bool empty() const { return !any_; }
    std::vector<PeriodTotal> Finish() {
        totals_.push_back({key_, total_});
        return std::move(totals_);
    }

  private:
    template <class C>
    void Add(std::basic_string_view<C> date, std::basic_string_view<C> unitsText) {
        // key_ is current_ after every line, so an unchanged key needs no comparing.
        bool same = any_;
        // Other kinds leave the key of the previous line in place.
        if (keyChars_ >= 0) {
            const auto key =
                date.substr(0, std::min<size_t>(static_cast<size_t>(keyChars_), date.size()));
            if constexpr (std::is_same_v<C, char>) {
                if (!IsPadded(current_, key)) {
                    current_.assign(key);
                    if (key.size() < kKeyWidth) current_.append(kKeyWidth - key.size(), ' ');
                    same = false;
                }
            } else {
                std::string padded = Utf16ToUtf8(key);
                if (key.size() < kKeyWidth) padded.append(kKeyWidth - key.size(), ' ');
                if (padded != current_) {
                    current_ = std::move(padded);
                    same = false;
                }
            }
        }
        const int64_t units = NumericValue(unitsText);
        if (runsOnly_) {
            if (same) {
                totals_.back().units = SaturatingAdd(totals_.back().units, units);
            } else {
                totals_.push_back({current_, units});
            }
            any_ = true;
            return;
        }
        if (same) {
            total_ = SaturatingAdd(total_, units);
        } else {
            Take(units);
        }
    }

    // The units of current_'s line or run, where key_ may differ.
    void Take(int64_t units) {
        if (key_ == current_ || key_ == kBlank) {
            total_ = SaturatingAdd(total_, units);
        } else {
            totals_.push_back({key_, total_});
            total_ = units;
        }
        key_ = current_;
        any_ = true;
    }

    // Whether padded is key with spaces up to the key width.
    static bool IsPadded(const std::string& padded, std::string_view key) {
        if (key.size() == kKeyWidth) {  // a whole date
            return padded.size() == kKeyWidth &&
                   std::memcmp(padded.data(), key.data(), kKeyWidth) == 0;
        }
        if (padded.size() != std::max(key.size(), kKeyWidth)) return false;
        if (padded.compare(0, key.size(), key) != 0) return false;
        return std::all_of(padded.begin() + static_cast<ptrdiff_t>(key.size()), padded.end(),
                           [](char ch) { return ch == ' '; });
    }

    static inline const std::string kBlank = std::string(kKeyWidth, ' ');
    int keyChars_;
    bool runsOnly_;
    std::string current_;
    std::string key_ = kBlank;
    int64_t total_ = 0;
    bool any_ = false;
    std::vector<PeriodTotal> totals_;
    std::u16string line16_;
    Fields<char16_t> fields16_;
};

int KeyChars(int kind) {
    switch (kind) {
        case 1: return 10;
        case 2: return 7;
        case 3: return 4;
        case 4: return 2;
        default: return -1;
    }
}

size_t CharCount(std::string_view utf8) {
    size_t count = 0;
    for (const char ch : utf8) {
        if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) ++count;
    }
    return count;
}

// The connect date and time of a summary line: the records of one connection share them.
std::string_view ConnectKey(std::string_view line) {
    if (line.rfind("\"Tel\",", 0) != 0) return {};
    size_t end = 6;
    for (int commas = 0; commas < 2; ++commas) {
        end = line.find(',', end + 1);
        if (end == std::string_view::npos) return {};
    }
    return line.substr(6, end - 6);
}

// The end date and time of a summary line: a connection's records end one after another.
std::string_view EndKey(std::string_view line) {
    size_t from = 0;
    for (int commas = 0; commas < 3; ++commas) {
        from = line.find(',', from);
        if (from == std::string_view::npos) return {};
        ++from;
    }
    size_t end = line.find(',', from);
    if (end == std::string_view::npos) return {};
    end = line.find(',', end + 1);
    if (end == std::string_view::npos) return {};
    return line.substr(from, end - from);
}

// An earlier record of the same connection as the one that ends at `laterEnd`.
bool Continues(std::string_view key, std::string_view laterEnd, std::string_view earlier) {
    return !key.empty() && ConnectKey(earlier) == key && EndKey(earlier) < laterEnd;
}

// The units of a summary line (its eighth value), 0 when unreadable.
int64_t UnitsOf(std::string_view line) {
    size_t at = 0;
    for (int commas = 0; commas < 7; ++commas) {
        at = line.find(',', at);
        if (at == std::string_view::npos) return 0;
        ++at;
    }
    int64_t units = 0;
    for (; at < line.size() && line[at] >= '0' && line[at] <= '9' && units < (int64_t{1} << 40);
         ++at)
        units = units * 10 + (line[at] - '0');
    return units;
}

bool Seek(std::FILE* file, uint64_t offset) {
#ifdef _WIN32
    return ::_fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
#else
    return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

}  // namespace

LogFile::LogFile(const std::string& path) {
    std::error_code error;
    const std::filesystem::path fsPath = datafile::FsPath(path);
    const auto state = std::filesystem::status(fsPath, error);
    if (!std::filesystem::exists(state)) {
        status_ = Status::Missing;
        return;
    }
    status_ = Status::Unopenable;
    if (!std::filesystem::is_regular_file(state)) return;
    const uintmax_t size = std::filesystem::file_size(fsPath, error);
    if (error) return;
    file_ = datafile::OpenForReading(path);
    if (file_ == nullptr) return;
    size_ = size;
    status_ = Status::Open;
}

LogFile::~LogFile() {
    if (file_ != nullptr) std::fclose(file_);
}

size_t LogFile::ReadAt(uint64_t offset, char* into, size_t count) {
    if (file_ == nullptr || count == 0) return 0;
    std::clearerr(file_);
    if (!Seek(file_, offset)) return 0;
    return std::fread(into, 1, count, file_);
}

std::string LogFile::LineAt(uint64_t offset) {
    // Rows are asked for newest first, so a miss reads the stretch in front of the line too.
    if (offset < cacheStart_ || offset >= cacheStart_ + cache_.size()) {
        const uint64_t back = offset > kCacheBehind ? kCacheBehind : offset;
        cache_.resize(kCacheBytes);
        cache_.resize(ReadAt(offset - back, cache_.data(), cache_.size()));
        cacheStart_ = offset - back;
    }
    if (offset >= cacheStart_ && offset < cacheStart_ + cache_.size()) {
        const char* at = cache_.data() + (offset - cacheStart_);
        const size_t left = cache_.size() - static_cast<size_t>(offset - cacheStart_);
        if (const void* lf = std::memchr(at, '\n', left)) {
            return std::string(at, static_cast<size_t>(static_cast<const char*>(lf) - at));
        }
    }
    std::string line;
    size_t want = 256;
    for (;;) {
        const size_t have = line.size();
        line.resize(have + want);
        const size_t got = ReadAt(offset + have, line.data() + have, want);
        const void* lf = std::memchr(line.data() + have, '\n', got);
        if (lf != nullptr) {
            line.resize(static_cast<size_t>(static_cast<const char*>(lf) - line.data()));
            break;
        }
        line.resize(have + got);
        if (got < want || line.size() >= kMaxLineBytes) break;
        want = std::min(line.size(), kMaxLineBytes - line.size());
    }
    if (line.size() > kMaxLineBytes) line.resize(kMaxLineBytes);
    return line;
}

void DetailIndex::Append(const uint64_t* offsets, size_t count) {
    while (count > 0) {
        const size_t at = size_ % kBlock;
        if (at == 0 && size_ / kBlock == blocks_.size()) {
            blocks_.push_back(std::make_unique_for_overwrite<uint64_t[]>(kBlock));
        }
        const size_t take = std::min(count, kBlock - at);
        std::memcpy(blocks_[size_ / kBlock].get() + at, offsets, take * sizeof(uint64_t));
        size_ += take;
        offsets += take;
        count -= take;
    }
}

std::string DetailRow(std::string_view bytes, int64_t extraUnits) {
    if (!bytes.empty() && bytes.back() == '\r') bytes.remove_suffix(1);
    if (IsAscii(bytes)) return FormatDetail(bytes, extraUnits);
    const std::u16string line = cp932::Decode(bytes);
    return Utf16ToUtf8(FormatDetail(std::u16string_view(line), extraUnits));
}

std::string DetailRowAt(LogFile& file, uint64_t offset) {
    const std::string line = file.LineAt(offset);
    const std::string key(ConnectKey(line));
    std::string ends(EndKey(line));
    // A program restarted during a call logs the connection in several records, one after
    // another: their units are this call's too. Looked for back to the first summary line
    // of another connection (a megabyte at most).
    int64_t extra = 0;
    uint64_t at = offset;
    std::vector<char> piece;
    while (!key.empty() && at > 0 && offset - at < (uint64_t{1} << 20)) {
        const uint64_t from = at > 4096 ? at - 4096 : 0;
        piece.resize(static_cast<size_t>(at - from));
        if (file.ReadAt(from, piece.data(), piece.size()) != piece.size()) break;
        // The line before ends with the LF just before `at`.
        size_t end = piece.size() - 1;
        size_t start = end;
        while (start > 0 && piece[start - 1] != '\n') --start;
        if (start == 0 && from > 0) break;  // longer than a piece: no record of ours
        std::string_view previous(piece.data() + start, end - start);
        if (!previous.empty() && previous.back() == '\r') previous.remove_suffix(1);
        at = from + start;
        if (previous.rfind("\"Tel\",", 0) != 0) continue;
        if (!Continues(key, ends, previous)) break;
        extra += UnitsOf(previous);
        ends.assign(EndKey(previous));
    }
    return DetailRow(line, extra);
}

ScanResult ScanLog(const std::string& logPath, int kind, const ScanControl& control) {
    ScanResult result;
    LogFile file(logPath);
    if (file.status() == LogFile::Status::Missing) {
        result.message = "接続ログがありません: " + logPath;
        return result;
    }
    if (file.status() != LogFile::Status::Open) {
        result.message = Message(ReadResult::Unopenable, logPath);
        return result;
    }
    const bool details = kind == 0;
    const int keyChars = KeyChars(details ? 1 : kind);
    const uint64_t size = file.Size();

    // A long log's totals are summed by two threads, each on one half: reading the file
    // then costs little more than copying it. The older half keeps its runs of lines with the
    // same key, which then go on the newer half's totals as its lines would have.
    uint64_t split = 0;
    if (!details && size >= control.splitBytes && std::thread::hardware_concurrency() > 1) {
        std::vector<char> buffer(kWindowBytes);
        if (LineStartBefore(file, size / 2, buffer, control, split) != ReadResult::Complete) {
            split = 0;
        }
    }
    std::atomic<uint64_t> olderDone{0};
    ReadResult olderRead = ReadResult::Complete;
    std::vector<PeriodTotal> olderRuns;
    std::thread older;
    if (split > 0) {
        older = std::thread([&] {
            LogFile own(logPath);
            if (own.status() != LogFile::Status::Open) {
                olderRead = ReadResult::Broken;
                return;
            }
            NewestFirstTotals runs(keyChars, /*runsOnly=*/true);
            olderRead = ScanNewestFirst(
                own, 0, split, control,
                [&](uint64_t, std::string_view bytes, const LineFacts& facts) {
                    if (!bytes.empty() && bytes.back() == '\r') bytes.remove_suffix(1);
                    runs.Add(bytes, facts);
                },
                [&](uint64_t left) { olderDone = split - left; });
            olderRuns = runs.TakeRuns();
        });
    }

    NewestFirstTotals totals(keyChars);
    std::vector<uint64_t> rows;
    std::string lastKey, lastEnd;
    ReadResult read = ScanNewestFirst(
        file, split, size, control,
        [&](uint64_t offset, std::string_view bytes, const LineFacts& facts) {
            if (!bytes.empty() && bytes.back() == '\r') bytes.remove_suffix(1);
            if (!totals.Add(bytes, facts) || !details) return;
            // The earlier records of a connection already listed go on its row.
            const bool continued = Continues(lastKey, lastEnd, bytes);
            lastKey.assign(ConnectKey(bytes));
            lastEnd.assign(EndKey(bytes));
            if (!continued) rows.push_back(offset);
        },
        [&](uint64_t left) {
            if (!rows.empty() && control.onRows) control.onRows(rows.data(), rows.size());
            rows.clear();
            if (control.onProgress) control.onProgress(size - left + olderDone.load(), size);
        });
    if (older.joinable()) {
        older.join();
        if (read == ReadResult::Complete) read = olderRead;
        if (read == ReadResult::Unopenable) read = ReadResult::Broken;  // the newer half was read
        for (const PeriodTotal& run : olderRuns) totals.AddRun(run);
        if (control.onProgress && read == ReadResult::Complete) control.onProgress(size, size);
    }
    result.message = Message(read, logPath);
    result.cancelled = read == ReadResult::Cancelled;
    if (read == ReadResult::Unopenable) return result;
    if (!details || !totals.empty()) result.totals = totals.Finish();
    return result;
}

LogDisplay DspLog1(const std::string& logPath) {
    DetailIndex index;
    ScanControl control;
    control.onRows = [&index](const uint64_t* offsets, size_t count) {
        index.Append(offsets, count);
    };
    ScanResult scan = ScanLog(logPath, 0, control);
    LogDisplay display;
    display.message = std::move(scan.message);
    display.totals = std::move(scan.totals);
    LogFile file(logPath);
    for (size_t row = 0; row < index.size(); ++row) {
        display.lines.Add(DetailRowAt(file, index[row]));
    }
    return display;
}

LogDisplay DspLog2(const std::string& logPath, int kind) {
    ScanResult scan = ScanLog(logPath, kind);
    LogDisplay display;
    display.message = std::move(scan.message);
    display.totals = std::move(scan.totals);
    display.lines = TotalsList(display.totals);
    return display;
}

LogList TotalsList(const std::vector<PeriodTotal>& totals) {
    LogList lines;
    for (const PeriodTotal& total : totals) lines.Add(TotalsLine(total.key, total.units));
    return lines;
}

std::string_view LogList::operator[](size_t index) const {
    const Entry& entry = entries_[reversed_ ? entries_.size() - 1 - index : index];
    return {chunks_[entry.chunk].data.get() + entry.offset, entry.length};
}

void LogList::Add(std::string_view line) {
    if (line.size() > UINT32_MAX) line = line.substr(0, UINT32_MAX);
    if (chunks_.empty() || chunks_.back().capacity - chunks_.back().used < line.size()) {
        Chunk chunk;
        chunk.capacity = std::max(kChunkBytes, line.size());
        chunk.data = std::make_unique_for_overwrite<char[]>(chunk.capacity);
        chunks_.push_back(std::move(chunk));
    }
    Chunk& chunk = chunks_.back();
    if (!line.empty()) std::memcpy(chunk.data.get() + chunk.used, line.data(), line.size());
    entries_.push_back({static_cast<uint32_t>(chunks_.size() - 1),
                        static_cast<uint32_t>(chunk.used), static_cast<uint32_t>(line.size())});
    chunk.used += line.size();
}

int SelectedSumIndex(const std::array<bool, 4>& selected) {
    for (int index = 0; index < 4; ++index) {
        if (selected[static_cast<size_t>(index)]) return index;
    }
    return 4;
}

std::string TotalsLine(std::string_view paddedKey, int64_t total) {
    std::string line(paddedKey);
    const size_t chars = CharCount(paddedKey);
    if (chars < kKeyWidth) line.append(kKeyWidth - chars, ' ');
    line += "|        |     |        |        |    |";
    AppendPadLeft<char>(line, std::to_string(total), 4);
    line += '|';
    return line;
}

void AppendCsvRow(std::string& csv, std::string_view line) {
    if (!line.empty() && line.back() == '|') line.remove_suffix(1);
    size_t start = 0;
    for (bool first = true;; first = false) {
        const size_t bar = line.find('|', start);
        std::string_view cell = line.substr(
            start, bar == std::string_view::npos ? std::string_view::npos : bar - start);
        while (!cell.empty() && cell.front() == ' ') cell.remove_prefix(1);
        while (!cell.empty() && cell.back() == ' ') cell.remove_suffix(1);
        if (!first) csv += ',';
        if (cell.find_first_of("\",\r\n") != std::string_view::npos) {
            csv += '"';
            for (const char ch : cell) {
                if (ch == '"') csv += '"';
                csv += ch;
            }
            csv += '"';
        } else {
            csv.append(cell);
        }
        if (bar == std::string_view::npos) break;
        start = bar + 1;
    }
    csv += "\r\n";
}

std::string CsvFromList(const LogList& lines) {
    std::string csv;
    for (size_t row = 0; row < lines.size(); ++row) AppendCsvRow(csv, lines[row]);
    return csv;
}

}  // namespace kv::logview
