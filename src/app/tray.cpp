#include "app/tray.h"

namespace kv {

void TrayIcon::TrayIn() {
    if (installed_) return;
    trace_.Step("trayin-st");
    // Set whatever happens, so the fallback below is taken once per run.
    installed_ = true;
    if (port_ && port_->Available()) {
        port_->Add(kTrayTip);
        docked_ = true;
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

}  // namespace kv
