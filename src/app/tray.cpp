#include "app/tray.h"

#include "accounting/accounting.h"
#include "app/trace.h"
#include "link/link.h"

namespace kv {

void TrayIn(Context& cx) {
    if (cx.TrayInstalled == 1) return;
    WriteTrace(cx, 4, "trayin-st");
    if (cx.ports.tray && cx.ports.tray->Available()) {
        cx.ports.tray->Add(kTrayTip);
    } else {
        WriteTrace(cx, 3, "trayin err: no notification area");
        SetStatusText(cx, kNoTrayText);
        if (cx.ports.view) cx.ports.view->ShowMainWindow(false);
    }
    // Set whatever happened, so the fallback above is taken once per run.
    cx.TrayInstalled = 1;
    WriteTrace(cx, 4, "trayin-end");
}

void TrayOut(Context& cx) {
    if (cx.TrayInstalled == 0) return;
    WriteTrace(cx, 4, "trayout-st");
    if (cx.ports.tray) cx.ports.tray->Remove();
    cx.TrayInstalled = 0;
    WriteTrace(cx, 4, "trayout-end");
}

namespace frm_mnu {

void mnuSOHO_Click(Context& cx) {
    if (cx.ports.shell) cx.ports.shell->Open("http://" + cx.settings.sohoip);
}

void mnuInit_Click(Context& cx) {
    if (cx.hooks.ShowSetupDialog) cx.hooks.ShowSetupDialog();
}

void mnuCutBrk_Click(Context& cx) {
    ToggleCutBreak(cx);
}

void mnuOut_Click(Context& cx) {
    if (cx.ports.view) cx.ports.view->ShowMainWindow(false);
}

void mnuEnd_Click(Context& cx) {
    CntEnd(cx, cx.status.CurrentChannel());
    TrayOut(cx);
    ArmDelayedAction(cx, 1, 100);
}

void mnuRight_Click(Context& cx, int16_t index) {
    if (cx.link.LoggedIn != 1) return;
    switch (index) {
        case 1:
            Connect(cx, cx.settings.cnctno);
            break;
        case 2:
            DisConnect(cx, cx.status.CurrentChannel());
            break;
        case 3:
            // The check box's click handler does the switching, as a click on it would.
            if (cx.ports.view)
                cx.ports.view->SetCheckBox(CheckBox::ChkAutoMode, cx.settings.rmtauto != 1 ? 1 : 0);
            break;
        default:
            break;
    }
}

}  // namespace frm_mnu
}  // namespace kv
