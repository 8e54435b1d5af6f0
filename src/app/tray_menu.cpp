// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/tray_menu.h"

#include "app/commands.h"

namespace kv {

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
