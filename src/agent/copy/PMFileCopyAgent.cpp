#include "agent/copy/PMFileCopyAgent.h"

#include "agent/copy/PMCopyLog.h"
#include "agent/copy/PMUniqueFd.h"
#include "platform/ConfinedPath.h"
#include "platform/FileNameCodec.h"
#include "platform/PlatformPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <acl/libacl.h>
#include <attr/libattr.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <memory>
#include <vector>

namespace {

enum DataMethod { CopyFileRange = 0, SendFile = 1, ReadWrite = 2 };

// Errors that only say the destination cannot hold a kind of metadata (FAT, exFAT, FUSE
// drivers, or an owner change without privilege): that metadata is left behind silently.
bool isUnsupportedMetadataError(int errorNumber)
{
    return errorNumber == ENOTSUP || errorNumber == EOPNOTSUPP || errorNumber == EPERM || errorNumber == ENOSYS
        || errorNumber == EACCES || errorNumber == ENOTTY;
}

// The data method cannot be used for this pair of files: try the next one.
bool isMethodUnsupportedError(int errorNumber)
{
    return errorNumber == EXDEV || errorNumber == EINVAL || errorNumber == ENOSYS || errorNumber == EOPNOTSUPP
        || errorNumber == ENOTSUP || errorNumber == EBADF;
}

struct DirCloser {
    void operator()(DIR *dir) const { closedir(dir); }
};

QString childPath(const QString &parent, const QString &name)
{
    if (parent.endsWith(QLatin1Char('/')))
        return QString(parent + name);
    return QString(parent + QLatin1Char('/') + name);
}

// Writes all of buffer[0, length) unless an error stops it; answers the bytes written.
ssize_t writeAll(int fd, const char *buffer, size_t length)
{
    size_t done = 0;
    while (done < length) {
        const ssize_t written = ::write(fd, buffer + done, length - done);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        done += size_t(written);
    }
    return ssize_t(done);
}

} // namespace

PMFileCopyAgent::PMFileCopyAgent(const QString &source, const QString &destination, PMFileCopyAgentDelegate *delegate)
    : m_sourcePath(source)
    , m_destinationPath(destination)
    , m_delegate(delegate)
{
}

PMFileCopyAgent::~PMFileCopyAgent()
{
    m_cancelled = true;
}

QString PMFileCopyAgent::relativeToRoot(const QString &path) const
{
    if (m_destinationRoot.isEmpty())
        return QString();
    const QString root = QDir::cleanPath(m_destinationRoot);
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : QString(root + QLatin1Char('/'));
    if (!path.startsWith(prefix) || path.size() == prefix.size())
        return QString();
    return path.mid(prefix.size());
}

bool PMFileCopyAgent::performCopy()
{
    if (m_state == Copying)
        return false;
    m_state = Copying;
    m_quit = false;

    const QString source = QDir::cleanPath(platform::PlatformPaths::expandTilde(m_sourcePath));
    const QString destination = QDir::cleanPath(platform::PlatformPaths::expandTilde(m_destinationPath));
    bool result = false;
    m_kept = PMDriveCapabilities();
    // Whole paths: the folders on the way are followed, the item itself never is (O_NOFOLLOW
    // and AT_SYMLINK_NOFOLLOW apply to the last component).
    if (source.isEmpty() || destination.isEmpty() || source == QLatin1String("/")
        || destination == QLatin1String("/")) {
        reportError(source, destination, ENOENT);
    } else if (const QString below = relativeToRoot(destination); !below.isNull()) {
        const platform::ConfinedPath confined(m_destinationRoot, below, m_destinationRootDevice);
        const QString parentPath = destination.left(destination.lastIndexOf(QLatin1Char('/')));
        platform::ConfinedPath::Result reached;
        PMUniqueFd opened;
        int parent = -1;
        if (m_parentFolder && m_parentFolder->fd.isValid() && m_parentFolder->path == parentPath
            && confined.isValid()) {
            parent = m_parentFolder->fd.get();
        } else {
            opened = confined.openParent(&reached);
            parent = opened.get();
            if (opened.isValid() && m_parentFolder)
                *m_parentFolder = ParentFolder { parentPath, std::move(opened) };
        }
        if (parent < 0) {
            if (reached.status == platform::ConfinedPath::Status::Link)
                qCWarning(lcCopy) << "not copying through the drive's link" << reached.where;
            reportError(source, destination,
                reached.status == platform::ConfinedPath::Status::Link ? ELOOP
                                                                       : (reached.error ? reached.error : ENOENT));
        } else {
            if (m_driveCapabilities) {
                if (!m_driveCapabilities->known())
                    *m_driveCapabilities = PMDriveCapabilities::probe(parent);
                m_kept = *m_driveCapabilities;
            }
            result = copyItem(Item {
                AT_FDCWD, platform::FileNameCodec::encode(source), parent, confined.lastName(), source, destination });
        }
    } else {
        result = copyItem(Item { AT_FDCWD, platform::FileNameCodec::encode(source), AT_FDCWD,
            platform::FileNameCodec::encode(destination), source, destination });
    }
    m_state = Finished;
    return result && !m_quit;
}

