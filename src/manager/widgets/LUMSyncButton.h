// The sync-now/stop button: a toggle titled "Sync Now" while off and "Stop Sync" while on,
// filled with a two-part vertical gradient whose upper half follows the state:
//
//   disabled               0.933 grey           -> 0.933 grey
//   off                    (0.2941,0.7098,0.7059) -> (0.3843,0.8118,0.8078)
//   off, hovered           (0,0.7922,0.7922)    -> (0,0.9176,0.9176)
//   off, pressed           (0,0.8235,0.8235)    -> (0,0.8235,0.8235)
//   on                     0.7098 grey          -> 0.7804 grey
//   on, hovered            0.8 grey             -> 0.8667 grey
//   on, pressed            0.8 grey             -> 0.8 grey
//
// The lower half continues from the upper end colour a little darker, which gives the
// glassy two-part look. Focusable; assistive technology sees a toggle button with the title.
//
// Main thread.
#pragma once

#include <QAbstractButton>
#include <QColor>

#include <utility>

class LUMSyncButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit LUMSyncButton(QWidget *parent = nullptr);

    bool isMouseOver() const { return m_mouseOver; }
    bool isMouseDown() const { return isDown(); }

    // The upper gradient (top colour, colour at the middle) for a situation.
    static std::pair<QColor, QColor> upperGradient(bool enabled, bool on, bool hovered, bool pressed);
    std::pair<QColor, QColor> currentUpperGradient() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void updateTitle();

    bool m_mouseOver = false;
};
