// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/startup.h"

#include <algorithm>
#include <cctype>

#include "accounting/totals_check.h"
#include "common/data_file.h"
#include "settings/reg_copy.h"

namespace kv {

std::string BuildCommandLine(const std::vector<std::string>& args) {
    std::string line = " ";
    for (size_t i = 0; i < args.size(); ++i) {
        if (i > 0) line += " ";
        line += args[i];
    }
    line += " ";
    // ASCII upper case only: a multi-byte argument must not be mangled byte by byte.
    std::transform(line.begin(), line.end(), line.begin(), [](unsigned char c) {
        return static_cast<char>(c < 0x80 ? std::toupper(c) : c);
    });
    return line;
}

bool HasSwitch(const std::string& commandLine, const std::string& switchWord) {
    return commandLine.find(" " + switchWord + " ") != std::string::npos;
}

bool RegCopy(Context& cx, RegCopyDirection direction) {
    std::string clamped;
    const bool ok = RegCopy(cx.ports.store, cx.settings, cx.trace, direction, &clamped);
    if (direction != RegCopyDirection::Load) return ok;
    cx.trace.SetEnabled(cx.settings.debuglog != 0);
    // Shown, not clicked: loading the record switches nothing on the router.
    MainView& view = cx.ports.view;
    view.ShowCheckBox(CheckBox::ChkAutoMode, cx.settings.rmtauto);
    view.SetMenuChecked(MenuItem::TrayRight3, cx.settings.rmtauto != 1);
    // A hand-edited value the record cannot hold: the trace may be off, so the user is told.
    if (!clamped.empty())
        view.MessageBox("次の設定値は範囲外のため丸めて使います:" + clamped, "",
                        MsgIcon::Exclamation, MsgButtons::Ok);
    return ok;
}

void InitProgram(Context& cx, const std::string& appDir) {
    cx.trace.ShowDebugStep("init-st");
    cx.AppPath = appDir;
    while (cx.AppPath.size() > 1 && cx.AppPath.back() == '/') cx.AppPath.pop_back();
    const datafile::DataFolder data =
        datafile::ChooseDataFolder(cx.AppPath, cx.PerUserDataFolder, /*create=*/true);
    cx.DataFolder = data.path;
    cx.meter.SetFiles(DataFilePath(cx, "Kestrovan.log"), DataFilePath(cx, "Kestrovan.dat"));
    cx.trace.SetPath(DataFilePath(cx, "Kestrovan.dbg"));

    // The trace must cover the rest of the start-up, so its switch is read before the others.
    SettingsStore& store = cx.ports.store;
    // Settings that are there but cannot be read are no first run: starting afresh would
    // log in without them and write over them.
    if (const std::string why = store.Unreadable(kApplication, kAppKey); !why.empty()) {
        cx.ports.view.MessageBox(std::string(kSettingsUnreadableText) + "\n" + why, "",
                                 MsgIcon::Critical, MsgButtons::Ok);
        cx.ports.exit.Exit(1);
    }
    cx.settings.debuglog = LoadIntSetting(store, "Setup", "debuglog");
    cx.trace.SetEnabled(cx.settings.debuglog != 0);
    cx.trace.Open();
    if (data.perUser) {
        // An installed program: its folder is not the user's to write. Said in the trace every
        // run, in a box the first time.
        cx.trace.Error("data folder: " + data.path + " (the program's folder cannot be written)");
        if (data.created)
            cx.ports.view.MessageBox(std::string(kDataFolderText) + "\n" + data.path, "",
                                     MsgIcon::Information, MsgButtons::Ok);
    }

    cx.settings.sohoip = LoadStringSetting(store, "Setup", "sohoip");
    if (!cx.settings.sohoip.empty()) {
        RegCopy(cx, RegCopyDirection::Load);
        if (HasSwitch(cx.CommandLine, "-S") && cx.hooks.ShowSetupDialog) cx.hooks.ShowSetupDialog();
    } else {
        // First run: nothing may talk to the router before the user has seen the settings.
        ApplyFirstRunValues(cx.settings);
        if (cx.hooks.ShowSetupDialog) cx.hooks.ShowSetupDialog();
    }
    cx.trace.ShowDebugStep("init-mid");

    cx.meter.ResetCall();
    cx.link.ResetLineState();
    cx.meter.StartClock(cx.ports.clock.Now());

    cx.meter.DatFileIO(DatFileMode::Read);

    cx.ports.tmrDSP.SetInterval(cx.settings.dspint);
    cx.ports.tmrSOHO.SetInterval(cx.settings.sohoint);

    cx.ports.view.SetMenuChecked(MenuItem::MainCutBrk, false);
    cx.link.SetCutBreak(false);

    cx.trace.ShowDebugStep("init-end");
    cx.trace.Step("init-end");
}

void Form_Load(Context& cx, const std::vector<std::string>& args, const std::string& appDir,
               const FormLoadSteps& steps) {
    MainView& view = cx.ports.view;
    const InstanceCheck instance =
        steps.AnotherInstanceRunning ? steps.AnotherInstanceRunning() : InstanceCheck{};
    if (instance.kind == InstanceCheck::Running) {
        view.MessageBox("すでに起動されています", "", MsgIcon::None, MsgButtons::Ok);
        cx.ports.exit.Exit(1);
    } else if (instance.kind == InstanceCheck::NoLock) {
        view.MessageBox(std::string(kNoInstanceLockText) + "\n" + instance.why, "",
                        MsgIcon::Critical, MsgButtons::Ok);
        cx.ports.exit.Exit(1);
    }

    cx.CommandLine = BuildCommandLine(args);
    if (HasSwitch(cx.CommandLine, "-DEBUG")) cx.trace.SetDebugMode(true);
    if (!HasSwitch(cx.CommandLine, "-W")) {
        Form_LoadRest(cx, appDir, steps);
        return;
    }
    // Started with the session: the desktop settles for about five seconds first, without
    // anything waiting for it.
    cx.startDelay = cx.ports.timers.NewTimer();
    cx.startDelay->SetHandler([&cx, appDir, steps] {
        cx.startDelay->SetEnabled(false);
        Form_LoadRest(cx, appDir, steps);
    });
    cx.startDelay->SetInterval(5000);
    cx.startDelay->SetEnabled(true);
}

void Form_LoadRest(Context& cx, const std::string& appDir, const FormLoadSteps& steps) {
    MainView& view = cx.ports.view;
    InitProgram(cx, appDir);

    if (steps.RestoreWindowPosition) steps.RestoreWindowPosition();

    view.SetLabelCaption(3, cx.settings.dosuumode != 0 ? "当日累積" : "当月累積");

    // Setting the box runs its click handler when the value changes, as on the original form.
    view.SetCheckBox(CheckBox::ChkTopDsp, cx.settings.dsptop);
    if (cx.settings.dsptop == 1) view.SetTopmost(true);

    switch (cx.settings.winmodes) {
        case 0: view.ShowMainWindow(true); break;
        case 1:
            // Never shown at all, so it cannot flash up: only the tray icon appears.
            view.HideMainWindow();
            break;
        default: view.ShowMainWindow(false); break;
    }

    if (steps.LoadTrayMenu) steps.LoadTrayMenu();
    cx.tray.TrayIn();

    cx.link.LoginSOHO();
}

void Form_QueryUnload(Context& cx, bool& Cancel, UnloadMode mode) {
    if (mode == UnloadMode::UserClose) {
        Cancel = true;
        // Hidden without a tray icon, the window could not be brought back.
        if (cx.tray.Docked()) {
            cx.ports.view.HideMainWindow();
            cx.tray.ClosedToTray();
        } else
            cx.ports.view.MinimizeMainWindow();
        return;
    }
    // Asked again while the line is being cut for the end: that end comes soon enough.
    if (cx.Ending) return;
    cx.Ending = true;
    int16_t ch = cx.link.CurrentChannel();
    if (ch < 0 || ch > 2) ch = 0;
    auto end = [&cx, ch](bool cutFailed) {
        // A call still up when last seen ends now, also when the router is away: the time
        // since it was last seen is not free.
        cx.meter.CntEnd(ch, /*atExit=*/true);
        for (int16_t other = 1; other <= 2; ++other)
            if (cx.meter.ChConnected(other)) cx.meter.CntEnd(other, /*atExit=*/true);
        cx.tray.TrayOut();
        if (cutFailed) {
            // The user believes the line cut; it may not be.
            cx.link.Stop();
            cx.trace.Error("exit: the line may still be up");
            cx.notices.CutFailed();
            cx.ports.view.MessageBox(kCutFailedText, "", MsgIcon::Exclamation, MsgButtons::Ok);
        }
        EndProgram(cx, EndMode::Quiet, "query");
    };
    // Nothing waits for a reply the end does not need. With "強制切断" and a call up, the cut
    // goes out at once (the router away: after one more login, within ten seconds) and the
    // record closes once the router has answered it, or as the program saw the line (traced).
    if (cx.meter.ChConnected(ch) && cx.settings.linecut == 1) {
        cx.link.HangUpForExit(ch, [end](bool ok) { end(!ok); });
        return;
    }
    end(false);
}

int CheckTotalsCommand(SettingsStore& store, const std::string& dataFolder, bool repair,
                       const LocalTime& now, std::string& out) {
    Settings s;
    for (const char* key : {"seca", "secb", "secc", "teleho", "telstday"})
        for (const IntKey& k : kSetupIntKeys)
            if (std::string(k.name) == key) s.*k.field = LoadIntSetting(store, "Setup", key);
    s.holiday = LoadStringSetting(store, "Setup", "holiday");
    if (s.holiday.empty()) s.holiday = kDefaultHolidays;
    s.HolidayTable = SplitHolidays(s.holiday);
    const std::string log = dataFolder + "/Kestrovan.log", dat = dataFolder + "/Kestrovan.dat";
    const TotalsCheck check = CheckTotals(log, dat, s, now);
    out = FormatTotalsCheck(check, log, dat);
    if (!repair) return check.Agrees() ? 0 : 1;
    std::string kept;
    if (!RepairTotals(check, dat, now, &kept)) {
        out += "累積ファイルに書き込めません: " + dat + "\n";
        return 2;
    }
    out += "通話記録から累積ファイルを書き直しました" +
           (kept.empty() ? std::string() : " (元のファイル: " + kept + ")") + "\n";
    return 0;
}

void mnuEnd_Click(Context& cx) {
    bool cancel = false;
    Form_QueryUnload(cx, cancel, UnloadMode::Program);
}

void mnuWinend_Click(Context& cx) {
    MainView& view = cx.ports.view;
    view.SetMenuChecked(MenuItem::MainWinend, !view.MenuChecked(MenuItem::MainWinend));
    view.MessageBox("現在は未対応です", "", MsgIcon::None, MsgButtons::Ok);
}

}  // namespace kv
