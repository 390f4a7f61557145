// The control protocol on a private session bus: an agent-side server with a small handler
// table on the main thread, clients sending from another thread as the manager and the
// command-line client do. Covers request and reply, error replies, events posted without a
// reply, malformed bytes, the single owner of the agent's name, a client with no agent, an
// agent too slow to answer, unmount approval, and the notification signal.
#include "PrivateSessionBus.h"

#include "protocol/AECodec.h"
#include "protocol/PMControlClient.h"
#include "protocol/PMControlServer.h"
#include "protocol/PMNotificationEmitter.h"
#include "protocol/PMNotificationSubscriber.h"
#include "support/TestEnvironment.h"

#include <QDBusMessage>
#include <QDateTime>

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <atomic>
#include <future>

using namespace protocol;
using namespace std::chrono_literals;

namespace {

// Runs `work` on another thread while the main thread keeps serving the bus; answers its result.
template<typename Work> auto offMainThread(Work work)
{
    auto future = std::async(std::launch::async, std::move(work));
    EXPECT_TRUE(testsupport::waitFor([&] { return future.wait_for(0ms) == std::future_status::ready; }, 60s));
    return future.get();
}

AEDescriptor eventFor(AEEventID id, const QString &mountPath)
{
    AEDescriptor event = AEDescriptor::appleEvent(kPMEventClass, id);
    event.setParamDescriptor(*AEDescriptor::descriptorWithFilePath(mountPath), keyDirectObject);
    return event;
}

struct SendOutcome {
    qint32 status = 0;
    AEDescriptor reply;
    QString errorText;
};

class ControlTransportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bus.isRunning()) << bus.error().toStdString();
        server = std::make_unique<PMControlServer>(bus.connect());
        server->handlers().setDebugSink([this](const QString &line) { debugLines << line; });
        server->handlers().installHandler(
            kPMEventClass, kPMQueryID, { QStringLiteral("handleQueryEvent"), [this](const PMHandlerRequest &request) {
                                            performed << request.mountPath;
                                            if (request.mountPath != QLatin1String("/media/alice/Backup"))
                                                return PMHandlerResult { AEDescriptor::descriptorWithBOOL(false),
                                                    kParamErr, QStringLiteral("drive is not valid for sync") };
                                            return PMHandlerResult::withValue(AEDescriptor::descriptorWithBOOL(true));
                                        } });
        server->handlers().installHandler(kPMEventClass, kPMSetQuietSyncStateID,
            { QStringLiteral("handleSetQuietSyncStateEvent"), [this](const PMHandlerRequest &request) {
                 const auto value = request.event.paramDescriptorForKeyword(kPMQuietSyncStateProperty);
                 performed << request.mountPath;
                 quiet = value && value->booleanValue().value_or(false);
                 return PMHandlerResult::none();
             } });
        QString why;
        ASSERT_TRUE(server->start(&why)) << why.toStdString();
        clientConnection = bus.connect();
    }

    SendOutcome send(const AEDescriptor &event, std::chrono::milliseconds timeout = 30s)
    {
        QDBusConnection connection = clientConnection;
        return offMainThread([connection, event, timeout] {
            PMControlClient client(connection);
            client.setTimeout(timeout);
            SendOutcome outcome;
            outcome.status = client.sendEvent(event, &outcome.reply);
            outcome.errorText = client.lastErrorText();
            return outcome;
        });
    }

    testsupport::PrivateSessionBus bus;
    std::unique_ptr<PMControlServer> server;
    QDBusConnection clientConnection { QString() };
    QStringList performed;
    QStringList debugLines;
    bool quiet = false;
};

} // namespace

TEST_F(ControlTransportTest, EventIsAnsweredWithTheHandlersReply)
{
    const SendOutcome outcome = send(eventFor(kPMQueryID, QStringLiteral("/media/alice/Backup")));
    ASSERT_EQ(outcome.status, kNoErr) << outcome.errorText.toStdString();
    EXPECT_EQ(performed, QStringList { QStringLiteral("/media/alice/Backup") });
    EXPECT_EQ(outcome.reply.eventClass(), kCoreEventClass);
    EXPECT_EQ(outcome.reply.eventID(), kAEAnswer);
    EXPECT_EQ(outcome.reply.paramDescriptorForKeyword(keyDirectObject)->booleanValue(), true);
    EXPECT_EQ(outcome.reply.errorNumber(), 0);
    EXPECT_FALSE(outcome.reply.paramDescriptorForKeyword(keyErrorString).has_value());
}

