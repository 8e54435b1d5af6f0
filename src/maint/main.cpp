// Pelvaro: saves, loads and deletes Kestrovan's settings, and converts Orlavine's.
#include <QApplication>
#include <QDir>
#include <QStringList>

#include "maint/commands.h"
#include "maint/ui/frm_main.h"
#include "platform/qt_settings_store.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    kv::QtSettingsStore store;
    kv::maint::FrmMain window;
    kv::maint::MaintContext cx{store, window, QCoreApplication::applicationDirPath().toStdString(),
                               QDir::currentPath().toStdString()};
    window.Attach(cx);
    const QString commandLine = QCoreApplication::arguments().mid(1).join(QLatin1Char(' '));
    kv::maint::Form_Load(cx, commandLine.toStdString());
    window.show();
    return QApplication::exec();
}
