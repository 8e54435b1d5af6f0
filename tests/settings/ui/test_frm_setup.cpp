// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <memory>

#include "app/ui/setup_host.h"
#include "platform/autostart.h"
#include "settings/ui/frm_setup.h"
#include "support/test_rig.h"

// fontconfig keeps its font cache until the process ends; that is not ours to free.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace kv {
namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "test_frm_setup";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

QString Q(const char* s) {
    return QString::fromUtf8(s);
}

std::optional<std::string> Stored(test::TestRig& rig, const char* key, const char* word = "Setup") {
    return rig.store.Read("Qel", std::string("Kestrovan\\") + word, key);
}

class FrmSetupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        ApplyFirstRunValues(rig.cx.settings);
    }

    FrmSetup& Open(FrmSetup::FileChooser chooser = {}) {
        if (!chooser)
            chooser = [this](QWidget*, const QString&) {
                ++chooserCalls;
                return std::optional<QString>();
            };
        dialog = std::make_unique<FrmSetup>(host, nullptr, std::move(chooser));
        dialog->show();
        return *dialog;
    }
    template <class T>
    T* W(const char* name) {
        T* w = dialog->findChild<T*>(Q(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QLineEdit* Box(const char* name) { return W<QLineEdit>(name); }
    void Click(const char* name) { W<QPushButton>(name)->click(); }

    test::TestRig rig;
    AppSetupHost host{rig.cx};
    std::unique_ptr<FrmSetup> dialog;
    int chooserCalls = 0;
};

// ---- layout -------------------------------------------------------------------------------

TEST_F(FrmSetupTest, TabsHoldTheirControlsWithTheirCaptions) {
    FrmSetup& d = Open();
    EXPECT_EQ(d.objectName(), "FrmSetup");
    EXPECT_EQ(d.windowTitle(), Q("基本設定"));
    auto* tabs = W<QTabWidget>("SSTab1");
    ASSERT_EQ(tabs->count(), 4);
    EXPECT_EQ(tabs->currentIndex(), 0);

    struct Tab {
        const char* title;
        std::vector<const char*> controls;
        std::vector<const char*> texts;  // group, label and button captions on the page
    };
    const std::vector<Tab> expected = {
        {"基本",
         {"TxtSOHOIP", "TxtSOHOPW", "TxtSecA", "TxtSecB", "TxtSecC", "TxtTani", "TxtConnectNo",
          "ChkAutoCut", "TxtCutTime", "TxtDelay", "TxtStartDay", "ChkTeleho", "CmbDiscount"},
         {"MN128-SOHO", "接続情報",   "切断情報", "電話料金",   "IP Address",  "Password",
          "平日昼",     "休日・夜間", "深夜",     "課金単位",   "接続先登録№", "秒",
          "円",         "自動切断",   "する",     "無通信判断", "秒以上",      "切断調整",
          "秒前",       "累積開始日", "ﾃﾚﾎｰﾀﾞｲ",  "割引プラン"}},
        {"応用",
         {"TxtDSPInt", "SldDspInt", "TxtSOHOInt", "SldSOHOInt", "TxtSOHO2Int", "SldSOHO2Int",
          "ChkTopDsp", "ChkTrans", "ChkInfo", "OptStartWin0", "OptStartWin1", "OptStartWin2",
          "OptConctWin0", "OptConctWin1", "OptDiscWin0", "OptDiscWin1", "ChkLineCut"},
         {"割込間隔",   "表示",       "起動時Window", "接続時Window", "切断時Window",
          "終了時処理", "接続秒表示", "SOHO未接続時", "SOHO接続時",   "ミリ秒",
          "最前面",     "透明mode",   "Infometion",   "通常",         "最小化",
          "前回の状態", "通常に戻す", "変更しない",   "最小化する",   "強制切断"}},
        {"その他",
         {"ChkTimeSet", "ChkKcodeSet", "ChkDbgLog", "OptDosuu0", "OptDosuu1", "TxtHoliday0",
          "TxtHoliday17", "OptHV", "OptV", "ChkNotify", "ChkTrayTip", "ChkAutoStart"},
         {"SOHO設定", "debug", "累積", "祝祭日指定", "表示形式", "起動時に時刻セット",
          "漢字CDをSJISにする", "debug log", "当月", "当日", "縦ならび", "横ならび", "通知",
          "通知を表示する", "トレイのヒントに状態を表示する", "起動", "ログオン時に起動"}},
        {"連動",
         {"TxtRunPG0", "BtnDir0", "ChkEnab0", "ChkPGEnd0", "TxtRunPG2", "TxtRunPG3", "BtnDir3",
          "ChkEnab3", "ChkPGEnd3"},
         {"接続時起動", "切断時起動", "１：", "２：", "３：", "参照", "有効", "切断時に強制終了",
          "予備"}},
    };
    for (int t = 0; t < 4; ++t) {
        const Tab& tab = expected[t];
        QWidget* page = tabs->widget(t);
        EXPECT_EQ(tabs->tabText(t), Q(tab.title));
        for (const char* name : tab.controls)
            EXPECT_NE(page->findChild<QWidget*>(Q(name)), nullptr) << tab.title << " " << name;
        QStringList texts;
        for (auto* g : page->findChildren<QGroupBox*>()) texts << g->title();
        for (auto* l : page->findChildren<QLabel*>()) texts << l->text();
        for (auto* b : page->findChildren<QAbstractButton*>()) texts << b->text();
        for (const char* text : tab.texts)
            EXPECT_TRUE(texts.contains(Q(text))) << tab.title << " " << text;
    }
    EXPECT_EQ(
        tabs->widget(2)->findChildren<QLineEdit*>(QRegularExpression("^TxtHoliday\\d+$")).size(),
        18);
    EXPECT_EQ(Box("TxtHoliday17")->maxLength(), 5);

    for (auto [name, length] : std::vector<std::pair<const char*, int>>{{"TxtSOHOIP", 20},
                                                                        {"TxtSOHOPW", 20},
                                                                        {"TxtSecA", 3},
                                                                        {"TxtSecB", 3},
                                                                        {"TxtSecC", 3},
                                                                        {"TxtTani", 3},
                                                                        {"TxtConnectNo", 2},
                                                                        {"TxtCutTime", 3},
                                                                        {"TxtDelay", 2},
                                                                        {"TxtStartDay", 2}})
        EXPECT_EQ(Box(name)->maxLength(), length) << name;
    EXPECT_EQ(Box("TxtSOHOPW")->echoMode(), QLineEdit::Password);
    Box("TxtSOHOPW")->setText("pw1");
    EXPECT_EQ(Box("TxtSOHOPW")->displayText(), "***");
    for (const char* name : {"SldDspInt", "SldSOHOInt", "SldSOHO2Int"}) {
        auto* s = W<QSlider>(name);
        EXPECT_EQ(s->minimum(), 1000);
        EXPECT_EQ(s->maximum(), 10000);
        EXPECT_EQ(s->singleStep(), 500);
        EXPECT_EQ(s->pageStep(), 500);
        EXPECT_EQ(s->tickInterval(), 1000);
    }
    EXPECT_EQ(W<QPushButton>("BtnOK")->text(), Q("ＯＫ"));
    EXPECT_EQ(W<QPushButton>("BtnCCL")->text(), Q("キャンセル"));
    EXPECT_EQ(W<QPushButton>("BtnUPDT")->text(), Q("適用"));
    EXPECT_EQ(W<QComboBox>("CmbDiscount")->count(), 0);
    EXPECT_TRUE(d.findChild<QStatusBar*>()->currentMessage().isEmpty());
}

// ---- copying ------------------------------------------------------------------------------

TEST_F(FrmSetupTest, RecordRoundTripsThroughTheDialog) {
    Settings& s = rig.cx.settings;
    s.sohoip = "10.0.0.7";
    s.sohowp = "pa55word";
    s.seca = 90, s.secb = 120, s.secc = 300, s.ctanni = 20, s.cnctno = 7, s.atcuttm = 45;
    s.atcutmode = 0, s.atcutdly = 5, s.telstday = 21, s.teldiscnt = 3, s.teleho = 1;
    s.sohoint = 2500, s.soho2int = 4000, s.dspint = 1500, s.dsptop = 1, s.dsptrans = 1,
    s.dspinfo = 1;
    s.linecut = 1, s.winmodes = 2, s.winmodec = 1, s.winmodedc = 1, s.dosuumode = 1;
    s.sohotime = 1, s.sohokcode = 1, s.debuglog = 0;
    s.notify = 1, s.traytip = 0, s.autostart = 1;
    s.HolidayTable[0] = " 1/ 1";
    s.HolidayTable[5] = "12/31";
    s.HolidayTable[17] = "  5/5";
    s.runid = {"/usr/bin/a", "", "/opt/c d/prog", "/bin/after", "", ""};
    s.runenab = {1, 0, 1, 1, 0, 0};
    s.runstop = {0, 1, 1, 1, 0, 0};
    s.sizehigh = 1, s.rmtauto = 1;
    const Settings before = s;

    FrmSetup& d = Open();
    EXPECT_EQ(Box("TxtSOHOPW")->text(), "pa55word");
    EXPECT_EQ(Box("TxtSOHO2Int")->text(), "4000");
    EXPECT_EQ(W<QSlider>("SldSOHO2Int")->value(), 4000);
    EXPECT_TRUE(W<QRadioButton>("OptStartWin2")->isChecked());
    EXPECT_TRUE(W<QRadioButton>("OptDosuu1")->isChecked());
    EXPECT_EQ(Box("TxtHoliday5")->text(), "12/31");
    EXPECT_EQ(Box("TxtRunPG2")->text(), "/opt/c d/prog");
    EXPECT_FALSE(d.Changed()) << "showing the record is no edit";

    s = Settings{};  // everything must come back from the dialog
    s.teldiscnt = 3, s.sizehigh = 1, s.rmtauto = 1;
    ASSERT_TRUE(d.SetupCopy(1));
    Settings expected = before;
    expected.hvmode = 1;
    for (const IntKey& k : kSetupIntKeys) EXPECT_EQ(s.*k.field, expected.*k.field) << k.name;
    for (const IntKey& k : kExtraIntKeys) EXPECT_EQ(s.*k.field, expected.*k.field) << k.name;
    EXPECT_EQ(s.sohoip, expected.sohoip);
    EXPECT_EQ(s.sohowp, expected.sohowp);
    EXPECT_EQ(s.HolidayTable, expected.HolidayTable);
    for (int i = 0; i < kRunnerSlots; ++i) {
        EXPECT_EQ(s.runid[i], expected.runid[i]) << i;
        EXPECT_EQ(s.runenab[i], expected.runenab[i]) << i;
        EXPECT_EQ(s.runstop[i], expected.runstop[i]) << i;
    }
}

TEST_F(FrmSetupTest, HandEditedValuesAreShownSoundlyAndKept) {
    Settings& s = rig.cx.settings;
    s.sohoip = "192.168.100.200.extra.long";  // longer than the box's 20 characters
    s.seca = 12345;                           // longer than the box's 3 characters
    s.sohoint = 0;                            // below the slider
    s.soho2int = 20000;                       // above it
    s.winmodes = 5, s.dosuumode = -1, s.winmodec = 7, s.winmodedc = 2;

    FrmSetup& d = Open();
    EXPECT_EQ(W<QSlider>("SldSOHOInt")->value(), 1000);
    EXPECT_EQ(Box("TxtSOHOInt")->text(), "0");
    EXPECT_EQ(W<QSlider>("SldSOHO2Int")->value(), 10000);
    EXPECT_EQ(Box("TxtSOHO2Int")->text(), "20000");
    EXPECT_TRUE(W<QRadioButton>("OptStartWin2")->isChecked());
    EXPECT_TRUE(W<QRadioButton>("OptDosuu1")->isChecked());
    EXPECT_TRUE(W<QRadioButton>("OptConctWin1")->isChecked());
    EXPECT_TRUE(W<QRadioButton>("OptDiscWin1")->isChecked());
    EXPECT_FALSE(d.Changed());

    ASSERT_TRUE(d.SetupCopy(1));
    EXPECT_EQ(s.sohoip, "192.168.100.200.extra.long");
    EXPECT_EQ(s.seca, 12345);
    EXPECT_EQ(s.sohoint, 0);
    EXPECT_EQ(s.soho2int, 20000);
    EXPECT_EQ(s.winmodes, 2);
    EXPECT_EQ(s.dosuumode, 1);
}

// ---- buttons ------------------------------------------------------------------------------

// "ログオン時に起動" makes the desktop start the program (after its wait, -W) or not.
TEST_F(FrmSetupTest, LogonStartFollowsTheBox) {
    const std::string folder = rig.dir + "/config/autostart";
    const std::string entry = folder + "/kestrovan.desktop";
    host.SetLogonStart = [&](bool on, std::string& error) {
        return SetLogonStart(folder, "/opt/Kes trovan/$HOME/kestrovan", on, error);
    };
    FrmSetup& d = Open();
    for (const bool on : {true, false, false}) {
        W<QCheckBox>("ChkAutoStart")->setChecked(on);
        Click("BtnUPDT");
        EXPECT_EQ(rig.cx.settings.autostart, on ? 1 : 0);
        EXPECT_EQ(QFile::exists(QString::fromStdString(entry)), on);
        if (on) {
            QFile file(QString::fromStdString(entry));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            const std::string text = file.readAll().toStdString();
            EXPECT_NE(text.find("\nExec=\"/opt/Kes trovan/\\\\$HOME/kestrovan\" -W\n"),
                      std::string::npos)
                << text;
        }
    }
    EXPECT_TRUE(d.isVisible());
    // Where it cannot be written, the user is told; the settings are stored all the same.
    host.SetLogonStart = [&](bool on, std::string& error) {
        return SetLogonStart("/proc/no-such/autostart", "/k", on, error);
    };
    W<QCheckBox>("ChkAutoStart")->setChecked(true);
    Click("BtnUPDT");
    ASSERT_FALSE(rig.view.boxes.empty());
    EXPECT_NE(rig.view.boxes.back().text.find("ログオン時の起動を設定できませんでした"),
              std::string::npos);
    EXPECT_EQ(rig.cx.settings.autostart, 1);
}

TEST_F(FrmSetupTest, OpeningStopsPollingAndOkStoresAndResumesIt) {
    rig.cx.settings.hvmode = 0;
    rig.cx.settings.sohoint = 3000;
    rig.tmrSOHO->SetEnabled(true);
    rig.tmrDSP->SetEnabled(true);  // a call is open
    rig.cx.link.SetLinkReady(true);
    FrmSetup& d = Open();
    EXPECT_FALSE(rig.tmrSOHO->Enabled());
    EXPECT_TRUE(rig.tmrDSP->Enabled());
    EXPECT_FALSE(rig.cx.link.LinkReady());
    EXPECT_EQ(rig.tmrSOHO->Interval(), 3000);
    EXPECT_EQ(rig.tmrDSP->Interval(), 1000);

    W<QSlider>("SldSOHOInt")->setValue(3500);
    EXPECT_EQ(Box("TxtSOHOInt")->text(), "3500");
    W<QSlider>("SldDspInt")->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(Box("TxtDSPInt")->text(), "1500");
    Box("TxtSOHO2Int")->setText("2600");  // a box does not move its slider; the box counts
    EXPECT_EQ(W<QSlider>("SldSOHO2Int")->value(), 2000);

    Click("BtnOK");
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(Stored(rig, "sohoint"), "3500");
    EXPECT_EQ(Stored(rig, "dspint"), "1500");
    EXPECT_EQ(Stored(rig, "soho2int"), "2600");
    EXPECT_EQ(Stored(rig, "hvmode"), "1");
    EXPECT_EQ(rig.cx.settings.hvmode, 1);
    EXPECT_EQ(Stored(rig, "ver", "Variant"), "Ver 0.66β");
    EXPECT_TRUE(rig.tmrSOHO->Enabled());
    EXPECT_TRUE(rig.cx.link.LinkReady());
    EXPECT_EQ(rig.tmrSOHO->Interval(), 3500);
    EXPECT_EQ(rig.tmrDSP->Interval(), 1500);
    EXPECT_TRUE(rig.view.boxes.empty());
}

TEST_F(FrmSetupTest, ApplyStoresAndStaysOpenThenCancelKeepsIt) {
    FrmSetup& d = Open();
    Box("TxtSecA")->setText("60");
    Box("TxtRunPG1")->setText("/usr/bin/x");
    W<QCheckBox>("ChkEnab1")->setChecked(true);
    Click("BtnUPDT");
    EXPECT_TRUE(d.isVisible());
    EXPECT_FALSE(rig.tmrSOHO->Enabled());
    EXPECT_FALSE(rig.cx.link.LinkReady());
    EXPECT_EQ(Stored(rig, "seca"), "60");
    EXPECT_EQ(Stored(rig, "runid1"), "/usr/bin/x");
    EXPECT_EQ(Stored(rig, "runenab1"), "1");

    Click("BtnCCL");
    EXPECT_TRUE(rig.view.boxes.empty()) << "nothing left to discard after 適用";
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Rejected);
    EXPECT_EQ(Stored(rig, "seca"), "60");
    EXPECT_EQ(rig.cx.settings.seca, 60);
    EXPECT_TRUE(rig.tmrSOHO->Enabled());
    EXPECT_TRUE(rig.cx.link.LinkReady());
}

TEST_F(FrmSetupTest, ClearedRunnerPathIsStoredEmptyWithItsFlags) {
    Settings& s = rig.cx.settings;
    s.runid[2] = "/usr/bin/prog";
    s.runenab[2] = 1;
    s.runstop[2] = 0;
    Open();
    Box("TxtRunPG2")->clear();
    W<QCheckBox>("ChkPGEnd2")->setChecked(true);
    Click("BtnOK");
    EXPECT_EQ(Stored(rig, "runid2"), "");
    EXPECT_EQ(Stored(rig, "runenab2"), "1");
    EXPECT_EQ(Stored(rig, "runstop2"), "1");
    EXPECT_EQ(rig.cx.settings.runid[2], "");
}

TEST_F(FrmSetupTest, SwitchingTheDebugLogOnStartsTheTraceAtOnce) {
    rig.cx.trace.SetDebugMode(true);
    Open();
    W<QCheckBox>("ChkDbgLog")->setChecked(true);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(rig.cx.trace.Path())));
    Click("BtnUPDT");
    ASSERT_TRUE(rig.cx.trace.IsOpen());
    const std::string trace = rig.ReadDataFile("Kestrovan.dbg");
    EXPECT_NE(trace.find(" run\""), std::string::npos) << trace;
    EXPECT_NE(trace.find("SetupCopy-end"), std::string::npos) << trace;
    EXPECT_NE(trace.find("RegCopy-end"), std::string::npos) << trace;
}

