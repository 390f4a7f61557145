#include "manager/widgets/LUMCopyImageView.h"

#include "manager/widgets/WidgetTestEvents.h"
#include "support/TestEnvironment.h"

#include <QLineF>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace widgettest;

namespace {

const QRectF kInitial(20, 100, 32, 32);
const QRectF kFinal(300, 60, 64, 64);

class CopyImageViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(files.isValid());
        view.resize(400, 140);
        view.setInitialFrame(kInitial, 0.25);
        view.setFinalFrame(kFinal, 1.0);
        view.setManualAnimationSteps(true);
    }

    QString writeImage(const QString &name, QColor colour)
    {
        QImage image(256, 256, QImage::Format_RGB32);
        image.fill(colour);
        const QString path = files.filePath(name);
        EXPECT_TRUE(image.save(path, "PNG"));
        return path;
    }

    QTemporaryDir files;
    LUMCopyImageView view;
};

} // namespace

TEST_F(CopyImageViewTest, FlightRunsFromTheInitialToTheFinalFrameOverAnArc)
{
    EXPECT_EQ(view.frameAt(0), kInitial);
    const QRectF landed = view.frameAt(1);
    EXPECT_NEAR(landed.x(), kFinal.x(), 0.01);
    EXPECT_NEAR(landed.y(), kFinal.y(), 0.01);
    EXPECT_EQ(landed.size(), kFinal.size());
    EXPECT_DOUBLE_EQ(view.alphaAt(0), 0.25);
    EXPECT_DOUBLE_EQ(view.alphaAt(1), 1.0);
    EXPECT_DOUBLE_EQ(view.alphaAt(0.5), 0.625);
    EXPECT_EQ(view.frameAt(0.5).size(), QSizeF(48, 48));

    // The curve is pulled towards (160, -40): halfway it rises well above both ends.
    const QRectF middle = view.frameAt(0.5);
    EXPECT_LT(middle.y(), kFinal.y() - 20);
    EXPECT_GT(middle.x(), kInitial.x());
    EXPECT_LT(middle.x(), kFinal.x());

    // A quadratic curve from (20, 100) to (300, 60) pulled towards (160, -40) peaks where its
    // parameter is 140 / 240: at (183.33, 18.33).
    QPointF highest = kInitial.topLeft();
    for (int step = 0; step <= 2000; ++step) {
        const QPointF origin = view.frameAt(step / 2000.0).topLeft();
        if (origin.y() < highest.y())
            highest = origin;
    }
    EXPECT_NEAR(highest.y(), 18.333, 0.05);
    EXPECT_NEAR(highest.x(), 183.33, 1.0);
    EXPECT_EQ(LUMCopyImageView::kDurationMs, 1250);
}

TEST_F(CopyImageViewTest, OriginMovesAtAnEvenPace)
{
    // The ends lie at different heights, so the curve's own parameter would move unevenly;
    // equal slices of time must still cover equal distances.
    constexpr int slices = 50;
    QList<qreal> distances;
    for (int slice = 0; slice < slices; ++slice)
        distances.append(
            QLineF(view.frameAt(qreal(slice) / slices).topLeft(), view.frameAt(qreal(slice + 1) / slices).topLeft())
                .length());
    const auto [shortest, longest] = std::minmax_element(distances.begin(), distances.end());
    EXPECT_LT(*longest - *shortest, 0.02 * *longest) << *shortest << " .. " << *longest;
}

TEST_F(CopyImageViewTest, EachCycleSwapsTheLayers)
{
    const QString photo = writeImage(QStringLiteral("photo.png"), Qt::red);
    const int first = view.activeLayerIndex();
    view.showCopying(photo);
    const int second = view.activeLayerIndex();
    EXPECT_NE(second, first);
    EXPECT_TRUE(view.activeLayer().visible);
    EXPECT_EQ(view.activeLayer().frame, kInitial);
    EXPECT_DOUBLE_EQ(view.activeLayer().alpha, 0.25);
    EXPECT_FALSE(view.layer(first).visible);

    view.setAnimationProgress(1.0);
    EXPECT_NEAR(view.activeLayer().frame.x(), kFinal.x(), 0.01);
    EXPECT_DOUBLE_EQ(view.activeLayer().alpha, 1.0);

    view.showCopying(photo);
    EXPECT_EQ(view.activeLayerIndex(), first) << "the same file still runs a cycle";
    EXPECT_FALSE(view.layer(second).visible) << "the layer that was showing is hidden";
    EXPECT_EQ(view.activeLayer().frame, kInitial);
}

TEST_F(CopyImageViewTest, PictureComesFromTheFileAtTheFinalSize)
{
    const QString photo = writeImage(QStringLiteral("photo.png"), Qt::red);
    view.showCopying(photo);
    EXPECT_EQ(view.currentPath(), photo);
    EXPECT_EQ(view.currentOrigin(), LUMThumbnailSource::Origin::ImageFile);
    EXPECT_EQ(view.currentImage().size(), QSize(64, 64));

    // Landed, the picture is drawn in the final frame and nowhere near the start.
    view.setAnimationProgress(1.0);
    const QImage drawn = render(&view);
    EXPECT_EQ(drawn.pixelColor(kFinal.center().toPoint()), QColor(Qt::red));
    EXPECT_NE(drawn.pixelColor(kInitial.center().toPoint()), QColor(Qt::red));

    const QString other = writeImage(QStringLiteral("other.png"), Qt::blue);
    view.showCopying(other);
    EXPECT_EQ(view.currentImage().pixelColor(10, 10), QColor(Qt::blue));

    view.showCopying(QString());
    EXPECT_TRUE(view.currentImage().isNull());
    EXPECT_TRUE(view.currentPath().isEmpty());
    EXPECT_EQ(view.currentOrigin(), LUMThumbnailSource::Origin::None);
}

TEST(CopyImageViewAnimation, TheAnimationLandsByItself)
{
    LUMCopyImageView view;
    view.setInitialFrame(kInitial, 0.0);
    view.setFinalFrame(kFinal, 1.0);
    QTemporaryDir files;
    ASSERT_TRUE(files.isValid());
    const QString path = files.filePath(QStringLiteral("note.txt"));
    testsupport::writeFile(path, "text");
    view.showCopying(path);
    EXPECT_TRUE(view.isAnimating());
    EXPECT_EQ(view.currentOrigin(), LUMThumbnailSource::Origin::TypeIcon);
    ASSERT_TRUE(testsupport::waitFor([&] { return !view.isAnimating(); }));
    EXPECT_NEAR(view.activeLayer().frame.x(), kFinal.x(), 0.01);
    EXPECT_NEAR(view.activeLayer().frame.y(), kFinal.y(), 0.01);
    EXPECT_DOUBLE_EQ(view.activeLayer().alpha, 1.0);
}
