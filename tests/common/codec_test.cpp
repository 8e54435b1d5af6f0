// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "common/cp932.h"
#include "common/datetime.h"

namespace kv {
namespace {

TEST(Cp932, RoundTripsTheProgramsOwnTexts) {
    for (const char* text : {"端末型", "ﾃﾚﾎｰﾀﾞｲ", "Ver 0.66β", "使用方法.htm", "回線種別:ISDN",
                             "B1チャネル", "漢字コードが違います。SJISにして下さい", "a\\b"}) {
        const std::string bytes = cp932::EncodeFromUtf8(text);
        EXPECT_EQ(cp932::DecodeToUtf8(bytes), text) << text;
    }
}

TEST(Cp932, KnownByteValues) {
    // Backslash stays 0x5C (shown as the yen sign by Japanese fonts), half-width katakana are
    // single bytes, kanji two bytes.
    EXPECT_EQ(cp932::EncodeFromUtf8("\\"), "\x5C");
    EXPECT_EQ(cp932::DecodeToUtf8("\x5C"), "\\");
    EXPECT_EQ(cp932::EncodeFromUtf8("ﾃ"), "\xC3");
    EXPECT_EQ(cp932::EncodeFromUtf8("端"), "\x92\x5B");
    EXPECT_EQ(cp932::EncodeFromUtf8("β"), "\x83\xC0");
}

// Characters only the Windows code page has, or maps its own way, both ways; and every lead
// byte up to 0xFC starts a pair.
TEST(Cp932, WindowsCodePageCharactersBothWays) {
    const struct {
        const char* bytes;
        const char* text;
    } cases[] = {
        {"\x81\x60", "～"},  // the wave dash is the full-width tilde here
        {"\x81\x5F", "＼"},
        {"\x81\x91", "￠"},
        {"\x81\x92", "￡"},
        {"\x81\xCA", "￢"},
        {"\x81\x7C", "－"},  // the full-width minus
        {"\x87\x40", "①"},
        {"\x87\x54", "Ⅰ"},
        {"\x87\x82", "№"},  // NEC specials
        {"\xFA\x5C", "纊"},
        {"\xFA\x40", "ⅰ"},
        {"\xFA\x55", "￤"},
        {"\xFC\x4B", "黑"},
        {"\xF0\x40", "\xEE\x80\x80"},  // the user-defined area, to U+E000
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(cp932::DecodeToUtf8(c.bytes), c.text);
        EXPECT_EQ(cp932::EncodeFromUtf8(c.text), c.bytes);
    }
    // The NEC-selected copy of the IBM characters reads the same and is written as IBM's.
    EXPECT_EQ(cp932::DecodeToUtf8("\xED\x40"), "纊");
    for (int b = 0xE0; b <= 0xFC; ++b)
        EXPECT_TRUE(cp932::IsLeadByte(static_cast<unsigned char>(b))) << b;
    for (int b : {0x80, 0xA0, 0xA1, 0xDF, 0xFD, 0xFE, 0xFF})
        EXPECT_FALSE(cp932::IsLeadByte(static_cast<unsigned char>(b))) << b;
}

TEST(Cp932, UndecodableBytesSurviveARoundTrip) {
    // A lone lead byte, an invalid pair and a cut-off lead byte at the end.
    const std::string raw(
        "A\x81\x0D"
        "B\x80\xFF\x82",
        7);
    const std::u16string text = cp932::Decode(raw);
    EXPECT_EQ(text.size(), 7u);
    EXPECT_TRUE(cp932::IsRawByte(text[1]));
    EXPECT_EQ(text[2], u'\r');
    EXPECT_EQ(cp932::Encode(text), raw);
}

TEST(Cp932, ZeroBytesAreCharacters) {
    const std::u16string t = cp932::Decode(std::string("ab\0\0", 4));
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[2], u'\0');
}

TEST(Cp932, UnmappableCharactersBecomeQuestionMarks) {
    EXPECT_EQ(cp932::EncodeFromUtf8("a😀b"), "a??b");  // a surrogate pair: two units
}

TEST(Utf, InvalidUtf8DoesNotCrash) {
    const std::u16string t = Utf8ToUtf16(std::string("\xE3\x81", 2));
    EXPECT_EQ(t.size(), 2u);
    EXPECT_EQ(Utf16ToUtf8(u"\xD800"), "\xEF\xBF\xBD");
}

TEST(Dates, RollOverLikeCalendarArithmetic) {
    EXPECT_EQ(MakeDate(2026, 2, 30), (Date{2026, 3, 2}));
    EXPECT_EQ(MakeDate(2026, 12, 0), (Date{2026, 11, 30}));
    EXPECT_EQ(MakeDate(2026, 12, -1), (Date{2026, 11, 29}));
    EXPECT_EQ(MakeDate(2027, 0, 14), (Date{2026, 12, 14}));
    EXPECT_EQ(MakeDate(2026, 13, 1), (Date{2027, 1, 1}));
    EXPECT_EQ(MakeDate(2024, 2, 29), (Date{2024, 2, 29}));
    EXPECT_EQ(DateToSerial(Date{1899, 12, 30}), 0);
    EXPECT_EQ(SerialToDate(DateToSerial(Date{2026, 12, 7})), (Date{2026, 12, 7}));
}

TEST(Dates, LeapYearsKeepTheCenturyRule) {
    for (const auto& [year, leap] : {std::pair{2024, true},
                                     {2026, false},
                                     {2000, true},
                                     {1900, false},
                                     {2100, false},
                                     {2400, true}}) {
        EXPECT_EQ(IsValidDate(year, 2, 29), leap) << year;
        EXPECT_EQ(MakeDate(year, 3, 0), (Date{year, 2, leap ? 29 : 28})) << year;
    }
}

TEST(Dates, WeekdaysCountSundayAsOne) {
    EXPECT_EQ(Weekday(Date{2026, 12, 6}), 1);  // Sunday
    EXPECT_EQ(Weekday(Date{2026, 12, 7}), 2);  // Monday
    EXPECT_EQ(Weekday(Date{2026, 12, 5}), 7);  // Saturday
    EXPECT_EQ(Weekday(Date{1899, 12, 30}), 7);
}

TEST(Dates, Formats) {
    EXPECT_EQ(FormatDate(Date{2026, 1, 5}), "2026/01/05");
    EXPECT_EQ(FormatTime(TimeOfDay{9, 5, 7}), "09:05:07");
    EXPECT_EQ(FormatYymmdd(Date{1999, 12, 31}), "991231");
    EXPECT_EQ(TimeOfDay::FromSeconds(-1), (TimeOfDay{23, 59, 59}));
}

}  // namespace
}  // namespace kv
