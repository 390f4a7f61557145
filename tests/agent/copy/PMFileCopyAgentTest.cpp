// The data copy: progress, cancel, error questions, metadata and descriptor hygiene.
#include "CopyTestDoubles.h"
#include "CopyTestSupport.h"

#include "agent/copy/PMFileCopyAgent.h"
#include "agent/copy/PMFileManager.h"
#include "support/DriveImage.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <acl/libacl.h>
#include <cerrno>
#include <fcntl.h>
#include <sys/acl.h>
#include <sys/xattr.h>

namespace {

using namespace copytest;

constexpr qint64 kMiB = 1024 * 1024;

int openDescriptorCount()
{
    return int(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size());
}

QByteArray patterned(qint64 bytes)
{
    QByteArray data(bytes, Qt::Uninitialized);
    for (qint64 i = 0; i < bytes; ++i)
        data[i] = char((i * 7 + i / 4096) & 0xFF);
    return data;
}

class PMFileCopyAgentTest : public ::testing::Test {
protected:
    QString path(const QString &relative) const { return join(m_dir.path(), relative); }
    QTemporaryDir m_dir;
    RecordingHandler m_handler;
};

TEST_F(PMFileCopyAgentTest, LargeFileReportsProgressAtLeastEvery8MiBUpToItsSize)
{
    const QByteArray data = patterned(40 * kMiB + 123);
    testsupport::writeFile(path(QStringLiteral("big.bin")), data);
    PMFileCopyAgent agent(path(QStringLiteral("big.bin")), path(QStringLiteral("copy.bin")), &m_handler);
    EXPECT_EQ(agent.state(), PMFileCopyAgent::Idle);

    ASSERT_TRUE(agent.performCopy());

    EXPECT_EQ(agent.state(), PMFileCopyAgent::Finished);
    EXPECT_EQ(testsupport::readFile(path(QStringLiteral("copy.bin"))), data);
    ASSERT_FALSE(m_handler.updates.isEmpty());
    quint64 previous = 0;
    for (const quint64 update : m_handler.updates) {
        EXPECT_GT(update, previous);
        EXPECT_LE(update - previous, quint64(PMFileCopyAgent::kProgressChunkBytes));
        previous = update;
    }
    EXPECT_EQ(previous, quint64(data.size()));
    EXPECT_EQ(agent.totalFinished(), quint64(data.size()));
}

TEST_F(PMFileCopyAgentTest, CancelFromTheProgressCallbackStopsAtTheNextEvent)
{
    testsupport::writeFile(path(QStringLiteral("big.bin")), patterned(48 * kMiB));
    m_handler.cancelAtBytes = 1;
    PMFileCopyAgent agent(path(QStringLiteral("big.bin")), path(QStringLiteral("copy.bin")), &m_handler);

    EXPECT_FALSE(agent.performCopy());

    EXPECT_EQ(m_handler.updates.size(), 1);
    EXPECT_TRUE(agent.cancelled());
    EXPECT_EQ(agent.state(), PMFileCopyAgent::Finished);
    EXPECT_LE(QFileInfo(path(QStringLiteral("copy.bin"))).size(), PMFileCopyAgent::kProgressChunkBytes);
}

TEST_F(PMFileCopyAgentTest, ACopyInProgressRefusesASecondOne)
{
    testsupport::writeFile(path(QStringLiteral("a")), "a");
    struct Reentering : RecordingHandler {
        bool agentUpdate(PMFileCopyAgent &agent, quint64 copiedBytes) override
        {
            nestedResult = agent.performCopy();
            stateDuringCopy = agent.state();
            return RecordingHandler::agentUpdate(agent, copiedBytes);
        }
        std::optional<bool> nestedResult;
        int stateDuringCopy = -1;
    } handler;
    PMFileCopyAgent agent(path(QStringLiteral("a")), path(QStringLiteral("b")), &handler);
    EXPECT_TRUE(agent.performCopy());
    EXPECT_EQ(handler.nestedResult, false);
    EXPECT_EQ(handler.stateDuringCopy, PMFileCopyAgent::Copying);
}

TEST_F(PMFileCopyAgentTest, MetadataTravelsWithTheDataOnExt4)
{
    const QString source = path(QStringLiteral("Package.app/Contents/file.txt"));
    testsupport::writeFile(source, "data");
    const QByteArray encoded = QFile::encodeName(source);
    ASSERT_EQ(::chmod(encoded.constData(), 0640), 0);
    ASSERT_EQ(::lsetxattr(encoded.constData(), "user.pellmere", "tag", 3, 0), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::lchown(encoded.constData(), 1234, 4321), 0);
    }
    acl_t acl = acl_from_text("u::rw-,u:4242:r--,g::r--,m::r--,o::---");
    ASSERT_NE(acl, nullptr);
    ASSERT_EQ(acl_set_file(encoded.constData(), ACL_TYPE_ACCESS, acl), 0);
    acl_free(acl);
    const struct timespec times[2] = { { 1000000000, 111111111 }, { 981173106, 123456789 } };
    ASSERT_EQ(::utimensat(AT_FDCWD, encoded.constData(), times, AT_SYMLINK_NOFOLLOW), 0);
    makeLink(QStringLiteral("file.txt"), path(QStringLiteral("Package.app/Contents/link")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path(QStringLiteral("Package.app/pipe"))).constData(), 0600), 0);

    PMFileCopyAgent agent(path(QStringLiteral("Package.app")), path(QStringLiteral("Copy.app")), &m_handler);
    ASSERT_TRUE(agent.performCopy());

    const QString copy = path(QStringLiteral("Copy.app/Contents/file.txt"));
    const QByteArray copyEncoded = QFile::encodeName(copy);
    const struct stat copied = lstatOf(copy);
    EXPECT_EQ(copied.st_mode & 07777, 0640u);
    EXPECT_EQ(copied.st_mtim.tv_sec, 981173106);
    EXPECT_EQ(copied.st_mtim.tv_nsec, 123456789);
    if (::geteuid() == 0) {
        EXPECT_EQ(copied.st_uid, 1234u);
        EXPECT_EQ(copied.st_gid, 4321u);
    }
    char value[8] = {};
    EXPECT_EQ(::lgetxattr(copyEncoded.constData(), "user.pellmere", value, sizeof value), 3);
    EXPECT_EQ(QByteArray(value), QByteArray("tag"));
    acl_t copiedAcl = acl_get_file(copyEncoded.constData(), ACL_TYPE_ACCESS);
    ASSERT_NE(copiedAcl, nullptr);
    char *text = acl_to_any_text(copiedAcl, nullptr, ',', TEXT_NUMERIC_IDS);
    EXPECT_TRUE(QByteArray(text).contains("user:4242:r--")) << text;
    acl_free(text);
    acl_free(copiedAcl);
    EXPECT_EQ(linkText(path(QStringLiteral("Copy.app/Contents/link"))), QStringLiteral("file.txt"));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("Copy.app/pipe"))));
    EXPECT_TRUE(m_handler.agentErrors.isEmpty());
}

