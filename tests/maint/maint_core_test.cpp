// SPDX-License-Identifier: GPL-3.0-or-later
// Pelvaro's core: registry copy, export file, and the window's handlers on fakes.
#include <gtest/gtest.h>

#include <filesystem>

#include "maint/export_file.h"
#include "maint_test_support.h"
#include "settings/settings.h"

namespace kv::maint {
namespace {

namespace fs = std::filesystem;
using test::MaintRig;
using test::ReadAll;
using test::WriteAll;

// Distinct values for every one of the 44 keys; seed makes two different sets.
Settings Sample(int seed) {
    Settings s;
    const std::string tag = std::to_string(seed);
    int n = seed * 100;
    for (FieldRef& f : FieldsInFileOrder(s)) {
        if (f.number)
            *f.number = static_cast<int16_t>(++n);
        else
            *f.text = f.key + "-" + tag;
    }
    s.sohoip = "10.0.0." + tag;
    s.seca = -1;
    s.secc = -32768;
    s.secb = 32767;
    return s;
}

// Writes s straight into the store under appKey, as the other program would have.
void Put(kv::test::MemorySettingsStore& store, const char* appKey, Settings s) {
    for (const FieldRef& f : FieldsInFileOrder(s))
        store.Write(kApplication, SectionName(appKey, f.word), f.key,
                    f.text ? *f.text : std::to_string(*f.number));
}

// What the store holds under appKey, read back as a record.
Settings Get(kv::test::MemorySettingsStore& store, const char* appKey) {
    Settings s;
    for (FieldRef& f : FieldsInFileOrder(s)) {
        const std::string v =
            store.Read(kApplication, SectionName(appKey, f.word), f.key).value_or("<missing>");
        if (f.text)
            *f.text = v;
        else
            *f.number = ParseSettingInt(v).value;
    }
    return s;
}

std::vector<std::string> Lines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = 0, end;
    while ((end = bytes.find("\r\n", start)) != std::string::npos) {
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    EXPECT_EQ(start, bytes.size()) << "the file must end with CR LF";
    return lines;
}

TEST(MaintSaveLoad, RoundTripRestoresEveryValueAndLeavesLinecutAndTheExtrasAlone) {
    // Texts the file format must carry as they are: leading blanks, commas, quotes, non-ASCII.
    const std::vector<std::string> passwords = {" dfh", "a,b", "q\"r\"", "\" ,x", ""};
    for (const std::string& pw : passwords) {
        MaintRig rig;
        Settings s = Sample(1);
        s.sohowp = pw;
        s.holiday = " 1/ 1 1/15  5/5";
        s.runid[2] = "C:\\Tools\\dial,up\\接続.exe";
        s.ver = "Ver 0.66β";
        s.Main = "100,200,3000,4000";
        Put(rig.store, kAppKey, s);
        rig.store.Write(kApplication, "Kestrovan\\Setup", "linecut", "4321");

        CmdSave_Click(rig.cx);
        ASSERT_EQ(rig.view.last(), "保存しました");
        const std::vector<std::string> lines = Lines(ReadAll(rig.regPath()));
        EXPECT_EQ(lines.size(), 44u);
        EXPECT_EQ(lines[1], pw);
        for (const std::string& l : lines) EXPECT_NE(l, " 4321 ") << "linecut must not be exported";
        // Kestrovan's additions stay out of the file: it is the same with them set.
        const std::string saved = ReadAll(rig.regPath());
        rig.store.Write(kApplication, "Kestrovan\\Extra", "notify", "1");
        rig.store.Write(kApplication, "Kestrovan\\Extra", "traytip", "1");
        CmdSave_Click(rig.cx);
        EXPECT_EQ(ReadAll(rig.regPath()), saved);

        // Wipe every exported key and give linecut another value: the load must not touch it.
        rig.store.values.clear();
        rig.store.Write(kApplication, "Kestrovan\\Setup", "linecut", "0");
        rig.store.Write(kApplication, "Kestrovan\\Extra", "notify", "1");
        CmdLoad_Click(rig.cx);
        ASSERT_EQ(rig.view.last(), "読込ました");
        EXPECT_EQ(Get(rig.store, kAppKey), s) << "password " << pw;
        EXPECT_EQ(rig.store.values.size(), 46u) << "all 44 keys plus linecut and notify";
        EXPECT_EQ(rig.store.Read(kApplication, "Kestrovan\\Setup", "linecut"), "0");
        EXPECT_EQ(rig.store.Read(kApplication, "Kestrovan\\Extra", "notify"), "1");
        EXPECT_EQ(rig.store.Read(kApplication, "Kestrovan\\FormPos", "Main"), s.Main);
    }
}

TEST(MaintSaveLoad, EmptyStoreSavesBlanksAndZerosThatLoadBackAsEveryKey) {
    MaintRig rig;
    CmdSave_Click(rig.cx);
    const std::vector<std::string> lines = Lines(ReadAll(rig.regPath()));
    ASSERT_EQ(lines.size(), 44u);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[2], " 0 ");
    CmdLoad_Click(rig.cx);
    EXPECT_EQ(rig.store.values.size(), 44u);
    EXPECT_EQ(rig.store.Read(kApplication, "Kestrovan\\Variant", "ver"), "");
    EXPECT_EQ(rig.store.Read(kApplication, "Kestrovan\\Setup", "runstop3"), "0");
}

TEST(MaintExportFile, MatchesTheGoldenFileByteForByte) {
    MaintRig rig;
    Settings& s = rig.cx.settings;
    s.sohoip = "192.168.0.1";
    s.sohowp = "dfh";
    s.seca = 180, s.secb = 180, s.secc = 240, s.ctanni = 10, s.cnctno = 2, s.atcuttm = 30;
    s.atcutmode = 1, s.atcutdly = 3, s.telstday = 21, s.teldiscnt = 0, s.teleho = 1;
    s.sohoint = 2000, s.soho2int = 1500, s.dspint = 1000, s.dsptop = 1, s.dsptrans = 0;
    s.dspinfo = 1, s.winmodes = 2, s.winmodec = 1, s.winmodedc = 0, s.hvmode = 1;
    s.dosuumode = 1, s.sohotime = 1, s.sohokcode = 1, s.debuglog = -1;
    s.holiday = " 1/ 1 1/15 2/11  5/5";
    s.runid = {"C:\\Program Files\\メール\\mail.exe", "", "D:\\a,b\\\"x\".exe", "C:\\bye.exe"};
    s.runenab = {1, 0, 1, 1};
    s.runstop = {1, 0, 0, -32768};
    s.ver = "Ver 0.66β";
    s.sizehigh = 32767;
    s.rmtauto = 1;
    s.Main = "1200,800,4000,2400";
    ASSERT_TRUE(SettingsFileIo(rig.cx, 2).ok);
    EXPECT_EQ(ReadAll(rig.regPath()),
              ReadAll(std::string(KV_TEST_DATA_DIR) + "/maint/Kestrovan.reg"));

    // Reading the golden file gives the same record back.
    Settings written = s;
    rig.cx.settings = Settings{};
    ASSERT_TRUE(SettingsFileIo(rig.cx, 1).ok);
    EXPECT_EQ(rig.cx.settings, written);
    EXPECT_FALSE(fs::exists(rig.regPath() + ".tmp"));
}

TEST(MaintExportFile, IntegerLines) {
    EXPECT_EQ(FormatExportInt(180), " 180 ");
    EXPECT_EQ(FormatExportInt(0), " 0 ");
    EXPECT_EQ(FormatExportInt(-1), "-1 ");
    EXPECT_EQ(FormatExportInt(-32768), "-32768 ");

    struct Case {
        const char* line;
        bool number, inRange;
        int value;
    };
    for (const Case& c :
         {Case{" 180 ", true, true, 180}, Case{"-1 ", true, true, -1}, Case{"7", true, true, 7},
          Case{"  +3  ", true, true, 3}, Case{"-32768", true, true, -32768},
          Case{"32768", true, false, 0}, Case{"99999999999999999999", true, false, 0},
          Case{"", false, false, 0}, Case{"   ", false, false, 0}, Case{"-", false, false, 0},
          Case{"12abc", false, false, 0}, Case{"1 2", false, false, 0},
          Case{"1.5", false, false, 0}, Case{"\t5", false, false, 0}}) {
        const ExportInt v = ParseExportInt(c.line);
        EXPECT_EQ(v.isNumber, c.number) << '"' << c.line << '"';
        EXPECT_EQ(v.inRange, c.inRange) << '"' << c.line << '"';
        if (c.inRange) {
            EXPECT_EQ(v.value, c.value) << c.line;
        }
    }
}

TEST(MaintExportFile, AcceptsBareLineFeedsAndMissingFinalLineBreak) {
    MaintRig rig;
    rig.cx.settings = Sample(3);
    const Settings s = rig.cx.settings;
    ASSERT_TRUE(SettingsFileIo(rig.cx, 2).ok);
    std::string bytes = ReadAll(rig.regPath());
    std::string lf;
    for (char c : bytes)
        if (c != '\r') lf += c;
    lf.pop_back();
    WriteAll(rig.regPath(), lf);
    rig.cx.settings = Settings{};
    ASSERT_TRUE(SettingsFileIo(rig.cx, 1).ok);
    EXPECT_EQ(rig.cx.settings, s);
}

// Every unsound file stops the load before the store is touched, and says what is wrong.
TEST(MaintLoadFailures, StopBeforeWritingAndNameTheProblem) {
    const std::string good = [] {
        MaintRig rig;
        rig.cx.settings = Sample(2);
        SettingsFileIo(rig.cx, 2);
        return ReadAll(rig.regPath());
    }();
    auto replaceLine = [&](int number, const std::string& text) {
        std::vector<std::string> lines = Lines(good);
        lines[static_cast<size_t>(number - 1)] = text;
        std::string out;
        for (const auto& l : lines) out += l + "\r\n";
        return out;
    };
    std::string shortFile = good;
    shortFile.resize(good.rfind("\r\n", good.size() - 3) + 2);  // the last line cut off

    struct Case {
        const char* name;
        std::function<void(const std::string& path)> prepare;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"missing", [](const std::string&) {},
         "Kestrovan.reg が見つかりません。読込を中止しました"},
        {"a folder", [](const std::string& p) { fs::create_directory(p); },
         "Kestrovan.reg を読み込めません。読込を中止しました"},
        {"empty", [](const std::string& p) { WriteAll(p, ""); },
         "Kestrovan.reg は 0 行しかありません (44 行必要です)。読込を中止しました"},
        {"short", [&](const std::string& p) { WriteAll(p, shortFile); },
         "Kestrovan.reg は 43 行しかありません (44 行必要です)。読込を中止しました"},
        {"text in seca", [&](const std::string& p) { WriteAll(p, replaceLine(3, "abc")); },
         "Kestrovan.reg の 3 行目 (seca) が数値ではありません。読込を中止しました"},
        {"blank rmtauto", [&](const std::string& p) { WriteAll(p, replaceLine(43, "")); },
         "Kestrovan.reg の 43 行目 (rmtauto) が数値ではありません。読込を中止しました"},
        {"runstop3 too big", [&](const std::string& p) { WriteAll(p, replaceLine(40, " 40000 ")); },
         "Kestrovan.reg の 40 行目 (runstop3) の値が範囲外です (-32768 から "
         "32767)。読込を中止しました"},
        // Taken, it would make every later save refuse the value.
        {"lone CR in runid1", [&](const std::string& p) { WriteAll(p, replaceLine(32, "a\rb")); },
         "Kestrovan.reg の 32 行目 (runid1) に改行文字 (CR) が含まれています。読込を中止しました"},
    };
    for (const Case& c : cases) {
        MaintRig rig;
        Put(rig.store, kAppKey, Sample(7));
        const auto before = rig.store.values;
        c.prepare(rig.regPath());
        CmdLoad_Click(rig.cx);
        EXPECT_EQ(rig.store.values, before) << c.name;
        ASSERT_EQ(rig.view.boxes.size(), 2u) << c.name;
        EXPECT_EQ(rig.view.boxes[1].text.substr(0, c.expected.size()), c.expected) << c.name;
        EXPECT_EQ(rig.view.boxes[1].icon, MsgIcon::Exclamation) << c.name;
        EXPECT_EQ(rig.view.boxes[1].title, "Pelvaro") << c.name;
    }
}

