// The controller's plan and default-folder rules: plans inferred from a drive's settings,
// plan changes, the default-folders box and its title.
#include "WindowTestFixture.h"

#include "manager/window/LUMDefaultFolders.h"
#include "platform/PlatformPaths.h"
#include "support/TestEnvironment.h"

#include <QDir>

using platform::PlatformPaths;
using platform::UserFolder;

namespace windowtest {
namespace {

class ControllerTest : public WindowFixture {
protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        createMediaFolders();
    }
    static QStringList mediaFolders()
    {
        return { PlatformPaths::userFolder(UserFolder::Movies), PlatformPaths::userFolder(UserFolder::Music),
            PlatformPaths::userFolder(UserFolder::Pictures) };
    }
};

TEST_F(ControllerTest, APlanChoiceWithoutAnyDriveDoesNothing)
{
    ASSERT_EQ(m_volumeModel->rowCount(), 0);
    const int before = m_controller->syncPlan();
    m_controller->changeSyncPlan(2);
    EXPECT_EQ(m_controller->syncPlan(), before);
    EXPECT_TRUE(m_client->syncPaths().isEmpty());
    EXPECT_FALSE(m_client->syncMusicMode());
    EXPECT_EQ(m_client->syncDeviceFilterMode(), 0);
}

TEST_F(ControllerTest, TheAllMediaPlansSetTheDefaultFoldersCategoriesAndFilter)
{
    listAndSelectDrive();
    m_controller->changeSyncPlan(3);
    const QString own = m_scratch.filePath(QStringLiteral("home/Projects"));
    QDir().mkpath(own);
    m_client->insertSyncPath(0, own);

    m_controller->changeSyncPlan(1);
    EXPECT_EQ(m_controller->syncPlan(), 1);
    EXPECT_EQ(m_client->syncPaths(), mediaFolders()) << "the custom entry is gone";
    EXPECT_TRUE(m_client->syncMoviesMode() && m_client->syncMusicMode() && m_client->syncPicturesMode()
        && m_client->syncDocumentsMode());
    EXPECT_EQ(m_client->syncDeviceFilterMode(), 1);
    EXPECT_EQ(m_controller->includeMediaFolders(), LUMDefaultFolders::All);
    EXPECT_FALSE(m_controller->customControlsActive());
    EXPECT_EQ(m_controller->inferredPlan(), 1);

    m_controller->changeSyncPlan(2);
    EXPECT_EQ(m_client->syncDeviceFilterMode(), 0);
    EXPECT_EQ(m_controller->inferredPlan(), 2);

    // The custom plan keeps what is there and unlocks the controls.
    m_controller->changeSyncPlan(3);
    EXPECT_EQ(m_client->syncPaths(), mediaFolders());
    EXPECT_TRUE(m_controller->customControlsActive());
}

TEST_F(ControllerTest, ThePlanIsInferredFromTheDrivesSettings)
{
    listAndSelectDrive();
    m_controller->changeSyncPlan(2);
    ASSERT_EQ(m_controller->inferredPlan(), 2);
    // One category off: custom.
    m_client->setSyncDocumentsMode(false);
    EXPECT_EQ(m_controller->inferredPlan(), 3);
    m_client->setSyncDocumentsMode(true);
    // A device filter other than "none" or the first device: custom.
    m_client->setSyncDeviceFilterMode(5);
    EXPECT_EQ(m_controller->inferredPlan(), 3);
    m_client->setSyncDeviceFilterMode(0);
    // One folder more than the defaults: custom.
    const QString extra = m_scratch.filePath(QStringLiteral("home/Extra"));
    QDir().mkpath(extra);
    m_client->insertSyncPath(3, extra);
    EXPECT_EQ(m_controller->inferredPlan(), 3);
    m_client->removeSyncPathAt(3);
    // Written with "~", as the agent writes its default set, the folders still count.
    QStringList tilde;
    for (const QString &folder : mediaFolders())
        tilde.append(PlatformPaths::abbreviateWithTilde(folder));
    m_client->setSyncPaths(tilde);
    EXPECT_EQ(m_controller->inferredPlan(), 2);
    // A music library outside the Music folder is one of the defaults once it exists.
    const QString library = m_scratch.filePath(QStringLiteral("home/ExternalMusic"));
    QDir().mkpath(library);
    testsupport::writeFile(
        QDir(PlatformPaths::userFolder(UserFolder::Music)).filePath(QStringLiteral("iTunes Music Library.xml")),
        QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Music Folder</key>"
            "<string>%1</string></dict></plist>\n")
            .arg(QUrl::fromLocalFile(library).toString())
            .toUtf8());
    EXPECT_EQ(LUMDefaultFolders::musicLibraryFolder(), library);
    EXPECT_EQ(m_controller->inferredPlan(), 3) << "the library folder is missing from the list";
    EXPECT_TRUE(m_controller->enableAddDefaultFolders());
    m_client->insertSyncPath(3, library);
    EXPECT_EQ(m_controller->inferredPlan(), 2);
    EXPECT_FALSE(m_controller->enableAddDefaultFolders());
    QFile::remove(
        QDir(PlatformPaths::userFolder(UserFolder::Music)).filePath(QStringLiteral("iTunes Music Library.xml")));
}

TEST_F(ControllerTest, TheDefaultFoldersBoxAddsRemovesAndShowsMixed)
{
    listAndSelectDrive();
    m_controller->changeSyncPlan(3);
    EXPECT_EQ(m_controller->includeMediaFolders(), LUMDefaultFolders::None);
    EXPECT_TRUE(m_controller->enableAddDefaultFolders());
    const QString own = m_scratch.filePath(QStringLiteral("home/Projects"));
    QDir().mkpath(own);
    m_client->insertSyncPath(0, own);

    m_controller->setIncludeMediaFolders(LUMDefaultFolders::All);
    EXPECT_EQ(m_client->syncPaths(), QStringList({ own }) + mediaFolders());
    EXPECT_FALSE(m_controller->enableAddDefaultFolders());

    m_client->removeSyncPathAt(2); // Music
    EXPECT_EQ(m_controller->includeMediaFolders(), LUMDefaultFolders::Some);
    EXPECT_TRUE(m_controller->enableAddDefaultFolders());

    m_controller->setIncludeMediaFolders(LUMDefaultFolders::None);
    EXPECT_EQ(m_client->syncPaths(), QStringList({ own })) << "only the default folders leave";
    EXPECT_EQ(m_controller->includeMediaFolders(), LUMDefaultFolders::None);
}

TEST_F(ControllerTest, TitlesUseTheFoldersOwnNames)
{
    const QString title = LUMDefaultFolders::defaultFoldersTitle();
    EXPECT_TRUE(title.contains(QDir(PlatformPaths::userFolder(UserFolder::Movies)).dirName()));
    EXPECT_TRUE(title.contains(QDir(PlatformPaths::userFolder(UserFolder::Pictures)).dirName()));
    EXPECT_FALSE(LUMDefaultFolders::documentsName().isEmpty());
}

TEST_F(ControllerTest, LosingTheSelectedDriveClearsTheDestination)
{
    const QString drive = listAndSelectDrive();
    EXPECT_EQ(m_client->syncDestinationPath(), drive);
    m_controller->selectVolume(-1);
    EXPECT_TRUE(m_client->syncDestinationPath().isEmpty());
    EXPECT_EQ(m_controller->syncPlan(), 1);
    EXPECT_EQ(m_controller->activity().activityType(), 0);
}

} // namespace
} // namespace windowtest
