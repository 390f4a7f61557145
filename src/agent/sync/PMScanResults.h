// The differences one sync job found, in the order they were recorded.
//
// Entry i answers to the key "i" of the keyed form, and "numEntries" is the count, as the
// preview and the control protocol show them:
//
//   PMScanResults results;
//   results.addEntryToScanResults(entry);        // recorded as "0"
//   QVariantMap shown = results.toDictionary();  // {"numEntries": 1, "0": {...}}
//   for (const PMScanEntry &entry : results) ... // each entry rebuilt as it is reached
//
// A job where every file changed holds one entry per file, so entries are not kept as
// PMScanEntry values (two full paths and a dozen optional fields, about 0.6 KiB each) but as
// small records: each path as the index of its folder in a table the entries share plus its
// own name in one name buffer (a drive path's name stored once when it equals the local
// one), dates as milliseconds, sizes as numbers, presence as bits, and the rarely set strings
// apart. at() and the iterators give the entry back as a PMScanEntry equal to the one added
// (dates come back in UTC, the same instant).
//
// Created, filled and applied on the drive's worker thread; the preview edits it on the main
// thread only while the worker waits. No locking of its own.
#pragma once

#include "agent/sync/PMScanEntry.h"

#include <QHash>

#include <cstddef>
#include <iterator>
#include <limits>
#include <vector>

class PMScanResults {
public:
    static inline const QString kNumEntriesKey = QStringLiteral("numEntries");
    static inline const QString kLocalTempPathKey = QStringLiteral("localTempPath");

    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = PMScanEntry;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = PMScanEntry;

        const_iterator() = default;
        PMScanEntry operator*() const { return m_results->at(m_index); }
        const_iterator &operator++()
        {
            ++m_index;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator before = *this;
            ++m_index;
            return before;
        }
        bool operator==(const const_iterator &other) const = default;

    private:
        friend class PMScanResults;
        const_iterator(const PMScanResults *results, qsizetype index)
            : m_results(results)
            , m_index(index)
        {
        }
        const PMScanResults *m_results = nullptr;
        qsizetype m_index = 0;
    };

    bool clearScanResults();
    bool addEntryToScanResults(const PMScanEntry &entry);
    // Replaces the first entry whose local path is localPath; false when there is none.
    bool replaceEntryFromScanResultsForLocalPath(const QString &localPath, const PMScanEntry &entry);
    // Replaces entry index (0 <= index < size()).
    void setEntryAt(qsizetype index, const PMScanEntry &entry);

    qsizetype size() const { return qsizetype(m_records.size()); }
    bool isEmpty() const { return m_records.empty(); }
    // The entry as it was added (0 <= index < size()).
    PMScanEntry at(qsizetype index) const;
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, size()); }

    QString localTempPath() const { return m_localTempPath; }
    void setLocalTempPath(const QString &path) { m_localTempPath = path; }

    QVariantMap toDictionary() const;
    static PMScanResults fromDictionary(const QVariantMap &dictionary);

private:
    static constexpr quint32 kNone = 0xffffffffu;
    // A date present but invalid; no valid date lies this far back.
    static constexpr qint64 kInvalidDate = std::numeric_limits<qint64>::min();

    // A path: folder + name, the folder ending in "/" (kNone: the path holds no "/").
    struct PathRef {
        quint32 folder = kNone;
        quint32 nameOffset = 0;
        quint32 nameLength = 0;
    };

    enum Present : quint8 {
        kHasLocalModDate = 1,
        kHasTavrinModDate = 2,
        kHasBackupDate = 4,
        kHasLocalSize = 8,
        kHasTavrinSize = 16
    };

    struct Record {
        qint64 localModDate = 0; // milliseconds since the epoch
        qint64 tavrinModDate = 0;
        qint64 backupDate = 0;
        qint64 localSize = 0;
        qint64 tavrinSize = 0;
        PathRef local;
        PathRef tavrin;
        quint32 extra = kNone; // index into m_extras
        quint8 type = 0;
        quint8 action = 0;
        quint8 present = 0;
        bool enabled = true;
    };

    struct Extra {
        QString trueDelete;
        QString driveCopyToKeep;
    };

    Record recordFor(const PMScanEntry &entry);
    PathRef storePath(const QString &path, quint32 *lastFolder);
    quint32 folderIndex(QStringView folder, quint32 *lastFolder);
    QString pathOf(const PathRef &path) const;
    QStringView nameOf(const PathRef &path) const;
    bool pathEquals(const PathRef &path, const QString &other) const;

    std::vector<Record> m_records;
    std::vector<Extra> m_extras;
    std::vector<QString> m_folders;
    QHash<QString, quint32> m_folderIndex;
    std::vector<char16_t> m_names;
    // The folder of the last local and drive path stored: the walk records a folder's
    // entries one after another, so most paths need no look-up.
    quint32 m_lastLocalFolder = kNone;
    quint32 m_lastTavrinFolder = kNone;
    QString m_localTempPath;
};
