#include "manager/widgets/LUMCopyImageView.h"

#include <QPainter>
#include <QVariantAnimation>
#include <QtMath>

namespace {

qreal between(qreal from, qreal to, qreal progress)
{
    return from + (to - from) * progress;
}

} // namespace

LUMCopyImageView::LUMCopyImageView(QWidget *parent)
    : QWidget(parent)
    , m_animation(new QVariantAnimation(this))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(1.0);
    m_animation->setDuration(kDurationMs);
    connect(m_animation, &QVariantAnimation::valueChanged, this,
        [this](const QVariant &value) { setAnimationProgress(value.toReal()); });
    m_initialFrame = QRectF(0, 0, 32, 32);
    m_finalFrame = QRectF(0, 0, 64, 64);
}

void LUMCopyImageView::setInitialFrame(const QRectF &frame, qreal alpha)
{
    m_initialFrame = frame;
    m_initialAlpha = qBound(0.0, alpha, 1.0);
}

void LUMCopyImageView::setFinalFrame(const QRectF &frame, qreal alpha)
{
    m_finalFrame = frame;
    m_finalAlpha = qBound(0.0, alpha, 1.0);
}

QPainterPath LUMCopyImageView::originPath() const
{
    const QPointF from = m_initialFrame.topLeft();
    const QPointF to = m_finalFrame.topLeft();
    QPainterPath path(from);
    path.quadTo(QPointF((from.x() + to.x()) / 2, -kArcRise), to);
    return path;
}

QRectF LUMCopyImageView::frameAt(qreal progress) const
{
    progress = qBound(0.0, progress, 1.0);
    // Equal slices of time cover equal lengths of the curve, so the picture moves evenly.
    const QPainterPath path = originPath();
    const QPointF origin = path.pointAtPercent(path.percentAtLength(progress * path.length()));
    return QRectF(origin,
        QSizeF(between(m_initialFrame.width(), m_finalFrame.width(), progress),
            between(m_initialFrame.height(), m_finalFrame.height(), progress)));
}

qreal LUMCopyImageView::alphaAt(qreal progress) const
{
    return between(m_initialAlpha, m_finalAlpha, qBound(0.0, progress, 1.0));
}

bool LUMCopyImageView::isAnimating() const
{
    return m_animation->state() == QAbstractAnimation::Running;
}

void LUMCopyImageView::setManualAnimationSteps(bool manual)
{
    m_manualSteps = manual;
    if (manual)
        m_animation->stop();
}

void LUMCopyImageView::setAnimationProgress(qreal progress)
{
    Layer &active = m_layers[m_active];
    active.frame = frameAt(progress);
    active.alpha = alphaAt(progress);
    update();
}

void LUMCopyImageView::stopAnimation()
{
    m_animation->stop();
}

QSize LUMCopyImageView::sizeHint() const
{
    const QRectF both = m_initialFrame.united(m_finalFrame);
    return QSize(qCeil(both.right()), qCeil(both.bottom()));
}

void LUMCopyImageView::showCopying(const QString &path)
{
    if (path.isEmpty()) {
        m_path.clear();
        m_image = QImage();
        m_origin = LUMThumbnailSource::Origin::None;
    } else if (path != m_path) {
        const LUMThumbnailSource::Thumbnail thumbnail
            = LUMThumbnailSource::thumbnailFor(path, m_finalFrame.size().toSize());
        m_path = path;
        m_image = thumbnail.image;
        m_origin = thumbnail.origin;
    }
    runCycle();
}

void LUMCopyImageView::runCycle()
{
    m_animation->stop();
    m_layers[m_active].visible = false;
    m_active = 1 - m_active;
    Layer &active = m_layers[m_active];
    active.frame = m_initialFrame;
    active.alpha = m_initialAlpha;
    active.visible = true;
    update();
    if (!m_manualSteps)
        m_animation->start();
}

void LUMCopyImageView::paintEvent(QPaintEvent *)
{
    if (m_image.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    for (const Layer &layer : m_layers) {
        if (!layer.visible || layer.alpha <= 0.0)
            continue;
        painter.setOpacity(layer.alpha);
        // The picture keeps its proportions inside the layer's frame.
        QSizeF fittedSize = QSizeF(m_image.size()).scaled(layer.frame.size(), Qt::KeepAspectRatio);
        QRectF target(QPointF(), fittedSize);
        target.moveCenter(layer.frame.center());
        painter.drawImage(target, m_image);
    }
}
