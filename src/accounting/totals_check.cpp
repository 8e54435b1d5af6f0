// SPDX-License-Identifier: GPL-3.0-or-later
#include "accounting/totals_check.h"

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "accounting/call_meter.h"
#include "accounting/tariff.h"
#include "common/cp932.h"
#include "common/data_file.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kv {

namespace {

using totals::AccountingDay;
using totals::ParseCount;
using totals::PeriodMarker;
using totals::SplitValues;

// A record is under 100 bytes: a longer line than this is no record, and keeping it whole
// would let a file without line ends take all memory.
constexpr size_t kMaxLineBytes = size_t{1} << 20;
// A connection is logged in two records only when the program was restarted during it, and
// the meter looks for the first one at the end of the log: the last few are enough.
constexpr size_t kRemembered = 8;
constexpr int64_t kDaySecs = 86400;
constexpr int64_t kDayStartSecs = 5 * 3600;  // the accounting day starts at 05:00

bool ParseDate(const std::string& text, Date& out) {
    int y = 0, m = 0, d = 0;
    char a = 0, b = 0;
    std::istringstream in(text);
    if (!(in >> y >> a >> m >> b >> d) || a != '/' || b != '/' || !IsValidDate(y, m, d))
        return false;
    out = Date{y, m, d};
    return true;
}

bool ParseTime(const std::string& text, TimeOfDay& out) {
    if (text.size() != 8 || text[2] != ':' || text[5] != ':') return false;
    out = TextToTime(text);
    return out.hour < 24 && out.minute < 60 && out.second < 60;
}

// Eight bytes as one number, the first the lowest.
uint64_t Little8(const char* p) {
    uint64_t v = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&v, p, sizeof v);
    } else {
        for (int i = 7; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(p[i]);
    }
    return v;
}

// Whether the eight bytes at p hold a double quote.
bool HasQuote(const char* p) {
    const uint64_t v = Little8(p) ^ 0x2222222222222222u;
    return ((v - 0x0101010101010101u) & ~v & 0x8080808080808080u) != 0;
}

