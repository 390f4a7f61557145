// copyPath on a local file system: what reaches the drive, what the progress owner hears,
// and the decisions for every combination of source and destination.
#include "CopyTestDoubles.h"
#include "CopyTestSupport.h"

#include "agent/copy/PMFileManager.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <QDir>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

using namespace copytest;

class PMFileManagerCopyTest : public ::testing::Test {
protected:
    QString src(const QString &relative) const { return join(m_source.path(), relative); }
    QString dst(const QString &relative) const { return join(m_destination.path(), relative); }

    QTemporaryDir m_source;
    QTemporaryDir m_destination;
    RecordingFilter m_filter;
    PMFileManager m_fileManager { &m_filter };
    RecordingHandler m_handler;
};

TEST_F(PMFileManagerCopyTest, TreeOntoMissingDestinationCopiesEverythingAndReportsProgress)
{
    testsupport::writeFile(src(QStringLiteral("Album/a.mp3")), QByteArray(1000, 'a'));
    testsupport::writeFile(src(QStringLiteral("Album/Disc 2/b.mp3")), QByteArray(10, 'b'));
    testsupport::writeFile(src(QStringLiteral("Album/.hidden")), "h");
    makeLink(QStringLiteral("a.mp3"), src(QStringLiteral("Album/latest")));

    ASSERT_TRUE(
        m_fileManager.copyPath(src(QStringLiteral("Album")), dst(QStringLiteral("Drive/Album")), true, &m_handler));

    EXPECT_EQ(testsupport::readFile(dst(QStringLiteral("Drive/Album/a.mp3"))), QByteArray(1000, 'a'));
    EXPECT_EQ(testsupport::readFile(dst(QStringLiteral("Drive/Album/Disc 2/b.mp3"))), QByteArray(10, 'b'));
    EXPECT_EQ(testsupport::readFile(dst(QStringLiteral("Drive/Album/.hidden"))), QByteArray("h"));
    EXPECT_EQ(linkText(dst(QStringLiteral("Drive/Album/latest"))), QStringLiteral("a.mp3"));

    const RecordingDelegate &progress = m_handler.progress;
    // Every file and link is counted by its allocated size, the link as nothing.
    EXPECT_EQ(progress.copied, 1024u + 512u + 512u);
    EXPECT_EQ(progress.copiedReports, 4);
    EXPECT_EQ(progress.resets, 3); // one per data copy; the link needs none
    EXPECT_EQ(progress.skippedFiltered, 0u);
    // Each item's path is announced and cleared again.
    EXPECT_EQ(progress.fileCopyPaths.size(), 8);
    EXPECT_EQ(progress.fileCopyPaths.count(QStringLiteral("<nil>")), 4);
    EXPECT_TRUE(progress.fileCopyPaths.contains(src(QStringLiteral("Album/Disc 2/b.mp3"))));
    // Both non-empty folders were handed over once their children were in place.
    EXPECT_TRUE(progress.tempFolders.contains(dst(QStringLiteral("Drive/Album"))));
    EXPECT_TRUE(progress.tempFolders.contains(dst(QStringLiteral("Drive/Album/Disc 2"))));
    EXPECT_EQ(progress.tempFolders.size(), 2);
    EXPECT_TRUE(m_handler.errors.isEmpty());
}

