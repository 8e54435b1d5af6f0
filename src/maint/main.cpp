// SPDX-License-Identifier: GPL-3.0-or-later
// Pelvaro: saves, loads and deletes Kestrovan's settings, and converts Orlavine's; with options,
// the same from the command line without a window.
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QStringList>
#include <iostream>
#include <string>
#include <vector>

#include "common/instance_probe.h"
#include "common/terminal.h"
#include "maint/cli.h"
#include "maint/commands.h"
#include "maint/ui/frm_main.h"
#include "platform/qt_paths.h"
#include "platform/system_settings_store.h"
#include "platform/qt_translation.h"
#include "settings/settings.h"

namespace {

// A question on the terminal when a person is at it; nobody there: no answer.
std::optional<bool> AskOnTerminal(const std::string& question) {
    if (!kv::PersonAtTerminal()) return std::nullopt;
    std::cerr << question << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "はい";
}

// Kestrovan's one-instance lock for these settings, looked at without knocking.
std::function<bool()> KestrovanRunning(kv::SystemSettingsStore& store) {
    return [&store] {
        return kv::InstanceRunning(kv::InstanceName(store.Location(kv::kApplication, kv::kAppKey)));
    };
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (kv::maint::IsCommandLineMode(args)) {
        // No display needed: no widget is made in this mode.
        kv::UseParentConsole();
        QCoreApplication app(argc, argv);
        kv::SystemSettingsStore store;
        return kv::maint::RunCommandLine(
            args, store, QCoreApplication::applicationDirPath().toStdString(),
            QDir::currentPath().toStdString(), {std::cout, std::cerr, AskOnTerminal},
            kv::PerUserDataFolder(), KestrovanRunning(store));
    }
    QApplication app(argc, argv);
    kv::LoadQtJapanese(app);
    kv::SystemSettingsStore store;
    kv::maint::FrmMain window;
    kv::maint::MaintContext cx{store, window, QCoreApplication::applicationDirPath().toStdString(),
                               QDir::currentPath().toStdString()};
    cx.PerUserDataFolder = kv::PerUserDataFolder();
    cx.KestrovanRunning = KestrovanRunning(store);
    window.Attach(cx);
    const QString commandLine = QCoreApplication::arguments().mid(1).join(QLatin1Char(' '));
    kv::maint::Form_Load(cx, commandLine.toStdString());
    window.show();
    return QApplication::exec();
}
