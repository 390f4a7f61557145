// The parts of the agent's drive handling that need no drive: drive keys, the identity of
// a volume, which mounts count as drives, and the order of the sync-on-connect decision.
#include "agent/app/PMDriveKey.h"
#include "agent/app/PMLocalSyncChoice.h"
#include "agent/app/PMSyncOnConnectDecision.h"
#include "agent/app/PMVolumeEventRouter.h"
#include "agent/settings/PMUserDefaults.h"
#include "support/TestEnvironment.h"

#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using Outcome = PMSyncOnConnectDecision::Outcome;

TEST(PMDriveKeyTest, DeviceNamesComeFromDeviceNodesOnly)
{
    EXPECT_EQ(PMDriveKey::bsdNameFromSource(QStringLiteral("/dev/sdb1")), QStringLiteral("sdb1"));
    EXPECT_EQ(PMDriveKey::bsdNameFromSource(QStringLiteral("/dev/loop3")), QStringLiteral("loop3"));
    EXPECT_EQ(PMDriveKey::bsdNameFromSource(QStringLiteral("/dev/mapper/luks-1")), QStringLiteral("mapper/luks-1"));
    // Shares, virtual file systems and FUSE drivers without a device have no device name.
    for (const char *source : { "//nas/share", "nas:/export", "tmpfs", "fusefat", "/dev/", "/dev/../etc/passwd", "" })
        EXPECT_TRUE(PMDriveKey::bsdNameFromSource(QString::fromLatin1(source)).isEmpty()) << source;

    EXPECT_EQ(PMDriveKey::keyFor(QStringLiteral("sdb1"), QStringLiteral("/media/a/Stick")), QStringLiteral("sdb1"));
    EXPECT_EQ(PMDriveKey::keyFor(QString(), QStringLiteral("/media/a/Share")), QStringLiteral("/media/a/Share"));
    EXPECT_TRUE(PMDriveKey::forMountPoint(QString()).isEmpty());
    // A folder at which nothing is mounted has no device of its own, whatever holds it.
    EXPECT_TRUE(PMDriveKey::bsdNameForMountPoint(QStringLiteral("/proc/self")).isEmpty());
}

TEST(PMVolumeEventRouterTest, OnlyFoldersRightBelowAVolumeRootAreDrives)
{
    qputenv("PELLMERE_VOLUME_ROOTS", "/srv/drives:/media/alice");
    EXPECT_TRUE(PMVolumeEventRouter::isVolumeDirectory(QStringLiteral("/srv/drives/Stick")));
    EXPECT_TRUE(PMVolumeEventRouter::isVolumeDirectory(QStringLiteral("/media/alice/Photos/")));
    EXPECT_FALSE(PMVolumeEventRouter::isVolumeDirectory(QStringLiteral("/srv/drives")));
    EXPECT_FALSE(PMVolumeEventRouter::isVolumeDirectory(QStringLiteral("/srv/drives/Stick/inner")));
    EXPECT_FALSE(PMVolumeEventRouter::isVolumeDirectory(QStringLiteral("/snap/core/123")));
    EXPECT_FALSE(PMVolumeEventRouter::isVolumeDirectory(QStringLiteral("/srv/drivesX/Stick")));
    qunsetenv("PELLMERE_VOLUME_ROOTS");
}

TEST(PMVolumeEventRouterTest, IdentityIsTheUuidElseForFat32TheSizeAndRevision)
{
    platform::VolumeDescription volume;
    volume.volumeUUID = QStringLiteral("1234-ABCD");
    volume.mediaSize = 8000000000;
    volume.deviceRevision = QStringLiteral("1.00");
    EXPECT_EQ(PMVolumeEventRouter::volumeIdentity(volume, true), QStringLiteral("1234-ABCD"));

    volume.volumeUUID.clear();
    volume.mediaContent = QStringLiteral("DOS_FAT_32");
    EXPECT_EQ(PMVolumeEventRouter::volumeIdentity(volume, true), QStringLiteral("8000000000-1.00"));
    EXPECT_TRUE(PMVolumeEventRouter::volumeIdentity(volume, false).isEmpty());

    volume.mediaContent = QStringLiteral("Windows_NTFS");
    EXPECT_TRUE(PMVolumeEventRouter::volumeIdentity(volume, true).isEmpty());

    volume.deviceVendor.clear();
    volume.deviceModel = QStringLiteral("Flash Disk");
    EXPECT_EQ(PMVolumeEventRouter::vendorOf(volume), QStringLiteral("Flash Disk"));
    volume.deviceVendor = QStringLiteral("Acme");
    EXPECT_EQ(PMVolumeEventRouter::vendorOf(volume), QStringLiteral("Acme"));
}

// Answers from a table and records which questions were asked, in order.
struct ScriptedDrive {
    bool busy = false;
    bool validDevice = true;
    bool validFileSystem = true;
    bool enabled = true;
    bool continuous = true;
    bool participating = true;
    bool chosenHere = true;
    QStringList asked;

    PMSyncOnConnectDecision::Questions questions()
    {
        auto ask = [this](const char *name, bool answer) {
            return [this, name, answer] {
                asked.append(QString::fromLatin1(name));
                return answer;
            };
        };
        return { ask("busy", busy), ask("validDevice", validDevice), ask("validFileSystem", validFileSystem),
            ask("enabled", enabled), [this] { asked.append(QStringLiteral("update")); }, ask("continuous", continuous),
            ask("participating", participating), ask("chosenHere", chosenHere) };
    }
};

