// The updater's rules on their own: version order, which upgrade entry applies, when the next
// check is due, the names downloads get, which addresses are accepted, how archives are
// unpacked (and refused), and where the new copy is found.
#include "TestArchive.h"
#include "autoupdate/AUAnswer.h"
#include "autoupdate/AUArchiveExtractor.h"
#include "autoupdate/AUDownloadName.h"
#include "autoupdate/AUHandOver.h"
#include "autoupdate/AUSchedule.h"
#include "autoupdate/AUServiceAddress.h"
#include "autoupdate/AUVersion.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QVariantMap entry(const QString &os, const QString &product, const QString &oldVersion, const QString &newVersion)
{
    QVariantMap map;
    map.insert(QStringLiteral("OS"), os);
    map.insert(QStringLiteral("product"), product);
    map.insert(QStringLiteral("old-Version"), oldVersion);
    map.insert(QStringLiteral("new-Version"), newVersion);
    map.insert(QStringLiteral("SWURL"), QString(QStringLiteral("https://example.invalid/") + newVersion));
    return map;
}

QVariant answerOf(const QVariantList &entries)
{
    return QVariantMap { { QStringLiteral("Upgrade"), entries } };
}

QDateTime at(int year, int month, int day, int hour = 12)
{
    return QDateTime(QDate(year, month, day), QTime(hour, 0), Qt::UTC);
}

} // namespace

TEST(AutoUpdateVersions, ComparesPartsAsNumbersUpToFour)
{
    EXPECT_EQ(AUVersion::compare(QStringLiteral("1.10"), QStringLiteral("1.9")), 1);
    EXPECT_EQ(AUVersion::compare(QStringLiteral("1.9"), QStringLiteral("1.10")), -1);
    EXPECT_EQ(AUVersion::compare(QStringLiteral("2.0"), QStringLiteral("2.0.0.0")), 0);
    EXPECT_EQ(AUVersion::compare(QStringLiteral("1.2.3.4.9"), QStringLiteral("1.2.3.4.1")), 0);
    EXPECT_EQ(AUVersion::compare(QStringLiteral("1.beta"), QStringLiteral("1.0")), 0);
    EXPECT_EQ(AUVersion::compare(QString(), QStringLiteral("0.0.1")), -1);
}

TEST(AutoUpdateAnswers, PicksTheFirstEntryForThisSystemProductAndVersion)
{
    const QVariant answer = answerOf(
        { entry(QStringLiteral("LINUX"), QStringLiteral("Pellmere"), QStringLiteral("1.0"), QStringLiteral("1.3")) });
    EXPECT_EQ(AUAnswer::matchingUpgrade(answer, QStringLiteral("Pellmere"), QStringLiteral("1.2.0"))
                  .value(QStringLiteral("new-Version")),
        QStringLiteral("1.3"));
    EXPECT_TRUE(AUAnswer::matchingUpgrade(answer, QStringLiteral("Pellmere"), QStringLiteral("1.3")).isEmpty());
    EXPECT_TRUE(AUAnswer::matchingUpgrade(answer, QStringLiteral("Pellmere"), QStringLiteral("0.9")).isEmpty());
    EXPECT_FALSE(AUAnswer::matchingUpgrade(answer, QStringLiteral("Pellmere"), QStringLiteral("1.0")).isEmpty());

    const QVariant otherCase = answerOf(
        { entry(QStringLiteral("linux"), QStringLiteral("PELLMERE"), QStringLiteral("1.0"), QStringLiteral("1.3")) });
    EXPECT_FALSE(AUAnswer::matchingUpgrade(otherCase, QStringLiteral("Pellmere"), QStringLiteral("1.2")).isEmpty());

    // Another system's or product's entries, and incomplete ones, are passed over.
    QVariantMap incomplete
        = entry(QStringLiteral("LINUX"), QStringLiteral("Pellmere"), QStringLiteral("1.0"), QStringLiteral("1.4"));
    incomplete.remove(QStringLiteral("old-Version"));
    const QVariant mixed = answerOf(
        { entry(QStringLiteral("MAC"), QStringLiteral("Pellmere"), QStringLiteral("1.0"), QStringLiteral("1.5")),
            entry(QStringLiteral("LINUX"), QStringLiteral("Other"), QStringLiteral("1.0"), QStringLiteral("1.6")),
            incomplete, QStringLiteral("not a dictionary"),
            entry(QStringLiteral("Linux"), QStringLiteral("pellmere"), QStringLiteral("1.1"), QStringLiteral("1.7")),
            entry(QStringLiteral("LINUX"), QStringLiteral("Pellmere"), QStringLiteral("1.0"), QStringLiteral("1.8")) });
    EXPECT_EQ(AUAnswer::matchingUpgrade(mixed, QStringLiteral("Pellmere"), QStringLiteral("1.2"))
                  .value(QStringLiteral("new-Version")),
        QStringLiteral("1.7"));

    EXPECT_TRUE(AUAnswer::matchingUpgrade(QVariantMap(), QStringLiteral("Pellmere"), QStringLiteral("1.2")).isEmpty());
    EXPECT_TRUE(AUAnswer::matchingUpgrade(QVariantMap { { QStringLiteral("Upgrade"), QStringLiteral("x") } },
        QStringLiteral("Pellmere"), QStringLiteral("1.2"))
                    .isEmpty());
}

