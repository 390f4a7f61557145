// The update library through its C interface: properties and their files, the check against a
// local HTTPS service (a self-signed certificate trusted only by this process) and a plain-HTTP
// one on the loopback address, and the download with its notifications, unpacking and
// hand-over.
#include "CorvaneAutoUpdate.h"
#include "TestArchive.h"
#include "UpdateTestServer.h"
#include "platform/PropertyList.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

QString configFolder(const QString &module)
{
    return testsupport::testHome() + QStringLiteral("/.config/corvane/AutoUpdate/") + module;
}

QString desktop()
{
    return testsupport::testHome() + QStringLiteral("/Desktop");
}

QVariant parsed(const char *xml)
{
    if (!xml)
        return {};
    const std::optional<QVariant> value = platform::PropertyList::parse(QByteArray(xml));
    return value ? *value : QVariant();
}

// Takes ownership of a string the library returned.
QVariant take(char *xml)
{
    const QVariant value = parsed(xml);
    AUFree(xml);
    return value;
}

QByteArray answerXml(const QVariantList &entries)
{
    return platform::PropertyList::serialize(
        QVariantMap { { QStringLiteral("Upgrade"), entries } }, platform::PlistFormat::Xml);
}

QVariantMap upgrade(
    const QString &product, const QString &oldVersion, const QString &newVersion, const QString &url = {})
{
    return { { QStringLiteral("OS"), QStringLiteral("LINUX") }, { QStringLiteral("product"), product },
        { QStringLiteral("old-Version"), oldVersion }, { QStringLiteral("new-Version"), newVersion },
        { QStringLiteral("SWURL"), url }, { QStringLiteral("UpdateType"), QStringLiteral("Download") } };
}

QByteArray xmlOf(const QVariant &value)
{
    return platform::PropertyList::serialize(value, platform::PlistFormat::Xml);
}

struct Notice {
    int type;
    QVariantMap info;
    QString path;
    int expected;
    int received;
    int error;
};

// One updater with the notifications it received.
class Client {
public:
    Client(const QString &module, const QString &version, const QUrl &service)
    {
        AUCallbacks callbacks { 0, &Client::onNotice };
        char *info = nullptr;
        m_created = AUUpdaterCreate(module.toUtf8().constData(), version.toUtf8().constData(),
            service.toString().toUtf8().constData(), &m_updater, &info, this, &callbacks);
        m_pending = take(info).toMap();
    }
    ~Client()
    {
        if (m_updater)
            AUUpdaterRelease(m_updater);
    }

    int created() const { return m_created; }
    AUUpdaterRef updater() const { return m_updater; }
    QVariantMap pending() const { return m_pending; }
    QList<Notice> notices;
    std::function<void(const Notice &)> onEach;

    bool seen(int type) const
    {
        return std::any_of(notices.begin(), notices.end(), [type](const Notice &n) { return n.type == type; });
    }
    bool waitFor(int type)
    {
        return testsupport::waitFor([&] { return seen(type); }, std::chrono::seconds(60));
    }
    QList<int> types() const
    {
        QList<int> list;
        for (const Notice &n : notices) {
            if (list.isEmpty() || list.last() != n.type)
                list.append(n.type);
        }
        return list;
    }

private:
    static void onNotice(AUUpdaterRef, int type, const char *info, const char *path, int32_t expected, int32_t received,
        int32_t error, void *context)
    {
        auto *self = static_cast<Client *>(context);
        self->notices.append(
            { type, parsed(info).toMap(), path ? QFile::decodeName(path) : QString(), expected, received, error });
        if (self->onEach)
            self->onEach(self->notices.last());
    }

    AUUpdaterRef m_updater = nullptr;
    int m_created = -1;
    QVariantMap m_pending;
};