// ---- refused input ------------------------------------------------------------------------

TEST_F(FrmSetupTest, UnusableInputIsRefusedAndNothingIsStored) {
    struct Case {
        const char* box;
        const char* text;
        int tab;
        const char* message;
    };
    const Case cases[] = {
        {"TxtSecA", "abc", 0, "「平日昼」には -32768 から 32767 までの数値を入力してください"},
        {"TxtTani", "", 0, "「課金単位」には -32768 から 32767 までの数値を入力してください"},
        {"TxtConnectNo", "1x", 0,
         "「接続先登録№」には -32768 から 32767 までの数値を入力してください"},
        {"TxtSOHO2Int", "40000", 1,
         "「SOHO接続時」には -32768 から 32767 までの数値を入力してください"},
        {"TxtDSPInt", "-32769", 1,
         "「接続秒表示」には -32768 から 32767 までの数値を入力してください"},
        {"TxtSOHOPW", "pw😀", 0,
         "「Password」に使用できない文字が含まれています"},  // not in the code page
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.box);
        rig.view.boxes.clear();
        FrmSetup& d = Open();
        Box("TxtSOHOIP")->setText("10.1.1.1");  // a valid edit that must not slip through
        Box(c.box)->setText(Q(c.text));
        Click("BtnOK");
        ASSERT_EQ(rig.view.boxes.size(), 1u);
        EXPECT_EQ(rig.view.boxes[0].text, c.message);
        EXPECT_EQ(W<QTabWidget>("SSTab1")->currentIndex(), c.tab);
        EXPECT_TRUE(d.isVisible());
        EXPECT_TRUE(rig.store.values.empty());
        EXPECT_EQ(rig.cx.settings.sohoip, "192.168.0.1");
        EXPECT_FALSE(rig.tmrSOHO->Enabled());
    }
}

