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
        Dock(nullptr);
    } else {
        trace_.Error("trayin err: no notification area");
        view_.ShowMainWindow(false);
        // Started at logon on such a desktop, the program must poll and meter whether or not
        // anyone is there to answer: a box that does not wait (the status bar would be covered
        // by the first poll's text at once).
        Note(kNoTrayText, &Settings::notraynote, "notraynote");
        if (port_) port_->WatchForNotificationArea([this] { NotificationAreaAppeared(); });
    }
    trace_.Step("trayin-end");
}

void TrayIcon::Dock(const char* why) {
    port_->Add(kTrayTip);
    docked_ = true;
    tip_ = kTrayTip;
    if (why) trace_.Error(why);
    port_->WatchForLoss([this] { NotificationAreaGone(); });
}

void TrayIcon::NotificationAreaAppeared() {
    if (!installed_ || docked_ || !port_) return;
    Dock("trayin: notification area appeared");
}

void TrayIcon::NotificationAreaGone() {
    if (!installed_ || !docked_ || !port_) return;
    docked_ = false;
    trace_.Error("trayin err: notification area gone");
    // Hidden, the window could not be brought back; a call would go by unseen.
    view_.ShowMainWindow(false);
    view_.SetStatusText(kTrayGoneText);
    port_->WatchForNotificationArea([this] { NotificationAreaAppeared(); });
}

void TrayIcon::ClosedToTray() {
    if (closeNoted_ || !docked_) return;
    closeNoted_ = true;
    Note(kClosedToTrayText, &Settings::closenote, "closenote");
}

void TrayIcon::Note(const char* text, int16_t Settings::*silenced, const char* key) {
    if (settings_ && settings_->*silenced != 0) return;
    view_.ShowNotice(text, [this, silenced, key] {
        if (!settings_) return;
        settings_->*silenced = 1;
        if (store_) SaveIntSetting(*store_, kExtraWord, key, 1);
    });
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
