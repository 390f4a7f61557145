#include "platform/VolumeMonitor.h"

#include "support/DriveImage.h"
#include "support/TestEnvironment.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using platform::MountEntry;
using platform::VolumeMonitor;
using testsupport::DriveImage;

TEST(VolumeMonitor, SeesARealDriveMountedAndUnmounted)
{
    QString whyNot;
    auto drive = DriveImage::create(DriveImage::FileSystem::Ext4, 16, &whyNot);
    if (!drive)
        GTEST_SKIP() << whyNot.toStdString();

    VolumeMonitor monitor;
    ASSERT_TRUE(monitor.start());
    QList<MountEntry> appeared;
    QList<MountEntry> disappeared;
    QObject::connect(&monitor, &VolumeMonitor::volumeAppeared, [&](const MountEntry &e) { appeared.append(e); });
    QObject::connect(&monitor, &VolumeMonitor::volumeDisappeared, [&](const MountEntry &e) { disappeared.append(e); });

    if (!drive->mount(false, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    const QString mountPoint = drive->mountPoint();
    auto isOurs = [&](const MountEntry &e) { return e.mountPoint == mountPoint; };
    ASSERT_TRUE(testsupport::waitFor([&] { return std::any_of(appeared.cbegin(), appeared.cend(), isOurs); }))
        << "no appeared event for " << mountPoint.toStdString();
    const auto entry = *std::find_if(appeared.cbegin(), appeared.cend(), isOurs);
    EXPECT_EQ(entry.fsType, QStringLiteral("ext4"));
    EXPECT_EQ(entry.source, drive->loopDevice());
    EXPECT_EQ(std::count_if(appeared.cbegin(), appeared.cend(), isOurs), 1) << "each volume once";

    ASSERT_TRUE(drive->unmount());
    EXPECT_TRUE(testsupport::waitFor([&] { return std::any_of(disappeared.cbegin(), disappeared.cend(), isOurs); }));
    EXPECT_FALSE(std::any_of(monitor.currentMounts().cbegin(), monitor.currentMounts().cend(), isOurs));
}
