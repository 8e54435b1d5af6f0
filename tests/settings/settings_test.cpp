// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSettings>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/time.h>
#include <sstream>

#include "platform/ini_text.h"
#include "platform/qt_settings_store.h"
#include "app/startup.h"
#include "common/trace.h"
#include "settings/reg_copy.h"
#include "settings/settings.h"
#include "support/test_rig.h"

namespace kv {
namespace {

using test::TestRig;

TEST(SettingInt, LeadingNumberRule) {
    EXPECT_EQ(ParseSettingInt("12abc").value, 12);
    EXPECT_EQ(ParseSettingInt("-1").value, -1);
    EXPECT_EQ(ParseSettingInt("abc").value, 0);
    EXPECT_FALSE(ParseSettingInt("abc").hasNumber);
    EXPECT_EQ(ParseSettingInt("").value, 0);
    EXPECT_EQ(ParseSettingInt("   180").value, 180);
    EXPECT_EQ(ParseSettingInt("+7").value, 7);
    // Halves go to the even neighbour.
    EXPECT_EQ(ParseSettingInt("2.5").value, 2);
    EXPECT_EQ(ParseSettingInt("3.5").value, 4);
    EXPECT_EQ(ParseSettingInt("-2.5").value, -2);
    EXPECT_EQ(ParseSettingInt("2.51").value, 3);
}

TEST(SettingInt, OutOfRangeIsClampedAndReported) {
    const ParsedInt big = ParseSettingInt("40000");
    EXPECT_EQ(big.value, 32767);
    EXPECT_FALSE(big.inRange);
    const ParsedInt small = ParseSettingInt("-99999999999999999999");
    EXPECT_EQ(small.value, -32768);
    EXPECT_FALSE(small.inRange);
    EXPECT_TRUE(ParseSettingInt("32767").inRange);
    EXPECT_TRUE(ParseSettingInt("-32768").inRange);
    EXPECT_FALSE(ParseSettingInt("32767.5").inRange);  // rounds to 32768
    EXPECT_EQ(FormatSettingInt(-1), "-1");
}

TEST(Password, ScrambleShiftsByPositionPlusTwo) {
    EXPECT_EQ(ScramblePassword(1, "abc").value(), "dfh");
    EXPECT_EQ(ScramblePassword(2, "dfh").value(), "abc");
    EXPECT_EQ(ScramblePassword(1, "").value(), "");
}

TEST(Password, EveryPrintablePasswordRoundTrips) {
    // Up to 20 characters: late positions push letters past 0x7F into codes that are not
    // characters of their own; they must still come back.
    std::string all;
    for (char c = ' '; c <= '~'; ++c) all += c;
    for (size_t start = 0; start < all.size(); start += 20) {
        const std::string pw = all.substr(start, 20);
        const auto s = ScramblePassword(1, pw);
        ASSERT_TRUE(s) << pw;
        EXPECT_EQ(ScramblePassword(2, *s).value(), pw) << pw;
    }
    const std::string tildes(20, '~');
    EXPECT_EQ(ScramblePassword(2, ScramblePassword(1, tildes).value()).value(), tildes);
    // Japanese characters shift by their two-byte code.
    EXPECT_EQ(ScramblePassword(2, ScramblePassword(1, "端末").value()).value(), "端末");
}

TEST(Password, UnreadableStoredTextIsRefusedNotGarbled) {
    // Codes that would go below zero cannot be unscrambled.
    EXPECT_FALSE(ScramblePassword(2, std::string("\x01", 1)));
}

TEST(Holidays, SplitAndJoin) {
    const HolidayArray t = SplitHolidays(kDefaultHolidays);
    EXPECT_EQ(t[0], " 1/ 1");
    EXPECT_EQ(t[8], " 9/15");
    EXPECT_EQ(t[12], "12/23");
    EXPECT_EQ(t[13], "");
    HolidayArray typed;
    typed[0] = "1/1";
    typed[2] = "11/ 3";
    const std::string joined = JoinHolidays(typed);
    EXPECT_EQ(joined.substr(0, 15), "  1/1     11/ 3");
    EXPECT_EQ(joined.size(), 90u);
    const HolidayArray back = SplitHolidays(joined);
    EXPECT_EQ(back[0], "  1/1");
    EXPECT_EQ(back[1], "");  // spaces only read back as empty
    EXPECT_EQ(back[2], "11/ 3");
    // A short last entry holds what is there.
    EXPECT_EQ(SplitHolidays(" 1/ 1 2/")[1], " 2/");
}

TEST(Holidays, EntryParsing) {
    EXPECT_EQ(ParseHolidayEntry("11/ 3"), (std::pair<int, int>{11, 3}));
    EXPECT_EQ(ParseHolidayEntry("  1/1"), (std::pair<int, int>{1, 1}));
    EXPECT_EQ(ParseHolidayEntry(" 2/29"), (std::pair<int, int>{2, 29}));
    EXPECT_FALSE(ParseHolidayEntry("13/ 1"));
    EXPECT_FALSE(ParseHolidayEntry(" 2/30"));
    EXPECT_FALSE(ParseHolidayEntry("ab/cd"));
    EXPECT_FALSE(ParseHolidayEntry("     "));
}

TEST(Keys, RunnerSlotsAndSections) {
    EXPECT_EQ(RunnerKey("runid", 0), "runid");
    EXPECT_EQ(RunnerKey("runstop", 3), "runstop3");
    EXPECT_EQ(SectionName("Kestrovan", "Setup"), "Kestrovan\\Setup");
    EXPECT_EQ(kSetupIntKeys.size(), 26u);
    EXPECT_STREQ(kSetupIntKeys[17].name, "linecut");
}

Settings FullRecord() {
    Settings s;
    s.sohoip = " 10.0.0.1 ";
    s.sohowp = " p,w\"~zz\\";
    int v = 1;
    for (const IntKey& k : kSetupIntKeys) {
        s.*k.field = static_cast<int16_t>(v % 2 ? -v : v);
        ++v;
    }
    s.seca = 32767;
    s.secb = -32768;
    s.HolidayTable[0] = "1/1";
    s.HolidayTable[1] = "11/ 3";
    s.HolidayTable[17] = "12/31";
    s.runid = {"C:\\Program Files\\a,b.exe", "/usr/bin/x y", "", "端末型.exe", "", ""};
    s.runenab = {1, 0, 1, 1, 0, 0};
    s.runstop = {0, 1, 1, 0, 0, 0};
    s.sizehigh = 3;
    s.rmtauto = 1;
    return s;
}

void ExpectSameRecord(const Settings& a, const Settings& b) {
    EXPECT_EQ(a.sohoip, b.sohoip);
    EXPECT_EQ(a.sohowp, b.sohowp);
    for (const IntKey& k : kSetupIntKeys) EXPECT_EQ(a.*k.field, b.*k.field) << k.name;
    for (int i = 0; i < kHolidayEntries; ++i) {
        // Stored right-aligned in five characters.
        std::string e = a.HolidayTable[i];
        if (!e.empty() && e.size() < 5) e = std::string(5 - e.size(), ' ') + e;
        EXPECT_EQ(e, b.HolidayTable[i]) << i;
    }
    for (int i = 0; i < kRunnerSlots; ++i) {
        EXPECT_EQ(a.runid[i], b.runid[i]);
        EXPECT_EQ(a.runenab[i], b.runenab[i]);
        EXPECT_EQ(a.runstop[i], b.runstop[i]);
    }
    EXPECT_EQ(a.sizehigh, b.sizehigh);
    EXPECT_EQ(a.rmtauto, b.rmtauto);
}

// Through the real QSettings backend in a temporary config folder.
TEST(RegCopy, StoreThenLoadThroughQSettingsGivesEveryFieldBack) {
    TestRig rig;
    // The rig's context keeps its memory store: the record goes through the plain copy.
    QtSettingsStore store(rig.dir + "/config");
    const Settings original = FullRecord();
    rig.cx.settings = original;
    EXPECT_TRUE(RegCopy(store, rig.cx.settings, rig.cx.trace, RegCopyDirection::Store));
    EXPECT_EQ(rig.cx.settings.ver, "Ver 0.66β");

    TestRig second;
    QtSettingsStore store2(rig.dir + "/config");
    RegCopy(store2, second.cx.settings, second.cx.trace, RegCopyDirection::Load);
    ExpectSameRecord(original, second.cx.settings);
    EXPECT_EQ(second.cx.settings.holiday.substr(0, 10), "  1/111/ 3");
    // The password is kept scrambled in the store.
    EXPECT_EQ(store2.Read("Qel", "Kestrovan\\Setup", "sohowp").value(),
              ScramblePassword(1, original.sohowp).value());
}

TEST(RegCopy, EdgeValuesRoundTripByteForByte) {
    TestRig rig;
    QtSettingsStore store(rig.dir + "/config");
    for (const std::string& v :
         {std::string("  a, b ,c  "), std::string("\"quoted\""), std::string("back\\slash\\"),
          std::string("@Invalid()"), std::string("; not a comment"), std::string("x=y"),
          std::string("ﾃﾚﾎｰﾀﾞｲ 端末型"), std::string("#hash"), std::string(" "), std::string("")}) {
        ASSERT_TRUE(store.Write("Qel", "Kestrovan\\Setup", "runid", v));
        EXPECT_EQ(store.Read("Qel", "Kestrovan\\Setup", "runid").value(), v) << v;
    }
    EXPECT_FALSE(store.Read("Qel", "Kestrovan\\Setup", "missing"));
    EXPECT_TRUE(store.HasAppKey("Qel", "Kestrovan"));
    EXPECT_FALSE(store.HasAppKey("Qel", "Orlavine"));
    EXPECT_TRUE(store.DeleteAppKey("Qel", "Kestrovan"));
    EXPECT_FALSE(store.HasAppKey("Qel", "Kestrovan"));
    EXPECT_FALSE(store.DeleteAppKey("Qel", "Kestrovan"));
}

TEST(RegCopy, EmptyStoreReadsZerosAndTheDefaultHolidays) {
    TestRig rig;
    RegCopy(rig.cx, RegCopyDirection::Load);
    const Settings& s = rig.cx.settings;
    EXPECT_EQ(s.sohoip, "");
    EXPECT_EQ(s.seca, 0);
    EXPECT_EQ(s.holiday, kDefaultHolidays);
    EXPECT_EQ(s.HolidayTable[0], " 1/ 1");
    EXPECT_EQ(s.HolidayTable[12], "12/23");
    EXPECT_EQ(s.HolidayTable[13], "");
}

TEST(RegCopy, HandEditedValuesAreReadSoundlyAndTraced) {
    TestRig rig;
    rig.store.values["Qel\\Kestrovan\\Setup\\seca"] = "99999";
    rig.store.values["Qel\\Kestrovan\\Setup\\secb"] = "12abc";
    rig.store.values["Qel\\Kestrovan\\Setup\\sohowp"] = std::string("\x01", 1);
    rig.store.values["Qel\\Kestrovan\\Variant\\rmtauto"] = "0";
    rig.cx.trace.SetPath(rig.dir + "/Kestrovan.dbg");
    rig.OpenTrace();
    // Showing the loaded switch is no click: nothing is sent to switch the router.
    int clicks = 0;
    rig.view.onCheckBoxClick = [&clicks](CheckBox, int) { ++clicks; };
    rig.view.SetCheckBox(CheckBox::ChkAutoMode, 1);
    clicks = 0;
    RegCopy(rig.cx, RegCopyDirection::Load);
    EXPECT_EQ(rig.view.CheckBoxValue(CheckBox::ChkAutoMode), 0);
    EXPECT_TRUE(rig.view.MenuChecked(MenuItem::TrayRight3));
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(rig.cx.settings.seca, 32767);
    EXPECT_EQ(rig.cx.settings.secb, 12);
    EXPECT_EQ(rig.cx.settings.sohowp, "");
    rig.cx.trace.Close("query");
    const std::string trace = rig.ReadDataFile("Kestrovan.dbg");
    EXPECT_NE(trace.find("setting err:out of range seca=99999"), std::string::npos);
    // Also with the trace off: the user is told once.
    ASSERT_EQ(rig.view.boxes.size(), 1u);
    EXPECT_EQ(rig.view.boxes[0].text,
              "次の設定値は範囲外のため丸めて使います:\nseca=99999 → 32767");
    EXPECT_NE(trace.find("sohowp"), std::string::npos);
}

// The additions of group Extra: written once switched on, so a file that never had them stays
// as the original program wrote it; then kept, also as 0, and read back.
TEST(RegCopy, ExtrasAreStoredOnceSwitchedOnAndReadBack) {
    TestRig rig;
    const std::string notify = "Qel\\Kestrovan\\Extra\\notify";
    const std::string traytip = "Qel\\Kestrovan\\Extra\\traytip";
    Settings& s = rig.cx.settings;
    ASSERT_TRUE(RegCopy(rig.cx, RegCopyDirection::Store));
    EXPECT_EQ(rig.store.values.count(notify) + rig.store.values.count(traytip), 0u);

    s.notify = 1;
    ASSERT_TRUE(RegCopy(rig.cx, RegCopyDirection::Store));
    EXPECT_EQ(rig.store.values[notify], "1");
    EXPECT_EQ(rig.store.values.count(traytip), 0u);
    s.notify = 0;
    s.traytip = 1;
    ASSERT_TRUE(RegCopy(rig.cx, RegCopyDirection::Store));
    EXPECT_EQ(rig.store.values[notify], "0");
    EXPECT_EQ(rig.store.values[traytip], "1");

    s = Settings{};
    RegCopy(rig.cx, RegCopyDirection::Load);
    EXPECT_EQ(s.notify, 0);
    EXPECT_EQ(s.traytip, 1);
}

TEST(RegCopy, AFailedStoreIsReported) {
    TestRig rig;
    rig.store.failWrites = true;
    EXPECT_FALSE(RegCopy(rig.cx, RegCopyDirection::Store));
}

TEST(FirstRun, ValuesAsStartUpAppliesThem) {
    Settings s;
    ApplyFirstRunValues(s);
    EXPECT_EQ(s.sohoip, "192.168.0.1");
    EXPECT_EQ(s.seca, 180);
    EXPECT_EQ(s.secc, 240);
    EXPECT_EQ(s.dspint, 1000);
    EXPECT_EQ(s.atcutdly, 3);
    EXPECT_EQ(s.telstday, 0);
    EXPECT_EQ(s.HolidayTable[0], "");
}

TEST(SingleValues, LoadAndSave) {
    TestRig rig;
    EXPECT_TRUE(SaveIntSetting(rig.store, "Variant", "sizehigh", 4));
    EXPECT_EQ(rig.store.values.at("Qel\\Kestrovan\\Variant\\sizehigh"), "4");
    EXPECT_EQ(LoadIntSetting(rig.store, "Variant", "sizehigh"), 4);
    EXPECT_TRUE(SaveStringSetting(rig.store, "Setup", "sohoip", "1.2.3.4", "Orlavine"));
    EXPECT_EQ(LoadStringSetting(rig.store, "Setup", "sohoip", "Orlavine"), "1.2.3.4");
    EXPECT_EQ(LoadStringSetting(rig.store, "Setup", "sohoip"), "");
}

// The settings file's text both ways against Qt's own reading and writing of it, so files of
// earlier versions read the same and ours read back in them.
TEST(SettingsFileText, ReadsWhatQtWritesAndQtReadsWhatItWrites) {
    TestRig rig;
    int n = 0;
    for (const std::string& v : {std::string("plain"),
                                 std::string("  lead and trail  "),
                                 std::string("a, b ,c"),
                                 std::string("\"quoted\""),
                                 std::string("back\\slash\\"),
                                 std::string("semi;colon"),
                                 std::string("x=y"),
                                 std::string("@at"),
                                 std::string("@@two"),
                                 std::string("@Invalid()"),
                                 std::string("ﾃﾚﾎｰﾀﾞｲ 端末型"),
                                 std::string("tab\there"),
                                 std::string("new\nline\r"),
                                 std::string("\x01"
                                             "a"),
                                 std::string("\x1f"
                                             "1"),
                                 std::string(""),
                                 std::string(" "),
                                 std::string("#hash"),
                                 std::string("%41"),
                                 std::string("\xF0\x9F\x98\x80")}) {
        SCOPED_TRACE(v);
        const QString qtFile =
            QString::fromStdString(rig.dir + "/qt" + std::to_string(++n) + ".ini");
        {
            QSettings qt(qtFile, QSettings::IniFormat);
            qt.setValue("Setup/runid", QString::fromStdString(v));
            qt.setValue("Variant/ver", "x");
        }
        std::ifstream in(qtFile.toStdString(), std::ios::binary);
        const std::string qtBytes{std::istreambuf_iterator<char>(in), {}};
        const ini::Parsed parsed = ini::Parse(qtBytes);
        EXPECT_EQ(parsed.values.at("Setup/runid"), v) << qtBytes;
        EXPECT_EQ(parsed.junkLines, 0);

        const std::string ours = ini::Format({{"Setup/runid", v}, {"Variant/ver", "x"}});
        EXPECT_EQ(ours, qtBytes);
        const std::string ourFile = rig.dir + "/ours" + std::to_string(n) + ".ini";
        std::ofstream(ourFile, std::ios::binary) << ours;
        QSettings back(QString::fromStdString(ourFile), QSettings::IniFormat);
        EXPECT_EQ(back.value("Setup/runid").toString().toStdString(), v) << ours;
    }
}

// Text as a person or another program leaves it.
TEST(SettingsFileText, HandEditedText) {
    const struct {
        std::string text;
        std::map<std::string, std::string> values;
        int junk;
    } cases[] = {
        {"\xEF\xBB\xBF[Setup]\r\nsohoip=10.0.0.1\r\n", {{"Setup/sohoip", "10.0.0.1"}}, 0},
        {"; comment\n[Setup]\n  seca = 120  \n; x=y\n", {{"Setup/seca", "120"}}, 0},
        {"top=1\n[General]\nalso=2\n[a%20b]\nk=v ; tail\n",
         {{"top", "1"}, {"also", "2"}, {"a b/k", "v"}},
         0},
        {"[Setup]\nrunid=\"C:\\\\x\\\\y\"\nholiday=\"a\\\nb\"\n",
         {{"Setup/runid", "C:\\x\\y"}, {"Setup/holiday", "ab"}},
         0},
        {"[Setup]\nsohoip=1\n" + std::string(100000, 'x') + "\n\x01\x02=3\n[broken\nz=1\n",
         {{"Setup/sohoip", "1"}},
         4},
        {"[Setup]\nk=\xff\xfe\n", {}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        const ini::Parsed p = ini::Parse(c.text);
        EXPECT_EQ(p.values, c.values);
        EXPECT_EQ(p.junkLines, c.junk);
    }
}

// What the store wrote is read back before it counts: a value whose text would not read back the
// same is refused and the file stays as it was.
TEST(SettingsFileText, AWriteThatReadsBackDifferentlyIsRefused) {
    TestRig rig;
    QtSettingsStore store(rig.dir + "/config");
    ASSERT_TRUE(store.Write("Qel", "Kestrovan\\Setup", "sohoip", "10.0.0.1"));
    const std::string path = rig.dir + "/config/Qel/Kestrovan.conf";
    std::ifstream before(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(before), {}};
    EXPECT_FALSE(store.Write("Qel", "Kestrovan\\Setup", "runid", "\xff\xfe not text"));
    EXPECT_NE(store.LastError().find("read back"), std::string::npos) << store.LastError();
    std::ifstream after(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(after), {}), bytes);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(rig.dir + "/config/Qel"), {}), 1);
}

// What a killed program left beside the settings (the scrambled password in it) goes at the next
// start, unless it is a write under way; a settings folder others may read is made private.
TEST(SettingsFileText, LeftoversGoAndTheFolderIsTightened) {
    TestRig rig;
    const std::string folder = rig.dir + "/config/Qel";
    std::filesystem::create_directories(folder);
    ::chmod(folder.c_str(), 0755);
    const std::string old = folder + "/.Kestrovan.conf.Ab12Cd",
                      fresh = folder + "/.Kestrovan.conf.Xy34Zw",
                      other = folder + "/.Kestrovan.conf.notours";
    for (const std::string& f : {old, fresh, other}) std::ofstream(f) << "sohowp=dfh\n";
    const timeval past[2] = {{::time(nullptr) - 120, 0}, {::time(nullptr) - 120, 0}};
    ::utimes(old.c_str(), past);
    ::utimes(other.c_str(), past);
    QtSettingsStore store(rig.dir + "/config");
    EXPECT_FALSE(std::filesystem::exists(old));
    EXPECT_TRUE(std::filesystem::exists(fresh));
    EXPECT_TRUE(std::filesystem::exists(other));
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

}  // namespace
}  // namespace kv

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
