#include "agent/app/PMTerminalProgress.h"
#include "agent/sync/PMSyncProgress.h"

#include <gtest/gtest.h>

TEST(PMTerminalProgress, TheBarCountsCopiedAndSkippedBytesAgainstTheTotal)
{
    const QVariantMap progress { { PMSyncProgress::kSizeKey, quint64(4 * 1024 * 1024) },
        { PMSyncProgress::kCopiedKey, quint64(1024 * 1024) }, { PMSyncProgress::kSkipFilterKey, quint64(512 * 1024) },
        { PMSyncProgress::kSkipPresentKey, quint64(512 * 1024) },
        { PMSyncProgress::kCopySourcePathKey, QStringLiteral("/home/a/Music/long name.mp3") } };
    const QString line = PMTerminalProgress::barLine(progress, 100);
    EXPECT_TRUE(line.contains(QStringLiteral(" 50%"))) << line.toStdString();
    EXPECT_TRUE(line.contains(QStringLiteral("2.0 MiB of 4.0 MiB"))) << line.toStdString();
    EXPECT_TRUE(line.endsWith(QStringLiteral("long name.mp3"))) << line.toStdString();
    EXPECT_LT(PMTerminalProgress::barLine(progress, 40).size(), 40) << "never wider than the terminal";
    EXPECT_TRUE(PMTerminalProgress::barLine({}, 80).contains(QStringLiteral("  0%"))) << "an empty job";
}
