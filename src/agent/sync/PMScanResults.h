// The differences one sync job found, in the order they were recorded.
//
// Entry i answers to the key "i" of the keyed form, and "numEntries" is the count, as the
// preview and the control protocol show them:
//
//   PMScanResults results;
//   results.addEntryToScanResults(entry);        // recorded as "0"
//   QVariantMap shown = results.toDictionary();  // {"numEntries": 1, "0": {...}}
//
// Created, filled and applied on the drive's worker thread; the preview edits it on the main
// thread only while the worker waits. No locking of its own.
#pragma once

#include "agent/sync/PMScanEntry.h"

#include <vector>

class PMScanResults {
public:
    static inline const QString kNumEntriesKey = QStringLiteral("numEntries");
    static inline const QString kLocalTempPathKey = QStringLiteral("localTempPath");

    bool clearScanResults();
    bool addEntryToScanResults(PMScanEntry entry);
    // Replaces the first entry whose local path is localPath; false when there is none.
    bool replaceEntryFromScanResultsForLocalPath(const QString &localPath, PMScanEntry entry);

    qsizetype size() const { return qsizetype(m_entries.size()); }
    bool isEmpty() const { return m_entries.empty(); }
    const PMScanEntry &at(qsizetype index) const { return m_entries[size_t(index)]; }
    PMScanEntry &at(qsizetype index) { return m_entries[size_t(index)]; }
    auto begin() const { return m_entries.cbegin(); }
    auto end() const { return m_entries.cend(); }

    QString localTempPath() const { return m_localTempPath; }
    void setLocalTempPath(const QString &path) { m_localTempPath = path; }

    QVariantMap toDictionary() const;
    static PMScanResults fromDictionary(const QVariantMap &dictionary);

private:
    std::vector<PMScanEntry> m_entries;
    QString m_localTempPath;
};