TEST(MaintLoadFailures, StoreWriteFailureIsReportedNotPraised) {
    MaintRig rig;
    rig.cx.settings = Sample(1);
    ASSERT_TRUE(SettingsFileIo(rig.cx, 2).ok);
    rig.store.failWrites = true;
    CmdLoad_Click(rig.cx);
    EXPECT_NE(rig.view.last().find("レジストリ (Kestrovan) に書き込めません。読込を中止しました。"
                                   "レジストリは変更していません"),
              std::string::npos)
        << rig.view.last();
    for (const auto& b : rig.view.boxes) EXPECT_NE(b.text, "読込ました");
}

TEST(MaintLoad, AnsweringNoChangesNothing) {
    MaintRig rig;
    rig.cx.settings = Sample(1);
    ASSERT_TRUE(SettingsFileIo(rig.cx, 2).ok);
    rig.view.answerYes = false;
    CmdLoad_Click(rig.cx);
    EXPECT_TRUE(rig.store.values.empty());
    ASSERT_EQ(rig.view.boxes.size(), 1u);
    EXPECT_EQ(rig.view.boxes[0].text, "読み込みます");
    EXPECT_EQ(rig.view.boxes[0].title, "確認");
    EXPECT_EQ(rig.view.boxes[0].buttons, MsgButtons::YesNo);
}

