#include "manager/prefs/LUMContinuousSyncOnOffDataTransformer.h"
#include "manager/prefs/LUMPreferencesController.h"

#include "platform/CommonPreferences.h"
#include "platform/PropertyList.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::CommonPreferences;

namespace {

const QString kKey = QStringLiteral("com.corvane.silenceNetworkAlerts");

QVariantMap fileContents(const QString &path)
{
    const std::optional<QVariant> root = platform::PropertyList::readFile(path);
    EXPECT_TRUE(root.has_value()) << path.toStdString();
    return root ? root->toMap() : QVariantMap();
}

class LUMPreferencesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/corvane/com.corvane.common.plist");
};

} // namespace

TEST_F(LUMPreferencesTest, WithoutAFileTheSettingIsOffAndSettingItCreatesTheFileWithOnlyItsKey)
{
    LUMPreferencesController preferences { CommonPreferences(path) };
    EXPECT_FALSE(preferences.silenceNetworkErrors());
    EXPECT_FALSE(preferences.loadSettings().has_value());
    EXPECT_EQ(LUMPreferencesController::defaultSettings(), (QVariantMap { { kKey, false } }));

    QSignalSpy changed(&preferences, &LUMPreferencesController::silenceNetworkErrorsChanged);
    ASSERT_TRUE(preferences.setProperty("silenceNetworkErrors", true)) << "the window binds to the property";
    EXPECT_EQ(fileContents(path), (QVariantMap { { kKey, true } }));
    EXPECT_EQ(changed.size(), 1);
    preferences.setSilenceNetworkErrors(true);
    EXPECT_EQ(changed.size(), 1) << "no change, no notice";

    EXPECT_TRUE(LUMPreferencesController(CommonPreferences(path)).silenceNetworkErrors()) << "read back";
    EXPECT_TRUE(CommonPreferences(path).silenceNetworkAlerts()) << "what the agent will read";
}

TEST_F(LUMPreferencesTest, OtherProgramsKeysAreKeptAndOnlyARealBooleanCounts)
{
    const QVariantMap others = { { QStringLiteral("com.corvane.otherApp.window"), QStringLiteral("wide") },
        { QStringLiteral("com.corvane.otherApp.sizes"), QVariantList { 1, 2, 3 } }, { kKey, QStringLiteral("YES") } };
    ASSERT_TRUE(CommonPreferences(path).saveSettings(others));
    LUMPreferencesController preferences { CommonPreferences(path) };
    EXPECT_FALSE(preferences.silenceNetworkErrors()) << "a string is no boolean";

    preferences.setSilenceNetworkErrors(true);
    QVariantMap expected = others;
    expected.insert(kKey, true);
    EXPECT_EQ(fileContents(path), expected);
    preferences.setSilenceNetworkErrors(false);
    expected.insert(kKey, false);
    EXPECT_EQ(fileContents(path), expected);
}

TEST_F(LUMPreferencesTest, AnUnreadableFileReadsAsOffAndIsReplacedByAGoodOne)
{
    testsupport::writeFile(path, "<plist><dict><key>unclosed");
    LUMPreferencesController preferences { CommonPreferences(path) };
    EXPECT_FALSE(preferences.silenceNetworkErrors());
    preferences.setSilenceNetworkErrors(true);
    EXPECT_EQ(fileContents(path), (QVariantMap { { kKey, true } }));
}

TEST(LUMPreferencesController, TheUsersFileIsTheSharedOneBelowTheConfigFolder)
{
    const QString shared = testsupport::testHome() + QStringLiteral("/.config/corvane/com.corvane.common.plist");
    QFile::remove(shared);
    LUMPreferencesController().setSilenceNetworkErrors(true);
    EXPECT_EQ(fileContents(shared), (QVariantMap { { kKey, true } }));
    QFile::remove(shared);
}

TEST(LUMContinuousSyncOnOffDataTransformer, NoValueStaysNoValueAndBooleansBecomeWords)
{
    const LUMContinuousSyncOnOffDataTransformer onOff;
    EXPECT_TRUE(onOff(QVariant()).isNull());
    EXPECT_FALSE(onOff(QVariant()).isValid());
    EXPECT_FALSE(onOff(QVariant(QString())).isValid()) << "an empty value";
    EXPECT_EQ(onOff(true), QVariant(QStringLiteral("On")));
    EXPECT_EQ(onOff(false), QVariant(QStringLiteral("Off")));
    EXPECT_EQ(onOff(1), QVariant(QStringLiteral("On")));
    EXPECT_EQ(onOff(0), QVariant(QStringLiteral("Off")));
}
