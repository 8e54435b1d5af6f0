// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The desktop's notifications: a message from the tray icon while it is in the tray, else the
// session's notification service over D-Bus, else nothing.
#include <QSystemTrayIcon>

#include "app/notices.h"

namespace kv {

class QtNotifier : public NotifierPort {
  public:
    explicit QtNotifier(QSystemTrayIcon* icon) : icon_(icon) {}
    void Notify(const std::string& text) override;

  private:
    QSystemTrayIcon* icon_;
};

}  // namespace kv