TEST(MaintSaveFailures, UnwritableFolderKeepsNothingHalfWritten) {
    MaintRig rig;
    Put(rig.store, kAppKey, Sample(1));
    // The "folder" is a file: nothing can be created in it.
    WriteAll(rig.dir + "/notafolder", "x");
    rig.cx.ProgramDir = rig.dir + "/notafolder";
    CmdSave_Click(rig.cx);
    EXPECT_EQ(rig.view.boxes.size(), 1u);
    EXPECT_NE(rig.view.last().find("Kestrovan.reg を保存できません。保存を中止しました"),
              std::string::npos)
        << rig.view.last();
}

TEST(MaintSaveFailures, OldFileSurvivesAFailedWriteAndALineBreakInAValue) {
    MaintRig rig;
    WriteAll(rig.regPath(), "old contents\r\n");
    fs::create_directory(rig.regPath() + ".tmp");  // the temporary file cannot be created
    CmdSave_Click(rig.cx);
    EXPECT_EQ(ReadAll(rig.regPath()), "old contents\r\n");
    EXPECT_NE(rig.view.last().find("保存を中止しました"), std::string::npos);
    fs::remove(rig.regPath() + ".tmp");

    Settings s = Sample(1);
    s.runid[1] = "C:\\a\r\nb.exe";
    Put(rig.store, kAppKey, s);
    CmdSave_Click(rig.cx);
    EXPECT_EQ(ReadAll(rig.regPath()), "old contents\r\n");
    EXPECT_EQ(
        rig.view.last(),
        "runid1 の値に改行が含まれているため Kestrovan.reg に保存できません。保存を中止しました");
}