TEST_F(PMFileManagerCopyTest, CopiesOntoADriveLandWhereTheirPathsSayAfterTheirFolderMovedAway)
{
    testsupport::writeFile(src(QStringLiteral("Album/a.mp3")), "a");
    testsupport::writeFile(src(QStringLiteral("Album/b.mp3")), "b");
    testsupport::writeFile(src(QStringLiteral("Album/Disc 2/c.mp3")), "c");
    testsupport::writeFile(src(QStringLiteral("Album/d.mp3")), "d");
    m_fileManager.setDriveRoot(m_destination.path());

    // A sync stages a copy, moves the staged folder into place, and copies into the staging
    // path again: the second copy must be staged too, never written into the moved folder.
    ASSERT_TRUE(m_fileManager.copyPath(
        src(QStringLiteral("Album/a.mp3")), dst(QStringLiteral("Temp/Album/a.mp3")), true, &m_handler));
    ASSERT_TRUE(m_fileManager.movePath(
        dst(QStringLiteral("Temp/Album")), dst(QStringLiteral("Final/Album")), true, &m_handler));
    ASSERT_TRUE(m_fileManager.copyPath(
        src(QStringLiteral("Album/b.mp3")), dst(QStringLiteral("Temp/Album/b.mp3")), true, &m_handler));

    EXPECT_EQ(testsupport::readFile(dst(QStringLiteral("Temp/Album/b.mp3"))), QByteArray("b"));
    EXPECT_FALSE(QFileInfo::exists(dst(QStringLiteral("Final/Album/b.mp3"))));
    EXPECT_EQ(testsupport::readFile(dst(QStringLiteral("Final/Album/a.mp3"))), QByteArray("a"));

    // A whole tree: each file in its own folder, whatever the order of files and folders.
    ASSERT_TRUE(
        m_fileManager.copyPath(src(QStringLiteral("Album")), dst(QStringLiteral("Whole/Album")), true, &m_handler));
    EXPECT_EQ(QDir(dst(QStringLiteral("Whole/Album"))).entryList(QDir::Files, QDir::Name),
        QStringList({ QStringLiteral("a.mp3"), QStringLiteral("b.mp3"), QStringLiteral("d.mp3") }));
    EXPECT_EQ(QDir(dst(QStringLiteral("Whole/Album/Disc 2"))).entryList(QDir::Files),
        QStringList({ QStringLiteral("c.mp3") }));
    EXPECT_TRUE(m_handler.errors.isEmpty());
}

TEST_F(PMFileManagerCopyTest, FolderWhoseWholeTreeIsFilteredOutIsNotCreated)
{
    testsupport::writeFile(src(QStringLiteral("Junk/.DS_Store")), QByteArray(700, 'x'));
    testsupport::writeFile(src(QStringLiteral("Junk/Deeper/.DS_Store")), QByteArray(1, 'x'));
    m_filter.rejectedNames = { QStringLiteral(".DS_Store"), QStringLiteral("Deeper") };

    EXPECT_TRUE(m_fileManager.copyPath(src(QStringLiteral("Junk")), dst(QStringLiteral("Junk")), false, &m_handler));

    EXPECT_FALSE(QFileInfo::exists(dst(QStringLiteral("Junk"))));
    EXPECT_EQ(m_handler.progress.skippedFiltered, 1024u + 512u);
    EXPECT_EQ(m_handler.progress.copied, 0u);
}

TEST_F(PMFileManagerCopyTest, FilteredChildrenAreSkippedAndCountedWhileTheRestIsCopied)
{
    testsupport::writeFile(src(QStringLiteral("Folder/keep.txt")), "keep");
    testsupport::writeFile(src(QStringLiteral("Folder/skip.tmp")), QByteArray(513, 's'));
    m_filter.rejectedNames = { QStringLiteral("skip.tmp") };

    EXPECT_TRUE(
        m_fileManager.copyPath(src(QStringLiteral("Folder")), dst(QStringLiteral("Folder")), false, &m_handler));

    EXPECT_TRUE(QFileInfo::exists(dst(QStringLiteral("Folder/keep.txt"))));
    EXPECT_FALSE(QFileInfo::exists(dst(QStringLiteral("Folder/skip.tmp"))));
    EXPECT_EQ(m_handler.progress.skippedFiltered, 1024u);
    EXPECT_EQ(m_handler.progress.copied, 512u);
}

