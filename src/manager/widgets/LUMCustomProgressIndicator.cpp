#include "manager/widgets/LUMCustomProgressIndicator.h"

#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace {

int g_stripeStep = 0;

} // namespace

LUMCustomProgressIndicator::LUMCustomProgressIndicator(QWidget *parent)
    : QProgressBar(parent)
{
    setTextVisible(false);
    m_timer.setInterval(kAnimationIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &LUMCustomProgressIndicator::advanceStripes);
}

void LUMCustomProgressIndicator::setIndeterminate(bool indeterminate)
{
    if (indeterminate == isIndeterminate())
        return;
    if (indeterminate) {
        m_savedMaximum = maximum();
        setRange(0, 0);
    } else {
        setRange(0, m_savedMaximum > 0 ? m_savedMaximum : 100);
    }
    update();
}

void LUMCustomProgressIndicator::setDisplayedWhenStopped(bool displayed)
{
    m_displayedWhenStopped = displayed;
    if (displayed && !m_animating)
        show();
}

void LUMCustomProgressIndicator::setManualAnimationSteps(bool manual)
{
    m_manualSteps = manual;
    if (manual)
        m_timer.stop();
    else if (m_animating)
        m_timer.start();
}

int LUMCustomProgressIndicator::stripeStep()
{
    return g_stripeStep;
}

void LUMCustomProgressIndicator::advanceStripes()
{
    g_stripeStep = (g_stripeStep + kStripeStep) % kStripePeriod;
    update();
}

void LUMCustomProgressIndicator::startAnimation()
{
    show();
    m_animating = true;
    if (!m_manualSteps)
        m_timer.start();
    update();
}

void LUMCustomProgressIndicator::stopAnimation()
{
    m_timer.stop();
    m_animating = false;
    if (!m_displayedWhenStopped)
        hide();
    update();
}

QSize LUMCustomProgressIndicator::sizeHint() const
{
    return QSize(160, 14);
}

void LUMCustomProgressIndicator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = qMin(bounds.height() / 2, 4.0);
    QPainterPath track;
    track.addRoundedRect(bounds, radius, radius);
    painter.fillPath(track, palette().color(group, QPalette::Base));

    qreal fraction = 1.0;
    if (!isIndeterminate()) {
        const qreal span = qreal(maximum()) - qreal(minimum());
        fraction = span > 0 ? qBound(0.0, (qreal(value()) - qreal(minimum())) / span, 1.0) : 0.0;
    }
    const QRectF filled(bounds.left(), bounds.top(), bounds.width() * fraction, bounds.height());
    if (filled.width() > 0) {
        painter.save();
        QPainterPath fillShape;
        fillShape.addRoundedRect(filled, radius, radius);
        painter.setClipPath(fillShape);
        const QColor base = palette().color(group, QPalette::Highlight);
        painter.fillRect(filled, base);
        // Stripes leaning right, shifted by the shared step; they only move while animating.
        const QColor stripe = base.lighter(125);
        const int height = qCeil(bounds.height());
        const int offset = m_animating || isIndeterminate() ? g_stripeStep : 0;
        for (int x = -kStripePeriod - height + offset; x < width() + height; x += kStripePeriod) {
            QPainterPath band;
            band.moveTo(x, bounds.bottom());
            band.lineTo(x + height, bounds.top());
            band.lineTo(x + height + kStripePeriod / 2, bounds.top());
            band.lineTo(x + kStripePeriod / 2, bounds.bottom());
            band.closeSubpath();
            painter.fillPath(band, stripe);
        }
        painter.restore();
    }
    painter.setPen(QPen(palette().color(group, QPalette::Mid), 1));
    painter.drawPath(track);
}
