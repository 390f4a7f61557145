#include "manager/window/LUMDefaultFolders.h"

#include "agent/settings/PMConfigurationFile.h"
#include "platform/PlatformPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

using platform::PlatformPaths;
using platform::UserFolder;

namespace {

QString folderName(UserFolder folder, const char *fallback)
{
    const QString name = QDir(PlatformPaths::userFolder(folder)).dirName();
    return name.isEmpty() ? QString::fromLatin1(fallback) : name;
}

} // namespace

QString LUMDefaultFolders::normalized(const QString &path)
{
    return QDir::cleanPath(PlatformPaths::expandTilde(path));
}

bool LUMDefaultFolders::containsPath(const QStringList &syncPaths, const QString &path)
{
    const QString wanted = normalized(path);
    for (const QString &entry : syncPaths) {
        if (normalized(entry) == wanted)
            return true;
    }
    return false;
}

QString LUMDefaultFolders::musicLibraryFolder()
{
    const QString folder = PMConfigurationFile::getiTunesMusicLibraryPath();
    return !folder.isEmpty() && QFileInfo::exists(folder) ? folder : QString();
}

QStringList LUMDefaultFolders::presentFolders()
{
    QStringList folders;
    for (const UserFolder folder : { UserFolder::Movies, UserFolder::Music, UserFolder::Pictures })
        folders.append(PlatformPaths::userFolder(folder));
    for (const QString &library : { musicLibraryFolder(), PMConfigurationFile::getiPhotoLibraryPath(),
             PMConfigurationFile::getPhotoBoothLibraryPath() }) {
        const QString expanded = PlatformPaths::expandTilde(library);
        if (!expanded.isEmpty() && QFileInfo::exists(expanded))
            folders.append(expanded);
    }
    return folders;
}

int LUMDefaultFolders::evaluate(const QStringList &syncPaths, const QStringList &present)
{
    qsizetype found = 0;
    for (const QString &folder : present) {
        if (containsPath(syncPaths, folder))
            ++found;
    }
    if (found == present.size())
        return All;
    return found == 0 ? None : Some;
}

bool LUMDefaultFolders::enableAdd(const QStringList &syncPaths)
{
    for (const UserFolder folder : { UserFolder::Movies, UserFolder::Music, UserFolder::Pictures }) {
        if (!containsPath(syncPaths, PlatformPaths::userFolder(folder)))
            return true;
    }
    const QString library = musicLibraryFolder();
    return !library.isEmpty() && !containsPath(syncPaths, library);
}

bool LUMDefaultFolders::isExactlyDefault(const QStringList &syncPaths, const QStringList &present)
{
    if (evaluate(syncPaths, present) != All)
        return false;
    for (const QString &entry : syncPaths) {
        if (!containsPath(present, entry))
            return false;
    }
    return true;
}

QString LUMDefaultFolders::defaultFoldersTitle()
{
    return QCoreApplication::translate("Localizable", "Include my %1, %2 and %3 folders")
        .arg(moviesName(), musicName(), picturesName());
}

QString LUMDefaultFolders::moviesName()
{
    return folderName(UserFolder::Movies, "Movies(en)");
}

QString LUMDefaultFolders::musicName()
{
    return folderName(UserFolder::Music, "Music(en)");
}

QString LUMDefaultFolders::picturesName()
{
    return folderName(UserFolder::Pictures, "Pictures(en)");
}

QString LUMDefaultFolders::documentsName()
{
    return folderName(UserFolder::Documents, "Documents(en)");
}
