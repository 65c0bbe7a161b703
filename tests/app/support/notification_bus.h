// A private session bus with a stand-in notification service on it: a real dbus-daemon of its own
// (the one dbus-run-session starts), and on it, in the test's process, an object that answers the
// freedesktop notification calls (GetCapabilities, Notify) and keeps what it was sent. A program
// started with Address() as its DBUS_SESSION_BUS_ADDRESS shows its notifications there.
//
// The service answers from the test's event loop: while the program runs, the test must wait with
// QTest::qWait (or another event loop), not with a blocking wait.
//
// Header-only, like the other rigs; no moc needed (the object is a QDBusVirtualObject).
#pragma once

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QVariantMap>

namespace app::testing {

class NotificationBus : public QDBusVirtualObject {
public:
    struct Received {
        QString application;
        QString icon;
        QString summary;
        QString body;
        QVariantMap hints;
    };

    // `markup`: the service says it reads markup in bodies (so bodies must come escaped).
    explicit NotificationBus(bool markup = false) : markup_(markup) {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) {
            skip = QStringLiteral("dbus-daemon is not installed (scripts/setup.sh installs it)");
            return;
        }
        daemon_.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        QElapsedTimer timer;
        timer.start();
        while (!daemon_.canReadLine() && timer.elapsed() < 10000) daemon_.waitForReadyRead(100);
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        if (address_.isEmpty()) {
            skip = QStringLiteral("dbus-daemon --session did not start");
            return;
        }
        QDBusConnection bus = QDBusConnection::connectToBus(address_, name_);
        if (!bus.isConnected() || !bus.registerService(QStringLiteral("org.freedesktop.Notifications")) ||
            !bus.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), this)) {
            skip = QStringLiteral("the stand-in notification service could not be put on the private bus");
        }
    }

    ~NotificationBus() override {
        QDBusConnection::disconnectFromBus(name_);
        if (daemon_.state() != QProcess::NotRunning) {
            daemon_.terminate();
            daemon_.waitForFinished(5000);
        }
    }

    QString Address() const { return address_; }

    // The service leaves the bus (the bus stays): a session without a notification service.
    bool Withdraw() { return QDBusConnection(name_).unregisterService(QStringLiteral("org.freedesktop.Notifications")); }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != QLatin1String("org.freedesktop.Notifications")) return false;
        if (message.member() == QLatin1String("GetCapabilities")) {
            QStringList capabilities{QStringLiteral("body")};
            if (markup_) capabilities << QStringLiteral("body-markup");
            connection.send(message.createReply(QVariant(capabilities)));
            return true;
        }
        if (message.member() == QLatin1String("Notify")) {
            const QList<QVariant> a = message.arguments();
            if (a.size() != 8) return false;
            Received got{a[0].toString(), a[2].toString(), a[3].toString(), a[4].toString(), {}};
            got.hints = qdbus_cast<QVariantMap>(a[6]);
            received.append(got);
            connection.send(message.createReply(QVariant::fromValue(uint(received.size()))));
            return true;
        }
        return false;
    }

    QString skip;  // why the bus cannot be had here ("" when it can)
    QList<Received> received;

private:
    bool markup_;
    QProcess daemon_;
    QString address_;
    const QString name_ = QStringLiteral("zb-test-notification-bus-%1").arg(NextNumber());

    static int NextNumber() {
        static int number = 0;
        return ++number;
    }
};

}  // namespace app::testing
