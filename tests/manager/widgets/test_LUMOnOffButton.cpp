#include "manager/widgets/LUMOnOffButton.h"

#include "manager/widgets/WidgetTestEvents.h"
#include "support/TestEnvironment.h"

#include <QAccessible>
#include <QSignalSpy>

#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

using namespace widgettest;

namespace {

// An 80 x 26 switch: inner rectangle (1, 2) 78 x 22, knob ceil(76 * 0.37) = 29 wide, resting
// centred at 1 + 14.5 = 15.5 when off and 79 - 2 - 14.5 = 62.5 when on.
constexpr qreal kOffCentre = 15.5;
constexpr qreal kOnCentre = 62.5;

class OnOffButtonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        button.resize(80, 26);
        button.setManualAnimationSteps(true);
    }

    int stepsUntilStill()
    {
        int steps = 0;
        while (button.isAnimating() && steps < 1000) {
            button.advanceAnimation();
            ++steps;
        }
        return steps;
    }

    LUMOnOffButton button;
    QSignalSpy changes { &button, &LUMOnOffButton::customStateChanged };
};

} // namespace

TEST_F(OnOffButtonTest, KnobGeometryFollowsTheBounds)
{
    EXPECT_EQ(button.innerRect(), QRectF(1, 2, 78, 22));
    EXPECT_EQ(button.knobWidth(), 29);
    EXPECT_DOUBLE_EQ(button.restKnobCentre(false), kOffCentre);
    EXPECT_DOUBLE_EQ(button.restKnobCentre(true), kOnCentre);
    EXPECT_DOUBLE_EQ(button.knobCentre(), kOffCentre);
    EXPECT_EQ(button.knobRect(), QRectF(1, 2, 29, 22));
    button.setCustomState(true);
    EXPECT_EQ(button.knobRect(), QRectF(48, 2, 29, 22));

    // Here (96 * 0.37 = 35.52) the width rounds up.
    button.resize(100, 30);
    EXPECT_EQ(button.innerRect(), QRectF(1, 2, 98, 26));
    EXPECT_EQ(button.knobWidth(), 36);
    EXPECT_DOUBLE_EQ(button.restKnobCentre(false), 19);
    EXPECT_DOUBLE_EQ(button.restKnobCentre(true), 79);
}

TEST_F(OnOffButtonTest, KnobIsDrawnWhereTheGeometrySaysForEachState)
{
    QPalette colours = button.palette();
    colours.setColor(QPalette::Highlight, Qt::red);
    colours.setColor(QPalette::Button, Qt::blue);
    colours.setColor(QPalette::Light, Qt::green);
    colours.setColor(QPalette::Mid, Qt::green);
    button.setPalette(colours);
    // Row 4 lies inside the track and above the labels.
    auto pixel = [](const QImage &image, qreal x) { return image.pixelColor(int(x), 4); };
    auto isKnob = [](const QColor &c) { return c.green() > 150 && c.red() < 50; };
    auto isOnSide = [](const QColor &c) { return c.red() > 200 && c.green() < 50; };
    auto isOffSide = [](const QColor &c) { return c.blue() > 200 && c.green() < 50 && c.red() < 50; };

    const QImage off = render(&button);
    EXPECT_TRUE(isKnob(pixel(off, kOffCentre))) << "off: the knob covers its rest place";
    EXPECT_TRUE(isOffSide(pixel(off, kOnCentre))) << "off: the far end shows the off side";

    button.setCustomState(true);
    const QImage on = render(&button);
    EXPECT_TRUE(isOnSide(pixel(on, kOffCentre))) << "on: the near end shows the on side";
    EXPECT_TRUE(isKnob(pixel(on, kOnCentre)));
}

