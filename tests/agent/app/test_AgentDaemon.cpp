// The agent as a background program on real drives: it notices drives as they are mounted,
// syncs those whose user takes part with continuous sync on, registers new drives without
// syncing, leaves read-only drives alone, forgets drives that go away, keeps a busy drive
// mounted, ends cleanly on SIGTERM, and runs only once per user.
#include "AgentHarness.h"

#include "agent/settings/PMConfigurationFile.h"
#include "agent/settings/PMHostUserIdentity.h"
#include "protocol/AECodec.h"
#include "protocol/AEConstants.h"
#include "protocol/PMBusNames.h"
#include "support/DriveImage.h"
#include "support/TestEnvironment.h"

#include <QDBusMessage>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTest>

#include <gtest/gtest.h>

using testsupport::AgentHarness;
using testsupport::DriveImage;
using namespace protocol;

namespace {

const QString kTempFolderName = QStringLiteral(".Z_PM_W");

class AgentDaemonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const QString why = m_agent.whyNoAgentWithDrives(); !why.isEmpty())
            GTEST_SKIP() << why.toStdString();
        m_music = testsupport::testHome() + QStringLiteral("/Music");
        QDir().mkpath(m_music);
    }

    std::unique_ptr<DriveImage> makeDrive(qint64 sizeMiB)
    {
        QString why;
        auto drive = DriveImage::create(DriveImage::FileSystem::Ext4, sizeMiB, &why);
        EXPECT_TRUE(drive) << why.toStdString();
        if (drive)
            m_agent.addVolumeRoot(QFileInfo(drive->mountPoint()).absolutePath());
        return drive;
    }

    // Writes this user's settings onto the drive while it is mounted, then unmounts it. Unless
    // chosenHere is false, this computer also records them as the user's choice.
    static void configure(DriveImage &drive, bool participate, bool continuous,
        const QStringList &syncList = { QStringLiteral("~/Music") }, bool chosenHere = true)
    {
        QString why;
        ASSERT_TRUE(drive.mount(false, &why)) << why.toStdString();
        ASSERT_TRUE(
            AgentHarness::writeDriveSettings(drive.mountPoint(), participate, continuous, syncList, chosenHere));
        ASSERT_TRUE(drive.unmount());
    }

    // The alerts that told the user a drive was not synced because of what it asked for.
    int notChosenAlerts()
    {
        int count = 0;
        for (const auto &shown : m_agent.notifications().shown())
            count += shown.body.contains(QStringLiteral("asks to sync folders you have not chosen")) ? 1 : 0;
        return count;
    }

    static bool holdsFile(const QString &mountPoint, const QString &name)
    {
        for (const QString &path : syncedFiles(mountPoint)) {
            if (QFileInfo(path).fileName() == name)
                return true;
        }
        return false;
    }

    // Regular files of the drive's synced tree (not the temporary folder, not our own files).
    static QStringList syncedFiles(const QString &mountPoint)
    {
        QStringList files;
        QDirIterator it(mountPoint, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString relative = QDir(mountPoint).relativeFilePath(path);
            if (relative.startsWith(kTempFolderName) || relative.startsWith(QLatin1String("lost+found"))
                || relative.startsWith(QLatin1String(".PellmereConfig")))
                continue;
            files.append(path);
        }
        return files;
    }

    AgentHarness m_agent;
    QString m_music;
};

