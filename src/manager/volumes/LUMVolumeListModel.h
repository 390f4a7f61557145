// The volume list as a Qt list model for the window's volume table: one row per listed volume,
// in the monitor's order, with the rows inserted and removed as the monitor changes its list.
// The display role is the volume's name; the other roles are named for QML and delegates.
//
// Main thread.
#pragma once

#include <QAbstractListModel>

#include <memory>

class LUMVolumeBase;
class LUMVolumeMonitor;

class LUMVolumeListModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role {
        NameRole = Qt::UserRole + 1,
        CapacityTextRole,
        PathRole,
        FsNameRole,
        PercentInUseRole,
        // A share's name under the device's name; empty for a local drive.
        PartitionRole,
        // The themed icon name of the volume's kind; empty for a local drive.
        IconNameRole,
    };
    Q_ENUM(Role)

    explicit LUMVolumeListModel(LUMVolumeMonitor &monitor, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    // The volume of a row, or nullptr for a row out of range.
    std::shared_ptr<LUMVolumeBase> volumeAt(int row) const;

private:
    LUMVolumeMonitor &m_monitor;
};
