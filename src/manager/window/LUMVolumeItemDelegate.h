// Draws a row of the drive list: the drive's icon, its name in bold, a network share's name
// below it, then the capacity line ("14.53 GB free of 29.72 GB"), in the palette's colours
// (highlighted when selected).
//
// Main thread.
#pragma once

#include <QStyledItemDelegate>

class LUMVolumeItemDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    static constexpr int kIconSize = 32;
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