TEST_F(AgentDaemonTest, SyncsADriveOnConnectAndForgetsItWhenItGoesAway)
{
    testsupport::writeFile(m_music + QStringLiteral("/one.mp3"), QByteArray(3000, 'a'));
    testsupport::writeFile(m_music + QStringLiteral("/Album/two.mp3"), QByteArray(5000, 'b'));
    auto drive = makeDrive(64);
    ASSERT_TRUE(drive);
    configure(*drive, true, true);

    QString why;
    ASSERT_TRUE(m_agent.start(&why)) << why.toStdString();
    ASSERT_TRUE(drive->mount(false, &why)) << why.toStdString();
    const QString key = drive->loopDevice().mid(5);
    ASSERT_TRUE(m_agent.waitForLog(QStringLiteral("key=%1").arg(key))) << m_agent.log().toStdString();
    ASSERT_TRUE(m_agent.waitForLog(QStringLiteral("completed successfully"), 60000)) << m_agent.log().toStdString();

    QStringList names;
    for (const QString &path : syncedFiles(drive->mountPoint()))
        names.append(QFileInfo(path).fileName());
    names.sort();
    EXPECT_EQ(names, (QStringList { QStringLiteral("one.mp3"), QStringLiteral("two.mp3") }));
    EXPECT_EQ(m_agent.log().count(QStringLiteral("syncControllerForMountPoint: created")), 1);

    // Idle: the drive unmounts, and the agent drops its controller.
    const QString mountPoint = drive->mountPoint();
    ASSERT_TRUE(drive->unmount());
    ASSERT_TRUE(m_agent.waitForLog(QStringLiteral("-DADiskDisappeared_Proc: unmounting %1").arg(key)));
    const AEDescriptor reply = m_agent.send(AgentHarness::event(kPMQueryID, mountPoint));
    EXPECT_EQ(reply.errorNumber(), kParamErr);
    EXPECT_EQ(reply.errorString().value_or(QString()), QStringLiteral("drive is not valid for sync"));
}

// A drive anyone could have prepared: this user's identity (easy to guess), participation and
// continuous sync on, and a secret folder in its list.
TEST_F(AgentDaemonTest, ADriveCannotMakeThisComputerSyncWhatTheUserNeverChoseHere)
{
    const QString secrets = testsupport::testHome() + QStringLiteral("/.ssh");
    // Named like music, so that the media filter would let it through: only the user's
    // choice keeps it off the drive.
    testsupport::writeFile(secrets + QStringLiteral("/private.mp3"), QByteArray(3000, 'k'));
    testsupport::writeFile(m_music + QStringLiteral("/one.mp3"), QByteArray(3000, 'a'));
    auto drive = makeDrive(64);
    ASSERT_TRUE(drive);
    configure(*drive, true, true, { QStringLiteral("~/.ssh"), QStringLiteral("~/Music") }, false);

    QString why;
    ASSERT_TRUE(m_agent.start(&why)) << why.toStdString();
    ASSERT_TRUE(drive->mount(false, &why)) << why.toStdString();
    ASSERT_TRUE(m_agent.waitForLog(QStringLiteral("asks to sync folders you have not chosen on this computer")))
        << m_agent.log().toStdString();
    ASSERT_TRUE(testsupport::waitFor([&] { return notChosenAlerts() == 1; })) << m_agent.log().toStdString();
    // Its folders are not watched either: a change there starts nothing.
    EXPECT_FALSE(m_agent.log().contains(QStringLiteral("watching ") + secrets));
    testsupport::writeFile(secrets + QStringLiteral("/later.mp3"), QByteArray(3000, 'h'));

    // Turning participation on here does not bring the drive's own list up to date.
    AEDescriptor participate = AgentHarness::event(kPMSetParticipateSyncStateID, drive->mountPoint());
    participate.setParamDescriptor(AEDescriptor::descriptorWithBOOL(true), kPMParticipateSyncStateProperty);
    qint32 status = -1;
    m_agent.send(participate, &status);
    ASSERT_EQ(status, kNoErr);

    // The user chooses the list here: only that is synced, by itself, from now on.
    AEDescriptor list = AEDescriptor::listDescriptor();
    list.appendDescriptor(*AEDescriptor::descriptorWithFilePath(m_music));
    AEDescriptor setList = AgentHarness::event(kPMSetSyncListID, drive->mountPoint());
    setList.setParamDescriptor(list, kPMSyncItemsProperty);
    m_agent.send(setList, &status);
    ASSERT_EQ(status, kNoErr);
    ASSERT_TRUE(m_agent.waitForLog(QStringLiteral("completed successfully"), 60000)) << m_agent.log().toStdString();
    EXPECT_TRUE(holdsFile(drive->mountPoint(), QStringLiteral("one.mp3")));
    EXPECT_FALSE(holdsFile(drive->mountPoint(), QStringLiteral("private.mp3")));
    EXPECT_FALSE(holdsFile(drive->mountPoint(), QStringLiteral("later.mp3")));
    // The first sync was the one the list change started: nothing had run before it.
    EXPECT_EQ(m_agent.log().count(QStringLiteral("completed successfully")), 1);

    // Connected again, the drive now syncs on connect without a word to the user.
    testsupport::writeFile(m_music + QStringLiteral("/two.mp3"), QByteArray(3000, 'b'));
    const QString key = drive->loopDevice().mid(5);
    ASSERT_TRUE(drive->unmount());
    ASSERT_TRUE(m_agent.waitForLog(QStringLiteral("-DADiskDisappeared_Proc: unmounting %1").arg(key)));
    ASSERT_TRUE(drive->mount(false, &why)) << why.toStdString();
    ASSERT_TRUE(testsupport::waitFor(
        [&] { return m_agent.log().count(QStringLiteral("completed successfully")) == 2; }, std::chrono::seconds(60)))
        << m_agent.log().toStdString();
    EXPECT_TRUE(holdsFile(drive->mountPoint(), QStringLiteral("two.mp3")));
    EXPECT_EQ(notChosenAlerts(), 1);
}

