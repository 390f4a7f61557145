#include "platform/PMCorvaneUtilities.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace PMCorvaneUtilities;

TEST(PMCorvaneUtilities, TypedGettersAnswerNullForOtherTypes)
{
    const QDateTime date(QDate(2013, 3, 3), QTime(1, 2, 3), Qt::UTC);
    const QVariantMap map {
        { QStringLiteral("number"), qint64(7) },
        { QStringLiteral("string"), QStringLiteral("text") },
        { QStringLiteral("list"), QVariantList { 1 } },
        { QStringLiteral("dict"), QVariantMap { { QStringLiteral("a"), 1 } } },
        { QStringLiteral("empty-dict"), QVariantMap() },
        { QStringLiteral("data"), QByteArray("abc") },
        { QStringLiteral("date"), date },
    };
    EXPECT_TRUE(stringForKey(map, QStringLiteral("number")).isNull()) << "a number is not a string";
    EXPECT_EQ(stringForKey(map, QStringLiteral("string")), QStringLiteral("text"));
    EXPECT_FALSE(numberForKey(map, QStringLiteral("string")).isValid());
    EXPECT_EQ(numberForKey(map, QStringLiteral("number")).toLongLong(), 7);
    EXPECT_FALSE(arrayForKey(map, QStringLiteral("dict")).has_value());
    EXPECT_EQ(arrayForKey(map, QStringLiteral("list"))->size(), 1);
    EXPECT_FALSE(dictionaryForKey(map, QStringLiteral("list")).has_value());
    ASSERT_TRUE(dictionaryForKey(map, QStringLiteral("empty-dict")).has_value()) << "empty is not absent";
    EXPECT_TRUE(dictionaryForKey(map, QStringLiteral("empty-dict"))->isEmpty());
    EXPECT_FALSE(dictionaryForKey(map, QStringLiteral("missing")).has_value());
    EXPECT_TRUE(dataForKey(map, QStringLiteral("string")).isNull());
    EXPECT_EQ(dataForKey(map, QStringLiteral("data")), QByteArray("abc"));
    EXPECT_FALSE(dateForKey(map, QStringLiteral("number")).isValid());
    EXPECT_EQ(dateForKey(map, QStringLiteral("date")), date);
}

TEST(PMCorvaneUtilities, BoolForKeyUsesTheValuesBooleanMeaning)
{
    struct Case {
        QVariant value;
        bool expected;
    };
    const QList<Case> cases = {
        { true, true },
        { false, false },
        { 1, true },
        { 0, false },
        { 0.5, true },
        { QStringLiteral("YES"), true },
        { QStringLiteral("yes"), true },
        { QStringLiteral("true"), true },
        { QStringLiteral("  +007"), true },
        { QStringLiteral("0"), false },
        { QStringLiteral("NO"), false },
        { QStringLiteral(""), false },
        { QVariantList { true }, false },
    };
    for (const Case &c : cases) {
        const QVariantMap map { { QStringLiteral("k"), c.value } };
        EXPECT_EQ(boolForKey(map, QStringLiteral("k")), c.expected) << c.value.toString().toStdString();
    }
    EXPECT_FALSE(boolForKey(QVariantMap(), QStringLiteral("absent")));

    QVariantMap mutableMap;
    setBool(mutableMap, QStringLiteral("flag"), true);
    EXPECT_EQ(mutableMap.value(QStringLiteral("flag")).typeId(), QMetaType::Bool);
    EXPECT_TRUE(boolForKey(mutableMap, QStringLiteral("flag")));
}

TEST(PMCorvaneUtilities, RealPathResolvesLinksAndDotsOrAnswersNull)
{
    QTemporaryDir dir;
    const QString real = stringWithRealPath(dir.path());
    ASSERT_FALSE(real.isEmpty());
    QDir().mkpath(dir.filePath(QStringLiteral("target/inner")));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("target")), dir.filePath(QStringLiteral("link"))));
    EXPECT_EQ(stringWithRealPath(dir.filePath(QStringLiteral("link/inner/.."))), real + QStringLiteral("/target"));
    EXPECT_TRUE(stringWithRealPath(dir.filePath(QStringLiteral("missing"))).isNull());
    EXPECT_TRUE(stringWithRealPath(QString()).isNull());
}

TEST(PMCorvaneUtilities, PackagesAreFoldersWithAKnownSuffix)
{
    QTemporaryDir dir;
    const QString library = dir.filePath(QStringLiteral("Photos.PhotoLibrary"));
    QDir().mkpath(library);
    QDir().mkpath(dir.filePath(QStringLiteral("Plain")));
    testsupport::writeFile(dir.filePath(QStringLiteral("file.app")), "not a folder");
    EXPECT_TRUE(isPackagePath(library)) << "suffixes compare without regard to case";
    EXPECT_TRUE(isPackagePath(library + QLatin1Char('/')));
    EXPECT_FALSE(isPackagePath(dir.filePath(QStringLiteral("Plain"))));
    EXPECT_FALSE(isPackagePath(dir.filePath(QStringLiteral("file.app")))) << "a file is never a package";
    EXPECT_FALSE(isPackagePath(dir.filePath(QStringLiteral("missing.app"))));
}

TEST(PMCorvaneUtilities, DevNodeIsAbsentForVirtualFileSystems)
{
    EXPECT_TRUE(stringWithDevNodeFromMountPoint(QStringLiteral("/proc")).isNull());
    EXPECT_TRUE(stringWithDevNodeFromMountPoint(QStringLiteral("/no/such/mount")).isNull());
}

TEST(PMCorvaneUtilities, ComputerNamesAreNeverEmpty)
{
    EXPECT_FALSE(stringWithHostname().isEmpty());
    EXPECT_FALSE(stringWithMachineName().isEmpty());
    const QString mac = stringWithPrimaryMACAddressWithColons(true);
    ASSERT_FALSE(mac.isEmpty());
    EXPECT_EQ(mac.size(), 17);
    EXPECT_EQ(stringWithPrimaryMACAddressWithColons(false), QString(mac).remove(QLatin1Char(':')));
}
