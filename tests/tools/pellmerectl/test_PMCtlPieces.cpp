// The pieces of pellmerectl that need no agent: reading command-line values, reading values
// out of replies, the status table, the progress lines and which mounts count as drives.
#include "protocol/AEConstants.h"
#include "protocol/PMStatusArchive.h"
#include "tools/pellmerectl/PMCtlDriveLister.h"
#include "tools/pellmerectl/PMCtlProgressRenderer.h"
#include "tools/pellmerectl/PMCtlRequests.h"
#include "tools/pellmerectl/PMCtlStatusPrinter.h"
#include "tools/pellmerectl/PMCtlValueParser.h"

#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace pmctl;
using namespace protocol;

TEST(PMCtlValueParser, BooleansAcceptTheUsualSpellingsAndNothingElse)
{
    for (const char *word : { "on", "ON", "true", "Yes", "1" })
        EXPECT_EQ(PMCtlValueParser::parseBool(QString::fromLatin1(word), nullptr), true) << word;
    for (const char *word : { "off", "False", "no", "0" })
        EXPECT_EQ(PMCtlValueParser::parseBool(QString::fromLatin1(word), nullptr), false) << word;
    for (const char *word : { "", "2", "y", "enable", "onn", "-1" }) {
        QString why;
        EXPECT_FALSE(PMCtlValueParser::parseBool(QString::fromLatin1(word), &why).has_value()) << word;
        EXPECT_TRUE(why.contains(QStringLiteral("on/off"))) << why.toStdString();
    }
}

TEST(PMCtlValueParser, IntegersAreSigned32BitAndWhole)
{
    EXPECT_EQ(PMCtlValueParser::parseInt32(QStringLiteral("5"), nullptr), 5);
    EXPECT_EQ(PMCtlValueParser::parseInt32(QStringLiteral("-2147483648"), nullptr), INT32_MIN);
    EXPECT_EQ(PMCtlValueParser::parseInt32(QStringLiteral("2147483647"), nullptr), INT32_MAX);
    for (const char *word : { "2147483648", "1.5", "5x", "0x10", "", "five" })
        EXPECT_FALSE(PMCtlValueParser::parseInt32(QString::fromLatin1(word), nullptr).has_value()) << word;
}

TEST(PMCtlValueParser, TimeoutsArePositiveSecondsUpToADay)
{
    EXPECT_EQ(PMCtlValueParser::parseTimeout(QStringLiteral("2.5"), nullptr), std::chrono::milliseconds(2500));
    EXPECT_EQ(PMCtlValueParser::parseTimeout(QStringLiteral("86400"), nullptr), std::chrono::hours(24));
    for (const char *word : { "0", "-1", "nan", "inf", "86401", "soon" })
        EXPECT_FALSE(PMCtlValueParser::parseTimeout(QString::fromLatin1(word), nullptr).has_value()) << word;
}

TEST(PMCtlValueParser, DrivesAreExistingFoldersByTheirRealPath)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString real = QDir(dir.path()).canonicalPath() + QStringLiteral("/Drive");
    ASSERT_TRUE(QDir().mkpath(real));
    ASSERT_TRUE(QFile::link(real, dir.filePath(QStringLiteral("link"))));
    EXPECT_EQ(PMCtlValueParser::drivePath(dir.filePath(QStringLiteral("link/")), nullptr), real);
    EXPECT_EQ(PMCtlValueParser::drivePath(dir.filePath(QStringLiteral("Drive/../Drive")), nullptr), real);

    QString why;
    EXPECT_FALSE(PMCtlValueParser::drivePath(dir.filePath(QStringLiteral("missing")), &why).has_value());
    EXPECT_TRUE(why.endsWith(QStringLiteral("no such folder"))) << why.toStdString();
    ASSERT_TRUE(QFile(dir.filePath(QStringLiteral("file"))).open(QIODevice::WriteOnly));
    EXPECT_FALSE(PMCtlValueParser::drivePath(dir.filePath(QStringLiteral("file")), &why).has_value());
    EXPECT_TRUE(why.contains(QStringLiteral("not a folder"))) << why.toStdString();
}