TEST_F(PMFileCopyAgentTest, SparseFileKeepsItsHolesItsDataAndItsLength)
{
    const QString source = path(QStringLiteral("sparse.img"));
    const QByteArray head = patterned(100000);
    const QByteArray middle = patterned(3 * kMiB + 5);
    constexpr qint64 kLength = 512 * kMiB + 77;
    {
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(head), head.size());
        ASSERT_TRUE(file.seek(200 * kMiB));
        ASSERT_EQ(file.write(middle), middle.size());
        ASSERT_TRUE(file.resize(kLength));
    }
    PMFileCopyAgent agent(source, path(QStringLiteral("copy.img")), &m_handler);
    ASSERT_TRUE(agent.performCopy());

    QFile copy(path(QStringLiteral("copy.img")));
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.size(), kLength);
    EXPECT_EQ(copy.read(head.size()), head);
    EXPECT_EQ(copy.read(1000), QByteArray(1000, '\0'));
    ASSERT_TRUE(copy.seek(200 * kMiB - 10));
    EXPECT_EQ(copy.read(middle.size() + 20), QByteArray(10, '\0') + middle + QByteArray(10, '\0'));
    ASSERT_TRUE(copy.seek(kLength - 5));
    EXPECT_EQ(copy.read(10), QByteArray(5, '\0'));
    // Allocated: about the data, nowhere near the length.
    EXPECT_LT(qint64(lstatOf(copy.fileName()).st_blocks) * 512, 64 * kMiB);
    EXPECT_EQ(agent.totalFinished(), quint64(kLength));
}