TEST_F(FrmSetupTest, AcceptedNumberFormsAreConvertedAsTheStoreReadsThem) {
    FrmSetup& d = Open();
    Box("TxtSecA")->setText(" 7");
    Box("TxtSecB")->setText("2.5");  // halves go to the even neighbour
    Box("TxtSecC")->setText("-1");
    Box("TxtDSPInt")->setText("32767");
    ASSERT_TRUE(d.SetupCopy(1));
    EXPECT_EQ(rig.cx.settings.seca, 7);
    EXPECT_EQ(rig.cx.settings.secb, 2);
    EXPECT_EQ(rig.cx.settings.secc, -1);
    EXPECT_EQ(rig.cx.settings.dspint, 32767);
}

TEST_F(FrmSetupTest, StoreFailureIsReportedAndTheDialogStaysOpen) {
    rig.store.failWrites = true;
    FrmSetup& d = Open();
    Click("BtnOK");
    ASSERT_EQ(rig.view.boxes.size(), 1u);
    EXPECT_EQ(rig.view.boxes[0].text, "設定を保存できませんでした");
    EXPECT_TRUE(d.isVisible());
    EXPECT_FALSE(rig.tmrSOHO->Enabled());
}

// ---- cancelling ---------------------------------------------------------------------------

TEST_F(FrmSetupTest, CancelAsksOnlyAfterAnEdit) {
    FrmSetup& d = Open();
    Click("BtnCCL");
    EXPECT_TRUE(rig.view.boxes.empty());
    EXPECT_FALSE(d.isVisible());
    EXPECT_TRUE(rig.tmrSOHO->Enabled());
    EXPECT_TRUE(rig.cx.link.LinkReady());

    rig.tmrSOHO->SetEnabled(false);
    FrmSetup& edited = Open();
    W<QRadioButton>("OptDosuu1")->setChecked(true);
    EXPECT_TRUE(edited.Changed());
    rig.view.answers = {MsgResult::Cancel};
    Click("BtnCCL");
    ASSERT_EQ(rig.view.boxes.size(), 1u);
    EXPECT_EQ(rig.view.boxes[0].text, "変更を破棄しますか");
    EXPECT_EQ(rig.view.boxes[0].title, "変更破棄");
    EXPECT_EQ(rig.view.boxes[0].buttons, MsgButtons::OkCancel);
    EXPECT_TRUE(edited.isVisible());
    EXPECT_FALSE(rig.tmrSOHO->Enabled());

    rig.view.answers = {MsgResult::Ok};
    Click("BtnCCL");
    EXPECT_FALSE(edited.isVisible());
    EXPECT_TRUE(rig.tmrSOHO->Enabled());
    EXPECT_EQ(rig.cx.settings.dosuumode, 0);
    EXPECT_TRUE(rig.store.values.empty());
}

