// SPDX-License-Identifier: GPL-3.0-or-later
// Kestrovan: start-up of the process, the ports, and the main window's load.
#include <QApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "accounting/totals_check.h"
#include "app/commands.h"
#include "app/context.h"
#include "app/form_position.h"
#include "app/single_instance.h"
#include "app/startup.h"
#include "app/ui/frm_mnu.h"
#include "app/ui/main_window.h"
#include "app/ui/qt_notifier.h"
#include "app/ui/qt_ports.h"
#include "app/ui/qt_window_placement.h"
#include "app/ui/setup_host.h"
#include "app/ui/shutdown_signals.h"
#include "common/data_file.h"
#include "common/licence.h"
#include "common/terminal.h"
#include "logview/ui/frm_log.h"
#include "platform/qt_event_loop.h"
#include "platform/autostart.h"
#include "platform/qt_paths.h"
#include "platform/system_settings_store.h"
#include "platform/qt_translation.h"
#include "platform/socket_transport.h"
#include "settings/ui/frm_setup.h"
#ifdef _WIN32
#include "platform/win_process_runner.h"
using ProcessRunnerOfTheSystem = kv::WinProcessRunner;
#else
#include "platform/posix_process_runner.h"
using ProcessRunnerOfTheSystem = kv::PosixProcessRunner;
#endif