int PMFileCopyAgent::callback(Event event, const QString &source, const QString &destination, quint64 value)
{
    if (m_cancelled) {
        m_state = CancelledByCallback;
        return PMFileCopyAgentDelegate::Quit;
    }
    switch (event) {
    case Event::FileStart:
        m_totalInProgress = 0;
        break;
    case Event::FileFinish:
        m_totalFinished += value;
        m_totalInProgress = 0;
        break;
    case Event::Progress:
        m_totalInProgress = value;
        if (m_delegate)
            m_delegate->agentUpdate(*this, m_totalFinished + m_totalInProgress);
        break;
    case Event::Error:
        if (m_delegate) {
            PMFileCopyError error;
            error.code = int(value);
            error.userInfo.insert(PMFileCopyError::PMFileCopyFromPathKey, source);
            error.userInfo.insert(PMFileCopyError::PMFileCopyToPathKey, destination);
            const std::optional<int> answer = m_delegate->agentActionRequired(*this, error);
            if (answer && (*answer == PMFileCopyAgentDelegate::Skip || *answer == PMFileCopyAgentDelegate::Quit))
                return *answer;
        }
        break;
    case Event::DirectoryStart:
    case Event::DirectoryFinish:
        break;
    }
    return PMFileCopyAgentDelegate::Continue;
}

int PMFileCopyAgent::reportError(const QString &sourcePath, const QString &destinationPath, int errorNumber)
{
    const int action = callback(Event::Error, sourcePath, destinationPath, quint64(errorNumber));
    if (action == PMFileCopyAgentDelegate::Quit)
        m_quit = true;
    return action;
}

bool PMFileCopyAgent::copyItem(const Item &item)
{
    struct stat sourceStat = {};
    if (fstatat(item.sourceParentFd, item.sourceName.constData(), &sourceStat, AT_SYMLINK_NOFOLLOW) != 0) {
        reportError(item.sourcePath, item.destinationPath, errno);
        return false;
    }
    if (S_ISREG(sourceStat.st_mode))
        return copyRegularFile(item, sourceStat);
    if (S_ISDIR(sourceStat.st_mode))
        return copyDirectory(item, sourceStat);
    if (S_ISLNK(sourceStat.st_mode))
        return copyLink(item, sourceStat);
    // Sockets, pipes and device nodes carry nothing worth keeping on a drive.
    qCDebug(lcCopy) << "skipping special file" << item.sourcePath;
    return true;
}

