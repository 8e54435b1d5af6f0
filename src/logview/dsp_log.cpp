#include "logview/dsp_log.h"

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <type_traits>
#include <filesystem>
#include <system_error>

#include "common/cp932.h"
#include "common/data_file.h"
#include "logview/log_text.h"

namespace kv::logview {
namespace {

constexpr size_t kBlockBytes = size_t{1} << 20;
constexpr size_t kChunkBytes = size_t{4} << 20;
// A call-summary line is under 100 bytes; anything this long is not a log line, and keeping
// it whole would let a garbage file without line ends take all memory.
constexpr size_t kMaxLineBytes = size_t{1} << 20;
constexpr size_t kKeyWidth = 10;

enum class ReadResult { Complete, Missing, Unopenable, Broken };

bool IsAscii(std::string_view bytes) {
    for (const char ch : bytes) {
        if (static_cast<unsigned char>(ch) >= 0x80) return false;
    }
    return true;
}

// Calls onLine for every line of the file, without its CR LF (a lone LF also ends a line).
template <class OnLine>
ReadResult ReadLines(const std::string& path, OnLine&& onLine) {
    std::error_code error;
    if (!std::filesystem::exists(datafile::FsPath(path), error)) return ReadResult::Missing;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(datafile::OpenForReading(path),
                                                         &std::fclose);
    if (!file) return ReadResult::Unopenable;

    auto emit = [&onLine](std::string_view line) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        onLine(line);
    };
    auto keep = [](std::string& pending, std::string_view piece) {
        if (pending.size() < kMaxLineBytes) {
            pending.append(piece.substr(0, kMaxLineBytes - pending.size()));
        }
    };

    std::vector<char> block(kBlockBytes);
    std::string pending;  // a line cut by the end of a block
    bool inPending = false;
    size_t total = 0;
    for (;;) {
        const size_t got = std::fread(block.data(), 1, block.size(), file.get());
        if (got == 0) break;
        total += got;
        const std::string_view data(block.data(), got);
        size_t start = 0;
        while (start < got) {
            const void* found = std::memchr(data.data() + start, '\n', got - start);
            if (found == nullptr) {
                keep(pending, data.substr(start));
                inPending = true;
                break;
            }
            const size_t end = static_cast<size_t>(static_cast<const char*>(found) - data.data());
            if (inPending) {
                keep(pending, data.substr(start, end - start));
                emit(pending);
                pending.clear();
                inPending = false;
            } else {
                emit(data.substr(start, end - start));
            }
            start = end + 1;
        }
    }
    if (inPending) emit(pending);
    if (std::ferror(file.get())) return total == 0 ? ReadResult::Unopenable : ReadResult::Broken;
    return ReadResult::Complete;
}

std::string Message(ReadResult result, const std::string& path) {
    switch (result) {
        case ReadResult::Complete: return {};
        case ReadResult::Missing: return "接続ログがありません: " + path;
        case ReadResult::Unopenable: return "接続ログを読めません: " + path;
        case ReadResult::Broken: return "接続ログを最後まで読めません: " + path;
    }
    return {};
}

// Collects what the displays need from the call-summary lines, in file order. Totals are kept
// as runs of consecutive lines with the same key: the displays sum exactly such runs.
class Scanner {
  public:
    Scanner(bool details, int keyChars) : details_(details), keyChars_(keyChars) {}

    void Line(std::string_view bytes) {
        // "Tel" in the decoded text is always "Tel" in the bytes too; the reverse is not
        // true of a double-byte character, so a line with such characters is decoded first.
        if (bytes.find("Tel") == std::string_view::npos) return;
        if (IsAscii(bytes)) {
            Tel<char>(bytes);
            return;
        }
        line16_ = cp932::Decode(bytes);
        if (std::u16string_view(line16_).find(u"Tel") != std::u16string_view::npos) {
            Tel<char16_t>(line16_);
        }
    }

    LogList lines;
    std::vector<PeriodTotal> runs;

