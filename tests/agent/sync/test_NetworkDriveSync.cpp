// Syncs onto a network drive: an SMB share of a real smbd on a loopback port, mounted as guest
// through GVfs, run through the real controller, job and copy engine. What matters is how a
// job ends when the device goes away under it: as a connection error, with nothing half
// copied in the synced tree on the server.
#include "agent/copy/PMCopyItemFilter.h"
#include "agent/log/PMLogController.h"
#include "agent/sync/PMSyncController.h"
#include "agent/sync/PMSyncJob.h"
#include "netstorage/PMSmbShareService.h"

#include "SyncTestDoubles.h"
#include "support/GvfsTestSession.h"
#include "support/SmbTestServer.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>

using namespace synctest;

namespace {

const QString kUser = QStringLiteral("0A1B2C3D4E5F-501");

// Lets everything through and runs a hook when it is asked about one name, to make something
// happen at an exact point of the copying.
class HookFilter : public PMCopyItemFilter {
public:
    HookFilter(QString name, std::function<void()> hook)
        : m_name(std::move(name))
        , m_hook(std::move(hook))
    {
    }
    bool shouldCopyItem(const QString &, const QString &baseName, bool) const override
    {
        if (baseName == m_name)
            m_hook();
        return true;
    }

private:
    QString m_name;
    std::function<void()> m_hook;
};

// Every file below root, relative to it.
QStringList filesBelow(const QString &root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next().mid(root.size() + 1));
    files.sort();
    return files;
}

class SyncToAShare : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        m_server = std::make_unique<testsupport::SmbTestServer>();
        if (!m_server->error().isEmpty())
            GTEST_SKIP() << "no SMB server here: " << m_server->error().toStdString();
        m_gvfs = std::make_unique<testsupport::GvfsTestSession>();
        if (!m_gvfs->error().isEmpty())
            GTEST_SKIP() << "GVfs cannot mount here: " << m_gvfs->error().toStdString();
        QString error;
        ASSERT_TRUE(
            shares().mountShare(m_server->host(), testsupport::SmbTestServer::publicShare(), &m_mountPath, &error))
            << error.toStdString();
        for (int i = 0; i < 5; ++i)
            testsupport::writeFile(
                m_home.filePath(QStringLiteral("Music/%1.mp3").arg(i)), QByteArray(200000, char('a' + i)));
        testsupport::writeFile(m_home.filePath(QStringLiteral("Music/trigger.mp3")), QByteArray(200000, 't'));
    }

    void TearDown() override
    {
        m_controller.reset();
        if (!m_mountPath.isEmpty())
            shares().unmountShare(m_mountPath);
    }

    PMSmbShareService shares() const
    {
        PMSmbShareService::Options options;
        options.environment = m_gvfs->environment();
        return PMSmbShareService(options);
    }

    // A controller for the share (or for mountPoint) whose job runs hook when it comes to
    // the item named trigger.
    PMSyncController &makeController(std::function<void(PMSyncController &)> hook, QString mountPoint = {},
        const QString &trigger = QStringLiteral("trigger.mp3"))
    {
        PMDriveLayout::Identity identity { QStringLiteral("alice"), QStringLiteral("Studio"), kUser,
            QStringLiteral("UUID-1"), m_home.path() };
        m_controller = std::make_unique<PMSyncController>(mountPoint.isEmpty() ? m_mountPath : mountPoint,
            QStringLiteral("Corvane"), QString(), kUser, &m_owner, [identity, hook, trigger](PMSyncController &c) {
                PMSyncJob::Options options;
                options.identity = identity;
                options.limitTo4G = false;
                options.makeFilter = [&c, hook, trigger]() -> std::shared_ptr<const PMCopyItemFilter> {
                    return std::make_shared<HookFilter>(trigger, [&c, hook] { hook(c); });
                };
                return std::make_unique<PMSyncJob>(c, options);
            });
        m_controller->setParticipateSyncState(true);
        EXPECT_TRUE(m_controller->deviceConfig().setSyncItemList(QStringList { QStringLiteral("~/Music") }));
        EXPECT_TRUE(m_controller->deviceConfig().writeConfigFile());
        return *m_controller;
    }

    int lastFailureType() const
    {
        const QList<Notification> all = m_owner.notifications();
        return all.isEmpty() ? -1 : all.last().progress.value(QStringLiteral("syncActivityFailureType")).toInt();
    }
    static QString logText() { return PMLogController::sharedInstance().contents(); }
    static qsizetype count(const QString &text, const QString &part) { return text.count(part); }

    QTemporaryDir m_home;
    std::unique_ptr<testsupport::SmbTestServer> m_server;
    std::unique_ptr<testsupport::GvfsTestSession> m_gvfs;
    QString m_mountPath;
    RecordingOwner m_owner;
    std::unique_ptr<PMSyncController> m_controller;
};

TEST_F(SyncToAShare, FilesLandInTheSharesFolderOnTheServer)
{
    PMSyncController &controller = makeController([](PMSyncController &) {});
    EXPECT_TRUE(controller.isNetworkDevice());
    EXPECT_EQ(syncToTheEnd(controller, m_owner), PMSyncController::kActivityCompleted);
    EXPECT_EQ(testsupport::readFile(m_server->shareFolder() + QStringLiteral("/alice_Studio/Music/3.mp3")),
        QByteArray(200000, 'd'));
    EXPECT_EQ(testsupport::readFile(m_server->shareFolder() + QStringLiteral("/alice_Studio/Music/trigger.mp3")),
        QByteArray(200000, 't'));
}

