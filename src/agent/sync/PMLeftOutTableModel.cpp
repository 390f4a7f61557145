#include "agent/sync/PMLeftOutTableModel.h"

#include "platform/PlatformPaths.h"

PMLeftOutTableModel::PMLeftOutTableModel(std::vector<PMLeftOutList::Item> items, QObject *parent)
    : QAbstractTableModel(parent)
    , m_items(std::move(items))
{
}

int PMLeftOutTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

int PMLeftOutTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 2;
}

QVariant PMLeftOutTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount())
        return QVariant();
    const PMLeftOutList::Item &item = m_items[std::size_t(index.row())];
    if (role == Qt::ToolTipRole && index.column() == kFileColumn)
        return item.path;
    if (role != Qt::DisplayRole)
        return QVariant();
    if (index.column() == kFileColumn)
        return platform::PlatformPaths::abbreviateWithTilde(item.path);
    if (index.column() == kReasonColumn)
        return item.refusal.text();
    return QVariant();
}

QVariant PMLeftOutTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    if (section == kFileColumn)
        return tr("File");
    if (section == kReasonColumn)
        return tr("Why it is left out");
    return QVariant();
}

Qt::ItemFlags PMLeftOutTableModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
}
