#include "agent/settings/PMDriveFileWriter.h"

#include <QFile>
#include <QLoggingCategory>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcDriveFileWriter, "pellmere.settings")

namespace {

constexpr int kTemporaryNameAttempts = 16;

class Descriptor {
public:
    explicit Descriptor(int fd)
        : m_fd(fd)
    {
    }
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }
    // Closes now; answers whether the close reported no error (a network or FUSE file
    // system may only learn at close that the data did not fit).
    bool reset()
    {
        if (m_fd < 0)
            return true;
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0 || errno == EINTR;
    }

private:
    int m_fd;
};

bool isNoSpace(int error)
{
    return error == ENOSPC || error == EDQUOT;
}

PMDriveFileWriter::Outcome failure(int error)
{
    PMDriveFileWriter::Outcome outcome;
    outcome.result = isNoSpace(error) ? PMDriveFileWriter::Result::NoSpace : PMDriveFileWriter::Result::Failed;
    outcome.error = error;
    return outcome;
}

bool writeAll(int fd, const QByteArray &bytes, int *error)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = n < 0 ? errno : EIO;
            return false;
        }
        done += n;
    }
    return true;
}

// Puts the temporary file in place without ever replacing what is there.
bool renameNoReplace(int root, const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(root, from.constData(), root, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // Some FUSE drivers know no flags; a hard link fails on an existing name just as well.
    if (::linkat(root, from.constData(), root, to.constData(), 0) == 0) {
        ::unlinkat(root, from.constData(), 0);
        return true;
    }
    if (errno == EEXIST)
        return false;
    struct stat info { };
    if (::fstatat(root, to.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::renameat(root, from.constData(), root, to.constData()) == 0;
}

} // namespace

PMDriveFileWriter::Outcome PMDriveFileWriter::write(const QString &root, const QString &name, const QByteArray &bytes,
    mode_t permissions, Mode mode, std::optional<dev_t> rootDevice)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String(".") || name == QLatin1String(".."))
        return failure(EINVAL);
    const Descriptor folder(::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0)
        return failure(errno);
    // Checked on the folder opened, which every later step goes through: a drive unmounted
    // after this check still receives the file on itself, never on the computer.
    if (rootDevice) {
        struct stat opened { };
        if (::fstat(folder.get(), &opened) != 0)
            return failure(errno);
        if (opened.st_dev != *rootDevice) {
            qCWarning(lcDriveFileWriter).noquote()
                << "not writing" << name << "into" << root << ": it is no longer the drive's file system";
            return failure(ENODEV);
        }
    }

    const QByteArray target = QFile::encodeName(name);
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; attempt < kTemporaryNameAttempts && fd < 0; ++attempt) {
        temporary = target + ".tmp-" + QByteArray::number(quint64(::getpid())) + '-'
            + QByteArray::number(QRandomGenerator::global()->generate64(), 16);
        fd = ::openat(
            folder.get(), temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, permissions);
        if (fd < 0 && errno != EEXIST)
            return failure(errno);
    }
    if (fd < 0)
        return failure(EEXIST);
    Descriptor file(fd);
    auto discard = [&](int error) {
        file.reset();
        ::unlinkat(folder.get(), temporary.constData(), 0);
        return failure(error);
    };

    int error = 0;
    if (!writeAll(file.get(), bytes, &error))
        return discard(error);
    // The umask may have taken permissions away at creation; the file is meant to be shared.
    const bool permissionsSet = ::fchmod(file.get(), permissions) == 0;
    if (::fsync(file.get()) != 0)
        return discard(errno);
    if (!file.reset())
        return discard(errno);
    const bool placed = mode == Mode::Replace
        ? ::renameat(folder.get(), temporary.constData(), folder.get(), target.constData()) == 0
        : renameNoReplace(folder.get(), temporary, target);
    if (!placed)
        return discard(errno);
    // The new name itself must survive a pulled cable; the data already does.
    if (::fsync(folder.get()) != 0)
        qCDebug(lcDriveFileWriter).noquote() << "cannot flush the folder" << root << ::strerror(errno);

    Outcome outcome;
    outcome.result = Result::Written;
    outcome.permissionsSet = permissionsSet;
    return outcome;
}