int64_t FloorDiv(int64_t a, int64_t b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int TwoDigits(const char* p) {
    return (p[0] - '0') * 10 + (p[1] - '0');
}

// "hh:mm:ss" as the meter writes it: its seconds into the day, or -1. All eight bytes are
// looked at together: two of these are in every record.
int32_t WrittenTime(const char* p) {
    const uint64_t v = Little8(p);
    constexpr uint64_t kDigits = 0xFFFF00FFFF00FFFFu;  // bytes 0, 1, 3, 4, 6, 7
    constexpr uint64_t kColons = 0x00003A00003A0000u;
    constexpr uint64_t kHigh = 0xF0F0F0F0F0F0F0F0u & kDigits;
    constexpr uint64_t kZeros = 0x3030303030303030u & kDigits;
    // A digit is 0x3n, and still so with 6 added (n at most 9).
    if ((v & ~kDigits) != kColons || (v & kHigh) != kZeros ||
        ((v + (0x0606060606060606u & kDigits)) & kHigh) != kZeros)
        return -1;
    const uint64_t d = (v & kDigits) - kZeros;
    auto two = [d](int at) {
        return static_cast<int>((d >> (8 * at)) & 0xF) * 10 +
               static_cast<int>((d >> (8 * at + 8)) & 0xF);
    };
    const int h = two(0), m = two(3), s = two(6);
    return h < 24 && m < 60 && s < 60 ? h * 3600 + m * 60 + s : -1;
}

// An optional minus and up to nine digits, ended by a comma or, the last, by the line's end;
// p moves past the comma.
bool WrittenCount(const char*& p, const char* stop, bool last, int32_t& out) {
    const bool negative = p < stop && *p == '-';
    if (negative) ++p;
    const char* const first = p;
    int32_t value = 0;
    for (; p < stop && IsDigit(*p) && p - first < 9; ++p) value = value * 10 + (*p - '0');
    if (p == first || (last ? p != stop : p == stop || *p++ != ',')) return false;
    out = negative ? -value : value;
    return true;
}

// The units of the logged calls summed as they are read: each unit in the accounting day and
// period in which it began, as the meter counts them.
class Rebuild {
  public:
    Rebuild(const Settings& settings, const LocalTime& now, TotalsCheck& check)
        : settings_(settings),
          check_(check),
          todayFrom_(DateToSerial(AccountingDay(now)) * kDaySecs + kDayStartSecs),
          current_(PeriodMarker(settings.telstday, now.date)),
          previous_(PeriodMarker(settings.telstday, current_)) {}

    Date Current() const { return current_; }
    TotalsCheck& Figures() { return check_; }
    Date Previous() const { return previous_; }

    // One line without its LF.
    void Line(std::string_view line) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) return;
        // Two of every three lines; their first value is all that counts.
        switch (line.size() > 1 ? line[1] : '\0') {
            case 'C':
                if (!line.starts_with("\"Connect\",")) break;
                SetOpen(true);
                return;
            case 'D':
                if (line.starts_with("\"DisConnect\",")) return;
                break;
            case 'T':
                if (WrittenRecord(line)) return;
                break;
            default: break;
        }
        OtherLine(line);
    }

    // A line longer than any record: the start of a call still tells, nothing else is read.
    void LongLine(std::string_view start) {
        if (start.starts_with("\"Connect\",")) {
            SetOpen(true);
        } else if (!start.starts_with("\"DisConnect\",")) {
            ++check_.unreadLines;
        }
    }

    // Read from the middle of the log, this part counted as a reading from the start would
    // have when none of its first connections is one the part before could go on with.
    bool FollowsOn(const Rebuild& before) const {
        for (size_t i = 0; i < firstCount_; ++i)
            for (const int64_t connect : before.connects_)
                if (connect == firstConnects_[i]) return false;
        return true;
    }
    // Adds the figures of this later part to those of the part before.
    void AddTo(TotalsCheck& check) const {
        check.calls += check_.calls;
        check.unreadLines += check_.unreadLines;
        check.fromLog.day += check_.fromLog.day;
        check.fromLog.month += check_.fromLog.month;
        check.fromLog.previous += check_.fromLog.previous;
        if (openTold_) check.callOpen = check_.callOpen;
    }

  private:
    void SetOpen(bool open) {
        check_.callOpen = open;
        openTold_ = true;
    }

    // A "Tel" record exactly as the meter writes it, read in place:
    // "Tel","yyyy/mm/dd","hh:mm:ss","yyyy/mm/dd","hh:mm:ss","<any>",secs,units,adjust,offset
    // False for any other line, which is then read the general way. Only ASCII is looked at:
    // a double-byte character can stand in the one value not read, where it changes nothing.
    bool WrittenRecord(std::string_view line) {
        constexpr std::string_view kHead = "\"Tel\",\"";
        constexpr size_t kQuoted = 54;  // the duration's opening quote
        if (line.size() < kQuoted + 10 || !line.starts_with(kHead)) return false;
        const char* const p = line.data();
        for (const size_t at : {17, 28, 41, 52}) {
            if (p[at] != '"' || p[at + 1] != ',' || p[at + 2] != '"') return false;
        }
        int64_t connDay = 0, endDay = 0;
        const int32_t connSecs = WrittenTime(p + 20), endSecs = WrittenTime(p + 44);
        if (!WrittenDate(p + 7, connDay) || !WrittenDate(p + 31, endDay) || connSecs < 0 ||
            endSecs < 0)
            return false;
        const char* const stop = p + line.size();
        // The duration is "hh:mm:ss" but for calls of a hundred hours and more.
        const char* close = p + kQuoted + 9;
        if (*close != '"' || HasQuote(p + kQuoted + 1))
            close =
                static_cast<const char*>(std::memchr(p + kQuoted + 1, '"', stop - p - kQuoted - 1));
        if (close == nullptr || close + 1 >= stop || close[1] != ',') return false;
        const char* q = close + 2;
        int32_t secs = 0, units = 0, adjust = 0, offset = 0;
        if (!WrittenCount(q, stop, false, secs) || !WrittenCount(q, stop, false, units) ||
            !WrittenCount(q, stop, false, adjust) || !WrittenCount(q, stop, true, offset))
            return false;
        if (units < 0) {
            ++check_.unreadLines;
        } else {
            Record(connDay * kDaySecs + connSecs, endDay * kDaySecs + endSecs, units, adjust,
                   offset);
        }
        return true;
    }

    // "yyyy/mm/dd" as the meter writes it, as a day serial. A log's records come a day at a
    // time: the last one read is kept.
    bool WrittenDate(const char* p, int64_t& day) {
        if (std::memcmp(p, dateText_.data(), dateText_.size()) != 0) {
            std::memcpy(dateText_.data(), p, dateText_.size());
            dateValid_ = false;
            for (const size_t at : {0, 1, 2, 3, 5, 6, 8, 9})
                if (!IsDigit(p[at])) return false;
            if (p[4] != '/' || p[7] != '/') return false;
            const int y = TwoDigits(p) * 100 + TwoDigits(p + 2), m = TwoDigits(p + 5),
                      d = TwoDigits(p + 8);
            if (!IsValidDate(y, m, d)) return false;
            dateValid_ = true;
            dateDay_ = DateToSerial(Date{y, m, d});
        }
        day = dateDay_;
        return dateValid_;
    }

    // Any other line, as it has always been read.
    void OtherLine(std::string_view raw) {
        const std::vector<std::string> v = SplitValues(cp932::DecodeToUtf8(raw));
        if (v[0] == "Connect") SetOpen(true);
        if (v[0] == "Connect" || v[0] == "DisConnect") return;
        Date connDate, endDate;
        TimeOfDay connTime, endTime;
        int32_t secs = 0, units = 0, adjust = 0, offset = 0;
        if (v[0] != "Tel" || v.size() != 10 || !ParseDate(v[1], connDate) ||
            !ParseTime(v[2], connTime) || !ParseDate(v[3], endDate) || !ParseTime(v[4], endTime) ||
            !ParseCount(v[6], secs) || !ParseCount(v[7], units) || !ParseCount(v[8], adjust) ||
            !ParseCount(v[9], offset) || units < 0) {
            ++check_.unreadLines;
            return;
        }
        Record(int64_t{DateToSerial(connDate)} * kDaySecs + connTime.Seconds(),
               int64_t{DateToSerial(endDate)} * kDaySecs + endTime.Seconds(), units, adjust,
               offset);
    }

    // One record; the instants are seconds since the zero date.
    void Record(int64_t connect, int64_t end, int32_t units, int32_t adjust, int32_t offset) {
        SetOpen(false);
        // As the meter counts: the first unit by the tariff of the moment the call was seen
        // (the router's connect time less the adjustment), the units one after another from
        // the connect instant on the computer's clock (the router's plus the offset), each by
        // the tariff of the moment it begins; the uncharged ones are passed over.
        const int64_t seen = connect - adjust;
        int64_t t = connect + offset;
        // A connection logged in two records (a restart) continues where the first left off.
        // Each connection is remembered once, so any match is the one.
        size_t slot = kRemembered;
        for (size_t i = 0; i < kRemembered; ++i)
            if (connects_[i] == connect) slot = i;
        const bool resumed = slot < kRemembered;
        // One call however many records it was logged in.
        if (!resumed) ++check_.calls;
        if (resumed) t = nexts_[slot];
        bool first = !resumed;
        int64_t counted = 0, guard = 0;
        while (counted < units && guard++ < 1000000) {
            const int64_t bandAt = first ? seen : t;
            if (bandAt < holidayDay_.from || bandAt >= holidayDay_.from + kDaySecs)
                holiday_ = IsHoliday(settings_, holidayDay_.Move(bandAt));
            const Tariff tariff =
                TariffAt(settings_, holiday_, static_cast<int32_t>(bandAt - holidayDay_.from));
            const bool charged = ChargedWithFlatRateService(tariff.mode) || settings_.teleho == 0;
            // Units the log holds beyond the call's end fall at its end.
            const int64_t at = first ? seen : t > end ? end : t;
            first = false;
            if (charged) {
                ++counted;
                if (at >= todayFrom_ && at < todayFrom_ + kDaySecs) ++check_.fromLog.day;
                if (at < periodDay_.from || at >= periodDay_.from + kDaySecs) {
                    const Date marker = PeriodMarker(settings_.telstday, periodDay_.Move(at));
                    period_ = static_cast<uint8_t>((marker == current_ ? kCurrent : 0) |
                                                   (marker == previous_ ? kPrevious : 0));
                }
                if (period_ & kCurrent) ++check_.fromLog.month;
                if (period_ & kPrevious) ++check_.fromLog.previous;
            }
            if (tariff.unitSecs <= 0) break;
            t += tariff.unitSecs;
        }
        if (!resumed) {
            slot = oldest_;
            oldest_ = (oldest_ + 1) % kRemembered;
            connects_[slot] = connect;
            if (firstCount_ < kRemembered) firstConnects_[firstCount_++] = connect;
        }
        nexts_[slot] = t;
    }

    static std::array<int64_t, kRemembered> Unremembered() {
        std::array<int64_t, kRemembered> none;
        none.fill(INT64_MIN);  // no instant of a date
        return none;
    }

    // The calls of a day come one after another: what depends on the day is looked up once
    // for each, and whether an instant is still in it needs no division.
    struct Day {
        int64_t from = INT64_MIN;  // its first instant; none yet
        Date Move(int64_t instant) {
            const int64_t day = FloorDiv(instant, kDaySecs);
            from = day * kDaySecs;
            return SerialToDate(static_cast<int32_t>(day));
        }
    };
    static constexpr uint8_t kCurrent = 1, kPrevious = 2;

    const Settings& settings_;
    TotalsCheck& check_;
    const int64_t todayFrom_;  // 05:00 of the accounting day of now
    const Date current_, previous_;
    // The last connections: the router's connect instant, the key of a connection, and where
    // its next unit begins.
    std::array<int64_t, kRemembered> connects_ = Unremembered();
    std::array<int64_t, kRemembered> nexts_{};
    size_t oldest_ = 0;
    // The first connections met, for a part read from the middle.
    std::array<int64_t, kRemembered> firstConnects_{};
    size_t firstCount_ = 0;
    bool openTold_ = false;  // a line said whether a call is open
    std::array<char, 10> dateText_{};
    int64_t dateDay_ = 0;
    bool dateValid_ = false;
    Day holidayDay_, periodDay_;
    bool holiday_ = false;
    uint8_t period_ = 0;
};

