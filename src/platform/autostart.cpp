// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/autostart.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/data_file.h"

namespace kv {

namespace {

// An Exec argument: quoted, with the characters the quotes do not protect escaped.
std::string ExecArgument(const std::string& arg) {
    std::string quoted = "\"";
    for (const char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
        if (c == '%') quoted += '%';  // not a field code
    }
    quoted += '"';
    // The entry's own escapes come on top: a backslash is written twice.
    std::string escaped;
    for (const char c : quoted) {
        if (c == '\\') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

}  // namespace

std::string AutostartEntryText(const std::string& programPath) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Kestrovan\n"
           "Comment=ISDN router monitor and call charge meter\n"
           "Comment[ja]=ISDNルータの監視と電話料金の計測\n"
           "Exec=" +
           ExecArgument(programPath) +
           " -W\n"
           "Icon=kestrovan\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool SetLogonStart(const std::string& autostartFolder, const std::string& programPath, bool on,
                   std::string& error) {
#ifdef Q_OS_WIN
    (void)autostartFolder;
    QSettings run(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
        QSettings::NativeFormat);
    if (on)
        run.setValue(QStringLiteral("Kestrovan"),
                     QStringLiteral("\"%1\" -W")
                         .arg(QDir::toNativeSeparators(QString::fromStdString(programPath))));
    else
        run.remove(QStringLiteral("Kestrovan"));
    run.sync();
    if (run.status() != QSettings::NoError) {
        error = "HKCU\\...\\Run";
        return false;
    }
    return true;
#else
    const std::string path = autostartFolder + "/" + kAutostartFileName;
    std::error_code ec;
    if (!on) {
        std::filesystem::remove(path, ec);
        if (ec) error = path + ": " + ec.message();
        return !ec;
    }
    std::filesystem::create_directories(autostartFolder, ec);
    if (!datafile::ReplaceWhole(path, AutostartEntryText(programPath))) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
#endif
}

std::string AutostartFolder() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.config");
    return (base + QStringLiteral("/autostart")).toStdString();
}

}  // namespace kv
