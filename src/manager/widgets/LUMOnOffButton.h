// The participation switch: a two-state toggle drawn as a track with "ON" and "OFF" labels
// and a knob. A click (or Space) slides the knob to the other end and only then changes the
// state; the knob can also be dragged between its two rest positions.
//
//   auto *sw = new LUMOnOffButton(parent);
//   connect(sw, &LUMOnOffButton::customStateChanged, controller, &Controller::participationChanged);
//
// Every way of setting the state (setCustomState, setChecked, a finished slide) announces
// customStateChanged exactly once, and only when the state differs. Assistive technology
// sees a check box named by the accessible name or the text, with the state.
//
// Knob geometry, in widget coordinates: the inner rectangle is the bounds inset by 1 on the
// left and right and by 2 at the top and bottom; the knob is ceil((inner width - 2) * 0.37)
// wide; at rest it is centred half a knob width right of the inner left edge when off, and
// half a knob width left of (inner right edge - 2) when on.
//
// Animation: a 10 ms timer moves the knob 3 units per tick towards the target; once it is
// within 1.5 units the timer stops, the knob returns to rest and the state toggles. Callers
// that drive frames themselves (tests, offscreen rendering) switch the timer off with
// setManualAnimationSteps(true) and call advanceAnimation().
//
// Main thread.
#pragma once

#include <QAbstractButton>
#include <QRectF>
#include <QTimer>

#include <optional>

class LUMOnOffButton : public QAbstractButton {
    Q_OBJECT
    Q_PROPERTY(bool customState READ customState WRITE setCustomState NOTIFY customStateChanged)

public:
    static constexpr int kAnimationIntervalMs = 10;
    static constexpr qreal kAnimationStep = 3.0;
    static constexpr qreal kArrivalDistance = 1.5;

    explicit LUMOnOffButton(QWidget *parent = nullptr);

    bool customState() const { return isChecked(); }

    // The inner rectangle, knob width and the knob's rest centre for a state, for the current size.
    QRectF innerRect() const;
    qreal knobWidth() const;
    qreal restKnobCentre(bool on) const;
    // Where the knob is drawn now: its rest centre, or the dragged or animated position.
    qreal knobCentre() const;
    QRectF knobRect() const;

    bool isAnimating() const { return m_animating; }
    void setManualAnimationSteps(bool manual);
    // One animation tick; does nothing when no slide runs.
    void advanceAnimation();
    // Starts sliding towards the other state from the given knob centre (a click point).
    void animateToggle(qreal fromX);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

public Q_SLOTS:
    void setCustomState(bool on);

Q_SIGNALS:
    void customStateChanged(bool on);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    bool acceptsKnobAt(qreal x) const;
    void finishAnimation();

    QTimer m_timer;
    bool m_manualSteps = false;
    bool m_animating = false;
    bool m_tracking = false;
    // Unset while the knob is at rest.
    std::optional<qreal> m_position;
    qreal m_target = 0;
};