namespace {

// The console port of the router; the simulator listens on an unprivileged one.
uint16_t ConsolePortFromEnvironment() {
    const char* text = std::getenv("KESTROVAN_CONSOLE_PORT");
    if (!text || !*text) return 23;
    char* end = nullptr;
    const long port = std::strtol(text, &end, 10);
    if (*end != '\0' || port < 1 || port > 65535) {
        std::fprintf(stderr, "kestrovan: KESTROVAN_CONSOLE_PORT=%s is not a port; using 23\n",
                     text);
        return 23;
    }
    return static_cast<uint16_t>(port);
}

const char* const kHelpText =
    "使い方: kestrovan [-DEBUG] [-W] [-S]\n"
    "       kestrovan --check-totals | --repair-totals | --help | --version\n"
    "\n"
    "  -DEBUG            トレースに手順を書き、ステータスバーに手順を表示します\n"
    "  -W                起動前に約5秒待ちます\n"
    "  -S                起動時に設定画面を開きます\n"
    "  --check-totals    通話記録から累積を数え直し、累積ファイルと比べます\n"
    "                    (一致: 0, 不一致: 1)\n"
    "  --repair-totals   数え直した累積を累積ファイルに書きます (元のファイルは残します)\n"
    "  --help            この説明を表示します\n"
    "  --version         版を表示します\n"
    "\n"
    "環境変数: KESTROVAN_CONSOLE_PORT (ルータのポート, 既定 23),\n"
    "          KESTROVAN_MESSAGEBOX_LOG (メッセージを表示せずにこのファイルに書きます)\n";

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "--version" || arg == "--check-totals" ||
            arg == "--repair-totals")
            kv::UseParentConsole();
        // Said and done at once: no window, no router.
        if (arg == "--help" || arg == "--version") {
            std::fputs(arg == "--help" ? kHelpText
                                       : (std::string("Kestrovan ") + kv::kVersionText + "\n" +
                                          kv::kLicenceNotice)
                                             .c_str(),
                       stdout);
            return 0;
        }
        // The totals checked or rebuilt from the call log, where the program keeps it.
        if (arg != "--check-totals" && arg != "--repair-totals") continue;
        QCoreApplication core(argc, argv);
        kv::SystemClock clock;
        kv::SystemSettingsStore store;
        const std::string data =
            kv::datafile::ChooseDataFolder(QCoreApplication::applicationDirPath().toStdString(),
                                           kv::PerUserDataFolder(), /*create=*/false)
                .path;
        std::string out;
        const int code =
            kv::CheckTotalsCommand(store, data, arg == "--repair-totals", clock.Now(), out);
        std::fputs(out.c_str(), stdout);
        return code;
    }
    QApplication app(argc, argv);
    kv::LoadQtJapanese(app);
    // The program lives in the tray: hiding or closing its windows never ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    kv::SystemClock clock;
    kv::QtTimerFactory timers;
    kv::SystemSettingsStore store;
    // A router on the local network answers a connect at once; an address that does not
    // answer costs at most this, also for each attempt to log in again.
    kv::SocketTransport transport(10000);
    kv::QtTimer tmrSOHO, tmrDSP, Tmr1Sec, tmrRetry;
    ProcessRunnerOfTheSystem runner;
    kv::QtShell shell;
    kv::QtProgramExit programExit;

    kv::Kestrovan window;
    // The tray's window is loaded here, before start-up reaches TrayIn; it is never shown.
    kv::FrmMnu frmMnu;

    kv::Context cx(kv::Ports{clock, timers, store, transport, tmrSOHO, tmrDSP, Tmr1Sec, tmrRetry,
                             window, runner, shell, programExit});
    cx.PerUserDataFolder = kv::PerUserDataFolder();
    store.SetNoteHandler([&cx](const std::string& note) { cx.trace.Error(note); });
    cx.HelpFolders = kv::InstalledDataFolders(QCoreApplication::applicationDirPath().toStdString());
    cx.link.SetConsolePort(ConsolePortFromEnvironment());
    window.Attach(cx);
    frmMnu.Attach(cx);
    cx.tray.SetPort(&frmMnu);
    kv::QtNotifier notifier(frmMnu.TxtTray());
    cx.notices.SetPort(&notifier);
    window.SetTrayMenuCheckHandler(
        [&frmMnu](kv::MenuItem item, bool checked) { frmMnu.SetItemChecked(item, checked); });

    kv::QtWindowPlacement placement(&window);
    std::unique_ptr<kv::clsSetFormPosition> formPosition;

    kv::AppSetupHost setupHost(cx);
    setupHost.SetLogonStart = [](bool on, std::string& error) {
        return kv::SetLogonStart(kv::AutostartFolder(),
                                 QCoreApplication::applicationFilePath().toStdString(), on, error);
    };
    cx.hooks.ShowSetupDialog = [&setupHost, &window] { ShowSetupDialog(setupHost, &window); };
    QPointer<kv::FrmLog> logViewer;
    cx.hooks.ShowLogViewer = [&cx, &window, &clock, &logViewer] {
        logViewer = ShowLogViewer(
            cx.meter.LogPath(), &window,
            [&cx, &clock] {
                // Taken here, on the window's thread: the rebuild runs on the viewer's own
                // while the program goes on changing its settings and files.
                return kv::FrmLog::TotalsCheckWork(
                    [log = cx.meter.LogPath(), data = cx.meter.DataPath(), settings = cx.settings,
                     now = clock.Now()](const std::atomic<bool>& cancel,
                                        const kv::FrmLog::ProgressReport& progress) {
                        const kv::TotalsCheck check =
                            kv::CheckTotals(log, data, settings, now, {progress, &cancel});
                        return kv::FormatTotalsCheck(check, log, data, kv::CheckTextStyle::Html);
                    });
            },
            logViewer.data());
    };
    cx.hooks.SaveWindowPosition = [&formPosition, &store] {
        if (!formPosition) return;
        // The trace is closed by now: the terminal is the only place left to say it.
        if (!formPosition->SetFormPosition()) {
            const std::string why = store.LastError();
            std::fprintf(stderr, "Kestrovan: ウィンドウの位置を保存できませんでした%s%s\n",
                         why.empty() ? "" : ": ", why.c_str());
        }
        formPosition.reset();
    };

    kv::WireMainTimers(cx);

    // Ending the session or a termination signal runs the same shutdown as "終了".
    auto shutdown = [&cx] {
        bool cancel = false;
        kv::Form_QueryUnload(cx, cancel, kv::UnloadMode::Program);
    };
    kv::ShutdownSignals shutdownSignals(shutdown);
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &app,
                     [&shutdown](QSessionManager&) { shutdown(); });

    kv::InstanceLock lock;
    std::unique_ptr<QSocketNotifier> secondStarts;
    std::unique_ptr<QTimer> secondStartPoll;
    kv::FormLoadSteps steps;
    steps.AnotherInstanceRunning = [&] {
        std::string error;
        // One per user's settings file.
        const std::string name = kv::InstanceName(store.Location(kv::kApplication, "Kestrovan"));
        switch (lock.Acquire(name, error)) {
            case kv::InstanceLock::Result::Acquired:
                // A second start knocks; this one comes to the front.
                if (lock.RequestSocket() >= 0) {
                    secondStarts = std::make_unique<QSocketNotifier>(lock.RequestSocket(),
                                                                     QSocketNotifier::Read);
                    QObject::connect(secondStarts.get(), &QSocketNotifier::activated, [&] {
                        if (lock.TakeRequest()) kv::SecondStart_Request(cx);
                    });
                } else {
                    // Nothing to watch (Windows): the knock is looked for a few times a second.
                    secondStartPoll = std::make_unique<QTimer>();
                    QObject::connect(secondStartPoll.get(), &QTimer::timeout, [&] {
                        if (lock.TakeRequest()) kv::SecondStart_Request(cx);
                    });
                    secondStartPoll->start(250);
                }
                return kv::InstanceCheck{};
            case kv::InstanceLock::Result::HeldElsewhere:
                return kv::InstanceCheck{kv::InstanceCheck::Running, {}};
            case kv::InstanceLock::Result::Failed:
                std::fprintf(stderr, "kestrovan: no single-instance lock: %s\n", error.c_str());
                return kv::InstanceCheck{kv::InstanceCheck::NoLock, error};
        }
        return kv::InstanceCheck{};
    };
    steps.RestoreWindowPosition = [&] {
        formPosition = std::make_unique<kv::clsSetFormPosition>(store, &window);
        formPosition->Form(&placement);
        formPosition->MainKey(kv::kApplication);
        formPosition->SubKey("Kestrovan\\FormPos");
        formPosition->ValueKey("Main");
        formPosition->Left(0);
        formPosition->Top(0);
        formPosition->Width(1830);
        formPosition->Height(3890);
        formPosition->GetFormPosition();
    };

    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    kv::Form_Load(cx, args, QCoreApplication::applicationDirPath().toStdString(), steps);
    return QApplication::exec();
}
