// The picture of the file being copied, flying from where it starts (the initial frame and
// alpha) to where it lands (the final frame and alpha) along an arc, in 1.25 s. Two image
// layers take turns: each cycle swaps them, hides the one that was showing, puts the other at
// the initial frame with the new picture and animates it to the final frame.
//
// The arc is a quadratic curve from the initial origin to the final origin pulled towards a
// point midway between them in x and 40 units above this widget's top edge; the origin moves
// along it at even speed. Size and alpha change evenly with time. Painting stops at this
// widget's edges, so lay it out with room above the frames for the arc.
//
//   LUMCopyImageView copying(activityBox);
//   copying.setInitialFrame(QRectF(10, 60, 32, 32), 0.0);
//   copying.setFinalFrame(QRectF(300, 40, 64, 64), 1.0);
//   connect(progress, &Progress::sourceChanged, &copying, &LUMCopyImageView::showCopying);
//
// Callers that drive frames themselves switch the animation timer off with
// setManualAnimationSteps(true) and call setAnimationProgress().
//
// Main thread.
#pragma once

#include "manager/widgets/LUMThumbnailSource.h"

#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QWidget>

class QVariantAnimation;

class LUMCopyImageView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kDurationMs = 1250;
    static constexpr qreal kArcRise = 40.0;

    struct Layer {
        QRectF frame;
        qreal alpha = 0.0;
        bool visible = false;
    };

    explicit LUMCopyImageView(QWidget *parent = nullptr);

    void setInitialFrame(const QRectF &frame, qreal alpha);
    void setFinalFrame(const QRectF &frame, qreal alpha);
    QRectF initialFrame() const { return m_initialFrame; }
    QRectF finalFrame() const { return m_finalFrame; }

    // The path the active layer's origin follows, and the frame and alpha at a point of the
    // flight (0 = start, 1 = landed).
    QPainterPath originPath() const;
    QRectF frameAt(qreal progress) const;
    qreal alphaAt(qreal progress) const;

    int activeLayerIndex() const { return m_active; }
    const Layer &layer(int index) const { return m_layers[index]; }
    const Layer &activeLayer() const { return m_layers[m_active]; }

    QString currentPath() const { return m_path; }
    QImage currentImage() const { return m_image; }
    LUMThumbnailSource::Origin currentOrigin() const { return m_origin; }

    bool isAnimating() const;
    void setManualAnimationSteps(bool manual);
    void setAnimationProgress(qreal progress);

    QSize sizeHint() const override;

public Q_SLOTS:
    // A new file (other than the current one) gets its thumbnail at the final frame's size;
    // an empty path clears the picture. Every call runs one cycle.
    void showCopying(const QString &path);
    void stopAnimation();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void runCycle();

    QRectF m_initialFrame;
    qreal m_initialAlpha = 0.0;
    QRectF m_finalFrame;
    qreal m_finalAlpha = 1.0;
    Layer m_layers[2];
    int m_active = 0;
    QString m_path;
    QImage m_image;
    LUMThumbnailSource::Origin m_origin = LUMThumbnailSource::Origin::None;
    QVariantAnimation *m_animation;
    bool m_manualSteps = false;
};