TEST_F(PMFileManagerCopyTest, FilteredFileOntoMissingDestinationIsNotCopiedAndReportsSkipped)
{
    testsupport::writeFile(src(QStringLiteral("movie.avi")), QByteArray(2000, 'm'));
    m_filter.rejectedNames = { QStringLiteral("movie.avi") };

    EXPECT_FALSE(m_fileManager.copyPath(
        src(QStringLiteral("movie.avi")), dst(QStringLiteral("Movies/movie.avi")), false, &m_handler));
    EXPECT_FALSE(QFileInfo::exists(dst(QStringLiteral("Movies/movie.avi"))));
    EXPECT_EQ(m_handler.progress.skippedFiltered, 2048u);
    EXPECT_EQ(m_handler.progress.copiedReports, 0);
}

TEST_F(PMFileManagerCopyTest, NonEmptyFolderMergesIntoExistingFolder)
{
    testsupport::writeFile(src(QStringLiteral("Photos/new.jpg")), "new");
    testsupport::writeFile(dst(QStringLiteral("Photos/old.jpg")), "old");

    EXPECT_TRUE(
        m_fileManager.copyPath(src(QStringLiteral("Photos")), dst(QStringLiteral("Photos")), false, &m_handler));

    EXPECT_EQ(testsupport::readFile(dst(QStringLiteral("Photos/new.jpg"))), QByteArray("new"));
    EXPECT_EQ(testsupport::readFile(dst(QStringLiteral("Photos/old.jpg"))), QByteArray("old"));
    EXPECT_EQ(m_handler.progress.tempFolders, QStringList { dst(QStringLiteral("Photos")) });
}

TEST_F(PMFileManagerCopyTest, EmptyFolderOntoExistingFolderSucceedsWithoutHandingOver)
{
    ASSERT_TRUE(QDir().mkpath(src(QStringLiteral("Empty"))));
    ASSERT_TRUE(QDir().mkpath(dst(QStringLiteral("Empty"))));

    EXPECT_TRUE(m_fileManager.copyPath(src(QStringLiteral("Empty")), dst(QStringLiteral("Empty")), false, &m_handler));
    EXPECT_TRUE(m_handler.progress.tempFolders.isEmpty());
}

TEST_F(PMFileManagerCopyTest, FileOntoExistingFileFailsLeavesItAndSaysSoOnTheConsole)
{
    testsupport::writeFile(src(QStringLiteral("song.mp3")), "new contents");
    testsupport::writeFile(dst(QStringLiteral("song.mp3")), "old");
    ConsoleCapture console("pellmere.copy");

    EXPECT_FALSE(
        m_fileManager.copyPath(src(QStringLiteral("song.mp3")), dst(QStringLiteral("song.mp3")), false, &m_handler));

    EXPECT_EQ(testsupport::readFile(dst(QStringLiteral("song.mp3"))), QByteArray("old"));
    EXPECT_TRUE(console.lines().contains(
        QStringLiteral("object exists in destination path ") + dst(QStringLiteral("song.mp3"))))
        << console.lines().join(QLatin1Char('\n')).toStdString();
}

TEST_F(PMFileManagerCopyTest, FolderAgainstFileInEitherDirectionIsTheHandlersAnswerToIsADirectory)
{
    testsupport::writeFile(src(QStringLiteral("Folder/child")), "c");
    testsupport::writeFile(src(QStringLiteral("file")), "f");
    testsupport::writeFile(dst(QStringLiteral("Folder")), "a file where the folder goes");
    ASSERT_TRUE(QDir().mkpath(dst(QStringLiteral("file"))));

    m_handler.answer = true;
    EXPECT_TRUE(
        m_fileManager.copyPath(src(QStringLiteral("Folder")), dst(QStringLiteral("Folder")), false, &m_handler));
    m_handler.answer = false;
    EXPECT_FALSE(m_fileManager.copyPath(src(QStringLiteral("file")), dst(QStringLiteral("file")), false, &m_handler));

    ASSERT_EQ(m_handler.errors.size(), 2);
    EXPECT_EQ(m_handler.errors[0],
        (QVariantMap { { QStringLiteral("Path"), src(QStringLiteral("Folder")) },
            { QStringLiteral("ToPath"), dst(QStringLiteral("Folder")) },
            { QStringLiteral("Error"), QStringLiteral("Is a directory") } }));
    EXPECT_EQ(m_handler.errors[1].value(QStringLiteral("Path")).toString(), src(QStringLiteral("file")));
    // Nothing was replaced either way.
    EXPECT_TRUE(QFileInfo(dst(QStringLiteral("Folder"))).isFile());
    EXPECT_TRUE(QFileInfo(dst(QStringLiteral("file"))).isDir());

    // A handler that does not answer the question means failure.
    PMCopyHandler silent;
    EXPECT_FALSE(m_fileManager.copyPath(src(QStringLiteral("Folder")), dst(QStringLiteral("Folder")), false, &silent));
}

