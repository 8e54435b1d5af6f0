// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ui/qt_notifier.h"

#include <QString>
#include <QStringList>
#include <QVariantMap>

#ifdef KV_HAVE_QTDBUS
#include <QDBusConnection>
#include <QDBusMessage>
#endif

namespace kv {

namespace {

constexpr int kShownMs = 5000;

}  // namespace

void QtNotifier::Notify(const std::string& text) {
    const QString title = QStringLiteral("Kestrovan");
    const QString body = QString::fromStdString(text);
    // Qt passes the icon's message on to the notification service, or draws a balloon by the
    // icon where the tray has no such service.
    if (icon_ && icon_->isVisible() && QSystemTrayIcon::supportsMessages()) {
        icon_->showMessage(title, body, QSystemTrayIcon::Information, kShownMs);
        return;
    }
#ifdef KV_HAVE_QTDBUS
    // No icon to speak from: ask the service directly. Sent without waiting for an answer, so
    // a session without one costs nothing but an error reply nobody reads.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << title << uint(0) << QString() << title << body << QStringList() << QVariantMap()
         << int(kShownMs);
    bus.send(call);
#endif
}

}  // namespace kv