TEST_F(ControlTransportTest, AgentErrorsTravelInTheReply)
{
    const SendOutcome invalid = send(eventFor(kPMQueryID, QStringLiteral("/media/alice/Other")));
    ASSERT_EQ(invalid.status, kNoErr);
    EXPECT_EQ(invalid.reply.paramDescriptorForKeyword(keyDirectObject)->booleanValue(), false);
    EXPECT_EQ(invalid.reply.errorNumber(), kParamErr);
    EXPECT_EQ(invalid.reply.errorString(), QStringLiteral("drive is not valid for sync"));

    const SendOutcome unhandled = send(eventFor(kPMStartID, QStringLiteral("/media/alice/Backup")));
    ASSERT_EQ(unhandled.status, kNoErr);
    EXPECT_EQ(unhandled.reply.errorNumber(), kErrAEEventNotHandled);

    const SendOutcome noDrive = send(AEDescriptor::appleEvent(kPMEventClass, kPMQueryID));
    ASSERT_EQ(noDrive.status, kNoErr);
    EXPECT_EQ(noDrive.reply.errorString(), QStringLiteral("unable to get Event Descriptor"));
    EXPECT_EQ(performed, QStringList { QStringLiteral("/media/alice/Other") });
}

TEST_F(ControlTransportTest, PostedEventIsPerformedWithoutAnAnswer)
{
    PMControlClient client(clientConnection);
    AEDescriptor event = eventFor(kPMSetQuietSyncStateID, QStringLiteral("/media/alice/Backup"));
    event.setParamDescriptor(AEDescriptor::descriptorWithBOOL(true), kPMQuietSyncStateProperty);
    ASSERT_EQ(client.postEvent(event), kNoErr) << client.lastErrorText().toStdString();
    ASSERT_TRUE(testsupport::waitFor([this] { return !performed.isEmpty(); }));
    EXPECT_TRUE(quiet);
    // The frame was handed the sender's "no reply": nothing was put into it.
    EXPECT_EQ(debugLines.last(), QStringLiteral("< handleSetQuietSyncStateEvent: null()"));
}

TEST_F(ControlTransportTest, MalformedBytesAreRefusedAndTheServerKeepsServing)
{
    const QDBusConnection connection = clientConnection;
    const QDBusMessage answer = offMainThread([connection] {
        QDBusMessage call = QDBusMessage::createMethodCall(
            kPMServiceName, kPMObjectPath, kPMControlInterface, QStringLiteral("HandleEvent"));
        call << QByteArray("PMAE\x01list\x01\xff\xff\xff\xff", 14);
        return connection.call(call, QDBus::Block, 30000);
    });
    EXPECT_EQ(answer.type(), QDBusMessage::ErrorMessage);
    EXPECT_EQ(answer.errorName(), kPMBadEventError);
    EXPECT_TRUE(answer.errorMessage().contains(QLatin1String("count")));

    QDBusMessage post = QDBusMessage::createMethodCall(
        kPMServiceName, kPMObjectPath, kPMControlInterface, QStringLiteral("PostEvent"));
    post << QByteArray("garbage");
    ASSERT_TRUE(clientConnection.send(post));

    const SendOutcome after = send(eventFor(kPMQueryID, QStringLiteral("/media/alice/Backup")));
    ASSERT_EQ(after.status, kNoErr);
    EXPECT_EQ(performed, QStringList { QStringLiteral("/media/alice/Backup") });
}