TEST(PMCtlValueParser, SyncItemsAreMadeAbsoluteAndClean)
{
    const QString here = QDir::currentPath();
    EXPECT_EQ(PMCtlValueParser::itemPath(QStringLiteral("a/./b/../c"), nullptr), here + QStringLiteral("/a/c"));
    EXPECT_EQ(
        PMCtlValueParser::itemPath(QStringLiteral("~/Music"), nullptr), QDir::homePath() + QStringLiteral("/Music"));
    EXPECT_FALSE(PMCtlValueParser::itemPath(QString(), nullptr).has_value());
    EXPECT_FALSE(PMCtlValueParser::itemPath(QStringLiteral("a") + QChar(0) + QStringLiteral("b"), nullptr).has_value());
}

TEST(PMCtlRequests, GetterValuesComeFromThePropertyOrElseTheDirectObject)
{
    AEDescriptor reply = AEDescriptor::replyEvent();
    reply.setParamDescriptor(AEDescriptor::descriptorWithBOOL(true), keyDirectObject);
    EXPECT_EQ(PMCtlRequests::booleanResult(reply, kKRTSyncMusicStateProperty), true);
    reply.setParamDescriptor(AEDescriptor::descriptorWithBOOL(false), kKRTSyncMusicStateProperty);
    EXPECT_EQ(PMCtlRequests::booleanResult(reply, kKRTSyncMusicStateProperty), false);

    AEDescriptor filter = AEDescriptor::replyEvent();
    filter.setParamDescriptor(AEDescriptor::descriptorWithInt32(-7), keyDirectObject);
    EXPECT_EQ(PMCtlRequests::int32Result(filter, kKRTSyncDeviceFilterProperty), -7);
    // A boolean where a number belongs is not read as one.
    filter.setParamDescriptor(AEDescriptor::descriptorWithBOOL(true), keyDirectObject);
    EXPECT_FALSE(PMCtlRequests::int32Result(filter, kKRTSyncDeviceFilterProperty).has_value());
    EXPECT_FALSE(PMCtlRequests::booleanResult(AEDescriptor::replyEvent(), kPMQuietSyncStateProperty).has_value());
}

TEST(PMCtlRequests, SyncListIsAListOfFileUrlsOrASingleOne)
{
    AEDescriptor list = AEDescriptor::listDescriptor();
    list.appendDescriptor(*AEDescriptor::descriptorWithFilePath(QStringLiteral("/home/a/My Music")));
    list.appendDescriptor(*AEDescriptor::descriptorWithFilePath(QStringLiteral("/home/a/Docs")));
    AEDescriptor reply = AEDescriptor::replyEvent();
    reply.setParamDescriptor(list, keyDirectObject);
    EXPECT_EQ(PMCtlRequests::pathListResult(reply),
        (QStringList { QStringLiteral("/home/a/My Music"), QStringLiteral("/home/a/Docs") }));

    reply.setParamDescriptor(*AEDescriptor::descriptorWithFilePath(QStringLiteral("/home/a/Only")), keyDirectObject);
    EXPECT_EQ(PMCtlRequests::pathListResult(reply), QStringList { QStringLiteral("/home/a/Only") });

    list.appendDescriptor(AEDescriptor::descriptorWithString(QStringLiteral("/not/a/url")));
    reply.setParamDescriptor(list, keyDirectObject);
    EXPECT_FALSE(PMCtlRequests::pathListResult(reply).has_value());
    reply.setParamDescriptor(AEDescriptor::descriptorWithData(typeFileURL, "http://host/x"), keyDirectObject);
    EXPECT_FALSE(PMCtlRequests::pathListResult(reply).has_value());
}

TEST(PMCtlRequests, AgentErrorsNameTheEventNumberAndText)
{
    AEDescriptor reply = AEDescriptor::replyEvent();
    EXPECT_FALSE(PMCtlRequests::agentError(kPMQueryID, reply).has_value());
    reply.setParamDescriptor(AEDescriptor::descriptorWithInt32(-123), keyErrorNumber);
    EXPECT_EQ(PMCtlRequests::agentError(kPMGetSyncListID, reply), QStringLiteral("GETL: error -123"));
    reply.setParamDescriptor(AEDescriptor::descriptorWithString(QStringLiteral("bad volume format")), keyErrorString);
    EXPECT_EQ(
        PMCtlRequests::agentError(kPMGetSyncListID, reply), QStringLiteral("GETL: error -123: bad volume format"));
}

