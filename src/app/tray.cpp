// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/tray.h"

#include "accounting/call_meter.h"

namespace kv {

void TrayIcon::TrayIn() {
    if (installed_) return;
    trace_.Step("trayin-st");
    // Set whatever happens, so the fallback below is taken once per run.
    installed_ = true;
    if (port_ && port_->Available()) {
        port_->Add(kTrayTip);
        docked_ = true;
        tip_ = kTrayTip;
    } else {
        trace_.Error("trayin err: no notification area");
        view_.ShowMainWindow(false);
        // A box, not the status bar: the first poll's text would cover it at once.
        view_.MessageBox(kNoTrayText, "", MsgIcon::Information, MsgButtons::Ok);
        if (port_) port_->WatchForNotificationArea([this] { NotificationAreaAppeared(); });
    }
    trace_.Step("trayin-end");
}

void TrayIcon::NotificationAreaAppeared() {
    if (!installed_ || docked_ || !port_) return;
    port_->Add(kTrayTip);
    docked_ = true;
    tip_ = kTrayTip;
    trace_.Error("trayin: notification area appeared");
}

void TrayIcon::TrayOut() {
    if (!installed_) return;
    trace_.Step("trayout-st");
    if (port_) port_->Remove();
    installed_ = false;
    docked_ = false;
    trace_.Step("trayout-end");
}

void TrayIcon::ShowTip(const std::string& tip) {
    if (!docked_ || tip == tip_) return;
    port_->SetTip(tip);
    tip_ = tip;
}

std::string LiveTrayTip(const TrayLineState& line) {
    std::string state;
    if (line.routerAway && line.channel != 0)
        state = "MN128未接続: 回線がつながったままの可能性があります";
    else if (line.routerAway)
        state = "MN128未接続";
    else if (line.channel == 0)
        state = "未接続";
    else
        // The yen sign itself: a tip is drawn in the desktop's font, not the window's.
        state = "接続中(B" + std::to_string(line.channel) + ") " + FormatHms(line.elapsedSecs) +
                " ¥" + std::to_string(line.amountYen);
    return std::string(kTrayTip) + "\n" + state;
}

}  // namespace kv
