#include "agent/settings/PMUserDefaults.h"
#include "platform/PropertyList.h"

#include "support/TestEnvironment.h"

#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

class UserDefaultsTest : public ::testing::Test {
protected:
    QString path() const { return m_dir.filePath(QStringLiteral("preferences.host.plist")); }
    std::unique_ptr<PMUserDefaults> load()
    {
        return std::make_unique<PMUserDefaults>(
            path(), [this](const QDateTime &) { return QStringLiteral("ID-%1").arg(++m_identitiesMade); });
    }
    QVariantMap onDisk() const { return platform::PropertyList::readFile(path()).value_or(QVariant()).toMap(); }

    QTemporaryDir m_dir;
    int m_identitiesMade = 0;
};

} // namespace

TEST_F(UserDefaultsTest, AFreshSetHasVersionIdentityAndAnEmptyDeviceList)
{
    auto defaults = load();
    EXPECT_EQ(defaults->uniqueHostUserId(), QStringLiteral("ID-1"));
    const QVariantMap stored = onDisk();
    EXPECT_EQ(stored.value(PMUserDefaults::kVersionKey).toInt(), 2);
    EXPECT_EQ(stored.value(PMUserDefaults::kUniqueIdKey).toString(), QStringLiteral("ID-1"));
    EXPECT_EQ(stored.value(PMUserDefaults::kDeviceListKey).typeId(), QMetaType::QVariantMap);

    auto again = load();
    EXPECT_EQ(again->uniqueHostUserId(), QStringLiteral("ID-1")) << "a valid set is kept as loaded";
    EXPECT_EQ(m_identitiesMade, 1);
}