TEST_F(ControlTransportTest, OversizedEventsAreRefusedAndTheServerKeepsAnswering)
{
    // A well-formed event that the decoder itself would accept: a 'QURY' for a valid drive
    // carrying 16 MiB of padding, and one just under the limit that must still be served.
    const auto eventOfSize = [](qsizetype padding) {
        AEDescriptor event = eventFor(kPMQueryID, QStringLiteral("/media/alice/Backup"));
        event.setParamDescriptor(
            AEDescriptor::descriptorWithData(typeUTF8Text, QByteArray(padding, 'x')), kPMSyncItemsProperty);
        return *AECodec::flatten(event);
    };
    const QByteArray huge = eventOfSize(16 * 1024 * 1024 - 4096);
    const QByteArray small = eventOfSize(PMControlServer::kMaxEventSize - 4096);
    ASSERT_GT(huge.size(), PMControlServer::kMaxEventSize);
    ASSERT_LE(small.size(), PMControlServer::kMaxEventSize);

    const QDBusConnection connection = clientConnection;
    const auto callWith = [connection](const QString &method, const QByteArray &bytes) {
        return offMainThread([connection, method, bytes] {
            QDBusMessage call
                = QDBusMessage::createMethodCall(kPMServiceName, kPMObjectPath, kPMControlInterface, method);
            call << bytes;
            return connection.call(call, QDBus::Block, 60000);
        });
    };
    for (const QString &method : { QStringLiteral("HandleEvent"), QStringLiteral("PostEvent") }) {
        const QDBusMessage answer = callWith(method, huge);
        EXPECT_EQ(answer.type(), QDBusMessage::ErrorMessage) << method.toStdString();
        EXPECT_EQ(answer.errorName(), kPMBadEventError) << method.toStdString();
        EXPECT_TRUE(answer.errorMessage().contains(QLatin1String("larger than")))
            << answer.errorMessage().toStdString();
    }
    EXPECT_TRUE(performed.isEmpty()) << "an oversized event reached a handler";

    // A flood of them posted without waiting, as a hostile client would.
    for (int i = 0; i < 10; ++i) {
        QDBusMessage post = QDBusMessage::createMethodCall(
            kPMServiceName, kPMObjectPath, kPMControlInterface, QStringLiteral("PostEvent"));
        post << huge;
        ASSERT_TRUE(clientConnection.send(post));
    }
    const SendOutcome after = send(eventFor(kPMQueryID, QStringLiteral("/media/alice/Backup")));
    ASSERT_EQ(after.status, kNoErr) << after.errorText.toStdString();
    EXPECT_EQ(after.reply.paramDescriptorForKeyword(keyDirectObject)->booleanValue(), true);
    EXPECT_EQ(performed, QStringList { QStringLiteral("/media/alice/Backup") });

    const QDBusMessage served = callWith(QStringLiteral("HandleEvent"), small);
    EXPECT_EQ(served.type(), QDBusMessage::ReplyMessage) << served.errorMessage().toStdString();
    EXPECT_EQ(performed.size(), 2);
}

TEST_F(ControlTransportTest, SecondServerCannotOwnTheName)
{
    PMControlServer second(bus.connect());
    QString why;
    EXPECT_FALSE(second.start(&why));
    EXPECT_FALSE(second.isRunning());
    EXPECT_TRUE(why.contains(QLatin1String("already owns com.corvane.pellmere"))) << why.toStdString();
    EXPECT_TRUE(why.contains(QLatin1String("process"))) << why.toStdString();

    // The first one is untouched by the attempt.
    const SendOutcome outcome = send(eventFor(kPMQueryID, QStringLiteral("/media/alice/Backup")));
    EXPECT_EQ(outcome.status, kNoErr);

    // Once it stops, the name is free for another.
    server->stop();
    EXPECT_TRUE(second.start(&why)) << why.toStdString();
}