TEST_F(AgentDaemonTest, ADriveWhoseListDiffersFromTheOneChosenHereIsToldOnceAndSyncedOnlyByHand)
{
    const QString secrets = testsupport::testHome() + QStringLiteral("/.ssh");
    // Named like music, so that the media filter would let it through: only the user's
    // choice keeps it off the drive.
    testsupport::writeFile(secrets + QStringLiteral("/private.mp3"), QByteArray(3000, 'k'));
    testsupport::writeFile(m_music + QStringLiteral("/one.mp3"), QByteArray(3000, 'a'));
    auto drive = makeDrive(64);
    ASSERT_TRUE(drive);
    // Chosen here: ~/Music. Someone added ~/.ssh to the drive's list since.
    configure(*drive, true, true);
    QString why;
    ASSERT_TRUE(drive->mount(false, &why)) << why.toStdString();
    ASSERT_TRUE(AgentHarness::writeDriveSettings(
        drive->mountPoint(), true, true, { QStringLiteral("~/Music"), QStringLiteral("~/.ssh") }, false));
    ASSERT_TRUE(drive->unmount());

    ASSERT_TRUE(m_agent.start(&why)) << why.toStdString();
    ASSERT_TRUE(drive->mount(false, &why)) << why.toStdString();
    ASSERT_TRUE(m_agent.waitForLog(QStringLiteral("its sync list differs from the one chosen on this computer")))
        << m_agent.log().toStdString();
    ASSERT_TRUE(testsupport::waitFor([&] { return notChosenAlerts() == 1; }));
    EXPECT_FALSE(m_agent.log().contains(QStringLiteral("watching ") + m_music));
    // Turning continuous sync on here, which brings a drive's list up to date at once, does
    // not slip a sync in either; a sync the user starts right after is the user's choice: it
    // runs, over the drive's list.
    AEDescriptor continuous = AgentHarness::event(kPMSetContinuousSyncStateID, drive->mountPoint());
    continuous.setParamDescriptor(AEDescriptor::descriptorWithBOOL(true), kPMContinuousSyncStateProperty);
    qint32 status = -1;
    m_agent.send(continuous, &status);
    ASSERT_EQ(status, kNoErr);
    m_agent.send(AgentHarness::event(kPMStartID, drive->mountPoint()), &status);
    ASSERT_EQ(status, kNoErr);
    ASSERT_TRUE(m_agent.waitForLog(QStringLiteral("completed successfully"), 60000)) << m_agent.log().toStdString();
    // Queued first, a job bringing the drive's list up to date would have run before the asked-for sync.
    EXPECT_FALSE(m_agent.log().contains(QStringLiteral("--- activate-continuous-sync ---")));
    EXPECT_EQ(m_agent.log().count(QStringLiteral("completed successfully")), 1);
    EXPECT_TRUE(holdsFile(drive->mountPoint(), QStringLiteral("one.mp3")));
    EXPECT_TRUE(holdsFile(drive->mountPoint(), QStringLiteral("private.mp3")));
    EXPECT_EQ(notChosenAlerts(), 1);
}

