#include "platform/MountInfoParser.h"
#include "platform/MountTable.h"

#include <gtest/gtest.h>

using platform::MountEntry;
using platform::MountInfoParser;

TEST(MountInfoParser, ReadsEveryFieldOfATypicalLine)
{
    MountEntry e;
    ASSERT_TRUE(MountInfoParser::parseLine(
        "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue", &e));
    EXPECT_EQ(e.mountId, 36);
    EXPECT_EQ(e.parentId, 35);
    EXPECT_EQ(e.major, 98u);
    EXPECT_EQ(e.minor, 0u);
    EXPECT_EQ(e.root, QStringLiteral("/mnt1"));
    EXPECT_EQ(e.mountPoint, QStringLiteral("/mnt2"));
    EXPECT_EQ(e.mountOptions, (QStringList { QStringLiteral("rw"), QStringLiteral("noatime") }));
    EXPECT_EQ(e.optionalFields, QStringList { QStringLiteral("master:1") });
    EXPECT_EQ(e.fsType, QStringLiteral("ext3"));
    EXPECT_EQ(e.source, QStringLiteral("/dev/root"));
    EXPECT_EQ(e.superOptions, (QStringList { QStringLiteral("rw"), QStringLiteral("errors=continue") }));
    EXPECT_FALSE(e.isReadOnly());
}

TEST(MountInfoParser, CannedLinesNamedAfterTheirEdgeCase)
{
    struct Case {
        const char *name;
        QByteArray line;
        QString mountPoint;
        QString fsType;
        QString source;
        bool readOnly;
    };
    const QByteArray longName(3000, 'x');
    const QList<Case> cases = {
        { "mountdir-with-space", "40 1 8:17 / /media/alice/My\\040Drive rw - vfat /dev/sdb1 rw",
            QStringLiteral("/media/alice/My Drive"), QStringLiteral("vfat"), QStringLiteral("/dev/sdb1"), false },
        { "mountdir-with-newline", "41 1 8:17 / /mnt/a\\012b ro,relatime - ext4 /dev/sdc1 ro",
            QStringLiteral("/mnt/a\nb"), QStringLiteral("ext4"), QStringLiteral("/dev/sdc1"), true },
        { "mountdir-with-backslash-and-tab", "42 1 8:17 / /mnt/a\\134b\\011c rw - ext4 /dev/sdc1 rw",
            QStringLiteral("/mnt/a\\b\tc"), QStringLiteral("ext4"), QStringLiteral("/dev/sdc1"), false },
        { "no-optional-fields", "43 1 0:52 / /run/user/1000 rw - tmpfs tmpfs rw", QStringLiteral("/run/user/1000"),
            QStringLiteral("tmpfs"), QStringLiteral("tmpfs"), false },
        { "several-optional-fields", "44 1 0:53 / /x rw shared:5 master:2 propagate_from:1 - ext4 /dev/sda1 rw",
            QStringLiteral("/x"), QStringLiteral("ext4"), QStringLiteral("/dev/sda1"), false },
        { "bind-mount", "45 1 8:1 /home/alice/data /srv/data rw - ext4 /dev/sda1 rw", QStringLiteral("/srv/data"),
            QStringLiteral("ext4"), QStringLiteral("/dev/sda1"), false },
        { "fuse-exfat", "46 1 0:60 / /media/alice/EXFAT rw,nosuid - fuse.exfat-fuse /dev/loop3 rw,user_id=0",
            QStringLiteral("/media/alice/EXFAT"), QStringLiteral("fuse.exfat-fuse"), QStringLiteral("/dev/loop3"),
            false },
        { "fuseblk-ntfs", "47 1 7:4 / /mnt/ntfs rw - fuseblk /dev/loop4 rw,allow_other", QStringLiteral("/mnt/ntfs"),
            QStringLiteral("fuseblk"), QStringLiteral("/dev/loop4"), false },
        { "network-share", "48 1 0:70 / /media/alice/public rw - cifs //nas.local/public rw,vers=3.0",
            QStringLiteral("/media/alice/public"), QStringLiteral("cifs"), QStringLiteral("//nas.local/public"),
            false },
        { "very-long-line", "49 1 8:1 / /mnt/" + longName + " rw - ext4 /dev/sda1 rw",
            QStringLiteral("/mnt/") + QString::fromLatin1(longName), QStringLiteral("ext4"),
            QStringLiteral("/dev/sda1"), false },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        MountEntry e;
        ASSERT_TRUE(MountInfoParser::parseLine(c.line, &e));
        EXPECT_EQ(e.mountPoint, c.mountPoint);
        EXPECT_EQ(e.fsType, c.fsType);
        EXPECT_EQ(e.source, c.source);
        EXPECT_EQ(e.isReadOnly(), c.readOnly);
    }
}

TEST(MountInfoParser, SkipsMalformedLinesAndKeepsTheRest)
{
    const QByteArray contents = "garbage\n"
                                "36 35 98:0 / /a rw - ext4 /dev/sda1 rw\n"
                                "x 35 98:0 / /b rw - ext4 /dev/sda1 rw\n"
                                "37 35 98 / /c rw - ext4 /dev/sda1 rw\n"
                                "38 35 98:0 / /d rw ext4 /dev/sda1 rw\n"
                                "\n"
                                "39 35 98:1 / /e rw - ext4 /dev/sda2 rw";
    const QList<MountEntry> entries = MountInfoParser::parse(contents);
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries.at(0).mountPoint, QStringLiteral("/a"));
    EXPECT_EQ(entries.at(1).mountPoint, QStringLiteral("/e"));
}

TEST(MountTable, FindsTheMountOfRealPaths)
{
    const auto root = platform::MountTable::entryForPath(QStringLiteral("/"));
    ASSERT_TRUE(root.has_value());
    EXPECT_EQ(root->mountPoint, QStringLiteral("/"));
    const auto proc = platform::MountTable::entryForPath(QStringLiteral("/proc/self"));
    ASSERT_TRUE(proc.has_value());
    EXPECT_EQ(proc->fsType, QStringLiteral("proc"));
    EXPECT_TRUE(platform::MountTable::deviceNodeNameForPath(QStringLiteral("/proc")).isEmpty())
        << "a virtual file system has no device node";
    EXPECT_FALSE(platform::MountTable::entryForPath(QStringLiteral("/no/such/path")).has_value());
}
