#include "agent/sync/PMSyncProgress.h"

QString PMSyncProgress::currentSourcePath() const
{
    std::lock_guard lock(m_mutex);
    return m_currentSourcePath;
}

void PMSyncProgress::setFileCopyPath(const QString &path)
{
    std::lock_guard lock(m_mutex);
    m_currentSourcePath = path;
}

void PMSyncProgress::store(QVariantMap &record, const QString &key, const QVariant &value)
{
    if (value.isNull())
        record.remove(key);
    else
        record.insert(key, value);
}

void PMSyncProgress::reset()
{
    std::lock_guard lock(m_mutex);
    m_record.remove(kActivePathKey);
    m_totalSync.store(0);
    m_skippedFiltered.store(0);
    m_skippedAlready.store(0);
    m_totalCopied.store(0);
    m_partiallyCopied.store(0);
    m_currentSourcePath.clear();
    m_record.remove(kCopySourcePathKey);
}

void PMSyncProgress::setActivePath(const QString &path)
{
    std::lock_guard lock(m_mutex);
    store(m_record, kActivePathKey, path.isNull() ? QVariant() : QVariant(path));
}

QVariantMap PMSyncProgress::refresh(const Activity &activity)
{
    // Each counter is read once, so the record's sums agree with the values it shows.
    const quint64 total = m_totalSync.load();
    const quint64 filtered = m_skippedFiltered.load();
    const quint64 present = m_skippedAlready.load();
    const quint64 copied = m_totalCopied.load();
    const quint64 partial = m_partiallyCopied.load();

    std::lock_guard lock(m_mutex);
    store(m_record, kActivePathKey, activity.activePath.isNull() ? QVariant() : QVariant(activity.activePath));
    store(m_record, kActivityTypeKey, QVariant(qint32(activity.activityType)));
    store(m_record, kFailureTypeKey, activity.failureType ? QVariant(qint32(activity.failureType)) : QVariant());
    store(m_record, kIsBusyKey, QVariant(qint32(activity.busy ? 1 : 0)));
    store(m_record, kCancelPendingKey, QVariant(activity.cancelPending));
    store(m_record, kSizeKey, QVariant(quint64(total)));
    store(m_record, kSkipFilterKey, QVariant(quint64(filtered)));
    store(m_record, kSkipPresentKey, QVariant(quint64(present)));
    store(m_record, kCopiedKey, QVariant(quint64(copied + partial)));
    store(m_record, kCopySourcePathKey, m_currentSourcePath.isNull() ? QVariant() : QVariant(m_currentSourcePath));
    // Wraps like the unsigned difference, read as signed: more copied than estimated is negative.
    store(m_record, kUnaccountedKey, QVariant(qint64(total - filtered - present - copied)));
    return m_record;
}

QVariantMap PMSyncProgress::record() const
{
    std::lock_guard lock(m_mutex);
    return m_record;
}