TEST_F(PMFileManagerCopyTest, LinksAreRecreatedWithTheirTextNeverFollowedAndEqualOnesKept)
{
    testsupport::writeFile(src(QStringLiteral("target.txt")), "target");
    makeLink(QStringLiteral("../elsewhere/missing"), src(QStringLiteral("dangling")));
    makeLink(src(QStringLiteral("target.txt")), src(QStringLiteral("absolute")));

    EXPECT_TRUE(
        m_fileManager.copyPath(src(QStringLiteral("dangling")), dst(QStringLiteral("dangling")), false, &m_handler));
    EXPECT_TRUE(
        m_fileManager.copyPath(src(QStringLiteral("absolute")), dst(QStringLiteral("absolute")), false, &m_handler));
    EXPECT_EQ(linkText(dst(QStringLiteral("dangling"))), QStringLiteral("../elsewhere/missing"));
    EXPECT_EQ(linkText(dst(QStringLiteral("absolute"))), src(QStringLiteral("target.txt")));

    // The same link again is left alone (same inode) and succeeds.
    const ino_t before = lstatOf(dst(QStringLiteral("absolute"))).st_ino;
    EXPECT_TRUE(
        m_fileManager.copyPath(src(QStringLiteral("absolute")), dst(QStringLiteral("absolute")), false, &m_handler));
    EXPECT_EQ(lstatOf(dst(QStringLiteral("absolute"))).st_ino, before);

    // A link with other text is replaced by one with the source's text.
    makeLink(QStringLiteral("old/text"), dst(QStringLiteral("changed")));
    makeLink(QStringLiteral("new/text"), src(QStringLiteral("changed")));
    EXPECT_TRUE(
        m_fileManager.copyPath(src(QStringLiteral("changed")), dst(QStringLiteral("changed")), false, &m_handler));
    EXPECT_EQ(linkText(dst(QStringLiteral("changed"))), QStringLiteral("new/text"));
    EXPECT_TRUE(m_handler.errors.isEmpty());
}

TEST_F(PMFileManagerCopyTest, PackageIsCopiedWholeAndMergedChildByChildOntoAnExistingOne)
{
    testsupport::writeFile(src(QStringLiteral("Talk.key/Index.xml")), "index v2");
    testsupport::writeFile(src(QStringLiteral("Talk.key/Data/image.png")), "png");

    EXPECT_TRUE(
        m_fileManager.copyPath(src(QStringLiteral("Talk.key")), dst(QStringLiteral("Talk.key")), false, &m_handler));
    EXPECT_EQ(testsupport::readFile(dst(QStringLiteral("Talk.key/Data/image.png"))), QByteArray("png"));
    // A package is one item: one data copy, no folder hand-over.
    EXPECT_EQ(m_handler.progress.resets, 1);
    EXPECT_TRUE(m_handler.progress.tempFolders.isEmpty());

    // Onto the existing package: the new child arrives, existing files are not overwritten.
    testsupport::writeFile(src(QStringLiteral("Talk.key/Data/new.png")), "new");
    EXPECT_FALSE(
        m_fileManager.copyPath(src(QStringLiteral("Talk.key")), dst(QStringLiteral("Talk.key")), false, &m_handler));
    EXPECT_EQ(testsupport::readFile(dst(QStringLiteral("Talk.key/Data/new.png"))), QByteArray("new"));
    EXPECT_TRUE(agentLogContains(QStringLiteral("Copy of %1 to %2 failed.")
                                     .arg(src(QStringLiteral("Talk.key")), dst(QStringLiteral("Talk.key")))));
}

