// The manager's agent client against a fake agent on a private session bus: what it asks
// when a drive is selected and what it sends back, how it edits the sync list, which setters
// send and which do not, how it reads replies (a single URL, error numbers, status), and
// what it does without an agent or after the agent went away.
#include "../../protocol/PrivateSessionBus.h"
#include "FakeAgent.h"
#include "ManagerLogCapture.h"

#include "manager/client/LUMAgentPaths.h"
#include "manager/client/LUMAgentRequests.h"
#include "manager/client/LUMCategoryToolTips.h"
#include "manager/client/LUMPellmereInterface.h"
#include "protocol/AEConstants.h"
#include "protocol/PMStatusArchive.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>

#include <gtest/gtest.h>

using namespace protocol;
using testsupport::FakeAgent;

namespace {

const QString kDrive = QStringLiteral("/media/alice/Backup");

AEDescriptor reply(std::initializer_list<std::pair<AEKeyword, AEDescriptor>> parameters)
{
    AEDescriptor answer = AEDescriptor::replyEvent();
    for (const auto &[keyword, value] : parameters)
        answer.setParamDescriptor(value, keyword);
    return answer;
}

AEDescriptor url(const QString &path)
{
    return *AEDescriptor::descriptorWithFilePath(path);
}

AEDescriptor urlList(const QStringList &paths)
{
    AEDescriptor list = AEDescriptor::listDescriptor();
    for (const QString &path : paths)
        list.appendDescriptor(url(path));
    return list;
}

QStringList pathsOf(const AEDescriptor &list)
{
    QStringList paths;
    for (int index = 1; index <= list.numberOfItems(); ++index)
        paths << list.descriptorAtIndex(index)->filePath();
    return paths;
}

AEDescriptor boolean(bool value)
{
    return AEDescriptor::descriptorWithBOOL(value);
}

class InterfaceWithFakeAgentTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!m_bus.isRunning())
            GTEST_SKIP() << "needs a private session bus: " << m_bus.error().toStdString();
        m_agent = std::make_unique<FakeAgent>(m_bus.address());
        ASSERT_TRUE(m_agent->isRunning());
    }

    // The fake agent runs in this test process, so the client must look for this program.
    std::unique_ptr<LUMPellmereInterface> connectedInterface()
    {
        auto interface = std::make_unique<LUMPellmereInterface>(
            LUMAgentPaths::standard(QCoreApplication::applicationFilePath()), m_bus.connect());
        EXPECT_TRUE(interface->pellmereIsRunning()) << interface->launchFailure().toStdString();
        return interface;
    }

    // A drive whose settings are all off, its list the one given, filter 0.
    void answerPlainDrive(const QStringList &syncList)
    {
        m_agent->setReplier([syncList](const AEDescriptor &event) {
            if (event.eventID() == kPMGetSyncListID)
                return reply({ { keyDirectObject, urlList(syncList) } });
            if (event.eventID() == kPMGetSyncDeviceFilterID)
                return reply({ { keyDirectObject, AEDescriptor::descriptorWithInt32(0) } });
            if (fourCharCodeToString(event.eventID()).startsWith(QLatin1Char('G')))
                return reply({ { keyDirectObject, boolean(false) } });
            return reply({});
        });
    }

    testsupport::PrivateSessionBus m_bus;
    std::unique_ptr<FakeAgent> m_agent;
    testsupport::ManagerLogCapture m_log;
};

