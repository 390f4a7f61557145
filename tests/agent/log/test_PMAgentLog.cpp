#include "agent/log/PMAgentLog.h"
#include "agent/log/PMLogController.h"
#include "agent/log/PMStandardDefaults.h"

#include "support/TestEnvironment.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(PMAgentLog, SetupAfterAnOversizedLogWritesOnlyTheThreeStartLines)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Pellmere.log"));
    testsupport::writeFile(path, QByteArray(3500 * 1024, 'z'));
    PMAgentLog::setupLog(path);
    ASSERT_TRUE(PMAgentLog::flushLog());

    const QStringList lines
        = QString::fromUtf8(testsupport::readFile(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines.at(0).endsWith(QLatin1Char(' ') + PMAgentLog::kSeparatorLine));
    EXPECT_EQ(PMAgentLog::kSeparatorLine.size(), 52);
    EXPECT_TRUE(lines.at(1).endsWith(QStringLiteral(" Pellmere starting.")));
    EXPECT_TRUE(lines.at(2).endsWith(QStringLiteral(" Pellmere v") + QStringLiteral(PELLMERE_VERSION)));
    EXPECT_EQ(PMLogController::sharedInstance().frameAutosaveName(), QStringLiteral("com.corvane.pellmere.log"));
    EXPECT_EQ(PMLogController::sharedInstance().windowTitle(), QStringLiteral("Pellmere Log"));
}

TEST(PMAgentLog, DebugLinesFollowTheDebugDefaultAtEachCall)
{
    QTemporaryDir dir;
    PMAgentLog::setupLog(dir.filePath(QStringLiteral("Pellmere.log")));
    platform::PreferenceStore &defaults = PMStandardDefaults::sharedInstance();

    ASSERT_TRUE(defaults.setValue(PMStandardDefaults::kDebugKey, false));
    PMAgentLog::debugMessage(QStringLiteral("hidden detail"));
    EXPECT_FALSE(PMLogController::sharedInstance().contents().contains(QStringLiteral("hidden detail")));

    ASSERT_TRUE(defaults.setValue(PMStandardDefaults::kDebugKey, true));
    PMAgentLog::debugMessage(QStringLiteral("shown detail"));
    EXPECT_TRUE(PMLogController::sharedInstance().contents().contains(QStringLiteral("shown detail")));

    ASSERT_TRUE(defaults.removeValue(PMStandardDefaults::kDebugKey));
    EXPECT_FALSE(PMAgentLog::isDebugEnabled()) << "registered as NO when absent";
}