class AutoUpdateLibrary : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(AUInit(nullptr), 0); }

    void SetUp() override
    {
        m_https = std::make_unique<UpdateTestServer>(UpdateTestServer::Tls);
        if (!m_https->isReady())
            GTEST_SKIP() << "no local HTTPS server: " << m_https->error().toStdString();
        m_http = std::make_unique<UpdateTestServer>(UpdateTestServer::Plain);
        ASSERT_TRUE(m_http->isReady());
        QDir(desktop()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(desktop()));
    }

    QStringList desktopEntries() const
    {
        return QDir(desktop()).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }

    // A client whose schedule never checks by itself, so only the test's checks reach the server.
    std::unique_ptr<Client> quietClient(const QString &module, const QString &version, const QUrl &service)
    {
        testsupport::writeFile(configFolder(module) + QStringLiteral("/UpdaterProps.plist"),
            xmlOf(QVariantMap { { QStringLiteral("UpdateCheckInterval"), 0 } }));
        return std::make_unique<Client>(module, version, service);
    }

    std::unique_ptr<UpdateTestServer> m_https;
    std::unique_ptr<UpdateTestServer> m_http;
};

} // namespace

TEST_F(AutoUpdateLibrary, PropertiesStartFromTheDefaultsAndPersist)
{
    const QString module = QStringLiteral("PropsModule");
    {
        Client client(module, QStringLiteral("1.0"), m_https->url("/none"));
        ASSERT_EQ(client.created(), 0);
        const QVariantMap props = take(AUCreatePropertiesDictionary(client.updater())).toMap();
        EXPECT_EQ(props.value(QStringLiteral("ModuleName")), module);
        EXPECT_EQ(props.value(QStringLiteral("ModuleVersion")), QStringLiteral("1.0"));
        EXPECT_EQ(props.value(QStringLiteral("ModuleXMLURL")), m_https->url("/none").toString());
        // The installed defaults: weekly.
        EXPECT_EQ(props.value(QStringLiteral("UpdateCheckInterval")).toLongLong(), 3);
        EXPECT_FALSE(props.contains(QStringLiteral("NextCheckTimestamp")));

        AUSetProperty(client.updater(), kAUUpdateCheckInterval, xmlOf(qint64(2)).constData());
        AUSetProperty(client.updater(), kAUModuleVersion, xmlOf(QStringLiteral("9.9")).constData());
        EXPECT_EQ(take(AUQueryProperty(client.updater(), kAUUpdateCheckInterval)).toLongLong(), 2);
        EXPECT_EQ(take(AUQueryProperty(client.updater(), kAUModuleVersion)).toString(), QStringLiteral("1.0"));
        EXPECT_FALSE(take(AUQueryProperty(client.updater(), "Unknown")).isValid());
        const auto file
            = platform::PropertyList::readFile(configFolder(module) + QStringLiteral("/UpdaterProps.plist"));
        ASSERT_TRUE(file.has_value());
        EXPECT_EQ(file->toMap().value(QStringLiteral("UpdateCheckInterval")).toLongLong(), 2);
    }
    Client again(module, QStringLiteral("1.0"), m_https->url("/none"));
    EXPECT_EQ(take(AUQueryProperty(again.updater(), kAUUpdateCheckInterval)).toLongLong(), 2);

    // A damaged file falls back to the defaults.
    testsupport::writeFile(configFolder(module) + QStringLiteral("/UpdaterProps.plist"), "<plist><dict><key>");
    Client damaged(module, QStringLiteral("1.0"), m_https->url("/none"));
    EXPECT_EQ(take(AUQueryProperty(damaged.updater(), kAUUpdateCheckInterval)).toLongLong(), 3);
}