TEST_F(InterfaceWithFakeAgentTest, SelectingADriveReadsEverySettingAndSendsBackWhatDiffers)
{
    m_agent->setReplier([](const AEDescriptor &event) {
        switch (event.eventID()) {
        case kPMGetSyncListID:
            return reply(
                { { keyDirectObject, urlList({ QStringLiteral("/home/a/Music"), QStringLiteral("/home/a/Docs") }) } });
        case kPMGetParticipateSyncStateID:
            return reply({ { keyDirectObject, boolean(true) } });
        case kPMGetQuietSyncStateID:
            // The state keyword wins over the direct object.
            return reply({ { keyDirectObject, boolean(false) }, { fourCharCode("CST8"), boolean(true) } });
        case kPMGetSyncMoviesStateID:
            return reply({ { keyDirectObject, boolean(false) }, { kKRTSyncMoviesStateProperty, boolean(true) } });
        case kPMGetSyncMusicStateID:
            return reply({ { keyDirectObject, boolean(true) } });
        case kPMGetSyncDeviceFilterID:
            return reply({ { kKRTSyncDeviceFilterProperty, AEDescriptor::descriptorWithInt32(5) } });
        default:
            return reply({ { keyDirectObject, boolean(false) } });
        }
    });
    auto client = connectedInterface();
    ASSERT_TRUE(m_agent->received().isEmpty());
    // Announced after creation, so that a connection made now still hears it.
    int launched = 0;
    QObject::connect(client.get(), &LUMPellmereInterface::pellmereLaunched, [&] { ++launched; });
    EXPECT_TRUE(testsupport::waitFor([&] { return launched == 1; }));

    client->setSyncDestinationPath(kDrive);
    EXPECT_EQ(m_agent->receivedIDs(),
        (QStringList { "GETL", "GPSS", "SPSS", "GQSS", "SQSS", "GCSS", "GSMS", "SSMS", "GSSS", "SSSS", "GSPS", "GSDS",
            "GSDF", "SSDF" }));
    for (const AEDescriptor &event : m_agent->received()) {
        EXPECT_EQ(event.eventClass(), kPMEventClass);
        EXPECT_EQ(event.paramDescriptorForKeyword(keyDirectObject)->filePath(), kDrive);
    }
    EXPECT_EQ(client->syncPaths(), (QStringList { QStringLiteral("/home/a/Music"), QStringLiteral("/home/a/Docs") }));
    EXPECT_TRUE(client->syncParticipateMode());
    EXPECT_TRUE(client->quietMode());
    EXPECT_FALSE(client->continuousSyncMode());
    EXPECT_TRUE(client->syncMoviesMode());
    EXPECT_TRUE(client->syncMusicMode());
    EXPECT_FALSE(client->syncDocumentsMode());
    EXPECT_EQ(client->syncDeviceFilterMode(), 5);
    EXPECT_TRUE(client->enableSyncNow());
    EXPECT_TRUE(client->musicToolTip().contains(QStringLiteral("Android devices")));

    // The same drive again: read again; only the device filter is sent back once more.
    m_agent->clear();
    client->setSyncDestinationPath(kDrive);
    EXPECT_EQ(m_agent->receivedIDs(),
        (QStringList { "GETL", "GPSS", "GQSS", "GCSS", "GSMS", "GSSS", "GSPS", "GSDS", "GSDF", "SSDF" }));
}

TEST_F(InterfaceWithFakeAgentTest, ListEditsSendTheWholeListButAReplacementSendsNothing)
{
    // A list of one may come back as a single URL instead of a list.
    m_agent->setReplier([](const AEDescriptor &event) {
        if (event.eventID() == kPMGetSyncListID)
            return reply({ { keyDirectObject, url(QStringLiteral("/home/a/Music")) } });
        return reply({ { keyDirectObject, boolean(false) } });
    });
    auto client = connectedInterface();
    client->setSyncDestinationPath(kDrive);
    EXPECT_EQ(client->syncPaths(), QStringList { QStringLiteral("/home/a/Music") });

    m_agent->clear();
    client->setSyncPaths({ QStringLiteral("/home/a/Music"), QStringLiteral("/home/a/Films") });
    EXPECT_TRUE(m_agent->received().isEmpty()) << m_agent->receivedIDs().join(QLatin1Char(' ')).toStdString();

    client->insertSyncPath(1, QStringLiteral("/home/a/My Books"));
    client->removeSyncPathAt(0);
    ASSERT_EQ(m_agent->receivedIDs(), (QStringList { "SETL", "SETL" }));
    const AEDescriptor inserted = *m_agent->received().at(0).paramDescriptorForKeyword(kPMSyncItemsProperty);
    EXPECT_EQ(pathsOf(inserted),
        (QStringList {
            QStringLiteral("/home/a/Music"), QStringLiteral("/home/a/My Books"), QStringLiteral("/home/a/Films") }));
    const AEDescriptor removed = *m_agent->received().at(1).paramDescriptorForKeyword(kPMSyncItemsProperty);
    EXPECT_EQ(pathsOf(removed), (QStringList { QStringLiteral("/home/a/My Books"), QStringLiteral("/home/a/Films") }));
    EXPECT_EQ(m_agent->received().at(1).paramDescriptorForKeyword(keyDirectObject)->filePath(), kDrive);

    // Neither a list nor a URL: an empty list and a log line naming the type.
    m_agent->setReplier([](const AEDescriptor &) {
        return reply({ { keyDirectObject, AEDescriptor::descriptorWithInt32(7) } });
    });
    client->setSyncDestinationPath(kDrive);
    EXPECT_TRUE(client->syncPaths().isEmpty());
    EXPECT_TRUE(m_log.contains(
        QStringLiteral("D - LUMPellmereInterface(syncSet) - syncSet: url=file:///media/alice/Backup unexpected reply "
                       "type: long")));
}