TEST_F(AgentDaemonTest, HugeEventsNeitherSilenceTheAgentNorDelayItsEnd)
{
    QString why;
    ASSERT_TRUE(m_agent.start(&why)) << why.toStdString();
    AEDescriptor event = AgentHarness::event(kPMQueryID, QStringLiteral("/media/nobody/Drive"));
    event.setParamDescriptor(
        AEDescriptor::descriptorWithData(typeUTF8Text, QByteArray(16 * 1024 * 1024 - 4096, 'x')), kPMSyncItemsProperty);
    const std::optional<QByteArray> huge = AECodec::flatten(event);
    ASSERT_TRUE(huge);

    QDBusMessage call = QDBusMessage::createMethodCall(
        kPMServiceName, kPMObjectPath, kPMControlInterface, QStringLiteral("PostEvent"));
    call << *huge;
    const QDBusMessage refused = m_agent.connection().call(call, QDBus::Block, 120000);
    EXPECT_EQ(refused.type(), QDBusMessage::ErrorMessage);
    EXPECT_EQ(refused.errorName(), kPMBadEventError);
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(m_agent.connection().send(call));

    // Still answering, with the client's ordinary timeout.
    const AEDescriptor reply = m_agent.send(AgentHarness::event(kPMQueryID, QStringLiteral("/media/nobody/Drive")));
    EXPECT_EQ(reply.errorString().value_or(QString()), QStringLiteral("drive is not valid for sync"));

    int exitCode = -1;
    // The agent's own bound is 10 s; a little more for the process to go.
    ASSERT_TRUE(m_agent.stop(15000, &exitCode)) << m_agent.log().toStdString();
    EXPECT_EQ(exitCode, 0);
}

TEST_F(AgentDaemonTest, ABrandNewDriveRegistersTheUserWithoutSyncing)
{
    testsupport::writeFile(m_music + QStringLiteral("/one.mp3"), QByteArray(3000, 'a'));
    auto drive = makeDrive(32);
    ASSERT_TRUE(drive);
    QString why;
    ASSERT_TRUE(m_agent.start(&why)) << why.toStdString();
    ASSERT_TRUE(drive->mount(false, &why)) << why.toStdString();
    ASSERT_TRUE(m_agent.waitForLog(QStringLiteral("user is not participating in sync operations")))
        << m_agent.log().toStdString();

    const PMConfigurationFile config(
        drive->mountPoint(), PMConfigurationFile::kSyncTypePerUser, PMHostUserIdentity::uniqueHostUserId());
    EXPECT_TRUE(config.hasSyncConfiguration());
    EXPECT_FALSE(config.isParticipatingEnabledForUser());
    EXPECT_TRUE(config.isContinuousEnabledForUser());
    EXPECT_TRUE(syncedFiles(drive->mountPoint()).isEmpty());
}

