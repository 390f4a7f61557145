#include "agent/sync/PMScanResults.h"

#include "platform/PMCorvaneUtilities.h"

bool PMScanResults::clearScanResults()
{
    std::vector<PMScanEntry>().swap(m_entries); // give the memory back between jobs
    m_localTempPath.clear();
    return true;
}

bool PMScanResults::addEntryToScanResults(PMScanEntry entry)
{
    m_entries.push_back(std::move(entry));
    return true;
}

bool PMScanResults::replaceEntryFromScanResultsForLocalPath(const QString &localPath, PMScanEntry entry)
{
    for (PMScanEntry &existing : m_entries) {
        if (existing.localPath == localPath) {
            existing = std::move(entry);
            return true;
        }
    }
    return false;
}

QVariantMap PMScanResults::toDictionary() const
{
    QVariantMap d;
    if (!m_entries.empty())
        d.insert(kNumEntriesKey, qint64(m_entries.size()));
    for (size_t i = 0; i < m_entries.size(); ++i)
        d.insert(QString::number(i), m_entries[i].toDictionary());
    if (!m_localTempPath.isEmpty())
        d.insert(kLocalTempPathKey, m_localTempPath);
    return d;
}

PMScanResults PMScanResults::fromDictionary(const QVariantMap &dictionary)
{
    PMScanResults results;
    const qint64 count = PMCorvaneUtilities::numberForKey(dictionary, kNumEntriesKey).toLongLong();
    for (qint64 i = 0; i < count; ++i) {
        const auto entry = PMCorvaneUtilities::dictionaryForKey(dictionary, QString::number(i));
        if (entry)
            results.m_entries.push_back(PMScanEntry::fromDictionary(*entry));
    }
    results.m_localTempPath = PMCorvaneUtilities::stringForKey(dictionary, kLocalTempPathKey);
    return results;
}
