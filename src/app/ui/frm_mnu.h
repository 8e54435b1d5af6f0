// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// FrmMnu: the notification-area icon and its two pop-up menus. Never shown as a window.
// Its handlers are the core's kv::frm_mnu functions (app/tray_menu.h); main attaches the run's
// context before start-up reaches TrayIn.
#include <QIcon>
#include <QPoint>
#include <QSystemTrayIcon>
#include <functional>
#include <map>
#include <memory>

#include "app/context.h"
#include "app/tray.h"
#include "app/view.h"

class QAction;
class QMenu;
class QTimer;

namespace kv {

class FrmMnu : public TrayIconPort {
  public:
    FrmMnu();
    ~FrmMnu() override;
    FrmMnu(const FrmMnu&) = delete;
    FrmMnu& operator=(const FrmMnu&) = delete;

    // The run whose handlers the menus call.
    void Attach(Context& cx) { cx_ = &cx; }

    // TrayIconPort
    bool Available() override;
    void Add(const std::string& tip) override;
    void Remove() override;
    void WatchForNotificationArea(std::function<void()> appeared) override;
    void WatchForLoss(std::function<void()> gone) override;
    void SetTip(const std::string& tip) override;

    // The check marks of mnuCutBrk (MenuItem::TrayCutBrk) and mnuRight(3) (TrayRight3), as the
    // main window's view hands them on. Other items are ignored.
    void SetItemChecked(MenuItem item, bool checked);
    bool ItemChecked(MenuItem item) const;

    QMenu* mnuTray1() const { return mnuTray1_.get(); }
    QMenu* mnuTray2() const { return mnuTray2_.get(); }
    QSystemTrayIcon* TxtTray() const { return TxtTray_.get(); }
    static QIcon ProgramIcon();

    // The icon's clicks: left opens mnuTray1, right mnuTray2 (the icon's context menu, so
    // trays that draw menus themselves show it too), double-click shows the window. The left
    // menu waits out the double-click time: opened at once, it would take the second click.
    void TxtTray_Activated(QSystemTrayIcon::ActivationReason reason);
    bool LeftMenuPending() const;

  private:
    // Runs look on trayWatch_ every intervalMs, in place of the watch before.
    void Watch(int intervalMs, std::function<void()> look);
    QAction* AddItem(QMenu* menu, const char* name, const char* caption);
    // A checkable item ticks itself when chosen; put back the mark the program keeps, so only
    // the handler's outcome shows.
    void KeepCheckMarks();

    Context* cx_ = nullptr;
    std::unique_ptr<QSystemTrayIcon> TxtTray_;
    std::unique_ptr<QMenu> mnuTray1_;
    std::unique_ptr<QMenu> mnuTray2_;
    QAction* mnuCutBrk_ = nullptr;
    QAction* mnuRight3_ = nullptr;
    std::map<MenuItem, bool> checked_;
    std::unique_ptr<QTimer> leftClick_;
    QPoint leftClickAt_;
    std::unique_ptr<QTimer> trayWatch_;  // for an area to turn up, or to go away
};

}  // namespace kv
