#include "manager/widgets/LUMCustomProgressIndicator.h"

#include "manager/widgets/WidgetTestEvents.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

using namespace widgettest;

namespace {

class ProgressIndicatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QPalette colours = bar.palette();
        colours.setColor(QPalette::Base, Qt::white);
        colours.setColor(QPalette::Highlight, QColor(0, 0, 160));
        bar.setPalette(colours);
        bar.resize(120, 14);
        bar.setManualAnimationSteps(true);
        bar.hide();
    }

    LUMCustomProgressIndicator bar;
};

} // namespace

TEST_F(ProgressIndicatorTest, StartShowsAndStopHidesUnlessKeptVisible)
{
    bar.startAnimation();
    EXPECT_FALSE(bar.isHidden());
    EXPECT_TRUE(bar.isAnimating());
    bar.stopAnimation();
    EXPECT_TRUE(bar.isHidden());
    EXPECT_FALSE(bar.isAnimating());

    bar.setDisplayedWhenStopped(true);
    bar.startAnimation();
    bar.stopAnimation();
    EXPECT_FALSE(bar.isHidden());
    EXPECT_FALSE(bar.isAnimating());
}

TEST_F(ProgressIndicatorTest, StripesMoveOneStepPerTickAndRepeatAfterAPeriod)
{
    bar.setIndeterminate(true);
    bar.startAnimation();
    const int before = LUMCustomProgressIndicator::stripeStep();
    const QImage first = render(&bar);
    bar.advanceStripes();
    EXPECT_EQ(LUMCustomProgressIndicator::stripeStep(),
        (before + LUMCustomProgressIndicator::kStripeStep) % LUMCustomProgressIndicator::kStripePeriod);
    EXPECT_NE(render(&bar), first) << "the stripes moved";
    for (int tick = 1; tick < LUMCustomProgressIndicator::kStripePeriod / LUMCustomProgressIndicator::kStripeStep;
         ++tick)
        bar.advanceStripes();
    EXPECT_EQ(LUMCustomProgressIndicator::stripeStep(), before);
    EXPECT_EQ(render(&bar), first) << "a whole period later the picture is the same";
}

TEST_F(ProgressIndicatorTest, DeterminateBarFillsItsShare)
{
    bar.setRange(0, 200);
    bar.setValue(50);
    EXPECT_FALSE(bar.isIndeterminate());
    const QImage image = render(&bar);
    const QColor filled = image.pixelColor(10, 7);
    const QColor empty = image.pixelColor(90, 7);
    EXPECT_LT(filled.red(), 100) << "the first quarter carries the fill";
    EXPECT_GT(filled.blue(), 150);
    EXPECT_TRUE(near(empty, Qt::white, 2)) << "the rest shows the base colour: " << empty.name().toStdString();

    bar.setIndeterminate(true);
    EXPECT_TRUE(bar.isIndeterminate());
    EXPECT_LT(render(&bar).pixelColor(90, 7).red(), 100) << "indeterminate: the whole bar carries stripes";
    bar.setIndeterminate(false);
    EXPECT_EQ(bar.maximum(), 200) << "the range comes back";
}

TEST(ProgressIndicatorTimer, TheTimerMovesTheStripesWhileAnimating)
{
    LUMCustomProgressIndicator bar;
    EXPECT_EQ(LUMCustomProgressIndicator::kAnimationIntervalMs, 66);
    const int before = LUMCustomProgressIndicator::stripeStep();
    bar.startAnimation();
    EXPECT_TRUE(testsupport::waitFor([&] { return LUMCustomProgressIndicator::stripeStep() != before; }));
    bar.stopAnimation();
    EXPECT_TRUE(bar.isHidden());
}
