#include "agent/sync/PMSyncProgress.h"

#include "platform/FileNameCodec.h"

QString PMSyncProgress::currentSourcePath() const
{
    std::lock_guard lock(m_mutex);
    return m_currentSourcePath;
}

void PMSyncProgress::setFileCopyPath(const QString &path)
{
    std::lock_guard lock(m_mutex);
    // Shown to people and sent over the bus: a name that is not valid UTF-8 goes as escaped bytes.
    m_currentSourcePath = platform::FileNameCodec::printable(path);
}

void PMSyncProgress::reset()
{
    std::lock_guard lock(m_mutex);
    m_activePath.clear();
    m_totalSync.store(0);
    m_skippedFiltered.store(0);
    m_skippedAlready.store(0);
    m_totalCopied.store(0);
    m_partiallyCopied.store(0);
    m_currentSourcePath.clear();
    rebuildLocked();
}

void PMSyncProgress::setActivePath(const QString &path)
{
    std::lock_guard lock(m_mutex);
    m_activePath = path;
    rebuildLocked();
}

QVariantMap PMSyncProgress::refresh(const Activity &activity)
{
    std::lock_guard lock(m_mutex);
    m_activity = activity;
    m_activePath = activity.activePath;
    rebuildLocked();
    return m_record;
}

QVariantMap PMSyncProgress::record() const
{
    std::lock_guard lock(m_mutex);
    return m_record;
}

void PMSyncProgress::rebuildLocked()
{
    // Each counter is read once, so the record's sums agree with the values it shows.
    const quint64 total = m_totalSync.load();
    const quint64 filtered = m_skippedFiltered.load();
    const quint64 present = m_skippedAlready.load();
    const quint64 copied = m_totalCopied.load();
    const quint64 partial = m_partiallyCopied.load();

    // Absent values are left out of the record rather than stored empty.
    QVariantMap record;
    if (!m_activePath.isNull())
        record.insert(kActivePathKey, m_activePath);
    record.insert(kActivityTypeKey, qint32(m_activity.activityType));
    if (m_activity.failureType)
        record.insert(kFailureTypeKey, qint32(m_activity.failureType));
    record.insert(kIsBusyKey, qint32(m_activity.busy ? 1 : 0));
    record.insert(kCancelPendingKey, m_activity.cancelPending);
    record.insert(kSizeKey, quint64(total));
    record.insert(kSkipFilterKey, quint64(filtered));
    record.insert(kSkipPresentKey, quint64(present));
    record.insert(kCopiedKey, quint64(copied + partial));
    if (!m_currentSourcePath.isNull())
        record.insert(kCopySourcePathKey, m_currentSourcePath);
    // The unsigned difference read as signed: more copied than estimated is negative.
    record.insert(kUnaccountedKey, qint64(total - filtered - present - copied));
    m_record = record;
}