TEST(PMCtlRequests, NetworkDevicesAreReadWithTheirSharesAndWhereEachIsMapped)
{
    const auto text = [](const char *value) { return AEDescriptor::descriptorWithString(QString::fromUtf8(value)); };
    AEDescriptor mapped = AEDescriptor::recordDescriptor();
    mapped.setParamDescriptor(text("Public"), kPMShareNameKey);
    mapped.setParamDescriptor(text("/run/user/1000/gvfs/smb-share:server=10.0.0.5,share=public"), kPMShareMountPathKey);
    AEDescriptor unmapped = AEDescriptor::recordDescriptor();
    unmapped.setParamDescriptor(text("Archive"), kPMShareNameKey);
    AEDescriptor shares = AEDescriptor::listDescriptor();
    shares.appendDescriptor(mapped);
    shares.appendDescriptor(unmapped);
    AEDescriptor device = AEDescriptor::recordDescriptor();
    device.setParamDescriptor(text("Living Room"), kPMShareNameKey);
    device.setParamDescriptor(text("10.0.0.5"), kPMShareAddressKey);
    device.setParamDescriptor(text("QXA1"), kPMShareModelKey);
    device.setParamDescriptor(shares, kPMShareListKey);
    AEDescriptor list = AEDescriptor::listDescriptor();
    list.appendDescriptor(device);
    AEDescriptor reply = AEDescriptor::replyEvent();
    reply.setParamDescriptor(list, keyDirectObject);

    const auto devices = PMCtlRequests::networkDevicesResult(reply);
    ASSERT_TRUE(devices);
    ASSERT_EQ(devices->size(), 1);
    EXPECT_EQ(devices->first().name, QStringLiteral("Living Room"));
    EXPECT_EQ(devices->first().address, QStringLiteral("10.0.0.5"));
    EXPECT_EQ(devices->first().model, QStringLiteral("QXA1"));
    ASSERT_EQ(devices->first().shares.size(), 2);
    EXPECT_EQ(devices->first().shares.at(0).name, QStringLiteral("Public"));
    EXPECT_EQ(devices->first().shares.at(0).mountPath,
        QStringLiteral("/run/user/1000/gvfs/smb-share:server=10.0.0.5,share=public"));
    EXPECT_EQ(devices->first().shares.at(1).name, QStringLiteral("Archive"));
    EXPECT_TRUE(devices->first().shares.at(1).mountPath.isEmpty());

    // No list, or a device or share without a name, is no answer to print.
    EXPECT_FALSE(PMCtlRequests::networkDevicesResult(AEDescriptor::replyEvent()));
    AEDescriptor nameless = AEDescriptor::listDescriptor();
    nameless.appendDescriptor(AEDescriptor::recordDescriptor());
    AEDescriptor namelessReply = AEDescriptor::replyEvent();
    namelessReply.setParamDescriptor(nameless, keyDirectObject);
    EXPECT_FALSE(PMCtlRequests::networkDevicesResult(namelessReply));
    AEDescriptor badShare = AEDescriptor::listDescriptor();
    badShare.appendDescriptor(AEDescriptor::descriptorWithInt32(7));
    device.setParamDescriptor(badShare, kPMShareListKey);
    AEDescriptor badList = AEDescriptor::listDescriptor();
    badList.appendDescriptor(device);
    AEDescriptor badReply = AEDescriptor::replyEvent();
    badReply.setParamDescriptor(badList, keyDirectObject);
    EXPECT_FALSE(PMCtlRequests::networkDevicesResult(badReply));
}