TEST_F(ControlTransportTest, ClientWithoutAgentGetsAClearError)
{
    server->stop();
    PMControlClient client(clientConnection);
    EXPECT_FALSE(client.isAgentRunning());
    AEDescriptor reply;
    EXPECT_EQ(client.sendEvent(eventFor(kPMQueryID, QStringLiteral("/media/x")), &reply), kProcNotFound);
    EXPECT_TRUE(client.lastErrorText().contains(QLatin1String("no Pellmere agent is running")));
    EXPECT_EQ(client.postEvent(eventFor(kPMQueryID, QStringLiteral("/media/x"))), kProcNotFound);
    PMUnmountAnswer answer;
    EXPECT_EQ(client.requestUnmount(QStringLiteral("/media/x"), &answer), kProcNotFound);

    PMControlClient offline(QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/pellmere-bus"), QStringLiteral("pellmere-test-offline")));
    EXPECT_EQ(offline.sendEvent(eventFor(kPMQueryID, QStringLiteral("/media/x")), &reply), kConnectionInvalid);
    EXPECT_TRUE(offline.lastErrorText().contains(QLatin1String("not connected")));
    QDBusConnection::disconnectFromBus(QStringLiteral("pellmere-test-offline"));
}

TEST_F(ControlTransportTest, AgentTooSlowIsATimeout)
{
    std::atomic<bool> clientGaveUp = false;
    server->handlers().installHandler(
        kPMEventClass, kPMStartID, { QStringLiteral("handleStartEvent"), [&clientGaveUp](const PMHandlerRequest &) {
                                        // Stands for a modal alert: the reply waits until the client gave up.
                                        testsupport::waitFor([&] { return clientGaveUp.load(); }, 60s);
                                        return PMHandlerResult::none();
                                    } });
    const QDBusConnection connection = clientConnection;
    const auto outcome = offMainThread([connection, &clientGaveUp] {
        PMControlClient client(connection);
        client.setTimeout(200ms);
        AEDescriptor reply;
        const qint32 status = client.sendEvent(eventFor(kPMStartID, QStringLiteral("/media/x")), &reply);
        clientGaveUp = true;
        return std::make_pair(status, client.lastErrorText());
    });
    EXPECT_EQ(outcome.first, kErrAETimeout);
    EXPECT_TRUE(outcome.second.contains(QLatin1String("did not answer"))) << outcome.second.toStdString();
}

TEST_F(ControlTransportTest, UnmountApproval)
{
    const QDBusConnection connection = clientConnection;
    auto ask = [connection](const QString &mountPoint) {
        return offMainThread([connection, mountPoint] {
            PMControlClient client(connection);
            PMUnmountAnswer answer { false, 99, QStringLiteral("unset") };
            const qint32 status = client.requestUnmount(mountPoint, &answer);
            return std::make_pair(status, answer);
        });
    };
    const auto idle = ask(QStringLiteral("/media/alice/Backup"));
    EXPECT_EQ(idle.first, kNoErr);
    EXPECT_TRUE(idle.second.approved);
    EXPECT_EQ(idle.second.status, 0u);

    server->setUnmountApprover([](const QString &mountPoint) {
        if (mountPoint == QLatin1String("/media/alice/Busy"))
            return PMUnmountAnswer { false, kPMUnmountRefusedSyncInProgress, QStringLiteral("Sync In Progress") };
        return PMUnmountAnswer {};
    });
    const auto busy = ask(QStringLiteral("/media/alice/Busy"));
    EXPECT_EQ(busy.first, kNoErr);
    EXPECT_FALSE(busy.second.approved);
    EXPECT_EQ(busy.second.status, 0xF8DA0002u);
    EXPECT_EQ(busy.second.message, QStringLiteral("Sync In Progress"));
    EXPECT_TRUE(ask(QStringLiteral("/media/alice/Backup")).second.approved);
}

TEST_F(ControlTransportTest, ShowLogAndOpenPathsReachTheAgentWithinTheirLimits)
{
    const QDBusConnection connection = clientConnection;
    auto showLog = [connection] {
        return offMainThread([connection] {
            PMControlClient client(connection);
            bool shown = true;
            const qint32 status = client.showLog(&shown);
            return std::make_pair(status, shown);
        });
    };
    auto open = [connection](const QStringList &paths) {
        return offMainThread([connection, paths] {
            PMControlClient client(connection);
            QStringList refused { QStringLiteral("unset") };
            const qint32 status = client.openPaths(paths, &refused);
            return std::make_tuple(status, refused, client.lastErrorText());
        });
    };
    // Without handlers: no window, and no drive for any path.
    EXPECT_EQ(showLog(), std::make_pair(kNoErr, false));
    const auto unhandled = open({ QStringLiteral("/media/alice/Backup/a") });
    EXPECT_EQ(std::get<0>(unhandled), kNoErr);
    EXPECT_EQ(std::get<1>(unhandled), QStringList { QStringLiteral("/media/alice/Backup/a") });

    int shows = 0;
    server->setLogShower([&shows] {
        ++shows;
        return true;
    });
    QList<QStringList> opened;
    server->setPathOpener([&opened](const QStringList &paths) {
        opened.append(paths);
        QStringList refused;
        for (const QString &path : paths)
            if (!path.startsWith(QLatin1String("/media/alice/Backup/")))
                refused.append(path);
        return refused;
    });
    EXPECT_EQ(showLog(), std::make_pair(kNoErr, true));
    EXPECT_EQ(shows, 1);
    const QStringList paths { QStringLiteral("/media/alice/Backup/a b"), QStringLiteral("/home/alice/c") };
    const auto handled = open(paths);
    EXPECT_EQ(std::get<0>(handled), kNoErr);
    EXPECT_EQ(std::get<1>(handled), QStringList { QStringLiteral("/home/alice/c") });
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.first(), paths);

    // Lists the agent must not act on are refused whole, before the agent sees them.
    QStringList tooMany;
    for (qsizetype i = 0; i <= PMControlServer::kMaxOpenPaths; ++i)
        tooMany.append(QStringLiteral("/media/alice/Backup/%1").arg(i));
    const QStringList relative { QStringLiteral("/media/alice/Backup/ok"), QStringLiteral("Backup/x") };
    const QStringList tooLong { QStringLiteral("/") + QString(PMControlServer::kMaxPathLength, QLatin1Char('a')) };
    for (const QStringList &bad : { tooMany, relative, tooLong }) {
        const auto outcome = open(bad);
        EXPECT_NE(std::get<0>(outcome), kNoErr);
        EXPECT_FALSE(std::get<2>(outcome).isEmpty());
    }
    EXPECT_EQ(opened.size(), 1) << "a refused list reached the agent";
}

