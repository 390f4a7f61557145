// What the tray tells of the drives' activity, from the progress records they publish.
#include "agent/desktop/PMTrayActivity.h"

#include <gtest/gtest.h>

namespace {

QVariantMap syncing(const QString &path, qint64 size, qint64 copied, qint64 skipped = 0)
{
    return { { QStringLiteral("activePath"), path }, { QStringLiteral("syncIsBusy"), 1 },
        { QStringLiteral("syncActivityType"), 2 }, { QStringLiteral("syncSize"), size },
        { QStringLiteral("syncCopied"), copied }, { QStringLiteral("syncSkipPresent"), skipped },
        { QStringLiteral("syncSkipFilter"), 0 } };
}

QVariantMap ended(int activity, int failure)
{
    QVariantMap record { { QStringLiteral("syncIsBusy"), 0 }, { QStringLiteral("syncActivityType"), activity } };
    if (failure)
        record.insert(QStringLiteral("syncActivityFailureType"), failure);
    return record;
}

TEST(TrayActivity, FollowsASyncFromIdleThroughItsPercentageToTheEnd)
{
    PMTrayActivity activity;
    EXPECT_EQ(activity.state(), PMTrayActivity::State::Idle);
    EXPECT_EQ(activity.toolTip(), QStringLiteral("Pellmere: idle"));

    activity.update(syncing(QStringLiteral("/media/user/Backup Disk/"), 2000, 500, 500));
    EXPECT_EQ(activity.state(), PMTrayActivity::State::Syncing);
    EXPECT_EQ(activity.percent(), 50);
    EXPECT_EQ(activity.toolTip(), QStringLiteral("Pellmere: syncing \"Backup Disk\" (50%)"));

    // More copied than estimated never shows more than 100 %; no estimate yet shows 0 %.
    activity.update(syncing(QStringLiteral("/media/user/Backup Disk"), 1000, 1500));
    EXPECT_EQ(activity.percent(), 100);
    activity.update(syncing(QStringLiteral("/media/user/Backup Disk"), 0, 0));
    EXPECT_EQ(activity.percent(), 0);

    activity.update(ended(6, 0));
    EXPECT_EQ(activity.state(), PMTrayActivity::State::Idle);
    EXPECT_EQ(activity.toolTip(), QStringLiteral("Pellmere: idle"));
}

TEST(TrayActivity, AFailureStaysUntilTheNextSyncStarts)
{
    PMTrayActivity activity;
    activity.update(syncing(QStringLiteral("/media/user/Stick"), 100, 10));
    activity.update(ended(5, 6));
    EXPECT_EQ(activity.state(), PMTrayActivity::State::Failed);
    EXPECT_EQ(activity.toolTip(), QStringLiteral("Pellmere: the last sync of \"Stick\" failed: canceled"));

    // The timer's empty records while nothing runs keep the failure in view.
    activity.update({});
    EXPECT_EQ(activity.state(), PMTrayActivity::State::Failed);

    activity.update(syncing(QStringLiteral("/media/user/Other"), 100, 10));
    EXPECT_EQ(activity.state(), PMTrayActivity::State::Syncing);
    EXPECT_EQ(activity.driveName(), QStringLiteral("Other"));
}

TEST(TrayActivity, NamesEachFailure)
{
    PMTrayActivity activity;
    activity.update(syncing(QStringLiteral("/media/user/D"), 100, 10));
    activity.update(ended(5, 3));
    EXPECT_TRUE(activity.toolTip().endsWith(QStringLiteral("the drive went away")));
    activity.update(ended(5, 1));
    EXPECT_TRUE(activity.toolTip().endsWith(QStringLiteral("not everything could be copied")));
    activity.update(ended(5, 5));
    EXPECT_TRUE(activity.toolTip().endsWith(QStringLiteral("the connection was lost")));
}

} // namespace