// Calls take(lf) for every LF in [from, stop), in order, until it returns false. The lines are
// short: 64 bytes are looked at together, which hold about one.
template <class Take>
void ForEachLf(const char* from, const char* stop, Take take) {
#if defined(__SSE2__)
    const __m128i lfs = _mm_set1_epi8('\n');
    auto lfMask = [&lfs](const char* at) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        return static_cast<uint64_t>(
            static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, lfs))));
    };
    for (; stop - from >= 64; from += 64) {
        uint64_t mask = lfMask(from) | lfMask(from + 16) << 16 | lfMask(from + 32) << 32 |
                        lfMask(from + 48) << 48;
        for (; mask != 0; mask &= mask - 1)
            if (!take(from + std::countr_zero(mask))) return;
    }
#endif
    for (; from < stop; ++from)
        if (*from == '\n' && !take(from)) return;
}

// The lines of the log that start at offsets from `from` up to `last` (a line is read by the
// part it starts in), a piece at a time, each in place; reader is at from. done counts the
// bytes read before `counted`. False when cancelled.
bool ReadPart(datafile::PieceReader& reader, uint64_t from, uint64_t last, uint64_t counted,
              Rebuild& rebuild, const TotalsScan& scan, std::atomic<uint64_t>& done,
              const std::function<void()>& report) {
    // The system copies into a place on a 64-byte line several times faster than elsewhere
    // (as fast as cat reads): every piece is read to one, the unfinished line just before it.
    constexpr size_t kLine = 64;
    auto aligned = [](size_t n) { return (n + kLine - 1) / kLine * kLine; };
    const size_t piece = std::max<size_t>(scan.pieceBytes, 1);
    const size_t capacity = aligned(kMaxLineBytes) + aligned(piece);
    const std::unique_ptr<char[]> buffer(new char[capacity + kLine]);
    char* const base = buffer.get() + (kLine - reinterpret_cast<uintptr_t>(buffer.get()) % kLine);
    size_t start = 0, kept = 0;  // the unfinished line, without an LF
    // The rest of a line too long to be a record, or of one that began before the part.
    bool skipping = from > 0;
    uint64_t offset = from;  // of the next byte read
    bool past = false;       // a line starting beyond the part was met
    auto lineStart = [&](const char* p, const char* fresh) {
        return static_cast<uint64_t>(static_cast<int64_t>(offset) + (p - fresh));
    };
    while (!past) {
        if (scan.cancel != nullptr && scan.cancel->load(std::memory_order_relaxed)) return false;
        size_t at = aligned(start + kept);
        if (at + piece > capacity) at = aligned(kept);
        if (at != start + kept) {
            std::memmove(base + at - kept, base + start, kept);
            start = at - kept;
        }
        char* const fresh = base + at;
        const std::ptrdiff_t n = reader.Read(fresh, piece);
        if (n <= 0) break;
        if (offset < counted) done += std::min(static_cast<uint64_t>(n), counted - offset);
        const char* p = base + start;
        ForEachLf(fresh, fresh + n, [&](const char* lf) {
            const auto length = static_cast<size_t>(lf - p);
            if (skipping) {
                skipping = false;
            } else if (lineStart(p, fresh) > last) {
                past = true;
                return false;
            } else if (length >= kMaxLineBytes) {
                rebuild.LongLine(std::string_view(p, length));
            } else {
                rebuild.Line(std::string_view(p, length));
            }
            p = lf + 1;
            return true;
        });
        kept = static_cast<size_t>(fresh + n - p);
        start = static_cast<size_t>(p - base);
        if (!past && !skipping && kept >= kMaxLineBytes) {
            if (lineStart(p, fresh) > last) {
                past = true;
            } else {
                rebuild.LongLine(std::string_view(p, kept));
                skipping = true;
            }
        }
        if (skipping || past) kept = 0;
        offset += static_cast<uint64_t>(n);
        if (report) report();
    }
    // The last line may have no line end.
    if (kept > 0 && offset - kept <= last) rebuild.Line(std::string_view(base + start, kept));
    return true;
}

