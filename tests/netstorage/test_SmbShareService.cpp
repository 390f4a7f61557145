// The SMB share service against a real smbd on a loopback port and a real GVfs on the test's
// own session bus: listing, guest mounts through the FUSE folder, unmounts, the address of a
// mounted share, and failures that must come back as errors instead of hanging.
#include "netstorage/PMGvfsShareFolder.h"
#include "netstorage/PMSmbShareService.h"

#include "support/GvfsTestSession.h"
#include "support/SmbTestServer.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using testsupport::GvfsTestSession;
using testsupport::SmbTestServer;

namespace {

TEST(GvfsShareFolderName, AnswersTheServerPortAndShareOfAnSmbShareFolder)
{
    const auto withPort
        = PMGvfsShareFolder::parse(QStringLiteral("smb-share:port=44545,server=127.0.0.1,share=public"));
    ASSERT_TRUE(withPort);
    EXPECT_EQ(withPort->server(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(withPort->share(), QStringLiteral("public"));
    EXPECT_EQ(withPort->port(), 44545);
    EXPECT_EQ(withPort->networkAddress(), QStringLiteral("127.0.0.1:44545/public"));
    EXPECT_EQ(withPort->url(), QStringLiteral("smb://127.0.0.1:44545/public"));

    // The default port is left out, the keys come in any order, values are percent-escaped,
    // and keys this service does not use (user, domain) do not matter.
    const auto plain
        = PMGvfsShareFolder::parse(QStringLiteral("smb-share:share=my%20music%2c2024,domain=WG,server=192.168.1.20"));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->port(), 0);
    EXPECT_EQ(plain->share(), QStringLiteral("my music,2024"));
    EXPECT_EQ(plain->networkAddress(), QStringLiteral("192.168.1.20/my music,2024"));
    EXPECT_EQ(plain->url(), QStringLiteral("smb://192.168.1.20/my%20music%2C2024"));
}

TEST(GvfsShareFolderName, RejectsWhatIsNotAnSmbShareFolder)
{
    for (const char *name : { "sftp:host=127.0.0.1", "smb-server:server=127.0.0.1", "smb-share:server=127.0.0.1",
             "smb-share:share=public", "smb-share:server=127.0.0.1,share=public,port=0",
             "smb-share:server=127.0.0.1,share=public,port=70000", "smb-share:server=127.0.0.1,share=public,port=x",
             "smb-share:server=127.0.0.1,share=a%2fb", "smb-share:server=127.0.0.1,share", "Public" }) {
        EXPECT_FALSE(PMGvfsShareFolder::parse(QString::fromLatin1(name))) << name;
    }
}

TEST(SmbShareServiceHosts, AcceptsOnlyDottedIPv4AddressesWithAnOptionalPort)
{
    EXPECT_TRUE(PMSmbShareService::isValidHost(QStringLiteral("192.168.1.20")));
    EXPECT_TRUE(PMSmbShareService::isValidHost(QStringLiteral("127.0.0.1:44545")));
    for (const char *host : { "", "nas.local", "127.0.0.1:", "127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:+80",
             "127.0.0.1:80/share", "::1", "127.0.0.1/x", "300.1.1.1" }) {
        EXPECT_FALSE(PMSmbShareService::isValidHost(QString::fromLatin1(host))) << host;
    }
    PMSmbShareService service;
    QStringList shares { QStringLiteral("left over") };
    QString error;
    EXPECT_FALSE(service.listPublicShares(QStringLiteral("nas.local"), &shares, &error));
    EXPECT_TRUE(shares.isEmpty());
    EXPECT_FALSE(error.isEmpty());
    QString mountPath;
    EXPECT_FALSE(service.mountShare(QStringLiteral("127.0.0.1"), QStringLiteral("a/b"), &mountPath, &error));
    EXPECT_TRUE(mountPath.isEmpty());
}

class SmbShareServiceOnServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_server = std::make_unique<SmbTestServer>();
        if (!m_server->error().isEmpty())
            GTEST_SKIP() << "no SMB server here: " << m_server->error().toStdString();
    }

    PMSmbShareService::Options options(std::chrono::milliseconds timeout = std::chrono::seconds(20)) const
    {
        PMSmbShareService::Options result;
        result.timeout = timeout;
        return result;
    }

    std::unique_ptr<SmbTestServer> m_server;
};

TEST_F(SmbShareServiceOnServer, ListsThePublicDiskSharesSorted)
{
    PMSmbShareService service(options());
    QStringList shares;
    QString error;
    ASSERT_TRUE(service.listPublicShares(m_server->host(), &shares, &error)) << error.toStdString();
    // Not the hidden disk share, the printer share or the server's IPC$.
    EXPECT_EQ(shares, QStringList({ QStringLiteral("Archive"), QStringLiteral("Public") }));
}

TEST_F(SmbShareServiceOnServer, AStoppedServerIsAnErrorNotAnEmptyListing)
{
    const QString host = m_server->host();
    m_server->stop();
    PMSmbShareService service(options());
    QStringList shares { QStringLiteral("left over") };
    QString error;
    EXPECT_FALSE(service.listPublicShares(host, &shares, &error));
    EXPECT_TRUE(shares.isEmpty());
    EXPECT_FALSE(error.isEmpty());
}

// A loopback peer that takes connections (the kernel completes them from the listen queue)
// and never answers.
class SilentPeer {
public:
    SilentPeer()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
            && ::listen(m_fd, 16) == 0 && ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
    }
    ~SilentPeer()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    SilentPeer(const SilentPeer &) = delete;
    SilentPeer &operator=(const SilentPeer &) = delete;

    int port() const { return m_port; }
    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

private:
    int m_fd = -1;
    int m_port = 0;
};