TEST_F(AutoUpdateLibrary, RefusesServicesReachedWithoutTlsAndUnsafeModuleNames)
{
    Client remote(
        QStringLiteral("Remote"), QStringLiteral("1.0"), QUrl(QStringLiteral("http://updates.example.com/check")));
    EXPECT_EQ(remote.created(), -1);
    EXPECT_EQ(remote.updater(), nullptr);
    Client escaping(QStringLiteral(".."), QStringLiteral("1.0"), m_https->url("/check"));
    EXPECT_EQ(escaping.created(), -1);
    Client local(QStringLiteral("Local"), QStringLiteral("1.0"), m_http->url("/check"));
    EXPECT_EQ(local.created(), 0);
}

TEST_F(AutoUpdateLibrary, CheckPostsToTheServiceAndKeepsItsAnswer)
{
    const QString module = QStringLiteral("Pellmere");
    m_https->route("/check",
        { 200,
            answerXml({ upgrade(QStringLiteral("Other"), QStringLiteral("1.0"), QStringLiteral("5.0")),
                upgrade(QStringLiteral("pellmere"), QStringLiteral("1.0"), QStringLiteral("1.3")) }) });
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    {
        auto client = quietClient(module, QStringLiteral("1.2.0"), m_https->url("/check"));
        ASSERT_EQ(client->created(), 0);
        EXPECT_TRUE(client->pending().isEmpty());
        char *info = nullptr;
        ASSERT_EQ(AUCheckForUpdateSync(client->updater(), &info), 0);
        EXPECT_EQ(take(info).toMap().value(QStringLiteral("new-Version")), QStringLiteral("1.3"));

        ASSERT_EQ(m_https->requests().size(), 1);
        const UpdateTestServer::Request &request = m_https->requests().first();
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.headers.value("user-agent"), "CorvaneAutoUpdate");
        EXPECT_EQ(request.headers.value("accept"), "text/xml");
        EXPECT_TRUE(request.body.isEmpty());

        EXPECT_TRUE(QFileInfo::exists(configFolder(module) + QStringLiteral("/Updates.plist")));
        EXPECT_GE(take(AUQueryProperty(client->updater(), kAULastCheckTimestamp)).toDateTime(), before);
    }
    // The next start offers the saved upgrade without asking; a newer installed version
    // does not get it.
    auto next = quietClient(module, QStringLiteral("1.2.0"), m_https->url("/check"));
    EXPECT_EQ(next->pending().value(QStringLiteral("new-Version")), QStringLiteral("1.3"));
    auto current = quietClient(module, QStringLiteral("1.3"), m_https->url("/check"));
    EXPECT_TRUE(current->pending().isEmpty());
    EXPECT_EQ(m_https->requests().size(), 1);
}

TEST_F(AutoUpdateLibrary, RedirectsToAcceptedAddressesAreFollowed)
{
    const QString module = QStringLiteral("RedirectModule");
    UpdateTestServer::Response moved(307);
    moved.location = m_http->url("/moved").toString().toUtf8();
    m_https->route("/check", moved);
    m_http->route("/moved", { 200, answerXml({ upgrade(module, QStringLiteral("1.0"), QStringLiteral("1.1")) }) });
    auto client = quietClient(module, QStringLiteral("1.0"), m_https->url("/check"));
    char *info = nullptr;
    ASSERT_EQ(AUCheckForUpdateSync(client->updater(), &info), 0);
    EXPECT_EQ(take(info).toMap().value(QStringLiteral("new-Version")), QStringLiteral("1.1"));
    ASSERT_EQ(m_http->requests().size(), 1);
    EXPECT_EQ(m_http->requests().first().method, "POST");
}

TEST_F(AutoUpdateLibrary, AnswersThatAreNotPropertyListsAreKeptForInspection)
{
    const QString module = QStringLiteral("HtmlModule");
    const QByteArray html = "<html><body>Service unavailable</body></html>";
    m_https->route("/check", { 200, html, "text/html" });
    auto client = quietClient(module, QStringLiteral("1.0"), m_https->url("/check"));
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    char *info = nullptr;
    EXPECT_EQ(AUCheckForUpdateSync(client->updater(), &info), -1);
    EXPECT_EQ(info, nullptr);
    EXPECT_EQ(testsupport::readFile(configFolder(module) + QStringLiteral("/BadHTTPResponse.txt")), html);
    EXPECT_FALSE(QFileInfo::exists(configFolder(module) + QStringLiteral("/Updates.plist")));
    EXPECT_GE(take(AUQueryProperty(client->updater(), kAULastCheckTimestamp)).toDateTime(), before);
}

