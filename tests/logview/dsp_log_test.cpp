// SPDX-License-Identifier: GPL-3.0-or-later
#include "logview/dsp_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "logview/log_text.h"

namespace kv::logview {
namespace {

namespace fs = std::filesystem;

class DspLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ =
            fs::temp_directory_path() /
            ("kv_logview_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        path_ = (folder_ / "Kestrovan.log").string();
    }
    void TearDown() override { fs::remove_all(folder_); }

    void Write(const std::string& bytes) {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out << bytes;
    }

    fs::path folder_;
    std::string path_;
};

std::vector<std::string> ToVector(const LogList& list) {
    std::vector<std::string> lines;
    for (size_t index = 0; index < list.size(); ++index) lines.emplace_back(list[index]);
    return lines;
}

// The three lines the program writes for one finished call.
std::string Call(const std::string& date, const std::string& start, int units, int seconds = 927) {
    const std::string s = std::to_string(seconds);
    const std::string u = std::to_string(units);
    return "\"Connect\",\"" + date + "\",\"" + start + "\",-4,-2\r\n" + "\"DisConnect\",\"" + date +
           "\",\"10:15:30\",\"00:15:27\"," + s + "," + u + ",-4,-2\r\n" + "\"Tel\",\"" + date +
           "\",\"" + start + "\",\"" + date + "\",\"10:15:30\",\"00:15:27\"," + s + "," + u +
           ",-4,-2\r\n";
}

std::string Totals(const std::string& key, const std::string& units) {
    return key + "|        |     |        |        |    |" + units + "|";
}

TEST_F(DspLogTest, DetailLineOfAFinishedCall) {
    Write(Call("2026/12/06", "10:00:05", 4));
    const LogDisplay display = DspLog1(path_);
    EXPECT_EQ(display.message, "");
    EXPECT_EQ(ToVector(display.lines),
              std::vector<std::string>{
                  "2026/12/06|10:00:05|12/06|10:15:30|00:15:27| 927|   4|  -4|  -2"});
    EXPECT_EQ(display.totals, (std::vector<PeriodTotal>{{"2026/12/06", 4}}));
}

TEST_F(DspLogTest, LogWithoutFinishedCalls) {
    Write(
        "\"Connect\",\"2026/12/06\",\"10:00:05\",-4,-2\r\n"
        "\"DisConnect\",\"2026/12/06\",\"10:15:30\",\"00:15:27\",927,4,-4,-2\r\n");
    const LogDisplay detail = DspLog1(path_);
    EXPECT_TRUE(detail.lines.empty());
    EXPECT_TRUE(detail.totals.empty());
    EXPECT_EQ(detail.message, "");
    for (int kind = 1; kind <= 4; ++kind) {
        EXPECT_EQ(ToVector(DspLog2(path_, kind).lines),
                  std::vector<std::string>{Totals("          ", "   0")})
            << "kind " << kind;
    }
    Write("");
    EXPECT_EQ(ToVector(DspLog2(path_, 2).lines),
              std::vector<std::string>{Totals("          ", "   0")});
}

// A program restarted twice during one call logs it in three records, each measured from the
// connect: the list and its CSV show one call, its whole length and every unit. Records that
// only look alike (another connect second, or no later end) stay apart.
TEST_F(DspLogTest, OneConnectionInSeveralRecordsIsOneCall) {
    const auto tel = [](const std::string& connect, const std::string& end, int secs, int units) {
        return "\"Tel\",\"2026/12/07\",\"" + connect + "\",\"2026/12/07\",\"" + end +
               "\",\"00:00:00\"," + std::to_string(secs) + "," + std::to_string(units) + ",0,0\r\n";
    };
    Write(tel("09:00:00", "09:00:40", 40, 2) + "\"Connect\",\"2026/12/07\",\"10:00:00\",0,0\r\n" +
          "\"DisConnect\",\"2026/12/07\",\"10:00:15\",\"00:00:15\",15,1,0,0\r\n" +
          tel("10:00:00", "10:00:15", 15, 1) + tel("10:00:00", "10:00:20", 20, 1) +
          tel("10:00:00", "10:00:33", 33, 2) + tel("10:00:00", "10:00:33", 33, 5) +
          tel("10:05:00", "10:06:00", 60, 3));
    const LogDisplay detail = DspLog1(path_);
    EXPECT_EQ(ToVector(detail.lines),
              (std::vector<std::string>{
                  "2026/12/07|10:05:00|12/07|10:06:00|00:00:00|  60|   3|   0|   0",
                  "2026/12/07|10:00:00|12/07|10:00:33|00:00:00|  33|   5|   0|   0",
                  "2026/12/07|10:00:00|12/07|10:00:33|00:00:00|  33|   4|   0|   0",
                  "2026/12/07|09:00:00|12/07|09:00:40|00:00:00|  40|   2|   0|   0"}));
    EXPECT_EQ(detail.totals, (std::vector<PeriodTotal>{{"2026/12/07", 14}}));
    EXPECT_NE(
        CsvFromList(detail.lines).find("2026/12/07,10:00:00,12/07,10:00:33,00:00:00,33,4,0,0"),
        std::string::npos);
}

TEST_F(DspLogTest, TotalsPerDayMonthYearNewestFirst) {
    Write(Call("2025/11/30", "23:00:00", 5) + Call("2026/12/06", "10:00:05", 4) +
          Call("2026/12/06", "18:00:00", 3) + Call("2026/12/07", "09:00:00", 2));
    EXPECT_EQ(ToVector(DspLog2(path_, 1).lines),
              (std::vector<std::string>{Totals("2026/12/07", "   2"), Totals("2026/12/06", "   7"),
                                        Totals("2025/11/30", "   5")}));
    EXPECT_EQ(
        ToVector(DspLog2(path_, 2).lines),
        (std::vector<std::string>{Totals("2026/12   ", "   9"), Totals("2025/11   ", "   5")}));
    EXPECT_EQ(
        ToVector(DspLog2(path_, 3).lines),
        (std::vector<std::string>{Totals("2026      ", "   9"), Totals("2025      ", "   5")}));
    // Kind 4 keys by the century: everything falls together.
    EXPECT_EQ(ToVector(DspLog2(path_, 4).lines),
              std::vector<std::string>{Totals("20        ", "  14")});
    // A kind outside 1..4 never sets a key: one line with a blank key.
    EXPECT_EQ(ToVector(DspLog2(path_, 7).lines),
              std::vector<std::string>{Totals("          ", "  14")});

    const LogDisplay detail = DspLog1(path_);
    ASSERT_EQ(detail.lines.size(), 4u);
    EXPECT_EQ(detail.lines[0].substr(0, 19), "2026/12/07|09:00:00");
    EXPECT_EQ(detail.lines[3].substr(0, 19), "2025/11/30|23:00:00");
    EXPECT_EQ(detail.totals,
              (std::vector<PeriodTotal>{{"2026/12/07", 2}, {"2026/12/06", 7}, {"2025/11/30", 5}}));
}

TEST_F(DspLogTest, OnlyConsecutiveLinesOfAPeriodAreSummed) {
    // A log appended out of date order (a clock set back) lists the period twice.
    Write(Call("2026/12/06", "10:00:00", 1) + Call("2026/12/07", "10:00:00", 2) +
          Call("2026/12/06", "11:00:00", 4));
    EXPECT_EQ(ToVector(DspLog2(path_, 1).lines),
              (std::vector<std::string>{Totals("2026/12/06", "   4"), Totals("2026/12/07", "   2"),
                                        Totals("2026/12/06", "   1")}));
}

TEST_F(DspLogTest, WideNumbersShiftTheColumnsAndTotalsDoNotWrap) {
    Write(Call("2026/12/06", "10:00:05", 2147483647, 12345) +
          Call("2026/12/06", "11:00:00", 2147483647, 12345));
    const LogDisplay detail = DspLog1(path_);
    ASSERT_EQ(detail.lines.size(), 2u);
    EXPECT_EQ(detail.lines[0],
              "2026/12/06|11:00:00|12/06|10:15:30|00:15:27|12345|2147483647|  -4|  -2");
    EXPECT_EQ(ToVector(DspLog2(path_, 1).lines),
              std::vector<std::string>{Totals("2026/12/06", "4294967294")});
}

TEST_F(DspLogTest, ShortStartDateKeysByWhatThereIs) {
    Write(
        "\"Tel\",\"2026/1\",\"10:00:05\",\"2026/12/06\",\"10:15:30\",\"00:15:27\",927,3,-4,-2\r\n"
        "\"Tel\",\"\",\"10:00:05\",\"2026/12/06\",\"10:15:30\",\"00:15:27\",927,5,-4,-2\r\n");
    // The newest line has a blank key, which joins the older one's total under the older key.
    EXPECT_EQ(ToVector(DspLog2(path_, 2).lines),
              std::vector<std::string>{Totals("2026/1    ", "   8")});
    EXPECT_EQ(ToVector(DspLog2(path_, 3).lines),
              (std::vector<std::string>{Totals("2026      ", "   8")}));
}

TEST_F(DspLogTest, GarbledAndTruncatedLines) {
    Write(
        "\"Tel\",\"2026/12/05\"\r\n"                                                 // cut short
        "\"Tel\",\"2026/12/05\",\"10:00:05\",\"12/0\",\"x\",\"y\",abc,four,\",\r\n"  // junk
                                                                                     // numbers,
                                                                                     // lone quote
        "\"Tel\r\n"                                   // only a quote opened
        "Tel,2026/12/05,1,2,3,4,5,6,7,8,9,10,11\r\n"  // unquoted, extra fields
        "\"Tel\",\"2026/12/05\",\"a,b\",\"2026/12/05\",\"10:15:30\",\"00:15:27\",927,1,-4,-2\r\n");
    const LogDisplay detail = DspLog1(path_);
    EXPECT_EQ(ToVector(detail.lines),
              (std::vector<std::string>{
                  "2026/12/05|||2026/12/05|10:15:30|00:15:27| 927|   1|  -4",
                  "2026/12/05|1||3|4|   5|   6|   7|   8",
                  "|||||    |    |    |    ",
                  "2026/12/05|10:00:05||x|y| abc|four|    |    ",
                  "2026/12/05|||||    |    |    |    ",
              }));
    // Units that are not numbers count as 0. The quoted comma shifts the newest line's fields
    // by one, so its seconds are taken as units; the blank-keyed line splits the day in two.
    EXPECT_EQ(
        ToVector(DspLog2(path_, 1).lines),
        (std::vector<std::string>{Totals("2026/12/05", " 933"), Totals("2026/12/05", "   0")}));
}

TEST_F(DspLogTest, LineEndsAndBlockBoundaries) {
    // LF alone, a last line without an end, and enough calls that lines straddle the reading
    // blocks (a CR at the end of one block and its LF at the start of the next among them).
    std::string log;
    int expected = 0;
    while (log.size() < 3 * (1u << 20) + 1000) {
        log += Call("2026/12/06", "10:00:05", 1);
        ++expected;
        if (expected % 5 == 0) log += "x";  // moves the boundaries around
    }
    // One line ends exactly at the first block's end with CR, the LF opening the next block.
    const size_t block = 1u << 20;
    const size_t cut = log.rfind("\r\n", block);
    log.insert(cut, std::string(block - 1 - cut, ' '));
    ASSERT_EQ(log[block - 1], '\r');
    ASSERT_EQ(log[block], '\n');
    log +=
        "\"Tel\",\"2026/12/07\",\"10:00:05\",\"2026/12/"
        "07\",\"10:15:30\",\"00:15:27\",927,3,-4,-2\n";
    log +=
        "\"Tel\",\"2026/12/08\",\"10:00:05\",\"2026/12/08\",\"10:15:30\",\"00:15:27\",927,4,-4,-2";
    Write(log);

    const LogDisplay detail = DspLog1(path_);
    ASSERT_EQ(detail.lines.size(), static_cast<size_t>(expected + 2));
    EXPECT_EQ(detail.lines[0], "2026/12/08|10:00:05|12/08|10:15:30|00:15:27| 927|   4|  -4|  -2");
    EXPECT_EQ(detail.lines[1], "2026/12/07|10:00:05|12/07|10:15:30|00:15:27| 927|   3|  -4|  -2");
    size_t wellFormed = 0;
    for (size_t index = 2; index < detail.lines.size(); ++index) {
        const std::string_view line = detail.lines[index];
        wellFormed +=
            line == "2026/12/06|10:00:05|12/06|10:15:30|00:15:27| 927|   1|  -4|  -2" ? 1 : 0;
    }
    // The stray "x" glued to a Connect line is harmless; only Tel lines count.
    EXPECT_EQ(wellFormed, static_cast<size_t>(expected));
    EXPECT_EQ(ToVector(DspLog2(path_, 1).lines),
              (std::vector<std::string>{Totals("2026/12/08", "   4"), Totals("2026/12/07", "   3"),
                                        Totals("2026/12/06", std::to_string(expected))}));
}

TEST_F(DspLogTest, JapaneseTextIsCountedInCharacters) {
    // "２０２６年" in CP932, then a line where the bytes "Tel" only appear as the second byte of
    // a double-byte character ("サ" is 0x83 0x54) followed by "el": not a summary line.
    const std::string year = "\x82\x51\x82\x4f\x82\x51\x82\x55\x94\x4e";
    Write("\"Tel\",\"" + year +
          "12/06\",\"10:00:05\",\"\x83\x54\x83\x54\x83\x54\x83\x54\x83\x54\x83\x54\"," +
          "\"10:15:30\",\"00:15:27\",927,4,-4,-2\r\n" + "\"Connect\",\"\x83\x54\x65l\",3\r\n");
    const LogDisplay detail = DspLog1(path_);
    EXPECT_EQ(ToVector(detail.lines),
              std::vector<std::string>{
                  "２０２６年12/06|10:00:05|サ|10:15:30|00:15:27| 927|   4|  -4|  -2"});
    EXPECT_EQ(ToVector(DspLog2(path_, 3).lines),
              std::vector<std::string>{Totals("２０２６      ", "   4")});
}

TEST_F(DspLogTest, MissingOrUnreadableLog) {
    const LogDisplay missing = DspLog1(path_);
    EXPECT_TRUE(missing.lines.empty());
    EXPECT_EQ(missing.message, "接続ログがありません: " + path_);
    const LogDisplay missingTotals = DspLog2(path_, 1);
    EXPECT_TRUE(missingTotals.lines.empty());
    EXPECT_TRUE(missingTotals.totals.empty());
    EXPECT_EQ(missingTotals.message, missing.message);

    fs::create_directories(path_);  // a folder where the log should be
    const LogDisplay folder = DspLog2(path_, 1);
    EXPECT_TRUE(folder.lines.empty());
    EXPECT_EQ(folder.message, "接続ログを読めません: " + path_);
}

// The reading starts at the log's end and hands over the rows a window at a time, so the
// newest calls can be listed at once; stopped midway it says so and lists nothing more.
TEST_F(DspLogTest, ReadingFromTheEndInBlocksAndStopping) {
    std::string log;
    constexpr int kCalls = 70000;  // more than one block of the index, several read windows
    for (int call = 0; call < kCalls; ++call) {
        char start[16];
        std::snprintf(start, sizeof start, "%02d:%02d:%02d", call / 3600 % 24, call / 60 % 60,
                      call % 60);
        log += Call("2026/12/06", start, 1 + call % 7);
    }
    Write(log);
    const uint64_t newest = log.rfind("\"Tel\"");

    std::vector<uint64_t> rows;
    std::vector<size_t> batches;
    uint64_t lastDone = 0;
    bool steady = true;
    ScanControl control;
    control.onRows = [&](const uint64_t* offsets, size_t count) {
        rows.insert(rows.end(), offsets, offsets + count);
        batches.push_back(count);
    };
    control.onProgress = [&](uint64_t done, uint64_t total) {
        steady = steady && done >= lastDone && total == log.size();
        lastDone = done;
    };
    const ScanResult whole = ScanLog(path_, 0, control);
    EXPECT_EQ(whole.message, "");
    EXPECT_FALSE(whole.cancelled);
    ASSERT_EQ(rows.size(), static_cast<size_t>(kCalls));
    EXPECT_EQ(rows.front(), newest);
    EXPECT_TRUE(std::is_sorted(rows.rbegin(), rows.rend()));
    EXPECT_GT(batches.size(), 5u);
    EXPECT_TRUE(steady);
    EXPECT_EQ(lastDone, log.size());
    EXPECT_EQ(DetailRow(log.substr(newest, log.find('\n', newest) - newest)),
              DspLog1(path_).lines[0]);

    std::atomic<bool> stop{false};
    size_t seen = 0;
    control.cancelled = &stop;
    control.onRows = [&](const uint64_t*, size_t count) {
        seen += count;
        stop = true;
    };
    const ScanResult stopped = ScanLog(path_, 0, control);
    EXPECT_TRUE(stopped.cancelled);
    EXPECT_EQ(stopped.message, "");
    EXPECT_EQ(seen, batches.front());
}

TEST(LogTextTest, SplitFieldsAndStripQuotes) {
    using View = std::string_view;
    EXPECT_EQ(StripQuotes(View("\"")), "");
    EXPECT_EQ(StripQuotes(View("\"\"")), "");
    EXPECT_EQ(StripQuotes(View("\"abc")), "ab");  // the last character goes, whatever it is
    EXPECT_EQ(StripQuotes(View("abc\"")), "abc\"");
    EXPECT_EQ(StripQuotes(std::u16string_view(u"\"日付\"")), u"日付");

    Fields<char> fields;
    EXPECT_EQ(SplitFields(View("\"a,b\",c,"), fields, 10), 4);
    EXPECT_EQ(fields[1], "");  // quotes do not protect a comma: "a and b" are the fields
    EXPECT_EQ(fields[2], "b\"");
    EXPECT_EQ(fields[3], "c");
    EXPECT_EQ(fields[4], "");
    EXPECT_EQ(SplitFields(View("1,2,3,4"), fields, 2), 2);
    EXPECT_EQ(fields[2], "2");
    EXPECT_EQ(fields[3], "");  // emptied before the split, not left from the last line
    EXPECT_EQ(SplitFields(View(""), fields, 10), 1);

    EXPECT_EQ(PadLeft(View("12"), 4), "  12");
    EXPECT_EQ(PadLeft(View("12345"), 4), "12345");
    EXPECT_EQ(NumericValue(View(" -12ab")), -12);
    EXPECT_EQ(NumericValue(View("x1")), 0);
    EXPECT_EQ(NumericValue(View("99999999999999999999999999")),
              NumericValue(View("999999999999999999999999999999")));
}

TEST(LogTextTest, SelectedSumIndexIsTheLowestSelected) {
    EXPECT_EQ(SelectedSumIndex({false, false, false, false}), 4);
    EXPECT_EQ(SelectedSumIndex({false, true, false, true}), 1);
    EXPECT_EQ(SelectedSumIndex({true, true, true, true}), 0);
}

TEST(LogTextTest, CsvRowsFromListLines) {
    LogList list;
    list.Add("2026/12/06|10:00:05|12/06|10:15:30|00:15:27| 927|   4|  -4|  -2");
    list.Add(Totals("2026/12   ", "  57"));
    list.Add("a\"b|c,d|");
    EXPECT_EQ(CsvFromList(list),
              "2026/12/06,10:00:05,12/06,10:15:30,00:15:27,927,4,-4,-2\r\n"
              "2026/12,,,,,,57\r\n"
              "\"a\"\"b\",\"c,d\"\r\n");
}

TEST(LogTextTest, LogListKeepsLinesAcrossBuffers) {
    LogList list;
    const std::string longLine(300000, 'x');
    for (int index = 0; index < 40; ++index) list.Add(std::to_string(index) + longLine);
    list.Add("");
    list.Add("last");
    ASSERT_EQ(list.size(), 42u);
    EXPECT_EQ(list[39], "39" + longLine);
    EXPECT_EQ(list[41], "last");
    list.Reverse();
    EXPECT_EQ(list[0], "last");
    EXPECT_EQ(list[1], "");
    EXPECT_EQ(list[41], "0" + longLine);
}

}  // namespace
}  // namespace kv::logview
