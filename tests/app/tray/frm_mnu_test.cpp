// FrmMnu on the offscreen platform: the menus as the user sees them, and check marks that
// show the program's state rather than Qt's own ticking.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <QMenu>
#include <QPainter>
#include <QProcess>
#include <QScreen>

#include "app/tray.h"
#include "app/ui/frm_mnu.h"
#include "app/ui/qt_window_placement.h"
#include "support/fakes.h"

namespace kv {
namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "frm_mnu_test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

// The main window hands the tray items' marks on to FrmMnu.
class ForwardingView : public test::RecordingView {
public:
    void SetMenuChecked(MenuItem item, bool checked) override {
        RecordingView::SetMenuChecked(item, checked);
        if (mnu) mnu->SetItemChecked(item, checked);
    }
    FrmMnu* mnu = nullptr;
};

std::vector<std::pair<QString, QString>> Items(const QMenu* menu) {
    std::vector<std::pair<QString, QString>> items;
    for (const QAction* a : menu->actions())
        items.emplace_back(a->objectName(), a->isSeparator() ? QString("-") : a->text());
    return items;
}

QAction* Item(const FrmMnu& mnu, const char* name) {
    for (QMenu* menu : {mnu.mnuTray1(), mnu.mnuTray2()})
        for (QAction* a : menu->actions())
            if (a->objectName() == QLatin1String(name)) return a;
    return nullptr;
}

class FrmMnuTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { App(); }  // before any member widget
    void SetUp() override {
        view.mnu = &mnu;
        rig.cx.ports.view = &view;
        rig.cx.ports.tray = &mnu;
    }
    test::TestRig rig;
    ForwardingView view;
    FrmMnu mnu{rig.cx};
};

TEST_F(FrmMnuTest, MenusCarryTheirCaptionsAndNames) {
    EXPECT_EQ(mnu.mnuTray1()->title(), QString::fromUtf8("メニュー１"));
    EXPECT_EQ(mnu.mnuTray2()->title(), QString::fromUtf8("メニュー２"));
    const std::vector<std::pair<QString, QString>> one = {
        {"mnuSOHO", QString::fromUtf8("SOHO表示")},
        {"mnuInit", QString::fromUtf8("基本設定")},
        {"mnuCutBrk", QString::fromUtf8("自動切断一時解除")},
        {"mnuOut", QString::fromUtf8("トレイから出る")},
        {"mnuSep", "-"},
        {"mnuEnd", QString::fromUtf8("終了")}};
    const std::vector<std::pair<QString, QString>> two = {
        {"mnuRight1", QString::fromUtf8("接続")},
        {"mnuRight2", QString::fromUtf8("切断")},
        {"mnuRight3", QString::fromUtf8("接続抑制")}};
    EXPECT_EQ(Items(mnu.mnuTray1()), one);
    EXPECT_EQ(Items(mnu.mnuTray2()), two);

    const QIcon icon = FrmMnu::ProgramIcon();
    const QList<QSize> sizes = icon.availableSizes();
    for (int s : {32, 64, 128}) EXPECT_TRUE(sizes.contains(QSize(s, s))) << s;
    EXPECT_FALSE(mnu.TxtTray()->icon().isNull());
}

TEST_F(FrmMnuTest, CheckMarksFollowTheProgramNotTheClick) {
    rig.cx.link.LoggedIn = 0;
    view.SetMenuChecked(MenuItem::TrayRight3, true);  // rmtauto 0 at start-up
    QAction* right3 = Item(mnu, "mnuRight3");
    ASSERT_NE(right3, nullptr);
    EXPECT_TRUE(right3->isChecked());
    right3->trigger();  // not logged in: nothing happens, and the tick stays
    EXPECT_TRUE(right3->isChecked());

    // Logged in, the check box's handler switches the router and reports the new mark.
    rig.cx.link.LoggedIn = 1;
    rig.cx.settings.rmtauto = 0;
    view.onCheckBoxClick = [&](CheckBox, int value) {
        rig.cx.settings.rmtauto = value == 1 ? 1 : 0;
        view.SetMenuChecked(MenuItem::TrayRight3, rig.cx.settings.rmtauto != 1);
    };
    view.SetCheckBox(CheckBox::ChkAutoMode, 0);
    right3->trigger();
    EXPECT_EQ(rig.cx.settings.rmtauto, 1);
    EXPECT_FALSE(right3->isChecked());
    right3->trigger();
    EXPECT_EQ(rig.cx.settings.rmtauto, 0);
    EXPECT_TRUE(right3->isChecked());

    QAction* cutBrk = Item(mnu, "mnuCutBrk");
    ASSERT_NE(cutBrk, nullptr);
    cutBrk->trigger();
    EXPECT_TRUE(cutBrk->isChecked());
    EXPECT_EQ(rig.cx.CutBreak, 1);
    cutBrk->trigger();
    EXPECT_FALSE(cutBrk->isChecked());
    EXPECT_EQ(rig.cx.CutBreak, 0);
}

