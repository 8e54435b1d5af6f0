#pragma once
// The notification-area icon. The icon itself is a port: FrmMnu (src/app/ui/frm_mnu.h)
// implements it with QSystemTrayIcon; the handlers of its menus are in app/tray_menu.h.
#include <string>

#include "common/trace.h"
#include "common/view.h"

namespace kv {

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

}  // namespace kv