TEST_F(AutoUpdateLibrary, FailedChecksAreRecordedAndStoreNothing)
{
    const QString module = QStringLiteral("FailModule");
    m_https->route("/error", { 500, answerXml({ upgrade(module, QStringLiteral("0"), QStringLiteral("9")) }) });
    m_https->route("/huge", { 200, QByteArray(2 * 1024 * 1024, 'x') });
    for (const QByteArray &path : { QByteArray("/error"), QByteArray("/huge") }) {
        QDir(configFolder(module)).removeRecursively();
        auto client = quietClient(module, QStringLiteral("1.0"), m_https->url(path));
        char *info = nullptr;
        EXPECT_EQ(AUCheckForUpdateSync(client->updater(), &info), -1) << path.constData();
        EXPECT_EQ(info, nullptr);
        EXPECT_FALSE(QFileInfo::exists(configFolder(module) + QStringLiteral("/Updates.plist")));
        EXPECT_FALSE(QFileInfo::exists(configFolder(module) + QStringLiteral("/BadHTTPResponse.txt")))
            << path.constData();
        EXPECT_TRUE(take(AUQueryProperty(client->updater(), kAULastCheckTimestamp)).toDateTime().isValid());
    }
}

TEST_F(AutoUpdateLibrary, ScheduledCheckSavesTheAnswerForTheNextStart)
{
    const QString module = QStringLiteral("ScheduledModule");
    m_http->route("/check", { 200, answerXml({ upgrade(module, QStringLiteral("1.0"), QStringLiteral("2.0")) }) });
    // Once per start: the check runs as soon as the event loop does.
    testsupport::writeFile(configFolder(module) + QStringLiteral("/UpdaterProps.plist"),
        xmlOf(QVariantMap { { QStringLiteral("UpdateCheckInterval"), 1 } }));
    Client client(module, QStringLiteral("1.5"), m_http->url("/check"));
    ASSERT_EQ(client.created(), 0);
    EXPECT_TRUE(client.pending().isEmpty());
    ASSERT_TRUE(testsupport::waitFor(
        [&] { return QFileInfo::exists(configFolder(module) + QStringLiteral("/Updates.plist")); }));
    EXPECT_EQ(m_http->requests().size(), 1);
    EXPECT_EQ(m_http->requests().first().method, "POST");
    ASSERT_TRUE(testsupport::waitFor(
        [&] { return take(AUQueryProperty(client.updater(), kAULastCheckTimestamp)).toDateTime().isValid(); }));
    // No notification: the result is found at the next start.
    EXPECT_TRUE(client.notices.isEmpty());
    Client next(module, QStringLiteral("1.5"), m_http->url("/check"));
    EXPECT_EQ(next.pending().value(QStringLiteral("new-Version")), QStringLiteral("2.0"));
}

class AutoUpdateDownload : public AutoUpdateLibrary {
protected:
    void SetUp() override
    {
        AutoUpdateLibrary::SetUp();
        if (IsSkipped())
            return;
        ASSERT_TRUE(m_work.isValid());
        m_install = m_work.filePath(QStringLiteral("installed/pellmere-app"));
        m_marker = m_work.filePath(QStringLiteral("started.txt"));
    }

