#include "platform/qt_paths.h"

#include <QDir>
#include <QStandardPaths>

namespace kv {

std::string PerUserDataFolder() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.local/share");
    return (base + QStringLiteral("/Qel/Kestrovan")).toStdString();
}

}  // namespace kv
