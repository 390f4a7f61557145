// Alerts as desktop notifications, against a notification server written here that owns the
// freedesktop notification name on a private session bus: what is posted for each button set,
// the answers of the actions and of closing, the log button keeping the question open (on a
// server that keeps notifications after an action and on one that closes them), concurrent
// alerts answered out of order, a refusing or vanishing server, the fallback without a server,
// and destruction with questions still open.
#include "protocol/PrivateSessionBus.h"

#include "platform/DesktopNotificationAlertPresenter.h"
#include "platform/HeadlessAlertPresenter.h"
#include "support/TestEnvironment.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QSet>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <optional>

using platform::AlertAnswer;
using platform::AlertRequest;
using platform::DesktopNotificationAlertPresenter;

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

struct Posted {
    QString appName;
    uint replacesId = 0;
    QString summary;
    QString body;
    QStringList actions;
    QVariantMap hints;
    int expireTimeout = 0;
    uint id = 0;
};

class FakeNotificationServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QList<Posted> posted;
    QList<uint> closeRequests;
    QSet<uint> shown;
    bool refuse = false;
    // Like servers that ignore the "resident" hint: any action takes the notification away.
    bool closeAfterAction = false;

    void invoke(uint id, const QString &action)
    {
        Q_EMIT ActionInvoked(id, action);
        if (closeAfterAction && shown.remove(id))
            Q_EMIT NotificationClosed(id, 2);
    }
    void closeByUser(uint id)
    {
        shown.remove(id);
        Q_EMIT NotificationClosed(id, 2);
    }

public Q_SLOTS:
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon, const QString &summary,
        const QString &body, const QStringList &actions, const QVariantMap &hints, int expireTimeout)
    {
        Q_UNUSED(appIcon)
        if (refuse) {
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("no notifications now"));
            return 0;
        }
        const uint id = shown.contains(replacesId) ? replacesId : m_nextId++;
        shown.insert(id);
        posted.append({ appName, replacesId, summary, body, actions, hints, expireTimeout, id });
        return id;
    }
    void CloseNotification(uint id)
    {
        closeRequests.append(id);
        if (shown.remove(id))
            Q_EMIT NotificationClosed(id, 3);
    }
    QStringList GetCapabilities() { return { QStringLiteral("actions"), QStringLiteral("body") }; }
    QString GetServerInformation(QString &vendor, QString &version, QString &specVersion)
    {
        vendor = QStringLiteral("Pellmere tests");
        version = QStringLiteral("1");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("fake");
    }

Q_SIGNALS:
    void ActionInvoked(uint id, const QString &actionKey);
    void NotificationClosed(uint id, uint reason);

private:
    uint m_nextId = 1;
};

AlertRequest request(const QString &title, bool cancel, bool log, AlertAnswer safe = AlertAnswer::Ok)
{
    return { title, QStringLiteral("Message of ") + title, cancel, log, safe };
}

class DesktopNotificationAlertPresenterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bus.isRunning()) << bus.error().toStdString();
        serverConnection = bus.connect();
        ASSERT_TRUE(serverConnection.isConnected());
    }

    void startServer()
    {
        ASSERT_TRUE(serverConnection.registerObject(
            kPath, &server, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        ASSERT_TRUE(serverConnection.registerService(kService));
        presenter = std::make_unique<DesktopNotificationAlertPresenter>(bus.connect());
    }

    // Presents and answers the index of the request's answer slot.
    int ask(const AlertRequest &alert)
    {
        const int index = static_cast<int>(answers.size());
        answers.emplace_back();
        presenter->present(
            alert,
            [this, index](AlertAnswer answer) {
                ++doneCalls[index];
                answers[index] = answer;
            },
            [this] { ++logShown; });
        return index;
    }

    bool waitForPosted(int count)
    {
        return testsupport::waitFor([&] { return server.posted.size() >= count; });
    }
    bool waitForAnswer(int index)
    {
        return testsupport::waitFor([&] { return answers[index].has_value(); });
    }

    testsupport::PrivateSessionBus bus;
    QDBusConnection serverConnection { QString() };
    FakeNotificationServer server;
    // Declared before the presenter: its destruction still answers into them.
    std::vector<std::optional<AlertAnswer>> answers;
    std::map<int, int> doneCalls;
    int logShown = 0;
    std::unique_ptr<DesktopNotificationAlertPresenter> presenter;
};

TEST_F(DesktopNotificationAlertPresenterTest, PostsTitleMessageButtonsAndUrgency)
{
    startServer();
    ask(request(QStringLiteral("Plain"), false, false));
    ask(request(QStringLiteral("With cancel"), true, false));
    ask(request(QStringLiteral("With everything"), true, true));
    EXPECT_FALSE(answers[0].has_value()) << "answered before the user could";
    ASSERT_TRUE(waitForPosted(3));

    const Posted &plain = server.posted[0];
    EXPECT_EQ(plain.appName, QStringLiteral("Pellmere"));
    EXPECT_EQ(plain.replacesId, 0u);
    EXPECT_EQ(plain.summary, QStringLiteral("Plain"));
    EXPECT_EQ(plain.body, QStringLiteral("Message of Plain"));
    EXPECT_EQ(plain.actions, QStringList({ "ok", "OK" }));
    EXPECT_EQ(plain.expireTimeout, -1);
    EXPECT_EQ(plain.hints.value("urgency").userType(), QMetaType::UChar);
    EXPECT_EQ(plain.hints.value("urgency").toInt(), 1);
    EXPECT_TRUE(plain.hints.value("resident").toBool());

    EXPECT_EQ(server.posted[1].actions, QStringList({ "ok", "OK", "cancel", "Cancel" }));
    EXPECT_EQ(server.posted[1].hints.value("urgency").toInt(), 2);
    EXPECT_EQ(server.posted[2].actions, QStringList({ "ok", "OK", "cancel", "Cancel", "log", "Show Log" }));
    EXPECT_EQ(server.posted[2].hints.value("urgency").toInt(), 2);
}

TEST_F(DesktopNotificationAlertPresenterTest, ActionsGiveTheirAnswersAndWithdrawTheNotification)
{
    startServer();
    ask(request(QStringLiteral("ok"), true, false, AlertAnswer::Cancel));
    ask(request(QStringLiteral("cancel"), true, false, AlertAnswer::Ok));
    ask(request(QStringLiteral("default"), true, false, AlertAnswer::Cancel));
    ASSERT_TRUE(waitForPosted(3));

    server.invoke(server.posted[0].id, QStringLiteral("ok"));
    server.invoke(server.posted[1].id, QStringLiteral("cancel"));
    server.invoke(server.posted[2].id, QStringLiteral("default"));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(waitForAnswer(i)) << i;
    EXPECT_EQ(*answers[0], AlertAnswer::Ok);
    EXPECT_EQ(*answers[1], AlertAnswer::Cancel);
    EXPECT_EQ(*answers[2], AlertAnswer::Ok);
    ASSERT_TRUE(testsupport::waitFor([&] { return server.closeRequests.size() == 3; }));
    EXPECT_TRUE(server.shown.isEmpty());

    // The closes that follow our own withdrawal, and stray actions, answer nothing twice.
    server.invoke(server.posted[1].id, QStringLiteral("ok"));
    ask(request(QStringLiteral("later"), false, false));
    ASSERT_TRUE(waitForPosted(4));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(doneCalls[i], 1) << i;
}

TEST_F(DesktopNotificationAlertPresenterTest, ClosingWithoutAnActionGivesTheSafeAnswer)
{
    startServer();
    ask(request(QStringLiteral("Risky"), true, false, AlertAnswer::Cancel));
    ask(request(QStringLiteral("Harmless"), true, false, AlertAnswer::Ok));
    ask(request(QStringLiteral("Only OK"), false, false, AlertAnswer::Cancel));
    ASSERT_TRUE(waitForPosted(3));
    server.invoke(server.posted[0].id, QStringLiteral("no-such-action"));
    for (int i = 0; i < 3; ++i)
        server.closeByUser(server.posted[i].id);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(waitForAnswer(i)) << i;
    EXPECT_EQ(*answers[0], AlertAnswer::Cancel);
    EXPECT_EQ(*answers[1], AlertAnswer::Ok);
    EXPECT_EQ(*answers[2], AlertAnswer::Ok) << "an alert without Cancel can only be answered OK";
}

TEST_F(DesktopNotificationAlertPresenterTest, LogButtonShowsTheLogAndKeepsTheQuestion)
{
    for (const bool closeAfterAction : { false, true }) {
        SCOPED_TRACE(closeAfterAction ? "server closes after an action" : "server keeps resident notifications");
        if (!presenter)
            startServer();
        server.closeAfterAction = closeAfterAction;
        const int before = static_cast<int>(server.posted.size());
        const int logsBefore = logShown;
        const int index = ask(request(QStringLiteral("Copy failed"), true, true, AlertAnswer::Cancel));
        ASSERT_TRUE(waitForPosted(before + 1));
        const uint first = server.posted[before].id;

        server.invoke(first, QStringLiteral("log"));
        ASSERT_TRUE(waitForPosted(before + 2));
        EXPECT_EQ(logShown, logsBefore + 1);
        const Posted &again = server.posted[before + 1];
        EXPECT_EQ(again.replacesId, first);
        EXPECT_EQ(again.summary, QStringLiteral("Copy failed"));
        EXPECT_EQ(again.actions.size(), 6);
        EXPECT_EQ(again.id == first, !closeAfterAction) << "replaced in place only while still shown";
        EXPECT_FALSE(answers[index].has_value()) << "the log button must not answer the question";

        server.invoke(again.id, QStringLiteral("ok"));
        ASSERT_TRUE(waitForAnswer(index));
        EXPECT_EQ(*answers[index], AlertAnswer::Ok);
        EXPECT_EQ(doneCalls[index], 1);
    }
}

TEST_F(DesktopNotificationAlertPresenterTest, ConcurrentAlertsAnsweredOutOfOrder)
{
    startServer();
    ask(request(QStringLiteral("Drive A"), true, true, AlertAnswer::Cancel));
    ask(request(QStringLiteral("Drive B"), true, false, AlertAnswer::Cancel));
    ask(request(QStringLiteral("Drive C"), true, false, AlertAnswer::Ok));
    ASSERT_TRUE(waitForPosted(3));
    server.invoke(server.posted[2].id, QStringLiteral("cancel"));
    ASSERT_TRUE(waitForAnswer(2));
    EXPECT_FALSE(answers[0].has_value());
    EXPECT_FALSE(answers[1].has_value());
    server.invoke(server.posted[1].id, QStringLiteral("ok"));
    server.invoke(server.posted[0].id, QStringLiteral("cancel"));
    ASSERT_TRUE(waitForAnswer(0));
    ASSERT_TRUE(waitForAnswer(1));
    EXPECT_EQ(*answers[0], AlertAnswer::Cancel);
    EXPECT_EQ(*answers[1], AlertAnswer::Ok);
    EXPECT_EQ(*answers[2], AlertAnswer::Cancel);
}

TEST_F(DesktopNotificationAlertPresenterTest, TheSameQuestionIsPostedOnceAndAnsweredForEveryAsker)
{
    startServer();
    const int first = ask(request(QStringLiteral("Drive A"), true, false, AlertAnswer::Ok));
    const int second = ask(request(QStringLiteral("Drive A"), true, false, AlertAnswer::Ok));
    const int other = ask(request(QStringLiteral("Drive B"), true, false, AlertAnswer::Ok));
    ASSERT_TRUE(waitForPosted(2));
    server.invoke(server.posted[0].id, QStringLiteral("cancel"));
    ASSERT_TRUE(waitForAnswer(first));
    ASSERT_TRUE(waitForAnswer(second));
    EXPECT_EQ(*answers[first], AlertAnswer::Cancel);
    EXPECT_EQ(*answers[second], AlertAnswer::Cancel);
    EXPECT_EQ(doneCalls[second], 1);
    EXPECT_FALSE(answers[other].has_value());
    EXPECT_EQ(server.posted.size(), 2) << "the same question was posted twice";
    // Answered, the question may be asked again.
    ask(request(QStringLiteral("Drive A"), true, false, AlertAnswer::Ok));
    ASSERT_TRUE(waitForPosted(3));
}

TEST_F(DesktopNotificationAlertPresenterTest, RefusingOrVanishingServerGivesTheSafeAnswer)
{
    startServer();
    ask(request(QStringLiteral("Shown"), true, false, AlertAnswer::Cancel));
    ASSERT_TRUE(waitForPosted(1));
    server.refuse = true;
    ask(request(QStringLiteral("Refused"), true, false, AlertAnswer::Cancel));
    ASSERT_TRUE(waitForAnswer(1));
    EXPECT_EQ(*answers[1], AlertAnswer::Cancel);
    EXPECT_FALSE(answers[0].has_value());

    ASSERT_TRUE(serverConnection.unregisterService(kService));
    ASSERT_TRUE(waitForAnswer(0));
    EXPECT_EQ(*answers[0], AlertAnswer::Cancel);
    EXPECT_EQ(doneCalls[0], 1);
}

TEST_F(DesktopNotificationAlertPresenterTest, DestructionAnswersOpenQuestions)
{
    startServer();
    ask(request(QStringLiteral("Delete?"), true, false, AlertAnswer::Cancel));
    ask(request(QStringLiteral("Note"), false, true, AlertAnswer::Cancel));
    // Answering a third one proves the first two are shown: the server's replies come in order.
    ask(request(QStringLiteral("Marker"), false, false));
    ASSERT_TRUE(waitForPosted(3));
    server.invoke(server.posted[2].id, QStringLiteral("ok"));
    ASSERT_TRUE(waitForAnswer(2));
    // And one the server has not even seen yet.
    ask(request(QStringLiteral("In flight"), true, false, AlertAnswer::Cancel));
    presenter.reset();
    for (int i : { 0, 1, 3 })
        ASSERT_TRUE(answers[i].has_value()) << i;
    EXPECT_EQ(*answers[0], AlertAnswer::Cancel);
    EXPECT_EQ(*answers[1], AlertAnswer::Ok);
    EXPECT_EQ(*answers[3], AlertAnswer::Cancel);
    ASSERT_TRUE(waitForPosted(4));
    EXPECT_TRUE(testsupport::waitFor([&] { return server.shown.isEmpty(); })) << "notifications left behind";
}

TEST_F(DesktopNotificationAlertPresenterTest, CreateBestFallsBackToHeadlessWithoutAServer)
{
    QDBusConnection client = bus.connect();
    EXPECT_FALSE(DesktopNotificationAlertPresenter::isAvailable(client));
    auto best = DesktopNotificationAlertPresenter::createBest(client);
    EXPECT_NE(dynamic_cast<platform::HeadlessAlertPresenter *>(best.get()), nullptr);

    startServer();
    EXPECT_TRUE(DesktopNotificationAlertPresenter::isAvailable(client));
    best = DesktopNotificationAlertPresenter::createBest(client);
    EXPECT_NE(dynamic_cast<DesktopNotificationAlertPresenter *>(best.get()), nullptr);

    EXPECT_FALSE(DesktopNotificationAlertPresenter::isAvailable(QDBusConnection(QStringLiteral("not-connected"))));
}

} // namespace

#include "test_DesktopNotificationAlertPresenter.moc"