TEST_F(PMFileManagerCopyTest, FailedChildIsLoggedAndTheOtherChildrenAreStillCopied)
{
    testsupport::writeFile(src(QStringLiteral("Folder/a")), "a");
    testsupport::writeFile(src(QStringLiteral("Folder/b")), "b");
    testsupport::writeFile(src(QStringLiteral("Folder/c")), "c");
    testsupport::writeFile(dst(QStringLiteral("Folder/b")), "existing");

    EXPECT_FALSE(
        m_fileManager.copyPath(src(QStringLiteral("Folder")), dst(QStringLiteral("Folder")), false, &m_handler));
    EXPECT_TRUE(agentLogContains(QStringLiteral("Copy of %1 onto %2 failed.")
                                     .arg(src(QStringLiteral("Folder/b")), dst(QStringLiteral("Folder/b")))));
    EXPECT_EQ(testsupport::readFile(dst(QStringLiteral("Folder/a"))), QByteArray("a"));
    EXPECT_EQ(testsupport::readFile(dst(QStringLiteral("Folder/b"))), QByteArray("existing"));
    EXPECT_EQ(testsupport::readFile(dst(QStringLiteral("Folder/c"))), QByteArray("c"));
    EXPECT_EQ(m_handler.progress.tempFolders, QStringList { dst(QStringLiteral("Folder")) });
}

// Lets through only the first item it is asked about, so that whatever the folder's listing
// order, every child examined after that one is filtered out.
struct FirstItemOnlyFilter : PMCopyItemFilter {
    bool shouldCopyItem(const QString &path, const QString &, bool) const override
    {
        if (first.isEmpty())
            first = path;
        return path == first;
    }
    mutable QString first;
};

