#include "console/DesktopNotification.h"
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QVariantMap>

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
} // namespace

bool SendDesktopNotification(const QString &Title, const QString &Text)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(kService).value())
        return false;
    // The capabilities first, so that a name with "<" or "&" reads the same with or without markup.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("GetCapabilities"))));
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, watcher, [Title, Text](QDBusPendingCallWatcher *call) {
            call->deleteLater();
            const QDBusPendingReply<QStringList> capabilities = *call;
            const bool markup
                = capabilities.isValid() && capabilities.value().contains(QStringLiteral("body-markup"));
            QDBusMessage notify
                = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
            QVariantMap hints;
            hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(2)));
            if (!QGuiApplication::desktopFileName().isEmpty())
                hints.insert(QStringLiteral("desktop-entry"), QGuiApplication::desktopFileName());
            notify << Title << uint(0) << QStringLiteral("dialog-warning") << Title
                   << (markup ? Text.toHtmlEscaped() : Text) << QStringList() << hints << int(-1);
            QDBusConnection::sessionBus().asyncCall(notify);
        });
    return true;
}
