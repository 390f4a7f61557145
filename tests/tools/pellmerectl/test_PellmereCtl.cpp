// pellmerectl end to end: the real binary, run as a subprocess, talks to a control server on
// a private session bus whose handlers record every event and answer as the test says. The
// checks look at the exact events sent (class, id, drive URL, property keyword and type) and
// at what the user sees (output, error lines, exit status).
#include "protocol/AEConstants.h"
#include "protocol/PMControlServer.h"
#include "protocol/PMNotificationEmitter.h"
#include "protocol/PMStatusArchive.h"
#include "protocol/PrivateSessionBus.h"
#include "support/DriveImage.h"
#include "support/TestEnvironment.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <map>

#include <csignal>

using namespace protocol;
using namespace std::chrono_literals;

namespace {

const QList<AEEventID> kAllEventIDs = { kPMQueryID, kPMGetSyncListID, kPMSetSyncListID, kPMGetContinuousSyncStateID,
    kPMSetContinuousSyncStateID, kPMGetSyncMoviesStateID, kPMSetSyncMoviesStateID, kPMGetSyncMusicStateID,
    kPMSetSyncMusicStateID, kPMGetSyncPicturesStateID, kPMSetSyncPicturesStateID, kPMGetSyncDocumentsStateID,
    kPMSetSyncDocumentsStateID, kPMGetSyncDeviceFilterID, kPMSetSyncDeviceFilterID, kPMGetParticipateSyncStateID,
    kPMSetParticipateSyncStateID, kPMIsDriveHFSPlusID, kPMGetQuietSyncStateID, kPMSetQuietSyncStateID, kPMStartID,
    kPMCancelID, kPMStatusID, kPMRemoveSyncID };

struct CtlRun {
    int exitCode = -1;
    QString out;
    QString err;
};

QString code(FourCharCode value)
{
    return fourCharCodeToString(value);
}

class PellmereCtlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bus.isRunning()) << bus.error().toStdString();
        ASSERT_TRUE(driveDir.isValid());
        drive = QDir(driveDir.path()).canonicalPath() + QStringLiteral("/Backup Drive");
        ASSERT_TRUE(QDir().mkpath(drive));
        server = std::make_unique<PMControlServer>(bus.connect());
        for (const AEEventID id : kAllEventIDs) {
            server->handlers().installHandler(kPMEventClass, id,
                { QStringLiteral("handle%1Event").arg(code(id)), [this, id](const PMHandlerRequest &request) {
                     received.push_back(request.event);
                     const auto canned = answers.find(id);
                     return canned == answers.end() ? PMHandlerResult::none() : canned->second;
                 } });
        }
        server->setUnmountApprover([this](const QString &mountPoint) {
            unmountAsked << mountPoint;
            return unmountAnswer;
        });
        QString why;
        ASSERT_TRUE(server->start(&why)) << why.toStdString();
    }

    CtlRun run(const QStringList &arguments, const QString &workingDirectory = QString())
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        process.setProcessEnvironment(env);
        if (!workingDirectory.isEmpty())
            process.setWorkingDirectory(workingDirectory);
        process.start(QStringLiteral(PELLMERECTL_BINARY), arguments);
        EXPECT_TRUE(process.waitForStarted());
        current = &process;
        const auto forget = qScopeGuard([this] { current = nullptr; });
        // The server answers on this thread, so keep its event loop turning while we wait.
        const bool ended = testsupport::waitFor([&] { return process.state() == QProcess::NotRunning; }, 60s);
        EXPECT_TRUE(ended) << "pellmerectl " << arguments.join(QLatin1Char(' ')).toStdString() << " did not end";
        if (!ended) {
            process.kill();
            process.waitForFinished();
        }
        CtlRun result;
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    // The one event received, checked for class and drive.
    AEDescriptor onlyEvent(AEEventID id)
    {
        EXPECT_EQ(received.size(), 1u);
        if (received.empty())
            return AEDescriptor();
        const AEDescriptor event = received.front();
        EXPECT_EQ(event.eventClass(), kPMEventClass);
        EXPECT_EQ(code(event.eventID()), code(id));
        expectDriveObject(event);
        return event;
    }

    void expectDriveObject(const AEDescriptor &event)
    {
        const auto object = event.paramDescriptorForKeyword(keyDirectObject);
        ASSERT_TRUE(object.has_value());
        EXPECT_EQ(code(object->descriptorType()), QStringLiteral("furl"));
        EXPECT_EQ(object->filePath(), drive);
    }

    testsupport::PrivateSessionBus bus;
    QTemporaryDir driveDir;
    QString drive;
    std::unique_ptr<PMControlServer> server;
    std::vector<AEDescriptor> received;
    std::map<AEEventID, PMHandlerResult> answers;
    QStringList unmountAsked;
    PMUnmountAnswer unmountAnswer;
    QProcess *current = nullptr; // the pellmerectl being run
};

} // namespace

