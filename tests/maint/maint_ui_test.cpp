// SPDX-License-Identifier: GPL-3.0-or-later
// Pelvaro's window (offscreen) and its handlers on the real settings store.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <filesystem>

#include "maint/export_file.h"
#include "maint/ui/frm_main.h"
#include "maint_test_support.h"
#include "platform/qt_message_box.h"
#include "platform/qt_settings_store.h"
#include "platform/qt_translation.h"
#include "settings/settings.h"

namespace kv::maint {
namespace {

namespace fs = std::filesystem;

// Answers the next modal message box with `button` and remembers its text.
void AnswerNextBox(QMessageBox::StandardButton button, QString* text) {
    QTimer::singleShot(0, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        *text = box->text();
        box->button(button)->click();
    });
}

struct WindowRig {
    WindowRig() : dir(kv::test::MakeTempDir()), cx(store, window, dir, dir) { window.Attach(cx); }
    ~WindowRig() { kv::test::RemoveTree(dir); }
    std::string dir;
    kv::test::MemorySettingsStore store;
    FrmMain window;
    MaintContext cx;
};

TEST(MaintWindowUi, ConversionButtonFollowsTheCommandLine) {
    {
        WindowRig rig;
        Form_Load(rig.cx, "UPGRADE");
        rig.window.show();
        EXPECT_TRUE(rig.window.CmdConv->isVisible());
    }
    {
        WindowRig rig;
        Form_Load(rig.cx, "");
        rig.window.show();
        EXPECT_FALSE(rig.window.CmdConv->isVisible());
        EXPECT_TRUE(rig.window.CmdSave->isVisible());
        EXPECT_FALSE(rig.window.windowIcon().availableSizes().isEmpty());
    }
}

TEST(MaintWindowUi, ButtonsReachTheHandlers) {
    WindowRig rig;
    rig.store.Write(kApplication, "Kestrovan\\Setup", "sohoip", "10.2.3.4");
    rig.window.show();

    QString text;
    AnswerNextBox(QMessageBox::Ok, &text);
    rig.window.CmdSave->click();
    EXPECT_EQ(text, QStringLiteral("保存しました"));
    EXPECT_EQ(test::ReadAll(rig.dir + "/Kestrovan.reg").substr(0, 10), "10.2.3.4\r\n");

    // Saying No to the delete question keeps the settings.
    AnswerNextBox(QMessageBox::No, &text);
    rig.window.CmdDel->click();
    EXPECT_EQ(text, QStringLiteral("削除します"));
    EXPECT_TRUE(rig.store.HasAppKey(kApplication, kAppKey));
}

// The same round trip through QSettings files: the values with commas, quotes and leading
// blanks must survive the store's own text format too.
TEST(MaintWindowUi, QtsOwnButtonsSpeakJapanese) {
    if (!kv::LoadQtJapanese(*QCoreApplication::instance()))
        GTEST_SKIP() << "Qt's Japanese translation is not installed (qt6-translations-l10n)";
    QStringList buttons;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        for (auto b : {QMessageBox::Yes, QMessageBox::No}) buttons << box->button(b)->text();
        box->button(QMessageBox::No)->click();
    });
    EXPECT_EQ(kv::ExecMessageBox(nullptr, "削除しますか", "確認", MsgIcon::Question,
                                 MsgButtons::YesNo, false),
              MsgResult::No);
    // As Japanese Windows writes them: the access key after the word.
    EXPECT_EQ(buttons, (QStringList{"はい(&Y)", "いいえ(&N)"}));
}

TEST(MaintRealStore, SaveDeleteLoadRestoresTrickyValues) {
    const std::string dir = kv::test::MakeTempDir();
    {
        QtSettingsStore store(dir + "/config");
        test::RecordingMaintView view;
        MaintContext cx(store, view, dir, dir);
        const std::vector<std::pair<std::string, std::string>> values = {
            {"sohowp", " g,\"x"},
            {"holiday", " 1/ 1 1/15"},
            {"runid1", "C:\\a,b\\c.exe"},
            {"sohoip", "127.0.0.1"},
            {"seca", "-1"},
            {"runid3", "\"quoted\""}};
        for (const auto& [k, v] : values) store.Write(kApplication, "Kestrovan\\Setup", k, v);
        store.Write(kApplication, "Kestrovan\\Setup", "linecut", "1");
        store.Write(kApplication, "Kestrovan\\FormPos", "Main", "10,20,300,400");
        store.Write(kApplication, "Kestrovan\\Variant", "ver", "Ver 0.66β");

        CmdSave_Click(cx);
        ASSERT_EQ(view.last(), "保存しました");
        CmdDel_Click(cx);
        ASSERT_EQ(view.last(), "削除しました");
        EXPECT_FALSE(store.HasAppKey(kApplication, kAppKey));
        CmdLoad_Click(cx);
        ASSERT_EQ(view.last(), "読込ました");

        for (const auto& [k, v] : values)
            EXPECT_EQ(store.Read(kApplication, "Kestrovan\\Setup", k), v) << k;
        EXPECT_EQ(store.Read(kApplication, "Kestrovan\\FormPos", "Main"), "10,20,300,400");
        EXPECT_EQ(store.Read(kApplication, "Kestrovan\\Variant", "ver"), "Ver 0.66β");
        EXPECT_EQ(store.Read(kApplication, "Kestrovan\\Setup", "runstop3"), "0");
        EXPECT_EQ(store.Read(kApplication, "Kestrovan\\Setup", "linecut"), std::nullopt);
    }
    kv::test::RemoveTree(dir);
}

}  // namespace
}  // namespace kv::maint

// The application must be gone before the program's static objects are destroyed.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
