#include "app/tray.h"

#include "app/commands.h"
#include "app/context.h"

namespace kv {

void TrayIcon::TrayIn() {
    if (installed_) return;
    trace_.Step("trayin-st");
    if (port_ && port_->Available()) {
        port_->Add(kTrayTip);
    } else {
        trace_.Error("trayin err: no notification area");
        view_.SetStatusText(kNoTrayText);
        view_.ShowMainWindow(false);
    }
    // Set whatever happened, so the fallback above is taken once per run.
    installed_ = true;
    trace_.Step("trayin-end");
}

void TrayIcon::TrayOut() {
    if (!installed_) return;
    trace_.Step("trayout-st");
    if (port_) port_->Remove();
    installed_ = false;
    trace_.Step("trayout-end");
}

namespace frm_mnu {

void mnuSOHO_Click(Context& cx) {
    cx.ports.shell.Open("http://" + cx.settings.sohoip);
}

void mnuInit_Click(Context& cx) {
    if (cx.hooks.ShowSetupDialog) cx.hooks.ShowSetupDialog();
}

void mnuCutBrk_Click(Context& cx) {
    ToggleCutBreak(cx);
}

void mnuOut_Click(Context& cx) {
    cx.ports.view.ShowMainWindow(false);
}

void mnuEnd_Click(Context& cx) {
    cx.meter.CntEnd(cx.link.CurrentChannel());
    cx.tray.TrayOut();
    cx.delayed.Arm(DelayedAction::Unload, 100);
}

void mnuRight_Click(Context& cx, int16_t index) {
    if (!cx.link.LoggedIn()) return;
    switch (index) {
        case 1: cx.link.Connect(cx.settings.cnctno); break;
        case 2: cx.link.DisConnect(cx.link.CurrentChannel()); break;
        case 3:
            // The check box's click handler does the switching, as a click on it would.
            cx.ports.view.SetCheckBox(CheckBox::ChkAutoMode, cx.settings.rmtauto != 1 ? 1 : 0);
            break;
        default: break;
    }
}

}  // namespace frm_mnu
}  // namespace kv
