#include "protocol/PMProgressText.h"

#include <gtest/gtest.h>

TEST(PMProgressText, SizesReadAsAPersonWouldSayThem)
{
    EXPECT_EQ(PMProgressText::formatBytes(0), QStringLiteral("0 B"));
    EXPECT_EQ(PMProgressText::formatBytes(1023), QStringLiteral("1023 B"));
    EXPECT_EQ(PMProgressText::formatBytes(1536), QStringLiteral("1.5 KiB"));
    EXPECT_EQ(PMProgressText::formatBytes(quint64(3) << 30), QStringLiteral("3.0 GiB"));
    EXPECT_EQ(PMProgressText::formatBytes(quint64(2) << 50), QStringLiteral("2.0 PiB"));
    EXPECT_EQ(PMProgressText::formatBytes(~quint64(0)), QStringLiteral("16384.0 PiB"))
        << "the largest size stays in PiB";
}

TEST(PMProgressText, ActivityAndShareOfTheJobFromARecord)
{
    const QString type = QStringLiteral("syncActivityType");
    EXPECT_EQ(PMProgressText::activityText({ { type, 6 } }), QStringLiteral("Completed"));
    EXPECT_EQ(PMProgressText::activityText({ { type, 5 }, { QStringLiteral("syncActivityFailureType"), 3 } }),
        QStringLiteral("Stopped: drive disappeared"));
    EXPECT_EQ(PMProgressText::activityText({ { type, 5 } }), QStringLiteral("Stopped"));
    EXPECT_EQ(PMProgressText::activityText({}), QStringLiteral("Idle"));

    EXPECT_EQ(PMProgressText::percent({ { type, 6 } }), 100) << "a completed job without bytes is whole";
    EXPECT_EQ(PMProgressText::percent({ { type, 1 }, { QStringLiteral("syncSize"), qint64(-5) } }), 0)
        << "a negative size counts as nothing";
    EXPECT_EQ(PMProgressText::percent(
                  { { type, 2 }, { QStringLiteral("syncSize"), 200 }, { QStringLiteral("syncCopied"), 50 },
                      { QStringLiteral("syncSkipFilter"), 30 }, { QStringLiteral("syncSkipPresent"), 20 } }),
        50)
        << "left out and already present bytes count as done";
    EXPECT_EQ(PMProgressText::bar(50, 10), QStringLiteral("[#####.....]"));
    EXPECT_EQ(PMProgressText::bar(250, 4), QStringLiteral("[####]")) << "never more than full";
}
