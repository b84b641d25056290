#include "launcher/ui/desktopnotification.h"

#include "launcher/logging/logging.h"
#include "launcher/product/launcherconstants.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QVariantMap>

namespace orvik::launcher {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
// How long the desktop shows it, in milliseconds; -1 would leave it to the desktop.
constexpr int kExpiresMs = 10000;

} // namespace

bool TDesktopNotification::send(const QString& Summary, const QString& Body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() ||
        !bus.interface()->isServiceRegistered(kService).value())
        return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    // The body may hold a package name from a server: notification services read markup.
    call << constants::kApplicationName << quint32(0) << constants::kDesktopFileName << Summary
         << Body.toHtmlEscaped() << QStringList()
         << QVariantMap{{QStringLiteral("desktop-entry"), constants::kDesktopFileName}}
         << qint32(kExpiresMs);
    // Not waited for: a slow notification service must not hold the window.
    const bool queued = bus.send(call);
    qInfo() << "Desktop notification" << (queued ? "sent:" : "not sent:") << Summary
            << threadSuffix;
    return queued;
}

} // namespace orvik::launcher
