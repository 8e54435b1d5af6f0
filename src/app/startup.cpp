#include "app/startup.h"

#include <algorithm>
#include <cctype>

#include "accounting/accounting.h"
#include "app/trace.h"
#include "app/tray.h"
#include "link/link.h"
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

int16_t InitProgram(Context& cx, const std::string& appDir) {
    ShowDebugStep(cx, "init-st");
    cx.AppPath = appDir;
    while (cx.AppPath.size() > 1 && cx.AppPath.back() == '/') cx.AppPath.pop_back();
    cx.LogPath = DataFilePath(cx, "Kestrovan.log");
    cx.TracePath = DataFilePath(cx, "Kestrovan.dbg");
    cx.DataPath = DataFilePath(cx, "Kestrovan.dat");

    // The trace must cover the rest of the start-up, so its switch is read before the others.
    SettingsStore& store = *cx.ports.store;
    cx.settings.debuglog = LoadIntSetting(store, "Setup", "debuglog");
    WriteTrace(cx, 1, "");

    cx.settings.sohoip = LoadStringSetting(store, "Setup", "sohoip");
    if (!cx.settings.sohoip.empty()) {
        RegCopy(cx, 2);
        if (HasSwitch(cx.CommandLine, "-S") && cx.hooks.ShowSetupDialog) cx.hooks.ShowSetupDialog();
    } else {
        // First run: nothing may talk to the router before the user has seen the settings.
        ApplyFirstRunValues(cx.settings);
        if (cx.hooks.ShowSetupDialog) cx.hooks.ShowSetupDialog();
    }
    ShowDebugStep(cx, "init-mid");

    cx.call.CallUnits = 0;
    cx.call.ChConnected[1] = 0;
    cx.call.ChConnected[2] = 0;
    cx.status.LineState[1] = 0;
    cx.status.LineState[2] = 0;
    cx.DisplayChannel = 0;

    const LocalTime now = cx.ports.clock->Now();
    cx.BaseSeconds = now.time.Seconds();
    cx.BaseDate = now.date;

    DatFileIO(cx, 1);

    if (cx.ports.tmrDSP) cx.ports.tmrDSP->SetInterval(cx.settings.dspint);
    if (cx.ports.tmrSOHO) cx.ports.tmrSOHO->SetInterval(cx.settings.sohoint);

    if (cx.ports.view) cx.ports.view->SetMenuChecked(MenuItem::MainCutBrk, false);
    cx.CutBreak = 0;

    ShowDebugStep(cx, "init-end");
    WriteTrace(cx, 4, "init-end");
    return 1;
}

void Form_Load(Context& cx, const std::vector<std::string>& args, const std::string& appDir,
               const FormLoadSteps& steps) {
    MainView& view = *cx.ports.view;
    if (steps.AnotherInstanceRunning && steps.AnotherInstanceRunning()) {
        view.MessageBox("すでに起動されています", "", MsgIcon::None, MsgButtons::Ok);
        cx.ports.exit->Exit(1);
    }

    cx.CommandLine = BuildCommandLine(args);
    if (HasSwitch(cx.CommandLine, "-DEBUG")) cx.DebugMode = 1;
    if (HasSwitch(cx.CommandLine, "-W")) WaitTenths(cx, 50);

    InitProgram(cx, appDir);

    if (steps.RestoreWindowPosition) steps.RestoreWindowPosition();

    view.SetLabelCaption(3, cx.settings.dosuumode != 0 ? "当日累積" : "当月累積");

    // Setting the box runs its click handler when the value changes, as on the original form.
    view.SetCheckBox(CheckBox::ChkTopDsp, cx.settings.dsptop);
    if (cx.settings.dsptop == 1) view.SetTopmost(true);

    switch (cx.settings.winmodes) {
        case 0:
            view.ShowMainWindow(true);
            break;
        case 1:
            // Never shown at all, so it cannot flash up: only the tray icon appears.
            view.HideMainWindow();
            break;
        default:
            view.ShowMainWindow(false);
            break;
    }

    if (steps.LoadTrayMenu) steps.LoadTrayMenu();
    TrayIn(cx);

    LoginSOHO(cx);
}

void Form_QueryUnload(Context& cx, int16_t& Cancel, int16_t UnloadMode) {
    if (UnloadMode == 0) {
        Cancel = 1;
        if (cx.ports.view) cx.ports.view->HideMainWindow();
        return;
    }
    int16_t ch = cx.status.CurrentChannel();
    if (ch < 0 || ch > 2) ch = 0;
    if (cx.call.ChConnected[ch] != 0 && cx.settings.linecut == 1) DisConnect(cx, ch);
    CntEnd(cx, ch);
    TrayOut(cx);
    EndProgram(cx, 0, "query");
}

void mnuEnd_Click(Context& cx) {
    int16_t cancel = 0;
    Form_QueryUnload(cx, cancel, 1);
}

void mnuWinend_Click(Context& cx) {
    MainView& view = *cx.ports.view;
    view.SetMenuChecked(MenuItem::MainWinend, !view.MenuChecked(MenuItem::MainWinend));
    view.MessageBox("現在は未対応です", "", MsgIcon::None, MsgButtons::Ok);
}

}  // namespace kv
