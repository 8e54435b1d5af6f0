// SPDX-License-Identifier: GPL-3.0-or-later
// Renders Pelvaro's window to PNG files (run offscreen): <out>/pelvaro.png as started normally,
// <out>/pelvaro-upgrade.png with the conversion button shown.
#include <QApplication>
#include <QFont>
#include <QPixmap>

#include "maint/ui/frm_main.h"
#include "support/fakes.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setFont(QFont(QStringLiteral("Noto Sans CJK JP"), 10));
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    kv::test::MemorySettingsStore store;
    int failures = 0;
    for (const char* commandLine : {"", "upgrade"}) {
        kv::maint::FrmMain window;
        kv::maint::MaintContext cx(store, window, ".", ".");
        window.Attach(cx);
        kv::maint::Form_Load(cx, commandLine);
        window.show();
        window.adjustSize();
        QApplication::processEvents();
        const QString name = out + (*commandLine ? "/pelvaro-upgrade.png" : "/pelvaro.png");
        if (!window.grab().save(name)) ++failures;
    }
    return failures;
}
