#include "app/tray.h"

#include "accounting/call_meter.h"

namespace kv {

void TrayIcon::TrayIn() {
    if (installed_) return;
    trace_.Step("trayin-st");
    if (port_ && port_->Available()) {
        port_->Add(kTrayTip);
        shown_ = true;
        tip_ = kTrayTip;
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
    shown_ = false;
    trace_.Step("trayout-end");
}

void TrayIcon::ShowTip(const std::string& tip) {
    if (!shown_ || tip == tip_) return;
    port_->SetTip(tip);
    tip_ = tip;
}

std::string LiveTrayTip(const TrayLineState& line) {
    std::string state;
    if (line.routerAway)
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