// Reads the whole log. A long one is read in two halves at once, the later one on a thread
// of its own, and the figures added up; in the rare case that a connection logged before the
// middle goes on after it, the later half is read again after the first.
bool ReadLog(const std::string& logPath, Rebuild& rebuild, Rebuild& later, const TotalsScan& scan) {
    datafile::PieceReader reader;
    // A log that is missing or cannot be read holds no calls.
    if (reader.Open(logPath) != datafile::ReadResult::Ok) return true;
    const uint64_t size = reader.Size();
    std::atomic<uint64_t> done{0};
    auto report = [&] {
        if (!scan.progress) return;
        const uint64_t bytes = done.load();
        scan.progress(bytes, std::max(bytes, size));
    };
    constexpr uint64_t kWhole = UINT64_MAX;
    if (scan.splitBytes == 0 || size < std::max<uint64_t>(scan.splitBytes, 2))
        return ReadPart(reader, 0, kWhole, kWhole, rebuild, scan, done, report);

    const uint64_t middle = size / 2;
    bool laterRead = false, laterEnded = false;
    std::mutex mutex;
    std::condition_variable ended;
    std::thread second([&] {
        datafile::PieceReader own;
        const bool read = own.Open(logPath) == datafile::ReadResult::Ok && own.Seek(middle) &&
                          ReadPart(own, middle, kWhole, kWhole, later, scan, done, {});
        const std::lock_guard<std::mutex> lock(mutex);
        laterRead = read;
        laterEnded = true;
        ended.notify_all();
    });
    const bool read = ReadPart(reader, 0, middle, middle, rebuild, scan, done, report);
    // The progress goes on while the later half is still read.
    for (std::unique_lock<std::mutex> lock(mutex);
         !ended.wait_for(lock, std::chrono::milliseconds(50), [&] { return laterEnded; });) {
        if (!read) continue;
        lock.unlock();
        report();
        lock.lock();
    }
    second.join();
    if (!read) return false;
    report();
    if (laterRead && later.FollowsOn(rebuild)) {
        later.AddTo(rebuild.Figures());
        return true;
    }
    if (scan.cancel != nullptr && scan.cancel->load()) return false;
    std::atomic<uint64_t> again{0};  // counted already
    return reader.Seek(middle) &&
           ReadPart(reader, middle, kWhole, kWhole, rebuild, scan, again, report);
}

}  // namespace

