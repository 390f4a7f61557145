// A plain view filled top to bottom with a linear gradient between two colours (the window's
// header). Setting either colour redraws. Until set, the colours follow the palette (Window
// to a slightly darker Window), so a dark theme gets a dark header.
//
// Main thread.
#pragma once

#include <QColor>
#include <QWidget>

class LUMGradientView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor startingColor READ startingColor WRITE setStartingColor)
    Q_PROPERTY(QColor endingColor READ endingColor WRITE setEndingColor)

public:
    explicit LUMGradientView(QWidget *parent = nullptr);

    QColor startingColor() const;
    QColor endingColor() const;
    void setStartingColor(const QColor &colour);
    void setEndingColor(const QColor &colour);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_starting;
    QColor m_ending;
};
