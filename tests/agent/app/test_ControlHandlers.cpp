// The agent's answers to the control protocol, asked over a private session bus of the real
// agent with real drives: defaults for unknown drives, the error numbers and texts of bad
// requests, settings that stick, status, and starting and stopping a sync.
#include "AgentHarness.h"

#include "agent/settings/PMConfigurationFile.h"
#include "agent/settings/PMHostUserIdentity.h"
#include "agent/sync/PMSyncProgress.h"
#include "platform/PlatformPaths.h"
#include "protocol/AEConstants.h"
#include "protocol/PMNotificationSubscriber.h"
#include "protocol/PMStatusArchive.h"
#include "support/DriveImage.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

using testsupport::AgentHarness;
using testsupport::DriveImage;
using namespace protocol;

namespace {

std::optional<bool> boolResult(const AEDescriptor &reply)
{
    const auto result = reply.paramDescriptorForKeyword(keyDirectObject);
    return result ? result->booleanValue() : std::nullopt;
}

class ControlHandlersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const QString why = m_agent.whyNoAgentWithDrives(); !why.isEmpty())
            GTEST_SKIP() << why.toStdString();
        m_music = testsupport::testHome() + QStringLiteral("/Music");
        QDir().mkpath(m_music);
    }

    // A drive this user has set up (participation and continuous sync as given), not mounted.
    // Every drive of a test is prepared before the agent starts: its volume roots are fixed then.
    std::unique_ptr<DriveImage> preparedDrive(qint64 sizeMiB, bool participate, bool continuous)
    {
        QString why;
        auto drive = DriveImage::create(DriveImage::FileSystem::Ext4, sizeMiB, &why);
        if (!drive) {
            ADD_FAILURE() << why.toStdString();
            return nullptr;
        }
        m_agent.addVolumeRoot(QFileInfo(drive->mountPoint()).absolutePath());
        EXPECT_TRUE(drive->mount(false, &why)) << why.toStdString();
        EXPECT_TRUE(AgentHarness::writeDriveSettings(drive->mountPoint(), participate, continuous));
        EXPECT_TRUE(drive->unmount());
        return drive;
    }

    // Mounts the drive with the agent running (started now if need be) and waits until the
    // agent has made its controller.
    bool mountWithAgent(DriveImage &drive, bool readOnly = false)
    {
        QString why;
        if (!m_started && !(m_started = m_agent.start(&why))) {
            ADD_FAILURE() << why.toStdString();
            return false;
        }
        const int created = m_agent.log().count(QStringLiteral("syncControllerForMountPoint: created"));
        if (!drive.mount(readOnly, &why)) {
            ADD_FAILURE() << why.toStdString();
            return false;
        }
        return testsupport::waitFor(
            [&] { return m_agent.log().count(QStringLiteral("syncControllerForMountPoint: created")) > created; },
            std::chrono::seconds(20));
    }

    std::unique_ptr<DriveImage> mountedDrive(qint64 sizeMiB, bool participate, bool continuous, bool readOnly = false)
    {
        auto drive = preparedDrive(sizeMiB, participate, continuous);
        if (drive) {
            EXPECT_TRUE(mountWithAgent(*drive, readOnly));
        }
        return drive;
    }

    AEDescriptor send(
        quint32 id, const QString &mountPath, std::optional<std::pair<AEKeyword, AEDescriptor>> parameter = {})
    {
        AEDescriptor event = AgentHarness::event(id, mountPath);
        if (parameter)
            event.setParamDescriptor(parameter->second, parameter->first);
        qint32 status = -1;
        const AEDescriptor reply = m_agent.send(event, &status);
        EXPECT_EQ(status, kNoErr);
        return reply;
    }

    QStringList syncList(const QString &mountPath)
    {
        QStringList paths;
        const AEDescriptor reply = send(kPMGetSyncListID, mountPath);
        const auto list = reply.paramDescriptorForKeyword(keyDirectObject);
        for (int i = 1; list && i <= list->numberOfItems(); ++i)
            paths.append(list->descriptorAtIndex(i)->filePath());
        return paths;
    }

    static AEDescriptor urlOf(const QString &path) { return *AEDescriptor::descriptorWithFilePath(path); }

    AgentHarness m_agent;
    QString m_music;
    bool m_started = false;
};