TEST_F(PellmereCtlTest, GetAllAsksEverySettingOfTheDriveAndPrintsItsValue)
{
    answers[kPMGetParticipateSyncStateID] = PMHandlerResult::withValue(AEDescriptor::descriptorWithBOOL(true));
    answers[kPMGetQuietSyncStateID] = PMHandlerResult::withValue(AEDescriptor::descriptorWithBOOL(true));
    answers[kPMGetSyncMoviesStateID] = PMHandlerResult::withValue(AEDescriptor::descriptorWithBOOL(false));
    for (const AEEventID id :
        { kPMGetContinuousSyncStateID, kPMGetSyncMusicStateID, kPMGetSyncPicturesStateID, kPMGetSyncDocumentsStateID })
        answers[id] = PMHandlerResult::withValue(AEDescriptor::descriptorWithBOOL(false));
    answers[kPMGetSyncDeviceFilterID] = PMHandlerResult::withValue(AEDescriptor::descriptorWithInt32(5));
    AEDescriptor list = AEDescriptor::listDescriptor();
    list.appendDescriptor(*AEDescriptor::descriptorWithFilePath(QStringLiteral("/home/alice/My Music")));
    list.appendDescriptor(*AEDescriptor::descriptorWithFilePath(QStringLiteral("/home/alice/Documents")));
    answers[kPMGetSyncListID] = PMHandlerResult::withValue(list);

    const CtlRun all = run({ QStringLiteral("get"), drive });
    EXPECT_EQ(all.exitCode, 0) << all.err.toStdString();
    QStringList ids;
    for (const AEDescriptor &event : received) {
        ids << code(event.eventID());
        expectDriveObject(event);
        EXPECT_EQ(event.eventClass(), kPMEventClass);
    }
    EXPECT_EQ(ids.join(QLatin1Char(' ')), QStringLiteral("GPSS GCSS GQSS GSMS GSSS GSPS GSDS GSDF GETL"));
    EXPECT_EQ(all.out,
        QStringLiteral("participate    on\n"
                       "continuous     off\n"
                       "quiet          on\n"
                       "movies         off\n"
                       "music          off\n"
                       "pictures       off\n"
                       "documents      off\n"
                       "device-filter  5\n"
                       "sync-list      /home/alice/My Music\n"
                       "               /home/alice/Documents\n"));

    // One setting prints its bare value, for scripts; a single URL stands for a one-entry list.
    received.clear();
    const CtlRun quiet = run({ QStringLiteral("get"), drive, QStringLiteral("quiet") });
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.out, QStringLiteral("on\n"));
    onlyEvent(kPMGetQuietSyncStateID);

    received.clear();
    answers[kPMGetSyncListID]
        = PMHandlerResult::withValue(*AEDescriptor::descriptorWithFilePath(QStringLiteral("/home/alice/Only")));
    const CtlRun single = run({ QStringLiteral("get"), drive, QStringLiteral("sync-list") });
    EXPECT_EQ(single.out, QStringLiteral("/home/alice/Only\n"));
    onlyEvent(kPMGetSyncListID);
}

