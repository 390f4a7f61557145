#include "manager/widgets/LUMFadeBox.h"

#include "support/TestEnvironment.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

class FadeBoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        box = new LUMFadeBox(QStringLiteral("Activity"), &window);
        box->setFadeDuration(40);
        window.resize(200, 100);
        window.show();
    }

    QWidget window;
    LUMFadeBox *box = nullptr;
};

} // namespace

TEST_F(FadeBoxTest, FadingOutHidesOnlyAtTheEnd)
{
    QSignalSpy finished(box, &LUMFadeBox::fadeFinished);
    box->fadeOut();
    EXPECT_TRUE(box->isVisible()) << "still visible while fading";
    EXPECT_TRUE(box->isFading());
    ASSERT_TRUE(testsupport::waitFor([&] { return !box->isFading(); }));
    EXPECT_TRUE(box->isHidden());
    EXPECT_DOUBLE_EQ(box->opacity(), 0.0);
    ASSERT_EQ(finished.count(), 1);
    EXPECT_FALSE(finished.at(0).at(0).toBool());
}

TEST_F(FadeBoxTest, FadingInShowsAtOnceAndEndsOpaque)
{
    box->fadeOut();
    ASSERT_TRUE(testsupport::waitFor([&] { return box->isHidden(); }));
    box->fadeIn();
    EXPECT_TRUE(box->isVisible());
    EXPECT_LT(box->opacity(), 1.0) << "it starts transparent";
    ASSERT_TRUE(testsupport::waitFor([&] { return !box->isFading(); }));
    EXPECT_TRUE(box->isVisible());
    EXPECT_DOUBLE_EQ(box->opacity(), 1.0);
}

TEST_F(FadeBoxTest, FadeInDuringFadeOutKeepsTheBox)
{
    box->fadeOut();
    box->fadeIn();
    ASSERT_TRUE(testsupport::waitFor([&] { return !box->isFading(); }));
    EXPECT_TRUE(box->isVisible());
    EXPECT_DOUBLE_EQ(box->opacity(), 1.0);

    box->setFadedVisible(false);
    box->setFadedVisible(true);
    box->setFadedVisible(false);
    ASSERT_TRUE(testsupport::waitFor([&] { return !box->isFading(); }));
    EXPECT_TRUE(box->isHidden()) << "the last request wins";
}