TEST_F(InterfaceWithFakeAgentTest, SwitchesSendOnlyChangesButTheDeviceFilterAlwaysSends)
{
    answerPlainDrive({ QStringLiteral("/home/a/Music") });
    auto client = connectedInterface();
    client->setSyncDestinationPath(kDrive);
    int toolTipChanges = 0;
    QObject::connect(client.get(), &LUMPellmereInterface::toolTipsChanged, [&] { ++toolTipChanges; });
    int enableChanges = 0;
    QObject::connect(client.get(), &LUMPellmereInterface::enableSyncNowChanged, [&] { ++enableChanges; });

    m_agent->clear();
    client->setSyncMusicMode(false);
    client->setQuietMode(false);
    EXPECT_TRUE(m_agent->received().isEmpty());

    client->setSyncMusicMode(true);
    client->setSyncDeviceFilterMode(0);
    ASSERT_EQ(m_agent->receivedIDs(), (QStringList { "SSSS", "SSDF" }));
    EXPECT_EQ(
        m_agent->received().at(0).paramDescriptorForKeyword(kKRTSyncMusicStateProperty)->descriptorType(), typeTrue);
    EXPECT_EQ(m_agent->received().at(1).paramDescriptorForKeyword(kKRTSyncDeviceFilterProperty)->int32Value(), 0);
    EXPECT_EQ(toolTipChanges, 1);
    EXPECT_EQ(enableChanges, 1);
    // Music on, a list, but this user does not take part.
    EXPECT_FALSE(client->enableSyncNow());
}

TEST_F(InterfaceWithFakeAgentTest, RepliesAreJudgedByTheirErrorNumber)
{
    qint32 startError = 0;
    std::optional<QString> startText;
    m_agent->setReplier([&startError, &startText](const AEDescriptor &event) {
        if (event.eventID() == kPMStartID) {
            AEDescriptor answer = reply({ { keyErrorNumber, AEDescriptor::descriptorWithInt32(startError) } });
            if (startText)
                answer.setParamDescriptor(AEDescriptor::descriptorWithString(*startText), keyErrorString);
            return answer;
        }
        if (event.eventID() == kPMStatusID) {
            const QVariantMap status { { QStringLiteral("user-1"),
                QVariantMap { { QStringLiteral("computerName"), QStringLiteral("desk") } } } };
            return reply({ { keyStatus, *PMStatusArchive::statusDescriptor(status) } });
        }
        return reply({});
    });
    auto client = connectedInterface();
    client->setSyncDestinationPath(kDrive);

    // 'errn' present and 0: success.
    EXPECT_TRUE(client->invokeSyncNow());
    startError = -1;
    EXPECT_FALSE(client->invokeSyncNow());
    EXPECT_TRUE(m_log.lines().contains(
        QStringLiteral("D - LUMPellmereInterface(invokeSyncNow) - invokeSyncNow: script error -1")));
    startError = -50;
    startText = QStringLiteral("unable to retrieve main URL");
    EXPECT_FALSE(client->invokeSyncNow());
    EXPECT_TRUE(m_log.lines().contains(QStringLiteral(
        "D - LUMPellmereInterface(invokeSyncNow) - invokeSyncNow: script error -50 - unable to retrieve main URL")));

    const std::optional<QVariantMap> status = client->driveSyncStatus();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->value(QStringLiteral("user-1")).toMap().value(QStringLiteral("computerName")).toString(),
        QStringLiteral("desk"));
    // Nothing to report: no 'STAT' in the reply.
    EXPECT_TRUE(client->cancelSyncNow());
}

TEST_F(InterfaceWithFakeAgentTest, AnAgentThatWentAwayMakesRequestsFailWithoutReconnecting)
{
    answerPlainDrive({ QStringLiteral("/home/a/Music") });
    auto client = connectedInterface();
    client->setSyncDestinationPath(kDrive);
    m_agent->vanish();
    // Another agent taking the name is not the one the client found.
    FakeAgent second(m_bus.address());
    ASSERT_TRUE(second.isRunning());

    EXPECT_FALSE(client->invokeSyncNow());
    EXPECT_TRUE(m_log.contains(QStringLiteral("invokeSyncNow: apple event error -600")))
        << m_log.lines().join('\n').toStdString();
    EXPECT_TRUE(second.received().isEmpty());
}