TEST_F(PellmereCtlTest, DriveIsSentByItsRealAbsolutePath)
{
    const QString parent = QFileInfo(drive).path();
    ASSERT_TRUE(QFile::link(drive, parent + QStringLiteral("/alias")));
    const CtlRun result = run({ QStringLiteral("sync"), QStringLiteral("alias/") }, parent);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(result.out, QStringLiteral("Sync requested for %1.\n").arg(drive));
    onlyEvent(kPMStartID);
    // The space in the folder's name travels escaped inside the URL.
    EXPECT_TRUE(received.front().paramDescriptorForKeyword(keyDirectObject)->data().endsWith("/Backup%20Drive"));
}

TEST_F(PellmereCtlTest, SetSendsTheSettersEventWithItsPropertyKeywordAndType)
{
    struct Case {
        const char *setting;
        const char *value;
        AEEventID id;
        AEKeyword property;
        const char *type;
    };
    const Case cases[] = {
        { "participate", "yes", kPMSetParticipateSyncStateID, kPMParticipateSyncStateProperty, "true" },
        { "continuous", "off", kPMSetContinuousSyncStateID, kPMContinuousSyncStateProperty, "fals" },
        { "quiet", "TRUE", kPMSetQuietSyncStateID, kPMQuietSyncStateProperty, "true" },
        { "movies", "0", kPMSetSyncMoviesStateID, kKRTSyncMoviesStateProperty, "fals" },
        { "music", "1", kPMSetSyncMusicStateID, kKRTSyncMusicStateProperty, "true" },
        { "pictures", "no", kPMSetSyncPicturesStateID, kKRTSyncPicturesStateProperty, "fals" },
        { "documents", "on", kPMSetSyncDocumentsStateID, kKRTSyncDocumentsStateProperty, "true" },
        { "device-filter", "-3", kPMSetSyncDeviceFilterID, kKRTSyncDeviceFilterProperty, "long" },
    };
    for (const Case &each : cases) {
        SCOPED_TRACE(each.setting);
        received.clear();
        const CtlRun result
            = run({ QStringLiteral("set"), drive, QString::fromLatin1(each.setting), QString::fromLatin1(each.value) });
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        const AEDescriptor event = onlyEvent(each.id);
        EXPECT_EQ(event.paramKeywords(), (QList<AEKeyword> { keyDirectObject, each.property }));
        const auto value = event.paramDescriptorForKeyword(each.property);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(code(value->descriptorType()), QString::fromLatin1(each.type));
        if (each.id == kPMSetSyncDeviceFilterID)
            EXPECT_EQ(value->int32Value(), -3);
        else
            EXPECT_TRUE(value->data().isEmpty());
    }
}

TEST_F(PellmereCtlTest, SetSyncListSendsAbsolutePathsAsAListOfFileUrls)
{
    const QString home = QFileInfo(drive).path();
    const CtlRun result = run({ QStringLiteral("set"), drive, QStringLiteral("sync-list"), QStringLiteral("Music"),
                                  QStringLiteral("./Docs/../Papers"), QStringLiteral("/srv/shared files") },
        home);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    const AEDescriptor event = onlyEvent(kPMSetSyncListID);
    const auto items = event.paramDescriptorForKeyword(kPMSyncItemsProperty);
    ASSERT_TRUE(items.has_value());
    ASSERT_EQ(code(items->descriptorType()), QStringLiteral("list"));
    QStringList paths;
    for (int index = 1; index <= items->numberOfItems(); ++index) {
        const auto item = items->descriptorAtIndex(index);
        EXPECT_EQ(code(item->descriptorType()), QStringLiteral("furl"));
        paths << item->filePath();
    }
    EXPECT_EQ(paths,
        (QStringList {
            home + QStringLiteral("/Music"), home + QStringLiteral("/Papers"), QStringLiteral("/srv/shared files") }));
}

