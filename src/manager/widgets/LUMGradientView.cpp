#include "manager/widgets/LUMGradientView.h"

#include <QPainter>

LUMGradientView::LUMGradientView(QWidget *parent)
    : QWidget(parent)
{
}

QColor LUMGradientView::startingColor() const
{
    return m_starting.isValid() ? m_starting : palette().color(QPalette::Window).lighter(104);
}

QColor LUMGradientView::endingColor() const
{
    return m_ending.isValid() ? m_ending : palette().color(QPalette::Window);
}

void LUMGradientView::setStartingColor(const QColor &colour)
{
    m_starting = colour;
    update();
}

void LUMGradientView::setEndingColor(const QColor &colour)
{
    m_ending = colour;
    update();
}

void LUMGradientView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QLinearGradient fill(0, 0, 0, height());
    fill.setColorAt(0, startingColor());
    fill.setColorAt(1, endingColor());
    painter.fillRect(rect(), fill);
}
