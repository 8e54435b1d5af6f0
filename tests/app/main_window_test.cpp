// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's real widgets on the offscreen platform.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <memory>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

#include "app/commands.h"
#include "app/ui/frm_msg.h"
#include "app/ui/main_window.h"
#include "app/ui/qt_ports.h"
#include "support/qt_app.h"
#include "support/test_rig.h"

namespace kv::test {
namespace {

QString Q(const char* s) {
    return QString::fromUtf8(s);
}

[[maybe_unused]] ::testing::Environment* const qtEnvironment =
    AddQtAppEnvironment<QApplication>("app_main_window_test");

void Click(QWidget* w) {
    const QPointF at(2, 2);
    QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QApplication::sendEvent(w, &release);
}

class MainWindowTest : public ::testing::Test {
  protected:
    MainWindowTest() {
        window.Attach(rig.cx);
        WireMainTimers(rig.cx);
    }

    template <class T>
    T* Find(const char* name) {
        T* w = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString Status() { return window.statusBar()->currentMessage(); }
    QString Lcd(int n) { return Find<QLabel>(QStringLiteral("LCD%1").arg(n).toLatin1())->text(); }

    Kestrovan window;  // before the rig, whose view it is
    TestRig rig{RigPorts{.view = &window}};
};

TEST_F(MainWindowTest, ControlsCarryTheirNamesCaptionsAndTips) {
    EXPECT_EQ(window.objectName(), "Kestrovan");
    EXPECT_EQ(window.windowTitle(), "Kestrovan");
    EXPECT_FALSE(window.windowIcon().availableSizes().isEmpty());
    struct Caption {
        const char* name;
        const char* text;
    };
    for (const Caption& c : {Caption{"BtnConnect", "接"},
                             {"BtnDisConnect", "切"},
                             {"BtnSize", "長"},
                             {"BtnMsg", "窓"},
                             {"BtnDEBUG", "debug"},
                             {"ChkAutoMode", "自動"},
                             {"ChkTopDsp", "Top"}})
        if (auto* b = Find<QAbstractButton>(c.name)) {
            EXPECT_EQ(b->text(), Q(c.text)) << c.name;
        }
    EXPECT_EQ(Find<QCheckBox>("ChkTopDsp")->toolTip(), Q("最前面表示"));
    for (const Caption& c : {Caption{"Lbl2", "今回"},
                             {"Lbl3", "当月累積"},
                             {"Lbl5", "次課金"},
                             {"Lbl6", "無通信"},
                             {"Lbl7", "使用率"}})
        if (auto* l = Find<QLabel>(c.name)) {
            EXPECT_EQ(l->text(), Q(c.text)) << c.name;
        }
    for (const Caption& c : {Caption{"LCD1", "今回の接続秒数"},
                             {"LCD2", "今回の課金"},
                             {"LCD3", "今月の課金"},
                             {"LCD5", "次の課金までの秒数 赤色の時は課金５秒前に自動切断"},
                             {"LCD6", "無通信秒数"},
                             {"LCD7", "送信/受信/BOD"},
                             {"LCD0", ""},
                             {"LCD8", ""},
                             {"LCD9", ""},
                             {"LCD10", ""},
                             {"LCD11", ""}})
        if (auto* l = Find<QLabel>(c.name)) {
            EXPECT_EQ(l->toolTip(), Q(c.text)) << c.name;
        }
    EXPECT_NE(Find<QStatusBar>("StatusBar1"), nullptr);

    // Read-outs: green on black, LCD1 in the big type; placed by the twips table.
    QLabel* lcd1 = Find<QLabel>("LCD1");
    EXPECT_EQ(lcd1->font().pointSize(), 18);
    EXPECT_EQ(lcd1->geometry(), QRect(4, 44, 111, 29));
    EXPECT_EQ(Find<QPushButton>("BtnDisConnect")->geometry(), QRect(24, 0, 24, 24));
    EXPECT_TRUE(lcd1->styleSheet().contains("rgb(0,255,0)"));
    EXPECT_TRUE(lcd1->styleSheet().contains("black"));
    window.SetLcdColour(5, kColourRed);
    EXPECT_TRUE(Find<QLabel>("LCD5")->styleSheet().contains("rgb(255,0,0)"));

    // The menu bar, item by item in order ("-" a separator).
    struct Menu {
        const char* name;
        const char* title;
        std::vector<std::pair<const char*, const char*>> items;
    };
    const std::vector<Menu> menus = {
        {"mnuSETUP",
         "設定",
         {{"mnuInit", "基本設定"},
          {"mnuSOHO", "SOHO表示"},
          {"", "-"},
          {"mnuCutBrk", "自動切断一時解除"},
          {"mnuWinend", "切断後Win終了"},
          {"", "-"},
          {"mnuEnd", "終了"}}},
        {"mnuDSP",
         "表示",
         {{"mnuLastInfo", "LastInformation"},
          {"mnuB0", "表示切替(Auto)"},
          {"mnuB12", "表示切替(B1-B2)"},
          {"mnuLOG", "接続ログ"}}},
        {"mnuHOKA", "他", {{"mnuHELP", "ヘルプ"}, {"mnuVER", "バージョン"}}},
    };
    const QList<QAction*> top = window.menuBar()->actions();
    ASSERT_EQ(top.size(), 3);
    for (size_t i = 0; i < menus.size(); ++i) {
        QAction* t = top[static_cast<int>(i)];
        EXPECT_EQ(t->objectName(), menus[i].name);
        EXPECT_EQ(t->text(), Q(menus[i].title));
        const QList<QAction*> items = t->menu()->actions();
        ASSERT_EQ(items.size(), static_cast<int>(menus[i].items.size())) << menus[i].name;
        for (int k = 0; k < items.size(); ++k) {
            const auto& [name, text] = menus[i].items[static_cast<size_t>(k)];
            if (std::string(text) == "-") {
                EXPECT_TRUE(items[k]->isSeparator());
            } else {
                EXPECT_EQ(items[k]->objectName(), name);
                EXPECT_EQ(items[k]->text(), Q(text));
            }
        }
    }
}

TEST_F(MainWindowTest, SizeButtonCyclesTheHeightAndStoresTheStep) {
    rig.cx.settings.sizehigh = 0;
    auto* size = Find<QPushButton>("BtnSize");
    window.show();
    for (int twips : {2050, 2650, 3250, 3850, 1560, 2050}) {
        size->click();
        // The step is the height under the menu bar, status bar included.
        EXPECT_EQ(window.height() - window.menuBar()->height(), Kestrovan::TwipsToPixels(twips))
            << twips;
        EXPECT_EQ(window.width(), 1830 / 15);
    }
    EXPECT_EQ(rig.cx.settings.sizehigh, 1);
    EXPECT_EQ(LoadIntSetting(rig.store, "Variant", "sizehigh"), 1);

    // A hand-edited step outside the cycle leaves the height alone.
    rig.cx.settings.sizehigh = 9;
    const int before = window.height();
    size->click();
    EXPECT_EQ(window.height(), before);
    EXPECT_EQ(rig.cx.settings.sizehigh, 9);
}

// Run also at scale 2 with 120-DPI type (ctest: app_main_window_layout_scaled).
TEST_F(MainWindowTest, NoHeadingDigitOrButtonIsCoveredAndTheTallestStepShowsTheConnectTime) {
    window.SetLcdText(0, "端末型(B1)");
    window.SetLcdText(1, "10:00:00");
    window.SetLcdText(11, "9");
    window.SetLcdText(2, "\\12340");
    window.SetLcdText(3, "\\40000");
    window.SetLcdText(7, "100%/100%/100%");
    window.SetLcdText(8, "23:59:59");
    window.SetLabelCaption(3, "当日累積");
    window.show();
    QWidget* client = window.centralWidget();
    // Children are in stacking order: whatever comes later is drawn over what comes before.
    const QList<QWidget*> stack = client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (const char* name : {"Lbl2", "Lbl3", "Lbl5", "Lbl6", "Lbl7", "BtnDEBUG", "BtnMsg", "LCD1",
                             "LCD11", "LCD6", "LCD7"}) {
        QWidget* w = Find<QWidget>(name);
        QRect shown = w->geometry();
        if (auto* l = qobject_cast<QLabel*>(w)) {
            shown = l->contentsRect().translated(l->pos());
            // Its text fits its box.
            EXPECT_LE(QFontMetrics(l->font()).horizontalAdvance(l->text()), shown.width()) << name;
        }
        for (qsizetype i = stack.indexOf(w) + 1; i < stack.size(); ++i)
            EXPECT_FALSE(stack[i]->geometry().intersects(shown))
                << name << " under " << stack[i]->objectName().toStdString();
        // A line beneath a heading is hidden by it.
        if (QByteArray(name).startsWith("Lbl")) {
            EXPECT_TRUE(w->autoFillBackground()) << name;
        }
    }
    rig.cx.settings.sizehigh = 3;
    Find<QPushButton>("BtnSize")->click();
    EXPECT_LE(Find<QWidget>("LCD8")->geometry().bottom(), client->height()) << client->height();
}

TEST_F(MainWindowTest, TotalLabelSwitchesBetweenMonthAndDay) {
    rig.cx.settings.ctanni = 10;
    rig.cx.settings.dosuumode = 0;
    QLabel* lbl3 = Find<QLabel>("Lbl3");
    Click(lbl3);
    EXPECT_EQ(lbl3->text(), Q("当日累積"));
    // Nothing accumulated: the yen sign alone ("\" drawn as the yen sign).
    EXPECT_EQ(Lcd(3), Q("¥"));
    EXPECT_EQ(Status(), Q("先月累積:¥"));
    EXPECT_EQ(rig.cx.settings.dosuumode, 1);

    // Amounts past 32767 yen are shown whole.
    rig.cx.meter.TotalsForTest().DayUnits = 3;
    rig.cx.meter.TotalsForTest().MonthUnits = 4000;
    rig.cx.meter.TotalsForTest().PrevMonthUnits = 25;
    Click(Find<QLabel>("LCD3"));
    EXPECT_EQ(lbl3->text(), Q("当月累積"));
    EXPECT_EQ(Lcd(3), Q("¥40000"));
    EXPECT_EQ(Status(), Q("先月累積:¥250"));
    Click(lbl3);
    EXPECT_EQ(Lcd(3), Q("¥30"));
    // Not stored: only the settings dialog stores dosuumode.
    EXPECT_EQ(rig.store.values.count("Qel\\Kestrovan\\Setup\\dosuumode"), 0u);
}

TEST_F(MainWindowTest, HintsClearFiveSecondsAfterTheLastMove) {
    auto* connect = Find<QPushButton>("BtnConnect");
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(connect, &enter);
    EXPECT_EQ(Status(), Q("回線を接続します"));
    rig.loop.Advance(3000);
    QMouseEvent move(QEvent::MouseMove, QPointF(6, 6), QPointF(6, 6), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(connect, &move);
    rig.loop.Advance(4000);  // 7 s after entering, 4 s after the move
    EXPECT_EQ(Status(), Q("回線を接続します"));
    rig.loop.Advance(1000);
    EXPECT_EQ(Status(), "");

    QApplication::sendEvent(Find<QCheckBox>("ChkAutoMode"), &enter);
    EXPECT_EQ(Status(), Q("自動接続の抑制"));
    QApplication::sendEvent(Find<QLabel>("LCD8"), &enter);  // no hint of its own
    EXPECT_EQ(Status(), Q("自動接続の抑制"));
}

TEST_F(MainWindowTest, ChannelDisplayMenus) {
    auto* b12 = Find<QAction>("mnuB12");
    rig.cx.link.StatusForTest().CurrentChannel = 1;
    rig.cx.link.SetDisplayChannel(0);
    b12->trigger();
    EXPECT_EQ(rig.cx.link.DisplayChannel(), 2);
    b12->trigger();
    EXPECT_EQ(rig.cx.link.DisplayChannel(), 1);
    Find<QAction>("mnuB0")->trigger();
    EXPECT_EQ(rig.cx.link.DisplayChannel(), 0);
    rig.cx.link.StatusForTest().CurrentChannel = 2;
    b12->trigger();
    EXPECT_EQ(rig.cx.link.DisplayChannel(), 1);
}

TEST_F(MainWindowTest, TopmostBoxStoresDsptopAndSetsTheWindowFlag) {
    auto* top = Find<QCheckBox>("ChkTopDsp");
    window.show();
    top->click();
    EXPECT_EQ(rig.cx.settings.dsptop, 1);
    EXPECT_EQ(LoadIntSetting(rig.store, "Setup", "dsptop"), 1);
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(Status(), Q("最上位表示設定"));
    top->click();
    EXPECT_EQ(LoadIntSetting(rig.store, "Setup", "dsptop"), 0);
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(Status(), Q("最上位表示解除"));

    // Set by the program, the box runs the same handler; a hidden window stays hidden.
    window.hide();
    window.SetCheckBox(CheckBox::ChkTopDsp, 1);
    EXPECT_EQ(LoadIntSetting(rig.store, "Setup", "dsptop"), 1);
    EXPECT_FALSE(window.isVisible());
}

TEST_F(MainWindowTest, CloseBoxHidesAndMenusKeepTheirCheckMarks) {
    // Without a tray icon to bring it back, the close box only minimises (the notice box is
    // logged, not shown).
    qputenv("KESTROVAN_MESSAGEBOX_LOG", QByteArray::fromStdString(rig.dir + "/boxes.log"));
    window.show();
    rig.cx.tray.TrayIn();
    qunsetenv("KESTROVAN_MESSAGEBOX_LOG");
    window.close();
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.isMinimized());
    rig.cx.tray.TrayOut();
    struct : TrayIconPort {
        bool Available() override { return true; }
        void Add(const std::string&) override {}
        void Remove() override {}
        void SetTip(const std::string&) override {}
    } tray;
    rig.cx.tray.SetPort(&tray);
    rig.cx.tray.TrayIn();
    window.showNormal();
    window.close();
    EXPECT_FALSE(window.isVisible());
    rig.cx.tray.TrayOut();
    rig.cx.tray.SetPort(nullptr);

    auto* cutBrk = Find<QAction>("mnuCutBrk");
    cutBrk->trigger();
    EXPECT_TRUE(rig.cx.link.CutBreak());
    EXPECT_TRUE(cutBrk->isChecked());
    cutBrk->trigger();
    EXPECT_FALSE(rig.cx.link.CutBreak());
    EXPECT_FALSE(cutBrk->isChecked());
}

TEST_F(MainWindowTest, MessageWindowFollowsTheButton) {
    FrmMSG* msg = window.MessageWindow();
    EXPECT_EQ(msg->windowTitle(), "Information");
    EXPECT_TRUE(msg->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    Find<QPushButton>("BtnMsg")->click();
    EXPECT_TRUE(msg->isVisible());
    window.SetMessageText("ルータ");
    EXPECT_EQ(msg->Text(), Q("ルータ"));
    auto* label = msg->findChild<QLabel*>("LblMSG");
    auto* scroll = msg->findChild<QScrollArea*>("MsgScroll");
    ASSERT_NE(label, nullptr);
    ASSERT_NE(scroll, nullptr);
    msg->resize(200, 80);
    EXPECT_EQ(scroll->geometry(), QRect(0, 0, 200, 80));
    // A long reply is all there: the window scrolls rather than cutting it.
    QString reply;
    for (int line = 1; line <= 40; ++line) reply += QStringLiteral("B1 端末型 行%1\n").arg(line);
    window.SetMessageText(reply.toStdString());
    QApplication::processEvents();
    EXPECT_TRUE(scroll->verticalScrollBar()->isVisible());
    EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0);
    EXPECT_LT(msg->minimumWidth(), msg->width());
    Find<QPushButton>("BtnMsg")->click();
    EXPECT_FALSE(msg->isVisible());
}

TEST_F(MainWindowTest, LostLinkGreysEveryReadOutAndGivesTheirColoursBack) {
    window.SetLcdColour(5, kColourRed);
    window.SetFiguresLive(false);
    for (int n : {0, 1, 2, 3, 5, 6, 7, 8, 11})
        EXPECT_TRUE(Find<QLabel>(QStringLiteral("LCD%1").arg(n).toLatin1())
                        ->styleSheet()
                        .contains("rgb(128,128,128)"))
            << n;
    // A change while away shows when the link is back.
    window.SetLcdColour(6, kColourYellow);
    window.SetFiguresLive(true);
    EXPECT_TRUE(Find<QLabel>("LCD5")->styleSheet().contains("rgb(255,0,0)"));
    EXPECT_TRUE(Find<QLabel>("LCD6")->styleSheet().contains("rgb(255,255,0)"));
    EXPECT_TRUE(Find<QLabel>("LCD1")->styleSheet().contains("rgb(0,255,0)"));
}

// A notice does not wait: the caller goes on at once, and the tick is handed back on closing.
TEST_F(MainWindowTest, NoticeDoesNotWaitAndHandsBackItsTick) {
    window.show();
    int silenced = 0;
    window.ShowNotice("通知領域がありません", [&] { ++silenced; });
    auto* box = window.findChild<QMessageBox*>("Notice");
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->windowModality(), Qt::NonModal);
    auto* tick = box->findChild<QCheckBox*>("ChkSilence");
    ASSERT_NE(tick, nullptr);
    EXPECT_EQ(tick->text(), Q("次回から表示しない"));
    tick->setChecked(true);
    box->button(QMessageBox::Ok)->click();
    EXPECT_EQ(silenced, 1);
}

// At the smallest screen the program is used on, a box with a long text keeps its button on
// the screen: the text scrolls.
TEST_F(MainWindowTest, DebugBoxFitsTheScreen) {
    window.show();
    std::string reply;
    for (int line = 1; line <= 120; ++line)
        reply += "B1 端末型 0312345678 " + std::to_string(line) + "\n";
    const QRect screen = window.screen()->availableGeometry();
    QRect box, ok;
    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* b = qobject_cast<QMessageBox*>(w);
            if (!b || !b->isVisible() || b->objectName() == "Notice") continue;
            box = b->frameGeometry();
            QAbstractButton* button = b->button(QMessageBox::Ok);
            ok = QRect(button->mapToGlobal(QPoint(0, 0)), button->size());
            EXPECT_NE(b->findChild<QScrollArea*>("TextScroll"), nullptr);
            button->click();
        }
    });
    window.MessageBox(reply, "", MsgIcon::None, MsgButtons::Ok);
    ASSERT_FALSE(box.isEmpty());
    EXPECT_LE(box.height(), screen.height());
    EXPECT_TRUE(screen.contains(ok)) << ok.y() << " " << screen.height();
}

