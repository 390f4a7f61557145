// The activity bar: a progress bar whose filled part (all of it while indeterminate) carries
// diagonal stripes that move while the bar is animating. startAnimation() shows the bar and
// moves the stripes one step every 1/15 s; stopAnimation() stops them and hides the bar
// unless displayedWhenStopped is set. The stripe step is shared by every bar, so bars side by
// side move in step.
//
// Determinate use is QProgressBar's: setRange(0, max), setValue(v); a range of 0..0 makes the
// bar indeterminate. The colours come from the palette (Highlight for the fill).
//
// Callers that drive frames themselves switch the timer off with setManualAnimationSteps(true)
// and call advanceStripes().
//
// Main thread.
#pragma once

#include <QProgressBar>
#include <QTimer>

class LUMCustomProgressIndicator : public QProgressBar {
    Q_OBJECT

public:
    static constexpr int kAnimationIntervalMs = 1000 / 15;
    // Stripe pattern period in pixels and how far one step moves it.
    static constexpr int kStripePeriod = 16;
    static constexpr int kStripeStep = 2;

    explicit LUMCustomProgressIndicator(QWidget *parent = nullptr);

    bool isIndeterminate() const { return minimum() == maximum(); }
    void setIndeterminate(bool indeterminate);

    bool isAnimating() const { return m_animating; }
    bool isDisplayedWhenStopped() const { return m_displayedWhenStopped; }
    void setDisplayedWhenStopped(bool displayed);

    void setManualAnimationSteps(bool manual);
    // The shared stripe offset, 0 <= step < kStripePeriod.
    static int stripeStep();
    // One timer tick: moves the shared stripes one step and redraws this bar.
    void advanceStripes();

    QSize sizeHint() const override;

public Q_SLOTS:
    void startAnimation();
    void stopAnimation();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QTimer m_timer;
    bool m_animating = false;
    bool m_manualSteps = false;
    bool m_displayedWhenStopped = false;
    int m_savedMaximum = 100;
};
