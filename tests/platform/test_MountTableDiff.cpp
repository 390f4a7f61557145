#include "platform/MountTableDiff.h"

#include <gtest/gtest.h>

using platform::MountEntry;
using platform::MountTableDiff;

namespace {

MountEntry mount(int id, const QString &path, const QString &source = QStringLiteral("/dev/sdb1"))
{
    MountEntry entry;
    entry.mountId = id;
    entry.parentId = 1;
    entry.mountPoint = path;
    entry.source = source;
    entry.fsType = QStringLiteral("ext4");
    return entry;
}

} // namespace

TEST(MountTableDiff, ReportsAppearedDisappearedAndMovedMounts)
{
    const QList<MountEntry> before = { mount(1, QStringLiteral("/")), mount(20, QStringLiteral("/media/a/Old")),
        mount(21, QStringLiteral("/media/a/Moving")) };
    const QList<MountEntry> after = { mount(1, QStringLiteral("/")), mount(21, QStringLiteral("/media/a/Moved")),
        mount(22, QStringLiteral("/media/a/New"), QStringLiteral("/dev/sdc1")) };
    const auto changes = MountTableDiff::diff(before, after);
    ASSERT_EQ(changes.appeared.size(), 1);
    EXPECT_EQ(changes.appeared.first().mountPoint, QStringLiteral("/media/a/New"));
    ASSERT_EQ(changes.disappeared.size(), 1);
    EXPECT_EQ(changes.disappeared.first().mountPoint, QStringLiteral("/media/a/Old"));
    ASSERT_EQ(changes.pathChanged.size(), 1);
    EXPECT_EQ(changes.pathChanged.first().first.mountPoint, QStringLiteral("/media/a/Moving"));
    EXPECT_EQ(changes.pathChanged.first().second.mountPoint, QStringLiteral("/media/a/Moved"));
}

TEST(MountTableDiff, ARemountUnderANewIdIsANewVolumeAndIdenticalTablesAreQuiet)
{
    const QList<MountEntry> before = { mount(30, QStringLiteral("/mnt/usb")) };
    EXPECT_TRUE(MountTableDiff::diff(before, before).isEmpty());
    const auto changes = MountTableDiff::diff(before, { mount(31, QStringLiteral("/mnt/usb")) });
    EXPECT_EQ(changes.appeared.size(), 1);
    EXPECT_EQ(changes.disappeared.size(), 1);
    EXPECT_TRUE(changes.pathChanged.isEmpty());
    EXPECT_EQ(MountTableDiff::diff({}, before).appeared.size(), 1) << "the first reading";
}

TEST(MountTableDiff, ARemountInPlaceReportsOnlyTheChangedOptions)
{
    MountEntry writable = mount(40, QStringLiteral("/media/a/Stick"));
    writable.mountOptions = { QStringLiteral("rw"), QStringLiteral("nosuid") };
    MountEntry readOnly = writable;
    readOnly.mountOptions = { QStringLiteral("ro"), QStringLiteral("nosuid") };
    const auto changes = MountTableDiff::diff({ writable }, { readOnly });
    EXPECT_TRUE(changes.appeared.isEmpty());
    EXPECT_TRUE(changes.disappeared.isEmpty());
    EXPECT_TRUE(changes.pathChanged.isEmpty());
    ASSERT_EQ(changes.optionsChanged.size(), 1);
    EXPECT_FALSE(changes.optionsChanged.first().first.isReadOnly());
    EXPECT_TRUE(changes.optionsChanged.first().second.isReadOnly());
    EXPECT_FALSE(changes.isEmpty());
}
