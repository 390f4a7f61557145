#include "protocol/PMNotificationEmitter.h"

#include "protocol/PMBusNames.h"
#include "protocol/ProtocolLogging.h"

#include <QDBusMessage>
#include <QDBusVariant>

namespace protocol {

namespace {

// Deeper user information is refused; the progress record is flat.
constexpr int kMaxUserInfoDepth = 16;

bool isSendable(const QVariant &value, int depth, QString *badKey, const QString &key)
{
    if (depth > kMaxUserInfoDepth) {
        *badKey = key;
        return false;
    }
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::QString:
    case QMetaType::QByteArray:
    case QMetaType::QStringList:
        return true;
    case QMetaType::QVariantList: {
        const QVariantList list = value.toList();
        for (const QVariant &item : list) {
            if (!isSendable(item, depth + 1, badKey, key))
                return false;
        }
        return true;
    }
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            if (!isSendable(it.value(), depth + 1, badKey, key + QLatin1Char('.') + it.key()))
                return false;
        }
        return true;
    }
    default:
        *badKey = key;
        return false;
    }
}

} // namespace

PMNotificationEmitter::PMNotificationEmitter(QDBusConnection connection)
    : m_connection(std::move(connection))
{
}

bool PMNotificationEmitter::post(const QString &name, const QString &object, const QVariantMap &userInfo)
{
    for (auto it = userInfo.cbegin(); it != userInfo.cend(); ++it) {
        QString badKey;
        if (!isSendable(it.value(), 1, &badKey, it.key())) {
            qCWarning(lcProtocol) << "notification" << name << "not posted: value of" << badKey
                                  << "cannot travel on the bus";
            return false;
        }
    }
    QDBusMessage signal = QDBusMessage::createSignal(kPMNotificationsPath, kPMNotificationsInterface, kPMPostedSignal);
    signal << name << object << userInfo;
    if (!m_connection.send(signal)) {
        qCWarning(lcProtocol) << "notification" << name << "not posted:" << m_connection.lastError().message();
        return false;
    }
    return true;
}

} // namespace protocol
