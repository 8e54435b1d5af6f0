// SPDX-License-Identifier: GPL-3.0-or-later
// FrmMnu on the offscreen platform: the menus as the user sees them, and check marks that show
// the program's state rather than Qt's own ticking. The real-desktop check and the pictures run
// only when asked for (real_tray_check.sh, KV_SCREENSHOT_DIR).
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QThread>

#include "app/startup.h"
#include "app/tray.h"
#include "app/ui/frm_mnu.h"
#include "app/ui/qt_window_placement.h"
#include "support/test_rig.h"

namespace kv {
namespace {

// The main window hands the tray items' marks on to FrmMnu.
class ForwardingView : public test::RecordingView {
  public:
    void SetMenuChecked(MenuItem item, bool checked) override {
        RecordingView::SetMenuChecked(item, checked);
        mnu->SetItemChecked(item, checked);
    }
    FrmMnu* mnu = nullptr;
};

QStringList Items(const QMenu* menu) {
    QStringList items;
    for (const QAction* a : menu->actions())
        items << a->objectName() + "=" + (a->isSeparator() ? "-" : a->text());
    return items;
}

// Lets the X server and the panel answer; only for the real-desktop check.
bool PumpUntil(const std::function<bool()>& done, int boundMs = 5000) {
    QElapsedTimer t;
    for (t.start(); !done() && t.elapsed() < boundMs; QThread::msleep(5))
        QCoreApplication::processEvents();
    return done();
}

class FrmMnuTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {  // before any member widget
        static int argc = 1;
        static char* argv[] = {const_cast<char*>("frm_mnu_test"), nullptr};
        static QApplication app(argc, argv);
    }
    void SetUp() override {
        view.mnu = &mnu;
        mnu.Attach(rig.cx);
        rig.cx.tray.SetPort(&mnu);
    }
    QAction* Find(const char* name) {
        for (QMenu* menu : {mnu.mnuTray1(), mnu.mnuTray2()})
            for (QAction* a : menu->actions())
                if (a->objectName() == QLatin1String(name)) return a;
        return nullptr;
    }
    ForwardingView view;  // both before the rig, whose view it is
    FrmMnu mnu;
    test::TestRig rig{test::RigPorts{.view = &view}};
};

TEST_F(FrmMnuTest, MenusCarryTheirCaptionsNamesAndIcon) {
    EXPECT_EQ(mnu.mnuTray1()->title(), QString::fromUtf8("メニュー１"));
    EXPECT_EQ(mnu.mnuTray2()->title(), QString::fromUtf8("メニュー２"));
    EXPECT_EQ(Items(mnu.mnuTray1()).join("|"),
              QString::fromUtf8("mnuSOHO=SOHO表示|mnuInit=基本設定|mnuCutBrk=自動切断一時解除|"
                                "mnuOut=トレイから出る|mnuSep=-|mnuEnd=終了"));
    EXPECT_EQ(Items(mnu.mnuTray2()).join("|"),
              QString::fromUtf8("mnuRight1=接続|mnuRight2=切断|mnuRight3=接続抑制"));
    const QList<QSize> sizes = FrmMnu::ProgramIcon().availableSizes();
    for (int s : {32, 64, 128}) EXPECT_TRUE(sizes.contains(QSize(s, s))) << s;
}

TEST_F(FrmMnuTest, CheckMarksFollowTheProgramNotTheClick) {
    QAction* right3 = Find("mnuRight3");
    QAction* cutBrk = Find("mnuCutBrk");
    view.SetMenuChecked(MenuItem::TrayRight3, true);  // rmtauto 0 at start-up
    rig.cx.link.StateForTest().LoggedIn = false;
    right3->trigger();  // nothing happens, so the tick stays
    EXPECT_TRUE(right3->isChecked());

    // Logged in, the check box's handler switches the router and reports the new mark.
    rig.cx.link.StateForTest().LoggedIn = true;
    view.onCheckBoxClick = [&](CheckBox, int value) {
        rig.cx.settings.rmtauto = value == 1 ? 1 : 0;
        view.SetMenuChecked(MenuItem::TrayRight3, rig.cx.settings.rmtauto != 1);
    };
    right3->trigger();
    EXPECT_EQ(rig.cx.settings.rmtauto, 1);
    EXPECT_FALSE(right3->isChecked());
    right3->trigger();
    EXPECT_TRUE(right3->isChecked());

    cutBrk->trigger();
    EXPECT_TRUE(cutBrk->isChecked());
    EXPECT_TRUE(rig.cx.link.CutBreak());
    cutBrk->trigger();
    EXPECT_FALSE(cutBrk->isChecked());
}

TEST_F(FrmMnuTest, ClicksOnTheIconOpenTheMenusOrTheWindowAndEndTakesItOut) {
    // A double-click: the left menu's wait is cut short and only the window comes.
    view.visible = false;
    mnu.TxtTray_Activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(mnu.LeftMenuPending());
    mnu.TxtTray_Activated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(view.visible);
    EXPECT_FALSE(mnu.LeftMenuPending());
    PumpUntil([] { return false; }, QApplication::doubleClickInterval() + 100);
    EXPECT_FALSE(mnu.mnuTray1()->isVisible());
    // A single click opens the left menu once the double-click time has passed.
    mnu.TxtTray_Activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(mnu.mnuTray1()->isVisible());
    EXPECT_TRUE(PumpUntil([&] { return mnu.mnuTray1()->isVisible(); }));
    mnu.mnuTray1()->hide();
    // The right menu is the icon's context menu, shown by the platform.
    EXPECT_EQ(mnu.TxtTray()->contextMenu(), mnu.mnuTray2());

    mnu.Add(kTrayTip);     // as TrayIn does where there is a notification area
    rig.cx.tray.TrayIn();  // offscreen there is none, but the icon counts as put in
    EXPECT_EQ(mnu.TxtTray()->toolTip(), QString::fromUtf8("Kestrovan Ver 0.66β"));
    Find("mnuEnd")->trigger();
    EXPECT_FALSE(mnu.TxtTray()->isVisible());
    EXPECT_EQ(rig.cx.delayed.Pending(), DelayedAction::Unload);
}

TEST(QtWindowPlacementTest, UnframedWindowReportsTheFrameItWasGivenInTwips) {
    QWidget window;
    QtWindowPlacement placement(&window);
    placement.Move(1500, 750, 1830, 3885);
    const auto r = placement.NormalRect();
    EXPECT_EQ((std::array<int32_t, 4>{r.left, r.top, r.right, r.bottom}),
              (std::array<int32_t, 4>{100, 50, 222, 309}));
    EXPECT_EQ(placement.CurrentWidth(), 1830);
    placement.Move(0, 0, 0, 0);  // a bad stored value still leaves a window
    EXPECT_GE(window.height(), 1);
}

// Under Xvfb with a tray panel: the icon is embedded and real clicks open the menus.
TEST_F(FrmMnuTest, RealNotificationArea) {
    if (qgetenv("KV_REAL_TRAY") != "1") GTEST_SKIP() << "run real_tray_check.sh";
    ASSERT_TRUE(mnu.Available());
    rig.cx.tray.TrayIn();
    // Embedded once the panel has moved it off the origin (the panel sits top right).
    ASSERT_TRUE(PumpUntil([&] { return mnu.TxtTray()->geometry().x() > 0; }));
    PumpUntil([] { return false; }, 500);  // let the panel map it
    const QPoint at = mnu.TxtTray()->geometry().center();
    QProcess::execute(
        "xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"});
    EXPECT_TRUE(PumpUntil([&] { return mnu.mnuTray1()->isVisible(); }));
    const QString dir = qEnvironmentVariable("KV_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        PumpUntil([] { return false; }, 300);  // painted
        QGuiApplication::primaryScreen()->grabWindow(0).save(dir + "/tray-real-desktop.png");
    }
    mnu.mnuTray1()->hide();
    QProcess::execute("xdotool", {"click", "3"});
    EXPECT_TRUE(PumpUntil([&] { return mnu.mnuTray2()->isVisible(); }));
    mnu.mnuTray2()->hide();
    // A real double-click brings the window and opens no menu.
    view.visible = false;
    QProcess::execute("xdotool", {"click", "--repeat", "2", "--delay", "80", "1"});
    EXPECT_TRUE(PumpUntil([&] { return view.visible; }));
    PumpUntil([] { return false; }, QApplication::doubleClickInterval() + 200);
    EXPECT_FALSE(mnu.mnuTray1()->isVisible());
    rig.cx.tray.TrayOut();
    EXPECT_FALSE(mnu.TxtTray()->isVisible());
}

