#include "platform/ConfinedPath.h"

#include "platform/FileNameCodec.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

struct DirCloser {
    void operator()(DIR *dir) const { closedir(dir); }
};

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Why name in the folder open at parentFd could not be opened as a folder.
platform::ConfinedPath::Status statusOfFailedOpen(int parentFd, const char *name, int error)
{
    struct stat item = {};
    if (fstatat(parentFd, name, &item, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? platform::ConfinedPath::Status::Missing : platform::ConfinedPath::Status::Failed;
    if (S_ISLNK(item.st_mode))
        return platform::ConfinedPath::Status::Link;
    if (!S_ISDIR(item.st_mode))
        return platform::ConfinedPath::Status::NotAFolder;
    return error == ENOENT ? platform::ConfinedPath::Status::Missing : platform::ConfinedPath::Status::Failed;
}

// Opens the folder at relative (plain names joined by "/") below the folder open at rootFd in
// one call, the kernel refusing any link on the way and any step out of the root. Invalid when
// the kernel lacks openat2 or anything stands in the way; the caller then walks component by
// component, which also tells what stood there.
platform::UniqueFd openBeneath(int rootFd, const QByteArray &relative)
{
    open_how how = {};
    how.flags = kFolderFlags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = syscall(SYS_openat2, rootFd, relative.constData(), &how, sizeof how);
    return platform::UniqueFd(fd >= 0 ? int(fd) : -1);
}

} // namespace

namespace platform {

ConfinedPath::ConfinedPath(QString root, const QString &relative, std::optional<dev_t> rootDevice)
    : m_root(std::move(root))
    , m_rootDevice(rootDevice)
{
    while (m_root.size() > 1 && m_root.endsWith(QLatin1Char('/')))
        m_root.chop(1);
    const QStringList parts = relative.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        if (part == QLatin1String(".") || part == QLatin1String(".."))
            m_valid = false;
        m_parts.append(platform::FileNameCodec::encode(part));
    }
    if (m_parts.isEmpty() || m_root.isEmpty())
        m_valid = false;
}

QString ConfinedPath::pathOf(qsizetype count) const
{
    QString path = m_root;
    for (qsizetype i = 0; i < count && i < m_parts.size(); ++i) {
        if (!path.endsWith(QLatin1Char('/')))
            path += QLatin1Char('/');
        path += platform::FileNameCodec::decode(m_parts.at(i));
    }
    return path;
}

QString ConfinedPath::path() const
{
    return pathOf(m_parts.size());
}

QByteArray ConfinedPath::lastName() const
{
    return m_parts.isEmpty() ? QByteArray() : m_parts.last();
}

bool ConfinedPath::isOnRootDevice(int rootFd) const
{
    if (!m_rootDevice)
        return true;
    struct stat root = {};
    return fstat(rootFd, &root) == 0 && root.st_dev == *m_rootDevice;
}

UniqueFd ConfinedPath::walk(qsizetype count, bool create, std::optional<mode_t> mode, Result *result) const
{
    Result outcome;
    UniqueFd current;
    if (!m_valid) {
        outcome = { Status::Failed, path(), EINVAL };
    } else {
        // The root itself is trusted: it may be reached through links of the computer.
        current.reset(::open(platform::FileNameCodec::encode(m_root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!current.isValid())
            outcome = { errno == ENOENT ? Status::Missing : Status::Failed, m_root, errno };
        else if (!isOnRootDevice(current.get()))
            outcome = { Status::Failed, m_root, ENODEV };
    }
    // Most walks find every folder in place: one call instead of one per component (a copy
    // onto the drive reaches each file's folder this way).
    if (outcome.ok() && count > 0) {
        QByteArray relative;
        for (qsizetype i = 0; i < count; ++i) {
            if (i > 0)
                relative += '/';
            relative += m_parts.at(i);
        }
        if (UniqueFd beneath = openBeneath(current.get(), relative); beneath.isValid()) {
            if (result)
                *result = outcome;
            return beneath;
        }
    }
    for (qsizetype i = 0; outcome.ok() && i < count; ++i) {
        const char *name = m_parts.at(i).constData();
        UniqueFd next(openat(current.get(), name, kFolderFlags));
        if (!next.isValid() && errno == ENOENT && create) {
            if (mkdirat(current.get(), name, 0777) == 0 || errno == EEXIST) {
                next.reset(openat(current.get(), name, kFolderFlags));
                if (next.isValid() && i + 1 == count && mode)
                    static_cast<void>(fchmod(next.get(), *mode));
            }
        }
        if (!next.isValid()) {
            const int error = errno;
            outcome = { statusOfFailedOpen(current.get(), name, error), pathOf(i + 1), error };
            break;
        }
        current = std::move(next);
    }
    if (!outcome.ok())
        current.reset();
    if (result)
        *result = outcome;
    return current;
}

ConfinedPath::Result ConfinedPath::check() const
{
    Result result;
    static_cast<void>(walk(m_parts.size(), false, std::nullopt, &result));
    if (result.status == Status::Missing)
        result = Result();
    return result;
}

UniqueFd ConfinedPath::openFolder(Result *result) const
{
    return walk(m_parts.size(), false, std::nullopt, result);
}

UniqueFd ConfinedPath::openParent(Result *result) const
{
    return walk(m_parts.size() - 1, false, std::nullopt, result);
}

UniqueFd ConfinedPath::makeFolders(std::optional<mode_t> mode, Result *result) const
{
    return walk(m_parts.size(), true, mode, result);
}

ConfinedPath::Result ConfinedPath::remove() const
{
    Result result;
    const UniqueFd parent = openParent(&result);
    if (result.status == Status::Missing)
        return Result();
    if (!result.ok())
        return result;
    const int error = removeTreeAt(parent.get(), lastName());
    if (error != 0)
        return { Status::Failed, path(), error };
    return result;
}

int ConfinedPath::removeTreeAt(int parentFd, const QByteArray &name)
{
    struct stat item = {};
    if (fstatat(parentFd, name.constData(), &item, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? 0 : errno;
    if (!S_ISDIR(item.st_mode))
        return unlinkat(parentFd, name.constData(), 0) == 0 || errno == ENOENT ? 0 : errno;

    UniqueFd folder(openat(parentFd, name.constData(), kFolderFlags));
    if (!folder.isValid())
        return errno;
    // The names are read first and the listing closed, so a deep tree holds one descriptor
    // per level, not two.
    QList<QByteArray> children;
    {
        const int listingFd = fcntl(folder.get(), F_DUPFD_CLOEXEC, 0);
        if (listingFd < 0)
            return errno;
        std::unique_ptr<DIR, DirCloser> listing(fdopendir(listingFd));
        if (!listing) {
            const int error = errno;
            ::close(listingFd);
            return error;
        }
        while (const dirent *entry = readdir(listing.get())) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                children.append(QByteArray(entry->d_name));
        }
    }
    int firstError = 0;
    for (const QByteArray &child : children) {
        const int error = removeTreeAt(folder.get(), child);
        if (error != 0 && firstError == 0)
            firstError = error;
    }
    folder.reset();
    if (unlinkat(parentFd, name.constData(), AT_REMOVEDIR) != 0 && errno != ENOENT && firstError == 0)
        firstError = errno;
    return firstError;
}

} // namespace platform
