// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The notification-area icon. The icon itself is a port: FrmMnu (src/app/ui/frm_mnu.h)
// implements it with QSystemTrayIcon; the handlers of its menus are in app/tray_menu.h.
#include <functional>
#include <cstdint>
#include <string>

#include "common/ports.h"
#include "common/trace.h"
#include "app/view.h"
#include "settings/settings.h"

namespace kv {

class TrayIconPort {
  public:
    virtual ~TrayIconPort() = default;
    // False where the desktop offers no notification area.
    virtual bool Available() = 0;
    virtual void Add(const std::string& tip) = 0;
    virtual void Remove() = 0;
    // Without a notification area: call appeared (once) when one turns up later, as when the
    // panel starts after the program at login.
    virtual void WatchForNotificationArea(std::function<void()> appeared) { (void)appeared; }
    // With the icon in: call gone (once) when the notification area goes away, as when the
    // panel is closed or crashes.
    virtual void WatchForLoss(std::function<void()> gone) { (void)gone; }
    // A new tip for the icon that is in.
    virtual void SetTip(const std::string& tip) = 0;
};

// The icon's tip, one line.
inline constexpr const char* kTrayTip = "Kestrovan Ver 0.66β";
// Shown, without waiting, when there is no notification area to put the icon in.
inline constexpr const char* kNoTrayText =
    "通知領域がないためトレイに入れません\nウィンドウを閉じると最小化します";
// Shown when the notification area goes away while the program runs.
inline constexpr const char* kTrayGoneText =
    "通知領域がなくなりました: ウィンドウを閉じると最小化します";
// The first time the window is closed to the tray.
inline constexpr const char* kClosedToTrayText =
    "Kestrovan は通知領域で動作を続けています\n"
    "アイコンをダブルクリックするとウィンドウに戻ります\n終了はメニューの「終了」です";

// What the tip shows of the line when "トレイのヒントに状態を表示する" is on.
struct TrayLineState {
    bool routerAway = false;  // not logged in yet, or the connection is lost
    int16_t channel = 0;      // the metered call's channel, 0 none
    int32_t elapsedSecs = 0;
    int64_t amountYen = 0;
};
// kTrayTip and, on a second line, the line's state: the call's channel, time and charge.
std::string LiveTrayTip(const TrayLineState& line);

class TrayIcon {
  public:
    TrayIcon(Trace& trace, MainView& view) : trace_(trace), view_(view) {}
    // The desktop's icon; none: the program runs without one.
    void SetPort(TrayIconPort* port) { port_ = port; }
    // The switches of the notes, and where their "次回から表示しない" is kept.
    void UseSettings(Settings& settings, SettingsStore& store) {
        settings_ = &settings;
        store_ = &store;
    }
    // Puts the icon in once; a second call does nothing until TrayOut. Without a notification
    // area the main window is shown (it would be unreachable when hidden), the user is told
    // without anything waiting for the answer, and the icon goes in when an area turns up.
    void TrayIn();
    // Takes the icon out; does nothing when it is not in.
    void TrayOut();
    bool Installed() const { return installed_; }
    // The icon is really in a notification area, so a hidden window can be brought back.
    bool Docked() const { return docked_; }
    void NotificationAreaAppeared();
    // The area went away with the icon: the window comes up, as without a tray, until an area
    // turns up again.
    void NotificationAreaGone();
    // The close box hid the window into the tray: said once, unless silenced.
    void ClosedToTray();
    // Changes the tip of the icon that is in; the same tip again costs nothing.
    void ShowTip(const std::string& tip);

  private:
    void Dock(const char* why);
    void Note(const char* text, int16_t Settings::*silenced, const char* key);

    Trace& trace_;
    MainView& view_;
    Settings* settings_ = nullptr;
    SettingsStore* store_ = nullptr;
    TrayIconPort* port_ = nullptr;
    bool closeNoted_ = false;
    bool installed_ = false;
    bool docked_ = false;  // the port holds the icon, with tip_
    std::string tip_;
};

}  // namespace kv
