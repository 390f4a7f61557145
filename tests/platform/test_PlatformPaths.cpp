#include "platform/PlatformPaths.h"

#include "support/TestEnvironment.h"

#include <QDir>

#include <gtest/gtest.h>

using platform::PlatformPaths;
using platform::UserFolder;

namespace {

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const QByteArray &value)
        : m_name(name)
        , m_had(qEnvironmentVariableIsSet(name))
        , m_old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

} // namespace

TEST(PlatformPaths, FollowsTheXdgBaseDirectories)
{
    const QString home = testsupport::testHome();
    EXPECT_EQ(PlatformPaths::agentLogPath(), home + QStringLiteral("/.local/state/pellmere/Pellmere.log"));
    EXPECT_EQ(PlatformPaths::managerLogPath(), home + QStringLiteral("/.local/state/pellmere/PellmereUI.log"));
    EXPECT_EQ(
        PlatformPaths::commonPreferencesPath(), home + QStringLiteral("/.config/corvane/com.corvane.common.plist"));
    EXPECT_EQ(PlatformPaths::autoUpdateDirectory(QStringLiteral("Pellmere")),
        home + QStringLiteral("/.config/corvane/AutoUpdate/Pellmere"));
    EXPECT_EQ(PlatformPaths::hostPreferencesPath(QStringLiteral("box/1")),
        home + QStringLiteral("/.config/pellmere/preferences.box_1.plist"));

    // Relative values are invalid by the XDG rules and ignored.
    ScopedEnv relative("XDG_STATE_HOME", "relative/state");
    EXPECT_EQ(PlatformPaths::stateHome(), home + QStringLiteral("/.local/state"));
}

TEST(PlatformPaths, UserFoldersComeFromUserDirsWithEnglishFallbacks)
{
    const QString home = testsupport::testHome();
    const QString dirs = PlatformPaths::configHome() + QStringLiteral("/user-dirs.dirs");
    QFile::remove(dirs);
    EXPECT_EQ(PlatformPaths::userFolder(UserFolder::Music), home + QStringLiteral("/Music"));
    EXPECT_EQ(PlatformPaths::userFolder(UserFolder::Movies), home + QStringLiteral("/Videos"));

    testsupport::writeFile(dirs,
        "# written by xdg-user-dirs-update\n"
        "XDG_MUSIC_DIR=\"$HOME/Musik\"\n"
        "XDG_VIDEOS_DIR=\"/srv/films\"\n"
        "XDG_PICTURES_DIR=\"$HOME/\"\n"
        "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n");
    EXPECT_EQ(PlatformPaths::userFolder(UserFolder::Music), home + QStringLiteral("/Musik"));
    EXPECT_EQ(PlatformPaths::userFolder(UserFolder::Movies), QStringLiteral("/srv/films"));
    EXPECT_EQ(PlatformPaths::userFolder(UserFolder::Pictures), home + QStringLiteral("/Pictures"))
        << "a folder set to $HOME itself means disabled";
    EXPECT_EQ(PlatformPaths::userFolder(UserFolder::Desktop), home + QStringLiteral("/Downloads"))
        << "Downloads stands in for a missing Desktop";
    QFile::remove(dirs);
}

TEST(PlatformPaths, VolumeDirectoryIsTheFirstComponentBelowAVolumeRoot)
{
    const QString user = PlatformPaths::volumeRoots().first();
    EXPECT_EQ(PlatformPaths::volumeDirectoryContaining(user + QStringLiteral("/Photos/2010/a.jpg")),
        user + QStringLiteral("/Photos"));
    EXPECT_EQ(PlatformPaths::volumeDirectoryContaining(QStringLiteral("/mnt/usb/x")), QStringLiteral("/mnt/usb"));
    EXPECT_EQ(PlatformPaths::volumeDirectoryContaining(QStringLiteral("/mnt/usb/../../etc")), QString());
    EXPECT_EQ(PlatformPaths::volumeDirectoryContaining(QStringLiteral("/home/alice/Music")), QString());
    EXPECT_EQ(PlatformPaths::volumeDirectoryContaining(QStringLiteral("/mnt")), QString());
}

TEST(PlatformPaths, TildeExpansionWorksOnWholeComponents)
{
    const QString home = testsupport::testHome();
    EXPECT_EQ(PlatformPaths::expandTilde(QStringLiteral("~/Music")), home + QStringLiteral("/Music"));
    EXPECT_EQ(PlatformPaths::expandTilde(QStringLiteral("~")), home);
    EXPECT_EQ(PlatformPaths::expandTilde(QStringLiteral("~bob/Music")), QStringLiteral("~bob/Music"));
    EXPECT_EQ(PlatformPaths::abbreviateWithTilde(home + QStringLiteral("/Music")), QStringLiteral("~/Music"));
    EXPECT_EQ(PlatformPaths::abbreviateWithTilde(home + QStringLiteral("2/Music")), home + QStringLiteral("2/Music"));
}
