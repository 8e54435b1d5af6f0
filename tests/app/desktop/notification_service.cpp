// SPDX-License-Identifier: GPL-3.0-or-later
// A notification service for the session bus a test starts: it takes the name
// org.freedesktop.Notifications and writes every notification it is sent to the file named
// on its command line, one line each: application, icon, summary and body, tab-separated.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QFile>
#include <QStringList>
#include <QVariantMap>
#include <cstdio>

namespace {

class Service : public QDBusVirtualObject {
  public:
    explicit Service(QString file) : file_(std::move(file)) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QString member = message.member();
        const QList<QVariant> args = message.arguments();
        if (member == QLatin1String("Notify") && args.size() == 8) {
            QFile out(file_);
            if (out.open(QIODevice::Append)) {
                const QString line = args[0].toString() + QLatin1Char('\t') + args[2].toString() +
                                     QLatin1Char('\t') + args[3].toString() + QLatin1Char('\t') +
                                     args[4].toString() + QLatin1Char('\n');
                out.write(line.toUtf8());
            }
            connection.send(message.createReply(QVariant::fromValue(uint(++count_))));
            return true;
        }
        if (member == QLatin1String("GetCapabilities")) {
            connection.send(message.createReply(QStringList{QStringLiteral("body")}));
            return true;
        }
        if (member == QLatin1String("GetServerInformation")) {
            connection.send(message.createReply(
                QList<QVariant>{QStringLiteral("test"), QStringLiteral("kestrovan"),
                                QStringLiteral("1"), QStringLiteral("1.2")}));
            return true;
        }
        return false;
    }

  private:
    QString file_;
    uint count_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: notification_service FILE\n");
        return 2;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    Service service{QString::fromLocal8Bit(argv[1])};
    if (!bus.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &service) ||
        !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
        std::fprintf(stderr, "notification_service: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}