// Started before the panel (as at login): the window stays reachable, and the icon docks once
// the panel is there.
TEST_F(FrmMnuTest, RealNotificationAreaTurningUpLater) {
    if (qgetenv("KV_REAL_TRAY") != "late") GTEST_SKIP() << "run real_tray_check.sh";
    ASSERT_FALSE(mnu.Available());
    view.visible = false;
    rig.cx.tray.TrayIn();
    EXPECT_TRUE(view.visible);
    EXPECT_EQ(view.notices, std::vector<std::string>{kNoTrayText});
    EXPECT_FALSE(rig.cx.tray.Docked());
    bool cancel = false;
    Form_QueryUnload(rig.cx, cancel, UnloadMode::UserClose);
    EXPECT_TRUE(view.visible);
    EXPECT_EQ(view.minimized, 1);
    QProcess panel;
    panel.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width",
                           "120", "--height", "32", "--SetDockType", "true"});
    ASSERT_TRUE(panel.waitForStarted());
    EXPECT_TRUE(PumpUntil([&] { return rig.cx.tray.Docked(); }, 12000));
    EXPECT_TRUE(PumpUntil([&] { return mnu.TxtTray()->geometry().x() > 0; }));
    Form_QueryUnload(rig.cx, cancel, UnloadMode::UserClose);
    EXPECT_FALSE(view.visible);
    rig.cx.tray.TrayOut();
    panel.kill();
    panel.waitForFinished();
}

TEST_F(FrmMnuTest, PicturesOfBothMenus) {
    const QString dir = qEnvironmentVariable("KV_SCREENSHOT_DIR");
    if (dir.isEmpty() || qgetenv("KV_REAL_TRAY") == "1") GTEST_SKIP() << "no picture folder";
    view.SetMenuChecked(MenuItem::TrayRight3, true);
    QDir().mkpath(dir);
    for (QMenu* menu : {mnu.mnuTray1(), mnu.mnuTray2()}) {
        menu->popup(QPoint(0, 0));
        const char* file = menu == mnu.mnuTray1() ? "/tray-menu1.png" : "/tray-menu2.png";
        EXPECT_TRUE(menu->grab().save(dir + file));
        menu->hide();
    }
}

}  // namespace
}  // namespace kv
