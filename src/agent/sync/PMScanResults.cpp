#include "agent/sync/PMScanResults.h"

#include "platform/PMCorvaneUtilities.h"

#include <QDateTime>

bool PMScanResults::clearScanResults()
{
    // Give the memory back between jobs.
    std::vector<Record>().swap(m_records);
    std::vector<Extra>().swap(m_extras);
    std::vector<QString>().swap(m_folders);
    m_folderIndex = QHash<QString, quint32>();
    std::vector<char16_t>().swap(m_names);
    m_lastLocalFolder = kNone;
    m_lastTavrinFolder = kNone;
    m_localTempPath.clear();
    return true;
}

quint32 PMScanResults::folderIndex(QStringView folder, quint32 *lastFolder)
{
    if (*lastFolder != kNone && m_folders[*lastFolder] == folder)
        return *lastFolder;
    const QString key = folder.toString();
    const auto found = m_folderIndex.constFind(key);
    if (found != m_folderIndex.cend()) {
        *lastFolder = found.value();
        return *lastFolder;
    }
    const quint32 index = quint32(m_folders.size());
    m_folders.push_back(key);
    m_folderIndex.insert(key, index);
    *lastFolder = index;
    return index;
}

PMScanResults::PathRef PMScanResults::storePath(const QString &path, quint32 *lastFolder)
{
    PathRef ref;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash >= 0)
        ref.folder = folderIndex(QStringView(path).left(slash + 1), lastFolder);
    const QStringView name = QStringView(path).mid(slash + 1);
    ref.nameOffset = quint32(m_names.size());
    ref.nameLength = quint32(name.size());
    m_names.insert(m_names.end(), name.utf16(), name.utf16() + name.size());
    return ref;
}

QStringView PMScanResults::nameOf(const PathRef &path) const
{
    return QStringView(m_names.data() + path.nameOffset, qsizetype(path.nameLength));
}

QString PMScanResults::pathOf(const PathRef &path) const
{
    const QStringView name = nameOf(path);
    if (path.folder == kNone)
        return name.isEmpty() ? QString() : name.toString();
    const QString &folder = m_folders[path.folder];
    QString whole;
    whole.reserve(folder.size() + name.size());
    whole.append(folder);
    whole.append(name);
    return whole;
}

bool PMScanResults::pathEquals(const PathRef &path, const QString &other) const
{
    const QStringView name = nameOf(path);
    if (path.folder == kNone)
        return other == name;
    const QString &folder = m_folders[path.folder];
    return other.size() == folder.size() + name.size() && other.startsWith(folder)
        && QStringView(other).mid(folder.size()) == name;
}

PMScanResults::Record PMScanResults::recordFor(const PMScanEntry &entry)
{
    Record record;
    record.type = entry.type;
    record.action = entry.action;
    record.enabled = entry.enabled;
    record.local = storePath(entry.localPath, &m_lastLocalFolder);
    // A drive path usually ends in the local path's name: the name is kept once.
    const qsizetype slash = entry.tavrinPath.lastIndexOf(QLatin1Char('/'));
    if (slash >= 0 && QStringView(entry.tavrinPath).mid(slash + 1) == nameOf(record.local)) {
        record.tavrin = record.local;
        record.tavrin.folder = folderIndex(QStringView(entry.tavrinPath).left(slash + 1), &m_lastTavrinFolder);
    } else {
        record.tavrin = storePath(entry.tavrinPath, &m_lastTavrinFolder);
    }
    const auto date = [&](const std::optional<QDateTime> &value, qint64 *stored, Present bit) {
        if (value) {
            *stored = value->isValid() ? value->toMSecsSinceEpoch() : kInvalidDate;
            record.present |= bit;
        }
    };
    const auto size = [&](const std::optional<qint64> &value, qint64 *stored, Present bit) {
        if (value) {
            *stored = *value;
            record.present |= bit;
        }
    };
    date(entry.localModDate, &record.localModDate, kHasLocalModDate);
    date(entry.tavrinModDate, &record.tavrinModDate, kHasTavrinModDate);
    date(entry.backupDate, &record.backupDate, kHasBackupDate);
    size(entry.localSize, &record.localSize, kHasLocalSize);
    size(entry.tavrinSize, &record.tavrinSize, kHasTavrinSize);
    if (!entry.trueDelete.isEmpty() || !entry.driveCopyToKeep.isEmpty()) {
        record.extra = quint32(m_extras.size());
        m_extras.push_back({ entry.trueDelete, entry.driveCopyToKeep });
    }
    return record;
}

bool PMScanResults::addEntryToScanResults(const PMScanEntry &entry)
{
    m_records.push_back(recordFor(entry));
    return true;
}

void PMScanResults::setEntryAt(qsizetype index, const PMScanEntry &entry)
{
    // The old entry's names stay in the buffer: replacing is a preview's edit, rare and small.
    m_records[size_t(index)] = recordFor(entry);
}

bool PMScanResults::replaceEntryFromScanResultsForLocalPath(const QString &localPath, const PMScanEntry &entry)
{
    for (size_t i = 0; i < m_records.size(); ++i) {
        if (pathEquals(m_records[i].local, localPath)) {
            setEntryAt(qsizetype(i), entry);
            return true;
        }
    }
    return false;
}

PMScanEntry PMScanResults::at(qsizetype index) const
{
    const Record &record = m_records[size_t(index)];
    PMScanEntry entry;
    entry.type = record.type;
    entry.action = record.action;
    entry.enabled = record.enabled;
    entry.localPath = pathOf(record.local);
    entry.tavrinPath = pathOf(record.tavrin);
    const auto date = [&](qint64 stored, Present bit) -> std::optional<QDateTime> {
        if (!(record.present & bit))
            return std::nullopt;
        return stored == kInvalidDate ? QDateTime() : QDateTime::fromMSecsSinceEpoch(stored, Qt::UTC);
    };
    const auto size = [&](qint64 stored, Present bit) -> std::optional<qint64> {
        if (!(record.present & bit))
            return std::nullopt;
        return stored;
    };
    entry.localModDate = date(record.localModDate, kHasLocalModDate);
    entry.tavrinModDate = date(record.tavrinModDate, kHasTavrinModDate);
    entry.backupDate = date(record.backupDate, kHasBackupDate);
    entry.localSize = size(record.localSize, kHasLocalSize);
    entry.tavrinSize = size(record.tavrinSize, kHasTavrinSize);
    if (record.extra != kNone) {
        const Extra &extra = m_extras[record.extra];
        entry.trueDelete = extra.trueDelete;
        entry.driveCopyToKeep = extra.driveCopyToKeep;
    }
    return entry;
}

QVariantMap PMScanResults::toDictionary() const
{
    QVariantMap d;
    if (!m_records.empty())
        d.insert(kNumEntriesKey, qint64(m_records.size()));
    for (qsizetype i = 0; i < size(); ++i)
        d.insert(QString::number(i), at(i).toDictionary());
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
            results.addEntryToScanResults(PMScanEntry::fromDictionary(*entry));
    }
    results.m_localTempPath = PMCorvaneUtilities::stringForKey(dictionary, kLocalTempPathKey);
    return results;
}