TEST(PMSyncOnConnectDecisionTest, SyncsOnlyWhenEveryConditionHolds)
{
    ScriptedDrive drive;
    EXPECT_EQ(PMSyncOnConnectDecision::decide(drive.questions()), Outcome::StartSync);
    EXPECT_EQ(drive.asked.join(QLatin1Char(' ')),
        QStringLiteral("busy validDevice validFileSystem enabled update continuous participating chosenHere"));
}

TEST(PMSyncOnConnectDecisionTest, StopsAtTheFirstNoWithoutAskingFurther)
{
    struct Case {
        void (*breakIt)(ScriptedDrive &);
        Outcome expected;
        const char *asked;
    };
    const Case cases[] = {
        { [](ScriptedDrive &d) { d.busy = true; }, Outcome::Busy, "busy" },
        { [](ScriptedDrive &d) { d.validDevice = false; }, Outcome::NotValidDevice, "busy validDevice" },
        // A read-only or foreign file system is never registered: "enabled" registers.
        { [](ScriptedDrive &d) { d.validFileSystem = false; }, Outcome::NotValidFileSystem,
            "busy validDevice validFileSystem" },
        // A brand-new drive: asking registers the user; the watch list is left alone.
        { [](ScriptedDrive &d) { d.enabled = false; }, Outcome::UserNotParticipating,
            "busy validDevice validFileSystem enabled" },
        { [](ScriptedDrive &d) { d.continuous = false; }, Outcome::ContinuousOff,
            "busy validDevice validFileSystem enabled update continuous" },
        { [](ScriptedDrive &d) { d.participating = false; }, Outcome::ParticipationOff,
            "busy validDevice validFileSystem enabled update continuous participating" },
        // The drive says yes to everything, but this computer's record does not agree.
        { [](ScriptedDrive &d) { d.chosenHere = false; }, Outcome::NotChosenHere,
            "busy validDevice validFileSystem enabled update continuous participating chosenHere" },
    };
    for (const Case &c : cases) {
        ScriptedDrive drive;
        c.breakIt(drive);
        EXPECT_EQ(PMSyncOnConnectDecision::decide(drive.questions()), c.expected) << c.asked;
        EXPECT_EQ(drive.asked.join(QLatin1Char(' ')), QString::fromLatin1(c.asked));
    }
}

// What the user chose here against what a drive says.
TEST(PMLocalSyncChoiceTest, OnlyADriveThatAgreesWithWhatWasChosenHereSyncsByItself)
{
    using Verdict = PMLocalSyncChoice::Verdict;
    QTemporaryDir dir;
    PMUserDefaults defaults(
        dir.filePath(QStringLiteral("prefs.plist")), [](const QDateTime &) { return QStringLiteral("ID"); });
    PMLocalSyncChoice choice(defaults);
    const QString device = QStringLiteral("UUID-1");
    const QStringList music { QStringLiteral("~/Music") };
    const QStringList withSecrets { QStringLiteral("~/Music"), QStringLiteral("~/.ssh") };

    // Nothing recorded: whatever the drive says.
    EXPECT_EQ(choice.verdict(device, true, true, withSecrets), Verdict::NotChosenHere);
    choice.recordParticipation(device, true);
    EXPECT_EQ(choice.verdict(device, true, true, music), Verdict::NoRecordedList) << "set up before lists were kept";
    choice.recordSyncList(device, music);
    EXPECT_EQ(choice.verdict(device, true, true, music), Verdict::Allowed);
    EXPECT_EQ(choice.verdict(device, true, true, withSecrets), Verdict::ListDiffers);
    EXPECT_EQ(choice.verdict(device, true, true, {}), Verdict::ListDiffers);
    // The same folders written differently, in another order or twice, are the same choice.
    const QString home = testsupport::testHome();
    choice.recordSyncList(device, { QStringLiteral("~/Music"), QStringLiteral("~/Pictures/") });
    EXPECT_EQ(choice.verdict(device, true, true,
                  { home + QStringLiteral("/Pictures"), home + QStringLiteral("/./Music"), QStringLiteral("~/Music") }),
        Verdict::Allowed);
    EXPECT_EQ(choice.verdict(QStringLiteral("UUID-2"), true, true, music), Verdict::NotChosenHere)
        << "a choice belongs to its drive";
    EXPECT_EQ(choice.verdict(QString(), true, true, music), Verdict::NoDeviceIdentity);

    // Turned off here: the drive cannot turn it back on.
    choice.recordSyncList(device, music);
    choice.recordContinuous(device, false);
    EXPECT_EQ(choice.verdict(device, true, true, music), Verdict::ContinuousDiffers);
    choice.recordContinuous(device, true);
    EXPECT_EQ(choice.verdict(device, true, true, music), Verdict::Allowed);
    EXPECT_EQ(choice.verdict(device, true, false, music), Verdict::ContinuousDiffers);
    choice.recordParticipation(device, false);
    EXPECT_EQ(choice.verdict(device, true, true, music), Verdict::NotChosenHere);
}

} // namespace