bool PMFileCopyAgent::copyRegularFile(const Item &item, const struct stat &sourceStat)
{
    const int startAction = callback(Event::FileStart, item.sourcePath, item.destinationPath);
    if (startAction == PMFileCopyAgentDelegate::Quit) {
        m_quit = true;
        return false;
    }
    if (startAction == PMFileCopyAgentDelegate::Skip)
        return true;

    PMUniqueFd sourceFd(openat(item.sourceParentFd, item.sourceName.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!sourceFd.isValid()) {
        reportError(item.sourcePath, item.destinationPath, errno);
        return false;
    }
    // Readable by the owner only until the data and the final mode are in place.
    PMUniqueFd destinationFd(openat(item.destinationParentFd, item.destinationName.constData(),
        O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!destinationFd.isValid()) {
        reportError(item.sourcePath, item.destinationPath, errno);
        return false;
    }
    bool copied = copyData(sourceFd.get(), destinationFd.get(), sourceStat, item.sourcePath, item.destinationPath)
        && copyMetadata(sourceFd.get(), destinationFd.get(), sourceStat, item.sourcePath, item.destinationPath);
    // A FUSE driver or a full disk may report the last write only at close. close() gives
    // up the descriptor whatever it answers, so it is never closed twice.
    if (::close(destinationFd.release()) != 0 && copied && !m_quit) {
        copied = false;
        reportError(item.sourcePath, item.destinationPath, errno);
    }
    if (!copied || m_quit) {
        // A half-written file must never pass for a copy (a sync moves whatever its
        // temporary folder holds into place); its old contents went with O_TRUNC already.
        unlinkat(item.destinationParentFd, item.destinationName.constData(), 0);
        return false;
    }
    if (callback(Event::FileFinish, item.sourcePath, item.destinationPath, quint64(sourceStat.st_size))
        == PMFileCopyAgentDelegate::Quit) {
        m_quit = true;
        return false;
    }
    return true;
}

bool PMFileCopyAgent::copyData(int sourceFd, int destinationFd, const struct stat &sourceStat,
    const QString &sourcePath, const QString &destinationPath)
{
    m_sourceDevice = quint64(sourceStat.st_dev);
    if (m_dataMethodMemory)
        m_dataMethod = std::max(m_dataMethod, m_dataMethodMemory->value(m_sourceDevice, CopyFileRange));
    if (m_kept.prefersLargeWrites())
        m_dataMethod = ReadWrite;
    quint64 copied = 0;
    const bool sparse = sourceStat.st_size > 0 && quint64(sourceStat.st_blocks) * 512 < quint64(sourceStat.st_size);
    if (!sparse)
        return copyRange(sourceFd, destinationFd, -1, copied, sourcePath, destinationPath);
    // Copy only the data of a sparse file, so its holes stay holes where the drive has them.
    off_t position = 0;
    while (position < sourceStat.st_size) {
        const off_t data = lseek(sourceFd, position, SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            break; // only a hole is left
        if (data < 0) {
            // The file system cannot tell data from holes: copy the rest whole.
            if (lseek(sourceFd, position, SEEK_SET) < 0 || lseek(destinationFd, position, SEEK_SET) < 0) {
                reportError(sourcePath, destinationPath, errno);
                return false;
            }
            return copyRange(sourceFd, destinationFd, -1, copied, sourcePath, destinationPath);
        }
        off_t hole = lseek(sourceFd, data, SEEK_HOLE);
        if (hole < 0)
            hole = sourceStat.st_size;
        if (lseek(sourceFd, data, SEEK_SET) < 0 || lseek(destinationFd, data, SEEK_SET) < 0) {
            reportError(sourcePath, destinationPath, errno);
            return false;
        }
        copied = quint64(data);
        if (!copyRange(sourceFd, destinationFd, qint64(hole - data), copied, sourcePath, destinationPath))
            return false;
        position = hole;
    }
    // The length, including a trailing hole; a FAT drive refuses 4 GiB and more here.
    if (ftruncate(destinationFd, sourceStat.st_size) != 0) {
        reportError(sourcePath, destinationPath, errno);
        return false;
    }
    return true;
}

bool PMFileCopyAgent::copyRange(int sourceFd, int destinationFd, qint64 length, quint64 &copied,
    const QString &sourcePath, const QString &destinationPath)
{
    std::unique_ptr<char[]> buffer;
    constexpr size_t kBufferBytes = 1024 * 1024;
    qint64 remaining = length < 0 ? std::numeric_limits<qint64>::max() : length;
    while (remaining > 0) {
        // A cancel asked for during the last progress report stops before more data is written.
        if (m_cancelled) {
            m_state = CancelledByCallback;
            m_quit = true;
            return false;
        }
        const qint64 request = std::min(remaining, kProgressChunkBytes);
        ssize_t step = -1;
        if (m_dataMethod == CopyFileRange) {
            step = copy_file_range(sourceFd, nullptr, destinationFd, nullptr, size_t(request), 0);
        } else if (m_dataMethod == SendFile) {
            step = sendfile(destinationFd, sourceFd, nullptr, size_t(request));
        } else {
            if (!buffer)
                buffer = std::make_unique<char[]>(kBufferBytes);
            step = 0;
            while (step < request) {
                const ssize_t readBytes
                    = ::read(sourceFd, buffer.get(), size_t(std::min<qint64>(qint64(kBufferBytes), request - step)));
                if (readBytes < 0 && errno == EINTR)
                    continue;
                if (readBytes <= 0) {
                    if (readBytes < 0)
                        step = -1;
                    break;
                }
                if (writeAll(destinationFd, buffer.get(), size_t(readBytes)) < 0) {
                    step = -1;
                    break;
                }
                step += readBytes;
            }
        }
        if (step < 0) {
            const int errorNumber = errno;
            if (errorNumber == EINTR)
                continue;
            if (m_dataMethod != ReadWrite && isMethodUnsupportedError(errorNumber)) {
                ++m_dataMethod;
                if (m_dataMethodMemory)
                    m_dataMethodMemory->insert(m_sourceDevice, m_dataMethod);
                continue;
            }
            reportError(sourcePath, destinationPath, errorNumber);
            return false;
        }
        if (step == 0)
            return true; // end of file
        copied += quint64(step);
        remaining -= step;
        const int action = callback(Event::Progress, sourcePath, destinationPath, copied);
        if (action == PMFileCopyAgentDelegate::Quit) {
            m_quit = true;
            return false;
        }
        if (action == PMFileCopyAgentDelegate::Skip)
            return false;
    }
    return true;
}

bool PMFileCopyAgent::copyMetadata(int sourceFd, int destinationFd, const struct stat &sourceStat,
    const QString &sourcePath, const QString &destinationPath)
{
    const QByteArray source = platform::FileNameCodec::encode(sourcePath);
    const QByteArray destination = platform::FileNameCodec::encode(destinationPath);
    // Owner first: changing it clears set-id bits and capabilities set before.
    if (m_kept.keepsOwner() && fchown(destinationFd, sourceStat.st_uid, sourceStat.st_gid) != 0
        && !isUnsupportedMetadataError(errno)
        && reportError(sourcePath, destinationPath, errno) != PMFileCopyAgentDelegate::Continue)
        return false;
    if (m_kept.keepsExtendedAttributes()
        && attr_copy_fd(source.constData(), sourceFd, destination.constData(), destinationFd, nullptr, nullptr) != 0
        && !isUnsupportedMetadataError(errno)
        && reportError(sourcePath, destinationPath, errno) != PMFileCopyAgentDelegate::Continue)
        return false;
    // The mode and, where the destination holds them, the access lists.
    if (m_kept.keepsAccessLists()) {
        if (perm_copy_fd(source.constData(), sourceFd, destination.constData(), destinationFd, nullptr) != 0
            && !isUnsupportedMetadataError(errno)
            && reportError(sourcePath, destinationPath, errno) != PMFileCopyAgentDelegate::Continue)
            return false;
    } else if (m_kept.keepsMode()) {
        if (fchmod(destinationFd, sourceStat.st_mode & 07777) != 0 && !isUnsupportedMetadataError(errno)
            && reportError(sourcePath, destinationPath, errno) != PMFileCopyAgentDelegate::Continue)
            return false;
    }
    const struct timespec times[2] = { sourceStat.st_atim, sourceStat.st_mtim };
    if (futimens(destinationFd, times) != 0 && !isUnsupportedMetadataError(errno)
        && reportError(sourcePath, destinationPath, errno) != PMFileCopyAgentDelegate::Continue)
        return false;
    return !m_quit;
}

bool PMFileCopyAgent::copyDirectory(const Item &item, const struct stat &sourceStat)
{
    if (callback(Event::DirectoryStart, item.sourcePath, item.destinationPath) == PMFileCopyAgentDelegate::Quit) {
        m_quit = true;
        return false;
    }
    if (mkdirat(item.destinationParentFd, item.destinationName.constData(), 0700) != 0 && errno != EEXIST) {
        reportError(item.sourcePath, item.destinationPath, errno);
        return false;
    }
    PMUniqueFd sourceFd(
        openat(item.sourceParentFd, item.sourceName.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!sourceFd.isValid()) {
        reportError(item.sourcePath, item.destinationPath, errno);
        return false;
    }
    // An existing link or file in the way fails here instead of being entered.
    PMUniqueFd destinationFd(openat(
        item.destinationParentFd, item.destinationName.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!destinationFd.isValid()) {
        reportError(item.sourcePath, item.destinationPath, errno);
        return false;
    }
    std::unique_ptr<DIR, DirCloser> listing(fdopendir(dup(sourceFd.get())));
    if (!listing) {
        reportError(item.sourcePath, item.destinationPath, errno);
        return false;
    }
    bool result = true;
    while (!m_quit) {
        errno = 0;
        const dirent *entry = readdir(listing.get());
        if (!entry) {
            if (errno != 0) {
                reportError(item.sourcePath, item.destinationPath, errno);
                result = false;
            }
            break;
        }
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const QString childName = platform::FileNameCodec::decode(name);
        if (!copyItem(Item { sourceFd.get(), name, destinationFd.get(), name, childPath(item.sourcePath, childName),
                childPath(item.destinationPath, childName) }))
            result = false;
    }
    if (m_quit)
        return false;
    if (!copyMetadata(sourceFd.get(), destinationFd.get(), sourceStat, item.sourcePath, item.destinationPath))
        result = false;
    if (callback(Event::DirectoryFinish, item.sourcePath, item.destinationPath) == PMFileCopyAgentDelegate::Quit)
        m_quit = true;
    return result && !m_quit;
}

bool PMFileCopyAgent::copyLink(const Item &item, const struct stat &sourceStat)
{
    const int startAction = callback(Event::FileStart, item.sourcePath, item.destinationPath);
    if (startAction == PMFileCopyAgentDelegate::Quit) {
        m_quit = true;
        return false;
    }
    if (startAction == PMFileCopyAgentDelegate::Skip)
        return true;
    std::vector<char> text(size_t(sourceStat.st_size > 0 ? sourceStat.st_size : PATH_MAX) + 1);
    const ssize_t length = readlinkat(item.sourceParentFd, item.sourceName.constData(), text.data(), text.size() - 1);
    if (length < 0) {
        reportError(item.sourcePath, item.destinationPath, errno);
        return false;
    }
    text[size_t(length)] = '\0';
    if (symlinkat(text.data(), item.destinationParentFd, item.destinationName.constData()) != 0) {
        reportError(item.sourcePath, item.destinationPath, errno);
        return false;
    }
    // Owner and times of the link itself; a destination that cannot hold them keeps its own.
    if (m_kept.keepsOwner())
        static_cast<void>(fchownat(item.destinationParentFd, item.destinationName.constData(), sourceStat.st_uid,
            sourceStat.st_gid, AT_SYMLINK_NOFOLLOW));
    const struct timespec times[2] = { sourceStat.st_atim, sourceStat.st_mtim };
    static_cast<void>(
        utimensat(item.destinationParentFd, item.destinationName.constData(), times, AT_SYMLINK_NOFOLLOW));
    if (callback(Event::FileFinish, item.sourcePath, item.destinationPath, quint64(sourceStat.st_size))
        == PMFileCopyAgentDelegate::Quit) {
        m_quit = true;
        return false;
    }
    return true;
}
