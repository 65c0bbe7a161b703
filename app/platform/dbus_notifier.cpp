// The Notify call; see dbus_notifier.h. Its arguments, in the order the notification protocol fixes:
// application name, id to replace (0: a new one), icon, summary, body, actions, hints, expiry (-1: the
// service's default). Hints: urgency (1 normal, 2 critical) and the desktop file the program installs.
#include "app/platform/dbus_notifier.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QFileInfo>
#include <QVariantMap>

namespace app::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

// Where a session bus would be. libdbus looks in $XDG_RUNTIME_DIR/bus when the address is not set, and
// without either would try to start a bus of its own, which is not ours to do.
bool SessionBusConfigured() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

}  // namespace

DBusNotifier::DBusNotifier(QString applicationName) : applicationName_(std::move(applicationName)) {}

bool DBusNotifier::Notify(const Notification& notification) {
    problem_.clear();
    if (!SessionBusConfigured()) {
        problem_ = QStringLiteral("there is no desktop session bus (DBUS_SESSION_BUS_ADDRESS is not set)");
        return false;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        problem_ = QStringLiteral("the desktop session bus cannot be reached: ") + bus.lastError().message();
        return false;
    }

    bool markup = false;
    const QDBusMessage capabilities = bus.call(
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities")), QDBus::Block,
        kCallTimeoutMs);
    if (capabilities.type() == QDBusMessage::ReplyMessage && !capabilities.arguments().isEmpty())
        markup = capabilities.arguments().first().toStringList().contains(QStringLiteral("body-markup"));

    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(notification.urgent ? 2 : 1));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("zorvel-backup"));
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << applicationName_ << uint(0)
         << (notification.urgent ? QStringLiteral("dialog-error") : QStringLiteral("dialog-warning"))
         << notification.summary << (markup ? notification.body.toHtmlEscaped() : notification.body) << QStringList()
         << hints << int(-1);
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        problem_ = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
        return false;
    }
    return true;
}

}  // namespace app::platform