TEST_F(PellmereCtlTest, BadArgumentsAreRefusedBeforeAnythingIsSent)
{
    struct Case {
        QStringList arguments;
        const char *message;
    };
    const QList<Case> cases = {
        { { QStringLiteral("set"), drive, QStringLiteral("quiet"), QStringLiteral("maybe") },
            "set quiet: \"maybe\" is not a yes/no value" },
        { { QStringLiteral("set"), drive, QStringLiteral("quiet"), QStringLiteral("on"), QStringLiteral("off") },
            "set quiet: quiet takes one value" },
        { { QStringLiteral("set"), drive, QStringLiteral("device-filter"), QStringLiteral("1.5") },
            "set device-filter: \"1.5\" is not a whole number" },
        { { QStringLiteral("set"), drive, QStringLiteral("device-filter"), QStringLiteral("4294967296") },
            "set device-filter: \"4294967296\" is not a whole number" },
        { { QStringLiteral("set"), drive, QStringLiteral("colour"), QStringLiteral("on") },
            "set: unknown setting \"colour\"" },
        { { QStringLiteral("set"), drive, QStringLiteral("music") }, "set: a setting or value is missing" },
        { { QStringLiteral("get"), drive + QStringLiteral("/missing") }, "get: " },
        { { QStringLiteral("sync") }, "sync: the drive is missing" },
        { { QStringLiteral("stop"), drive, QStringLiteral("extra") }, "stop: unexpected argument \"extra\"" },
        { { QStringLiteral("--timeout"), QStringLiteral("0"), QStringLiteral("sync"), drive }, "--timeout: " },
        { { QStringLiteral("launch") }, "unknown command \"launch\"" },
        { { QStringLiteral("sync"), QStringLiteral("--now"), drive }, "sync: unknown option \"--now\"" },
    };
    for (const Case &each : cases) {
        SCOPED_TRACE(each.arguments.join(QLatin1Char(' ')).toStdString());
        const CtlRun result = run(each.arguments);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_TRUE(result.err.startsWith(QStringLiteral("pellmerectl: ") + QString::fromUtf8(each.message)))
            << result.err.toStdString();
        EXPECT_TRUE(result.out.isEmpty());
    }
    EXPECT_TRUE(received.empty());
}

TEST_F(PellmereCtlTest, AgentErrorsArePrintedWithTheEventAndFailTheRun)
{
    answers[kPMGetSyncListID] = PMHandlerResult::withError(kBadVolumeFormatErr, QStringLiteral("bad volume format"));
    const CtlRun list = run({ QStringLiteral("get"), drive, QStringLiteral("sync-list") });
    EXPECT_EQ(list.exitCode, 1);
    EXPECT_EQ(list.err, QStringLiteral("pellmerectl: GETL: error -123: bad volume format\n"));
    EXPECT_TRUE(list.out.isEmpty());

    answers[kPMStartID] = PMHandlerResult::withError(kParamErr);
    const CtlRun start = run({ QStringLiteral("sync"), drive });
    EXPECT_EQ(start.exitCode, 1);
    EXPECT_EQ(start.err, QStringLiteral("pellmerectl: DOIT: error -50\n"));
    EXPECT_TRUE(start.out.isEmpty());

    // One failing setting does not hide the others, but the run still fails.
    const CtlRun all = run({ QStringLiteral("get"), drive });
    EXPECT_EQ(all.exitCode, 1);
    EXPECT_TRUE(all.err.contains(QStringLiteral("GETL: error -123"))) << all.err.toStdString();
    EXPECT_TRUE(all.err.contains(QStringLiteral("GPSS: the agent's reply holds no usable value")));
}