// The listing gives up after the timeout instead of waiting for ever (the test's own time
// limit catches a hang).
TEST(SmbShareServiceSilentPeer, AListingOfAPeerThatNeverAnswersFailsAfterTheTimeout)
{
    SilentPeer peer;
    ASSERT_NE(peer.port(), 0);
    PMSmbShareService::Options options;
    options.timeout = std::chrono::seconds(2);
    PMSmbShareService service(options);
    QStringList shares;
    QString error;
    EXPECT_FALSE(service.listPublicShares(peer.host(), &shares, &error));
    EXPECT_FALSE(error.isEmpty());
}

// gio waits on gvfsd, which waits on the silent peer; the mount gives up after the timeout.
TEST(SmbShareServiceSilentPeer, AMountOnAPeerThatNeverAnswersFailsAfterTheTimeout)
{
    GvfsTestSession gvfs;
    if (!gvfs.error().isEmpty())
        GTEST_SKIP() << "GVfs cannot mount here: " << gvfs.error().toStdString();
    SilentPeer peer;
    ASSERT_NE(peer.port(), 0);
    PMSmbShareService::Options options;
    options.timeout = std::chrono::seconds(3);
    options.environment = gvfs.environment();
    PMSmbShareService service(options);
    QString mountPath;
    QString error;
    EXPECT_FALSE(service.mountShare(peer.host(), QStringLiteral("Public"), &mountPath, &error));
    EXPECT_TRUE(mountPath.isEmpty());
    EXPECT_FALSE(error.isEmpty());
}

class SmbShareServiceMounts : public SmbShareServiceOnServer {
protected:
    void SetUp() override
    {
        SmbShareServiceOnServer::SetUp();
        if (IsSkipped())
            return;
        m_gvfs = std::make_unique<GvfsTestSession>();
        if (!m_gvfs->error().isEmpty())
            GTEST_SKIP() << "GVfs cannot mount here: " << m_gvfs->error().toStdString();
    }

    PMSmbShareService::Options gvfsOptions() const
    {
        PMSmbShareService::Options result = options();
        result.environment = m_gvfs->environment();
        return result;
    }

    void TearDown() override
    {
        // Unmount before the server and the session go away, so nothing is left mounted.
        if (!m_mountPath.isEmpty() && m_gvfs && m_gvfs->error().isEmpty())
            PMSmbShareService(gvfsOptions()).unmountShare(m_mountPath);
    }

    std::unique_ptr<GvfsTestSession> m_gvfs;
    QString m_mountPath;
};

TEST_F(SmbShareServiceMounts, MountsAsGuestWritesThroughTheFolderAndUnmounts)
{
    PMSmbShareService service(gvfsOptions());
    QString error;
    ASSERT_TRUE(service.mountShare(m_server->host(), SmbTestServer::publicShare(), &m_mountPath, &error))
        << error.toStdString();
    EXPECT_TRUE(m_mountPath.startsWith(m_gvfs->runtimeFolder() + QStringLiteral("/gvfs/")))
        << m_mountPath.toStdString();

    // The address names the device as it is addressed, and the share (GVfs lower-cases it).
    EXPECT_EQ(
        service.networkAddress(m_mountPath).compare(m_server->host() + QStringLiteral("/Public"), Qt::CaseInsensitive),
        0)
        << service.networkAddress(m_mountPath).toStdString();

    testsupport::writeFile(m_mountPath + QStringLiteral("/Music/song.txt"), "through the share");
    EXPECT_EQ(testsupport::readFile(m_server->shareFolder() + QStringLiteral("/Music/song.txt")), "through the share");

    // Mounting again answers the same folder instead of failing on "already mounted".
    QString again;
    ASSERT_TRUE(service.mountShare(m_server->host(), QStringLiteral("public"), &again, &error)) << error.toStdString();
    EXPECT_EQ(again, m_mountPath);

    EXPECT_TRUE(service.unmountShare(m_mountPath));
    EXPECT_FALSE(QDir(m_gvfs->runtimeFolder() + QStringLiteral("/gvfs"))
                     .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                     .contains(QFileInfo(m_mountPath).fileName()));
    EXPECT_TRUE(service.networkAddress(m_mountPath).isEmpty());
    // Unmounting what is no longer mounted is done already.
    EXPECT_TRUE(service.unmountShare(m_mountPath));
    m_mountPath.clear();
}

TEST_F(SmbShareServiceMounts, AShareTheServerDoesNotOfferIsNotMounted)
{
    PMSmbShareService service(gvfsOptions());
    QString error;
    EXPECT_FALSE(service.mountShare(m_server->host(), QStringLiteral("Nothing"), &m_mountPath, &error));
    EXPECT_TRUE(m_mountPath.isEmpty());
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(SmbShareServiceMounts, AStoppedServerIsAMountError)
{
    const QString host = m_server->host();
    m_server->stop();
    PMSmbShareService service(gvfsOptions());
    QString error;
    EXPECT_FALSE(service.mountShare(host, SmbTestServer::publicShare(), &m_mountPath, &error));
    EXPECT_TRUE(m_mountPath.isEmpty());
    EXPECT_FALSE(error.isEmpty());
}

TEST(SmbShareServiceAddresses, AnswersNothingForFoldersThatAreNoSmbMount)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    // A folder that only has the name of a GVfs share folder is not one.
    const QString lookalike = folder.filePath(QStringLiteral("smb-share:server=127.0.0.1,share=public"));
    ASSERT_TRUE(QDir().mkpath(lookalike));
    PMSmbShareService service;
    EXPECT_TRUE(service.networkAddress(lookalike).isEmpty());
    EXPECT_TRUE(service.networkAddress(folder.path()).isEmpty());
    EXPECT_TRUE(service.networkAddress(QStringLiteral("/")).isEmpty());
}

} // namespace