TEST_F(PMFileCopyAgentTest, MissingSourceIsAskedAboutWithBothPaths)
{
    PMFileCopyAgent agent(path(QStringLiteral("missing")), path(QStringLiteral("copy")), &m_handler);
    EXPECT_FALSE(agent.performCopy());
    ASSERT_EQ(m_handler.agentErrors.size(), 1);
    const PMFileCopyError &error = m_handler.agentErrors.first();
    EXPECT_EQ(error.domain, QStringLiteral("com.corvane.FileCopyAgentDomain"));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_EQ(error.userInfo.value(QStringLiteral("com.corvane.FileCopyAgent.PMFileCopyFromPathKey")).toString(),
        path(QStringLiteral("missing")));
    EXPECT_EQ(error.userInfo.value(QStringLiteral("com.corvane.FileCopyAgent.PMFileCopyToPathKey")).toString(),
        path(QStringLiteral("copy")));
}

class PMFileCopyAgentFullDriveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString whyNot;
        m_drive = testsupport::DriveImage::create(testsupport::DriveImage::FileSystem::Ext4, 8, &whyNot);
        if (!m_drive || !m_drive->mount(false, &whyNot))
            GTEST_SKIP() << whyNot.toStdString();
        testsupport::writeFile(join(m_source.path(), QStringLiteral("Bundle.app/a.bin")), patterned(12 * kMiB));
        testsupport::writeFile(join(m_source.path(), QStringLiteral("Bundle.app/b.bin")), patterned(12 * kMiB));
    }

    QTemporaryDir m_source;
    std::unique_ptr<testsupport::DriveImage> m_drive;
    RecordingHandler m_handler;
};

TEST_F(PMFileCopyAgentFullDriveTest, NoSpaceIsAskedAboutAndQuitStopsTheWholeCopy)
{
    m_handler.agentAnswer = PMFileCopyAgentDelegate::Quit;
    PMFileCopyAgent agent(join(m_source.path(), QStringLiteral("Bundle.app")),
        join(m_drive->mountPoint(), QStringLiteral("Bundle.app")), &m_handler);
    EXPECT_FALSE(agent.performCopy());
    ASSERT_EQ(m_handler.agentErrors.size(), 1);
    EXPECT_EQ(m_handler.agentErrors.first().code, ENOSPC);
    EXPECT_TRUE(m_handler.agentErrors.first().fromPath().startsWith(m_source.path()));
    EXPECT_TRUE(m_handler.agentErrors.first().toPath().startsWith(m_drive->mountPoint()));
}

TEST_F(PMFileCopyAgentFullDriveTest, SkipGivesUpOneFileAndGoesOnWithTheNext)
{
    m_handler.agentAnswer = PMFileCopyAgentDelegate::Skip;
    PMFileCopyAgent agent(join(m_source.path(), QStringLiteral("Bundle.app")),
        join(m_drive->mountPoint(), QStringLiteral("Bundle.app")), &m_handler);
    EXPECT_FALSE(agent.performCopy());
    // Both files met the full drive: the second was still tried after the first was skipped.
    EXPECT_EQ(m_handler.agentErrors.size(), 2);
    for (const PMFileCopyError &error : m_handler.agentErrors)
        EXPECT_EQ(error.code, ENOSPC);
}

TEST_F(PMFileCopyAgentFullDriveTest, NoDescriptorIsLeftOpenByCopiesThatSucceedFailOrAreCancelled)
{
    QTemporaryDir tree;
    for (int folder = 0; folder < 20; ++folder)
        for (int file = 0; file < 10; ++file)
            testsupport::writeFile(
                join(tree.path(), QStringLiteral("F%1/f%2").arg(folder).arg(file)), patterned(file * 100));
    const int before = openDescriptorCount();
    PMFileManager fileManager;
    {
        RecordingHandler handler;
        EXPECT_TRUE(
            fileManager.copyPath(tree.path(), join(m_drive->mountPoint(), QStringLiteral("tree")), true, &handler));
        RecordingHandler quitting;
        quitting.agentAnswer = PMFileCopyAgentDelegate::Quit;
        EXPECT_FALSE(fileManager.copyPath(join(m_source.path(), QStringLiteral("Bundle.app")),
            join(m_drive->mountPoint(), QStringLiteral("Bundle.app")), true, &quitting));
        RecordingHandler cancelling;
        cancelling.cancelAtBytes = 1;
        EXPECT_FALSE(fileManager.copyPath(join(m_source.path(), QStringLiteral("Bundle.app/a.bin")),
            join(m_drive->mountPoint(), QStringLiteral("a.bin")), true, &cancelling));
    }
    EXPECT_EQ(openDescriptorCount(), before);
}

} // namespace