TEST(PMCtlStatusPrinter, PrintsEveryUserOfARealStatusArchive)
{
    const QDateTime lastSync(QDate(2026, 3, 4), QTime(5, 6, 7), QTimeZone::utc());
    QVariantMap alice {
        { QStringLiteral("computerName"), QStringLiteral("alice-laptop") },
        { QStringLiteral("participateSyncEnabled"), true },
        { QStringLiteral("continuousSyncEnabled"), false },
        { QStringLiteral("quietSyncEnabled"), qint64(1) },
        { QStringLiteral("lastSyncTime"), lastSync },
        { QStringLiteral("syncSet"), QStringList { QStringLiteral("~/Music"), QStringLiteral("/srv/shared") } },
    };
    QVariantMap bob { { QStringLiteral("computerName"), QStringLiteral("bob-desktop") },
        { QStringLiteral("participateSyncEnabled"), false } };
    const QVariantMap status { { QStringLiteral("001122AABBCC-1000"), alice },
        { QStringLiteral("665544FFEEDD-501"), bob } };
    // Through the archive the agent sends, so dates and numbers arrive as the client sees them.
    const auto descriptor = PMStatusArchive::statusDescriptor(status);
    ASSERT_TRUE(descriptor.has_value());
    const auto decoded = PMStatusArchive::statusFromDescriptor(*descriptor);
    ASSERT_TRUE(decoded.has_value());

    const QStringList lines = PMCtlStatusPrinter::format(*decoded).split(QLatin1Char('\n'));
    const QString local = lastSync.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const QStringList expected {
        QStringLiteral("User 001122AABBCC-1000"),
        QStringLiteral("  Computer name  alice-laptop"),
        QStringLiteral("  Participate    yes"),
        QStringLiteral("  Continuous     no"),
        QStringLiteral("  Quiet          yes"),
        QStringLiteral("  Last sync      %1 (local time)").arg(local),
        QStringLiteral("  Sync set       ~/Music"),
        QStringLiteral("                 /srv/shared"),
        QString(),
        QStringLiteral("User 665544FFEEDD-501"),
        QStringLiteral("  Computer name  bob-desktop"),
        QStringLiteral("  Participate    no"),
        QStringLiteral("  Continuous     -"),
        QStringLiteral("  Quiet          -"),
        QStringLiteral("  Last sync      never"),
        QStringLiteral("  Sync set       -"),
        QString(),
    };
    EXPECT_EQ(lines, expected);
}

TEST(PMCtlProgressRenderer, LinesShowActivityBytesAndPercent)
{
    PMCtlProgressRenderer renderer;
    const QString drive = renderer.update({ { QStringLiteral("syncActivityType"), 2 },
        { QStringLiteral("activePath"), QStringLiteral("/media/alice/Backup") },
        { QStringLiteral("syncSize"), quint64(4 * 1024 * 1024) },
        { QStringLiteral("syncCopied"), quint64(1024 * 1024) },
        { QStringLiteral("syncSkipPresent"), quint64(1024 * 1024) },
        { QStringLiteral("syncCopySourcePath"), QStringLiteral("/home/alice/Music/song.mp3") } });
    EXPECT_EQ(drive, QStringLiteral("/media/alice/Backup"));
    // Bytes already on the drive count towards the percentage, not towards what was copied.
    EXPECT_EQ(
        renderer.plainLine(drive), QStringLiteral("/media/alice/Backup: Syncing, copied 1.0 MiB of 4.0 MiB (50%)"));
    const QString bar = renderer.barLine(drive, 120);
    EXPECT_TRUE(bar.contains(QStringLiteral("[############............]  50%"))) << bar.toStdString();
    EXPECT_TRUE(bar.endsWith(QStringLiteral("song.mp3"))) << bar.toStdString();
    EXPECT_LT(renderer.barLine(drive, 40).size(), 40);
}

TEST(PMCtlProgressRenderer, AJobsLastRecordWithoutADriveCountsToTheDriveSeenLast)
{
    PMCtlProgressRenderer renderer;
    renderer.update(
        { { QStringLiteral("syncActivityType"), 2 }, { QStringLiteral("activePath"), QStringLiteral("/mnt/A") } });
    renderer.update(
        { { QStringLiteral("syncActivityType"), 1 }, { QStringLiteral("activePath"), QStringLiteral("/mnt/B") } });
    const QString drive
        = renderer.update({ { QStringLiteral("syncActivityType"), 5 }, { QStringLiteral("syncActivityFailureType"), 6 },
            { QStringLiteral("syncSize"), quint64(100) }, { QStringLiteral("syncCopied"), quint64(500) } });
    EXPECT_EQ(drive, QStringLiteral("/mnt/B"));
    EXPECT_EQ(renderer.drives(), (QStringList { QStringLiteral("/mnt/A"), QStringLiteral("/mnt/B") }));
    // More copied than estimated: capped at 100%.
    EXPECT_EQ(renderer.plainLine(drive), QStringLiteral("/mnt/B: Stopped: canceled, copied 500 B of 100 B (100%)"));

    PMCtlProgressRenderer fresh;
    EXPECT_EQ(fresh.update({ { QStringLiteral("syncActivityType"), 6 } }), QStringLiteral("(unknown drive)"));
}