TEST_F(PellmereCtlTest, StopAndRemoveSendTheirEvents)
{
    const CtlRun stop = run({ QStringLiteral("stop"), drive });
    EXPECT_EQ(stop.exitCode, 0);
    EXPECT_EQ(stop.out, QStringLiteral("Stop requested for %1.\n").arg(drive));
    onlyEvent(kPMCancelID);

    received.clear();
    answers[kPMRemoveSyncID] = PMHandlerResult::withValue(AEDescriptor::descriptorWithBOOL(true));
    const CtlRun remove = run({ QStringLiteral("remove"), drive });
    EXPECT_EQ(remove.exitCode, 0);
    EXPECT_TRUE(remove.out.contains(QStringLiteral("was removed")));
    onlyEvent(kPMRemoveSyncID);
}

TEST_F(PellmereCtlTest, StatusPrintsTheArchiveOrSaysThereIsNone)
{
    const CtlRun none = run({ QStringLiteral("status"), drive });
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_EQ(none.out, QStringLiteral("no status\n"));
    onlyEvent(kPMStatusID);

    const QDateTime lastSync(QDate(2026, 11, 30), QTime(22, 15, 0), QTimeZone::utc());
    const QVariantMap status { { QStringLiteral("0A1B2C3D4E5F-1000"),
        QVariantMap { { QStringLiteral("computerName"), QStringLiteral("alice-laptop") },
            { QStringLiteral("participateSyncEnabled"), true }, { QStringLiteral("continuousSyncEnabled"), true },
            { QStringLiteral("quietSyncEnabled"), false }, { QStringLiteral("lastSyncTime"), lastSync },
            { QStringLiteral("syncSet"), QStringList { QStringLiteral("~/Music") } } } } };
    received.clear();
    answers[kPMStatusID] = PMHandlerResult::withValue(*PMStatusArchive::statusDescriptor(status));
    const CtlRun some = run({ QStringLiteral("status"), drive });
    EXPECT_EQ(some.exitCode, 0) << some.err.toStdString();
    onlyEvent(kPMStatusID);
    const QString local = lastSync.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    EXPECT_EQ(some.out,
        QStringLiteral("User 0A1B2C3D4E5F-1000\n"
                       "  Computer name  alice-laptop\n"
                       "  Participate    yes\n"
                       "  Continuous     yes\n"
                       "  Quiet          no\n"
                       "  Last sync      %1 (local time)\n"
                       "  Sync set       ~/Music\n")
            .arg(local));

    // Bytes that are no property list are reported, not shown as an empty status.
    answers[kPMStatusID] = PMHandlerResult::withValue(AEDescriptor::descriptorWithData(typeStatus, "not a plist"));
    const CtlRun garbled = run({ QStringLiteral("status"), drive });
    EXPECT_EQ(garbled.exitCode, 1);
    EXPECT_TRUE(
        garbled.err.startsWith(QStringLiteral("pellmerectl: INFO: the status in the agent's reply cannot be read")))
        << garbled.err.toStdString();
}

TEST_F(PellmereCtlTest, UnmountPrintsTheApprovalOrTheRefusal)
{
    const CtlRun approved = run({ QStringLiteral("unmount"), drive });
    EXPECT_EQ(approved.exitCode, 0) << approved.err.toStdString();
    EXPECT_EQ(approved.out, QStringLiteral("approved: %1 may be unmounted\n").arg(drive));
    EXPECT_EQ(unmountAsked, QStringList { drive });

    unmountAnswer = PMUnmountAnswer { false, kPMUnmountRefusedSyncInProgress, QStringLiteral("Sync In Progress") };
    // Refused: --do-unmount must not touch the drive.
    const CtlRun refused = run({ QStringLiteral("unmount"), QStringLiteral("--do-unmount"), drive });
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err, QStringLiteral("pellmerectl: unmount refused: status 0xF8DA0002: Sync In Progress\n"));
    EXPECT_TRUE(refused.out.isEmpty());
    EXPECT_TRUE(QFileInfo(drive).isDir());
    EXPECT_TRUE(received.empty());
}