TEST_F(InterfaceWithFakeAgentTest, AnAgentThatDoesNotAnswerInTimeIsALoggedSendFailure)
{
    // Shared with the fake's thread, which may still be looking at it after this test ended.
    const auto release = std::make_shared<std::atomic<bool>>(false);
    m_agent->setReplier([release](const AEDescriptor &) {
        // Stuck until the client has given up.
        while (!*release)
            QThread::msleep(1);
        return reply({});
    });
    LUMAgentRequests requests(m_bus.connect());
    requests.setAgentAddress(m_agent->uniqueName());
    requests.setTimeout(std::chrono::milliseconds(200));
    const bool started = requests.invokeSyncNow(kDrive);
    *release = true;
    EXPECT_FALSE(started);
    EXPECT_TRUE(m_log.contains(QStringLiteral("sendEventToPM: AESend failed with code: -1712")));
    EXPECT_TRUE(m_log.lines().contains(
        QStringLiteral("D - LUMPellmereInterface(invokeSyncNow) - invokeSyncNow: apple event error -1712")));
}

TEST_F(InterfaceWithFakeAgentTest, WithoutAnAgentNothingIsSentAndCancelOnlyChangesTheLocalState)
{
    LUMPellmereInterface client(
        LUMAgentPaths::standard(testsupport::testHome() + QStringLiteral("/no/pellmere")), m_bus.connect());
    EXPECT_FALSE(client.pellmereIsRunning());
    int launched = 0;
    QObject::connect(&client, &LUMPellmereInterface::pellmereLaunched, [&] { ++launched; });
    QCoreApplication::processEvents();
    EXPECT_EQ(launched, 0);
    EXPECT_TRUE(m_log.contains(QStringLiteral("launchPellmere: ")));

    client.setSyncDestinationPath(kDrive);
    EXPECT_TRUE(
        m_log.contains(QStringLiteral("D - LUMPellmereInterface(syncSet) - syncSet: apple event returned null reply")));
    client.setContinuousSyncMode(true);
    EXPECT_FALSE(client.cancelSyncNow());
    EXPECT_TRUE(client.syncCancelled());
    EXPECT_FALSE(client.continuousSyncMode());
    EXPECT_FALSE(client.invokeSyncNow());
    EXPECT_FALSE(client.driveSyncStatus());
    // The fake agent owns the name all along, but this client never found an agent.
    EXPECT_TRUE(m_agent->received().isEmpty()) << m_agent->receivedIDs().join(QLatin1Char(' ')).toStdString();
}

TEST(CategoryToolTipsTest, EachDeviceFilterGetsItsOwnTextAndTypes)
{
    EXPECT_EQ(LUMCategoryToolTips::music(8).toStdString(),
        "Audio-only files using Windows RT \ncompatible codecs with the types:\n.aac, .ac3, .adt, .adts,\n.ec3, .m4a, "
        ".mp3, .wma");
    // Kindle Fire generations share the text but not the types.
    EXPECT_NE(LUMCategoryToolTips::music(6), LUMCategoryToolTips::music(7));
    EXPECT_EQ(LUMCategoryToolTips::music(6).section(QLatin1Char('\n'), 0, 1),
        LUMCategoryToolTips::music(7).section(QLatin1Char('\n'), 0, 1));
    EXPECT_EQ(LUMCategoryToolTips::movies(3), LUMCategoryToolTips::movies(1));
    EXPECT_TRUE(LUMCategoryToolTips::movies(2).endsWith(QStringLiteral("Some files will not play on all devices.")));
    EXPECT_EQ(LUMCategoryToolTips::movies(4).toStdString(),
        "Video files with the types: .m4v, .mp4, .mov \nusing compatible encoding up to 480p 30fps");
    EXPECT_TRUE(LUMCategoryToolTips::pictures(5).endsWith(QStringLiteral(".webp")));
    EXPECT_FALSE(LUMCategoryToolTips::pictures(6).contains(QStringLiteral(".tiff")));
    EXPECT_TRUE(LUMCategoryToolTips::pictures(0).contains(QStringLiteral(".tiff")));
    // No filter lists e-books among the documents; the Apple filters do not.
    EXPECT_TRUE(LUMCategoryToolTips::documents(0).contains(QStringLiteral(".azw")));
    EXPECT_FALSE(LUMCategoryToolTips::documents(2).contains(QStringLiteral(".azw")));
    EXPECT_EQ(LUMCategoryToolTips::documents(42), LUMCategoryToolTips::documents(1));
    EXPECT_EQ(LUMCategoryToolTips::music(-1), LUMCategoryToolTips::music(0));
}

} // namespace
