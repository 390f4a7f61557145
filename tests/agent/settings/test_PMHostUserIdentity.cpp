#include "agent/settings/PMHostUserIdentity.h"
#include "platform/HostIdentity.h"

#include <QRegularExpression>
#include <QTimeZone>

#include <gtest/gtest.h>

TEST(PMHostUserIdentity, DriveIdentityIsAddressDashUserId)
{
    EXPECT_EQ(
        PMHostUserIdentity::driveIdentity(QStringLiteral("001B638445E6"), 501), QStringLiteral("001B638445E6-501"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]{12}-\\d+$"))
                    .match(PMHostUserIdentity::uniqueHostUserId())
                    .hasMatch())
        << PMHostUserIdentity::uniqueHostUserId().toStdString();
}

TEST(PMHostUserIdentity, PreferenceIdentityPrintsTheCreationTimeInHex)
{
    const QDateTime created(QDate(2013, 3, 3), QTime(10, 4, 59), Qt::UTC);
    EXPECT_EQ(PMHostUserIdentity::preferenceIdentity(QStringLiteral("001B638445E6"), created, 501),
        QStringLiteral("001B638445E6-7DD3030A043B-501"));
    // Local times are printed in UTC.
    const QDateTime local(QDate(2013, 12, 31), QTime(23, 30, 0), QTimeZone(-3600));
    EXPECT_EQ(
        PMHostUserIdentity::preferenceIdentity(QStringLiteral("AA"), local, 0), QStringLiteral("AA-7DE101001E00-0"));
}
