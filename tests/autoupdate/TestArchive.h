// Release archives (tar.xz) built at test time by python's tarfile, which can also write the
// hostile entries (absolute names, "..", outside links, device files) the updater must refuse.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

struct TestArchiveEntry {
    enum Kind { File, Folder, Link, HardLink, CharDevice };
    TestArchiveEntry(QString name_, Kind kind_ = File, QByteArray content_ = {}, int mode_ = 0644)
        : name(std::move(name_))
        , kind(kind_)
        , content(std::move(content_))
        , mode(mode_)
    {
    }
    QString name;
    Kind kind = File;
    QByteArray content; // File: the bytes; Link and HardLink: the target
    int mode = 0644;
};

// Writes the archive; false (and a test failure) when python could not.
bool makeTestArchive(const QString &path, const QList<TestArchiveEntry> &entries);
