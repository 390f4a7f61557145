// movePath with its lock handling, and the folder and file creation operations.
#include "CopyTestDoubles.h"
#include "CopyTestSupport.h"

#include "agent/copy/PMFileManager.h"
#include "agent/copy/PMItemOperations.h"
#include "support/DriveImage.h"

#include <QTemporaryDir>

#include <cerrno>

#include <gtest/gtest.h>

namespace {

using namespace copytest;

class PMFileManagerMoveTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        // Locked leftovers would keep the temporary folder from being removed.
        for (const QString &path : std::as_const(m_mayBeLocked))
            PMFileManager::changeLockAtFileAtPath(path, false);
    }
    QString path(const QString &relative) const { return join(m_dir.path(), relative); }
    bool lock(const QString &at)
    {
        m_mayBeLocked << at;
        return PMFileManager::changeLockAtFileAtPath(at, true);
    }

    QTemporaryDir m_dir;
    QStringList m_mayBeLocked;
    PMFileManager m_fileManager;
    RecordingHandler m_handler;
};

TEST_F(PMFileManagerMoveTest, LockedFileMovesOntoMissingDestinationAndStaysLocked)
{
    testsupport::writeFile(path(QStringLiteral("locked.txt")), "locked");
    if (!lock(path(QStringLiteral("locked.txt"))))
        GTEST_SKIP() << "setting the immutable flag needs root and a file system that has it";
    m_mayBeLocked << path(QStringLiteral("Drive/Folder/locked.txt"));

    ASSERT_TRUE(m_fileManager.movePath(
        path(QStringLiteral("locked.txt")), path(QStringLiteral("Drive/Folder/locked.txt")), true, &m_handler));

    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("locked.txt"))));
    EXPECT_EQ(testsupport::readFile(path(QStringLiteral("Drive/Folder/locked.txt"))), QByteArray("locked"));
    EXPECT_TRUE(PMFileManager::isLockedAtPath(path(QStringLiteral("Drive/Folder/locked.txt"))));
}

TEST_F(PMFileManagerMoveTest, LockedFileReplacesLockedDestinationAndFailuresKeepTheSourceLocked)
{
    testsupport::writeFile(path(QStringLiteral("new.txt")), "new");
    testsupport::writeFile(path(QStringLiteral("old.txt")), "old");
    testsupport::writeFile(path(QStringLiteral("Folder/child")), "c");
    if (!lock(path(QStringLiteral("new.txt"))) || !lock(path(QStringLiteral("old.txt"))))
        GTEST_SKIP() << "setting the immutable flag needs root and a file system that has it";

    ASSERT_TRUE(
        m_fileManager.movePath(path(QStringLiteral("new.txt")), path(QStringLiteral("old.txt")), false, &m_handler));
    EXPECT_EQ(testsupport::readFile(path(QStringLiteral("old.txt"))), QByteArray("new"));
    EXPECT_TRUE(PMFileManager::isLockedAtPath(path(QStringLiteral("old.txt"))));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("new.txt"))));

    // A file onto a folder is refused; the file stays where it was, still locked.
    m_handler.answer = false;
    EXPECT_FALSE(
        m_fileManager.movePath(path(QStringLiteral("old.txt")), path(QStringLiteral("Folder")), false, &m_handler));
    EXPECT_TRUE(PMFileManager::isLockedAtPath(path(QStringLiteral("old.txt"))));
    ASSERT_EQ(m_handler.errors.size(), 1);
    EXPECT_EQ(m_handler.errors.first().value(QStringLiteral("Error")).toString(), QStringLiteral("Is a directory"));
}

TEST_F(PMFileManagerMoveTest, FoldersMergeChildByChildAndFilesReplaceFiles)
{
    testsupport::writeFile(path(QStringLiteral("Temp/Music/a.mp3")), "new a");
    testsupport::writeFile(path(QStringLiteral("Temp/Music/Sub/b.mp3")), "b");
    testsupport::writeFile(path(QStringLiteral("Drive/Music/a.mp3")), "old a");
    testsupport::writeFile(path(QStringLiteral("Drive/Music/keep.mp3")), "keep");

    ASSERT_TRUE(m_fileManager.movePath(
        path(QStringLiteral("Temp/Music")), path(QStringLiteral("Drive/Music")), true, &m_handler));

    EXPECT_EQ(testsupport::readFile(path(QStringLiteral("Drive/Music/a.mp3"))), QByteArray("new a"));
    EXPECT_EQ(testsupport::readFile(path(QStringLiteral("Drive/Music/Sub/b.mp3"))), QByteArray("b"));
    EXPECT_EQ(testsupport::readFile(path(QStringLiteral("Drive/Music/keep.mp3"))), QByteArray("keep"));
    // The emptied source folder itself stays.
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("Temp/Music"))).isDir());
    EXPECT_TRUE(
        QDir(path(QStringLiteral("Temp/Music"))).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    EXPECT_FALSE(
        m_fileManager.movePath(path(QStringLiteral("missing")), path(QStringLiteral("Drive/x")), true, &m_handler));
}

