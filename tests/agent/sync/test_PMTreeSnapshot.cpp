// The snapshot a sync reads of both sides before it compares them: every folder below the
// roots listed with the attributes lstat gives, links listed but never followed, sizes as the
// progress total counts them, names found whatever bytes they hold, and a read that can be
// stopped.
#include "agent/copy/PMFileManager.h"
#include "agent/sync/PMTreeSnapshot.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct stat lstatOf(const QString &path)
{
    struct stat sb = {};
    EXPECT_EQ(lstat(QFile::encodeName(path).constData(), &sb), 0) << path.toStdString();
    return sb;
}

TEST(PMTreeSnapshot, ListsEveryFolderBelowTheRootsWithTheAttributesLstatGives)
{
    QTemporaryDir tree;
    QTemporaryDir elsewhere;
    testsupport::writeFile(tree.filePath(QStringLiteral("Music/a.mp3")), QByteArray(700, 'a'));
    testsupport::writeFile(tree.filePath(QStringLiteral("Music/Album/b.mp3")), "b");
    testsupport::writeFile(tree.filePath(QStringLiteral("Music/Album/Deeper/c.mp3")), QByteArray(1025, 'c'));
    testsupport::writeFile(tree.filePath(QStringLiteral("Music/Empty/.keep")), "");
    testsupport::writeFile(tree.filePath(QStringLiteral("Movies/m.mov")), "m");
    testsupport::writeFile(elsewhere.filePath(QStringLiteral("big")), QByteArray(100000, 'x'));
    ASSERT_TRUE(QFile::link(elsewhere.path(), tree.filePath(QStringLiteral("Music/out"))));
    const QString music = tree.filePath(QStringLiteral("Music"));

    PMTreeSnapshot snapshot({ music + QLatin1Char('/'), tree.filePath(QStringLiteral("Missing")),
                                tree.filePath(QStringLiteral("Movies/m.mov")) },
        3);
    ASSERT_TRUE(snapshot.waitForCompletion());

    // Music: a.mp3, Album, Empty, out; Album: b.mp3, Deeper; Deeper: c.mp3; Empty: .keep.
    EXPECT_EQ(snapshot.entryCount(), 8u);
    std::optional<PMFolderListing> top = snapshot.takeListing(music);
    ASSERT_TRUE(top);
    EXPECT_EQ(top->count(), 4);
    for (const char *name : { "a.mp3", "Album", "Empty", "out" }) {
        const PMFolderListing::Entry *entry = top->find(name);
        ASSERT_NE(entry, nullptr) << name;
        const struct stat expected = lstatOf(music + QLatin1Char('/') + QLatin1String(name));
        const struct stat seen = entry->toStat();
        EXPECT_EQ(seen.st_mode, expected.st_mode) << name;
        EXPECT_EQ(seen.st_size, expected.st_size) << name;
        EXPECT_EQ(seen.st_mtim.tv_sec, expected.st_mtim.tv_sec) << name;
        EXPECT_EQ(seen.st_mtim.tv_nsec, expected.st_mtim.tv_nsec) << name;
        EXPECT_EQ(seen.st_ino, expected.st_ino) << name;
    }
    EXPECT_TRUE(S_ISLNK(top->find("out")->mode));
    EXPECT_EQ(top->find("a.mp"), nullptr);
    EXPECT_EQ(top->find("b.mp3"), nullptr);
    // Handed over once; the link's target was never read.
    EXPECT_FALSE(snapshot.takeListing(music));
    EXPECT_FALSE(snapshot.takeListing(music + QStringLiteral("/out")));
    EXPECT_FALSE(snapshot.takeListing(elsewhere.path()));
    EXPECT_TRUE(snapshot.takeListing(music + QStringLiteral("/Album/Deeper")));
    EXPECT_TRUE(snapshot.takeListing(music + QStringLiteral("/Empty")));

    // Sizes as the progress total counts them (512-byte units, links not followed); roots
    // that are no folder have none.
    ASSERT_TRUE(snapshot.treeSize(music));
    EXPECT_EQ(*snapshot.treeSize(music), PMFileManager::fastFolderSizeAtPath(music));
    EXPECT_EQ(*snapshot.treeSize(music), 1024u + 512u + 1536u);
    EXPECT_FALSE(snapshot.treeSize(tree.filePath(QStringLiteral("Missing"))));
    EXPECT_FALSE(snapshot.treeSize(tree.filePath(QStringLiteral("Movies/m.mov"))));
    EXPECT_FALSE(snapshot.takeListing(tree.filePath(QStringLiteral("Movies"))));
}