namespace {

// Mounts and descriptions as a test lays them out.
class FakeDescriber : public platform::VolumeDescriber {
public:
    void add(const QString &mountPoint, const QString &fsType, std::optional<bool> internal, bool network = false,
        const QString &label = QString())
    {
        platform::MountEntry entry;
        entry.mountPoint = mountPoint;
        entry.fsType = fsType;
        m_mounts << entry;
        platform::VolumeDescription volume;
        volume.volumePath = mountPoint;
        volume.volumeName = label;
        volume.volumeKind = fsType;
        volume.volumeNetwork = network;
        volume.deviceInternal = internal;
        m_volumes.insert(mountPoint, volume);
    }
    std::optional<platform::VolumeDescription> describeVolume(const QString &path) const override
    {
        if (!m_volumes.contains(path))
            return std::nullopt;
        return m_volumes.value(path);
    }
    std::optional<platform::VolumeDescription> describeDevice(const QString &) const override { return std::nullopt; }
    QList<platform::MountEntry> mountedVolumes() const override { return m_mounts; }

private:
    QList<platform::MountEntry> m_mounts;
    QHash<QString, platform::VolumeDescription> m_volumes;
};

} // namespace

TEST(PMCtlDriveLister, KeepsExternalAndNetworkVolumesDirectlyBelowTheRoots)
{
    FakeDescriber describer;
    describer.add(QStringLiteral("/"), QStringLiteral("ext4"), false);
    describer.add(
        QStringLiteral("/media/alice/Backup"), QStringLiteral("exfat"), false, false, QStringLiteral("BACKUP"));
    describer.add(QStringLiteral("/media/alice/Internal"), QStringLiteral("ext4"), true);
    describer.add(QStringLiteral("/media/alice/Nas"), QStringLiteral("cifs"), std::nullopt, true);
    describer.add(QStringLiteral("/media/alice"), QStringLiteral("tmpfs"), std::nullopt);
    describer.add(QStringLiteral("/media/alice/Backup/inner"), QStringLiteral("vfat"), false);
    describer.add(QStringLiteral("/mnt/stick"), QStringLiteral("vfat"), std::nullopt);
    describer.add(
        QStringLiteral("/media/alice/Backup"), QStringLiteral("exfat"), false, false, QStringLiteral("BACKUP"));
    describer.add(QStringLiteral("/srv/data"), QStringLiteral("xfs"), false);

    const QList<PMCtlDrive> drives = PMCtlDriveLister(
        describer, { QStringLiteral("/media/alice"), QStringLiteral("/media"), QStringLiteral("/mnt") })
                                         .drives();
    QStringList mountPoints;
    for (const PMCtlDrive &drive : drives)
        mountPoints << drive.mountPoint;
    EXPECT_EQ(mountPoints,
        (QStringList {
            QStringLiteral("/media/alice/Backup"), QStringLiteral("/media/alice/Nas"), QStringLiteral("/mnt/stick") }));
    ASSERT_EQ(drives.size(), 3);
    EXPECT_EQ(drives.at(0).name, QStringLiteral("BACKUP"));
    EXPECT_EQ(drives.at(0).kind, QStringLiteral("exfat"));
    EXPECT_TRUE(drives.at(1).network);
    EXPECT_EQ(drives.at(2).name, QStringLiteral("stick"));
}

TEST(PMCtlProgressRenderer, BarsOfSeveralDrivesLineUp)
{
    PMCtlProgressRenderer renderer;
    renderer.update(
        { { QStringLiteral("syncActivityType"), 2 }, { QStringLiteral("activePath"), QStringLiteral("/mnt/A") } });
    renderer.update({ { QStringLiteral("syncActivityType"), 1 },
        { QStringLiteral("activePath"), QStringLiteral("/media/alice/Long Name") } });
    const QString first = renderer.barLine(QStringLiteral("/mnt/A"), 120);
    const QString second = renderer.barLine(QStringLiteral("/media/alice/Long Name"), 120);
    EXPECT_GT(first.indexOf(QLatin1Char('[')), 0);
    EXPECT_EQ(first.indexOf(QLatin1Char('[')), second.indexOf(QLatin1Char('['))) << first.toStdString() << "\n"
                                                                                 << second.toStdString();
}
