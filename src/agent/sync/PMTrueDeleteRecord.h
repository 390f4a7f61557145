// True-delete records: small property-list files on a drive, beside a deleted item, listing
// the computer-users ({"uniqueComputerIDS": [...]}) that still have to remove their copy.
// ".d$f.<name>" stands for a file, ".d$d.<name>" for a folder. Other computers read and write
// them too, so their format is fixed.
//
// Worker thread; each call reads and writes the file whole (atomic writes).
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class PMTrueDeleteRecord {
public:
    static inline const QString kFilePrefix = QStringLiteral(".d$f.");
    static inline const QString kFolderPrefix = QStringLiteral(".d$d.");
    static inline const QString kIdsKey = QStringLiteral("uniqueComputerIDS");

    // The record's path for an item: "<parent>/<prefix><name>".
    static QString recordPathForItem(const QString &itemPath, bool isFolder);
    static bool isRecordName(const QString &name);

    // Writes a record listing users minus thisUser; with nobody left, removes an existing
    // record and succeeds. False when the user list or thisUser is missing.
    static bool createTrueDeleteFileAtPath(const QString &path, const QStringList &users, const QString &thisUser);
    // Removes id from the record; an unreadable record or one left empty is deleted.
    static void removeComputerIDFromTrueDeleteFile(const QString &id, const QString &path);
    static std::optional<QStringList> trueDeleteComputerIDsFromFile(const QString &path);
};