TEST_F(PMFileManagerMoveTest, AFileThatCannotBeMovedLeavesTheFileItWouldReplace)
{
    testsupport::writeFile(path(QStringLiteral("Temp/a.mp3")), "new a");
    testsupport::writeFile(path(QStringLiteral("Drive/a.mp3")), "old a");
    // A folder that may not change keeps its file from being moved out.
    if (!lock(path(QStringLiteral("Temp"))))
        GTEST_SKIP() << "setting the immutable flag needs root and a file system that has it";

    EXPECT_FALSE(m_fileManager.movePath(
        path(QStringLiteral("Temp/a.mp3")), path(QStringLiteral("Drive/a.mp3")), true, &m_handler));
    EXPECT_EQ(testsupport::readFile(path(QStringLiteral("Drive/a.mp3"))), QByteArray("old a"));
    EXPECT_EQ(testsupport::readFile(path(QStringLiteral("Temp/a.mp3"))), QByteArray("new a"));
    EXPECT_EQ(m_handler.fileManagerErrors, QList<int> { EPERM });
}

TEST_F(PMFileManagerMoveTest, FolderOntoFileIsTheHandlersAnswer)
{
    testsupport::writeFile(path(QStringLiteral("Folder/child")), "c");
    testsupport::writeFile(path(QStringLiteral("file")), "f");
    m_handler.answer = true;
    EXPECT_TRUE(
        m_fileManager.movePath(path(QStringLiteral("Folder")), path(QStringLiteral("file")), false, &m_handler));
    EXPECT_EQ(testsupport::readFile(path(QStringLiteral("file"))), QByteArray("f"));
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("Folder/child"))));
}

TEST_F(PMFileManagerMoveTest, LockedFileMovesOntoADriveWithoutTheFlagAndTheLostLockIsLogged)
{
    QString whyNot;
    auto drive = testsupport::DriveImage::create(testsupport::DriveImage::FileSystem::ExFat, 16, &whyNot);
    if (!drive || !drive->mount(false, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    testsupport::writeFile(path(QStringLiteral("locked.txt")), "locked");
    if (!lock(path(QStringLiteral("locked.txt"))))
        GTEST_SKIP() << "setting the immutable flag needs root and a file system that has it";
    const QString destination = join(drive->mountPoint(), QStringLiteral("Folder/locked.txt"));

    EXPECT_TRUE(m_fileManager.movePath(path(QStringLiteral("locked.txt")), destination, true, &m_handler));

    EXPECT_EQ(testsupport::readFile(destination), QByteArray("locked"));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("locked.txt"))));
    EXPECT_TRUE(agentLogContains(QStringLiteral("locking %1 failed").arg(destination)));
}

TEST_F(PMFileManagerMoveTest, CreateDirectoryMakesMissingParentsAndAcceptsExistingFolders)
{
    EXPECT_TRUE(m_fileManager.createDirectoryAtPath(path(QStringLiteral("a/b/c")), {}, true, true));
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("a/b/c"))).isDir());
    EXPECT_TRUE(m_fileManager.createDirectoryAtPath(path(QStringLiteral("a/b/c")), {}, true, true));
    EXPECT_FALSE(m_fileManager.createDirectoryAtPath(path(QStringLiteral("x/y")), {}, false, false));

    testsupport::writeFile(path(QStringLiteral("file")), "f");
    EXPECT_FALSE(m_fileManager.createDirectoryAtPath(path(QStringLiteral("file")), {}, true, false));
    EXPECT_FALSE(m_fileManager.createDirectoryAtPath(path(QStringLiteral("file/sub")), {}, true, false));

    // A linked parent counts as the folder it points to.
    makeLink(path(QStringLiteral("a")), path(QStringLiteral("linkToA")));
    EXPECT_TRUE(m_fileManager.createDirectoryAtPath(path(QStringLiteral("linkToA/new")), {}, true, false));
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("a/new"))).isDir());

    const QVariantMap attributes { { PMFileManager::kPosixPermissionsKey, 0750 } };
    EXPECT_TRUE(m_fileManager.createDirectoryAtPath(path(QStringLiteral("modes")), attributes, false, false));
    EXPECT_EQ(lstatOf(path(QStringLiteral("modes"))).st_mode & 07777, 0750u);
}