    // A release archive whose new copy writes its arguments to the marker file.
    QByteArray releaseArchive(const QString &topFolder)
    {
        const QString path = m_work.filePath(QStringLiteral("release.tar.xz"));
        QFile::remove(path);
        // Written aside and renamed, so the test never reads it half written.
        const QByteArray marker = QFile::encodeName(m_marker);
        const QByteArray script
            = "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + marker + ".part' && mv '" + marker + ".part' '" + marker + "'\n";
        EXPECT_TRUE(makeTestArchive(path,
            { { topFolder, TestArchiveEntry::Folder, {}, 0755 },
                { topFolder + QStringLiteral("/bin/prog"), TestArchiveEntry::File, script, 0755 } }));
        return testsupport::readFile(path);
    }

    std::unique_ptr<Client> downloader(const QUrl &service)
    {
        auto client = quietClient(QStringLiteral("DownloadModule"), QStringLiteral("1.0"), service);
        AUSetInstallLocation(client->updater(), QFile::encodeName(m_install).constData(), "bin/prog");
        return client;
    }

    int start(Client &client, const QVariantMap &info)
    {
        return AUDownloadUpdateAsync(client.updater(), xmlOf(info).constData());
    }

    QTemporaryDir m_work;
    QString m_install;
    QString m_marker;
};

TEST_F(AutoUpdateDownload, DownloadsUnpacksAndStartsTheNewCopyWithInstallOver)
{
    const QByteArray archive = releaseArchive(QStringLiteral("pellmere-app"));
    m_https->route("/Update.tar.xz", { 200, archive, "application/x-xz" });
    auto client = downloader(m_https->url("/check"));
    QVariantMap info = upgrade(QStringLiteral("DownloadModule"), QStringLiteral("1.0"), QStringLiteral("2.0"),
        m_https->url("/Update.tar.xz").toString());
    info.insert(QStringLiteral("SHA256"),
        QString::fromLatin1(QCryptographicHash::hash(archive, QCryptographicHash::Sha256).toHex().toUpper()));
    ASSERT_EQ(start(*client, info), 0);
    // The running program is asked to quit once the new copy runs: the application's event
    // loop ends by itself (the guard only keeps a broken hand-over from hanging the test).
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(2); });
    guard.start(std::chrono::seconds(60));
    EXPECT_EQ(QCoreApplication::exec(), 0);
    ASSERT_TRUE(client->seen(kAUDownloadHandedOver));
    ASSERT_TRUE(testsupport::waitFor([&] { return QFileInfo::exists(m_marker); }));
    EXPECT_EQ(testsupport::readFile(m_marker), "installOver\n" + QFile::encodeName(m_install) + "\n");

    EXPECT_EQ(client->types(), (QList<int> { 0, 1, 2, 3, 4 }));
    const Notice &last = client->notices.last();
    EXPECT_EQ(last.path, desktop() + QStringLiteral("/Update.tar.xz"));
    EXPECT_EQ(last.info.value(QStringLiteral("new-Version")), QStringLiteral("2.0"));
    const auto progress
        = std::find_if(client->notices.rbegin(), client->notices.rend(), [](const Notice &n) { return n.type == 1; });
    EXPECT_EQ(progress->expected, archive.size());
    EXPECT_EQ(progress->received, archive.size());
    EXPECT_EQ(m_https->requests().last().method, "GET");
    EXPECT_EQ(m_https->requests().last().headers.value("user-agent"), "CorvaneAutoUpdate");
    // The archive stays, unpacked beside itself.
    EXPECT_EQ(testsupport::readFile(desktop() + QStringLiteral("/Update.tar.xz")), archive);
    EXPECT_TRUE(QFileInfo(desktop() + QStringLiteral("/Update/pellmere-app/bin/prog")).isExecutable());
}

