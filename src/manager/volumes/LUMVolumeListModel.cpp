#include "manager/volumes/LUMVolumeListModel.h"

#include "manager/volumes/LUMVolumeMonitor.h"

LUMVolumeListModel::LUMVolumeListModel(LUMVolumeMonitor &monitor, QObject *parent)
    : QAbstractListModel(parent)
    , m_monitor(monitor)
{
    connect(&monitor, &LUMVolumeMonitor::volumeAboutToBeInserted, this,
        [this](int row) { beginInsertRows(QModelIndex(), row, row); });
    connect(&monitor, &LUMVolumeMonitor::volumeInserted, this, [this] { endInsertRows(); });
    connect(&monitor, &LUMVolumeMonitor::volumeAboutToBeRemoved, this,
        [this](int row) { beginRemoveRows(QModelIndex(), row, row); });
    connect(&monitor, &LUMVolumeMonitor::volumeRemoved, this, [this] { endRemoveRows(); });
}

int LUMVolumeListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_monitor.volumes().size());
}

std::shared_ptr<LUMVolumeBase> LUMVolumeListModel::volumeAt(int row) const
{
    if (row < 0 || row >= m_monitor.volumes().size())
        return nullptr;
    return m_monitor.volumes().at(row);
}

QVariant LUMVolumeListModel::data(const QModelIndex &index, int role) const
{
    const std::shared_ptr<LUMVolumeBase> volume = index.isValid() ? volumeAt(index.row()) : nullptr;
    if (!volume)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case NameRole:
        return volume->volumeName();
    case CapacityTextRole:
        return volume->capacityString();
    case PathRole:
        return volume->volumePathName();
    case FsNameRole:
        return volume->fsName();
    case PercentInUseRole:
        return volume->percentInUse();
    case PartitionRole:
        return volume->mountedPartitionString();
    case IconNameRole:
        return volume->iconName();
    default:
        return {};
    }
}

QHash<int, QByteArray> LUMVolumeListModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(NameRole, "name");
    names.insert(CapacityTextRole, "capacityText");
    names.insert(PathRole, "path");
    names.insert(FsNameRole, "fsName");
    names.insert(PercentInUseRole, "percentInUse");
    names.insert(PartitionRole, "partition");
    names.insert(IconNameRole, "iconName");
    return names;
}
