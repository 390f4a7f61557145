#include "agent/log/PMAgentLog.h"
#include "agent/log/PMLogController.h"
#include "agent/log/PMStandardDefaults.h"
#include "agent/sync/PMSyncController.h"

#include "SyncTestDoubles.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

using namespace synctest;

namespace {

class SyncProgressTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_drive.isValid());
        m_controller = std::make_unique<PMSyncController>(
            m_drive.path(), QString(), QString(), QStringLiteral("0A1B2C3D4E5F-501"), &m_owner, phasesFor(m_script));
    }
    QString sourceFile(const QString &name, qsizetype size)
    {
        const QString path = m_source.filePath(name);
        testsupport::writeFile(path, QByteArray(size, 'x'));
        return path;
    }

    QTemporaryDir m_drive;
    QTemporaryDir m_source;
    RecordingOwner m_owner;
    PhaseScript m_script;
    std::unique_ptr<PMSyncController> m_controller;
};

} // namespace

TEST_F(SyncProgressTest, SizesAreCountedInWhole512ByteBlocks)
{
    m_controller->accumulateCopiedDataPath(sourceFile(QStringLiteral("one"), 1));
    EXPECT_EQ(m_controller->totalCopied(), 512u);
    m_controller->accumulateCopiedDataPath(sourceFile(QStringLiteral("more"), 513));
    EXPECT_EQ(m_controller->totalCopied(), 512u + 1024u);
    m_controller->accumulateCopiedDataPath(sourceFile(QStringLiteral("empty"), 0));
    m_controller->accumulateCopiedDataPath(m_source.filePath(QStringLiteral("missing")));
    EXPECT_EQ(m_controller->totalCopied(), 512u + 1024u);
    m_controller->accumulateSkipPresentDataPath(m_source.filePath(QStringLiteral("more")));
    EXPECT_EQ(m_controller->skippedAlready(), 1024u);
}

TEST_F(SyncProgressTest, TheEstimateWalksFoldersWithHiddenFilesButNeverThroughLinks)
{
    QTemporaryDir outside;
    testsupport::writeFile(outside.filePath(QStringLiteral("big")), QByteArray(100000, 'b'));
    const QString home = QDir::homePath() + QStringLiteral("/ProgressMusic");
    testsupport::writeFile(home + QStringLiteral("/song"), QByteArray(600, 's')); // 1024
    testsupport::writeFile(home + QStringLiteral("/.hidden"), QByteArray(10, 'h')); // 512
    testsupport::writeFile(home + QStringLiteral("/album/track"), QByteArray(1024, 't')); // 1024
    ASSERT_TRUE(QFile::link(outside.path(), home + QStringLiteral("/folder-link")));
    ASSERT_TRUE(QFile::link(outside.filePath(QStringLiteral("big")), home + QStringLiteral("/file-link")));
    const QString single = sourceFile(QStringLiteral("single"), 2000); // 2048

    m_controller->determineTotalSync({ QStringLiteral("~/ProgressMusic"), single, QStringLiteral("/no/such/path") });
    EXPECT_EQ(m_controller->totalSync(), 1024u + 512u + 1024u + 2048u);
    EXPECT_EQ(m_controller->getCurrentProgressDict().value(QStringLiteral("syncSize")).toULongLong(),
        m_controller->totalSync());
    QDir(home).removeRecursively();
}

TEST_F(SyncProgressTest, TheRecordCarriesTheKeysAndTypesTheManagerReads)
{
    m_controller->setFileCopyPath(QStringLiteral("/src/file"));
    m_controller->accumulateSkipPresentData(100);
    m_controller->accumulateSkipFilteredData(50);
    m_controller->setPartiallyCopiedData(7);
    m_controller->accumulateCopiedData(1000); // more than the estimate of 0
    m_controller->setActivityType(PMSyncController::kActivitySyncing);

    QVariantMap record = m_controller->getCurrentProgressDict();
    EXPECT_EQ(record.value(QStringLiteral("syncActivityType")).typeId(), QMetaType::Int);
    EXPECT_EQ(record.value(QStringLiteral("syncActivityType")).toInt(), 2);
    EXPECT_FALSE(record.contains(QStringLiteral("syncActivityFailureType"))) << "no failure: the key is absent";
    EXPECT_EQ(record.value(QStringLiteral("syncIsBusy")).typeId(), QMetaType::Int);
    EXPECT_EQ(record.value(QStringLiteral("syncIsBusy")).toInt(), 0);
    EXPECT_EQ(record.value(QStringLiteral("syncCancelPending")).typeId(), QMetaType::Bool);
    EXPECT_EQ(record.value(QStringLiteral("syncSize")).typeId(), QMetaType::ULongLong);
    EXPECT_EQ(record.value(QStringLiteral("syncSkipFilter")).toULongLong(), 50u);
    EXPECT_EQ(record.value(QStringLiteral("syncSkipPresent")).toULongLong(), 100u);
    EXPECT_EQ(record.value(QStringLiteral("syncCopied")).toULongLong(), 1007u) << "finished plus partial";
    EXPECT_EQ(record.value(QStringLiteral("syncCopySourcePath")).toString(), QStringLiteral("/src/file"));
    EXPECT_EQ(record.value(QStringLiteral("syncUnaccounted")).typeId(), QMetaType::LongLong);
    EXPECT_EQ(record.value(QStringLiteral("syncUnaccounted")).toLongLong(), -1150);
    EXPECT_FALSE(record.contains(QStringLiteral("activePath"))) << "not busy";

    m_controller->setFailureType(PMSyncController::kFailureCanceled);
    m_controller->setCancelPending(true, false);
    record = m_controller->getCurrentProgressDict();
    EXPECT_EQ(record.value(QStringLiteral("syncActivityFailureType")).toInt(), 6);
    EXPECT_TRUE(record.value(QStringLiteral("syncCancelPending")).toBool());

    m_controller->initForNewJob();
    record = m_controller->progressDict();
    EXPECT_FALSE(record.contains(QStringLiteral("syncCopySourcePath")));
    EXPECT_EQ(record.value(QStringLiteral("syncCopied")).toULongLong(), 0u);
    EXPECT_EQ(record.value(QStringLiteral("syncUnaccounted")).toLongLong(), 0);
}