TEST_F(PMFileManagerCopyTest, AFailedChildFailsItsFolderEvenWhenFilteredSiblingsFollowIt)
{
    // Every child would fail (a file onto an existing file); only the first one examined is
    // copied, the ones after it are filtered out.
    for (const QString &name : { QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d") }) {
        testsupport::writeFile(src(QStringLiteral("Folder/") + name), "new");
        testsupport::writeFile(dst(QStringLiteral("Folder/") + name), "existing");
    }
    FirstItemOnlyFilter filter;
    PMFileManager fileManager(&filter);

    EXPECT_FALSE(fileManager.copyPath(src(QStringLiteral("Folder")), dst(QStringLiteral("Folder")), false, &m_handler));
    ASSERT_FALSE(filter.first.isEmpty());
    EXPECT_TRUE(agentLogContains(
        QStringLiteral("Copy of %1 onto %2 failed.")
            .arg(filter.first, dst(QStringLiteral("Folder/")) + filter.first.section(QLatin1Char('/'), -1))));
    EXPECT_EQ(m_handler.progress.skipReports, 3) << "the siblings after the failure were filtered out";
}

TEST_F(PMFileManagerCopyTest, AFailedChildFailsAMergedPackageEvenWhenAnotherChildFollowsIt)
{
    testsupport::writeFile(src(QStringLiteral("Talk.key/Index.xml")), "index v2");
    testsupport::writeFile(src(QStringLiteral("Talk.key/Data/image.png")), "png");
    testsupport::writeFile(dst(QStringLiteral("Talk.key/Index.xml")), "index v1");
    QDir().mkpath(dst(QStringLiteral("Talk.key/Data")));

    // Index.xml cannot be copied onto its existing copy; Data merges fine, in either order.
    EXPECT_FALSE(
        m_fileManager.copyPath(src(QStringLiteral("Talk.key")), dst(QStringLiteral("Talk.key")), false, &m_handler));
    EXPECT_EQ(testsupport::readFile(dst(QStringLiteral("Talk.key/Data/image.png"))), QByteArray("png"));
}

TEST_F(PMFileManagerCopyTest, AFolderHoldingOnlyANameThatIsNotTextIsCopiedByItsBytes)
{
    // "Outer" holds nothing but a folder whose name is not UTF-8: it must not pass for a
    // folder with nothing to copy, and where the destination takes any bytes (this one does)
    // the folder and its file arrive under the very same bytes.
    ASSERT_TRUE(QDir().mkpath(src(QStringLiteral("Outer"))));
    const QByteArray odd = QFile::encodeName(src(QStringLiteral("Outer"))) + "/odd-\xff\xfe";
    ASSERT_EQ(::mkdir(odd.constData(), 0755), 0);
    {
        const int fd = ::open(QByteArray(odd + "/song.mp3").constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "song", 4), 4);
        ::close(fd);
    }

    EXPECT_TRUE(m_fileManager.copyPath(src(QStringLiteral("Outer")), dst(QStringLiteral("Outer")), true, &m_handler));
    const QByteArray copied = QFile::encodeName(dst(QStringLiteral("Outer"))) + "/odd-\xff\xfe/song.mp3";
    char buffer[8] = {};
    const int fd = ::open(copied.constData(), O_RDONLY);
    ASSERT_GE(fd, 0) << "the folder whose name is not text did not arrive under its bytes";
    EXPECT_EQ(::read(fd, buffer, sizeof buffer), 4);
    ::close(fd);
    EXPECT_STREQ(buffer, "song");
}

TEST_F(PMFileManagerCopyTest, AFolderThatCannotBeReadFailsTheCopyAndIsNamed)
{
    // Root reads every folder: the copy runs in a child that gave up root, when there is root.
    testsupport::writeFile(src(QStringLiteral("Folder/Open/a")), "a");
    testsupport::writeFile(src(QStringLiteral("Folder/Closed/b")), "b");
    const QString closed = src(QStringLiteral("Folder/Closed"));
    for (const QString &path :
        { m_source.path(), src(QStringLiteral("Folder")), src(QStringLiteral("Folder/Open")), m_destination.path() })
        ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0777), 0);
    ASSERT_EQ(chmod(QFile::encodeName(closed).constData(), 0), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(10);
        PMFileManager fileManager(nullptr);
        RecordingHandler handler;
        const bool copied
            = fileManager.copyPath(src(QStringLiteral("Folder")), dst(QStringLiteral("Folder")), false, &handler);
        if (copied)
            _exit(11);
        if (!agentLogContains(QStringLiteral("Unable to read the folder \"%1\"").arg(closed)))
            _exit(12);
        if (testsupport::readFile(dst(QStringLiteral("Folder/Open/a"))) != QByteArray("a"))
            _exit(13);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    chmod(QFile::encodeName(closed).constData(), 0700);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A destination too small for some files: the data copy fails with ENOSPC and the handler
// decides whether the rest of a new folder is copied.
class PMFileManagerFullDestinationTest : public PMFileManagerCopyTest {
protected:
    void SetUp() override
    {
        if (::mount("tmpfs", QFile::encodeName(m_destination.path()).constData(), "tmpfs", 0, "size=1m") != 0) {
            // Only a missing privilege is a reason to skip; any other refusal is a fault.
            if (errno == EPERM)
                GTEST_SKIP() << "cannot mount a small tmpfs (needs root): " << std::strerror(errno);
            FAIL() << "cannot mount a small tmpfs although privileged: " << std::strerror(errno);
        }
        m_mounted = true;
        // Two files that cannot fit and three that can, in a folder the drive does not have.
        testsupport::writeFile(src(QStringLiteral("New/big1")), QByteArray(2 * 1024 * 1024, 'x'));
        testsupport::writeFile(src(QStringLiteral("New/big2")), QByteArray(2 * 1024 * 1024, 'y'));
        for (const char *name : { "s1", "s2", "s3" })
            testsupport::writeFile(src(QStringLiteral("New/") + QLatin1String(name)), name);
    }
    void TearDown() override
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_destination.path()).constData(), MNT_DETACH);
    }
    QStringList copiedSmallFiles() const
    {
        QStringList copied;
        for (const char *name : { "s1", "s2", "s3" })
            if (QFileInfo::exists(dst(QStringLiteral("New/") + QLatin1String(name))))
                copied << QLatin1String(name);
        return copied;
    }

    bool m_mounted = false;
};

