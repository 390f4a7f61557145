#include "agent/sync/PMCaseProbe.h"

#include "agent/copy/PMFileSystemKind.h"
#include "agent/copy/PMUniqueFd.h"
#include "platform/FileNameCodec.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool PMCaseProbe::ignoresCase(const QString &folder)
{
    const PMUniqueFd folderFd(
        ::open(platform::FileNameCodec::encode(folder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    const char *probe = ".PmCaseProbe";
    const char *otherCase = ".pMcASEpROBE";
    if (folderFd.isValid()) {
        PMUniqueFd file(::openat(folderFd.get(), probe, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (file.isValid()) {
            struct stat found = {};
            const bool ignores = fstatat(folderFd.get(), otherCase, &found, AT_SYMLINK_NOFOLLOW) == 0;
            file.reset();
            unlinkat(folderFd.get(), probe, 0);
            return ignores;
        }
    }
    const QString kind = PMFileSystemKind::kindForPath(folder);
    return kind == QLatin1String("vfat") || kind == QLatin1String("msdos") || kind == QLatin1String("exfat");
}
