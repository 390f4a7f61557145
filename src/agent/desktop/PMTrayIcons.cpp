#include "agent/desktop/PMTrayIcons.h"

#include <QPainter>
#include <QPixmap>

QIcon PMTrayIcons::icon(PMTrayActivity::State state, int percent)
{
    constexpr int kSize = 64;
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF disc(6, 6, kSize - 12, kSize - 12);
    switch (state) {
    case PMTrayActivity::State::Idle:
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x8a, 0x8f, 0x98));
        painter.drawEllipse(disc);
        break;
    case PMTrayActivity::State::Syncing:
        painter.setPen(QPen(QColor(0xc8, 0xd6, 0xf0), 8));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(disc);
        painter.setPen(QPen(QColor(0x2a, 0x6f, 0xdb), 8, Qt::SolidLine, Qt::FlatCap));
        painter.drawArc(disc, 90 * 16, -int(360 * 16 * percent / 100));
        break;
    case PMTrayActivity::State::Failed:
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0xd0, 0x31, 0x2d));
        painter.drawEllipse(disc);
        painter.setBrush(Qt::white);
        painter.drawRect(QRectF(kSize / 2.0 - 4, 16, 8, 22));
        painter.drawRect(QRectF(kSize / 2.0 - 4, 42, 8, 7));
        break;
    }
    painter.end();
    return QIcon(pixmap);
}