TEST(AutoUpdateSchedule, NextCheckPerCode)
{
    const QDateTime now = at(2026, 3, 10);
    const QDateTime never = AUSchedule::never();
    EXPECT_EQ(never, QDateTime(QDate(2999, 1, 1), QTime(1, 0), Qt::UTC));

    EXPECT_EQ(AUSchedule::nextCheck(0, QDateTime(), now, false), never);
    // Once per start: due now, and never again once this process has checked.
    EXPECT_EQ(AUSchedule::nextCheck(1, at(2026, 3, 9), now, false), now);
    EXPECT_EQ(AUSchedule::nextCheck(1, now, now, true), never);
    // Daily.
    EXPECT_EQ(AUSchedule::nextCheck(2, QDateTime(), now, false), now);
    EXPECT_EQ(AUSchedule::nextCheck(2, now.addSecs(-3600), now, false), now.addSecs(-3600).addDays(1));
    EXPECT_EQ(AUSchedule::nextCheck(2, now.addDays(-1), now, false), now);
    // Weekly, counted in months and days: a month and two days ago is due a week after the
    // last check, which has passed.
    EXPECT_EQ(AUSchedule::nextCheck(3, QDateTime(), now, false), now);
    const QDateTime monthAndTwoDays = at(2026, 2, 8);
    EXPECT_EQ(AUSchedule::nextCheck(3, monthAndTwoDays, now, false), monthAndTwoDays.addDays(7));
    EXPECT_EQ(AUSchedule::nextCheck(3, at(2026, 3, 1), now, false), now);
    EXPECT_EQ(AUSchedule::nextCheck(3, at(2026, 3, 5), now, false), at(2026, 3, 12));
    // Monthly.
    EXPECT_EQ(AUSchedule::nextCheck(4, at(2026, 2, 20), now, false), at(2026, 3, 20));
    EXPECT_EQ(AUSchedule::nextCheck(4, at(2026, 2, 10), now, false), now);
    // Unknown codes are due at once.
    EXPECT_EQ(AUSchedule::nextCheck(9, now, now, true), QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));
}

TEST(AutoUpdateDownloadNames, TakeTheFirstFreeNameOfTheSeries)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.path();
    EXPECT_EQ(AUDownloadName::firstFree(path, QStringLiteral("Update.dmg")), QStringLiteral("Update.dmg"));
    testsupport::writeFile(path + QStringLiteral("/Update.dmg"), "1");
    testsupport::writeFile(path + QStringLiteral("/Update-2.dmg"), "2");
    EXPECT_EQ(AUDownloadName::firstFree(path, QStringLiteral("Update.dmg")), QStringLiteral("Update-3.dmg"));
    testsupport::writeFile(path + QStringLiteral("/name"), "x");
    EXPECT_EQ(AUDownloadName::firstFree(path, QStringLiteral("name")), QStringLiteral("name-2"));
    testsupport::writeFile(path + QStringLiteral("/.dmg"), "x");
    EXPECT_EQ(AUDownloadName::firstFree(path, QStringLiteral(".dmg")), QStringLiteral(".dmg-2"));
    // A dangling link holds its name too.
    ASSERT_TRUE(QFile::link(QStringLiteral("/nonexistent"), path + QStringLiteral("/a.tar")));
    EXPECT_EQ(AUDownloadName::firstFree(path, QStringLiteral("a.tar")), QStringLiteral("a-2.tar"));

    EXPECT_EQ(AUDownloadName::fromUrl(QUrl(QStringLiteral("https://h/x/Update.dmg"))), QStringLiteral("Update.dmg"));
    EXPECT_TRUE(AUDownloadName::fromUrl(QUrl(QStringLiteral("https://h/x/"))).isEmpty());
    EXPECT_TRUE(AUDownloadName::fromUrl(QUrl(QStringLiteral("https://h/x/%2E%2E"))).isEmpty());
    EXPECT_EQ(AUDownloadName::fromUrl(QUrl(QStringLiteral("https://h/x/a%2Fb"))), QStringLiteral("b"));
}