TEST_F(PellmereCtlTest, WithoutAnAgentEveryCommandSaysSoOnce)
{
    server->stop();
    for (const QStringList &arguments : { QStringList { QStringLiteral("get"), drive },
             QStringList { QStringLiteral("sync"), drive }, QStringList { QStringLiteral("unmount"), drive } }) {
        SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
        const CtlRun result = run(arguments);
        EXPECT_EQ(result.exitCode, 3);
        EXPECT_EQ(result.err, QStringLiteral("pellmerectl: the Pellmere agent is not running\n"))
            << result.err.toStdString();
        EXPECT_TRUE(result.out.isEmpty());
    }
}

namespace {

// Runs `pellmerectl watch` in the background and posts progress records once it listens.
class WatchRun {
public:
    WatchRun(const QString &busAddress, const QStringList &arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(PELLMERECTL_BINARY), QStringList { QStringLiteral("watch") } + arguments);
    }
    ~WatchRun()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    bool waitUntilListening()
    {
        return testsupport::waitFor(
            [this] {
                err += QString::fromUtf8(process.readAllStandardError());
                return err.contains(QStringLiteral("Watching sync progress"));
            },
            30s);
    }
    bool waitUntilEnded()
    {
        return testsupport::waitFor([this] { return process.state() == QProcess::NotRunning; }, 30s);
    }
    QString output() { return QString::fromUtf8(process.readAllStandardOutput()); }

    QProcess process;
    QString err;
};

QVariantMap progressRecord(int activity, const QString &activePath, quint64 size, quint64 copied)
{
    QVariantMap record { { QStringLiteral("syncActivityType"), activity }, { QStringLiteral("syncIsBusy"), 1 },
        { QStringLiteral("syncCancelPending"), false }, { QStringLiteral("syncSize"), size },
        { QStringLiteral("syncSkipFilter"), quint64(0) }, { QStringLiteral("syncSkipPresent"), quint64(0) },
        { QStringLiteral("syncCopied"), copied }, { QStringLiteral("syncUnaccounted"), qint64(size - copied) } };
    if (!activePath.isEmpty())
        record.insert(QStringLiteral("activePath"), activePath);
    return record;
}

const QString kProgressName = QStringLiteral("com.corvane.pellmere.syncInProgress.notification.evt");
const QString kProgressObject = QStringLiteral("com.corvane.pellmere.notifications");

} // namespace

TEST_F(PellmereCtlTest, WatchOnceFollowsProgressUntilTheJobEnds)
{
    WatchRun watch(bus.address(), { QStringLiteral("--once") });
    ASSERT_TRUE(watch.waitUntilListening()) << watch.err.toStdString();
    PMNotificationEmitter emitter(bus.connect());
    ASSERT_TRUE(emitter.post(kProgressName, kProgressObject, progressRecord(1, drive, 0, 0)));
    ASSERT_TRUE(emitter.post(kProgressName, kProgressObject, progressRecord(2, drive, 4096, 1024)));
    // Other notifications and empty records are not progress.
    ASSERT_TRUE(emitter.post(QStringLiteral("com.corvane.pellmere.eventdata.notification.evt"), kProgressObject,
        { { QStringLiteral("evdata"), QByteArray("/home") } }));
    ASSERT_TRUE(emitter.post(kProgressName, kProgressObject, {}));
    // The record that ends a job no longer names the drive.
    QVariantMap done = progressRecord(6, QString(), 4096, 4096);
    done.insert(QStringLiteral("syncIsBusy"), 0);
    ASSERT_TRUE(emitter.post(kProgressName, kProgressObject, done));
    ASSERT_TRUE(watch.waitUntilEnded());
    EXPECT_EQ(watch.process.exitCode(), 0);
    EXPECT_EQ(watch.output(),
        QStringLiteral("%1: Preparing, copied 0 B of 0 B (0%)\n"
                       "%1: Syncing, copied 1.0 KiB of 4.0 KiB (25%)\n"
                       "%1: Completed, copied 4.0 KiB of 4.0 KiB (100%)\n")
            .arg(drive));
}