TEST(MaintSave, WarnsAboutValuesTheFileCannotCarry) {
    MaintRig rig;
    Settings s = Sample(1);
    s.runid[0] = "C:\\😀.exe";  // not in the code page
    Put(rig.store, kAppKey, s);
    rig.store.Write(kApplication, "Kestrovan\\Setup", "seca", "70000");
    CmdSave_Click(rig.cx);
    ASSERT_EQ(rig.view.boxes.size(), 3u);
    EXPECT_EQ(rig.view.boxes[0].text, "保存しました");
    EXPECT_NE(rig.view.boxes[1].text.find("Kestrovan\\Setup の seca=70000"), std::string::npos);
    EXPECT_NE(rig.view.boxes[2].text.find("runid"), std::string::npos);
}

TEST(MaintDelete, DeletesKestrovanOnlyAndSaysWhenThereIsNothing) {
    MaintRig rig;
    Put(rig.store, kAppKey, Sample(1));
    Put(rig.store, kOldAppKey, Sample(2));
    rig.view.answerYes = false;
    CmdDel_Click(rig.cx);
    EXPECT_TRUE(rig.store.HasAppKey(kApplication, kAppKey));
    EXPECT_EQ(rig.view.last(), "削除します");

    rig.view.answerYes = true;
    CmdDel_Click(rig.cx);
    EXPECT_FALSE(rig.store.HasAppKey(kApplication, kAppKey));
    EXPECT_TRUE(rig.store.HasAppKey(kApplication, kOldAppKey));
    EXPECT_EQ(rig.view.last(), "削除しました");

    CmdDel_Click(rig.cx);
    EXPECT_EQ(rig.view.last(), "削除するレジストリ情報がありません");
    EXPECT_EQ(rig.view.boxes.back().icon, MsgIcon::Exclamation);
}

class MaintConvert : public ::testing::Test {
  protected:
    void SetUp() override {
        Put(rig.store, kAppKey, Sample(1));
        Put(rig.store, kOldAppKey, Sample(2));
        rig.store.Write(kApplication, "Kestrovan\\Setup", "linecut", "1");
        rig.cx.settings = Sample(1);
        SettingsFileIo(rig.cx, 2);  // an older export of Kestrovan's own values
        rig.cx.settings = Settings{};
    }
    std::string cwd(const char* name) const { return rig.currentDir + "/" + name; }
    MaintRig rig;
};