TEST(AutoUpdateAddresses, HttpsAnywherePlainHttpOnlyOnThisComputer)
{
    EXPECT_TRUE(AUServiceAddress::isAcceptable(QUrl(QStringLiteral("https://updates.example.com/check"))));
    EXPECT_TRUE(AUServiceAddress::isAcceptable(QUrl(QStringLiteral("http://127.0.0.1:8080/check"))));
    EXPECT_TRUE(AUServiceAddress::isAcceptable(QUrl(QStringLiteral("http://127.9.9.9/check"))));
    EXPECT_TRUE(AUServiceAddress::isAcceptable(QUrl(QStringLiteral("http://[::1]/check"))));
    EXPECT_TRUE(AUServiceAddress::isAcceptable(QUrl(QStringLiteral("http://localhost/check"))));
    EXPECT_FALSE(AUServiceAddress::isAcceptable(QUrl(QStringLiteral("http://updates.example.com/check"))));
    EXPECT_FALSE(AUServiceAddress::isAcceptable(QUrl(QStringLiteral("http://192.168.1.2/check"))));
    EXPECT_FALSE(AUServiceAddress::isAcceptable(QUrl(QStringLiteral("http://127.0.0.1.example.com/check"))));
    EXPECT_FALSE(AUServiceAddress::isAcceptable(QUrl(QStringLiteral("ftp://127.0.0.1/check"))));
    EXPECT_FALSE(AUServiceAddress::isAcceptable(QUrl(QStringLiteral("file:///etc/passwd"))));
    EXPECT_FALSE(AUServiceAddress::isAcceptable(QUrl()));
}

