// Input events delivered straight to a widget, so tests control exactly what it sees.
#pragma once

#include <QApplication>
#include <QColor>
#include <QEnterEvent>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

namespace widgettest {

inline bool sendMouse(QWidget *widget, QEvent::Type type, QPointF position, Qt::MouseButtons held)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, position, widget->mapToGlobal(position), button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
    return event.isAccepted();
}

inline void press(QWidget *widget, QPointF position)
{
    sendMouse(widget, QEvent::MouseButtonPress, position, Qt::LeftButton);
}

inline void move(QWidget *widget, QPointF position)
{
    sendMouse(widget, QEvent::MouseMove, position, Qt::LeftButton);
}

inline void release(QWidget *widget, QPointF position)
{
    sendMouse(widget, QEvent::MouseButtonRelease, position, Qt::NoButton);
}

inline void click(QWidget *widget, QPointF position)
{
    press(widget, position);
    release(widget, position);
}

// Sends a key press or release; answers whether the widget accepted it.
inline bool sendKey(QWidget *widget, QEvent::Type type, int key, const QString &text = QString())
{
    QKeyEvent event(type, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &event);
    return event.isAccepted();
}

inline QImage render(QWidget *widget)
{
    QImage image(widget->size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    widget->render(&image);
    return image;
}

inline bool near(const QColor &actual, const QColor &expected, int tolerance)
{
    return qAbs(actual.red() - expected.red()) <= tolerance && qAbs(actual.green() - expected.green()) <= tolerance
        && qAbs(actual.blue() - expected.blue()) <= tolerance;
}

} // namespace widgettest
