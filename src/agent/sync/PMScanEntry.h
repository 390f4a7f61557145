// One difference found by the item walk: what to do with one file or folder.
//
// A plain value, as the walk makes it and the applier and the preview read it; a job's many
// entries are held in a leaner form by PMScanResults. toDictionary() gives the keyed form
// ("syncEntryType", "actionToPerform", ...) that the preview and the control protocol show.
#pragma once

#include <QDateTime>
#include <QString>
#include <QVariantMap>

#include <optional>

struct PMScanEntry {
    enum Type : quint8 {
        kTypeNew = 1,
        kTypeOverwrite = 2,
        kTypeConflict = 3,
        kTypeDelete = 4,
        kTypeDeleteRemovingId = 5,
        kTypeDeleteWritingRecord = 6,
        kTypeNewReplacing = 7
    };
    enum Action : quint8 {
        kActionNone = 0,
        kActionCopyToDrive = 1,
        kActionDriveIsNewer = 2,
        kActionDeleteOnDrive = 3,
        kActionDeleteLocal = 4
    };

    static inline const QString kEntryTypeKey = QStringLiteral("syncEntryType");
    static inline const QString kActionKey = QStringLiteral("actionToPerform");
    static inline const QString kEnabledKey = QStringLiteral("syncActionEnabled");
    static inline const QString kLocalPathKey = QStringLiteral("localPath");
    static inline const QString kTavrinPathKey = QStringLiteral("tavrinPath");
    static inline const QString kLocalModDateKey = QStringLiteral("localFileModDate");
    static inline const QString kTavrinModDateKey = QStringLiteral("tavrinFileModDate");
    static inline const QString kLocalSizeKey = QStringLiteral("localFileSize");
    static inline const QString kTavrinSizeKey = QStringLiteral("tavrinFileSize");
    static inline const QString kBackupDateKey = QStringLiteral("tavrinFileBackupDate");
    static inline const QString kTrueDeleteKey = QStringLiteral("trueDelete");

    quint8 type = kTypeNew;
    quint8 action = kActionNone; // kActionNone: the entry has no action
    bool enabled = true;
    QString localPath;
    QString tavrinPath;
    std::optional<QDateTime> localModDate;
    std::optional<QDateTime> tavrinModDate;
    std::optional<qint64> localSize;
    std::optional<qint64> tavrinSize;
    std::optional<QDateTime> backupDate;
    QString trueDelete;
    // A conflict the drive's side won: the drive's own copy (this path), changed since the last
    // sync and newer than the computer's, is kept beside it under another name before the
    // computer's copy takes its place. Empty: nothing to keep.
    QString driveCopyToKeep;

    QVariantMap toDictionary() const;
    // Reads the keyed form; values of the wrong type count as absent.
    static PMScanEntry fromDictionary(const QVariantMap &dictionary);
};