  private:
    template <class C>
    void Tel(std::basic_string_view<C> line) {
        Fields<C> field;
        SplitFields(line, field, kMaxFields);
        if (details_) {
            std::basic_string<C>& out = Scratch<C>();
            out.clear();
            const C bar = C('|');
            out.append(field[2]).push_back(bar);
            out.append(field[3]).push_back(bar);
            out.append(field[4].size() > 5 ? field[4].substr(5) : std::basic_string_view<C>{})
                .push_back(bar);
            out.append(field[5]).push_back(bar);
            out.append(field[6]).push_back(bar);
            AppendPadLeft(out, field[7], 4);
            out.push_back(bar);
            AppendPadLeft(out, field[8], 4);
            out.push_back(bar);
            AppendPadLeft(out, field[9], 4);
            out.push_back(bar);
            AppendPadLeft(out, field[10], 4);
            if constexpr (std::is_same_v<C, char>) {
                lines.Add(out);
            } else {
                lines.Add(Utf16ToUtf8(out));
            }
        }
        // Other kinds leave the key of the previous line in place.
        if (keyChars_ >= 0) {
            const auto key = field[2].substr(
                0, std::min<size_t>(static_cast<size_t>(keyChars_), field[2].size()));
            if constexpr (std::is_same_v<C, char>) {
                current_.assign(key);
            } else {
                current_ = Utf16ToUtf8(key);
            }
            if (key.size() < kKeyWidth) current_.append(kKeyWidth - key.size(), ' ');
        }
        const int64_t units = NumericValue(field[8]);
        if (!runs.empty() && runs.back().key == current_) {
            runs.back().units = SaturatingAdd(runs.back().units, units);
        } else {
            runs.push_back({current_, units});
        }
    }

    template <class C>
    std::basic_string<C>& Scratch() {
        if constexpr (std::is_same_v<C, char>) {
            return scratch8_;
        } else {
            return scratch16_;
        }
    }

    bool details_;
    int keyChars_;
    std::string current_;
    std::string scratch8_;
    std::u16string scratch16_;
    std::u16string line16_;
};

// Walks the runs from the newest: a run joins the previous one when the keys match or while
// the key is still blank, otherwise the previous total is listed.
std::vector<PeriodTotal> TotalsNewestFirst(const std::vector<PeriodTotal>& runs) {
    const std::string blank(kKeyWidth, ' ');
    std::vector<PeriodTotal> totals;
    std::string key = blank;
    int64_t total = 0;
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        if (key == run->key || key == blank) {
            total = SaturatingAdd(total, run->units);
        } else {
            totals.push_back({key, total});
            total = run->units;
        }
        key = run->key;
    }
    totals.push_back({key, total});
    return totals;
}

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

}  // namespace

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

LogDisplay DspLog1(const std::string& logPath) {
    Scanner scanner(true, KeyChars(1));
    const ReadResult result =
        ReadLines(logPath, [&scanner](std::string_view line) { scanner.Line(line); });
    LogDisplay display;
    display.message = Message(result, logPath);
    display.lines = std::move(scanner.lines);
    display.lines.Reverse();
    if (!scanner.runs.empty()) display.totals = TotalsNewestFirst(scanner.runs);
    return display;
}

LogDisplay DspLog2(const std::string& logPath, int kind) {
    Scanner scanner(false, KeyChars(kind));
    const ReadResult result =
        ReadLines(logPath, [&scanner](std::string_view line) { scanner.Line(line); });
    LogDisplay display;
    display.message = Message(result, logPath);
    if (result == ReadResult::Missing || result == ReadResult::Unopenable) return display;
    display.totals = TotalsNewestFirst(scanner.runs);
    for (const PeriodTotal& total : display.totals)
        display.lines.Add(TotalsLine(total.key, total.units));
    return display;
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

std::string CsvFromList(const LogList& lines) {
    std::string csv;
    for (size_t row = 0; row < lines.size(); ++row) {
        std::string_view line = lines[row];
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
    return csv;
}

}  // namespace kv::logview
