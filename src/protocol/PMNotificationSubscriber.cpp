#include "protocol/PMNotificationSubscriber.h"

#include "protocol/PMBusNames.h"
#include "protocol/ProtocolLogging.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>

namespace protocol {

namespace {

constexpr int kMaxUserInfoDepth = 16;

QVariant plainValue(const QVariant &value, int depth);

QVariantMap plainMap(const QDBusArgument &argument, int depth)
{
    QVariantMap map;
    argument.beginMap();
    while (!argument.atEnd()) {
        QString key;
        QVariant entry;
        argument.beginMapEntry();
        argument >> key >> entry;
        argument.endMapEntry();
        map.insert(key, plainValue(entry, depth + 1));
    }
    argument.endMap();
    return map;
}

QVariant plainArray(const QDBusArgument &argument, int depth)
{
    if (argument.currentSignature() == QLatin1String("as")) {
        QStringList strings;
        argument >> strings;
        return strings;
    }
    QVariantList list;
    argument.beginArray();
    while (!argument.atEnd()) {
        QVariant item;
        argument >> item;
        list.append(plainValue(item, depth + 1));
    }
    argument.endArray();
    return list;
}

// Values of an a{sv} arrive as D-Bus variants, and containers inside them as unread
// arguments; both are turned into the QVariant forms a Qt caller expects.
QVariant plainValue(const QVariant &value, int depth)
{
    if (depth > kMaxUserInfoDepth)
        return QVariant();
    if (value.userType() == qMetaTypeId<QDBusVariant>())
        return plainValue(value.value<QDBusVariant>().variant(), depth);
    if (value.userType() != qMetaTypeId<QDBusArgument>())
        return value;
    const QDBusArgument argument = value.value<QDBusArgument>();
    switch (argument.currentType()) {
    case QDBusArgument::MapType:
        return plainMap(argument, depth);
    case QDBusArgument::ArrayType:
        return plainArray(argument, depth);
    default:
        return QVariant();
    }
}

} // namespace

PMNotificationSubscriber::PMNotificationSubscriber(QDBusConnection connection, QObject *parent)
    : QObject(parent)
    , m_connection(std::move(connection))
{
}

PMNotificationSubscriber::~PMNotificationSubscriber()
{
    unsubscribe();
}

bool PMNotificationSubscriber::subscribe(const QString &name)
{
    unsubscribe();
    m_name = name;
    m_subscribed = m_connection.connect(QString(), kPMNotificationsPath, kPMNotificationsInterface, kPMPostedSignal,
        matchArguments(), QString(), this, SLOT(onPosted(QDBusMessage)));
    if (!m_subscribed) {
        qCWarning(lcProtocol) << "cannot subscribe to notifications:" << m_connection.lastError().message();
        return false;
    }
    // The match rule travels to the bus without an answer. A call answered by the bus after it
    // proves the rule is in place, so nothing posted after subscribe() returns can be missed.
    const QDBusMessage ping = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
    const QDBusMessage pong = m_connection.call(ping);
    if (pong.type() != QDBusMessage::ReplyMessage)
        qCWarning(lcProtocol) << "the bus did not confirm the subscription:" << pong.errorMessage();
    return true;
}

void PMNotificationSubscriber::unsubscribe()
{
    if (!m_subscribed)
        return;
    m_connection.disconnect(QString(), kPMNotificationsPath, kPMNotificationsInterface, kPMPostedSignal,
        matchArguments(), QString(), this, SLOT(onPosted(QDBusMessage)));
    m_subscribed = false;
}

QStringList PMNotificationSubscriber::matchArguments() const
{
    return m_name.isEmpty() ? QStringList() : QStringList { m_name };
}

void PMNotificationSubscriber::onPosted(const QDBusMessage &message)
{
    const QList<QVariant> arguments = message.arguments();
    if (message.signature() != QLatin1String("ssa{sv}") || arguments.size() != 3) {
        qCWarning(lcProtocol) << "ignored a notification with signature" << message.signature();
        return;
    }
    const QVariantMap userInfo = plainValue(arguments.at(2), 0).toMap();
    Q_EMIT posted(arguments.at(0).toString(), arguments.at(1).toString(), userInfo);
}

} // namespace protocol
