// SPDX-License-Identifier: GPL-3.0-or-later
// The viewer's rows, totals and CSV on a set of awkward logs, compared with a recorded file
// (tests/data/golden/logview.txt). A change that alters any byte the user sees shows here;
// re-record (KV_UPDATE_GOLDEN=1) only in a commit of its own that says why.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "logview/dsp_log.h"

namespace kv::logview {
namespace {

namespace fs = std::filesystem;

uint64_t Fnv(std::string_view bytes) {
    uint64_t hash = 1469598103934665603ull;
    for (const char ch : bytes) hash = (hash ^ static_cast<unsigned char>(ch)) * 1099511628211ull;
    return hash;
}

std::string Tel(const std::string& date, const std::string& start, const std::string& units,
                const std::string& end = "\r\n") {
    return "\"Tel\",\"" + date + "\",\"" + start + "\",\"" + date +
           "\",\"10:15:30\",\"00:15:27\",927," + units + ",-4,-2" + end;
}

std::string Call(const std::string& date, const std::string& start, const std::string& units) {
    return "\"Connect\",\"" + date + "\",\"" + start + "\",-4,-2\r\n\"DisConnect\",\"" + date +
           "\",\"10:15:30\",\"00:15:27\",927," + units + ",-4,-2\r\n" + Tel(date, start, units);
}

// Days of well-formed calls with every kind of damage sprinkled in: cut lines, bytes inserted
// (line ends, quotes, commas, CP932 pairs), lone CR or LF ends; long enough that lines straddle
// the reading blocks many times.
std::string Damaged(uint32_t seed, size_t calls) {
    std::mt19937 random(seed);
    std::string log;
    const char* junk[] = {"\r", "\n", "\"", ",", "\x83\x54", "\x82\x51", "Tel", "|", " ", "\r\r\n"};
    for (size_t call = 0; call < calls; ++call) {
        const int day = 1 + static_cast<int>(call / 37 % 28);
        const int month = 1 + static_cast<int>(call / 1000 % 12);
        char date[16];
        std::snprintf(date, sizeof date, "20%02d/%02d/%02d", static_cast<int>(20 + call / 12000),
                      month, day);
        std::string piece = Call(date, "10:00:05", std::to_string(random() % 30));
        switch (random() % 12) {
            case 0: piece.resize(random() % piece.size()); break;
            case 1: piece.insert(random() % piece.size(), junk[random() % 10]); break;
            case 2: piece[piece.size() - 2] = '\n'; break;
            case 3: piece.pop_back(); break;
            default: break;
        }
        log += piece;
    }
    return log;
}

struct Case {
    const char* name;
    std::string bytes;
    bool full;  // every row written out; otherwise counts and hashes
};

std::vector<Case> Cases() {
    const std::string year = "\x82\x51\x82\x4f\x82\x51\x82\x55\x94\x4e";  // ２０２６年
    std::vector<Case> cases;
    cases.push_back({"empty", "", true});
    cases.push_back({"no_calls", "\"Connect\",\"2026/12/06\",\"10:00:05\",-4,-2\r\n", true});
    cases.push_back({"no_final_line_end",
                     Call("2026/12/06", "10:00:05", "4") + Call("2026/12/06", "11:00:00", "3") +
                         Tel("2026/12/07", "09:00:00", "2", ""),
                     true});
    cases.push_back({"broken_lines",
                     "\"Tel\",\"2026/12/05\"\r\n"
                     "\"Tel\",\"2026/12/05\",\"10:00:05\",\"12/0\",\"x\",\"y\",abc,four,\",\r\n"
                     "\"Tel\r\n\r\n\n\r"
                     "Tel,2026/12/05,1,2,3,4,5,6,7,8,9,10,11\r\n"
                     "\"Tel\",\"2026/12/05\",\"a,b\",\"2026/12/05\",\"10:15:30\",\"00:15:27\","
                     "927,1,-4,-2\r\n"
                     "xTelx\r\n\"Tel\",\"" +
                         year +
                         "12/06\",\"10:00:05\",\"\x83\x54\x83\x54\x83\x54\x83\x54\x83\x54\","
                         "\"10:15:30\",\"00:15:27\",927,4,-4,-2\r\n"
                         "\"Connect\",\"\x83\x54\x65l\",3\r\n" +
                         Tel("2026/12/07", "09:00:00", "-5") + Tel("", "09:00:00", "99999999999") +
                         Tel("2026/12/07", "09:00:00", "2", "\r\r\n") + "\"Tel\",\"2026/12/0\x82",
                     true});
    // Longer than any line the reader keeps whole: only its first MiB is looked at.
    cases.push_back({"overlong_lines",
                     Call("2026/12/06", "10:00:05", "4") + std::string((1u << 20) + 5, 'x') +
                         Tel("2026/12/06", "11:00:00", "3") + Tel("2026/12/06", "12:00:00", "5") +
                         std::string((1u << 20) - 3, 'y') + "\r\n" + Tel("2026/12/08", "1", "1") +
                         std::string(3u << 20, 'z') + Tel("2026/12/09", "1", "1"),
                     false});
    cases.push_back({"damaged", Damaged(7, 60000), false});
    return cases;
}

void Rows(std::ostringstream& out, const char* what, const LogList& lines, bool full) {
    out << what << ": " << lines.size() << " rows";
    if (full) {
        out << "\n";
        for (size_t row = 0; row < lines.size(); ++row) out << "  [" << lines[row] << "]\n";
        return;
    }
    uint64_t hash = Fnv("");
    for (size_t row = 0; row < lines.size(); ++row) hash = hash * 31 + Fnv(lines[row]);
    out << ", hash " << std::hex << hash << std::dec;
    if (!lines.empty())
        out << ", first [" << lines[0] << "], last [" << lines[lines.size() - 1] << "]";
    out << "\n";
}

std::string Describe(const std::string& path, bool full) {
    std::ostringstream out;
    const LogDisplay detail = DspLog1(path);
    out << "message: [" << detail.message << "]\n";
    Rows(out, "detail", detail.lines, full);
    const std::string csv = CsvFromList(detail.lines);
    out << "detail csv: " << csv.size() << " bytes, hash " << std::hex << Fnv(csv) << std::dec
        << "\n";
    out << "chart: " << detail.totals.size() << " days";
    for (size_t index = 0; index < detail.totals.size() && index < 5; ++index) {
        out << " [" << detail.totals[index].key << "=" << detail.totals[index].units << "]";
    }
    out << "\n";
    for (const int kind : {1, 2, 3, 4, 7}) {
        const LogDisplay totals = DspLog2(path, kind);
        Rows(out, ("totals " + std::to_string(kind)).c_str(), totals.lines, full);
        out << "totals " << kind << " csv hash " << std::hex << Fnv(CsvFromList(totals.lines))
            << std::dec << "\n";
    }
    return out.str();
}

// A long log's totals are summed in two halves at once; split anywhere, they are the same.
void ExpectSameTotalsInHalves(const std::string& path, const char* name) {
    for (const int kind : {1, 2, 3, 4, 7}) {
        ScanControl halves;
        halves.splitBytes = 1;
        EXPECT_EQ(ScanLog(path, kind, halves).totals, ScanLog(path, kind).totals)
            << name << ", kind " << kind;
    }
}

TEST(ViewerGoldenTest, RowsTotalsAndCsvOfAwkwardLogs) {
    // Its own folder, so runs of two builds at once do not write over each other's logs.
    const fs::path folder =
        fs::temp_directory_path() / ("kv_viewer_golden_" + std::to_string(std::random_device{}()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::string got;
    for (const Case& c : Cases()) {
        const fs::path path = folder / (std::string(c.name) + ".log");
        std::ofstream(path, std::ios::binary) << c.bytes;
        got += "== " + std::string(c.name) + "\n" + Describe(path.string(), c.full);
        ExpectSameTotalsInHalves(path.string(), c.name);
    }
    fs::remove_all(folder);

    const std::string golden = std::string(KV_TEST_DATA_DIR) + "/golden/logview.txt";
    if (const char* update = std::getenv("KV_UPDATE_GOLDEN"); update && std::string(update) == "1")
        std::ofstream(golden, std::ios::binary) << got;
    std::ifstream in(golden, std::ios::binary);
    const std::string want((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(want.empty()) << "no golden file " << golden << " (KV_UPDATE_GOLDEN=1 records it)";
    if (got != want) {
        size_t at = 0;
        while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
        const size_t from =
            want.rfind('\n', at) == std::string::npos ? 0 : want.rfind('\n', at) + 1;
        FAIL() << "differs at byte " << at << "\n  golden: " << want.substr(from, 200)
               << "\n  now:    " << got.substr(from, 200);
    }
}

}  // namespace
}  // namespace kv::logview
