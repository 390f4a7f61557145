// The fingerprint of a real tree changes with every kind of change and only then.
#include "platform/TreeFingerprint.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

using platform::TreeFingerprint;

namespace {

class TreeFingerprintTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_temp.isValid());
        m_root = m_temp.path() + QStringLiteral("/root");
        testsupport::writeFile(m_root + QStringLiteral("/a/b/song.mp3"), "0123456789");
        testsupport::writeFile(m_root + QStringLiteral("/notes.txt"), "notes");
        testsupport::writeFile(m_temp.path() + QStringLiteral("/outside/file.txt"), "outside");
    }

    QByteArray path(const QString &relative) const { return QFile::encodeName(m_root + u'/' + relative); }
    std::optional<quint64> fingerprint() const { return TreeFingerprint::compute(QFile::encodeName(m_root)); }

    // Asserts that the change made the fingerprint differ, then takes the new one as base.
    void expectChanged(const char *what)
    {
        const std::optional<quint64> now = fingerprint();
        ASSERT_TRUE(now.has_value());
        EXPECT_NE(*now, *m_base) << what;
        EXPECT_EQ(fingerprint(), now) << "unstable after " << what;
        m_base = now;
    }

    QTemporaryDir m_temp;
    QString m_root;
    std::optional<quint64> m_base;
};

TEST_F(TreeFingerprintTest, EveryKindOfChangeChangesItAndNothingElseDoes)
{
    m_base = fingerprint();
    ASSERT_TRUE(m_base.has_value());
    EXPECT_EQ(fingerprint(), m_base);

    // Same size, same content length: only the times tell.
    struct utimbuf old = { 1000000, 1000000 };
    ASSERT_EQ(::utime(path(QStringLiteral("a/b/song.mp3")).constData(), &old), 0);
    expectChanged("times set back");
    testsupport::writeFile(m_root + QStringLiteral("/a/b/song.mp3"), "9876543210");
    expectChanged("rewritten with the same size");
    ASSERT_EQ(::chmod(path(QStringLiteral("notes.txt")).constData(), 0600), 0);
    expectChanged("mode");
    ASSERT_TRUE(QDir().mkpath(m_root + QStringLiteral("/a/empty")));
    expectChanged("empty folder added");
    ASSERT_EQ(::rename(path(QStringLiteral("a/empty")).constData(), path(QStringLiteral("a/b/empty")).constData()), 0);
    expectChanged("folder moved");
    ASSERT_EQ(::unlink(path(QStringLiteral("notes.txt")).constData()), 0);
    expectChanged("file removed");

    // Reading does not change it, nor does a change outside the tree reached by a link.
    ASSERT_EQ(::symlink(QFile::encodeName(m_temp.path() + QStringLiteral("/outside")).constData(),
                  path(QStringLiteral("link")).constData()),
        0);
    expectChanged("link added");
    EXPECT_EQ(testsupport::readFile(m_root + QStringLiteral("/a/b/song.mp3")), "9876543210");
    testsupport::writeFile(m_temp.path() + QStringLiteral("/outside/file.txt"), "changed outside");
    testsupport::writeFile(m_temp.path() + QStringLiteral("/outside/new.txt"), "new outside");
    EXPECT_EQ(fingerprint(), m_base);
}

TEST_F(TreeFingerprintTest, MissingRootOrFileHasNone)
{
    EXPECT_FALSE(TreeFingerprint::compute(path(QStringLiteral("nowhere"))).has_value());
    EXPECT_FALSE(TreeFingerprint::compute(path(QStringLiteral("notes.txt"))).has_value());
    EXPECT_FALSE(TreeFingerprint::compute(QByteArray()).has_value());
}

} // namespace