TEST_F(UserDefaultsTest, AnOldOrIncompleteSetIsReplacedWhole)
{
    struct Case {
        const char *name;
        QVariantMap stored;
    };
    const QList<Case> cases = {
        { "version 1",
            { { PMUserDefaults::kVersionKey, 1 }, { PMUserDefaults::kUniqueIdKey, QStringLiteral("OLD") },
                { QStringLiteral("stale"), true } } },
        { "no version", { { PMUserDefaults::kUniqueIdKey, QStringLiteral("OLD") } } },
        { "no identity", { { PMUserDefaults::kVersionKey, 2 }, { QStringLiteral("stale"), true } } },
        { "version of the wrong type",
            { { PMUserDefaults::kVersionKey, QStringLiteral("2") },
                { PMUserDefaults::kUniqueIdKey, QStringLiteral("OLD") } } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(platform::PropertyList::writeFile(path(), c.stored));
        auto defaults = load();
        const QVariantMap stored = onDisk();
        EXPECT_EQ(stored.value(PMUserDefaults::kVersionKey).toInt(), 2);
        EXPECT_NE(stored.value(PMUserDefaults::kUniqueIdKey).toString(), QStringLiteral("OLD"));
        EXPECT_FALSE(stored.contains(QStringLiteral("stale"))) << "nothing is migrated";
        EXPECT_TRUE(stored.value(PMUserDefaults::kDeviceListKey).toMap().isEmpty());
    }
}

TEST_F(UserDefaultsTest, ASeenMarkerIsReplacedByOptionsWhenOneIsSet)
{
    auto defaults = load();
    const QString device = QStringLiteral("5C1A0E9E-7A5B-4C1E-9C7E-1D2F3A4B5C6D");
    EXPECT_FALSE(defaults->hasUserSeenDevice(device));
    defaults->addSeenDevice(device);
    EXPECT_TRUE(defaults->hasUserSeenDevice(device));
    EXPECT_FALSE(defaults->isDeviceParticipating(device)) << "a seen marker counts as missing options";
    EXPECT_EQ(onDisk().value(PMUserDefaults::kDeviceListKey).toMap().value(device), QVariant(true));

    defaults->setParticipating(true, device);
    defaults->setQuiet(true, device);
    EXPECT_TRUE(defaults->isDeviceParticipating(device));
    EXPECT_TRUE(defaults->isDeviceQuiet(device));
    EXPECT_FALSE(defaults->isDeviceContinuous(device));
    EXPECT_TRUE(defaults->hasUserSeenDevice(device));

    auto reloaded = load();
    EXPECT_TRUE(reloaded->isDeviceParticipating(device)) << "every change is saved at once";
    EXPECT_TRUE(reloaded->isDeviceQuiet(device));
}

TEST_F(UserDefaultsTest, AddSeenDeviceDoesNothingWithoutADeviceList)
{
    ASSERT_TRUE(platform::PropertyList::writeFile(path(),
        QVariantMap { { PMUserDefaults::kVersionKey, 2 }, { PMUserDefaults::kUniqueIdKey, QStringLiteral("X") } }));
    auto defaults = load();
    defaults->addSeenDevice(QStringLiteral("dev"));
    EXPECT_FALSE(defaults->hasUserSeenDevice(QStringLiteral("dev")));
    defaults->setContinuous(true, QStringLiteral("dev"));
    EXPECT_TRUE(defaults->isDeviceContinuous(QStringLiteral("dev"))) << "setting an option creates the list";
}

TEST_F(UserDefaultsTest, LastSyncDateRoundTripsAtSecondPrecision)
{
    auto defaults = load();
    const QString device = QStringLiteral("dev");
    EXPECT_FALSE(defaults->lastSyncDateForDevice(device).isValid());
    const QDateTime when(QDate(2013, 3, 3), QTime(10, 4, 5, 678), QTimeZone(7200));
    defaults->setLastSyncDate(when, device);
    EXPECT_EQ(defaults->lastSyncDateForDevice(device).toSecsSinceEpoch(), when.toSecsSinceEpoch());
    EXPECT_EQ(onDisk()
                  .value(PMUserDefaults::kDeviceListKey)
                  .toMap()
                  .value(device)
                  .toMap()
                  .value(PMUserDefaults::kLastSyncTimeKey),
        QVariant(QStringLiteral("2013-03-03 08:04:05 +0000")));

    defaults->setLastSyncDate(QDateTime(), device);
    EXPECT_TRUE(defaults->lastSyncDateForDevice(device).isValid()) << "an invalid date is ignored";
    EXPECT_EQ(PMUserDefaults::dateFromDescription(QStringLiteral("2013-03-03 10:04:05 +0200")).toSecsSinceEpoch(),
        when.toSecsSinceEpoch());
    EXPECT_FALSE(PMUserDefaults::dateFromDescription(QStringLiteral("yesterday")).isValid());
}

TEST_F(UserDefaultsTest, TheSyncListChosenHereIsKeptAlongsideTheOtherOptions)
{
    auto defaults = load();
    const QString device = QStringLiteral("UUID-1");
    EXPECT_FALSE(defaults->syncListForDevice(device).has_value());
    EXPECT_FALSE(defaults->recordedContinuous(device).has_value()) << "never set is not the same as off";

    defaults->setParticipating(true, device);
    defaults->setSyncList({ QStringLiteral("~/Music"), QStringLiteral("/srv/Photos") }, device);
    defaults->setContinuous(false, device);
    auto reloaded = load();
    EXPECT_EQ(reloaded->syncListForDevice(device),
        (QStringList { QStringLiteral("~/Music"), QStringLiteral("/srv/Photos") }));
    EXPECT_EQ(reloaded->recordedContinuous(device), false);
    EXPECT_TRUE(reloaded->isDeviceParticipating(device)) << "the list did not replace the other options";

    // An empty list is a choice; it is not the same as none.
    reloaded->setSyncList({}, device);
    EXPECT_EQ(load()->syncListForDevice(device), QStringList());

    // A damaged record is no choice at all.
    QVariantMap stored = onDisk();
    QVariantMap devices = stored.value(PMUserDefaults::kDeviceListKey).toMap();
    QVariantMap options = devices.value(device).toMap();
    options.insert(PMUserDefaults::kSyncListKey, QVariantList { QStringLiteral("~/Music"), 7 });
    devices.insert(device, options);
    devices.insert(
        QStringLiteral("UUID-2"), QVariantMap { { PMUserDefaults::kSyncListKey, QStringLiteral("~/.ssh") } });
    stored.insert(PMUserDefaults::kDeviceListKey, devices);
    ASSERT_TRUE(platform::PropertyList::writeFile(path(), stored));
    auto damaged = load();
    EXPECT_FALSE(damaged->syncListForDevice(device).has_value());
    EXPECT_FALSE(damaged->syncListForDevice(QStringLiteral("UUID-2")).has_value());
}
