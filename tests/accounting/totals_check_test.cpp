// SPDX-License-Identifier: GPL-3.0-or-later
#include "accounting/totals_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <string>
#include <vector>

#include "support/fakes.h"

namespace kv::test {
namespace {

// Now is Monday 2026/12/07 12:00; periods start on the 1st (this one's marker 2026/11/30, the
// previous one's 2026/10/31); three-minute daytime units, four at night.
const LocalTime kNow{Date{2026, 12, 7}, TimeOfDay{12, 0, 0}};

Settings TestSettings(int16_t teleho = 0) {
    Settings s;
    s.seca = 180;
    s.secb = 240;
    s.secc = 240;
    s.telstday = 1;
    s.teleho = teleho;
    s.holiday = kDefaultHolidays;
    s.HolidayTable = SplitHolidays(s.holiday);
    return s;
}

// A record as the meter writes it.
std::string Tel(const std::string& date, const std::string& time, const std::string& endDate,
                const std::string& endTime, int units, int adjust = 0, int offset = 0) {
    return "\"Tel\",\"" + date + "\",\"" + time + "\",\"" + endDate + "\",\"" + endTime +
           "\",\"00:05:00\",300," + std::to_string(units) + "," + std::to_string(adjust) + "," +
           std::to_string(offset) + "\r\n";
}

struct Figures {
    int calls = 0, unread = 0;
    bool open = false;
    int64_t day = 0, month = 0, previous = 0;
    friend bool operator==(const Figures&, const Figures&) = default;
};

std::ostream& operator<<(std::ostream& out, const Figures& f) {
    return out << "calls " << f.calls << ", unread " << f.unread << ", open " << f.open << ", day "
               << f.day << ", month " << f.month << ", previous " << f.previous;
}

Figures FiguresOf(const TotalsCheck& check) {
    return Figures{check.calls,       check.unreadLines,   check.callOpen,
                   check.fromLog.day, check.fromLog.month, check.fromLog.previous};
}

class TotalsCheckTest : public ::testing::Test {
  protected:
    std::string WriteLog(const std::string& bytes) {
        std::ofstream(log_, std::ios::binary | std::ios::trunc) << bytes;
        return log_;
    }