TEST(PMTreeSnapshot, AnUnlistedRootIsMeasuredButKeepsNoListings)
{
    QTemporaryDir tree;
    testsupport::writeFile(tree.filePath(QStringLiteral("New/a.mp3")), QByteArray(700, 'a'));
    testsupport::writeFile(tree.filePath(QStringLiteral("New/Album/b.mp3")), "b");
    testsupport::writeFile(tree.filePath(QStringLiteral("Known/c.mp3")), "c");
    const QString fresh = tree.filePath(QStringLiteral("New"));
    const QString known = tree.filePath(QStringLiteral("Known"));

    PMTreeSnapshot snapshot({ fresh, known }, 2, { fresh + QLatin1Char('/') });
    ASSERT_TRUE(snapshot.waitForCompletion());

    EXPECT_EQ(snapshot.entryCount(), 4u) << "the unlisted tree is still read";
    EXPECT_EQ(snapshot.treeSize(fresh), std::optional<quint64>(1024u + 512u));
    EXPECT_FALSE(snapshot.takeListing(fresh));
    EXPECT_FALSE(snapshot.takeListing(fresh + QStringLiteral("/Album")));
    const std::optional<PMFolderListing> listed = snapshot.takeListing(known);
    ASSERT_TRUE(listed);
    EXPECT_NE(listed->find("c.mp3"), nullptr);
}

TEST(PMTreeSnapshot, FindsNamesOfAnyBytesAndManyEntries)
{
    QTemporaryDir tree;
    // A name that is no valid UTF-8 (as an old drive may carry) and names that sort close.
    const QByteArray latin1 = QFile::encodeName(tree.path()) + "/caf\xe9.txt";
    const int fd = ::open(latin1.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    for (int i = 0; i < 300; ++i)
        testsupport::writeFile(tree.filePath(QStringLiteral("f%1").arg(i)), QByteArray::number(i));
    PMTreeSnapshot snapshot({ tree.path() });
    ASSERT_TRUE(snapshot.waitForCompletion());
    std::optional<PMFolderListing> listing = snapshot.takeListing(tree.path());
    ASSERT_TRUE(listing);
    EXPECT_EQ(listing->count(), 301);
    QStringList seen;
    for (int i = 0; i < listing->count(); ++i)
        seen.append(QString::fromLatin1(listing->nameAt(i)));
    EXPECT_EQ(seen.size(), 301);
    EXPECT_NE(listing->find("caf\xe9.txt"), nullptr);
    for (int i = 0; i < 300; ++i) {
        const QByteArray name = "f" + QByteArray::number(i);
        const PMFolderListing::Entry *entry = listing->find(name);
        ASSERT_NE(entry, nullptr) << name.constData();
        EXPECT_EQ(entry->size, name.size() - 1);
    }
    EXPECT_EQ(listing->find("f300"), nullptr);
    EXPECT_EQ(listing->find(""), nullptr);
    // Qt cannot name that file to remove it with the folder.
    EXPECT_EQ(::unlink(latin1.constData()), 0);
}

TEST(PMTreeSnapshot, AStoppedReadHasNoTotalsAndChangesNothing)
{
    QTemporaryDir tree;
    for (int folder = 0; folder < 30; ++folder)
        for (int file = 0; file < 20; ++file)
            testsupport::writeFile(tree.filePath(QStringLiteral("F%1/f%2").arg(folder).arg(file)), "x");
    for (int round = 0; round < 5; ++round) {
        // The read may already be done when the stop comes; either way the answers agree.
        PMTreeSnapshot stopped({ tree.path() }, 2);
        if (stopped.waitForCompletion([] { return true; })) {
            EXPECT_EQ(stopped.entryCount(), 630u);
            EXPECT_EQ(stopped.treeSize(tree.path()), std::optional<quint64>(600u * 512u));
        } else {
            EXPECT_FALSE(stopped.treeSize(tree.path()));
            EXPECT_LE(stopped.entryCount(), 630u);
        }
    }
    PMTreeSnapshot whole({ tree.path() }, 2);
    EXPECT_TRUE(whole.waitForCompletion([] { return false; }));
    EXPECT_EQ(whole.entryCount(), 630u);
    EXPECT_EQ(*whole.treeSize(tree.path()), 600u * 512u);
    EXPECT_EQ(testsupport::readFile(tree.filePath(QStringLiteral("F3/f7"))), QByteArray("x"));
}

TEST(PMTreeSnapshot, AFolderThatCannotBeListedHasNoListingAndLeavesItsRootIncomplete)
{
    QTemporaryDir tree;
    testsupport::writeFile(tree.filePath(QStringLiteral("Open/a")), "a");
    testsupport::writeFile(tree.filePath(QStringLiteral("Closed/b")), "b");
    const QString closed = tree.filePath(QStringLiteral("Closed"));
    ASSERT_EQ(chmod(QFile::encodeName(tree.path()).constData(), 0755), 0);
    ASSERT_EQ(chmod(QFile::encodeName(tree.filePath(QStringLiteral("Open"))).constData(), 0755), 0);
    ASSERT_EQ(chmod(QFile::encodeName(closed).constData(), 0), 0);
    // Root reads any folder: the read runs in a child that gave up root, when there is root.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(10);
        const int code = [&] {
            PMTreeSnapshot snapshot({ tree.path() });
            if (!snapshot.waitForCompletion())
                return 11;
            if (snapshot.treeSize(tree.path()))
                return 12; // a size without the closed folder would be too small
            if (!snapshot.takeListing(tree.filePath(QStringLiteral("Open"))))
                return 13;
            if (snapshot.takeListing(closed))
                return 14;
            return 0;
        }();
        _exit(code);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    chmod(QFile::encodeName(closed).constData(), 0700);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
