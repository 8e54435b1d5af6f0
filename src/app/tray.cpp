#include "app/tray.h"

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

}  // namespace kv
