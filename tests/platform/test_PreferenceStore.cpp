#include "platform/PreferenceStore.h"
#include "platform/PropertyList.h"

#include "support/TestEnvironment.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::PreferenceStore;

TEST(PreferenceStore, RegisteredDefaultsAnswerUntilAValueIsStored)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sub/defaults.plist"));
    PreferenceStore store(path);
    store.registerDefaults({ { QStringLiteral("debug"), false } });
    EXPECT_FALSE(store.boolValue(QStringLiteral("debug")));
    EXPECT_FALSE(QFile::exists(path)) << "reading writes nothing";

    ASSERT_TRUE(store.setValue(QStringLiteral("debug"), true));
    EXPECT_TRUE(store.boolValue(QStringLiteral("debug")));
    const auto onDisk = platform::PropertyList::readFile(path);
    ASSERT_TRUE(onDisk.has_value());
    EXPECT_EQ(onDisk->toMap().value(QStringLiteral("debug")), QVariant(true));
}

TEST(PreferenceStore, SeesChangesWrittenByAnotherProcess)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("defaults.plist"));
    PreferenceStore store(path);
    EXPECT_FALSE(store.boolValue(QStringLiteral("debug")));
    // Another writer replaces the file (different size, so the change is seen at once).
    ASSERT_TRUE(platform::PropertyList::writeFile(
        path, QVariantMap { { QStringLiteral("debug"), true }, { QStringLiteral("other"), QStringLiteral("x") } }));
    EXPECT_TRUE(store.boolValue(QStringLiteral("debug")));
}

TEST(PreferenceStore, ACorruptFileReadsAsEmptyAndIsReplacedOnWrite)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("defaults.plist"));
    testsupport::writeFile(path, "<plist><dict><key>debug");
    PreferenceStore store(path);
    EXPECT_FALSE(store.value(QStringLiteral("debug")).isValid());
    ASSERT_TRUE(store.setValue(QStringLiteral("debug"), true));
    EXPECT_TRUE(platform::PropertyList::readFile(path).has_value());
}
