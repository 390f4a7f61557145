#include "manager/widgets/LUMOnOffButton.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

LUMOnOffButton::LUMOnOffButton(QWidget *parent)
    : QAbstractButton(parent)
{
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_timer.setInterval(kAnimationIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &LUMOnOffButton::advanceAnimation);
    // QAbstractButton announces every real change of the checked state, whichever setter made
    // it; it also tells assistive technology, which sees a checkable button as a check box.
    connect(this, &QAbstractButton::toggled, this, &LUMOnOffButton::customStateChanged);
}

void LUMOnOffButton::setCustomState(bool on)
{
    setChecked(on);
}

QRectF LUMOnOffButton::innerRect() const
{
    return QRectF(rect()).adjusted(1, 2, -1, -2);
}

qreal LUMOnOffButton::knobWidth() const
{
    return std::ceil((innerRect().width() - 2) * 0.37);
}

qreal LUMOnOffButton::restKnobCentre(bool on) const
{
    const QRectF inner = innerRect();
    const qreal half = knobWidth() / 2;
    return on ? inner.right() - 2 - half : inner.left() + half;
}

qreal LUMOnOffButton::knobCentre() const
{
    return m_position ? *m_position : restKnobCentre(isChecked());
}

QRectF LUMOnOffButton::knobRect() const
{
    const QRectF inner = innerRect();
    const qreal width = knobWidth();
    return QRectF(knobCentre() - width / 2, inner.top(), width, inner.height());
}

bool LUMOnOffButton::acceptsKnobAt(qreal x) const
{
    // The knob never leaves the stretch between its two rest positions.
    return x >= restKnobCentre(false) && x <= restKnobCentre(true);
}

void LUMOnOffButton::setManualAnimationSteps(bool manual)
{
    m_manualSteps = manual;
    if (manual)
        m_timer.stop();
    else if (m_animating)
        m_timer.start();
}

void LUMOnOffButton::animateToggle(qreal fromX)
{
    if (m_animating)
        return;
    m_animating = true;
    m_position = fromX;
    m_target = restKnobCentre(!isChecked());
    if (!m_manualSteps)
        m_timer.start();
    update();
}

void LUMOnOffButton::advanceAnimation()
{
    if (!m_animating || !m_position)
        return;
    qreal position = *m_position;
    if (std::abs(m_target - position) > kArrivalDistance) {
        position += m_target < position ? -kAnimationStep : kAnimationStep;
        m_position = position;
    }
    if (std::abs(m_target - position) <= kArrivalDistance) {
        finishAnimation();
        return;
    }
    update();
}

void LUMOnOffButton::finishAnimation()
{
    m_timer.stop();
    m_animating = false;
    m_tracking = false;
    m_position.reset();
    setChecked(!isChecked());
    update();
}

QSize LUMOnOffButton::sizeHint() const
{
    return QSize(80, 26);
}

QSize LUMOnOffButton::minimumSizeHint() const
{
    return QSize(40, 16);
}

void LUMOnOffButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_animating) {
        event->ignore();
        return;
    }
    m_tracking = true;
    setDown(true);
    event->accept();
}

void LUMOnOffButton::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_tracking || m_animating) {
        event->ignore();
        return;
    }
    const QPointF point = event->position();
    if (!rect().contains(point.toPoint()))
        m_position.reset(); // leaving the control puts the knob back
    else if (acceptsKnobAt(point.x()))
        m_position = point.x();
    update();
    event->accept();
}

void LUMOnOffButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_tracking) {
        event->ignore();
        return;
    }
    m_tracking = false;
    setDown(false);
    const QPointF point = event->position();
    if (!m_animating && rect().contains(point.toPoint()))
        animateToggle(point.x());
    else if (!m_animating)
        m_position.reset();
    update();
    event->accept();
}

void LUMOnOffButton::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Space) {
        event->accept(); // the toggle happens on release, like a click
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void LUMOnOffButton::keyReleaseEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Space) {
        if (!event->isAutoRepeat())
            animateToggle(restKnobCentre(isChecked()));
        event->accept();
        return;
    }
    QAbstractButton::keyReleaseEvent(event);
}

void LUMOnOffButton::changeEvent(QEvent *event)
{
    // A disabled switch must not finish a slide the user can no longer see through.
    if (event->type() == QEvent::EnabledChange && !isEnabled() && m_animating)
        finishAnimation();
    QAbstractButton::changeEvent(event);
}

void LUMOnOffButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
    const QPalette &colours = palette();
    const QRectF inner = innerRect();
    const qreal radius = 4;

    QPainterPath track;
    track.addRoundedRect(inner, radius, radius);
    const QRectF knob = knobRect();
    const QRectF onSide(inner.left(), inner.top(), knob.center().x() - inner.left(), inner.height());
    const QRectF offSide(knob.center().x(), inner.top(), inner.right() - knob.center().x(), inner.height());

    painter.save();
    painter.setClipPath(track);
    painter.fillRect(onSide, colours.color(group, QPalette::Highlight));
    painter.fillRect(offSide, colours.color(group, QPalette::Button));
    QFont labelFont = font();
    labelFont.setBold(true);
    labelFont.setPixelSize(qMax(8, int(inner.height() * 0.45)));
    painter.setFont(labelFont);
    // Each label rides beside the knob, as wide as the knob's travel, and leaves the track with
    // it: centred in whatever room is left at the knob's end of the track, it would show
    // its middle letters in the sliver there.
    const qreal labelWidth = inner.width() - knob.width();
    const QRectF onLabel(knob.left() - labelWidth, inner.top(), labelWidth, inner.height());
    const QRectF offLabel(knob.right(), inner.top(), labelWidth, inner.height());
    painter.setPen(colours.color(group, QPalette::HighlightedText));
    painter.drawText(onLabel, Qt::AlignCenter, tr("ON"));
    painter.setPen(colours.color(group, QPalette::ButtonText));
    painter.drawText(offLabel, Qt::AlignCenter, tr("OFF"));
    painter.restore();

    painter.setPen(QPen(colours.color(group, QPalette::Mid), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(track);

    QLinearGradient knobFill(knob.topLeft(), knob.bottomLeft());
    knobFill.setColorAt(0, colours.color(group, QPalette::Light));
    knobFill.setColorAt(1, colours.color(group, isDown() ? QPalette::Mid : QPalette::Button));
    painter.setBrush(knobFill);
    painter.setPen(QPen(colours.color(group, QPalette::Dark), 1));
    painter.drawRoundedRect(knob.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);

    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(colours.color(QPalette::Active, QPalette::Highlight), 1.5));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), radius + 1, radius + 1);
    }
}
