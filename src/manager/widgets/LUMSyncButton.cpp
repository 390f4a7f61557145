#include "manager/widgets/LUMSyncButton.h"

#include <QEnterEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

QColor grey(qreal level)
{
    return QColor::fromRgbF(float(level), float(level), float(level), 1.0f);
}

QColor rgb(qreal red, qreal green, qreal blue)
{
    return QColor::fromRgbF(float(red), float(green), float(blue), 1.0f);
}

} // namespace

LUMSyncButton::LUMSyncButton(QWidget *parent)
    : QAbstractButton(parent)
{
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    connect(this, &QAbstractButton::toggled, this, [this] {
        updateTitle();
        update();
    });
    updateTitle();
}

void LUMSyncButton::updateTitle()
{
    setText(isChecked() ? tr("Stop Sync") : tr("Sync Now"));
}

std::pair<QColor, QColor> LUMSyncButton::upperGradient(bool enabled, bool on, bool hovered, bool pressed)
{
    if (!enabled)
        return { grey(0.933), grey(0.933) };
    if (on) {
        if (pressed)
            return { grey(0.8), grey(0.8) };
        if (hovered)
            return { grey(0.8), grey(0.8667) };
        return { grey(0.7098), grey(0.7804) };
    }
    if (pressed)
        return { rgb(0, 0.8235, 0.8235), rgb(0, 0.8235, 0.8235) };
    if (hovered)
        return { rgb(0, 0.7922, 0.7922), rgb(0, 0.9176, 0.9176) };
    return { rgb(0.2941, 0.7098, 0.7059), rgb(0.3843, 0.8118, 0.8078) };
}

std::pair<QColor, QColor> LUMSyncButton::currentUpperGradient() const
{
    return upperGradient(isEnabled(), isChecked(), m_mouseOver, isDown());
}

QSize LUMSyncButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int width = qMax(metrics.horizontalAdvance(tr("Sync Now")), metrics.horizontalAdvance(tr("Stop Sync")));
    return QSize(width + 32, metrics.height() + 12);
}

void LUMSyncButton::enterEvent(QEnterEvent *event)
{
    m_mouseOver = true;
    update();
    QAbstractButton::enterEvent(event);
}

void LUMSyncButton::leaveEvent(QEvent *event)
{
    m_mouseOver = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void LUMSyncButton::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange)
        update();
    QAbstractButton::changeEvent(event);
}

void LUMSyncButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = 5;
    QPainterPath shape;
    shape.addRoundedRect(bounds, radius, radius);

    const auto [top, middle] = currentUpperGradient();
    const qreal half = bounds.top() + bounds.height() / 2;
    QLinearGradient fill(bounds.topLeft(), bounds.bottomLeft());
    const qreal split = (half - bounds.top()) / bounds.height();
    fill.setColorAt(0, top);
    fill.setColorAt(split, middle);
    fill.setColorAt(split + 0.0001, middle.darker(106));
    fill.setColorAt(1, middle.darker(112));
    painter.fillPath(shape, fill);

    painter.setPen(QPen(middle.darker(140), 1));
    painter.drawPath(shape);

    // The fill is fixed and light, so the title takes a dark ink whatever the theme.
    painter.setPen(isEnabled() ? QColor(0x1e, 0x1e, 0x1e) : QColor(0x8c, 0x8c, 0x8c));
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, text());

    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(palette().color(QPalette::Active, QPalette::Highlight), 2));
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), radius, radius);
    }
}
