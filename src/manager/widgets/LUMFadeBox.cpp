#include "manager/widgets/LUMFadeBox.h"

#include <QGraphicsOpacityEffect>
#include <QPropertyAnimation>

LUMFadeBox::LUMFadeBox(QWidget *parent)
    : LUMFadeBox(QString(), parent)
{
}

LUMFadeBox::LUMFadeBox(const QString &title, QWidget *parent)
    : QGroupBox(title, parent)
    , m_effect(new QGraphicsOpacityEffect(this))
    , m_animation(new QPropertyAnimation(m_effect, "opacity", this))
{
    m_effect->setOpacity(1.0);
    // An opacity effect renders the box off screen; keep it off while the box is opaque.
    m_effect->setEnabled(false);
    setGraphicsEffect(m_effect);
    connect(m_animation, &QPropertyAnimation::finished, this, &LUMFadeBox::fadeEnded);
}

qreal LUMFadeBox::opacity() const
{
    return m_effect->opacity();
}

bool LUMFadeBox::isFading() const
{
    return m_animation->state() == QAbstractAnimation::Running;
}

void LUMFadeBox::setFadedVisible(bool visible)
{
    if (visible)
        fadeIn();
    else
        fadeOut();
}

void LUMFadeBox::fadeIn()
{
    if (isHidden() && !isFading())
        m_effect->setOpacity(0.0);
    setVisible(true);
    fadeTo(1.0);
}

void LUMFadeBox::fadeOut()
{
    if (isHidden()) {
        m_effect->setOpacity(0.0);
        Q_EMIT fadeFinished(false);
        return;
    }
    fadeTo(0.0);
}

void LUMFadeBox::fadeTo(qreal target)
{
    m_animation->stop();
    m_effect->setEnabled(true);
    m_animation->setDuration(m_duration);
    m_animation->setStartValue(m_effect->opacity());
    m_animation->setEndValue(target);
    m_animation->start();
}

void LUMFadeBox::fadeEnded()
{
    if (m_effect->opacity() <= 0.0) {
        setVisible(false);
        Q_EMIT fadeFinished(false);
        return;
    }
    m_effect->setEnabled(false);
    Q_EMIT fadeFinished(true);
}