TotalsCheck CheckTotals(const std::string& logPath, const std::string& dataPath,
                        const Settings& settings, const LocalTime& now, const TotalsScan& scan) {
    TotalsCheck check, laterHalf;
    Rebuild rebuild(settings, now, check), later(settings, now, laterHalf);
    if (!ReadLog(logPath, rebuild, later, scan)) {
        check.cancelled = true;
        return check;
    }
    const Date current = rebuild.Current();
    const Date previous = rebuild.Previous();

    totals::TotalsLine file;
    switch (totals::ReadTotalsFile(dataPath, file)) {
        case totals::ReadResult::Ok:
            check.fromFile = TotalsFigures{
                totals::SameAccountingDay(file.dayNumber, file.marker, settings.telstday, now)
                    ? file.dayUnits
                    : 0,
                file.marker == current    ? file.monthUnits
                : file.marker == previous ? 0
                                          : file.monthUnits,
                file.marker == current    ? file.prevMonthUnits
                : file.marker == previous ? file.monthUnits
                                          : file.prevMonthUnits};
            break;
        // The meter starts from nothing then, and so does the comparison.
        case totals::ReadResult::Missing:
            check.fromFile = TotalsFigures{};
            check.fileTrouble = "ありません";
            break;
        case totals::ReadResult::Unreadable: check.fileTrouble = "読めません"; break;
        case totals::ReadResult::Bad: check.fileTrouble = "形式が違います"; break;
    }
    auto clamp = [](int64_t n) {
        return static_cast<int32_t>(std::min<int64_t>(n, totals::kMaxCount));
    };
    check.rebuilt =
        totals::TotalsLine{clamp(check.fromLog.month), totals::DayNumber(now),
                           clamp(check.fromLog.day), current, clamp(check.fromLog.previous)};
    return check;
}

