// Receives the agent's notifications from the session bus (the Posted signal of
// com.corvane.pellmere.Notifications) and re-emits them as the Qt signal posted(), with the
// user information as plain Qt values (nested maps and lists included).
//
//   PMNotificationSubscriber subscriber(QDBusConnection::sessionBus());
//   QObject::connect(&subscriber, &PMNotificationSubscriber::posted, ...);
//   subscriber.subscribe(QStringLiteral("com.corvane.pellmere.syncInProgress.notification.evt"));
//
// Lives on one thread with an event loop; posted() is emitted there.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>

class QDBusMessage;

namespace protocol {

class PMNotificationSubscriber : public QObject {
    Q_OBJECT
public:
    explicit PMNotificationSubscriber(
        QDBusConnection connection = QDBusConnection::sessionBus(), QObject *parent = nullptr);
    ~PMNotificationSubscriber() override;

    // Starts receiving the notifications with this name, or all of them for an empty name;
    // every notification posted after this returns is received. One subscription per
    // instance; a second call replaces the first. Blocks for one round trip to the bus.
    [[nodiscard]] bool subscribe(const QString &name = QString());
    void unsubscribe();

Q_SIGNALS:
    void posted(const QString &name, const QString &object, const QVariantMap &userInfo);

private Q_SLOTS:
    void onPosted(const QDBusMessage &message);

private:
    QStringList matchArguments() const;

    QDBusConnection m_connection;
    QString m_name;
    bool m_subscribed = false;
};

} // namespace protocol
