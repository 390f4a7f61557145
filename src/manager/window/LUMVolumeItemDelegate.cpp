#include "manager/window/LUMVolumeItemDelegate.h"

#include "manager/volumes/LUMVolumeListModel.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QStyle>

void LUMVolumeItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QString name = index.data(LUMVolumeListModel::NameRole).toString();
    const QString capacity = index.data(LUMVolumeListModel::CapacityTextRole).toString();
    // The background (selection, focus) comes from the style; the contents are ours.
    opt.text.clear();
    opt.icon = QIcon();
    QStyle *style = opt.widget ? opt.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);

    painter->save();
    const QRect area = opt.rect.adjusted(4, 2, -4, -2);
    const QIcon icon
        = QIcon::fromTheme(QStringLiteral("drive-removable-media"), style->standardIcon(QStyle::SP_DriveHDIcon));
    const QRect iconRect(area.left(), area.top() + (area.height() - kIconSize) / 2, kIconSize, kIconSize);
    icon.paint(painter, iconRect);

    const bool selected = opt.state.testFlag(QStyle::State_Selected);
    const QPalette::ColorGroup group
        = opt.state.testFlag(QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
    painter->setPen(opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    QFont bold = opt.font;
    bold.setBold(true);
    const QRect textRect = area.adjusted(kIconSize + 6, 0, 0, 0);
    const int half = textRect.height() / 2;
    painter->setFont(bold);
    painter->drawText(textRect.adjusted(0, 0, 0, -half), Qt::AlignLeft | Qt::AlignBottom,
        QFontMetrics(bold).elidedText(name, Qt::ElideRight, textRect.width()));
    QFont small = opt.font;
    small.setPointSizeF(std::max(1.0, small.pointSizeF() * 0.85));
    painter->setFont(small);
    if (!selected)
        painter->setPen(opt.palette.color(group, QPalette::PlaceholderText));
    painter->drawText(textRect.adjusted(0, textRect.height() - half, 0, 0), Qt::AlignLeft | Qt::AlignTop,
        QFontMetrics(small).elidedText(capacity, Qt::ElideRight, textRect.width()));
    painter->restore();
}

QSize LUMVolumeItemDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    Q_UNUSED(index);
    const int lines = option.fontMetrics.height() * 2 + 8;
    return { 180, std::max(kIconSize + 8, lines) };
}