TEST_F(PMFileManagerMoveTest, CreateFileMakesItsFoldersOnlyWhenAskedAndLogsFailure)
{
    const QVariantMap privateFile { { PMFileManager::kPosixPermissionsKey, 0600 } };
    EXPECT_TRUE(
        m_fileManager.createFileAtPath(path(QStringLiteral("new/folders/file")), "contents", privateFile, true, true));
    EXPECT_EQ(testsupport::readFile(path(QStringLiteral("new/folders/file"))), QByteArray("contents"));
    EXPECT_EQ(lstatOf(path(QStringLiteral("new/folders/file"))).st_mode & 07777, 0600u);
    // The folders made on the way stay searchable whatever mode the file asked for.
    EXPECT_NE(lstatOf(path(QStringLiteral("new/folders"))).st_mode & 0100, 0u);

    EXPECT_FALSE(m_fileManager.createFileAtPath(path(QStringLiteral("other/missing/file")), "x", {}, false, false));
    EXPECT_TRUE(agentLogContains(
        QStringLiteral("Unable to create file at %1.").arg(path(QStringLiteral("other/missing/file")))));
}

TEST(PMFileManagerReadOnlyDriveTest, CopyOntoAReadOnlyDriveFailsAndLogsTheFolder)
{
    QString whyNot;
    auto drive = testsupport::DriveImage::create(testsupport::DriveImage::FileSystem::Ext4, 16, &whyNot);
    if (!drive || !drive->mount(true, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    QTemporaryDir source;
    testsupport::writeFile(join(source.path(), QStringLiteral("file")), "f");
    PMFileManager fileManager;
    RecordingHandler handler;
    const QString parent = join(drive->mountPoint(), QStringLiteral("Folder"));

    EXPECT_FALSE(fileManager.copyPath(
        join(source.path(), QStringLiteral("file")), join(parent, QStringLiteral("file")), true, &handler));
    EXPECT_TRUE(agentLogContains(QStringLiteral("Unable to create directory at %1.").arg(parent)));
    // Nothing was attempted, so nothing was counted.
    EXPECT_EQ(handler.progress.copiedReports, 0);
}

// A drive holding a link where a folder belongs must not lead creation, copies or moves onto
// the computer: with the drive's root known, every such operation stops at the link.
class PMFileManagerDriveLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testsupport::writeFile(join(m_outside.path(), QStringLiteral("kept.txt")), "the computer's file");
        ASSERT_TRUE(QDir().mkpath(drive(QStringLiteral("alice_Studio"))));
        ASSERT_TRUE(QFile::link(m_outside.path(), drive(QStringLiteral("alice_Studio/Music"))));
        m_fileManager.setDriveRoot(m_drive.path());
    }
    QString drive(const QString &relative) const { return join(m_drive.path(), relative); }
    QStringList outsideEntries() const
    {
        return QDir(m_outside.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    QTemporaryDir m_drive;
    QTemporaryDir m_outside;
    QTemporaryDir m_source;
    PMFileManager m_fileManager;
    RecordingHandler m_handler;
};

TEST_F(PMFileManagerDriveLinkTest, FoldersAndCopiesAreNeverMadeThroughALink)
{
    EXPECT_FALSE(m_fileManager.createDirectoryAtPath(
        drive(QStringLiteral("alice_Studio/Music/Album")), QVariantMap(), true, true));
    EXPECT_TRUE(agentLogContains(
        QStringLiteral("has a link where the folder \"%1\" belongs").arg(drive(QStringLiteral("alice_Studio/Music")))));
    testsupport::writeFile(join(m_source.path(), QStringLiteral("b.mp3")), "b");
    EXPECT_FALSE(m_fileManager.copyPath(join(m_source.path(), QStringLiteral("b.mp3")),
        drive(QStringLiteral("alice_Studio/Music/Album/b.mp3")), true, &m_handler));
    EXPECT_EQ(outsideEntries(), QStringList { QStringLiteral("kept.txt") });

    // The same folder on the computer's side (no drive flag) is the computer's business.
    EXPECT_TRUE(m_fileManager.createDirectoryAtPath(join(m_source.path(), QStringLiteral("A/B")), {}, true, false));
    // And on the drive away from the link, folders are made as before, with the mode asked for.
    ASSERT_TRUE(m_fileManager.createDirectoryAtPath(drive(QStringLiteral("alice_Studio/Photos/2010")),
        QVariantMap { { PMFileManager::kPosixPermissionsKey, 0750 } }, true, true));
    EXPECT_EQ(lstatOf(drive(QStringLiteral("alice_Studio/Photos/2010"))).st_mode & 07777, 0750u);
}

TEST_F(PMFileManagerDriveLinkTest, AMoveIsNeverMergedIntoOrPutBelowALink)
{
    testsupport::writeFile(drive(QStringLiteral("temp/alice_Studio/Music/new.mp3")), "new");
    testsupport::writeFile(drive(QStringLiteral("temp/alice_Studio/Music/Album/b.mp3")), "b");

    // The folder onto the link, and a file into a folder below it.
    EXPECT_FALSE(m_fileManager.movePath(drive(QStringLiteral("temp/alice_Studio/Music")),
        drive(QStringLiteral("alice_Studio/Music")), true, &m_handler));
    EXPECT_FALSE(m_fileManager.movePath(drive(QStringLiteral("temp/alice_Studio/Music/Album/b.mp3")),
        drive(QStringLiteral("alice_Studio/Music/Album/b.mp3")), true, &m_handler));
    EXPECT_EQ(outsideEntries(), QStringList { QStringLiteral("kept.txt") });
    EXPECT_EQ(
        testsupport::readFile(join(m_outside.path(), QStringLiteral("kept.txt"))), QByteArray("the computer's file"));
    EXPECT_TRUE(QFileInfo::exists(drive(QStringLiteral("temp/alice_Studio/Music/new.mp3"))))
        << "what was not moved stays in the temporary folder";

    // A file where the drive has a link replaces the link, not what it points to.
    testsupport::writeFile(drive(QStringLiteral("temp/Notes.txt")), "notes");
    ASSERT_TRUE(QFile::link(join(m_outside.path(), QStringLiteral("kept.txt")), drive(QStringLiteral("Notes.txt"))));
    EXPECT_TRUE(m_fileManager.movePath(
        drive(QStringLiteral("temp/Notes.txt")), drive(QStringLiteral("Notes.txt")), true, &m_handler));
    EXPECT_FALSE(QFileInfo(drive(QStringLiteral("Notes.txt"))).isSymLink());
    EXPECT_EQ(
        testsupport::readFile(join(m_outside.path(), QStringLiteral("kept.txt"))), QByteArray("the computer's file"));
}

TEST_F(PMFileManagerDriveLinkTest, TheCopyAgentReachesItsDestinationFolderWithoutFollowingLinks)
{
    testsupport::writeFile(join(m_source.path(), QStringLiteral("b.mp3")), "b");
    PMFileCopyAgent agent(
        join(m_source.path(), QStringLiteral("b.mp3")), drive(QStringLiteral("alice_Studio/Music/b.mp3")), nullptr);
    agent.setDestinationRoot(m_drive.path());
    EXPECT_FALSE(agent.performCopy());
    EXPECT_EQ(outsideEntries(), QStringList { QStringLiteral("kept.txt") });

    PMFileCopyAgent real(
        join(m_source.path(), QStringLiteral("b.mp3")), drive(QStringLiteral("alice_Studio/b.mp3")), nullptr);
    real.setDestinationRoot(m_drive.path());
    EXPECT_TRUE(real.performCopy());
    EXPECT_EQ(testsupport::readFile(drive(QStringLiteral("alice_Studio/b.mp3"))), QByteArray("b"));
}

TEST(PMItemOperationsRemoveTest, RemovingATreeRemovesItsLinksButNotWhatTheyPointTo)
{
    QTemporaryDir tree;
    QTemporaryDir outside;
    testsupport::writeFile(join(outside.path(), QStringLiteral("kept.txt")), "kept");
    testsupport::writeFile(join(tree.path(), QStringLiteral("Folder/Sub/file")), "f");
    ASSERT_TRUE(QFile::link(outside.path(), join(tree.path(), QStringLiteral("Folder/Sub/linkToFolder"))));
    ASSERT_TRUE(QFile::link(
        join(outside.path(), QStringLiteral("kept.txt")), join(tree.path(), QStringLiteral("Folder/linkToFile"))));
    ASSERT_TRUE(QFile::link(outside.path(), join(tree.path(), QStringLiteral("TopLink"))));

    EXPECT_TRUE(PMItemOperations(nullptr).removeItem(join(tree.path(), QStringLiteral("Folder"))));
    EXPECT_TRUE(PMItemOperations(nullptr).removeItem(join(tree.path(), QStringLiteral("TopLink"))));
    EXPECT_EQ(QDir(tree.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System), QStringList());
    EXPECT_EQ(testsupport::readFile(join(outside.path(), QStringLiteral("kept.txt"))), QByteArray("kept"));
    EXPECT_FALSE(PMItemOperations(nullptr).removeItem(join(tree.path(), QStringLiteral("missing"))));
}

} // namespace
