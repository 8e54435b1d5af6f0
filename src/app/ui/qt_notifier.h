// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The desktop's notifications: the session's notification service over D-Bus where there is
// one, else a balloon by the tray icon while it is in the tray, else nothing.
#include <QSystemTrayIcon>

#include "app/notices.h"

namespace kv {

class QtNotifier : public NotifierPort {
  public:
    explicit QtNotifier(QSystemTrayIcon* icon) : icon_(icon) {}
    void Notify(const std::string& text) override;
    // The session bus has a notification service, running or to be started on demand.
    static bool ServiceThere();

  private:
    QSystemTrayIcon* icon_;
};

}  // namespace kv