TEST_F(FrmMnuTest, ClicksOnTheIconOpenTheMenusOrTheWindow) {
    mnu.TxtTray_Activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(mnu.mnuTray1()->isVisible());
    EXPECT_FALSE(mnu.mnuTray2()->isVisible());
    mnu.mnuTray1()->hide();
    mnu.TxtTray_Activated(QSystemTrayIcon::Context);
    EXPECT_TRUE(mnu.mnuTray2()->isVisible());
    mnu.mnuTray2()->hide();

    view.visible = false;
    mnu.TxtTray_Activated(QSystemTrayIcon::MiddleClick);
    EXPECT_FALSE(view.visible);
    mnu.TxtTray_Activated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(view.visible);

    mnu.Add("Kestrovan Ver 0.66β");  // as TrayIn does where there is a notification area
    rig.cx.TrayInstalled = 1;
    EXPECT_EQ(mnu.TxtTray()->toolTip(), QString::fromUtf8("Kestrovan Ver 0.66β"));
    Item(mnu, "mnuEnd")->trigger();  // TrayOut through the port
    EXPECT_FALSE(mnu.TxtTray()->isVisible());
    EXPECT_TRUE(mnu.TxtTray()->toolTip().isEmpty());
    EXPECT_EQ(rig.cx.DelayedAction, 1);
}

TEST(QtWindowPlacementTest, RestoresAndReportsTheClientRectangleInTwips) {
    App();
    QWidget window;
    QtWindowPlacement placement(&window);
    placement.Move(1500, 750, 1830, 3885);
    const auto r = placement.NormalRect();
    EXPECT_EQ(r.left, 100);
    EXPECT_EQ(r.top, 50);
    EXPECT_EQ(r.right, 222);
    EXPECT_EQ(r.bottom, 309);
    EXPECT_EQ(placement.CurrentWidth(), 1830);
    EXPECT_EQ(placement.CurrentHeight(), 3885);
    placement.Move(0, 0, 0, 0);  // a bad stored value still leaves a window
    EXPECT_GE(window.width(), 1);
    EXPECT_GE(window.height(), 1);
}

// Lets the X server and the panel answer; only for the real-desktop check.
void Pump(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
}

// On a real X display with a notification area (tests/app/tray/real_tray_check.sh runs it
// under Xvfb with trayer):
// the icon is embedded, and a click on it opens the left-click menu.
TEST_F(FrmMnuTest, RealNotificationArea) {
    if (qgetenv("KV_REAL_TRAY") != "1") GTEST_SKIP() << "set KV_REAL_TRAY=1 on a desktop with a tray";
    ASSERT_TRUE(mnu.Available());
    rig.cx.settings.debuglog = 0;
    TrayIn(rig.cx);
    QRect where;
    // Until the panel has taken the icon in (it sits at the top right, not at the origin).
    for (int i = 0; i < 100 && (where.isEmpty() || where.topLeft() == QPoint(0, 0)); ++i) {
        Pump(50);
        where = mnu.TxtTray()->geometry();
    }
    ASSERT_FALSE(where.isEmpty() || where.topLeft() == QPoint(0, 0)) << "not embedded";
    EXPECT_TRUE(view.statusHistory.empty());
    // Let the panel map the embedded icon before clicking it.
    for (int i = 0; i < 10; ++i) Pump(50);
    where = mnu.TxtTray()->geometry();
    const QPoint centre = where.center();
    QProcess::execute("xdotool", {"mousemove", QString::number(centre.x()),
                                  QString::number(centre.y()), "click", "1"});
    for (int i = 0; i < 100 && !mnu.mnuTray1()->isVisible(); ++i)
        Pump(50);
    EXPECT_TRUE(mnu.mnuTray1()->isVisible()) << "icon at " << where.x() << "," << where.y();
    const QByteArray dir = qgetenv("KV_SCREENSHOT_DIR");
    if (!dir.isEmpty() && mnu.mnuTray1()->isVisible()) {
        Pump(300);  // painted
        QScreen* screen = QGuiApplication::primaryScreen();
        screen->grabWindow(0).save(QString::fromLocal8Bit(dir) + "/tray-real-desktop.png");
    }
    mnu.mnuTray1()->hide();
    QProcess::execute("xdotool", {"click", "3"});
    for (int i = 0; i < 100 && !mnu.mnuTray2()->isVisible(); ++i)
        Pump(50);
    EXPECT_TRUE(mnu.mnuTray2()->isVisible());
    mnu.mnuTray2()->hide();
    TrayOut(rig.cx);
    EXPECT_FALSE(mnu.TxtTray()->isVisible());
}

// Not a check: writes the pictures of both menus for the documentation when asked to.
TEST_F(FrmMnuTest, ScreenshotsOfBothMenus) {
    const QByteArray dir = qgetenv("KV_SCREENSHOT_DIR");
    if (dir.isEmpty()) GTEST_SKIP() << "set KV_SCREENSHOT_DIR to write the pictures";
    view.SetMenuChecked(MenuItem::TrayRight3, true);
    QDir().mkpath(QString::fromLocal8Bit(dir));
    const struct {
        QMenu* menu;
        const char* file;
    } shots[] = {{mnu.mnuTray1(), "/tray-menu1.png"}, {mnu.mnuTray2(), "/tray-menu2.png"}};
    for (const auto& s : shots) {
        s.menu->popup(QPoint(0, 0));
        const QPixmap picture = s.menu->grab();
        s.menu->hide();
        ASSERT_FALSE(picture.isNull());
        EXPECT_TRUE(picture.save(QString::fromLocal8Bit(dir) + s.file));
    }
}

}  // namespace
}  // namespace kv