TEST_F(ControlHandlersTest, DrivesWithoutControllerGetTheDefaultsAndValidityErrors)
{
    QString why;
    ASSERT_TRUE(m_agent.start(&why)) << why.toStdString();
    const QString folder = testsupport::testHome();

    const AEDescriptor query = send(kPMQueryID, folder);
    EXPECT_EQ(boolResult(query), false);
    EXPECT_EQ(query.errorNumber(), kParamErr);
    EXPECT_EQ(query.errorString(), QStringLiteral("drive is not valid for sync"));
    EXPECT_EQ(boolResult(send(kPMGetSyncMoviesStateID, folder)), true);
    EXPECT_EQ(boolResult(send(kPMGetSyncMusicStateID, folder)), true);
    EXPECT_EQ(boolResult(send(kPMGetSyncPicturesStateID, folder)), true);
    EXPECT_EQ(boolResult(send(kPMGetSyncDocumentsStateID, folder)), false);
    EXPECT_EQ(boolResult(send(kPMGetContinuousSyncStateID, folder)), false);
    EXPECT_EQ(boolResult(send(kPMGetParticipateSyncStateID, folder)), false);
    EXPECT_EQ(send(kPMGetSyncDeviceFilterID, folder).paramDescriptorForKeyword(keyDirectObject)->int32Value(), 0);
    // A setter for an unknown drive does nothing and is no error.
    const AEDescriptor set = send(kPMSetSyncDocumentsStateID, folder,
        std::make_pair(kKRTSyncDocumentsStateProperty, AEDescriptor::descriptorWithBOOL(true)));
    EXPECT_EQ(set.errorNumber(), 0);
    EXPECT_EQ(boolResult(send(kPMGetSyncDocumentsStateID, folder)), false);

    // The frame's own errors: no direct object, and one that is no file URL.
    AEDescriptor bare = AEDescriptor::appleEvent(kPMEventClass, kPMGetSyncMoviesStateID);
    const AEDescriptor noObject = m_agent.send(bare);
    EXPECT_EQ(noObject.errorNumber(), kParamErr);
    EXPECT_EQ(noObject.errorString(), QStringLiteral("unable to get event descriptor"));
    bare.setParamDescriptor(AEDescriptor::descriptorWithString(folder), keyDirectObject);
    EXPECT_EQ(m_agent.send(bare).errorString(), QStringLiteral("unable to retrieve main URL"));
}

TEST_F(ControlHandlersTest, AnUnqualifiedDriveAnswersBadVolumeFormatAndHasNoStatus)
{
    auto drive = mountedDrive(32, true, false, true);
    ASSERT_TRUE(drive);
    const AEDescriptor list = send(kPMGetSyncListID, drive->mountPoint());
    EXPECT_EQ(list.errorNumber(), kBadVolumeFormatErr);
    EXPECT_EQ(list.errorString(), QStringLiteral("bad volume format"));
    EXPECT_FALSE(list.paramDescriptorForKeyword(keyDirectObject));
}