namespace {

// Columns as a terminal shows them: the program's texts are all full-width.
std::string PadLeft(const std::string& text, size_t width) {
    return std::string(text.size() < width ? width - text.size() : 0, ' ') + text;
}

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace

std::string FormatTotalsCheck(const TotalsCheck& check, const std::string& logPath,
                              const std::string& dataPath, CheckTextStyle style) {
    const bool html = style == CheckTextStyle::Html;
    const std::string dataLine = "累積ファイル: " + dataPath +
                                 (check.fileTrouble.empty() ? "" : " (" + check.fileTrouble + ")");
    std::string logLine = "通話記録: " + logPath + " (通話 " + std::to_string(check.calls) + " 件";
    if (check.unreadLines > 0) logLine += ", 読めない行 " + std::to_string(check.unreadLines);
    logLine += ")";
    const std::pair<const char*, int64_t TotalsFigures::*> rows[] = {
        {"当日累積", &TotalsFigures::day},
        {"当月累積", &TotalsFigures::month},
        {"先月累積", &TotalsFigures::previous}};
    auto fileFigure = [&](int64_t TotalsFigures::*field) {
        return check.fromFile ? std::to_string((*check.fromFile).*field) : std::string("-");
    };
    std::string verdict = check.Agrees() ? "一致しています" : "一致しません";
    const std::string open = check.callOpen ? "記録中の通話は通話の終わりに数えます" : "";

    if (html) {
        std::string out = "<div>" + Escape(dataLine) + "<br>" + Escape(logLine) +
                          "<table cellspacing=\"0\" cellpadding=\"1\"><tr><td></td>"
                          "<td align=\"right\">&nbsp;&nbsp;累積ファイル</td>"
                          "<td align=\"right\">&nbsp;&nbsp;通話記録から</td></tr>";
        for (const auto& [name, field] : rows)
            out += std::string("<tr><td>") + name + "</td><td align=\"right\">" +
                   fileFigure(field) + "</td><td align=\"right\">" +
                   std::to_string(check.fromLog.*field) + "</td></tr>";
        out += "</table>" + verdict;
        if (!open.empty()) out += "<br>" + open;
        return out + "</div>";
    }
    // Eight columns of label, then two right-aligned figures of twelve under their headings.
    std::string out = dataLine + "\n" + logLine + "\n" + "          累積ファイル  通話記録から\n";
    for (const auto& [name, field] : rows)
        out += std::string(name) + "  " + PadLeft(fileFigure(field), 12) + "  " +
               PadLeft(std::to_string(check.fromLog.*field), 12) + "\n";
    out += verdict + "\n";
    if (!open.empty()) out += open + "\n";
    return out;
}

bool RepairTotals(const TotalsCheck& check, const std::string& dataPath, const LocalTime& now,
                  std::string* kept) {
    std::string old;
    if (datafile::ReadAll(dataPath, old) == datafile::ReadResult::Ok) {
        const std::string backup = dataPath + ".bak-" + totals::Stamp(now);
        if (!datafile::ReplaceWhole(backup, old)) return false;
        if (kept) *kept = backup;
    }
    return datafile::ReplaceWhole(dataPath, totals::FormatTotalsLine(check.rebuilt));
}

}  // namespace kv
