// Kestrovan: start-up of the process, the ports, and the main window's load.
#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QSessionManager>
#include <QStandardPaths>
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
#include "logview/ui/frm_log.h"
#include "platform/posix_process_runner.h"
#include "platform/qt_event_loop.h"
#include "platform/qt_settings_store.h"
#include "platform/socket_transport.h"
#include "settings/ui/frm_setup.h"

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

// One lock per user's settings: beside them, in the (per-user) configuration folder.
std::string LockPath() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (dir.isEmpty()) dir = QDir::homePath() + QStringLiteral("/.config");
    return (dir + QStringLiteral("/Qel/Kestrovan.lock")).toStdString();
}

}  // namespace

int main(int argc, char** argv) {
    // The totals checked or rebuilt from the call log: no window, no router.
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg != "--check-totals" && arg != "--repair-totals") continue;
        QCoreApplication core(argc, argv);
        kv::SystemClock clock;
        kv::QtSettingsStore store;
        std::string out;
        const int code =
            kv::CheckTotalsCommand(store, QCoreApplication::applicationDirPath().toStdString(),
                                   arg == "--repair-totals", clock.Now(), out);
        std::fputs(out.c_str(), stdout);
        return code;
    }
    QApplication app(argc, argv);
    // The program lives in the tray: hiding or closing its windows never ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    kv::SystemClock clock;
    kv::QtEventPump pump(clock);
    kv::QtSettingsStore store;
    // A router on the local network answers a connect at once; an address that does not
    // answer costs at most this, also for each attempt to log in again.
    kv::SocketTransport transport(10000);
    kv::QtTimer tmrSOHO, tmrDSP, Tmr1Sec, tmrRetry;
    kv::PosixProcessRunner runner;
    kv::QtShell shell;
    kv::QtProgramExit programExit;

    kv::Kestrovan window;
    // The tray's window is loaded here, before start-up reaches TrayIn; it is never shown.
    kv::FrmMnu frmMnu;

    kv::Context cx(kv::Ports{clock, pump, store, transport, tmrSOHO, tmrDSP, Tmr1Sec, tmrRetry,
                             window, runner, shell, programExit});
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
    cx.hooks.ShowSetupDialog = [&setupHost, &window] { ShowSetupDialog(setupHost, &window); };
    cx.hooks.ShowLogViewer = [&cx, &window, &clock] {
        ShowLogViewer(cx.meter.LogPath(), &window, [&cx, &clock] {
            const kv::TotalsCheck check =
                kv::CheckTotals(cx.meter.LogPath(), cx.meter.DataPath(), cx.settings, clock.Now());
            return kv::FormatTotalsCheck(check, cx.meter.LogPath(), cx.meter.DataPath(),
                                         kv::CheckTextStyle::Html);
        });
    };
    cx.hooks.SaveWindowPosition = [&formPosition] {
        if (!formPosition) return;
        // The trace is closed by now: the terminal is the only place left to say it.
        if (!formPosition->SetFormPosition())
            std::fprintf(stderr, "Kestrovan: ウィンドウの位置を保存できませんでした\n");
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
    kv::FormLoadSteps steps;
    steps.AnotherInstanceRunning = [&lock] {
        std::string error;
        switch (lock.Acquire(LockPath(), error)) {
            case kv::InstanceLock::Result::Acquired: return false;
            case kv::InstanceLock::Result::HeldElsewhere: return true;
            case kv::InstanceLock::Result::Failed:
                // Without a lock file the program still runs; it just cannot refuse a twin.
                std::fprintf(stderr, "kestrovan: no single-instance lock: %s\n", error.c_str());
                return false;
        }
        return false;
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