TEST_F(PellmereCtlTest, WatchOnceForOneDriveEndsWithFailureWhenItsJobFails)
{
    WatchRun watch(bus.address(), { QStringLiteral("--once"), drive });
    ASSERT_TRUE(watch.waitUntilListening()) << watch.err.toStdString();
    PMNotificationEmitter emitter(bus.connect());
    // Another drive's job ending does not end the watch.
    ASSERT_TRUE(emitter.post(kProgressName, kProgressObject, progressRecord(6, QStringLiteral("/mnt/other"), 10, 10)));
    ASSERT_TRUE(emitter.post(kProgressName, kProgressObject, progressRecord(2, drive, 2048, 1024)));
    QVariantMap failed = progressRecord(5, drive, 2048, 1024);
    failed.insert(QStringLiteral("syncActivityFailureType"), 3);
    ASSERT_TRUE(emitter.post(kProgressName, kProgressObject, failed));
    ASSERT_TRUE(watch.waitUntilEnded());
    EXPECT_EQ(watch.process.exitCode(), 1);
    EXPECT_EQ(watch.output(),
        QStringLiteral("%1: Syncing, copied 1.0 KiB of 2.0 KiB (50%)\n"
                       "%1: Stopped: drive disappeared, copied 1.0 KiB of 2.0 KiB (50%)\n")
            .arg(drive));
}

TEST_F(PellmereCtlTest, WatchEndsQuietlyOnInterrupt)
{
    WatchRun watch(bus.address(), {});
    ASSERT_TRUE(watch.waitUntilListening()) << watch.err.toStdString();
    ::kill(pid_t(watch.process.processId()), SIGINT);
    ASSERT_TRUE(watch.waitUntilEnded());
    EXPECT_EQ(watch.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(watch.process.exitCode(), 0);
}

TEST_F(PellmereCtlTest, AnAgentTooSlowToAnswerEndsTheRunAfterTheTimeout)
{
    // The handler answers only once pellmerectl has given up; meanwhile the bus keeps turning.
    server->handlers().installHandler(kPMEventClass, kPMStartID,
        { QStringLiteral("handleStartEvent"), [this](const PMHandlerRequest &) {
             testsupport::waitFor([this] { return !current || current->state() == QProcess::NotRunning; }, 60s);
             return PMHandlerResult::none();
         } });
    const CtlRun result = run({ QStringLiteral("--timeout"), QStringLiteral("0.5"), QStringLiteral("sync"), drive });
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(result.err, QStringLiteral("pellmerectl: DOIT: the agent did not answer within 0.5 s\n"))
        << result.err.toStdString();
    EXPECT_TRUE(result.out.isEmpty());
}

TEST_F(PellmereCtlTest, DoUnmountUnmountsAnApprovedDrive)
{
    QString whyNot = testsupport::DriveImage::unavailableReason(testsupport::DriveImage::FileSystem::Ext4);
    if (!whyNot.isEmpty())
        GTEST_SKIP() << whyNot.toStdString();
    auto image = testsupport::DriveImage::create(testsupport::DriveImage::FileSystem::Ext4, 24, &whyNot);
    if (!image || !image->mount(false, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    const QString mountPoint = QDir(image->mountPoint()).canonicalPath();

    const CtlRun result = run({ QStringLiteral("unmount"), QStringLiteral("--do-unmount"), mountPoint });
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(result.out, QStringLiteral("approved: %1 may be unmounted\n%1 unmounted\n").arg(mountPoint));
    EXPECT_EQ(unmountAsked, QStringList { mountPoint });
    QString mounts;
    ASSERT_TRUE(testsupport::DriveImage::run(
        QStringLiteral("findmnt"), { QStringLiteral("-rno"), QStringLiteral("TARGET") }, &mounts));
    EXPECT_FALSE(mounts.split(QLatin1Char('\n')).contains(mountPoint)) << mounts.toStdString();
}
