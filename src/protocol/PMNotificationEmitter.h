// Posts the agent's notifications on the session bus: the signal
// com.corvane.pellmere.Notifications.Posted(s name, s object, a{sv} userInfo) from the object
// /com/corvane/pellmere/notifications, seen by every subscriber of the same user's bus.
//
//   PMNotificationEmitter emitter(QDBusConnection::sessionBus());
//   emitter.post(QStringLiteral("com.corvane.pellmere.syncInProgress.notification.evt"),
//                QStringLiteral("com.corvane.pellmere.notifications"), progressRecord);
//
// User-info values may be bool, integers, double, string, byte array (sent as 'ay'), string
// list, and lists and maps of those; anything else is refused whole with a log line rather
// than sent in part. Any thread (the connection is thread-safe); no state besides it.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <QVariantMap>

namespace protocol {

class PMNotificationEmitter {
public:
    explicit PMNotificationEmitter(QDBusConnection connection = QDBusConnection::sessionBus());

    [[nodiscard]] bool post(const QString &name, const QString &object, const QVariantMap &userInfo);

private:
    QDBusConnection m_connection;
};

} // namespace protocol
