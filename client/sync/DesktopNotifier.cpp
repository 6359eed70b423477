#include "DesktopNotifier.h"

#include "settings/Logging.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QMutex>
#include <QThread>
#include <QVariantMap>

namespace {
QMutex g_lock;
DesktopNotifier::Fallback g_fallback;

const QString kService = QStringLiteral("org.freedesktop.Notifications");
// The installed application's .desktop entry and icon.
const QString kApplication = QStringLiteral("org.sonarbox.Sonarbox");
} // namespace

void DesktopNotifier::setFallback(Fallback fallback) {
    QMutexLocker lock(&g_lock);
    g_fallback = std::move(fallback);
}

bool DesktopNotifier::notify(const QString &title, const QString &text) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(kService)) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            kService, QStringLiteral("/org/freedesktop/Notifications"), kService,
            QStringLiteral("Notify"));
        // No sound: the "suppress-sound" hint. The service shows the
        // program's own icon and may group its notifications by its entry.
        QVariantMap hints{{QStringLiteral("suppress-sound"), true},
                          {QStringLiteral("desktop-entry"), kApplication}};
        call << QStringLiteral("Sonarbox") << quint32(0) << kApplication << title << text
             << QStringList() << hints << qint32(-1);
        if (bus.send(call))
            return true;
    }
    Fallback fallback;
    {
        QMutexLocker lock(&g_lock);
        fallback = g_fallback;
    }
    if (fallback) {
        // The fallback shows a tray message: a widget, so the main thread's.
        QCoreApplication *app = QCoreApplication::instance();
        if (app && app->thread() != QThread::currentThread())
            QMetaObject::invokeMethod(
                app, [=] { fallback(title, text); }, Qt::QueuedConnection);
        else
            fallback(title, text);
        return true;
    }
    qCInfo(lcSync).noquote() << "No notification service for:" << title;
    return false;
}

void DesktopNotifier::flush() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // Messages leave in order: once the bus answers this, the ones before it
    // have been sent.
    bus.call(QDBusMessage::createMethodCall(
                 QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                 QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")),
             QDBus::Block, 2000);
}
