// Continuous sync with the real agent on a real drive: a change reaches the drive by itself
// about ten seconds after the last change, a burst of changes makes one job, folders made
// later are watched too, and the progress the manager receives has the agreed keys and types.
#include "AgentHarness.h"

#include "agent/settings/PMConfigurationFile.h"
#include "agent/settings/PMHostUserIdentity.h"
#include "agent/sync/PMSyncProgress.h"
#include "protocol/PMNotificationSubscriber.h"
#include "support/DriveImage.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTest>

#include <gtest/gtest.h>

using testsupport::AgentHarness;
using testsupport::DriveImage;

namespace {

const QString kContinuousJobDone = QStringLiteral("--- done continuous-sync ---");

class ContinuousAgentTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const QString why = m_agent.whyNoAgentWithDrives(); !why.isEmpty())
            GTEST_SKIP() << why.toStdString();
        m_music = testsupport::testHome() + QStringLiteral("/Music");
        QDir().mkpath(m_music);
    }

    bool onDrive(const QString &mountPoint, const QString &name) const
    {
        QDirIterator it(mountPoint, { name }, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            if (!it.next().contains(QStringLiteral("/.Z_PM_W")))
                return true;
        }
        return false;
    }

    AgentHarness m_agent;
    QString m_music;
};

TEST_F(ContinuousAgentTest, ChangesReachTheDriveByThemselvesAfterTheQuietPeriod)
{
    testsupport::writeFile(m_music + QStringLiteral("/first.mp3"), QByteArray(2000, 'a'));
    QString why;
    auto drive = DriveImage::create(DriveImage::FileSystem::Ext4, 64, &why);
    ASSERT_TRUE(drive) << why.toStdString();
    m_agent.addVolumeRoot(QFileInfo(drive->mountPoint()).absolutePath());
    ASSERT_TRUE(drive->mount(false, &why)) << why.toStdString();
    ASSERT_TRUE(AgentHarness::writeDriveSettings(drive->mountPoint(), true, true));
    ASSERT_TRUE(drive->unmount());

    protocol::PMNotificationSubscriber subscriber(m_agent.connection());
    QList<QVariantMap> records;
    QObject::connect(&subscriber, &protocol::PMNotificationSubscriber::posted,
        [&records](const QString &, const QString &, const QVariantMap &info) { records.append(info); });
    ASSERT_TRUE(subscriber.subscribe(QStringLiteral("com.corvane.pellmere.syncInProgress.notification.evt")));

    ASSERT_TRUE(m_agent.start(&why)) << why.toStdString();
    ASSERT_TRUE(drive->mount(false, &why)) << why.toStdString();
    ASSERT_TRUE(m_agent.waitForLog(QStringLiteral("completed successfully"), 60000)) << m_agent.log().toStdString();
    ASSERT_TRUE(onDrive(drive->mountPoint(), QStringLiteral("first.mp3")));

    // The progress of that sync, as the manager sees it: ended with "completed".
    ASSERT_TRUE(testsupport::waitFor(
        [&] { return !records.isEmpty() && records.last().value(PMSyncProgress::kActivityTypeKey).toInt() == 6; }));
    const QVariantMap last = records.last();
    EXPECT_EQ(last.value(PMSyncProgress::kActivityTypeKey).typeId(), QMetaType::Int);
    EXPECT_EQ(last.value(PMSyncProgress::kIsBusyKey).typeId(), QMetaType::Int);
    EXPECT_EQ(last.value(PMSyncProgress::kCancelPendingKey).typeId(), QMetaType::Bool);
    for (const QString &key : { PMSyncProgress::kSizeKey, PMSyncProgress::kSkipFilterKey,
             PMSyncProgress::kSkipPresentKey, PMSyncProgress::kCopiedKey })
        EXPECT_EQ(last.value(key).typeId(), QMetaType::ULongLong) << key.toStdString();
    EXPECT_EQ(last.value(PMSyncProgress::kUnaccountedKey).typeId(), QMetaType::LongLong);

    // One change: on the drive about ten seconds later, by a continuous job.
    testsupport::writeFile(m_music + QStringLiteral("/second.mp3"), QByteArray(2000, 'b'));
    ASSERT_TRUE(testsupport::waitFor(
        [&] { return onDrive(drive->mountPoint(), QStringLiteral("second.mp3")); }, std::chrono::seconds(20)))
        << m_agent.log().toStdString();
    ASSERT_TRUE(testsupport::waitFor([&] { return m_agent.log().count(kContinuousJobDone) == 1; }));

    // A change every 2 s for 20 s, some in a folder made meanwhile: no job while they keep
    // coming, one job after they stop.
    QDir().mkpath(m_music + QStringLiteral("/Later"));
    for (int i = 0; i < 10; ++i) {
        testsupport::writeFile(m_music + QStringLiteral("/Later/burst-%1.mp3").arg(i), QByteArray(1000, char('c' + i)));
        QTest::qWait(2000);
        EXPECT_EQ(m_agent.log().count(kContinuousJobDone), 1) << "a job started while changes kept coming";
    }
    ASSERT_TRUE(testsupport::waitFor(
        [&] { return onDrive(drive->mountPoint(), QStringLiteral("burst-9.mp3")); }, std::chrono::seconds(20)));
    ASSERT_TRUE(testsupport::waitFor([&] { return m_agent.log().count(kContinuousJobDone) == 2; }));
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(onDrive(drive->mountPoint(), QStringLiteral("burst-%1.mp3").arg(i))) << i;
    QTest::qWait(3000);
    EXPECT_EQ(m_agent.log().count(kContinuousJobDone), 2);

    int exitCode = -1;
    EXPECT_TRUE(m_agent.stop(15000, &exitCode));
    EXPECT_EQ(exitCode, 0);
}

} // namespace
