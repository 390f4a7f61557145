// What assistive technology sees of the participation switch: a check box with its state,
// named by the widget's accessible name or, without one, its text.
//
// Main thread.
#pragma once

#include <QAccessibleWidget>

class LUMOnOffButton;

class LUMOnOffButtonAccessible : public QAccessibleWidget {
public:
    explicit LUMOnOffButtonAccessible(LUMOnOffButton *button);

    // Registers the factory once per process; later calls do nothing.
    static void install();

    QAccessible::State state() const override;
    QString text(QAccessible::Text kind) const override;

private:
    LUMOnOffButton *button() const;
};
