#include "WindowTestFixture.h"

#include "manager/volumes/LUMVolumeBase.h"
#include "netstorage/FSNamesAndTags.h"
#include "platform/PlatformPaths.h"

#include <QDBusConnection>
#include <QDir>

namespace windowtest {

void ListedVolumes::list(const QString &path, const QString &name)
{
    platform::VolumeDescription description;
    description.volumePath = path;
    description.volumeName = name;
    auto volume = std::make_shared<LUMVolumeBase>(description);
    volume->setMounted(true);
    addVolume(volume);
}

void WindowFixture::SetUp()
{
    ASSERT_TRUE(m_scratch.isValid());
    // The volume roots of this test: drives "mounted" below them are other volumes.
    const QString roots = m_scratch.filePath(QStringLiteral("media"));
    ASSERT_TRUE(QDir().mkpath(roots));
    qputenv("PELLMERE_VOLUME_ROOTS", QFile::encodeName(roots));
    m_monitor = std::make_unique<ListedVolumes>(m_describer, FSNamesAndTags::sharedManager());
    m_volumeModel = std::make_unique<LUMVolumeListModel>(*m_monitor);
    // No agent program and no bus: the client is not running and answers defaults.
    m_client = std::make_unique<LUMPellmereInterface>(
        LUMAgentPaths::standard(m_scratch.filePath(QStringLiteral("no-agent/pellmere"))),
        QDBusConnection(QStringLiteral("pellmere-window-test-no-bus")));
    ASSERT_FALSE(m_client->pellmereIsRunning());
    m_controller = std::make_unique<LUMApplicationController>(*m_client, *m_volumeModel);
}

void WindowFixture::TearDown()
{
    m_controller.reset();
    m_client.reset();
    m_volumeModel.reset();
    m_monitor.reset();
    qunsetenv("PELLMERE_VOLUME_ROOTS");
}

QString WindowFixture::listAndSelectDrive(const QString &name)
{
    const QString path = m_scratch.filePath(QStringLiteral("media/") + name);
    QDir().mkpath(path);
    m_monitor->list(path, name);
    for (int row = 0; row < m_volumeModel->rowCount(); ++row) {
        if (m_volumeModel->volumeAt(row)->volumePathName() == path)
            m_controller->selectVolume(row);
    }
    return path;
}

void WindowFixture::createMediaFolders()
{
    using platform::PlatformPaths;
    using platform::UserFolder;
    for (const UserFolder folder :
        { UserFolder::Movies, UserFolder::Music, UserFolder::Pictures, UserFolder::Documents })
        QDir().mkpath(PlatformPaths::userFolder(folder));
}

} // namespace windowtest