TEST_F(OnOffButtonTest, ALabelShowsOnlyOnItsOwnSideOfTheKnob)
{
    // White label text on a blue off side, a red on side, a green and black knob: any pixel
    // with much red and green beside the knob is label text where none belongs.
    QPalette colours = button.palette();
    colours.setColor(QPalette::Highlight, Qt::red);
    colours.setColor(QPalette::HighlightedText, Qt::white);
    colours.setColor(QPalette::Button, Qt::blue);
    colours.setColor(QPalette::ButtonText, Qt::white);
    colours.setColor(QPalette::Light, Qt::green);
    colours.setColor(QPalette::Mid, Qt::green);
    colours.setColor(QPalette::Dark, Qt::black);
    button.setPalette(colours);
    button.resize(120, 30);
    // Counted inside the track only, clear of its rounded corners: around it lies the
    // widget's background.
    const QRectF inner = button.innerRect();
    auto textPixelsBetween = [&inner](const QImage &image, int fromX, int toX) {
        int count = 0;
        for (int x = std::max(fromX, int(std::ceil(inner.left()))); x < std::min(toX, int(inner.right())); ++x) {
            for (int y = int(std::ceil(inner.top())) + 4; y < int(inner.bottom()) - 4; ++y) {
                const QColor c = image.pixelColor(x, y);
                count += c.red() > 100 && c.green() > 100 ? 1 : 0;
            }
        }
        return count;
    };

    // On: the knob rests at the right end; the sliver of track beyond it shows no "OFF".
    button.setCustomState(true);
    const QImage on = render(&button);
    const QRectF knobOn = button.knobRect();
    EXPECT_EQ(textPixelsBetween(on, int(std::ceil(knobOn.right())), on.width()), 0);
    EXPECT_GT(textPixelsBetween(on, 0, int(knobOn.left())), 0) << "the on label shows left of the knob";

    // Off: the label keeping to its side still shows there.
    button.setCustomState(false);
    const QImage off = render(&button);
    const QRectF knobOff = button.knobRect();
    EXPECT_GT(textPixelsBetween(off, int(std::ceil(knobOff.right())), off.width()), 0)
        << "the off label shows right of the knob";
}

TEST_F(OnOffButtonTest, ClickSlidesThreeUnitsPerTickThenTogglesOnce)
{
    click(&button, QPointF(10, 13));
    ASSERT_TRUE(button.isAnimating());
    EXPECT_DOUBLE_EQ(button.knobCentre(), 10) << "the slide starts from the click point";
    EXPECT_FALSE(button.customState());

    button.advanceAnimation();
    EXPECT_DOUBLE_EQ(button.knobCentre(), 13);
    // 52.5 units to go: after 16 ticks 4.5 remain, the 17th brings the knob within 1.5.
    for (int tick = 2; tick <= 16; ++tick)
        button.advanceAnimation();
    EXPECT_DOUBLE_EQ(button.knobCentre(), 58);
    EXPECT_TRUE(button.isAnimating());
    EXPECT_FALSE(button.customState());
    EXPECT_EQ(changes.count(), 0);

    button.advanceAnimation();
    EXPECT_FALSE(button.isAnimating());
    EXPECT_TRUE(button.customState());
    EXPECT_DOUBLE_EQ(button.knobCentre(), kOnCentre) << "the knob is back at rest";
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes.at(0).at(0).toBool(), true);

    button.advanceAnimation();
    EXPECT_EQ(changes.count(), 1) << "a tick after the end does nothing";
}

TEST_F(OnOffButtonTest, SlideMovesLeftWhenTheTargetIsLeft)
{
    button.setCustomState(true);
    changes.clear();
    click(&button, QPointF(70, 13));
    button.advanceAnimation();
    EXPECT_DOUBLE_EQ(button.knobCentre(), 67);
    // 54.5 units: 18 ticks in all (after 17, 3.5 remain).
    EXPECT_EQ(stepsUntilStill(), 17);
    EXPECT_FALSE(button.customState());
    EXPECT_EQ(changes.count(), 1);
}

TEST_F(OnOffButtonTest, ClicksDuringASlideAreIgnored)
{
    click(&button, QPointF(20, 13));
    button.advanceAnimation();
    click(&button, QPointF(70, 13));
    click(&button, QPointF(5, 13));
    EXPECT_DOUBLE_EQ(button.knobCentre(), 23) << "neither the position nor the target changed";
    stepsUntilStill();
    EXPECT_TRUE(button.customState());
    EXPECT_EQ(changes.count(), 1);
}

TEST_F(OnOffButtonTest, ReleaseOutsideDoesNotToggle)
{
    press(&button, QPointF(20, 13));
    release(&button, QPointF(200, 13));
    EXPECT_FALSE(button.isAnimating());
    EXPECT_FALSE(button.customState());
    EXPECT_DOUBLE_EQ(button.knobCentre(), kOffCentre);
    EXPECT_EQ(changes.count(), 0);
}

