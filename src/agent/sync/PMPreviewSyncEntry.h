// One row of the sync preview: a copy of one scan-result entry in its keyed form
// ("syncEntryType", "actionToPerform", "localPath", ...) with the texts a table shows for it
// and the rules for a click on one of its cells.
//
//   PMPreviewSyncEntry entry(results.at(row).toDictionary(), results.localTempPath());
//   entry.valueForKey("localFileInfo");               // "<date> 12 KB"
//   if (entry.clickedColumnWithIdentifier("tavrinFileInfo"))
//       results.setEntryAt(row, PMScanEntry::fromDictionary(entry.entryDict()));
//
// A plain value; use from one thread at a time.
#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>

class PMPreviewSyncEntry {
public:
    static inline const QString kFileNameKey = QStringLiteral("fileName");
    static inline const QString kLocalDisplayPathKey = QStringLiteral("localDisplayPath");
    static inline const QString kEntryTypeStringKey = QStringLiteral("syncEntryTypeString");
    static inline const QString kTavrinFileInfoKey = QStringLiteral("tavrinFileInfo");
    static inline const QString kLocalFileInfoKey = QStringLiteral("localFileInfo");

    explicit PMPreviewSyncEntry(QVariantMap entryDict = {}, QString localTempPath = {});

    const QVariantMap &entryDict() const { return m_entryDict; }
    QString localTempPath() const { return m_localTempPath; }
    void setLocalTempPath(const QString &path) { m_localTempPath = path; }

    // A derived property by its name, else the entry's own value for key (invalid when absent).
    QVariant valueForKey(const QString &key) const;
    void setValueForKey(const QString &key, const QVariant &value) { m_entryDict.insert(key, value); }

    bool syncActionEnabled() const;
    void setSyncActionEnabled(bool enabled);
    uint syncEntryType() const;
    void setSyncEntryType(uint type);
    // 0 when the entry has no action.
    uint actionToPerform() const;
    bool hasAction() const;
    void setActionToPerform(uint action);
    QString localPath() const;
    QString tavrinPath() const;

    // Last component of the local path, else of the drive path; null when neither exists.
    QString fileName() const;
    // The local path below the local temporary folder (its leading "~" expanded), when it
    // lies there; otherwise the local path itself.
    QString localDisplayPath() const;
    // "New", "Overwrite", "Conflict", "Delete", or "" for an unknown type.
    QString syncEntryTypeString() const;
    // "DELETED" when the side is to be deleted, else its size and date.
    QString tavrinFileInfo() const;
    QString localFileInfo() const;

    // A click on the cell of column identifier; answers whether the entry changed.
    bool clickedColumnWithIdentifier(const QString &identifier);
    // Whether the cell of column identifier shows the side whose state will win.
    bool shouldHighlightColumnWithID(const QString &identifier) const;

    // "<date> <size>", either part left out when absent. Sizes: bytes below 1024, KB below
    // 1,024,000, MB below 1,024,000,000, GB above; the MB and GB divisors are 1000 x 1024 and
    // 1000000 x 1024, which is what users of this table have always been shown.
    static QString formattedFileInfoFor(std::optional<qint64> size, std::optional<QDateTime> modDate);

private:
    std::optional<qint64> sizeForKey(const QString &key) const;
    std::optional<QDateTime> dateForKey(const QString &key) const;

    QVariantMap m_entryDict;
    QString m_localTempPath;
};