// Kestrovan installed where the user cannot write keeps its records in the per-user folder:
// the converted files go there.
TEST_F(MaintConvert, FilesGoWhereAnInstalledKestrovanKeepsThem) {
    WriteAll(cwd("orlavine.log"), "old log");
    rig.cx.ProgramDir = "/proc";  // not writable, not even for root
    rig.cx.PerUserDataFolder = rig.dir + "/data/Qel/Kestrovan";
    CmdConv_Click(rig.cx);
    ASSERT_EQ(rig.view.last(), "変換が終了しました");
    EXPECT_EQ(ReadAll(rig.cx.PerUserDataFolder + "/Kestrovan.log"), "old log");
    EXPECT_TRUE(fs::exists(rig.cx.PerUserDataFolder + "/Kestrovan.reg"));  // its backup too
    EXPECT_FALSE(fs::exists(cwd("orlavine.log")));
    EXPECT_FALSE(fs::exists(cwd("Kestrovan.log")));
}

TEST_F(MaintConvert, MovesOrlavineIntoKestrovanAndRenamesOnlyExistingFiles) {
    WriteAll(cwd("orlavine.dbg"), "trace");
    WriteAll(cwd("orlavine.dat"), "totals");
    CmdConv_Click(rig.cx);

    ASSERT_EQ(rig.view.last(), "変換が終了しました");
    EXPECT_EQ(rig.view.boxes[0].text, "OrlavineからKestrovanへ変換しますか？");
    EXPECT_FALSE(rig.cx.ConvertMode);
    EXPECT_EQ(Get(rig.store, kAppKey), Sample(2));
    EXPECT_FALSE(rig.store.HasAppKey(kApplication, kOldAppKey));
    EXPECT_EQ(rig.store.Read(kApplication, "Kestrovan\\Setup", "linecut"), "1");

    // The export file now holds Orlavine's values.
    rig.cx.settings = Settings{};
    ASSERT_TRUE(SettingsFileIo(rig.cx, 1).ok);
    EXPECT_EQ(rig.cx.settings, Sample(2));

    EXPECT_EQ(ReadAll(cwd("Kestrovan.dbg")), "trace");
    EXPECT_EQ(ReadAll(cwd("Kestrovan.dat")), "totals");
    EXPECT_FALSE(fs::exists(cwd("orlavine.dbg")));
    EXPECT_FALSE(fs::exists(cwd("Kestrovan.log")));
    EXPECT_FALSE(fs::exists(rig.programDir + "/Kestrovan.dbg"));

    // Afterwards a save reads Kestrovan's sections again, not whatever Orlavine holds.
    rig.store.Write(kApplication, "Kestrovan\\Setup", "sohoip", "10.9.9.9");
    rig.store.Write(kApplication, "Orlavine\\Setup", "sohoip", "10.1.1.1");
    CmdSave_Click(rig.cx);
    EXPECT_EQ(Lines(ReadAll(rig.regPath()))[0], "10.9.9.9");
}

// A value the export file cannot carry ("é" has no code-page byte): asked before anything is
// written or deleted; no leaves both programs' settings and the files as they were, yes carries
// on with the value as the file holds it.
TEST_F(MaintConvert, AsksBeforeAValueIsChangedOnTheWay) {
    rig.store.Write(kApplication, "Orlavine\\Setup", "runid1", "/home/josé/dial.sh");
    WriteAll(cwd("orlavine.log"), "old log");
    const auto before = rig.store.values;
    const std::string reg = ReadAll(rig.regPath());
    rig.view.noTo = "変換を続けますか";
    EXPECT_FALSE(CmdConv_Click(rig.cx));
    ASSERT_EQ(rig.view.boxes.size(), 3u);
    EXPECT_EQ(rig.view.boxes[1].text,
              "次の値は Kestrovan.reg に書けない文字を含むため、変換すると元の値と変わります:\n"
              "runid1\n変換を続けますか？");
    EXPECT_EQ(rig.view.boxes[1].buttons, MsgButtons::YesNoDefaultNo);
    EXPECT_EQ(rig.view.last(), "変換を中止しました。何も変更していません");
    EXPECT_EQ(rig.store.values, before);
    EXPECT_EQ(ReadAll(rig.regPath()), reg);
    EXPECT_TRUE(fs::exists(cwd("orlavine.log")));

    rig.view.noTo.clear();
    EXPECT_TRUE(CmdConv_Click(rig.cx));
    EXPECT_EQ(rig.view.last(), "変換が終了しました");
    EXPECT_EQ(rig.store.Read(kApplication, "Kestrovan\\Setup", "runid1"), "/home/jos?/dial.sh");
}

