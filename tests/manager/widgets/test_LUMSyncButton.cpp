#include "manager/widgets/LUMSyncButton.h"

#include "manager/widgets/WidgetTestEvents.h"

#include <QAccessible>

#include <gtest/gtest.h>

using namespace widgettest;

namespace {

QColor grey(double level)
{
    const int value = qRound(level * 255);
    return QColor(value, value, value);
}

QColor rgb(double red, double green, double blue)
{
    return QColor(qRound(red * 255), qRound(green * 255), qRound(blue * 255));
}

struct Situation {
    const char *name;
    bool enabled;
    bool on;
    bool hovered;
    bool pressed;
    QColor top;
    QColor middle;
};

// The upper half of a 160 x 100 button runs from the top colour at row 0 to the middle colour
// at row 50; rows 2 and 48 lie within 5 % of either end, away from the title and the corners.
void expectUpperGradient(LUMSyncButton &button, const Situation &situation)
{
    const QImage image = render(&button);
    const QColor top = image.pixelColor(10, 2);
    const QColor middle = image.pixelColor(10, 48);
    EXPECT_TRUE(near(top, situation.top, 3)) << situation.name << ": top " << top.name().toStdString() << ", expected "
                                             << situation.top.name().toStdString();
    EXPECT_TRUE(near(middle, situation.middle, 3)) << situation.name << ": middle " << middle.name().toStdString()
                                                   << ", expected " << situation.middle.name().toStdString();
}

} // namespace

TEST(LUMSyncButton, UpperGradientFollowsTheState)
{
    const Situation situations[] = {
        { "disabled", false, false, false, false, grey(0.933), grey(0.933) },
        { "disabled on", false, true, true, false, grey(0.933), grey(0.933) },
        { "off", true, false, false, false, rgb(0.2941, 0.7098, 0.7059), rgb(0.3843, 0.8118, 0.8078) },
        { "on", true, true, false, false, grey(0.7098), grey(0.7804) },
        { "off hovered", true, false, true, false, rgb(0, 0.7922, 0.7922), rgb(0, 0.9176, 0.9176) },
        { "off pressed", true, false, true, true, rgb(0, 0.8235, 0.8235), rgb(0, 0.8235, 0.8235) },
        { "on hovered", true, true, true, false, grey(0.8), grey(0.8667) },
        { "on pressed", true, true, true, true, grey(0.8), grey(0.8) },
    };
    for (const Situation &situation : situations) {
        LUMSyncButton button;
        button.resize(160, 100);
        button.setChecked(situation.on);
        button.setEnabled(situation.enabled);
        if (situation.hovered) {
            QEnterEvent enter(QPointF(80, 50), QPointF(80, 50), QPointF(80, 50));
            QApplication::sendEvent(&button, &enter);
        }
        if (situation.pressed)
            press(&button, QPointF(80, 50));
        EXPECT_EQ(button.isMouseOver(), situation.hovered) << situation.name;
        EXPECT_EQ(button.isMouseDown(), situation.pressed) << situation.name;
        expectUpperGradient(button, situation);
    }
}

TEST(LUMSyncButton, LeavingAndReleasingRestoreTheNormalLook)
{
    LUMSyncButton button;
    button.resize(160, 100);
    QEnterEvent enter(QPointF(80, 50), QPointF(80, 50), QPointF(80, 50));
    QApplication::sendEvent(&button, &enter);
    press(&button, QPointF(80, 50));
    release(&button, QPointF(80, 50));
    EXPECT_TRUE(button.isChecked()) << "a click toggles";
    EXPECT_FALSE(button.isMouseDown());
    expectUpperGradient(button, { "on hovered", true, true, true, false, grey(0.8), grey(0.8667) });

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
    EXPECT_FALSE(button.isMouseOver());
    expectUpperGradient(button, { "on", true, true, false, false, grey(0.7098), grey(0.7804) });
}

TEST(LUMSyncButton, TitleAndAccessibleNameFollowTheState)
{
    LUMSyncButton button;
    EXPECT_EQ(button.focusPolicy(), Qt::StrongFocus);
    EXPECT_EQ(button.text(), QStringLiteral("Sync Now"));
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&button);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Sync Now"));
    EXPECT_TRUE(accessible->state().checkable);

    button.setChecked(true);
    EXPECT_EQ(button.text(), QStringLiteral("Stop Sync"));
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Stop Sync"));
    EXPECT_TRUE(accessible->state().checked);

    // Space works as on any button.
    sendKey(&button, QEvent::KeyPress, Qt::Key_Space, QStringLiteral(" "));
    sendKey(&button, QEvent::KeyRelease, Qt::Key_Space, QStringLiteral(" "));
    EXPECT_FALSE(button.isChecked());
    EXPECT_EQ(button.text(), QStringLiteral("Sync Now"));
}