TEST_F(AgentDaemonTest, AReadOnlyDriveIsNeitherRegisteredNorSynced)
{
    testsupport::writeFile(m_music + QStringLiteral("/one.mp3"), QByteArray(3000, 'a'));
    auto drive = makeDrive(32);
    ASSERT_TRUE(drive);
    configure(*drive, true, true);
    QString why;
    ASSERT_TRUE(m_agent.start(&why)) << why.toStdString();
    ASSERT_TRUE(drive->mount(true, &why)) << why.toStdString();
    ASSERT_TRUE(m_agent.waitForLog(QStringLiteral("syncControllerForMountPoint: created")));

    const AEDescriptor valid = m_agent.send(AgentHarness::event(kPMIsDriveHFSPlusID, drive->mountPoint()));
    ASSERT_TRUE(valid.paramDescriptorForKeyword(keyDirectObject));
    EXPECT_EQ(valid.paramDescriptorForKeyword(keyDirectObject)->booleanValue(), false);
    // Nothing may start later either: a sync would begin within a second or two.
    QTest::qWait(2500);
    EXPECT_FALSE(m_agent.log().contains(QStringLiteral("Synchronization of")));
    EXPECT_TRUE(syncedFiles(drive->mountPoint()).isEmpty());
}

TEST_F(AgentDaemonTest, ABusyDriveStaysMountedAndSigtermEndsTheAgentWithoutPartialFiles)
{
    testsupport::writeFile(m_music + QStringLiteral("/a-small.mp3"), QByteArray(4000, 'a'));
    // Larger than the drive: the copy runs out of space and the job waits for the user.
    testsupport::writeFile(m_music + QStringLiteral("/b-large.mp3"), QByteArray(24 * 1024 * 1024, 'b'));
    auto drive = makeDrive(16);
    ASSERT_TRUE(drive);
    configure(*drive, true, true);
    QString why;
    ASSERT_TRUE(m_agent.start(&why)) << why.toStdString();
    ASSERT_TRUE(drive->mount(false, &why)) << why.toStdString();
    ASSERT_TRUE(
        testsupport::waitFor([&] { return !m_agent.notifications().shown().isEmpty(); }, std::chrono::seconds(60)))
        << m_agent.log().toStdString();
    EXPECT_TRUE(m_agent.notifications().shown().first().body.contains(QStringLiteral("free space")))
        << m_agent.notifications().shown().first().body.toStdString();

    QString output;
    EXPECT_FALSE(DriveImage::run(QStringLiteral("umount"), { drive->mountPoint() }, &output));
    EXPECT_TRUE(output.contains(QStringLiteral("busy"), Qt::CaseInsensitive)) << output.toStdString();
    PMControlClient client(m_agent.connection());
    PMUnmountAnswer answer;
    ASSERT_EQ(client.requestUnmount(drive->mountPoint(), &answer), kNoErr);
    EXPECT_FALSE(answer.approved);
    EXPECT_EQ(answer.status, 0xF8DA0002u);
    EXPECT_EQ(answer.message, QStringLiteral("Sync In Progress"));

    int exitCode = -1;
    // The agent's own bound is 10 s; a little more for the process to go.
    ASSERT_TRUE(m_agent.stop(15000, &exitCode)) << m_agent.log().toStdString();
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(m_agent.log().contains(QStringLiteral("Kerrit stopping.")));
    for (const QString &path : syncedFiles(drive->mountPoint())) {
        const QString source = m_music + QLatin1Char('/') + QFileInfo(path).fileName();
        EXPECT_EQ(testsupport::readFile(path), testsupport::readFile(source)) << path.toStdString();
    }
    EXPECT_TRUE(drive->unmount());
}

TEST_F(AgentDaemonTest, ASecondAgentOfTheSameUserExitsWithAClearMessage)
{
    QString why;
    ASSERT_TRUE(m_agent.start(&why)) << why.toStdString();
    QProcess second;
    second.setProcessEnvironment(m_agent.environment());
    second.start(QStringLiteral(PELLMERE_AGENT_BINARY), { QStringLiteral("--foreground") });
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_TRUE(QString::fromLocal8Bit(second.readAllStandardError()).contains(QStringLiteral("already running")));
    EXPECT_EQ(m_agent.process().state(), QProcess::Running);
}

} // namespace