TEST_F(SyncProgressTest, ABusyControllerNamesItsDriveAsActivePath)
{
    m_script.holdItems = true;
    m_controller->sync();
    ASSERT_TRUE(testsupport::waitFor([&] { return m_script.waiting(); }));
    EXPECT_EQ(m_controller->getCurrentProgressDict().value(QStringLiteral("activePath")).toString(), m_drive.path());
    EXPECT_EQ(m_controller->progressDict().value(QStringLiteral("syncIsBusy")).toInt(), 1);
    m_script.release();
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_controller->busy(); }));
    EXPECT_FALSE(m_controller->getCurrentProgressDict().contains(QStringLiteral("activePath")));
}

TEST_F(SyncProgressTest, RejectedBytesAreNotCountedWhileACancelIsPending)
{
    const QString file = sourceFile(QStringLiteral("rejected"), 700);
    m_controller->accumulateSkipFilteredData(10);
    m_controller->accumulateSkipFilteredDataPath(file);
    PMCopyDelegate &delegate = *m_controller;
    EXPECT_TRUE(delegate.accumulateSkipFilteredDataUInt64(5));
    EXPECT_EQ(m_controller->skippedFiltered(), 10u + 1024u + 5u);

    m_controller->setCancelPending(true, true);
    m_controller->accumulateSkipFilteredData(10);
    m_controller->accumulateSkipFilteredDataPath(file);
    delegate.accumulateSkipFilteredDataUInt64(5);
    EXPECT_EQ(m_controller->skippedFiltered(), 10u + 1024u + 5u);
    m_controller->accumulateCopiedData(3);
    EXPECT_EQ(m_controller->totalCopied(), 3u) << "other counters still count";

    m_controller->setCancelPending(false, false);
    m_controller->accumulateSkipFilteredData(1);
    EXPECT_EQ(m_controller->skippedFiltered(), 10u + 1024u + 5u + 1u);
}

TEST_F(SyncProgressTest, CountersReadWhileTheWorkerWritesShowConsistentGrowingValues)
{
    constexpr int kWrites = 20000;
    std::thread writer([this] {
        for (int i = 0; i < kWrites; ++i) {
            m_controller->accumulateCopiedData(1);
            m_controller->setFileCopyPath(QStringLiteral("/f/%1").arg(i));
        }
    });
    quint64 previous = 0;
    bool shrank = false;
    for (int i = 0; i < 2000; ++i) {
        const quint64 copied = m_controller->getCurrentProgressDict().value(QStringLiteral("syncCopied")).toULongLong();
        shrank = shrank || copied < previous;
        previous = copied;
    }
    writer.join();
    EXPECT_FALSE(shrank);
    EXPECT_EQ(m_controller->totalCopied(), quint64(kWrites));
    EXPECT_EQ(m_controller->currentSourcePath(), QStringLiteral("/f/%1").arg(kWrites - 1));
}

TEST_F(SyncProgressTest, DebugMessagesAreWrittenAndFlushedOnlyWithTheDebugDefault)
{
    QTemporaryDir logDir;
    const QString logFile = logDir.filePath(QStringLiteral("Pellmere.log"));
    PMAgentLog::setupLog(logFile);
    PMLogController &log = PMLogController::sharedInstance();
    ASSERT_TRUE(PMStandardDefaults::sharedInstance().setValue(PMStandardDefaults::kDebugKey, false));

    const QString before = log.contents();
    m_controller->debugMessage(QStringLiteral("quiet line"));
    EXPECT_EQ(log.contents(), before);
    EXPECT_FALSE(QFile::exists(logFile)) << "nothing written, nothing flushed";

    ASSERT_TRUE(PMStandardDefaults::sharedInstance().setValue(PMStandardDefaults::kDebugKey, true));
    m_controller->syncThreadDebugMessage(QStringLiteral("loud line"));
    EXPECT_TRUE(log.contents().contains(QStringLiteral("loud line\n")));
    EXPECT_TRUE(testsupport::readFile(logFile).contains("loud line")) << "a debug line is flushed at once";
    ASSERT_TRUE(PMStandardDefaults::sharedInstance().setValue(PMStandardDefaults::kDebugKey, false));

    m_controller->syncThreadLogMessage(QStringLiteral("always line"));
    EXPECT_TRUE(log.contents().contains(QStringLiteral("always line")));
}
