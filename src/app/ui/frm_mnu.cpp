// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ui/frm_mnu.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QTimer>

#include "app/tray_menu.h"

namespace kv {

FrmMnu::FrmMnu()
    : TxtTray_(std::make_unique<QSystemTrayIcon>()),
      mnuTray1_(std::make_unique<QMenu>(QString::fromUtf8("メニュー１"))),
      mnuTray2_(std::make_unique<QMenu>(QString::fromUtf8("メニュー２"))) {
    TxtTray_->setObjectName("TxtTray");
    TxtTray_->setIcon(ProgramIcon());
    mnuTray1_->setObjectName("mnuTray1");
    mnuTray2_->setObjectName("mnuTray2");
    trayWatch_ = std::make_unique<QTimer>();
    leftClick_ = std::make_unique<QTimer>();
    leftClick_->setSingleShot(true);
    QObject::connect(leftClick_.get(), &QTimer::timeout,
                     [this] { mnuTray1_->popup(leftClickAt_); });

    QAction* mnuSOHO = AddItem(mnuTray1_.get(), "mnuSOHO", "SOHO表示");
    QAction* mnuInit = AddItem(mnuTray1_.get(), "mnuInit", "基本設定");
    mnuCutBrk_ = AddItem(mnuTray1_.get(), "mnuCutBrk", "自動切断一時解除");
    mnuCutBrk_->setCheckable(true);
    QAction* mnuOut = AddItem(mnuTray1_.get(), "mnuOut", "トレイから出る");
    mnuTray1_->addSeparator()->setObjectName("mnuSep");
    QAction* mnuEnd = AddItem(mnuTray1_.get(), "mnuEnd", "終了");

    QAction* mnuRight1 = AddItem(mnuTray2_.get(), "mnuRight1", "接続");
    QAction* mnuRight2 = AddItem(mnuTray2_.get(), "mnuRight2", "切断");
    mnuRight3_ = AddItem(mnuTray2_.get(), "mnuRight3", "接続抑制");
    mnuRight3_->setCheckable(true);

    QObject::connect(mnuSOHO, &QAction::triggered, [this] { frm_mnu::mnuSOHO_Click(*cx_); });
    QObject::connect(mnuInit, &QAction::triggered, [this] { frm_mnu::mnuInit_Click(*cx_); });
    QObject::connect(mnuCutBrk_, &QAction::triggered, [this] {
        KeepCheckMarks();
        frm_mnu::mnuCutBrk_Click(*cx_);
    });
    QObject::connect(mnuOut, &QAction::triggered, [this] { frm_mnu::mnuOut_Click(*cx_); });
    QObject::connect(mnuEnd, &QAction::triggered, [this] { frm_mnu::mnuEnd_Click(*cx_); });
    QObject::connect(mnuRight1, &QAction::triggered, [this] { frm_mnu::mnuRight_Click(*cx_, 1); });
    QObject::connect(mnuRight2, &QAction::triggered, [this] { frm_mnu::mnuRight_Click(*cx_, 2); });
    QObject::connect(mnuRight3_, &QAction::triggered, [this] {
        KeepCheckMarks();
        frm_mnu::mnuRight_Click(*cx_, 3);
    });
    // The platform opens the context menu itself on a right click (or whatever its trays use).
    TxtTray_->setContextMenu(mnuTray2_.get());
    QObject::connect(TxtTray_.get(), &QSystemTrayIcon::activated,
                     [this](QSystemTrayIcon::ActivationReason r) { TxtTray_Activated(r); });
}

FrmMnu::~FrmMnu() {
    TxtTray_->setContextMenu(nullptr);
    TxtTray_->hide();
}

QIcon FrmMnu::ProgramIcon() {
    QIcon icon;
    for (const char* file :
         {":/icons/kestrovan_32.png", ":/icons/kestrovan_64.png", ":/icons/kestrovan_128.png"})
        icon.addFile(QString::fromLatin1(file));
    return icon;
}

QAction* FrmMnu::AddItem(QMenu* menu, const char* name, const char* caption) {
    QAction* action = menu->addAction(QString::fromUtf8(caption));
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

bool FrmMnu::Available() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void FrmMnu::Add(const std::string& tip) {
    TxtTray_->setToolTip(QString::fromStdString(tip));
    TxtTray_->show();
}

void FrmMnu::Watch(int intervalMs, std::function<void()> look) {
    // One timer for both watches: the one that ends may start the other from its own tick.
    QObject::disconnect(trayWatch_.get(), &QTimer::timeout, nullptr, nullptr);
    trayWatch_->setInterval(intervalMs);
    QObject::connect(trayWatch_.get(), &QTimer::timeout, [look = std::move(look)] {
        const auto keep = look;  // the look may replace the connection that holds it
        keep();
    });
    trayWatch_->start();
}

void FrmMnu::WatchForNotificationArea(std::function<void()> appeared) {
    // Qt says nothing when a tray turns up; a look every few seconds costs nothing.
    Watch(5000, [this, appeared] {
        if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
        trayWatch_->stop();
        appeared();
    });
}

void FrmMnu::WatchForLoss(std::function<void()> gone) {
    // Nor when it goes: a panel closed or crashed takes the icon along, and a hidden window
    // with it. Looked for every second, so the window is up within a few.
    Watch(1000, [this, gone] {
        if (QSystemTrayIcon::isSystemTrayAvailable()) return;
        trayWatch_->stop();
        mnuTray1_->hide();
        mnuTray2_->hide();
        gone();
    });
}

void FrmMnu::Remove() {
    trayWatch_->stop();
    leftClick_->stop();
    mnuTray1_->hide();
    mnuTray2_->hide();
    TxtTray_->setToolTip(QString());
    TxtTray_->hide();
}

void FrmMnu::SetTip(const std::string& tip) {
    TxtTray_->setToolTip(QString::fromStdString(tip));
}

void FrmMnu::SetItemChecked(MenuItem item, bool checked) {
    QAction* action = item == MenuItem::TrayCutBrk   ? mnuCutBrk_
                      : item == MenuItem::TrayRight3 ? mnuRight3_
                                                     : nullptr;
    if (!action) return;
    checked_[item] = checked;
    action->setChecked(checked);
}

bool FrmMnu::ItemChecked(MenuItem item) const {
    const auto it = checked_.find(item);
    return it != checked_.end() && it->second;
}

void FrmMnu::KeepCheckMarks() {
    mnuCutBrk_->setChecked(ItemChecked(MenuItem::TrayCutBrk));
    mnuRight3_->setChecked(ItemChecked(MenuItem::TrayRight3));
}

void FrmMnu::TxtTray_Activated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Trigger:
            leftClickAt_ = QCursor::pos();
            leftClick_->start(QApplication::doubleClickInterval());
            break;
        case QSystemTrayIcon::Context:
            // Shown by the platform as the icon's context menu.
            leftClick_->stop();
            break;
        case QSystemTrayIcon::DoubleClick:
            leftClick_->stop();
            mnuTray1_->hide();
            frm_mnu::mnuOut_Click(*cx_);
            break;
        default: break;
    }
}

bool FrmMnu::LeftMenuPending() const {
    return leftClick_->isActive();
}

}  // namespace kv
