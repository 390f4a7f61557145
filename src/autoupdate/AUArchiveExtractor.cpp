#include "autoupdate/AUArchiveExtractor.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace {

struct ReadCloser {
    void operator()(archive *a) const { archive_read_free(a); }
};
struct WriteCloser {
    void operator()(archive *a) const { archive_write_free(a); }
};
using Reader = std::unique_ptr<archive, ReadCloser>;
using Writer = std::unique_ptr<archive, WriteCloser>;

Reader openReader(const QString &path, QString *error)
{
    Reader reader(archive_read_new());
    archive_read_support_filter_all(reader.get());
    archive_read_support_format_tar(reader.get());
    if (archive_read_open_filename(reader.get(), QFile::encodeName(path).constData(), 65536) != ARCHIVE_OK) {
        *error = QStringLiteral("cannot open %1: %2").arg(path, QString::fromUtf8(archive_error_string(reader.get())));
        return {};
    }
    return reader;
}

// A relative name without "." or ".." steps: the only kind an entry may have.
bool isPlainRelative(const QString &name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')))
        return false;
    for (const QString &part : name.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String(".."))
            return false;
    }
    return true;
}

// Whether a link at entryName pointing at target stays inside the folder, resolving the
// target's steps against the link's own folder.
bool linkStaysInside(const QString &entryName, const QString &target)
{
    if (target.isEmpty() || target.startsWith(QLatin1Char('/')))
        return false;
    QStringList parts = entryName.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    parts.removeLast();
    for (const QString &part : target.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (parts.isEmpty())
                return false;
            parts.removeLast();
        } else {
            parts.append(part);
        }
    }
    return true;
}

QString nameOf(archive_entry *entry)
{
    const char *name = archive_entry_pathname(entry);
    return name ? QFile::decodeName(name) : QString();
}

} // namespace

bool AUArchiveExtractor::checkArchive(const QString &archivePath, QString *error)
{
    const Reader reader = openReader(archivePath, error);
    if (!reader)
        return false;
    archive_entry *entry = nullptr;
    qint64 entries = 0;
    qint64 bytes = 0;
    int status = ARCHIVE_OK;
    while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
        const QString name = nameOf(entry);
        if (!isPlainRelative(name)) {
            *error = QStringLiteral("refusing the entry \"%1\": it names a place outside the folder").arg(name);
            return false;
        }
        const mode_t type = archive_entry_filetype(entry);
        const char *hardlink = archive_entry_hardlink(entry);
        // A hard link names an earlier entry and has no type of its own.
        if (!hardlink && type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK) {
            *error = QStringLiteral("refusing the entry \"%1\": not a file, folder or link").arg(name);
            return false;
        }
        if (type == AE_IFLNK) {
            const char *target = archive_entry_symlink(entry);
            if (!target || !linkStaysInside(name, QFile::decodeName(target))) {
                *error = QStringLiteral("refusing the link \"%1\": it points outside the folder").arg(name);
                return false;
            }
        }
        if (hardlink && !isPlainRelative(QFile::decodeName(hardlink))) {
            *error = QStringLiteral("refusing the link \"%1\": it points outside the folder").arg(name);
            return false;
        }
        bytes += archive_entry_size(entry);
        if (++entries > kMaxEntries || bytes > kMaxUnpackedBytes) {
            *error = QStringLiteral("refusing %1: it unpacks to more than the updater accepts").arg(archivePath);
            return false;
        }
    }
    if (status != ARCHIVE_EOF) {
        *error = QStringLiteral("cannot read %1: %2")
                     .arg(archivePath, QString::fromUtf8(archive_error_string(reader.get())));
        return false;
    }
    return true;
}

bool AUArchiveExtractor::unpack(const QString &archivePath, const QString &destination, QString *error)
{
    const Reader reader = openReader(archivePath, error);
    if (!reader)
        return false;
    Writer writer(archive_write_disk_new());
    // No owners and no set-id bits from the archive; never write through a link.
    archive_write_disk_set_options(writer.get(),
        ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT
            | ARCHIVE_EXTRACT_NO_OVERWRITE);
    const QByteArray root = QFile::encodeName(QDir(destination).absolutePath()) + '/';
    archive_entry *entry = nullptr;
    int status = ARCHIVE_OK;
    while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
        archive_entry_set_pathname(entry, QByteArray(root + archive_entry_pathname(entry)).constData());
        if (const char *hardlink = archive_entry_hardlink(entry))
            archive_entry_set_hardlink(entry, QByteArray(root + hardlink).constData());
        if (archive_write_header(writer.get(), entry) != ARCHIVE_OK) {
            *error = QStringLiteral("cannot unpack %1: %2")
                         .arg(nameOf(entry), QString::fromUtf8(archive_error_string(writer.get())));
            return false;
        }
        const void *block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        int data = ARCHIVE_OK;
        while ((data = archive_read_data_block(reader.get(), &block, &size, &offset)) == ARCHIVE_OK) {
            if (archive_write_data_block(writer.get(), block, size, offset) != ARCHIVE_OK) {
                *error = QStringLiteral("cannot write %1: %2")
                             .arg(nameOf(entry), QString::fromUtf8(archive_error_string(writer.get())));
                return false;
            }
        }
        if (data != ARCHIVE_EOF) {
            *error = QStringLiteral("cannot read %1: %2")
                         .arg(archivePath, QString::fromUtf8(archive_error_string(reader.get())));
            return false;
        }
        if (archive_write_finish_entry(writer.get()) != ARCHIVE_OK) {
            *error = QStringLiteral("cannot finish %1: %2")
                         .arg(nameOf(entry), QString::fromUtf8(archive_error_string(writer.get())));
            return false;
        }
    }
    if (status != ARCHIVE_EOF) {
        *error = QStringLiteral("cannot read %1: %2")
                     .arg(archivePath, QString::fromUtf8(archive_error_string(reader.get())));
        return false;
    }
    return archive_write_close(writer.get()) == ARCHIVE_OK;
}

bool AUArchiveExtractor::extract(const QString &archivePath, const QString &destination, QString *error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    if (!checkArchive(archivePath, error))
        return false;
    if (!unpack(archivePath, destination, error)) {
        // Half an install tree is of no use to anyone.
        QDir(destination).removeRecursively();
        QDir().mkpath(destination);
        return false;
    }
    return true;
}
