#include "agent/copy/PMItemOperations.h"

#include "agent/copy/PMCopyHandler.h"
#include "agent/copy/PMCopyLog.h"
#include "agent/copy/PMFileCopyAgent.h"
#include "agent/copy/PMUniqueFd.h"
#include "platform/ConfinedPath.h"
#include "platform/FileNameCodec.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

bool PMItemOperations::noteAnswer(const std::optional<bool> &answer)
{
    if (answer && !*answer)
        m_refused = true;
    return answer.value_or(false);
}

bool PMItemOperations::askMoving(int errorNumber, const QString &source, const QString &destination)
{
    if (!m_handler)
        return false;
    return noteAnswer(m_handler->shouldProceedAfterErrorMovingItem(errorNumber, source, destination));
}

namespace {

constexpr long kFuseSuperMagic = 0x65735546;
// Room a FUSE driver keeps for the index and record growth a rename may need. ntfs-3g, run
// out of space in the middle of a rename, leaves the folder's index naming an entry that
// lookups cannot find: every later attempt to make that name fails with "File exists"
// until the drive is repaired. Refusing the rename while the drive is this full costs
// nothing that could have been copied anyway.
constexpr unsigned long long kFuseRenameReserve = 1024ULL * 1024ULL;

QByteArray parentOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : (slash == 0 ? QByteArray("/") : path.left(slash));
}

// ENOSPC when the destination sits on a FUSE file system with less than the reserve free,
// else 0 (a statfs that fails leaves the rename to report the problem).
int roomForRenameOnFuse(const QByteArray &destination)
{
    struct statfs info = {};
    if (::statfs(parentOf(destination).constData(), &info) != 0 || static_cast<long>(info.f_type) != kFuseSuperMagic)
        return 0;
    const auto available
        = static_cast<unsigned long long>(info.f_bavail) * static_cast<unsigned long long>(info.f_bsize);
    return available < kFuseRenameReserve ? ENOSPC : 0;
}

// A rename answered "exists" for a name a lookup cannot find: the folder's index and its
// entries disagree, which only a damaged file system does. Said as such, so that the user
// is told to check the drive rather than to look for a file that is not there.
int explainExists(int errorNumber, const QByteArray &destination)
{
    struct stat existing = {};
    if (errorNumber == EEXIST && ::lstat(destination.constData(), &existing) != 0 && errno == ENOENT)
        return EUCLEAN;
    return errorNumber;
}

} // namespace

bool PMItemOperations::moveItem(const QString &source, const QString &destination)
{
    const QByteArray from = platform::FileNameCodec::encode(source);
    const QByteArray to = platform::FileNameCodec::encode(destination);
    int result = renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
    if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // File systems without the no-replace rename (FUSE drivers): check, then rename.
        struct stat existing = {};
        if (lstat(to.constData(), &existing) == 0) {
            errno = EEXIST;
            result = -1;
        } else if (const int full = roomForRenameOnFuse(to); full != 0) {
            errno = full;
            result = -1;
        } else {
            result = ::rename(from.constData(), to.constData());
        }
    }
    if (result == 0)
        return true;
    int errorNumber = explainExists(errno, to);
    if (errorNumber == EXDEV) {
        // Across file systems a move is a copy followed by removal of the source.
        PMFileCopyAgent agent(source, destination, nullptr);
        if (agent.performCopy())
            return removeItem(source);
        PMItemOperations cleaner(nullptr);
        cleaner.removeItem(destination);
        errorNumber = EXDEV;
    }
    qCDebug(lcCopy) << "move of" << source << "onto" << destination << "failed:" << strerror(errorNumber);
    return askMoving(errorNumber, source, destination);
}

bool PMItemOperations::replaceItem(const QString &source, const QString &destination)
{
    const QByteArray from = platform::FileNameCodec::encode(source);
    const QByteArray to = platform::FileNameCodec::encode(destination);
    int errorNumber = roomForRenameOnFuse(to);
    if (errorNumber == 0) {
        if (::rename(from.constData(), to.constData()) == 0)
            return true;
        errorNumber = explainExists(errno, to);
    }
    // ntfs-3g replaces an item by first renaming it to a temporary name of its own, longer than
    // the item's: for a name near the 255-character limit it answers EINVAL or EEXIST, errors
    // a rename of a file onto a file never has otherwise. There, as across file systems, the
    // old item is removed and the new one moved into its place; a sync stopped in between
    // finds the item missing and copies it again.
    struct stat existing = {};
    const bool replaceRefused
        = (errorNumber == EINVAL || errorNumber == EEXIST) && ::lstat(to.constData(), &existing) == 0;
    if (errorNumber == EXDEV || replaceRefused) {
        qCDebug(lcCopy) << "rename of" << source << "onto" << destination << "refused (" << strerror(errorNumber)
                        << "): removing, then moving";
        return removeItem(destination) && moveItem(source, destination);
    }
    qCDebug(lcCopy) << "move of" << source << "onto" << destination << "failed:" << strerror(errorNumber);
    return askMoving(errorNumber, source, destination);
}

bool PMItemOperations::removeItem(const QString &path)
{
    // The tree is removed relative to descriptors opened without following links, so a link
    // inside it (or one swapped in meanwhile) is removed itself, never what it points to.
    const QString clean = QDir::cleanPath(path);
    const qsizetype slash = clean.lastIndexOf(QLatin1Char('/'));
    const QString parent = slash < 0 ? QStringLiteral(".") : (slash == 0 ? QStringLiteral("/") : clean.left(slash));
    const QByteArray name = platform::FileNameCodec::encode(clean.mid(slash + 1));
    int errorNumber = 0;
    struct stat item = {};
    if (name.isEmpty() || name == "." || name == "..") {
        errorNumber = EINVAL;
    } else {
        const PMUniqueFd parentFd(
            ::open(platform::FileNameCodec::encode(parent).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!parentFd.isValid() || fstatat(parentFd.get(), name.constData(), &item, AT_SYMLINK_NOFOLLOW) != 0)
            errorNumber = errno;
        else
            errorNumber = platform::ConfinedPath::removeTreeAt(parentFd.get(), name);
    }
    if (errorNumber == 0)
        return true;
    if (!m_handler)
        return false;
    return noteAnswer(m_handler->shouldProceedAfterErrorRemovingItem(errorNumber, path));
}

bool PMItemOperations::createSymbolicLink(const QString &path, const QString &text, const QString &source)
{
    if (::symlink(platform::FileNameCodec::encode(text).constData(), platform::FileNameCodec::encode(path).constData())
        == 0)
        return true;
    const int errorNumber = errno;
    if (!m_handler)
        return false;
    return noteAnswer(m_handler->shouldProceedAfterErrorCopyingItem(errorNumber, source, path));
}

QString PMItemOperations::linkText(const QString &path)
{
    const QByteArray encoded = platform::FileNameCodec::encode(path);
    struct stat item = {};
    if (lstat(encoded.constData(), &item) != 0 || !S_ISLNK(item.st_mode))
        return QString();
    std::vector<char> text(size_t(item.st_size > 0 ? item.st_size : PATH_MAX) + 1);
    const ssize_t length = readlink(encoded.constData(), text.data(), text.size() - 1);
    if (length < 0)
        return QString();
    return platform::FileNameCodec::decode(QByteArray(text.data(), length));
}