TEST_F(ControlHandlersTest, BadSettingsAreRefusedAndGoodOnesStick)
{
    auto drive = mountedDrive(32, false, false);
    ASSERT_TRUE(drive);
    const QString mount = drive->mountPoint();
    const QString music = QDir::cleanPath(m_music);
    ASSERT_EQ(syncList(mount), QStringList { music });

    // A single URL where a list belongs: refused, the list stays.
    const AEDescriptor single = send(kPMSetSyncListID, mount, std::make_pair(kPMSyncItemsProperty, urlOf(m_music)));
    EXPECT_EQ(single.errorNumber(), kParamErr);
    EXPECT_EQ(single.errorString(), QStringLiteral("ITMZ property not typeAEList"));
    EXPECT_EQ(syncList(mount), QStringList { music });

    // A bad third item: the first two are applied all the same.
    const QString pictures = testsupport::testHome() + QStringLiteral("/Pictures");
    const QString documents = testsupport::testHome() + QStringLiteral("/Documents");
    QDir().mkpath(pictures);
    QDir().mkpath(documents);
    AEDescriptor items = AEDescriptor::listDescriptor();
    items.appendDescriptor(urlOf(pictures));
    items.appendDescriptor(urlOf(documents));
    items.appendDescriptor(AEDescriptor::descriptorWithString(QStringLiteral("not a url")));
    const AEDescriptor partial = send(kPMSetSyncListID, mount, std::make_pair(kPMSyncItemsProperty, items));
    EXPECT_EQ(partial.errorNumber(), kParamErr);
    EXPECT_EQ(partial.errorString(), QStringLiteral("cannot retrieve fileURL for item 3"));
    EXPECT_TRUE(testsupport::waitFor([&] {
        return syncList(mount) == QStringList { pictures, documents };
    })) << syncList(mount).join(QLatin1Char(' ')).toStdString();

    // The device filter takes only a 32-bit integer.
    const std::optional<qint32> filter
        = send(kPMGetSyncDeviceFilterID, mount).paramDescriptorForKeyword(keyDirectObject)->int32Value();
    const AEDescriptor boolFilter = send(kPMSetSyncDeviceFilterID, mount,
        std::make_pair(kKRTSyncDeviceFilterProperty, AEDescriptor::descriptorWithBOOL(true)));
    EXPECT_EQ(boolFilter.errorNumber(), kParamErr);
    EXPECT_FALSE(boolFilter.errorString().has_value());
    EXPECT_EQ(send(kPMGetSyncDeviceFilterID, mount).paramDescriptorForKeyword(keyDirectObject)->int32Value(), filter);
    send(kPMSetSyncDeviceFilterID, mount,
        std::make_pair(kKRTSyncDeviceFilterProperty, AEDescriptor::descriptorWithInt32(4)));
    EXPECT_EQ(send(kPMGetSyncDeviceFilterID, mount).paramDescriptorForKeyword(keyDirectObject)->int32Value(), 4);

    // Boolean setters: missing and mistyped properties, then a real change.
    const AEDescriptor missing = send(kPMSetSyncMoviesStateID, mount);
    EXPECT_EQ(missing.errorString(), QStringLiteral("unable to retrieve kKRTSyncMoviesStateProperty property"));
    const AEDescriptor mistyped = send(
        kPMSetQuietSyncStateID, mount, std::make_pair(kPMQuietSyncStateProperty, AEDescriptor::descriptorWithInt32(1)));
    EXPECT_EQ(mistyped.errorString(), QStringLiteral("QSSP property not typeTrue or typeFalse"));

    // Sent without a reply: done all the same, and nothing comes back.
    AEDescriptor posted = AgentHarness::event(kPMSetSyncMoviesStateID, mount);
    posted.setParamDescriptor(AEDescriptor::descriptorWithBOOL(false), kKRTSyncMoviesStateProperty);
    PMControlClient client(m_agent.connection());
    ASSERT_EQ(client.postEvent(posted), kNoErr);
    EXPECT_TRUE(testsupport::waitFor([&] { return boolResult(send(kPMGetSyncMoviesStateID, mount)) == false; }));

    const PMConfigurationFile config(
        mount, PMConfigurationFile::kSyncTypePerUser, PMHostUserIdentity::uniqueHostUserId());
    EXPECT_FALSE(config.isSyncMoviesEnabledForUser());
    EXPECT_EQ(config.getSyncDeviceFilterForUser(), 4);
}

TEST_F(ControlHandlersTest, StatusListsTheDrivesUsersAndNothingWithoutThem)
{
    auto unqualified = preparedDrive(32, true, false);
    auto drive = preparedDrive(32, true, false);
    ASSERT_TRUE(unqualified && drive);
    ASSERT_TRUE(mountWithAgent(*unqualified, true));
    const AEDescriptor none = send(kPMStatusID, QStringLiteral("/no/such/drive"));
    EXPECT_FALSE(none.paramDescriptorForKeyword(keyStatus));
    EXPECT_EQ(none.errorNumber(), 0);

    ASSERT_TRUE(mountWithAgent(*drive));
    const AEDescriptor reply = send(kPMStatusID, drive->mountPoint());
    ASSERT_TRUE(reply.paramDescriptorForKeyword(keyStatus));
    const auto status = PMStatusArchive::statusFromDescriptor(*reply.paramDescriptorForKeyword(keyStatus));
    ASSERT_TRUE(status);
    const QVariantMap user = status->value(PMHostUserIdentity::uniqueHostUserId()).toMap();
    EXPECT_EQ(user.value(QStringLiteral("participateSyncEnabled")).toBool(), true);
    EXPECT_EQ(user.value(QStringLiteral("continuousSyncEnabled")).toBool(), false);
    EXPECT_EQ(user.value(QStringLiteral("quietSyncEnabled")).toBool(), true);
    EXPECT_TRUE(user.contains(QStringLiteral("computerName")));
}

