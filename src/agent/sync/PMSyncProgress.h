// The byte counters of a drive's running job and the progress record made from them for the
// manager ("syncSize", "syncCopied", "syncUnaccounted", ...).
//
//   progress.accumulateCopiedData(4096);
//   QVariantMap record = progress.refresh(activity);  // with the controller's activity state
//
// Threads: any. The worker writes the counters while other threads read them; every counter
// is an atomic and the path and the record sit behind one mutex, so a reader always sees
// whole values.
#pragma once

#include <QString>
#include <QVariantMap>

#include <atomic>
#include <mutex>

class PMSyncProgress {
public:
    static inline const QString kActivityTypeKey = QStringLiteral("syncActivityType");
    static inline const QString kFailureTypeKey = QStringLiteral("syncActivityFailureType");
    static inline const QString kIsBusyKey = QStringLiteral("syncIsBusy");
    static inline const QString kCancelPendingKey = QStringLiteral("syncCancelPending");
    static inline const QString kSizeKey = QStringLiteral("syncSize");
    static inline const QString kSkipFilterKey = QStringLiteral("syncSkipFilter");
    static inline const QString kSkipPresentKey = QStringLiteral("syncSkipPresent");
    static inline const QString kCopiedKey = QStringLiteral("syncCopied");
    static inline const QString kCopySourcePathKey = QStringLiteral("syncCopySourcePath");
    static inline const QString kUnaccountedKey = QStringLiteral("syncUnaccounted");
    static inline const QString kActivePathKey = QStringLiteral("activePath");

    // The controller's state that goes into the record besides the counters.
    struct Activity {
        int activityType = 0;
        int failureType = 0; // 0: none (the key is left out)
        bool busy = false;
        bool cancelPending = false;
        QString activePath; // null: the key is left out
    };

    quint64 totalSync() const { return m_totalSync.load(); }
    quint64 skippedFiltered() const { return m_skippedFiltered.load(); }
    quint64 skippedAlready() const { return m_skippedAlready.load(); }
    quint64 totalCopied() const { return m_totalCopied.load(); }
    quint64 partiallyCopied() const { return m_partiallyCopied.load(); }
    QString currentSourcePath() const;

    void setTotalSync(quint64 bytes) { m_totalSync.store(bytes); }
    void accumulateCopiedData(quint64 bytes) { m_totalCopied.fetch_add(bytes); }
    void accumulateSkipPresentData(quint64 bytes) { m_skippedAlready.fetch_add(bytes); }
    void accumulateSkipFilteredData(quint64 bytes) { m_skippedFiltered.fetch_add(bytes); }
    void setPartiallyCopiedData(quint64 bytes) { m_partiallyCopied.store(bytes); }
    void setFileCopyPath(const QString &path);

    // All five counters to 0; the current path and "activePath" are removed from the record.
    void reset();
    // Stores a null path as the record's "activePath" (removing it).
    void setActivePath(const QString &path);

    // Rewrites the record from the counters and activity, in the order of its keys, and
    // answers a copy.
    QVariantMap refresh(const Activity &activity);
    // The record as last refreshed.
    QVariantMap record() const;

private:
    void rebuildLocked();

    std::atomic<quint64> m_totalSync { 0 };
    std::atomic<quint64> m_skippedFiltered { 0 };
    std::atomic<quint64> m_skippedAlready { 0 };
    std::atomic<quint64> m_totalCopied { 0 };
    std::atomic<quint64> m_partiallyCopied { 0 };

    mutable std::mutex m_mutex; // guards the fields below
    QString m_currentSourcePath;
    QString m_activePath;
    Activity m_activity;
    // Replaced whole at each change, never changed in place: copies handed to other threads
    // share its data.
    QVariantMap m_record;
};
