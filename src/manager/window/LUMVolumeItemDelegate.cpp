#include "manager/window/LUMVolumeItemDelegate.h"

#include "manager/volumes/LUMVolumeListModel.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QStringList>
#include <QStyle>

void LUMVolumeItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QString name = index.data(LUMVolumeListModel::NameRole).toString();
    const QString capacity = index.data(LUMVolumeListModel::CapacityTextRole).toString();
    const QString partition = index.data(LUMVolumeListModel::PartitionRole).toString();
    // The background (selection, focus) comes from the style; the contents are ours.
    opt.text.clear();
    opt.icon = QIcon();
    QStyle *style = opt.widget ? opt.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);

    painter->save();
    const QRect area = opt.rect.adjusted(4, 2, -4, -2);
    const QString iconName = index.data(LUMVolumeListModel::IconNameRole).toString();
    const QIcon icon = iconName.isEmpty()
        ? QIcon::fromTheme(QStringLiteral("drive-removable-media"), style->standardIcon(QStyle::SP_DriveHDIcon))
        : QIcon::fromTheme(iconName, style->standardIcon(QStyle::SP_DriveNetIcon));
    const QRect iconRect(area.left(), area.top() + (area.height() - kIconSize) / 2, kIconSize, kIconSize);
    icon.paint(painter, iconRect);

    const bool selected = opt.state.testFlag(QStyle::State_Selected);
    const QPalette::ColorGroup group
        = opt.state.testFlag(QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
    painter->setPen(opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    QFont bold = opt.font;
    bold.setBold(true);
    const QRect textRect = area.adjusted(kIconSize + 6, 0, 0, 0);
    // Name, then a share's name when there is one, then the capacity: the lines share the
    // row's height.
    const QStringList below = partition.isEmpty() ? QStringList { capacity } : QStringList { partition, capacity };
    const int line = textRect.height() / int(below.size() + 1);
    painter->setFont(bold);
    painter->drawText(QRect(textRect.left(), textRect.top(), textRect.width(), line), Qt::AlignLeft | Qt::AlignBottom,
        QFontMetrics(bold).elidedText(name, Qt::ElideRight, textRect.width()));
    QFont small = opt.font;
    small.setPointSizeF(std::max(1.0, small.pointSizeF() * 0.85));
    painter->setFont(small);
    if (!selected)
        painter->setPen(opt.palette.color(group, QPalette::PlaceholderText));
    for (int i = 0; i < below.size(); ++i) {
        const QRect lineRect(textRect.left(), textRect.top() + line * (i + 1), textRect.width(), line);
        painter->drawText(lineRect, Qt::AlignLeft | Qt::AlignVCenter,
            QFontMetrics(small).elidedText(below.at(i), Qt::ElideRight, textRect.width()));
    }
    painter->restore();
}

QSize LUMVolumeItemDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const int count = index.data(LUMVolumeListModel::PartitionRole).toString().isEmpty() ? 2 : 3;
    const int lines = option.fontMetrics.height() * count + 8;
    return { 180, std::max(kIconSize + 8, lines) };
}