TEST_F(ControlHandlersTest, StartRunsASyncToTheEndAndStopCancelsARunningOne)
{
    testsupport::writeFile(m_music + QStringLiteral("/a-small.mp3"), QByteArray(4000, 'a'));
    auto drive = mountedDrive(64, false, false);
    ASSERT_TRUE(drive);
    PMNotificationSubscriber subscriber(m_agent.connection());
    QList<QVariantMap> records;
    QObject::connect(&subscriber, &PMNotificationSubscriber::posted,
        [&records](const QString &, const QString &, const QVariantMap &info) { records.append(info); });
    ASSERT_TRUE(subscriber.subscribe(QStringLiteral("com.corvane.pellmere.syncInProgress.notification.evt")));

    send(kPMStartID, drive->mountPoint());
    ASSERT_TRUE(m_agent.waitForLog(QStringLiteral("completed successfully"), 60000)) << m_agent.log().toStdString();
    EXPECT_EQ(boolResult(send(kPMGetParticipateSyncStateID, drive->mountPoint())), true);
    ASSERT_TRUE(testsupport::waitFor([&] {
        return !records.isEmpty() && records.last().value(PMSyncProgress::kActivityTypeKey).toInt() == 6;
    })) << records.size();

    // Larger than the drive: the job stops at the full drive and waits for the user.
    testsupport::writeFile(m_music + QStringLiteral("/b-large.mp3"), QByteArray(80 * 1024 * 1024, 'b'));
    records.clear();
    send(kPMStartID, drive->mountPoint());
    // The record the request itself sends is the new job's, not the end of the last one.
    ASSERT_TRUE(testsupport::waitFor([&] { return !records.isEmpty(); }));
    const QVariantMap started = records.first();
    EXPECT_EQ(started.value(PMSyncProgress::kActivityTypeKey).toInt(), 1) << "still shows the previous job's activity";
    EXPECT_FALSE(started.contains(PMSyncProgress::kFailureTypeKey));
    EXPECT_EQ(started.value(PMSyncProgress::kCopiedKey).toULongLong(), 0u);
    EXPECT_EQ(started.value(PMSyncProgress::kSizeKey).toULongLong(), 0u);
    EXPECT_EQ(started.value(PMSyncProgress::kCancelPendingKey).toBool(), false);
    EXPECT_EQ(started.value(PMSyncProgress::kActivePathKey).toString(), drive->mountPoint());
    ASSERT_TRUE(
        testsupport::waitFor([&] { return !m_agent.notifications().shown().isEmpty(); }, std::chrono::seconds(60)))
        << m_agent.log().toStdString();
    // A second start while this job runs is refused in the reply, not only in an alert: the
    // manager and pellmerectl would otherwise report a sync under way.
    const AEDescriptor refused = send(kPMStartID, drive->mountPoint());
    EXPECT_EQ(refused.errorNumber(), kFBsyErr);
    EXPECT_TRUE(
        refused.errorString().value_or(QString()).contains(QStringLiteral("already involved in a sync operation")));
    send(kPMCancelID, drive->mountPoint());
    m_agent.notifications().invokeAction(m_agent.notifications().shown().last().id, QStringLiteral("ok"));
    ASSERT_TRUE(testsupport::waitFor(
        [&] { return !records.isEmpty() && records.last().value(PMSyncProgress::kActivityTypeKey).toInt() == 5; },
        std::chrono::seconds(30)))
        << m_agent.log().toStdString();
    EXPECT_EQ(records.last().value(PMSyncProgress::kFailureTypeKey).toInt(), 6);
}

} // namespace

namespace {

struct CtlRun {
    int exitCode = -1;
    QString out;
    QString err;
};

TEST_F(ControlHandlersTest, PellmerectlReadsAndChangesTheSettingsOfTheRealAgent)
{
    auto drive = mountedDrive(32, false, false);
    ASSERT_TRUE(drive);
    const auto ctl = [&](const QStringList &arguments) {
        QProcess process;
        process.setProcessEnvironment(m_agent.environment());
        process.start(QStringLiteral(PELLMERECTL_BINARY), arguments);
        CtlRun run;
        if (process.waitForFinished(30000)) {
            run.exitCode = process.exitCode();
            run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
            run.err = QString::fromLocal8Bit(process.readAllStandardError());
        }
        return run;
    };
    const QString mount = drive->mountPoint();

    EXPECT_EQ(ctl({ QStringLiteral("get"), mount, QStringLiteral("movies") }).out.trimmed(), QStringLiteral("on"));
    EXPECT_EQ(ctl({ QStringLiteral("set"), mount, QStringLiteral("movies"), QStringLiteral("off") }).exitCode, 0);
    EXPECT_EQ(ctl({ QStringLiteral("get"), mount, QStringLiteral("movies") }).out.trimmed(), QStringLiteral("off"));
    EXPECT_EQ(boolResult(send(kPMGetSyncMoviesStateID, mount)), false);

    const CtlRun status = ctl({ QStringLiteral("status"), mount });
    EXPECT_EQ(status.exitCode, 0) << status.err.toStdString();
    EXPECT_FALSE(status.out.contains(QStringLiteral("no status"))) << status.out.toStdString();

    // The agent's own error, with its number and text, and a failing exit status.
    const CtlRun notADrive = ctl({ QStringLiteral("get"), testsupport::testHome(), QStringLiteral("sync-list") });
    EXPECT_EQ(notADrive.exitCode, 1);
    EXPECT_TRUE(notADrive.err.contains(QStringLiteral("error -123: bad volume format"))) << notADrive.err.toStdString();
}

} // namespace