    std::string dir_ = MakeTempDir();
    std::string log_ = dir_ + "/Kestrovan.log";
    std::string dat_ = dir_ + "/Kestrovan.dat";
};

struct Case {
    const char* name;
    std::string log;
    Figures want;
    int16_t teleho = 0;
};

// Each kind of line, odd ones included, with the figures the whole-file reading gave.
const std::vector<Case>& Cases() {
    const std::string sjis = "\x92\xCA\x98\x62";  // "通話" in CP932
    static const std::vector<Case> cases = {
        {"as written, units past the end fall at the end",
         "\"Connect\",\"2026/12/07\",\"09:00:00\",0,0\r\n"
         "\"DisConnect\",\"2026/12/07\",\"09:01:15\",\"00:01:15\",75,3,0,0\r\n" +
             Tel("2026/12/07", "09:00:00", "2026/12/07", "09:01:15", 3),
         {1, 0, false, 3, 3, 0}},
        {"a unit begun before 05:00 is the day before's",
         Tel("2026/12/07", "04:58:00", "2026/12/07", "05:06:00", 3),
         {1, 0, false, 2, 3, 0}},
        {"the first unit where the call was seen, unclamped",
         Tel("2026/12/07", "05:05:00", "2026/12/07", "05:20:00", 2, 600),
         {1, 0, false, 1, 2, 0}},
        {"the offset moves the later units",
         Tel("2026/12/07", "04:55:00", "2026/12/07", "05:20:00", 2, 0, 120),
         {1, 0, false, 1, 2, 0}},
        {"a restart's second record goes on where the first left off",
         Tel("2026/11/30", "23:55:00", "2026/11/30", "23:58:00", 1) +
             Tel("2026/11/30", "23:55:00", "2026/12/01", "00:10:00", 2),
         {1, 0, false, 0, 1, 2}},
        {"also with another call logged between",
         Tel("2026/11/30", "23:55:00", "2026/11/30", "23:58:00", 1) +
             Tel("2026/10/05", "10:00:00", "2026/10/05", "10:01:00", 1) +
             Tel("2026/11/30", "23:55:00", "2026/12/01", "00:10:00", 2),
         {2, 0, false, 0, 1, 2}},
        {"periods before the previous one count nowhere",
         Tel("2026/09/30", "10:00:00", "2026/09/30", "10:10:00", 4),
         {1, 0, false, 0, 0, 0}},
        {"flat rate: the night's units are passed over",
         Tel("2026/12/07", "00:10:00", "2026/12/07", "06:00:00", 2),
         {1, 0, false, 2, 2, 0},
         1},
        {"the same without the service",
         Tel("2026/12/07", "00:10:00", "2026/12/07", "06:00:00", 2),
         {1, 0, false, 0, 2, 0}},
        {"a comma inside quotes, bare values, quotes inside a value",
         "\"Tel\",\"2026/12/07\",\"11:00:00\",\"2026/12/07\",\"11:01:00\",\"00,01\",60,1,0,0\r\n"
         "Tel,2026/12/07,11:10:00,2026/12/07,11:11:00,00:01:00,60,1,0,0\r\n"
         "\"Tel\",\"2026/12/07\",\"11:20:00\",\"2026/12/07\",\"11:21:00\",0\"0:01:0\"0,60,1,0,0\r\n"
         "\"T\"el,2026/12/07,11:30:00,2026/12/07,11:31:00,\"\",60,1,0,0\r\n",
         {4, 0, false, 4, 4, 0}},
        {"an unclosed quote, one value too many or too few",
         "\"Tel\",\"2026/12/07\",\"11:30:00\",\"2026/12/07\",\"11:31:00\",\"00:01,60,1,0,0\r\n"
         "\"Tel\",\"2026/12/07\",\"11:40:00\",\"2026/12/07\",\"11:41:00\",\"\",60,1,0,0,0\r\n"
         "\"Tel\",\"2026/12/07\",\"11:50:00\",\"2026/12/07\",\"11:51:00\",60,1,0,0\r\n",
         {0, 3, false, 0, 0, 0}},
        {"lenient dates, times and numbers",
         "\"Tel\",\" 2026/12/7\",\"12:00:00\",\"2026/12/07x\",\"12:05:00\",\"\",300, 2,+1,-0\r\n"
         "\"Tel\",\"+2026/12/07\",\"12:1a:00\",\"2026/12/07\",\"12:15:00\",\"\",300,03,0,0\r\n"
         "\"Tel\",\"2026/12/07\",\"12:20:00\",\"2026/12/07\",\"12:25:00\",\"\",300,1,\t4 ,0\r\n",
         {3, 0, false, 6, 6, 0}},
        {"numbers, dates and times as the meter never writes them",
         "\"Tel\",\"2026/12/07\",\"12:30:00\",\"2026/12/07\",\"12:35:00\",\"\",300,+2,0,0\r\n"
         "\"Tel\",\"2026/12/07\",\"12:40:00\",\"2026/12/07\",\"12:45:00\",\"\",300,"
         "0000000003,0,0\r\n"
         "\"Tel\",\"2026/12/07\",\"12:50:00\",\"2026/12/07\",\"12:55:00\",\"\",300,004,0,-0\r\n"
         "\"Tel\",\"2026/12/07\",\"12:50:00\",\"2026/12/07\",\"12:55:00\",\"\",300,4,0,0 \r\n"
         "\"Tel\",\"2026/12/07\",\"12:1a:00\",\"2026/12/07\",\"12:15:00\",\"\",300,3,0,0\r\n"
         "\"Tel\",\"2026/12/07\",\"12:59:60\",\"2026/12/07\",\"13:15:00\",\"\",300,3,0,0\r\n"
         "\"Tel\",\"2026/12/0a\",\"12:20:00\",\"2026/12/07\",\"12:25:00\",\"\",300,3,0,0\r\n"
         "\"Tel\",\"2026/12/7 \",\"12:30:00\",\"2026/12/07\",\"12:35:00\",\"\",300,1,0,0\r\n" +
             Tel("2026/12/07", "12:58:00", "2026/12/07", "12:59:00", 1) + std::string(1, '\0') +
             "\r\n",
         {5, 3, false, 18, 18, 0}},
        {"numbers and dates that are none",
         "\"Tel\",\"2026/12/07\",\"12:00:00\",\"2026/12/07\",\"12:05:00\",\"\",300,3x,0,0\r\n"
         "\"Tel\",\"2026/12/07\",\"12:00:00\",\"2026/12/07\",\"12:05:00\",\"\",300,,0,0\r\n"
         "\"Tel\",\"2026/12/07\",\"12:00:00\",\"2026/12/07\",\"12:05:00\",\"\",300,-1,0,0\r\n"
         "\"Tel\",\"2026/13/07\",\"12:00:00\",\"2026/12/07\",\"12:05:00\",\"\",300,1,0,0\r\n"
         "\"Tel\",\"2026/12/07\",\"24:00:00\",\"2026/12/07\",\"12:05:00\",\"\",300,1,0,0\r\n"
         "\"Tel\",\"2026/12/07\",\"9:00:00\",\"2026/12/07\",\"12:05:00\",\"\",300,1,0,0\r\n"
         "\"Tel\",\"2026/12/07\",\"12:00:00\",\"2026/12/07\",\"12:05:00\",\"\",300,1,0,-\r\n",
         {0, 7, false, 0, 0, 0}},
        {"counts of every length",
         "\"Tel\",\"2026/12/07\",\"14:00:00\",\"2026/12/07\",\"14:01:00\",\"\",1234567,1,0,0\r\n"
         "\"Tel\",\"2026/12/07\",\"14:10:00\",\"2026/12/07\",\"14:11:00\",\"\",12345678,1,0,0\r\n"
         "\"Tel\",\"2026/12/07\",\"14:20:00\",\"2026/12/07\",\"14:21:00\",\"\",123456789,1,0,"
         "0\r\n"
         "\"Tel\",\"2026/12/07\",\"14:30:00\",\"2026/12/07\",\"14:31:00\",\"\",60,0000002,"
         "-3600,-7200\r\n",
         {4, 0, false, 5, 5, 0}},
        {"a count beyond 32 bits saturates; a million units at most",
         "\"Tel\",\"2026/12/07\",\"12:00:00\",\"2026/12/07\",\"12:05:00\",\"\",300,"
         "99999999999,0,0\r\n",
         {1, 0, false, 1000000, 1000000, 0}},
        {"line ends",
         "\r\n\n\r\n   \r\n\r\r\n" + Tel("2026/12/07", "13:00:00", "2026/12/07", "13:05:00", 2) +
             "\"Tel\",\"2026/12/07\",\"13:10:00\",\"2026/12/07\",\"13:15:00\",\"\",300,2,0,0\r\r\n"
             "\"Tel\",\"2026/12/07\",\"13:20:00\",\"2026/12/07\",\"13:25:00\",\"\",300,2,0,0\n" +
             "\"Tel\",\"2026/12/07\",\"13:30:00\",\"2026/12/07\",\"13:35:00\",\"" +
             std::string(1, '\0') + "\",300,2,0,0\r\n" +
             "\"Tel\",\"2026/12/07\",\"13:40:00\",\"2026/12/07\",\"13:45:00\",\"\",300,2,0,0",
         {4, 3, false, 8, 8, 0}},
        {"a call still open",
         Tel("2026/12/07", "14:00:00", "2026/12/07", "14:05:00", 1) +
             "\"Connect\",\"2026/12/07\",\"15:00:00\",0,0\r\n"
             "\"DisConnect\",\"2026/12/07\",\"15:05:00\",\"00:05:00\",300,2,0,0\r\n",
         {1, 0, true, 1, 1, 0}},
        {"opened in other spellings", "Connect,2026/12/07,15:00:00,0,0\r\n", {0, 0, true, 0, 0, 0}},
        {"opened alone", "\"Connect\"\r\n", {0, 0, true, 0, 0, 0}},
        {"closed by its record",
         "\"Connect\",\"2026/12/07\",\"15:00:00\",0,0\r\n" +
             Tel("2026/12/07", "15:00:00", "2026/12/07", "15:05:00", 2),
         {1, 0, false, 2, 2, 0}},
        {"CP932 text",
         "\"Tel\",\"2026/12/07\",\"16:00:00\",\"2026/12/07\",\"16:05:00\",\"" + sjis +
             "\",300,2,0,0\r\n" + sjis + "\r\n\"Connect\",\"" + sjis + "\",0,0\r\n",
         {1, 1, true, 2, 2, 0}},
        // Read as bytes, "17:00:0" and a lead byte would be a time.
        {"a byte of a double-byte character where a digit belongs",
         "\"Tel\",\"2026/12/07\",\"17:00:0\x81\",\"2026/12/07\",\"17:05:00\",\"\",300,2,0,0\r\n",
         {0, 1, false, 0, 0, 0}},
    };
    return cases;
}

TEST_F(TotalsCheckTest, EveryKindOfLineCountsAsItAlwaysDid) {
    for (const Case& c : Cases()) {
        const TotalsCheck check = CheckTotals(WriteLog(c.log), dat_, TestSettings(c.teleho), kNow);
        EXPECT_EQ(FiguresOf(check), c.want) << c.name;
        EXPECT_FALSE(check.cancelled);
    }
}

// Whichever byte a piece of the file ends at (inside a value, between CR and LF, just after
// the LF), the figures are the same.
TEST_F(TotalsCheckTest, PiecesEndingAnywhereGiveTheSameFigures) {
    for (const Case& c : Cases()) {
        if (c.want.day >= 1000000) continue;  // a million units a time is slow enough once
        WriteLog(c.log);
        for (size_t piece = 1; piece <= c.log.size() + 1; ++piece) {
            TotalsScan scan;
            scan.pieceBytes = piece;
            const TotalsCheck check = CheckTotals(log_, dat_, TestSettings(c.teleho), kNow, scan);
            ASSERT_EQ(FiguresOf(check), c.want) << c.name << ", pieces of " << piece;
        }
    }
}

// A long log is read in two halves at once: wherever the middle falls (inside a line, between
// a connection's two records, between a call's opening and its record), the figures are the
// same.
TEST_F(TotalsCheckTest, HalvesMeetingAnywhereGiveTheSameFigures) {
    for (const Case& c : Cases()) {
        if (c.want.day >= 1000000) continue;
        for (size_t padding = 0; padding <= c.log.size() + 1; padding += 2) {
            TotalsScan scan;
            scan.splitBytes = 1;
            // Empty lines before or after move the middle through the whole log, a byte a step.
            for (const std::string& log : {std::string(padding, '\n') + c.log,
                                           c.log + "\r\n" + std::string(padding, '\n')}) {
                WriteLog(log);
                const TotalsCheck check =
                    CheckTotals(log_, dat_, TestSettings(c.teleho), kNow, scan);
                ASSERT_EQ(FiguresOf(check), c.want) << c.name << ", middle at " << log.size() / 2;
            }
        }
    }
}

// No record is a MiB long: such a line is one unread line however it falls into pieces, a
// call opened by one still counts as open, and the lines after it are read.
TEST_F(TotalsCheckTest, LinesTooLongForARecordAreSkippedWhole) {
    const std::string huge(size_t{3} << 19, 'x');  // 1.5 MiB
    const std::string record = Tel("2026/12/07", "10:00:00", "2026/12/07", "10:05:00", 2);
    const std::string later = Tel("2026/12/07", "10:10:00", "2026/12/07", "10:15:00", 2);
    const Case cases[] = {
        {"junk", record + huge + "\r\n" + later, {2, 1, false, 4, 4, 0}},
        {"a record with a huge value",
         "\"Tel\",\"2026/12/07\",\"10:00:00\",\"2026/12/07\",\"10:05:00\",\"" + huge +
             "\",300,2,0,0\r\n" + record,
         {1, 1, false, 2, 2, 0}},
        {"a call opened", record + "\"Connect\",\"" + huge + "\",0,0\r\n", {1, 0, true, 2, 2, 0}},
        {"the last line without its end", record + huge, {1, 1, false, 2, 2, 0}},
    };
    for (const Case& c : cases) {
        WriteLog(c.log);
        for (const size_t piece : {size_t{4096}, huge.size() - 1, huge.size(), huge.size() + 1,
                                   (size_t{1} << 20) - 1, size_t{1} << 20}) {
            TotalsScan scan;
            scan.pieceBytes = piece;
            EXPECT_EQ(FiguresOf(CheckTotals(log_, dat_, TestSettings(), kNow, scan)), c.want)
                << c.name << ", pieces of " << piece;
        }
    }
}

// The progress goes up to the log's length; a cancel stops the reading at the next piece and
// leaves nothing that could be taken for a result.
TEST_F(TotalsCheckTest, ProgressAndCancel) {
    for (const uint64_t split : {uint64_t{0}, uint64_t{1}}) {
        SCOPED_TRACE(split ? "in two halves" : "whole");
        std::string log;
        for (int call = 0; call < 2000; ++call)
            log += Tel("2026/12/07", "10:00:00", "2026/12/07", "10:05:00", 1);
        WriteLog(log);
        std::ofstream(dat_, std::ios::binary) << "2000,7,2000,\"2026/11/30\",0\r\n";

        std::atomic<bool> cancel{false};
        std::vector<uint64_t> done;
        TotalsScan scan;
        scan.pieceBytes = 4096;
        scan.splitBytes = split;
        scan.cancel = &cancel;
        scan.progress = [&](uint64_t bytes, uint64_t total) {
            EXPECT_EQ(total, log.size());
            done.push_back(bytes);
        };
        TotalsCheck check = CheckTotals(log_, dat_, TestSettings(), kNow, scan);
        EXPECT_FALSE(check.cancelled);
        EXPECT_TRUE(check.Agrees()) << FormatTotalsCheck(check, log_, dat_);
        ASSERT_FALSE(done.empty());
        EXPECT_TRUE(std::is_sorted(done.begin(), done.end()));
        EXPECT_EQ(done.back(), log.size());

        done.clear();
        scan.progress = [&](uint64_t bytes, uint64_t) {
            done.push_back(bytes);
            if (done.size() == 3) cancel = true;
        };
        check = CheckTotals(log_, dat_, TestSettings(), kNow, scan);
        EXPECT_TRUE(check.cancelled);
        EXPECT_EQ(done.size(), 3u);
        EXPECT_GT(check.calls, 0);
        EXPECT_LT(check.calls, 2000);
        EXPECT_FALSE(check.fromFile);
        EXPECT_FALSE(check.Agrees());

        check = CheckTotals(log_, dat_, TestSettings(), kNow, scan);  // cancelled before it began
        EXPECT_TRUE(check.cancelled);
        EXPECT_EQ(check.calls, 0);
    }
}

}  // namespace
}  // namespace kv::test