// Without a browser the desktop's opener answers 3 ("no method available"); without an opener
// at all there is nothing to start. Either way the help command hears of it.
TEST(QtShellTest, AnOpenerThatFindsNoProgramIsHeard) {
    QTemporaryDir bin;
    ASSERT_TRUE(bin.isValid());
    const QString page = bin.filePath(QStringLiteral("使用方法.htm"));
    QFile(page).open(QIODevice::WriteOnly);
    QFile opener(bin.filePath(QStringLiteral("xdg-open")));
    ASSERT_TRUE(opener.open(QIODevice::WriteOnly));
    opener.write("#!/bin/sh\nexit 3\n");
    opener.close();
    opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    for (const QByteArray& searched : {bin.path().toLocal8Bit() + ":/usr/bin:/bin",
                                       bin.filePath(QStringLiteral("none")).toLocal8Bit()}) {
        SCOPED_TRACE(searched.toStdString());
        qputenv("PATH", searched);
        QtShell shell;
        bool failed = false;
        if (shell.OpenWatched(page.toStdString(), [&] { failed = true; })) {
            QElapsedTimer waited;
            waited.start();
            while (!failed && waited.elapsed() < 5000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            EXPECT_TRUE(failed);
        }
    }
    qputenv("PATH", path);
}

// Pictures of the window at every height, for the documentation, when asked for.
TEST_F(MainWindowTest, Screenshots) {
    const QByteArray dir = qgetenv("KV_SCREENSHOT_DIR");
    if (dir.isEmpty()) GTEST_SKIP() << "set KV_SCREENSHOT_DIR to write the pictures";
    QDir().mkpath(QString::fromLocal8Bit(dir));
    window.SetLcdText(0, "B1 端末型 0312345678");
    window.SetLcdText(1, "00:03:25");
    window.SetLcdText(2, "\\20");
    window.SetLcdText(3, "\\1230");
    window.SetLcdText(5, "155");
    window.SetLcdText(6, "12");
    window.SetLcdText(7, "12%/ 3%/ 0%");
    window.SetLcdText(8, "2026/12/07 10:00:00");
    window.SetStatusText("Connection OK");
    window.show();
    rig.cx.settings.sizehigh = 0;
    for (int twips : {2050, 2650, 3250, 3850, 1560}) {
        Find<QPushButton>("BtnSize")->click();
        const QString file =
            QStringLiteral("%1/main-%2.png").arg(QString::fromLocal8Bit(dir)).arg(twips);
        EXPECT_TRUE(window.grab().save(file)) << file.toStdString();
    }
}

}  // namespace
}  // namespace kv::test