TEST_F(MaintConvert, KeepsBothFilesWhenKestrovanAlreadyHasOne) {
    WriteAll(cwd("orlavine.log"), "old log");
    WriteAll(cwd("Kestrovan.log"), "new log");
    WriteAll(cwd("orlavine.dat"), "totals");
    CmdConv_Click(rig.cx);

    EXPECT_EQ(ReadAll(cwd("orlavine.log")), "old log");
    EXPECT_EQ(ReadAll(cwd("Kestrovan.log")), "new log");
    EXPECT_EQ(ReadAll(cwd("Kestrovan.dat")), "totals");
    EXPECT_EQ(Get(rig.store, kAppKey), Sample(2));
    const std::string& msg = rig.view.last();
    EXPECT_EQ(rig.view.boxes.back().icon, MsgIcon::Exclamation);
    EXPECT_NE(msg.find("orlavine.log は Kestrovan.log が既にあるため"), std::string::npos) << msg;
    EXPECT_EQ(msg.find("orlavine.dat"), std::string::npos) << msg;
    EXPECT_FALSE(rig.cx.ConvertMode);
}

TEST_F(MaintConvert, StopsAndSaysSoWhenKestrovanCannotBeWritten) {
    WriteAll(cwd("orlavine.log"), "old log");
    rig.store.failWrites = true;
    CmdConv_Click(rig.cx);
    const std::string& msg = rig.view.last();
    EXPECT_NE(msg.find("変換を中止しました"), std::string::npos) << msg;
    EXPECT_NE(msg.find("Kestrovan のレジストリは変更していません"), std::string::npos) << msg;
    EXPECT_TRUE(rig.store.HasAppKey(kApplication, kOldAppKey));
    EXPECT_TRUE(fs::exists(cwd("orlavine.log")));
    EXPECT_FALSE(rig.cx.ConvertMode);
}

TEST_F(MaintConvert, WithoutOrlavineSettingsNothingIsTouched) {
    rig.store.DeleteAppKey(kApplication, kOldAppKey);
    WriteAll(cwd("orlavine.log"), "old log");
    const auto before = rig.store.values;
    const std::string reg = ReadAll(rig.regPath());
    CmdConv_Click(rig.cx);
    EXPECT_EQ(rig.store.values, before);
    EXPECT_EQ(ReadAll(rig.regPath()), reg);
    EXPECT_TRUE(fs::exists(cwd("orlavine.log")));
    EXPECT_NE(rig.view.last().find("Orlavine のレジストリ情報がありません"), std::string::npos);
}

TEST_F(MaintConvert, UnwritableExportFolderStopsBeforeTheStore) {
    const auto before = rig.store.values;
    rig.cx.ProgramDir = rig.dir + "/missing/folder";
    CmdConv_Click(rig.cx);
    EXPECT_EQ(rig.store.values, before);
    EXPECT_NE(rig.view.last().find("レジストリは変更していません"), std::string::npos);
    EXPECT_FALSE(rig.cx.ConvertMode);
}

TEST(MaintWindow, ConversionButtonOnlyForTheWordAndAboutBox) {
    MaintRig rig;
    for (const char* line : {"upgrade", "UPGRADE", "UpGrade"}) {
        rig.view.convVisible = false;
        Form_Load(rig.cx, line);
        EXPECT_TRUE(rig.view.convVisible) << line;
    }
    for (const char* line : {"", "upgrade now", " upgrade", "upgrad", "-upgrade"}) {
        rig.view.convVisible = true;
        Form_Load(rig.cx, line);
        EXPECT_FALSE(rig.view.convVisible) << line;
    }
    mnuVer_Click(rig.cx);
    EXPECT_EQ(rig.view.boxes.back().title, "ABOUT Pelvaro");
    EXPECT_EQ(rig.view.last().rfind("Pelvaro 1.01\nKestrovan用レジストリ保守\n \n", 0), 0u);
    // Whoever is handed a copy learns from the box what they may do with it.
    EXPECT_NE(rig.view.last().find("GPL-3.0-or-later"), std::string::npos);
    CmdEnd_Click(rig.cx);
    EXPECT_TRUE(rig.view.ended);
}

}  // namespace
}  // namespace kv::maint
