// The sync list of the selected drive as the window's table model, over the agent client's
// syncPaths: one row per path. Edits go through the client, which sends the whole list to
// the agent.
//
// Drag and drop: one row at a time can be dragged out (its path as text). A drop is taken
// only between rows, only while drops are allowed (the custom plan), and only when every
// dropped path (text lines or file URLs) is acceptable (LUMSyncPathDropRules). A drag from
// this list moves its row; a drag from elsewhere inserts the paths at the drop row.
//
// Main thread.
#pragma once

#include <QAbstractListModel>
#include <QStringList>

class LUMPellmereInterface;

class LUMSyncPathsModel : public QAbstractListModel {
    Q_OBJECT

public:
    // Carries the dragged row and the model it came from.
    static inline const QString kRowMimeType = QStringLiteral("application/x-pellmere-sync-row");
    static constexpr quint32 kNoRow = 0xFFFFFFFFu;

    explicit LUMSyncPathsModel(LUMPellmereInterface &client, QObject *parent = nullptr);

    void setDropsAllowed(bool allowed) { m_dropsAllowed = allowed; }
    bool dropsAllowed() const { return m_dropsAllowed; }
    quint32 dragBeganAtRow() const { return m_dragBeganAtRow; }

    // Adds paths at the end; refused (false) when one of them is not acceptable.
    bool appendPaths(const QStringList &paths);
    void removeRowAt(int row);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    bool canDropMimeData(
        const QMimeData *data, Qt::DropAction action, int row, int column, const QModelIndex &parent) const override;
    bool dropMimeData(
        const QMimeData *data, Qt::DropAction action, int row, int column, const QModelIndex &parent) override;

private:
    static QStringList pathsOf(const QMimeData *data);
    // The row dragged from this very model, or kNoRow.
    quint32 ownRowOf(const QMimeData *data) const;
    void reload();

    LUMPellmereInterface &m_client;
    QStringList m_paths;
    bool m_dropsAllowed = false;
    mutable quint32 m_dragBeganAtRow = kNoRow;
};
