#include "agent/settings/PMUserDefaults.h"

#include "agent/settings/PMHostUserIdentity.h"
#include "platform/HostIdentity.h"
#include "platform/PMCorvaneUtilities.h"
#include "platform/PlatformPaths.h"

#include <QLoggingCategory>
#include <QTimeZone>

Q_LOGGING_CATEGORY(lcUserDefaults, "pellmere.settings")

using namespace PMCorvaneUtilities;

PMUserDefaults::PMUserDefaults(const QString &filePath, IdentityMaker makeIdentity)
    : m_store(filePath)
    , m_makeIdentity(std::move(makeIdentity))
{
    std::lock_guard lock(m_mutex);
    m_preferences = m_store.storedValues();
    verifyLocked();
}

PMUserDefaults &PMUserDefaults::sharedInstance()
{
    static PMUserDefaults *instance = [] {
        auto host = platform::HostIdentity::create();
        const QString mac = platform::HostIdentity::formatMacAddress(host->primaryMacAddress(), false);
        const uint uid = host->userId();
        return new PMUserDefaults(platform::PlatformPaths::hostPreferencesPath(host->hostName()),
            [mac, uid](const QDateTime &now) { return PMHostUserIdentity::preferenceIdentity(mac, now, uid); });
    }();
    return *instance;
}

void PMUserDefaults::verifyLocked()
{
    const QVariant version = numberForKey(m_preferences, kVersionKey);
    if (!version.isValid()) {
        qCInfo(lcUserDefaults) << "KRTUserDefaults: user preferences is missing version number.";
        resetLocked();
    } else if (version.toLongLong() < kCurrentVersion) {
        qCInfo(lcUserDefaults).noquote()
            << QStringLiteral("KRTUserDefaults: invalid user preferences version %1").arg(version.toString());
        resetLocked();
    } else if (stringForKey(m_preferences, kUniqueIdKey).isEmpty()) {
        qCInfo(lcUserDefaults) << "KRTUserDefaults: user preferences is missing unique Id";
        resetLocked();
    }
}

void PMUserDefaults::resetLocked()
{
    qCInfo(lcUserDefaults) << "KRTUserDefaults: creating a new user preference file.";
    const QString identity = m_makeIdentity(QDateTime::currentDateTimeUtc());
    qCInfo(lcUserDefaults).noquote() << QStringLiteral("current prefs = %1").arg(identity);
    if (!m_preferences.isEmpty())
        qCInfo(lcUserDefaults).noquote()
            << QStringLiteral("KRTUserDefaults: allKeys=%1").arg(m_preferences.keys().join(QStringLiteral(", ")));
    m_preferences.clear();
    m_preferences.insert(kVersionKey, kCurrentVersion);
    m_preferences.insert(kUniqueIdKey, identity);
    m_preferences.insert(kDeviceListKey, QVariantMap());
    synchronizeLocked();
}

bool PMUserDefaults::synchronizeLocked()
{
    return m_store.replaceAll(m_preferences);
}

QString PMUserDefaults::uniqueHostUserId() const
{
    std::lock_guard lock(m_mutex);
    return stringForKey(m_preferences, kUniqueIdKey);
}

QVariantMap PMUserDefaults::preferences() const
{
    std::lock_guard lock(m_mutex);
    return m_preferences;
}

bool PMUserDefaults::hasUserSeenDevice(const QString &device) const
{
    std::lock_guard lock(m_mutex);
    const auto list = dictionaryForKey(m_preferences, kDeviceListKey);
    return list && list->contains(device);
}

void PMUserDefaults::addSeenDevice(const QString &device)
{
    std::lock_guard lock(m_mutex);
    auto list = dictionaryForKey(m_preferences, kDeviceListKey);
    if (!list)
        return;
    list->insert(device, true);
    m_preferences.insert(kDeviceListKey, *list);
    synchronizeLocked();
}

bool PMUserDefaults::optionLocked(const QString &device, const QString &key) const
{
    const auto list = dictionaryForKey(m_preferences, kDeviceListKey);
    if (!list)
        return false;
    const auto options = dictionaryForKey(*list, device);
    return options && boolForKey(*options, key);
}

QVariantMap PMUserDefaults::syncOptionListForDeviceLocked(const QString &device) const
{
    // A missing list, or a seen marker instead of options, starts over with empty options.
    const auto list = dictionaryForKey(m_preferences, kDeviceListKey);
    const auto options = list ? dictionaryForKey(*list, device) : std::nullopt;
    return options.value_or(QVariantMap());
}

