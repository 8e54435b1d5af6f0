#pragma once
// The notification-area icon and the handlers of its two menus (window FrmMnu). The icon
// itself is a port: FrmMnu (src/app/ui/frm_mnu.h) implements it with QSystemTrayIcon.
#include <cstdint>
#include <string>

#include "common/trace.h"
#include "common/view.h"

namespace kv {

class Context;

class TrayIconPort {
  public:
    virtual ~TrayIconPort() = default;
    // False where the desktop offers no notification area.
    virtual bool Available() = 0;
    virtual void Add(const std::string& tip) = 0;
    virtual void Remove() = 0;
};

// The icon's tip, one line.
inline constexpr const char* kTrayTip = "Kestrovan Ver 0.66β";
// Shown once when there is no notification area to put the icon in.
inline constexpr const char* kNoTrayText = "通知領域がないためトレイに入れません";

class TrayIcon {
  public:
    TrayIcon(Trace& trace, MainView& view) : trace_(trace), view_(view) {}
    // The desktop's icon; none: the program runs without one.
    void SetPort(TrayIconPort* port) { port_ = port; }
    // Puts the icon in once; a second call does nothing until TrayOut. Without a notification
    // area the main window is shown (it would be unreachable when hidden) and the user told
    // once.
    void TrayIn();
    // Takes the icon out; does nothing when it is not in.
    void TrayOut();
    bool Installed() const { return installed_; }

  private:
    Trace& trace_;
    MainView& view_;
    TrayIconPort* port_ = nullptr;
    bool installed_ = false;
};

// Handlers of FrmMnu's menu items and icon clicks.
namespace frm_mnu {
void mnuSOHO_Click(Context& cx);
void mnuInit_Click(Context& cx);
void mnuCutBrk_Click(Context& cx);
void mnuOut_Click(Context& cx);  // also the icon's double-click
// Closes the open record, takes the icon out and has Tmr1Sec unload the main window 100 ms
// later: the line stays up even with linecut 1, as the record is closed before the shutdown.
void mnuEnd_Click(Context& cx);
// 1 connect, 2 disconnect the current channel, 3 the automatic-call switch; only while
// logged in to the router.
void mnuRight_Click(Context& cx, int16_t index);
}  // namespace frm_mnu

}  // namespace kv