TEST_F(AutoUpdateDownload, NamesTheFileAfterThoseAlreadyOnTheDesktop)
{
    m_http->route("/Update.dmg", { 200, releaseArchive(QStringLiteral("elsewhere")), "application/x-xz" });
    testsupport::writeFile(desktop() + QStringLiteral("/Update.dmg"), "first");
    testsupport::writeFile(desktop() + QStringLiteral("/Update-2.dmg"), "second");
    auto client = downloader(m_http->url("/check"));
    ASSERT_EQ(start(*client,
                  upgrade(QStringLiteral("DownloadModule"), QStringLiteral("1.0"), QStringLiteral("2.0"),
                      m_http->url("/Update.dmg").toString())),
        0);
    EXPECT_EQ(client->notices.first().type, kAUDownloadWillStart);
    EXPECT_EQ(client->notices.first().path, desktop() + QStringLiteral("/Update-3.dmg"));
    ASSERT_TRUE(client->waitFor(kAUDownloadHandedOver));
    // The archive has no copy of this program: nothing is started, the download stays.
    EXPECT_FALSE(client->seen(kAUDownloadFailed));
    EXPECT_FALSE(QFileInfo::exists(m_marker));
    EXPECT_EQ(testsupport::readFile(desktop() + QStringLiteral("/Update.dmg")), "first");
    EXPECT_TRUE(QFileInfo::exists(desktop() + QStringLiteral("/Update-3.dmg")));
    // It stays when the updater ends too.
    client.reset();
    EXPECT_TRUE(QFileInfo::exists(desktop() + QStringLiteral("/Update-3.dmg")));
}

TEST_F(AutoUpdateDownload, WithoutContentLengthProgressHasNoExpectedSize)
{
    m_http->route("/Update.tar.xz", { 200, releaseArchive(QStringLiteral("x")), "application/x-xz", false });
    auto client = downloader(m_http->url("/check"));
    ASSERT_EQ(start(*client,
                  upgrade(QStringLiteral("DownloadModule"), QStringLiteral("1.0"), QStringLiteral("2.0"),
                      m_http->url("/Update.tar.xz").toString())),
        0);
    ASSERT_TRUE(client->waitFor(kAUDownloadHandedOver));
    int progress = 0;
    for (const Notice &n : client->notices) {
        if (n.type == kAUDownloadInProgress) {
            ++progress;
            EXPECT_EQ(n.expected, -1);
            EXPECT_GT(n.received, 0);
        }
    }
    EXPECT_GT(progress, 0);
}

TEST_F(AutoUpdateDownload, RefusesToStartWithoutAFileNameOrTls)
{
    auto client = downloader(m_https->url("/check"));
    EXPECT_EQ(start(*client,
                  upgrade(QStringLiteral("DownloadModule"), QStringLiteral("1.0"), QStringLiteral("2.0"),
                      m_https->url("/releases/").toString())),
        -1);
    EXPECT_EQ(start(*client,
                  upgrade(QStringLiteral("DownloadModule"), QStringLiteral("1.0"), QStringLiteral("2.0"),
                      QStringLiteral("http://downloads.example.com/Update.tar.xz"))),
        -1);
    EXPECT_EQ(AUDownloadUpdateAsync(client->updater(), "not a property list"), -1);
    EXPECT_TRUE(client->notices.isEmpty());
    EXPECT_TRUE(desktopEntries().isEmpty());
}

TEST_F(AutoUpdateDownload, AbortRemovesThePartialFileAndEndsTheNotifications)
{
    // Half the bytes arrive, then the server waits.
    m_https->route("/Update.tar.xz", { 200, QByteArray(200000, 'a'), "application/x-xz", true, 400000, true });
    auto client = downloader(m_https->url("/check"));
    ASSERT_EQ(start(*client,
                  upgrade(QStringLiteral("DownloadModule"), QStringLiteral("1.0"), QStringLiteral("2.0"),
                      m_https->url("/Update.tar.xz").toString())),
        0);
    ASSERT_TRUE(
        testsupport::waitFor([&] { return !client->notices.isEmpty() && client->notices.last().received == 200000; }));
    EXPECT_EQ(client->notices.last().expected, 400000);
    // A second download cannot start meanwhile.
    EXPECT_EQ(start(*client,
                  upgrade(QStringLiteral("DownloadModule"), QStringLiteral("1.0"), QStringLiteral("2.0"),
                      m_https->url("/Other.tar.xz").toString())),
        -1);
    const qsizetype seen = client->notices.size();
    EXPECT_EQ(AUAbortDownload(client->updater()), 0);
    EXPECT_TRUE(desktopEntries().isEmpty());
    ASSERT_TRUE(testsupport::waitFor([&] { return m_https->closedConnections() > 0; }));
    EXPECT_EQ(client->notices.size(), seen);
}

