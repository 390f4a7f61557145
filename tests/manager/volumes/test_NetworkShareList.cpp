// The manager's share list end to end: a device announced over Avahi (a private system bus and
// avahi-daemon on loopback) whose SMB side is an smbd on a loopback port, and GVfs on a
// session bus of the test's own. A share mounted through gio, as the agent or the user mounts
// it, joins the manager's volume list as the device's remote volume; unmounted, it leaves.
#include "manager/volumes/LUMNetworkShares.h"
#include "manager/volumes/LUMVolumeListModel.h"
#include "manager/volumes/LUMVolumeMonitor.h"
#include "netstorage/FSNamesAndTags.h"
#include "netstorage/PMSmbShareService.h"
#include "platform/VolumeDescription.h"
#include "support/AvahiRig.h"
#include "support/GvfsTestSession.h"
#include "support/SmbTestServer.h"
#include "support/TestEnvironment.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace std::chrono_literals;

const QString kDeviceName = QStringLiteral("Living Room Storage");

class NetworkShareList : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The rig first: it points this process's system-bus address at its own bus.
        m_avahi = std::make_unique<testsupport::AvahiRig>();
        if (!m_avahi->start()) {
            if (m_avahi->lacksCapability())
                GTEST_SKIP() << m_avahi->whyNot().toStdString();
            FAIL() << m_avahi->whyNot().toStdString();
        }
        m_server = std::make_unique<testsupport::SmbTestServer>();
        if (!m_server->error().isEmpty())
            GTEST_SKIP() << "no SMB server here: " << m_server->error().toStdString();
        m_gvfs = std::make_unique<testsupport::GvfsTestSession>();
        if (!m_gvfs->error().isEmpty())
            GTEST_SKIP() << "GVfs cannot mount here: " << m_gvfs->error().toStdString();
        ASSERT_TRUE(m_noVolumes.isValid());
        // No local drive is this test's business.
        qputenv("PELLMERE_VOLUME_ROOTS", QFile::encodeName(m_noVolumes.path()));
    }

    void TearDown() override
    {
        qunsetenv("PELLMERE_VOLUME_ROOTS");
        m_model.reset();
        m_monitor.reset();
        m_network.reset();
        m_smb.reset();
        m_gvfs.reset();
        m_server.reset();
        m_avahi.reset();
    }

    void startMonitor()
    {
        m_smb
            = std::make_unique<PMSmbShareService>(PMSmbShareService::Options { .environment = m_gvfs->environment() });
        m_network = std::make_unique<LUMNetworkShares>(
            *m_smb, LUMNetworkShares::Options { m_smb->gvfsFolder(), quint16(m_server->port()) });
        m_monitor = std::make_unique<LUMVolumeMonitor>(*m_describer, FSNamesAndTags::sharedManager());
        m_model = std::make_unique<LUMVolumeListModel>(*m_monitor);
        m_monitor->setNetworkShares(m_network.get());
        m_monitor->start();
    }

    bool gio(const QStringList &arguments, QString *output)
    {
        QProcess process;
        process.setProcessEnvironment(m_gvfs->environment());
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("gio"), arguments);
        process.closeWriteChannel();
        const bool ok = process.waitForFinished(30000) && process.exitCode() == 0;
        *output = QString::fromLocal8Bit(process.readAll());
        return ok;
    }

    QString shareUrl() const { return QStringLiteral("smb://127.0.0.1:%1/public").arg(m_server->port()); }

    // "name | share | path" of every row, which reads well in a failure.
    QString listing() const
    {
        QStringList lines;
        for (int row = 0; row < m_model->rowCount(); ++row) {
            const QModelIndex index = m_model->index(row);
            lines << QStringLiteral("%1 | %2 | %3")
                         .arg(index.data(LUMVolumeListModel::NameRole).toString(),
                             index.data(LUMVolumeListModel::PartitionRole).toString(),
                             index.data(LUMVolumeListModel::PathRole).toString());
        }
        return lines.join(QLatin1Char('\n'));
    }

    std::unique_ptr<testsupport::AvahiRig> m_avahi;
    std::unique_ptr<testsupport::SmbTestServer> m_server;
    std::unique_ptr<testsupport::GvfsTestSession> m_gvfs;
    QTemporaryDir m_noVolumes;
    std::unique_ptr<platform::VolumeDescriber> m_describer = platform::VolumeDescriber::create();
    std::unique_ptr<PMSmbShareService> m_smb;
    std::unique_ptr<LUMNetworkShares> m_network;
    std::unique_ptr<LUMVolumeMonitor> m_monitor;
    std::unique_ptr<LUMVolumeListModel> m_model;
};

} // namespace

TEST_F(NetworkShareList, AShareMountedThroughGvfsIsListedAsTheDevicesVolumeUntilItIsUnmounted)
{
    startMonitor();
    ASSERT_TRUE(m_avahi->publish(kDeviceName, { QStringLiteral("skyvaleModel=QXA1") }));
    QString output;
    ASSERT_TRUE(gio({ QStringLiteral("mount"), QStringLiteral("-a"), shareUrl() }, &output)) << output.toStdString();
    const auto unmount = qScopeGuard([&] {
        QString ignored;
        gio({ QStringLiteral("mount"), QStringLiteral("-u"), shareUrl() }, &ignored);
    });

    const QString folder = m_gvfs->runtimeFolder()
        + QStringLiteral("/gvfs/smb-share:port=%1,server=127.0.0.1,share=public").arg(m_server->port());
    const QString expected = kDeviceName + QStringLiteral(" | Public | ") + folder;
    ASSERT_TRUE(testsupport::waitFor([&] { return listing() == expected; }, 60s)) << listing().toStdString();
    const QModelIndex row = m_model->index(0);
    EXPECT_NE(row.data(LUMVolumeListModel::CapacityTextRole).toString(), QStringLiteral("Unknown"));
    EXPECT_TRUE(m_monitor->volumes().first()->isValidDestination());

    ASSERT_TRUE(gio({ QStringLiteral("mount"), QStringLiteral("-u"), shareUrl() }, &output)) << output.toStdString();
    EXPECT_TRUE(testsupport::waitFor([&] { return m_model->rowCount() == 0; }, 30s)) << listing().toStdString();
}