// The server goes away at two points of the copying: when the walk comes to the synced
// folder, and at a file inside it. Where the failure shows first (a file that cannot be
// written, a folder that cannot be examined or made) depends on what GVfs still has in
// hand; either way the job ends as a connection error.
class SyncToAShareServerStops : public SyncToAShare, public ::testing::WithParamInterface<const char *> { };

TEST_P(SyncToAShareServerStops, TheJobEndsAsAConnectionErrorWithNothingHalfCopiedInPlace)
{
    const testsupport::SmbTestServer *server = m_server.get();
    PMSyncController &controller
        = makeController([server](PMSyncController &) { server->kill(); }, {}, QString::fromLatin1(GetParam()));
    const qsizetype before = count(logText(), QStringLiteral("failed due to connection error."));

    EXPECT_EQ(syncToTheEnd(controller, m_owner), PMSyncController::kActivityFailed);
    EXPECT_EQ(controller.failureType(), PMSyncController::kFailureNetworkLost) << logText().toStdString();
    EXPECT_EQ(lastFailureType(), PMSyncController::kFailureNetworkLost);
    const QString log = logText();
    EXPECT_EQ(count(log, QStringLiteral("failed due to connection error.")), before + 1);
    EXPECT_TRUE(log.contains(QStringLiteral("Synchronization of \"%1\" failed due to connection error.")
                                 .arg(QFileInfo(m_mountPath).fileName())));
    // Copies are made in the drive's temporary folder and moved into place only at the end:
    // the synced tree on the server holds no Music folder at all.
    EXPECT_FALSE(QFileInfo::exists(m_server->shareFolder() + QStringLiteral("/alice_Studio/Music")))
        << filesBelow(m_server->shareFolder()).join(QLatin1Char(' ')).toStdString();
    EXPECT_FALSE(controller.lastSyncTime().isValid());
}

INSTANTIATE_TEST_SUITE_P(AtTheFolderAndAtAFile, SyncToAShareServerStops, ::testing::Values("Music", "trigger.mp3"));

// A server that is already gone when the job starts: the job's folders cannot be made on
// the share, which no error reporter hears of; the share's silence says why.
TEST_F(SyncToAShare, AJobOnAShareWhoseServerIsGoneEndsAsAConnectionError)
{
    PMSyncController &controller = makeController([](PMSyncController &) {});
    m_server->stop();
    EXPECT_EQ(syncToTheEnd(controller, m_owner), PMSyncController::kActivityFailed);
    EXPECT_EQ(controller.failureType(), PMSyncController::kFailureNetworkLost) << logText().toStdString();
    EXPECT_EQ(lastFailureType(), PMSyncController::kFailureNetworkLost);
}

TEST_F(SyncToAShare, ADeviceThatBecomesUnreachableMidSyncEndsTheJobAsAConnectionError)
{
    PMSyncController &controller = makeController([](PMSyncController &c) { c.networkDeviceBecameUnreachable(); });

    EXPECT_EQ(syncToTheEnd(controller, m_owner), PMSyncController::kActivityFailed);
    EXPECT_EQ(controller.failureType(), PMSyncController::kFailureNetworkLost);
    EXPECT_EQ(lastFailureType(), PMSyncController::kFailureNetworkLost);
    EXPECT_FALSE(QFileInfo::exists(m_server->shareFolder() + QStringLiteral("/alice_Studio/Music")));
    // The server stayed up, so the job's clean-up removed its temporary copies as well.
    for (const QString &file : filesBelow(m_server->shareFolder()))
        EXPECT_FALSE(file.endsWith(QLatin1String(".mp3"))) << file.toStdString();

    // Reachable again, the next job runs to its end.
    controller.networkDeviceBecameReachable();
    auto &next = makeController([](PMSyncController &) {});
    EXPECT_EQ(syncToTheEnd(next, m_owner), PMSyncController::kActivityCompleted);
    EXPECT_TRUE(QFileInfo::exists(m_server->shareFolder() + QStringLiteral("/alice_Studio/Music/trigger.mp3")));
}

TEST_F(SyncToAShare, ACancelOnAReachableShareIsACancelNotAConnectionError)
{
    PMSyncController &controller = makeController([](PMSyncController &c) { c.setCancelPending(true, false); });
    EXPECT_EQ(syncToTheEnd(controller, m_owner), PMSyncController::kActivityFailed);
    EXPECT_EQ(controller.failureType(), PMSyncController::kFailureCanceled);
}

TEST_F(SyncToAShare, ALocalDriveIgnoresWordOfAnUnreachableDevice)
{
    QTemporaryDir local;
    ASSERT_TRUE(local.isValid());
    PMSyncController &controller
        = makeController([](PMSyncController &c) { c.networkDeviceBecameUnreachable(); }, local.path());
    EXPECT_FALSE(controller.isNetworkDevice());
    EXPECT_EQ(syncToTheEnd(controller, m_owner), PMSyncController::kActivityCompleted);
    EXPECT_TRUE(QFileInfo::exists(local.filePath(QStringLiteral("alice_Studio/Music/trigger.mp3"))));
}

} // namespace