TEST_F(AutoUpdateDownload, TransferFailuresReportErrorOneAndRemoveTheFile)
{
    const QByteArray archive = releaseArchive(QStringLiteral("pellmere-app"));
    m_https->route("/good.tar.xz", { 200, archive, "application/x-xz" });
    m_https->route("/too-big.tar.xz",
        { 200, QByteArray(1000, 'a'), "application/x-xz", true, qint64(2) * 1024 * 1024 * 1024, true });

    struct Case {
        const char *what;
        QByteArray path;
        QString sha256;
    };
    const QList<Case> cases {
        { "missing", "/missing.tar.xz", {} },
        { "larger than accepted", "/too-big.tar.xz", {} },
        { "checksum mismatch", "/good.tar.xz", QString(64, QLatin1Char('0')) },
    };
    for (const Case &c : cases) {
        auto client = downloader(m_https->url("/check"));
        QVariantMap info = upgrade(QStringLiteral("DownloadModule"), QStringLiteral("1.0"), QStringLiteral("2.0"),
            m_https->url(c.path).toString());
        if (!c.sha256.isEmpty())
            info.insert(QStringLiteral("SHA256"), c.sha256);
        ASSERT_EQ(start(*client, info), 0) << c.what;
        ASSERT_TRUE(client->waitFor(kAUDownloadFailed)) << c.what;
        EXPECT_EQ(client->notices.last().error, kAUDownloadErrorTransfer) << c.what;
        EXPECT_FALSE(client->seen(kAUDownloadHandedOver)) << c.what;
        EXPECT_TRUE(desktopEntries().isEmpty()) << c.what;
        EXPECT_FALSE(QFileInfo::exists(m_marker)) << c.what;
    }
}

TEST_F(AutoUpdateDownload, HostileArchiveIsRefusedWithNothingWrittenOutside)
{
    const QString outside = m_work.filePath(QStringLiteral("outside"));
    const QString archivePath = m_work.filePath(QStringLiteral("hostile.tar.xz"));
    ASSERT_TRUE(makeTestArchive(archivePath,
        { { QStringLiteral("pellmere-app/bin/prog"), TestArchiveEntry::File, "#!/bin/sh\ntouch /tmp/x\n", 0755 },
            { QStringLiteral("pellmere-app/escape"), TestArchiveEntry::Link, "../../../../../../../../.." },
            { outside, TestArchiveEntry::File, "absolute" } }));
    m_https->route("/Update.tar.xz", { 200, testsupport::readFile(archivePath), "application/x-xz" });
    auto client = downloader(m_https->url("/check"));
    ASSERT_EQ(start(*client,
                  upgrade(QStringLiteral("DownloadModule"), QStringLiteral("1.0"), QStringLiteral("2.0"),
                      m_https->url("/Update.tar.xz").toString())),
        0);
    ASSERT_TRUE(client->waitFor(kAUDownloadFailed));
    EXPECT_EQ(client->types(), (QList<int> { 0, 1, 2, 3, 5 }));
    EXPECT_EQ(client->notices.last().error, kAUDownloadErrorOpen);
    EXPECT_FALSE(QFileInfo::exists(outside));
    EXPECT_FALSE(QFileInfo::exists(m_marker));
    EXPECT_TRUE(desktopEntries().isEmpty());
}