void PMUserDefaults::setOptionLocked(const QString &device, const QString &key, const QVariant &value)
{
    QVariantMap options = syncOptionListForDeviceLocked(device);
    options.insert(key, value);
    QVariantMap list = dictionaryForKey(m_preferences, kDeviceListKey).value_or(QVariantMap());
    list.insert(device, options);
    m_preferences.insert(kDeviceListKey, list);
    synchronizeLocked();
}

bool PMUserDefaults::isDeviceParticipating(const QString &device) const
{
    std::lock_guard lock(m_mutex);
    return optionLocked(device, kParticipateKey);
}

bool PMUserDefaults::isDeviceContinuous(const QString &device) const
{
    std::lock_guard lock(m_mutex);
    return optionLocked(device, kContinuousKey);
}

bool PMUserDefaults::isDeviceQuiet(const QString &device) const
{
    std::lock_guard lock(m_mutex);
    return optionLocked(device, kQuietKey);
}

void PMUserDefaults::setParticipating(bool value, const QString &device)
{
    std::lock_guard lock(m_mutex);
    setOptionLocked(device, kParticipateKey, value);
}

void PMUserDefaults::setContinuous(bool value, const QString &device)
{
    std::lock_guard lock(m_mutex);
    setOptionLocked(device, kContinuousKey, value);
}

void PMUserDefaults::setQuiet(bool value, const QString &device)
{
    std::lock_guard lock(m_mutex);
    setOptionLocked(device, kQuietKey, value);
}

std::optional<bool> PMUserDefaults::recordedContinuous(const QString &device) const
{
    std::lock_guard lock(m_mutex);
    const auto list = dictionaryForKey(m_preferences, kDeviceListKey);
    const auto options = list ? dictionaryForKey(*list, device) : std::nullopt;
    if (!options || !options->contains(kContinuousKey))
        return std::nullopt;
    return boolForKey(*options, kContinuousKey);
}

std::optional<QStringList> PMUserDefaults::syncListForDevice(const QString &device) const
{
    std::lock_guard lock(m_mutex);
    const auto list = dictionaryForKey(m_preferences, kDeviceListKey);
    const auto options = list ? dictionaryForKey(*list, device) : std::nullopt;
    if (!options)
        return std::nullopt;
    const QVariant value = options->value(kSyncListKey);
    // Anything but a list of strings counts as no record: the file is ours, but a damaged
    // one must not turn into a choice the user never made.
    if (value.typeId() != QMetaType::QVariantList && value.typeId() != QMetaType::QStringList)
        return std::nullopt;
    QStringList items;
    for (const QVariant &item : value.toList()) {
        if (item.typeId() != QMetaType::QString)
            return std::nullopt;
        items.append(item.toString());
    }
    return items;
}

void PMUserDefaults::setSyncList(const QStringList &list, const QString &device)
{
    std::lock_guard lock(m_mutex);
    setOptionLocked(device, kSyncListKey, QVariant(list).toList());
}

QString PMUserDefaults::dateDescription(const QDateTime &date)
{
    return date.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" +0000");
}

QDateTime PMUserDefaults::dateFromDescription(const QString &text)
{
    // "2013-03-03 10:04:05 +0000"; other offsets are honoured as well.
    QDateTime date = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss t"));
    if (!date.isValid()) {
        const QString stamp = text.left(19);
        const QString zone = text.mid(20).trimmed();
        date = QDateTime::fromString(stamp, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (!date.isValid())
            return {};
        int offset = 0;
        if (zone.size() == 5 && (zone.at(0) == QLatin1Char('+') || zone.at(0) == QLatin1Char('-'))) {
            bool okHours = false;
            bool okMinutes = false;
            const int hours = zone.mid(1, 2).toInt(&okHours);
            const int minutes = zone.mid(3, 2).toInt(&okMinutes);
            if (!okHours || !okMinutes)
                return {};
            offset = (hours * 3600 + minutes * 60) * (zone.at(0) == QLatin1Char('-') ? -1 : 1);
        } else if (!zone.isEmpty()) {
            return {};
        }
        date.setTimeZone(QTimeZone(offset));
    }
    return date.toUTC();
}

QDateTime PMUserDefaults::lastSyncDateForDevice(const QString &device) const
{
    std::lock_guard lock(m_mutex);
    const auto list = dictionaryForKey(m_preferences, kDeviceListKey);
    if (!list)
        return {};
    const auto options = dictionaryForKey(*list, device);
    if (!options)
        return {};
    const QString text = stringForKey(*options, kLastSyncTimeKey);
    return text.isEmpty() ? QDateTime() : dateFromDescription(text);
}

void PMUserDefaults::setLastSyncDate(const QDateTime &date, const QString &device)
{
    if (!date.isValid())
        return;
    std::lock_guard lock(m_mutex);
    setOptionLocked(device, kLastSyncTimeKey, dateDescription(date));
}
