// SPDX-License-Identifier: GPL-3.0-or-later
// Renders each tab of the settings dialog to docs/screenshots/setup-<tab>.png, offscreen unless
// QT_QPA_PLATFORM names another platform (xcb: a real X server, e.g. Xvfb with a window manager).
// Usage: setup_screenshots [output folder]
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFont>
#include <QPixmap>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "app/ui/setup_host.h"
#include "platform/qt_translation.h"
#include "settings/ui/frm_setup.h"
#include "support/test_rig.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    kv::LoadQtJapanese(app);  // as the programs do
    QApplication::setFont(QFont(QStringLiteral("Noto Sans CJK JP"), 9));
    const QString folder =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots");
    QDir().mkpath(folder);

    kv::test::TestRig rig;
    kv::Settings& s = rig.cx.settings;
    kv::ApplyFirstRunValues(s);
    s.sohoip = "127.0.0.1";
    s.sohowp = "secret";
    s.HolidayTable = kv::SplitHolidays(kv::kDefaultHolidays);
    s.runid[0] = "/usr/local/bin/mailcheck";
    s.runenab[0] = 1;
    s.runstop[0] = 1;

    kv::AppSetupHost host(rig.cx);
    kv::FrmSetup dialog(host, nullptr,
                        [](QWidget*, const QString&) { return std::optional<QString>(); });
    dialog.show();
    auto* tabs = dialog.findChild<QTabWidget*>(QStringLiteral("SSTab1"));
    const char* names[] = {"basic", "advanced", "other", "linked"};
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        dialog.adjustSize();
        app.processEvents();
        const QString path = folder + "/setup-" + names[i] + ".png";
        if (!dialog.grab().save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("%s\n", qPrintable(path));
    }

    // The program chooser of "参照", over a folder with a program, a script and a text file.
    QTemporaryDir sample;
    for (const char* name : {"DIALER.EXE", "mailcheck", "readme.txt"}) {
        QFile f(sample.filePath(QString::fromUtf8(name)));
        if (f.open(QIODevice::WriteOnly)) f.close();
    }
    QFile::setPermissions(sample.filePath("mailcheck"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    s.runid[0] = sample.filePath("DIALER.EXE").toStdString();
    kv::FrmSetup chooser(host, nullptr);
    chooser.show();
    bool saved = false;
    QTimer::singleShot(800, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* files = qobject_cast<QFileDialog*>(w); files && files->isVisible()) {
                files->resize(560, 360);
                app.processEvents();
                saved = files->grab().save(folder + "/setup-file-dialog.png");
                files->reject();
            }
        }
    });
    chooser.BtnDir_Click(0);
    if (!saved) {
        std::fprintf(stderr, "the file dialog did not show\n");
        return 1;
    }
    std::printf("%s\n", qPrintable(folder + "/setup-file-dialog.png"));
    return 0;
}
