#include "agent/sync/PMPreviewTableDataSource.h"

#include "agent/sync/PMScanEntry.h"

QStringList PMPreviewTableDataSource::defaultColumns()
{
    return { PMScanEntry::kEnabledKey, PMPreviewSyncEntry::kEntryTypeStringKey, PMPreviewSyncEntry::kFileNameKey,
        PMPreviewSyncEntry::kLocalFileInfoKey, PMPreviewSyncEntry::kTavrinFileInfoKey };
}

PMPreviewTableDataSource::PMPreviewTableDataSource(PMScanResults *storage, QStringList columns, QObject *parent)
    : QAbstractTableModel(parent)
    , m_storage(storage)
    , m_columns(std::move(columns))
{
}

void PMPreviewTableDataSource::setDataStorage(PMScanResults *storage)
{
    beginResetModel();
    m_storage = storage;
    endResetModel();
}

int PMPreviewTableDataSource::numberOfRows() const
{
    return m_storage ? int(m_storage->size()) : -1;
}

bool PMPreviewTableDataSource::isRow(int row) const
{
    return m_storage && row >= 0 && row < m_storage->size();
}

std::optional<PMPreviewSyncEntry> PMPreviewTableDataSource::entryAtRow(int row) const
{
    if (!isRow(row))
        return std::nullopt;
    return PMPreviewSyncEntry(m_storage->at(row).toDictionary(), m_storage->localTempPath());
}

QVariantMap PMPreviewTableDataSource::objectAtRow(int row) const
{
    return isRow(row) ? m_storage->at(row).toDictionary() : QVariantMap();
}

bool PMPreviewTableDataSource::shouldHighlightColumnWithID(const QString &identifier, int row) const
{
    const std::optional<PMPreviewSyncEntry> entry = entryAtRow(row);
    return entry && entry->shouldHighlightColumnWithID(identifier);
}

void PMPreviewTableDataSource::storeEntry(int row, const PMPreviewSyncEntry &entry)
{
    m_storage->setEntryAt(row, PMScanEntry::fromDictionary(entry.entryDict()));
    Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
}

bool PMPreviewTableDataSource::tableSingleAction(const QModelIndex &index)
{
    if (!index.isValid() || !isRow(index.row()) || index.column() < 0 || index.column() >= m_columns.size())
        return false;
    std::optional<PMPreviewSyncEntry> entry = entryAtRow(index.row());
    if (!entry->clickedColumnWithIdentifier(m_columns.at(index.column())))
        return false;
    storeEntry(index.row(), *entry);
    return true;
}

void PMPreviewTableDataSource::deleteAllRows()
{
    if (!m_storage)
        return;
    beginResetModel();
    const QString localTemp = m_storage->localTempPath();
    m_storage->clearScanResults();
    m_storage->setLocalTempPath(localTemp);
    endResetModel();
}

void PMPreviewTableDataSource::updateData()
{
    beginResetModel();
    endResetModel();
}

int PMPreviewTableDataSource::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : std::max(numberOfRows(), 0);
}

int PMPreviewTableDataSource::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant PMPreviewTableDataSource::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.column() >= m_columns.size())
        return QVariant();
    const std::optional<PMPreviewSyncEntry> entry = entryAtRow(index.row());
    if (!entry)
        return QVariant();
    const QString &identifier = m_columns.at(index.column());
    switch (role) {
    case Qt::DisplayRole:
        return entry->valueForKey(identifier);
    case Qt::CheckStateRole:
        if (identifier == PMScanEntry::kEnabledKey)
            return entry->syncActionEnabled() ? Qt::Checked : Qt::Unchecked;
        return QVariant();
    case Qt::ToolTipRole:
        return identifier == PMPreviewSyncEntry::kFileNameKey ? QVariant(entry->localDisplayPath()) : QVariant();
    case HighlightRole:
        return entry->shouldHighlightColumnWithID(identifier);
    case IdentifierRole:
        return identifier;
    default:
        return QVariant();
    }
}

QVariant PMPreviewTableDataSource::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_columns.size())
        return QVariant();
    const QString &identifier = m_columns.at(section);
    if (role == IdentifierRole)
        return identifier;
    if (role != Qt::DisplayRole)
        return QVariant();
    if (identifier == PMScanEntry::kEnabledKey)
        return tr("Sync");
    if (identifier == PMPreviewSyncEntry::kEntryTypeStringKey)
        return tr("Type");
    if (identifier == PMPreviewSyncEntry::kFileNameKey)
        return tr("Name");
    if (identifier == PMPreviewSyncEntry::kLocalDisplayPathKey || identifier == PMScanEntry::kLocalPathKey)
        return tr("Location");
    if (identifier == PMPreviewSyncEntry::kLocalFileInfoKey)
        return tr("On this computer");
    if (identifier == PMPreviewSyncEntry::kTavrinFileInfoKey)
        return tr("On the drive");
    return identifier;
}

Qt::ItemFlags PMPreviewTableDataSource::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
}

bool PMPreviewTableDataSource::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || !isRow(index.row()) || index.column() >= m_columns.size())
        return false;
    std::optional<PMPreviewSyncEntry> entry = entryAtRow(index.row());
    entry->setValueForKey(m_columns.at(index.column()), value);
    storeEntry(index.row(), *entry);
    return true;
}
