#include "agent/copy/PMFileManager.h"

#include "agent/copy/PMCopyHandler.h"
#include "agent/copy/PMCopyItemFilter.h"
#include "agent/copy/PMCopyLog.h"
#include "agent/copy/PMCopyReadAhead.h"
#include "agent/copy/PMFileCopyAgent.h"
#include "agent/copy/PMFileNameText.h"
#include "agent/copy/PMFileSystemKind.h"
#include "agent/copy/PMItemOperations.h"
#include "agent/copy/PMUniqueFd.h"
#include "agent/log/PMAgentLog.h"
#include "platform/ConfinedPath.h"
#include "platform/FileNameCodec.h"
#include "platform/PMCorvaneUtilities.h"
#include "platform/PlatformPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

namespace {

// strerror(EISDIR) in the C locale; the reporters compare this exact text.
const QString kIsADirectory = QStringLiteral("Is a directory");

struct DirCloser {
    void operator()(DIR *dir) const { closedir(dir); }
};

constexpr quint64 roundedTo512(quint64 size)
{
    return (size + 511) & ~quint64(511);
}

// The size of the folder open at fd, which this call owns; entries are never followed.
quint64 folderSize(int fd)
{
    std::unique_ptr<DIR, DirCloser> listing(fdopendir(fd));
    if (!listing) {
        ::close(fd);
        return 0;
    }
    const int listingFd = dirfd(listing.get());
    quint64 total = 0;
    while (const dirent *entry = readdir(listing.get())) {
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        if (entry->d_type == DT_LNK)
            continue;
        if (entry->d_type == DT_DIR) {
            const int child = openat(listingFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0)
                total += folderSize(child);
            continue;
        }
        struct stat item = {};
        if (fstatat(listingFd, name, &item, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // cannot tell what it is: skipped
        if (S_ISDIR(item.st_mode)) {
            const int child = openat(listingFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0)
                total += folderSize(child);
        } else if (S_ISREG(item.st_mode)) {
            total += roundedTo512(quint64(item.st_size));
        }
    }
    return total;
}

// The direct children's names in listing order (no sorting: the order the folder gives), or
// nullopt with errno set when the folder cannot be read. Names that are not valid UTF-8 are
// carried losslessly (FileNameCodec), so they reach the same bytes again.
std::optional<QStringList> readChildNames(const QString &folder)
{
    PMUniqueFd fd(
        ::open(platform::FileNameCodec::encode(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.isValid())
        return std::nullopt;
    std::unique_ptr<DIR, DirCloser> listing(fdopendir(fd.release()));
    if (!listing)
        return std::nullopt;
    QStringList names;
    errno = 0;
    while (const dirent *entry = readdir(listing.get())) {
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        names.append(platform::FileNameCodec::decode(name));
    }
    if (errno != 0)
        return std::nullopt;
    return names;
}

QStringList childNames(const QString &folder)
{
    return readChildNames(folder).value_or(QStringList());
}

// The children of a folder a copy must read into destination. An unreadable folder is logged
// and answers nullopt; a child whose name the destination's file system cannot hold (not
// valid UTF-8 on FAT, exFAT, NTFS) is logged, left out, and sets *leftOut.
std::optional<QStringList> childNamesToCopy(const QString &folder, const QString &destination, bool *leftOut)
{
    *leftOut = false;
    std::optional<QStringList> names = readChildNames(folder);
    if (!names) {
        if (errno != ENOTDIR)
            PMAgentLog::logMessage(QStringLiteral("Unable to read the folder \"%1\" - %2.")
                                       .arg(folder, QString::fromLocal8Bit(std::strerror(errno))));
        return names;
    }
    const auto notText = [](const QString &name) { return platform::FileNameCodec::hasEscapedBytes(name); };
    // The destination's file system is asked only when such a name is there.
    if (std::none_of(names->cbegin(), names->cend(), notText)
        || PMFileSystemKind::holdsAnyNameBytes(
            PMFileSystemKind::kindForPath(PMFileManager::nearestExistingPath(destination))))
        return names;
    for (const QString &name : std::as_const(*names))
        if (notText(name))
            PMAgentLog::logMessage(QStringLiteral("Unable to copy \"%1\" in \"%2\" - its name is not valid UTF-8.")
                                       .arg(PMFileNameText::escaped(platform::FileNameCodec::encode(name)), folder));
    names->removeIf(notText);
    *leftOut = true;
    return names;
}

QString childPath(const QString &parent, const QString &name)
{
    if (parent.endsWith(QLatin1Char('/')))
        return QString(parent + name);
    return QString(parent + QLatin1Char('/') + name);
}

QString parentPath(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    const qsizetype slash = clean.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    return slash == 0 ? QStringLiteral("/") : clean.left(slash);
}

PMCopyDelegate *delegateOf(PMCopyHandler *handler)
{
    return handler ? handler->delegate() : nullptr;
}

} // namespace

// What an item is, read without following a final link.
struct PMFileManager::ItemKind {
    bool exists = false;
    bool isDirectory = false;
    bool isLink = false;
    bool isPackage = false;
    quint64 fileSize = 0; // a regular file's allocated size, else 0
    struct stat attributes = {};

    bool isPlainFolder() const { return isDirectory && !isPackage; }
    // fastPathSize of the item as it was examined (a folder's tree is measured now).
    quint64 fastSize(const QString &path) const { return isDirectory ? fastFolderSizeAtPath(path) : fileSize; }
};

PMFileManager::ItemKind PMFileManager::itemKindAtPath(const QString &path)
{
    ItemKind kind;
    if (path.isEmpty() || lstat(platform::FileNameCodec::encode(path).constData(), &kind.attributes) != 0)
        return kind;
    kind.exists = true;
    kind.isDirectory = S_ISDIR(kind.attributes.st_mode);
    kind.isLink = S_ISLNK(kind.attributes.st_mode);
    kind.isPackage = kind.isDirectory && PMCorvaneUtilities::isPackagePath(path);
    if (S_ISREG(kind.attributes.st_mode))
        kind.fileSize = roundedTo512(quint64(kind.attributes.st_size));
    return kind;
}

PMFileManager::PMFileManager(const PMCopyItemFilter *filter)
    : m_filter(filter)
{
}

// ---- Sizes ----

quint64 PMFileManager::fastItemSize(const struct stat &item)
{
    return S_ISREG(item.st_mode) ? roundedTo512(quint64(item.st_size)) : 0;
}

quint64 PMFileManager::fastPathSize(const QString &path)
{
    struct stat item = {};
    if (path.isEmpty() || lstat(platform::FileNameCodec::encode(path).constData(), &item) != 0)
        return 0;
    if (S_ISDIR(item.st_mode))
        return fastFolderSizeAtPath(path);
    if (!S_ISREG(item.st_mode))
        return 0;
    return roundedTo512(quint64(item.st_size));
}

quint64 PMFileManager::fastFolderSizeAtPath(const QString &path)
{
    if (path.isEmpty())
        return 0;
    const int fd
        = ::open(platform::FileNameCodec::encode(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return fd < 0 ? 0 : folderSize(fd);
}

// ---- Filter, lock, backup date ----

bool PMFileManager::shouldCopyItem(const QString &path, bool limitTo4G) const
{
    if (!m_filter)
        return true;
    return shouldCopyItem(path, path.section(QLatin1Char('/'), -1), limitTo4G);
}

bool PMFileManager::shouldCopyItem(const QString &path, const QString &baseName, bool limitTo4G) const
{
    return !m_filter || m_filter->shouldCopyItem(path, baseName, limitTo4G);
}

bool PMFileManager::shouldCopyExamined(const QString &path, bool limitTo4G, const ItemKind &kind) const
{
    if (!m_filter)
        return true;
    if (!kind.exists)
        return shouldCopyItem(path, limitTo4G);
    return m_filter->shouldCopyExaminedItem(path, path.section(QLatin1Char('/'), -1), limitTo4G, kind.attributes);
}

static PMUniqueFd openForFlags(const QString &path)
{
    return PMUniqueFd(::open(
        platform::FileNameCodec::encode(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
}

bool PMFileManager::changeLockAtFileAtPath(const QString &path, bool locked)
{
    PMUniqueFd fd = openForFlags(path);
    int flags = 0;
    if (!fd.isValid() || ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) != 0)
        return false;
    const int wanted = locked ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    if (wanted == flags)
        return true;
    return ioctl(fd.get(), FS_IOC_SETFLAGS, &wanted) == 0;
}

bool PMFileManager::isLockedAtPath(const QString &path)
{
    PMUniqueFd fd = openForFlags(path);
    int flags = 0;
    return fd.isValid() && ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_IMMUTABLE_FL) != 0;
}

bool PMFileManager::isLockedItem(const QString &path) const
{
    // Opening an item on a FUSE drive to read its flags is two round trips for nothing.
    if (m_driveCapabilities.known() && !m_driveCapabilities.keepsFlags() && !driveRelative(path).isNull())
        return false;
    return isLockedAtPath(path);
}

void PMFileManager::setSyncBackupDateTo(const QDateTime &date, const QString &path)
{
    Q_UNUSED(date);
    Q_UNUSED(path);
}

QDateTime PMFileManager::syncBackupDateFor(const QString &path) const
{
    Q_UNUSED(path);
    return QDateTime(QDate(1904, 1, 1), QTime(0, 0), Qt::UTC);
}

// ---- Forwarding to the progress owner ----

void PMFileManager::setFileCopyPath(const QString &path, PMCopyHandler *handler)
{
    if (PMCopyDelegate *delegate = delegateOf(handler))
        delegate->setFileCopyPath(path);
}

void PMFileManager::accumulateCopiedData(quint64 bytes, PMCopyHandler *handler)
{
    if (PMCopyDelegate *delegate = delegateOf(handler))
        delegate->accumulateCopiedDataUInt64(bytes);
}

void PMFileManager::accumulateSkipFilteredData(quint64 bytes, PMCopyHandler *handler)
{
    if (PMCopyDelegate *delegate = delegateOf(handler))
        delegate->accumulateSkipFilteredDataUInt64(bytes);
}

void PMFileManager::resetPartiallyCopiedDataHandler(PMCopyHandler *handler)
{
    if (PMCopyDelegate *delegate = delegateOf(handler))
        delegate->resetPartiallyCopiedData();
}

std::optional<bool> PMFileManager::askIsADirectory(
    const QString &source, const QString &destination, PMCopyHandler *handler)
{
    if (!handler)
        return std::nullopt;
    return handler->shouldProceedAfterError(QVariantMap { { PMCopyHandler::kPathKey, source },
        { PMCopyHandler::kToPathKey, destination }, { PMCopyHandler::kErrorKey, kIsADirectory } });
}

// ---- Copy ----

QString PMFileManager::nearestExistingPath(const QString &path)
{
    QString candidate = QDir::cleanPath(path);
    while (!candidate.isEmpty()) {
        struct stat item = {};
        if (::stat(platform::FileNameCodec::encode(candidate).constData(), &item) == 0)
            return candidate;
        if (candidate == QLatin1String("/"))
            break;
        candidate = parentPath(candidate);
    }
    return QString();
}

bool PMFileManager::copyPath(
    const QString &source, const QString &destination, bool copyingToTavrin, PMCopyHandler *handler)
{
    // The 4 GiB limit belongs to the drive: a destination that does not exist yet (a new
    // folder or file) is judged by the nearest folder above it that does, so a big file in a
    // new folder is left out instead of failing half-written on a FAT drive. One look for
    // the whole tree, which stays on that drive.
    const bool limitTo4G = destinationLimitedTo4G(destination);
    m_copyStopped = false;
    m_parentFolder = PMFileCopyAgent::ParentFolder();
    const bool copied = copyTree(source, destination, limitTo4G, copyingToTavrin, handler, ChildFacts {});
    m_parentFolder = PMFileCopyAgent::ParentFolder();
    return copied;
}

bool PMFileManager::destinationLimitedTo4G(const QString &destination)
{
    // Everything below the drive root of a job is on one drive (a drive swapped in its place
    // shows as another device and stops the copy), so the drive is asked once; other
    // destinations are asked every time.
    const bool onDrive = m_driveDevice && !driveRelative(destination).isEmpty();
    if (onDrive && m_driveIsFAT)
        return *m_driveIsFAT;
    const bool fat = PMFileSystemKind::isFATPath(nearestExistingPath(destination));
    if (onDrive)
        m_driveIsFAT = fat;
    return fat;
}

bool PMFileManager::copyTree(const QString &source, const QString &destination, bool limitTo4G, bool copyingToTavrin,
    PMCopyHandler *handler, const ChildFacts &facts)
{
    const ItemKind sourceKind = facts.source ? *facts.source : itemKindAtPath(source);
    if (!sourceKind.exists)
        return false;
    ItemKind destinationKind = facts.destinationMissing ? ItemKind() : itemKindAtPath(destination);
    bool createdDestination = false;

    // A link onto a link: recreate it when the texts differ, keep it when they are equal.
    if (sourceKind.isLink && destinationKind.isLink)
        return copyOneItem(source, destination, limitTo4G, sourceKind, facts.filtered, copyingToTavrin, handler);

    if (destinationKind.exists) {
        if (!sourceKind.isDirectory)
            qCInfo(lcCopy).noquote() << QStringLiteral("object exists in destination path %1").arg(destination);
    } else if (!sourceKind.isPlainFolder()) {
        // A child of a folder this copy has just made has its parent already.
        if (!facts.destinationMissing) {
            const QString parent = parentPath(destination);
            if (parent.isEmpty())
                return false;
            if (!createDirectoryAtPath(parent, QVariantMap(), true, copyingToTavrin)) {
                PMAgentLog::logMessage(QStringLiteral("Unable to create directory at %1.").arg(parent));
                return false;
            }
        }
        return copyOneItem(source, destination, limitTo4G, sourceKind, facts.filtered, copyingToTavrin, handler);
    } else {
        if (!subtreeHasCopyableItem(source, limitTo4G)) {
            accumulateSkipFilteredData(fastFolderSizeAtPath(source), handler);
            return true;
        }
        if (!createDirectoryAtPath(destination, QVariantMap(), true, copyingToTavrin)) {
            PMAgentLog::logMessage(QStringLiteral("Unable to create directory at %1.").arg(destination));
            return false;
        }
        destinationKind = itemKindAtPath(destination);
        createdDestination = true;
    }

    const int bits = (sourceKind.isPlainFolder() ? 1 : 0) | (destinationKind.isPlainFolder() ? 2 : 0);
    switch (bits) {
    case 3:
        return copyFolderChildren(source, destination, limitTo4G, copyingToTavrin, handler, createdDestination);
    case 1:
    case 2: {
        const std::optional<bool> answer = askIsADirectory(source, destination, handler);
        if (answer && !*answer)
            m_copyStopped = true;
        return answer.value_or(false);
    }
    default:
        return mergeChildren(source, destination, limitTo4G, copyingToTavrin, handler);
    }
}

bool PMFileManager::copyOneItem(const QString &source, const QString &destination, bool limitTo4G,
    const ItemKind &sourceKind, bool filtered, bool copyingToTavrin, PMCopyHandler *handler)
{
    if (!filtered && !shouldCopyExamined(source, limitTo4G, sourceKind)) {
        accumulateSkipFilteredData(fastPathSize(source), handler);
        return false;
    }
    setFileCopyPath(source, handler);
    PMItemOperations operations(handler);
    bool result = false;
    if (sourceKind.isLink) {
        // The link may replace what is at destination: no folder stays open across that.
        m_parentFolder = PMFileCopyAgent::ParentFolder();
        const QString text = PMItemOperations::linkText(source);
        if (!text.isNull()) {
            if (PMItemOperations::linkText(destination) == text) {
                result = true;
            } else {
                struct stat existing = {};
                if (lstat(platform::FileNameCodec::encode(destination).constData(), &existing) == 0)
                    operations.removeItem(destination);
                result = operations.createSymbolicLink(destination, text, source);
            }
        }
        if (operations.handlerRefused())
            m_copyStopped = true;
    } else {
        PMFileCopyAgent agent(source, destination, handler);
        agent.setDataMethodMemory(&m_dataMethods);
        if (copyingToTavrin) {
            agent.setDestinationRoot(m_driveRoot, m_driveDevice);
            agent.setDriveCapabilities(&m_driveCapabilities);
            agent.setParentFolderCache(&m_parentFolder);
        }
        result = agent.performCopy();
        if (agent.quitRequested())
            m_copyStopped = true;
        resetPartiallyCopiedDataHandler(handler);
    }
    setFileCopyPath(QString(), handler);
    if (result && copyingToTavrin)
        setSyncBackupDateTo(QDateTime::currentDateTimeUtc(), destination);
    accumulateCopiedData(sourceKind.fastSize(source), handler);
    return result;
}

bool PMFileManager::copyFolderChildren(const QString &source, const QString &destination, bool limitTo4G,
    bool copyingToTavrin, PMCopyHandler *handler, bool destinationIsNew)
{
    bool leftOut = false;
    const std::optional<QStringList> children = childNamesToCopy(source, destination, &leftOut);
    if (!children)
        return false;
    if (children->isEmpty())
        return !leftOut;
    // One failed child fails the folder, whatever the children after it do.
    bool result = !leftOut;
    // Names copied so far, by the key under which a drive that ignores case files them.
    QHash<QString, QString> copiedNames;
    // The computer's disk reads the next files while the drive writes this one.
    QStringList childSources;
    childSources.reserve(children->size());
    for (const QString &name : *children)
        childSources.append(childPath(source, name));
    PMCopyReadAhead readAhead(childSources);
    for (qsizetype index = 0; index < children->size(); ++index) {
        const QString &name = children->at(index);
        const QString &childSource = childSources.at(index);
        readAhead.reached(index);
        const QString childDestination = childPath(destination, name);
        // One look at the child serves the filter, the copy and the counters.
        const ItemKind kind = itemKindAtPath(childSource);
        if (!shouldCopyExamined(childSource, limitTo4G, kind)) {
            accumulateSkipFilteredData(kind.fastSize(childSource), handler);
            continue;
        }
        // After the filter: a twin it leaves out never takes the name from the one copied.
        if (!isNewName(childSource, childDestination, copiedNames)) {
            result = false;
            continue;
        }
        const ChildFacts facts { &kind, true, destinationIsNew };
        if (!copyTree(childSource, childDestination, limitTo4G, copyingToTavrin, handler, facts)) {
            PMAgentLog::logMessage(QStringLiteral("Copy of %1 onto %2 failed.").arg(childSource, childDestination));
            result = false;
            // A failure the handler let pass (skip and go on) leaves the other children to
            // copy; only a quit or a cancel ends the folder.
            if (m_copyStopped)
                break;
        }
    }
    if (PMCopyDelegate *delegate = delegateOf(handler)) {
        // The delegate may move what was copied into place.
        m_parentFolder = PMFileCopyAgent::ParentFolder();
        delegate->syncThreadProcessATempFolder(destination);
    }
    return result;
}

bool PMFileManager::mergeChildren(
    const QString &source, const QString &destination, bool limitTo4G, bool copyingToTavrin, PMCopyHandler *handler)
{
    if (!shouldCopyItem(source, limitTo4G)) {
        accumulateSkipFilteredData(fastPathSize(source), handler);
        return false;
    }
    bool leftOut = false;
    const std::optional<QStringList> children = childNamesToCopy(source, destination, &leftOut);
    if (!children)
        return false;
    // Succeeds when a child was copied and none failed: a later child never hides a failure.
    bool copiedOne = false;
    bool failed = leftOut;
    for (const QString &name : *children) {
        const QString childSource = childPath(source, name);
        const ItemKind kind = itemKindAtPath(childSource);
        if (!shouldCopyExamined(childSource, limitTo4G, kind)) {
            accumulateSkipFilteredData(kind.fastSize(childSource), handler);
            continue;
        }
        copiedOne = true;
        if (!copyTree(childSource, childPath(destination, name), limitTo4G, copyingToTavrin, handler,
                ChildFacts { &kind, true })) {
            PMAgentLog::logMessage(QStringLiteral("Copy of %1 to %2 failed.").arg(source, destination));
            failed = true;
        }
        if (m_copyStopped)
            break;
    }
    return copiedOne && !failed;
}

bool PMFileManager::isNewName(const QString &source, const QString &destination, QHash<QString, QString> &copiedNames)
{
    const QString name = source.section(QLatin1Char('/'), -1);
    const QString key = PMFileNameText::caseKey(name);
    const auto earlier = copiedNames.constFind(key);
    if (earlier == copiedNames.cend()) {
        copiedNames.insert(key, name);
        return true;
    }
    // Two names that differ only in case: when the drive finds an item under the second name
    // that its folder does not list by that name, it ignores case and the second copy would
    // land on the first.
    struct stat existing = {};
    if (lstat(platform::FileNameCodec::encode(destination).constData(), &existing) != 0)
        return true;
    const std::optional<QStringList> destinationNames = readChildNames(parentPath(destination));
    if (!destinationNames || destinationNames->contains(name))
        return true;
    PMAgentLog::logMessage(QStringLiteral("The drive cannot hold both \"%1\" and \"%2\" in \"%3\" - their names "
                                          "differ only in case; \"%2\" is not copied.")
                               .arg(*earlier, name, parentPath(source)));
    return false;
}

bool PMFileManager::subtreeHasCopyableItem(const QString &folder, bool limitTo4G) const
{
    // A folder that cannot be read, or holds a name that cannot be carried, may hold
    // anything: the copy goes ahead and reports what it could not copy.
    const std::optional<QStringList> names = readChildNames(folder);
    if (!names)
        return true;
    for (const QString &name : *names) {
        if (platform::FileNameCodec::hasEscapedBytes(name))
            return true;
        const QString child = childPath(folder, name);
        const ItemKind kind = itemKindAtPath(child);
        if (shouldCopyExamined(child, limitTo4G, kind))
            return true;
        if (kind.isDirectory && subtreeHasCopyableItem(child, limitTo4G))
            return true;
    }
    return false;
}

// ---- Move ----

bool PMFileManager::movePath(
    const QString &source, const QString &destination, bool movingToTavrin, PMCopyHandler *handler)
{
    const ItemKind sourceKind = itemKindAtPath(source);
    if (!sourceKind.exists)
        return false;
    if (movingToTavrin && !moveStaysOnDrive(source, destination, sourceKind.isPlainFolder()))
        return false;
    const bool sourceLocked = isLockedItem(source);
    const bool destinationLocked = isLockedItem(destination);
    if (sourceLocked && !changeLockAtFileAtPath(source, false)) {
        PMAgentLog::logMessage(QStringLiteral("unlocking source failed"));
        return false;
    }

    const ItemKind destinationKind = itemKindAtPath(destination);
    bool result = false;
    bool moved = false;
    if (!destinationKind.exists) {
        static_cast<void>(createDirectoryAtPath(parentPath(destination), QVariantMap(), true, movingToTavrin));
        PMItemOperations operations(handler);
        result = moved = operations.moveItem(source, destination);
        if (result && movingToTavrin)
            setSyncBackupDateTo(QDateTime::currentDateTimeUtc(), destination);
    } else if (sourceKind.isPlainFolder() && destinationKind.isPlainFolder()) {
        result = moveInto(source, destination, movingToTavrin, handler);
    } else if (!sourceKind.isPlainFolder() && (destinationKind.isPackage || !destinationKind.isDirectory)) {
        result = moved = replaceByMove(source, destination, sourceKind.isDirectory || destinationKind.isDirectory,
            destinationLocked, movingToTavrin, handler);
    } else {
        result = askIsADirectory(source, destination, handler).value_or(false);
    }
    // The lock travels with the item; an item that stayed keeps its own.
    if (sourceLocked)
        relock(moved ? destination : source);
    return result;
}

bool PMFileManager::moveInto(
    const QString &source, const QString &destination, bool movingToTavrin, PMCopyHandler *handler)
{
    for (const QString &name : childNames(source)) {
        if (!movePath(childPath(source, name), childPath(destination, name), movingToTavrin, handler))
            return false;
    }
    return true;
}

bool PMFileManager::replaceByMove(const QString &source, const QString &destination, bool aFolderIsInvolved,
    bool destinationLocked, bool movingToTavrin, PMCopyHandler *handler)
{
    if (destinationLocked && !changeLockAtFileAtPath(destination, false))
        return false;
    bool result = false;
    if (aFolderIsInvolved) {
        // A package replaced or replacing: rename cannot put one kind in place of the other.
        PMItemOperations remover(handler);
        if (!remover.removeItem(destination))
            return false;
        PMItemOperations mover(handler);
        result = mover.moveItem(source, destination);
    } else {
        PMItemOperations mover(handler);
        result = mover.replaceItem(source, destination);
    }
    if (result && movingToTavrin)
        setSyncBackupDateTo(QDateTime::currentDateTimeUtc(), destination);
    return result;
}

void PMFileManager::relock(const QString &path)
{
    // A destination that cannot hold the flag (FAT, exFAT, FUSE) still has the item.
    if (!changeLockAtFileAtPath(path, true))
        PMAgentLog::logMessage(QStringLiteral("locking %1 failed").arg(path));
}

// ---- Create ----

bool PMFileManager::createOneDirectory(const QString &path, const QVariantMap &attributes)
{
    const QByteArray encoded = platform::FileNameCodec::encode(path);
    if (::mkdir(encoded.constData(), 0777) != 0) {
        // Created meanwhile by someone else: as good as created by us.
        struct stat item = {};
        return errno == EEXIST && stat(encoded.constData(), &item) == 0 && S_ISDIR(item.st_mode);
    }
    if (attributes.contains(kPosixPermissionsKey))
        static_cast<void>(
            ::chmod(encoded.constData(), mode_t(attributes.value(kPosixPermissionsKey).toUInt() & 07777)));
    return true;
}

QString PMFileManager::driveRelative(const QString &path) const
{
    if (m_driveRoot.isEmpty())
        return QString();
    const QString root = QDir::cleanPath(m_driveRoot);
    const QString clean = QDir::cleanPath(path);
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    if (!clean.startsWith(prefix) || clean.size() == prefix.size())
        return QString();
    return clean.mid(prefix.size());
}

namespace {

void logDriveLink(const platform::ConfinedPath::Result &result, const QString &what)
{
    if (result.status == platform::ConfinedPath::Status::Link)
        PMAgentLog::logMessage(QStringLiteral("The drive has a link where the folder \"%1\" belongs; %2 was not done.")
                                   .arg(result.where, what));
}

} // namespace

bool PMFileManager::createDriveDirectory(const QString &relative, const QVariantMap &attributes, bool recurse)
{
    const platform::ConfinedPath folder(m_driveRoot, relative, m_driveDevice);
    platform::ConfinedPath::Result result;
    if (!recurse) {
        if (!folder.openParent(&result).isValid()) {
            logDriveLink(result, QStringLiteral("creating \"%1\"").arg(folder.path()));
            return false;
        }
    }
    std::optional<mode_t> mode;
    if (attributes.contains(kPosixPermissionsKey))
        mode = mode_t(attributes.value(kPosixPermissionsKey).toUInt() & 07777);
    if (folder.makeFolders(mode, &result).isValid())
        return true;
    logDriveLink(result, QStringLiteral("creating \"%1\"").arg(folder.path()));
    return false;
}

bool PMFileManager::moveStaysOnDrive(const QString &source, const QString &destination, bool sourceIsFolder) const
{
    const QString destinationRelative = driveRelative(destination);
    if (destinationRelative.isNull())
        return true;
    const platform::ConfinedPath target(m_driveRoot, destinationRelative, m_driveDevice);
    const platform::ConfinedPath::Result result = target.check();
    if (result.status == platform::ConfinedPath::Status::Failed && result.error == ENODEV) {
        PMAgentLog::logMessage(
            QStringLiteral("The drive is no longer at \"%1\"; moving \"%2\" was not done.").arg(m_driveRoot, source));
        return false;
    }
    // A link in place of the item itself is replaced by a file; a folder is never merged into it.
    const bool linkIsTheItem = result.where == target.path();
    if (result.status == platform::ConfinedPath::Status::Link && (!linkIsTheItem || sourceIsFolder)) {
        logDriveLink(result, QStringLiteral("moving \"%1\"").arg(source));
        return false;
    }
    const QString sourceRelative = driveRelative(source);
    if (!sourceRelative.isNull()) {
        platform::ConfinedPath::Result sourceResult;
        if (!platform::ConfinedPath(m_driveRoot, sourceRelative, m_driveDevice).openParent(&sourceResult).isValid()) {
            logDriveLink(sourceResult, QStringLiteral("moving \"%1\"").arg(source));
            return false;
        }
    }
    return true;
}

bool PMFileManager::createDirectoryAtPath(
    const QString &path, const QVariantMap &attributes, bool recurse, bool creatingOnTavrin)
{
    const QString clean = QDir::cleanPath(platform::PlatformPaths::expandTilde(path));
    if (clean.isEmpty())
        return false;
    if (creatingOnTavrin) {
        const QString relative = driveRelative(clean);
        if (!relative.isNull()) {
            const bool created = createDriveDirectory(relative, attributes, recurse);
            if (created)
                setSyncBackupDateTo(QDateTime::currentDateTimeUtc(), clean);
            return created;
        }
    }
    struct stat item = {};
    // An existing folder needs no look at its parents (it is the common case while copying).
    const QByteArray encoded = platform::FileNameCodec::encode(clean);
    if (stat(encoded.constData(), &item) == 0)
        return S_ISDIR(item.st_mode);
    if (recurse) {
        const QString parent = parentPath(clean);
        if (!parent.isEmpty()) {
            bool parentOK = false;
            // stat follows a link, so a linked parent counts as its target.
            if (stat(platform::FileNameCodec::encode(parent).constData(), &item) == 0) {
                parentOK = S_ISDIR(item.st_mode);
            } else {
                parentOK = createOneDirectory(parent, QVariantMap())
                    || createDirectoryAtPath(parent, QVariantMap(), true, creatingOnTavrin);
                if (parentOK && creatingOnTavrin)
                    setSyncBackupDateTo(QDateTime::currentDateTimeUtc(), parent);
            }
            if (!parentOK)
                return false;
        }
    }
    if (stat(encoded.constData(), &item) == 0)
        return S_ISDIR(item.st_mode);
    const bool created = createOneDirectory(clean, attributes);
    if (created && creatingOnTavrin)
        setSyncBackupDateTo(QDateTime::currentDateTimeUtc(), clean);
    return created;
}

bool PMFileManager::writeWholeFile(const QString &path, const QByteArray &contents, const QVariantMap &attributes)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size() || !file.commit())
        return false;
    if (attributes.contains(kPosixPermissionsKey))
        static_cast<void>(::chmod(platform::FileNameCodec::encode(path).constData(),
            mode_t(attributes.value(kPosixPermissionsKey).toUInt() & 07777)));
    return true;
}

bool PMFileManager::createFileAtPath(const QString &path, const QByteArray &contents, const QVariantMap &attributes,
    bool createPathElements, bool creatingOnTavrin)
{
    const QString clean = QDir::cleanPath(platform::PlatformPaths::expandTilde(path));
    bool created = writeWholeFile(clean, contents, attributes);
    if (!created) {
        // The file's permission bits would make its folders unsearchable: folders get the defaults.
        QVariantMap folderAttributes = attributes;
        folderAttributes.remove(kPosixPermissionsKey);
        if (createDirectoryAtPath(parentPath(clean), folderAttributes, createPathElements, creatingOnTavrin))
            created = writeWholeFile(clean, contents, attributes);
        if (!created) {
            PMAgentLog::logMessage(QStringLiteral("Unable to create file at %1.").arg(clean));
            return false;
        }
    }
    if (creatingOnTavrin)
        setSyncBackupDateTo(QDateTime::currentDateTimeUtc(), clean);
    return true;
}
