// The agent's own per-user, per-host preferences: the preference identity made at first
// start, and the drives this user has seen with the options chosen for each.
//
//   PMUserDefaults &defaults = PMUserDefaults::sharedInstance();
//   if (!defaults.hasUserSeenDevice(uuid)) defaults.addSeenDevice(uuid);
//
// A set that is missing its version or identity, or has an old version, is replaced whole by
// a fresh one (nothing is migrated). Every change is saved at once.
//
// Thread-safe: one mutex guards the set.
#pragma once

#include "platform/PreferenceStore.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <mutex>
#include <optional>

class PMUserDefaults {
public:
    static inline const QString kVersionKey = QStringLiteral("user-default-version");
    static inline const QString kUniqueIdKey = QStringLiteral("unique-host-user-id");
    static inline const QString kDeviceListKey = QStringLiteral("sync-device-list");
    static inline const QString kParticipateKey = QStringLiteral("local-participate-in-sync");
    static inline const QString kContinuousKey = QStringLiteral("local-continuous-sync");
    static inline const QString kQuietKey = QStringLiteral("local-quiet-sync");
    static inline const QString kLastSyncTimeKey = QStringLiteral("local-last-sync-time");
    // The sync list this user chose for the device through this computer (paths, "~" allowed).
    static inline const QString kSyncListKey = QStringLiteral("local-sync-list");
    static constexpr int kCurrentVersion = 2;

    // Makes the identity of a new set; the argument is the current UTC time.
    using IdentityMaker = std::function<QString(const QDateTime &)>;

    PMUserDefaults(const QString &filePath, IdentityMaker makeIdentity);
    // The preferences of this user on this host, loaded on first use.
    static PMUserDefaults &sharedInstance();

    QString uniqueHostUserId() const;
    QVariantMap preferences() const;

    bool hasUserSeenDevice(const QString &device) const;
    void addSeenDevice(const QString &device);

    bool isDeviceParticipating(const QString &device) const;
    bool isDeviceContinuous(const QString &device) const;
    bool isDeviceQuiet(const QString &device) const;
    void setParticipating(bool value, const QString &device);
    void setContinuous(bool value, const QString &device);
    void setQuiet(bool value, const QString &device);
    // The continuous option as recorded, or nullopt when it never was.
    std::optional<bool> recordedContinuous(const QString &device) const;

    // The list recorded for the device, or nullopt when none was (an empty list is a list).
    std::optional<QStringList> syncListForDevice(const QString &device) const;
    void setSyncList(const QStringList &list, const QString &device);

    QDateTime lastSyncDateForDevice(const QString &device) const;
    void setLastSyncDate(const QDateTime &date, const QString &device);

    // The printed description of a date as stored ("2013-03-03 10:04:05 +0000").
    static QString dateDescription(const QDateTime &date);
    static QDateTime dateFromDescription(const QString &text);

private:
    void verifyLocked();
    void resetLocked();
    bool optionLocked(const QString &device, const QString &key) const;
    void setOptionLocked(const QString &device, const QString &key, const QVariant &value);
    QVariantMap syncOptionListForDeviceLocked(const QString &device) const;
    bool synchronizeLocked();

    platform::PreferenceStore m_store;
    IdentityMaker m_makeIdentity;
    mutable std::mutex m_mutex;
    QVariantMap m_preferences;
};
