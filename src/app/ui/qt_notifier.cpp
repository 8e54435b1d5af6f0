// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ui/qt_notifier.h"

#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#ifdef KV_HAVE_QTDBUS
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#endif

namespace kv {

namespace {

constexpr int kShownMs = 5000;

#ifdef KV_HAVE_QTDBUS
const QString kService = QStringLiteral("org.freedesktop.Notifications");

// The service takes its icon by name or by file: the program's own picture, written once
// where the user's cache is, so a copy that is not installed has its icon too.
QString IconFile() {
    static const QString file = [] {
        const QString dir = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
        const QString path = dir + QStringLiteral("/kestrovan-64.png");
        if (dir.isEmpty() || !QDir().mkpath(dir)) return QString();
        if (!QFileInfo::exists(path) &&
            !QIcon(QStringLiteral(":/icons/kestrovan_64.png")).pixmap(64, 64).save(path, "PNG"))
            return QString();
        return path;
    }();
    return file;
}
#endif

}  // namespace

bool QtNotifier::ServiceThere() {
#ifdef KV_HAVE_QTDBUS
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    // Running, or started by the bus on the first call.
    if (bus.interface()->isServiceRegistered(kService).value()) return true;
    return bus.interface()->activatableServiceNames().value().contains(kService);
#else
    return false;
#endif
}

void QtNotifier::Notify(const std::string& text) {
    const QString title = QStringLiteral("Kestrovan");
    const QString body = QString::fromStdString(text);
#ifdef KV_HAVE_QTDBUS
    // The desktop's service where there is one: its do-not-disturb and history apply, and the
    // tray's tip cannot cover it. Sent without waiting for an answer.
    if (ServiceThere()) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            kService, QStringLiteral("/org/freedesktop/Notifications"), kService,
            QStringLiteral("Notify"));
        const QString icon = IconFile();
        QVariantMap hints;
        hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("kestrovan"));
        call << title << uint(0) << (icon.isEmpty() ? QStringLiteral("kestrovan") : icon) << title
             << body << QStringList() << hints << int(kShownMs);
        QDBusConnection::sessionBus().send(call);
        return;
    }
#endif
    // No service: Qt draws a balloon by the icon.
    if (icon_ && icon_->isVisible() && QSystemTrayIcon::supportsMessages())
        icon_->showMessage(title, body, QSystemTrayIcon::Information, kShownMs);
}

}  // namespace kv