TEST_F(ControlTransportTest, NotificationsReachSubscribersWithTheirUserInfo)
{
    const QString progressName = QStringLiteral("com.corvane.pellmere.syncInProgress.notification.evt");
    const QString objectName = QStringLiteral("com.corvane.pellmere.notifications");
    PMNotificationSubscriber subscriber(bus.connect());
    QList<std::tuple<QString, QString, QVariantMap>> received;
    QObject::connect(&subscriber, &PMNotificationSubscriber::posted,
        [&](const QString &name, const QString &object, const QVariantMap &userInfo) {
            received.append({ name, object, userInfo });
        });
    ASSERT_TRUE(subscriber.subscribe(progressName));

    const QVariantMap progress {
        { QStringLiteral("syncActivityType"), 2 },
        { QStringLiteral("syncIsBusy"), true },
        { QStringLiteral("syncSize"), qint64(5) << 32 },
        { QStringLiteral("activePath"), QStringLiteral("/media/alice/Backup") },
        { QStringLiteral("evdata"), QByteArray("\0\1\2", 3) },
        { QStringLiteral("nested"),
            QVariantMap { { QStringLiteral("list"), QVariantList { 1, QStringLiteral("two") } } } },
    };
    PMNotificationEmitter emitter(bus.connect());
    // Posted first but under another name: the subscriber must not see it.
    ASSERT_TRUE(emitter.post(QStringLiteral("com.corvane.pellmere.other"), objectName, {}));
    ASSERT_TRUE(emitter.post(progressName, objectName, progress));
    ASSERT_TRUE(testsupport::waitFor([&] { return !received.isEmpty(); }));
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(std::get<0>(received.first()), progressName);
    EXPECT_EQ(std::get<1>(received.first()), objectName);
    const QVariantMap userInfo = std::get<2>(received.first());
    EXPECT_EQ(userInfo.value(QStringLiteral("syncActivityType")).toInt(), 2);
    EXPECT_EQ(userInfo.value(QStringLiteral("syncIsBusy")).toBool(), true);
    EXPECT_EQ(userInfo.value(QStringLiteral("syncSize")).toLongLong(), qint64(5) << 32);
    EXPECT_EQ(userInfo.value(QStringLiteral("activePath")).toString(), QStringLiteral("/media/alice/Backup"));
    EXPECT_EQ(userInfo.value(QStringLiteral("evdata")).typeId(), QMetaType::QByteArray);
    EXPECT_EQ(userInfo.value(QStringLiteral("evdata")).toByteArray(), QByteArray("\0\1\2", 3));
    const QVariantMap nested = userInfo.value(QStringLiteral("nested")).toMap();
    EXPECT_EQ(nested.value(QStringLiteral("list")).toList(), (QVariantList { 1, QStringLiteral("two") }));

    // A value the bus cannot carry stops the whole notification.
    EXPECT_FALSE(
        emitter.post(progressName, objectName, { { QStringLiteral("when"), QDateTime::currentDateTimeUtc() } }));
}

// An installed dbus-daemon that does not give a bus is a fault of the machine or the test, not
// a missing capability: the test that asked for the bus fails, even if it goes on to skip.
TEST(PrivateSessionBusTest, ADaemonThatGivesNoBusFailsTheTest)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QFile daemon(folder.filePath(QStringLiteral("dbus-daemon")));
    ASSERT_TRUE(daemon.open(QIODevice::WriteOnly));
    daemon.write("#!/bin/sh\necho 'cannot listen' >&2\nexit 1\n");
    daemon.close();
    daemon.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(folder.path()) + ':' + path);
    EXPECT_NONFATAL_FAILURE({ testsupport::PrivateSessionBus bus; }, "dbus-daemon printed no address");
    qputenv("PATH", path);
}
