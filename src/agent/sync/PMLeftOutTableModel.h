// The files a sync's media filter left out as a two-column table (the file, the reason), for
// the preview window's "Left out" tab.
//
//   PMLeftOutTableModel model(leftOut.items());
//   view->setModel(&model);
//
// Read-only; main thread (or the thread that owns the model).
#pragma once

#include "agent/sync/PMLeftOutList.h"

#include <QAbstractTableModel>

#include <vector>

class PMLeftOutTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { kFileColumn = 0, kReasonColumn = 1 };

    explicit PMLeftOutTableModel(std::vector<PMLeftOutList::Item> items = {}, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    // The file shows the path with the home folder as "~"; its tool tip the whole path.
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    std::vector<PMLeftOutList::Item> m_items;
};
