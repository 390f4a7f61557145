#include "manager/widgets/LUMGradientView.h"

#include "manager/widgets/WidgetTestEvents.h"

#include <gtest/gtest.h>

using namespace widgettest;

TEST(LUMGradientView, FillsTopToBottomBetweenItsColours)
{
    LUMGradientView header;
    header.resize(40, 101);
    header.setStartingColor(QColor(255, 0, 0));
    header.setEndingColor(QColor(0, 0, 255));
    const QImage image = render(&header);
    EXPECT_TRUE(near(image.pixelColor(20, 0), QColor(255, 0, 0), 4)) << image.pixelColor(20, 0).name().toStdString();
    EXPECT_TRUE(near(image.pixelColor(20, 100), QColor(0, 0, 255), 4))
        << image.pixelColor(20, 100).name().toStdString();
    EXPECT_TRUE(near(image.pixelColor(20, 50), QColor(128, 0, 128), 6))
        << image.pixelColor(20, 50).name().toStdString();
    EXPECT_EQ(image.pixelColor(0, 50), image.pixelColor(39, 50)) << "the gradient is vertical";
}

TEST(LUMGradientView, WithoutColoursItFollowsThePalette)
{
    LUMGradientView header;
    header.resize(40, 40);
    QPalette dark = header.palette();
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    header.setPalette(dark);
    const QImage image = render(&header);
    EXPECT_LT(image.pixelColor(20, 2).lightness(), 60);
    EXPECT_LT(image.pixelColor(20, 38).lightness(), 60);
    EXPECT_EQ(header.endingColor(), QColor(30, 30, 30));

    header.setStartingColor(Qt::white);
    EXPECT_EQ(header.startingColor(), QColor(Qt::white));
    EXPECT_GT(render(&header).pixelColor(20, 0).lightness(), 240);
}