TEST_F(FrmSetupTest, FirstRunCloseBoxActsAsCancelAndWritesNothing) {
    FrmSetup& d = Open();
    EXPECT_EQ(Box("TxtSOHOIP")->text(), "192.168.0.1");
    EXPECT_EQ(Box("TxtSecC")->text(), "240");
    EXPECT_EQ(Box("TxtHoliday0")->text(), "");
    W<QCheckBox>("ChkDbgLog")->setChecked(true);
    Box("TxtSOHOIP")->setText("127.0.0.1");
    rig.view.answers = {MsgResult::Cancel};
    d.close();
    EXPECT_TRUE(d.isVisible());
    ASSERT_EQ(rig.view.boxes.size(), 1u);
    d.close();  // answered OK
    EXPECT_FALSE(d.isVisible());
    EXPECT_TRUE(rig.tmrSOHO->Enabled());
    EXPECT_TRUE(rig.cx.link.LinkReady());
    EXPECT_TRUE(rig.store.values.empty());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(rig.cx.trace.Path())));
    EXPECT_EQ(rig.cx.settings.sohoip, "192.168.0.1");
}

// ---- choosing a program ---------------------------------------------------------------------

TEST_F(FrmSetupTest, ReferButtonPutsTheChosenPathIntoItsRow) {
    std::optional<QString> answer = QStringLiteral("/opt/tools/dialer");
    QString offered;
    FrmSetup& d = Open([&](QWidget*, const QString& current) {
        offered = current;
        return answer;
    });
    Box("TxtRunPG3")->setText("/old/path");
    Click("BtnDir3");
    EXPECT_EQ(offered, "/old/path");
    EXPECT_EQ(Box("TxtRunPG3")->text(), "/opt/tools/dialer");
    EXPECT_EQ(Box("TxtRunPG0")->text(), "");

    answer.reset();  // cancelled: nothing changes
    Click("BtnDir3");
    EXPECT_EQ(Box("TxtRunPG3")->text(), "/opt/tools/dialer");
    EXPECT_TRUE(rig.view.boxes.empty());
    EXPECT_TRUE(d.Changed());
}

TEST(ProgramFilter, ListsFoldersExeFilesAndExecutables) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto make = [&](const char* name, bool executable) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.close();
        if (executable) f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
        return QFileInfo(path);
    };
    EXPECT_TRUE(AcceptsAsProgram(make("DIALER.EXE", false)));
    EXPECT_TRUE(AcceptsAsProgram(make("tool.exe", false)));
    EXPECT_TRUE(AcceptsAsProgram(make("runme", true)));
    EXPECT_FALSE(AcceptsAsProgram(make("notes.txt", false)));
    EXPECT_FALSE(AcceptsAsProgram(make("exe", false)));
    EXPECT_TRUE(AcceptsAsProgram(QFileInfo(dir.path())));
}

}  // namespace
}  // namespace kv
