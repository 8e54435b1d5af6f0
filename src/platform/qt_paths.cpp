// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt_paths.h"

#include <QDir>
#include <QStandardPaths>

namespace kv {

std::string PerUserDataFolder() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.local/share");
    // On Windows %LOCALAPPDATA%\Qel\Kestrovan, written the way its users write paths.
    return QDir::toNativeSeparators(base + QStringLiteral("/Qel/Kestrovan")).toStdString();
}

std::vector<std::string> InstalledDataFolders(const std::string& appDir) {
    std::vector<std::string> folders{appDir + "/../share/kestrovan"};
    for (const QString& base :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        folders.push_back((base + QStringLiteral("/kestrovan")).toStdString());
    return folders;
}

}  // namespace kv
