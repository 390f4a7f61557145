// Unpacks a release archive (tar, compressed or not) into a folder, refusing anything that
// could write outside it or create something other than files, folders and links that stay
// inside: absolute names, ".." components, links whose target leaves the folder, device
// files, fifos and sockets. The archive is checked whole before anything is written, so a
// hostile archive leaves nothing behind.
//
//   QString error;
//   if (!AUArchiveExtractor::extract(archive, folder, &error)) qCWarning(lc) << error;
//
// Blocking; any thread.
#pragma once

#include <QString>

class AUArchiveExtractor {
public:
    // Above this many bytes unpacked, or this many entries, the archive is refused.
    static constexpr qint64 kMaxUnpackedBytes = qint64(4) * 1024 * 1024 * 1024;
    static constexpr qint64 kMaxEntries = 200000;

    // destination must exist and be empty (the caller makes it).
    [[nodiscard]] static bool extract(const QString &archivePath, const QString &destination, QString *error);

private:
    static bool checkArchive(const QString &archivePath, QString *error);
    static bool unpack(const QString &archivePath, const QString &destination, QString *error);
};
