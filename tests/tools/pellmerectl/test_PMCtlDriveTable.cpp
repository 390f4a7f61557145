// The drive table of `pellmerectl drives`, asked of a control server on a private session
// bus: which events go out per drive and how the answers (including refusals) are shown.
// The mounted drives are handed in, so the table does not depend on this machine's mounts.
#include "protocol/AEConstants.h"
#include "protocol/PMControlServer.h"
#include "protocol/PrivateSessionBus.h"
#include "support/TestEnvironment.h"
#include "tools/pellmerectl/PMCtlDriveCommands.h"
#include "tools/pellmerectl/PMCtlSession.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <future>

using namespace pmctl;
using namespace protocol;
using namespace std::chrono_literals;

namespace {

// A FILE* whose contents the test reads back.
class CapturedStream {
public:
    CapturedStream() { m_file = open_memstream(&m_buffer, &m_size); }
    ~CapturedStream()
    {
        if (m_file)
            fclose(m_file);
        free(m_buffer);
    }
    FILE *file() const { return m_file; }
    QString text()
    {
        fflush(m_file);
        return QString::fromLocal8Bit(m_buffer, qsizetype(m_size));
    }

private:
    FILE *m_file = nullptr;
    char *m_buffer = nullptr;
    size_t m_size = 0;
};

class PMCtlDriveTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bus.isRunning()) << bus.error().toStdString();
        server = std::make_unique<PMControlServer>(bus.connect());
        server->handlers().installHandler(kPMEventClass, kPMIsDriveHFSPlusID,
            { QStringLiteral("handleIsDriveHFSPlusEvent"), [this](const PMHandlerRequest &request) {
                 asked << QStringLiteral("DHFS ") + request.mountPath;
                 return PMHandlerResult::withValue(
                     AEDescriptor::descriptorWithBOOL(request.mountPath != QLatin1String("/media/alice/Camera")));
             } });
        server->handlers().installHandler(kPMEventClass, kPMQueryID,
            { QStringLiteral("handleQueryEvent"), [this](const PMHandlerRequest &request) {
                 asked << QStringLiteral("QURY ") + request.mountPath;
                 if (request.mountPath == QLatin1String("/media/alice/Camera"))
                     return PMHandlerResult { AEDescriptor::descriptorWithBOOL(false), kParamErr,
                         QStringLiteral("drive is not valid for sync") };
                 if (request.mountPath == QLatin1String("/mnt/Broken"))
                     return PMHandlerResult::withError(-36, QStringLiteral("I/O error"));
                 return PMHandlerResult::withValue(
                     AEDescriptor::descriptorWithBOOL(request.mountPath == QLatin1String("/media/alice/Backup")));
             } });
        QString why;
        ASSERT_TRUE(server->start(&why)) << why.toStdString();
    }

    // The table drawn by a client on another thread while this one serves the bus.
    int drawTable(const QList<PMCtlDrive> &drives)
    {
        QDBusConnection connection = bus.connect();
        auto future = std::async(std::launch::async, [&, connection] {
            PMControlClient client(connection);
            PMCtlSession session(client, out.file(), err.file());
            return PMCtlDriveCommands(session).drives(drives);
        });
        EXPECT_TRUE(testsupport::waitFor([&] { return future.wait_for(0ms) == std::future_status::ready; }, 60s));
        return future.get();
    }

    testsupport::PrivateSessionBus bus;
    std::unique_ptr<PMControlServer> server;
    QStringList asked;
    CapturedStream out;
    CapturedStream err;
};

PMCtlDrive driveAt(const QString &mountPoint, const QString &name, const QString &kind, bool network = false)
{
    return PMCtlDrive { mountPoint, name, kind, network };
}

} // namespace

TEST_F(PMCtlDriveTableTest, EveryDriveIsAskedWhetherItIsValidAndConfigured)
{
    const int exitCode
        = drawTable({ driveAt(QStringLiteral("/media/alice/Backup"), QStringLiteral("BACKUP"), QStringLiteral("exfat")),
            driveAt(QStringLiteral("/media/alice/Camera"), QStringLiteral("CAM"), QStringLiteral("vfat")),
            driveAt(QStringLiteral("/media/alice/Nas"), QStringLiteral("Nas"), QStringLiteral("cifs"), true) });
    EXPECT_EQ(exitCode, 0) << err.text().toStdString();
    EXPECT_EQ(asked,
        (QStringList { QStringLiteral("DHFS /media/alice/Backup"), QStringLiteral("QURY /media/alice/Backup"),
            QStringLiteral("DHFS /media/alice/Camera"), QStringLiteral("QURY /media/alice/Camera"),
            QStringLiteral("DHFS /media/alice/Nas"), QStringLiteral("QURY /media/alice/Nas") }));
    // A drive the agent cannot sync with is an answer ("no"), not an error.
    EXPECT_EQ(out.text(),
        QStringLiteral("DRIVE                NAME    KIND            VALID  CONFIGURED\n"
                       "/media/alice/Backup  BACKUP  exfat           yes    yes\n"
                       "/media/alice/Camera  CAM     vfat            no     no\n"
                       "/media/alice/Nas     Nas     cifs (network)  yes    no\n"));
    EXPECT_TRUE(err.text().isEmpty());
}

TEST_F(PMCtlDriveTableTest, AnUnexpectedErrorIsReportedAndTheRestStillShown)
{
    const int exitCode
        = drawTable({ driveAt(QStringLiteral("/mnt/Broken"), QStringLiteral("Broken"), QStringLiteral("ext4")),
            driveAt(QStringLiteral("/media/alice/Backup"), QStringLiteral("BACKUP"), QStringLiteral("exfat")) });
    EXPECT_EQ(exitCode, 1);
    EXPECT_EQ(err.text(), QStringLiteral("pellmerectl: QURY: error -36: I/O error\n"));
    EXPECT_EQ(out.text(),
        QStringLiteral("DRIVE                NAME    KIND   VALID  CONFIGURED\n"
                       "/mnt/Broken          Broken  ext4   yes    ?\n"
                       "/media/alice/Backup  BACKUP  exfat  yes    yes\n"));
}

TEST_F(PMCtlDriveTableTest, NoDrivesNeedNoAgent)
{
    server->stop();
    EXPECT_EQ(drawTable({}), 0);
    EXPECT_EQ(out.text(), QStringLiteral("No external or network drives are mounted.\n"));
    EXPECT_TRUE(asked.isEmpty());
}