TEST_F(OnOffButtonTest, DraggingMovesTheKnobWithinItsTravel)
{
    press(&button, QPointF(kOffCentre, 13));
    move(&button, QPointF(40, 13));
    EXPECT_DOUBLE_EQ(button.knobCentre(), 40);
    move(&button, QPointF(75, 13));
    EXPECT_DOUBLE_EQ(button.knobCentre(), 40) << "beyond the on position the knob stays";
    move(&button, QPointF(10, 13));
    EXPECT_DOUBLE_EQ(button.knobCentre(), 40) << "before the off position the knob stays";
    move(&button, QPointF(120, 13));
    EXPECT_DOUBLE_EQ(button.knobCentre(), kOffCentre) << "leaving the control puts the knob back";
    move(&button, QPointF(61, 13));
    EXPECT_DOUBLE_EQ(button.knobCentre(), 61);
    EXPECT_EQ(changes.count(), 0) << "dragging alone changes nothing";

    release(&button, QPointF(61, 13));
    // 1.5 from the on position: the first tick ends the slide.
    EXPECT_EQ(stepsUntilStill(), 1);
    EXPECT_TRUE(button.customState());
    EXPECT_EQ(changes.count(), 1);
}

TEST_F(OnOffButtonTest, EverySetterAnnouncesRealChangesOnce)
{
    button.setCustomState(true);
    button.setCustomState(true);
    EXPECT_EQ(changes.count(), 1);
    button.setChecked(false);
    EXPECT_EQ(changes.count(), 2);
    EXPECT_TRUE(button.setProperty("customState", true));
    EXPECT_EQ(changes.count(), 3);
    EXPECT_TRUE(button.property("customState").toBool());
    button.setProperty("customState", true);
    EXPECT_EQ(changes.count(), 3);
    EXPECT_FALSE(changes.at(1).at(0).toBool());
}

TEST_F(OnOffButtonTest, SpaceTogglesAndOtherKeysDoNot)
{
    EXPECT_EQ(button.focusPolicy(), Qt::StrongFocus);
    EXPECT_TRUE(sendKey(&button, QEvent::KeyPress, Qt::Key_Space, QStringLiteral(" ")));
    EXPECT_FALSE(button.isAnimating()) << "the switch acts on release, like a click";
    EXPECT_TRUE(sendKey(&button, QEvent::KeyRelease, Qt::Key_Space, QStringLiteral(" ")));
    EXPECT_TRUE(button.isAnimating());
    EXPECT_GT(stepsUntilStill(), 1);
    EXPECT_TRUE(button.customState());
    EXPECT_EQ(changes.count(), 1);

    sendKey(&button, QEvent::KeyPress, Qt::Key_A, QStringLiteral("a"));
    sendKey(&button, QEvent::KeyRelease, Qt::Key_A, QStringLiteral("a"));
    EXPECT_FALSE(button.isAnimating());
    EXPECT_TRUE(button.customState());

    sendKey(&button, QEvent::KeyPress, Qt::Key_Space, QStringLiteral(" "));
    sendKey(&button, QEvent::KeyRelease, Qt::Key_Space, QStringLiteral(" "));
    stepsUntilStill();
    EXPECT_FALSE(button.customState());
    EXPECT_EQ(changes.count(), 2);
}

TEST_F(OnOffButtonTest, AssistiveTechnologySeesACheckBoxWithItsState)
{
    button.setText(QStringLiteral("Participate"));
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&button);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::CheckBox);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Participate"));
    EXPECT_TRUE(accessible->state().checkable);
    EXPECT_FALSE(accessible->state().checked);
    EXPECT_TRUE(accessible->state().focusable);

    button.setCustomState(true);
    EXPECT_TRUE(accessible->state().checked);
    button.setAccessibleName(QStringLiteral("Sync this drive"));
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Sync this drive"));
}

TEST(OnOffButtonTimer, TheTimerFinishesASlideByItself)
{
    LUMOnOffButton button;
    button.resize(80, 26);
    QSignalSpy changes(&button, &LUMOnOffButton::customStateChanged);
    click(&button, QPointF(10, 13));
    ASSERT_TRUE(button.isAnimating());
    EXPECT_TRUE(testsupport::waitFor([&] { return !button.isAnimating(); }));
    EXPECT_TRUE(button.customState());
    EXPECT_EQ(changes.count(), 1);
}
