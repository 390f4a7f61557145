// A titled box whose showing and hiding fade: fadeIn() makes it visible and brings its
// opacity to 1; fadeOut() brings the opacity to 0 and only then hides it for real. A fade-in
// that interrupts a fade-out keeps the box visible.
//
// Main thread.
#pragma once

#include <QGroupBox>

class QGraphicsOpacityEffect;
class QPropertyAnimation;

class LUMFadeBox : public QGroupBox {
    Q_OBJECT

public:
    static constexpr int kDefaultFadeMs = 250;

    explicit LUMFadeBox(QWidget *parent = nullptr);
    explicit LUMFadeBox(const QString &title, QWidget *parent = nullptr);

    qreal opacity() const;
    bool isFading() const;
    int fadeDuration() const { return m_duration; }
    void setFadeDuration(int milliseconds) { m_duration = milliseconds; }

public Q_SLOTS:
    void fadeIn();
    void fadeOut();
    void setFadedVisible(bool visible);

Q_SIGNALS:
    void fadeFinished(bool visible);

private:
    void fadeTo(qreal target);
    void fadeEnded();

    QGraphicsOpacityEffect *m_effect;
    QPropertyAnimation *m_animation;
    int m_duration = kDefaultFadeMs;
};