class AutoUpdateArchives : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_archive = m_dir.filePath(QStringLiteral("Update.tar.xz"));
        m_target = m_dir.filePath(QStringLiteral("unpacked"));
        m_outside = m_dir.filePath(QStringLiteral("outside"));
        ASSERT_TRUE(QDir().mkpath(m_target));
    }

    // The archive is refused and nothing of it is left, inside or outside.
    void expectRefused(const QList<TestArchiveEntry> &entries)
    {
        ASSERT_TRUE(makeTestArchive(m_archive, entries));
        QString error;
        EXPECT_FALSE(AUArchiveExtractor::extract(m_archive, m_target, &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_TRUE(QDir(m_target).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
        EXPECT_FALSE(QFileInfo::exists(m_outside));
        EXPECT_FALSE(QFileInfo(m_outside).isSymLink());
    }

    QTemporaryDir m_dir;
    QString m_archive;
    QString m_target;
    QString m_outside;
};

TEST_F(AutoUpdateArchives, UnpacksFilesFoldersModesAndInsideLinks)
{
    ASSERT_TRUE(makeTestArchive(m_archive,
        { { QStringLiteral("app"), TestArchiveEntry::Folder, {}, 0755 },
            { QStringLiteral("app/bin"), TestArchiveEntry::Folder, {}, 0755 },
            { QStringLiteral("app/bin/prog"), TestArchiveEntry::File, "#!/bin/sh\n", 0755 },
            { QStringLiteral("app/lib/data.txt"), TestArchiveEntry::File, "data", 0644 },
            { QStringLiteral("app/lib/current"), TestArchiveEntry::Link, "data.txt" },
            { QStringLiteral("app/bin/up"), TestArchiveEntry::Link, "../lib" },
            { QStringLiteral("app/lib/hard"), TestArchiveEntry::HardLink, "app/lib/data.txt" } }));
    QString error;
    ASSERT_TRUE(AUArchiveExtractor::extract(m_archive, m_target, &error)) << error.toStdString();
    const QFileInfo program(m_target + QStringLiteral("/app/bin/prog"));
    EXPECT_TRUE(program.isFile());
    EXPECT_TRUE(program.isExecutable());
    EXPECT_EQ(testsupport::readFile(m_target + QStringLiteral("/app/lib/data.txt")), "data");
    EXPECT_EQ(QFileInfo(m_target + QStringLiteral("/app/lib/current")).symLinkTarget(),
        QFileInfo(m_target + QStringLiteral("/app/lib/data.txt")).absoluteFilePath());
    EXPECT_EQ(testsupport::readFile(m_target + QStringLiteral("/app/lib/hard")), "data");
}

TEST_F(AutoUpdateArchives, RefusesEntriesThatReachOutsideOrAreDevices)
{
    const TestArchiveEntry harmless { QStringLiteral("app/readme"), TestArchiveEntry::File, "hello" };
    expectRefused({ harmless, { m_outside, TestArchiveEntry::File, "absolute" } });
    expectRefused({ harmless, { QStringLiteral("app/../../outside"), TestArchiveEntry::File, "dotdot" } });
    expectRefused({ harmless, { QStringLiteral("../outside"), TestArchiveEntry::File, "dotdot" } });
    expectRefused({ harmless, { QStringLiteral("app/out"), TestArchiveEntry::Link, "../../outside" } });
    expectRefused({ harmless, { QStringLiteral("app/out"), TestArchiveEntry::Link, m_outside.toUtf8() } });
    // A link made first and written through next.
    expectRefused({ { QStringLiteral("up"), TestArchiveEntry::Link, ".." },
        { QStringLiteral("up/outside"), TestArchiveEntry::File, "through" } });
    expectRefused({ harmless, { QStringLiteral("app/hard"), TestArchiveEntry::HardLink, "../outside" } });
    expectRefused({ harmless, { QStringLiteral("app/null"), TestArchiveEntry::CharDevice } });
}

TEST_F(AutoUpdateArchives, RefusesWhatIsNotAnArchive)
{
    testsupport::writeFile(m_archive, "<html>not an archive</html>");
    QString error;
    EXPECT_FALSE(AUArchiveExtractor::extract(m_archive, m_target, &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(AutoUpdateHandOver, FindsTheNewCopyOnlyAtTheTopLevelUnderTheInstallFoldersName)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString unpacked = dir.filePath(QStringLiteral("unpacked"));
    const QString install = dir.filePath(QStringLiteral("installed/pellmere"));
    const QString relative = QStringLiteral("bin/corvane-pellmere");

    // The archive holds another program only, or the right one one level down.
    testsupport::writeFile(unpacked + QStringLiteral("/other/bin/corvane-pellmere"), "#!/bin/sh\n");
    testsupport::writeFile(unpacked + QStringLiteral("/nested/pellmere/bin/corvane-pellmere"), "#!/bin/sh\n");
    QFile::setPermissions(unpacked + QStringLiteral("/other/bin/corvane-pellmere"), QFile::ReadOwner | QFile::ExeOwner);
    EXPECT_TRUE(AUHandOver::findNewExecutable(unpacked, install, relative).isEmpty());

    // A folder of that name whose program is not executable.
    const QString program = unpacked + QStringLiteral("/pellmere/bin/corvane-pellmere");
    testsupport::writeFile(program, "#!/bin/sh\n");
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_TRUE(AUHandOver::findNewExecutable(unpacked, install, relative).isEmpty());

    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(AUHandOver::findNewExecutable(unpacked, install, relative), program);
    EXPECT_EQ(AUHandOver::findNewExecutable(unpacked, install + QLatin1Char('/'), relative), program);

    // The program may not lead out of the unpacked tree.
    const QString outsider = dir.filePath(QStringLiteral("elsewhere"));
    testsupport::writeFile(outsider, "#!/bin/sh\n");
    QFile::setPermissions(outsider, QFile::ReadOwner | QFile::ExeOwner);
    ASSERT_TRUE(QFile::remove(program));
    ASSERT_TRUE(QFile::link(outsider, program));
    EXPECT_TRUE(AUHandOver::findNewExecutable(unpacked, install, relative).isEmpty());

    // Nor may the folder itself be a link to a copy elsewhere.
    ASSERT_TRUE(QDir(unpacked + QStringLiteral("/pellmere")).removeRecursively());
    ASSERT_TRUE(QFile::link(unpacked + QStringLiteral("/nested/pellmere"), unpacked + QStringLiteral("/pellmere")));
    QFile::setPermissions(
        unpacked + QStringLiteral("/nested/pellmere/bin/corvane-pellmere"), QFile::ReadOwner | QFile::ExeOwner);
    EXPECT_TRUE(AUHandOver::findNewExecutable(unpacked, install, relative).isEmpty());
}