TEST_F(PMFileManagerFullDestinationTest, ContinueAfterAFailedChildCopiesTheRestOfANewFolder)
{
    m_handler.agentAnswer = PMFileCopyAgentDelegate::Skip;
    EXPECT_FALSE(m_fileManager.copyPath(src(QStringLiteral("New")), dst(QStringLiteral("New")), true, &m_handler));
    ASSERT_EQ(m_handler.agentErrors.size(), 2);
    for (const PMFileCopyError &error : m_handler.agentErrors)
        EXPECT_EQ(error.code, ENOSPC);
    EXPECT_EQ(copiedSmallFiles(), (QStringList { QStringLiteral("s1"), QStringLiteral("s2"), QStringLiteral("s3") }));
    EXPECT_EQ(testsupport::readFile(dst(QStringLiteral("New/s2"))), QByteArray("s2"));
    // Neither failed file is left half-written.
    EXPECT_FALSE(QFileInfo::exists(dst(QStringLiteral("New/big1"))));
    EXPECT_FALSE(QFileInfo::exists(dst(QStringLiteral("New/big2"))));
}

TEST_F(PMFileManagerFullDestinationTest, QuitAfterAFailedChildStopsTheFolder)
{
    m_handler.agentAnswer = PMFileCopyAgentDelegate::Quit;
    EXPECT_FALSE(m_fileManager.copyPath(src(QStringLiteral("New")), dst(QStringLiteral("New")), true, &m_handler));
    // The second big file is never tried.
    EXPECT_EQ(m_handler.agentErrors.size(), 1);
    EXPECT_EQ(m_handler.progress.tempFolders, QStringList { dst(QStringLiteral("New")) });
    // The next copy of the same file manager starts afresh.
    testsupport::writeFile(src(QStringLiteral("later")), "later");
    EXPECT_TRUE(m_fileManager.copyPath(src(QStringLiteral("later")), dst(QStringLiteral("later")), true, &m_handler));
}

TEST_F(PMFileManagerCopyTest, MissingSourceFailsAndAWorkWithoutHandlerStillCopies)
{
    EXPECT_FALSE(
        m_fileManager.copyPath(src(QStringLiteral("missing")), dst(QStringLiteral("missing")), false, &m_handler));
    testsupport::writeFile(src(QStringLiteral("x")), "x");
    EXPECT_TRUE(m_fileManager.copyPath(src(QStringLiteral("x")), dst(QStringLiteral("deep/er/x")), false, nullptr));
    EXPECT_EQ(testsupport::readFile(dst(QStringLiteral("deep/er/x"))), QByteArray("x"));
}

TEST_F(PMFileManagerCopyTest, BackupDateHookStoresNothing)
{
    const QDateTime epoch(QDate(1904, 1, 1), QTime(0, 0), Qt::UTC);
    m_fileManager.setSyncBackupDateTo(QDateTime::currentDateTimeUtc(), src(QStringLiteral("x")));
    EXPECT_EQ(m_fileManager.syncBackupDateFor(src(QStringLiteral("x"))), epoch);
}

} // namespace
