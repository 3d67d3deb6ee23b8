#include "video/CroppingImageView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace qm {

CroppingImageView::CroppingImageView(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("imgCapture"));
    setAccessibleName(tr("Captured frame"));
    setMinimumSize(200, 150);
}

QSize CroppingImageView::sizeHint() const
{
    return m_image.isNull() ? QSize(320, 240) : m_image.size();
}

QRect CroppingImageView::imageRectInWidget() const
{
    // Centred, at its own size.
    const QSize s = m_image.size();
    return {(width() - s.width()) / 2, (height() - s.height()) / 2, s.width(), s.height()};
}

QRectF CroppingImageView::rectCoveredByImage() const
{
    const QRect r = imageRectInWidget();
    return QRectF(r.x(), height() - (r.y() + r.height()), r.width(), r.height());
}

QPointF CroppingImageView::toSelection(QPointF p) const
{
    return {p.x(), height() - p.y()};
}

void CroppingImageView::updateGeometryOfImage()
{
    m_selection.setImageRect(rectCoveredByImage(), QSizeF(m_image.size()));
}

void CroppingImageView::setImage(const QImage &image)
{
    m_image = image;
    // Never squeezed below the picture: a smaller space scrolls.
    setMinimumSize(image.size().expandedTo(QSize(200, 150)));
    updateGeometry();
    updateGeometryOfImage();
    m_selection.reset();
    update();
    emit selectionChanged();
}

void CroppingImageView::setCroppingAspectRatio(float ratio)
{
    updateGeometryOfImage();
    m_selection.setAspectRatio(ratio);
    update();
    emit selectionChanged();
}

void CroppingImageView::setCroppingRect(const CropSelection::Rect &rect)
{
    m_selection.setRect(rect);
    update();
}

void CroppingImageView::resizeEvent(QResizeEvent *)
{
    // The image stays centred: the rectangle goes with it.
    const QRectF before = m_selection.imageRect();
    updateGeometryOfImage();
    const QRectF after = m_selection.imageRect();
    CropSelection::Rect r = m_selection.rect();
    if (!r.isEmpty()) {
        r.x += float(after.x() - before.x());
        r.y += float(after.y() - before.y());
        m_selection.setRect(r);
    }
}

void CroppingImageView::mousePressEvent(QMouseEvent *event)
{
    m_selection.press(toSelection(event->position()));
}

void CroppingImageView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_selection.drag(toSelection(event->position())))
        update();
}

void CroppingImageView::mouseReleaseEvent(QMouseEvent *)
{
    if (m_selection.release()) {
        update();
        emit selectionChanged();
    }
}

void CroppingImageView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    if (!m_image.isNull())
        p.drawImage(imageRectInWidget().topLeft(), m_image);
    const CropSelection::Rect r = m_selection.rect();
    if (r.isEmpty())
        return;
    const QColor orange(255, 128, 0);
    const double top = height() - (r.y + r.h); // Qt y of the top edge
    const double bottom = height() - r.y;
    QPainterPath handle;
    handle.moveTo(r.x + r.w, bottom);
    handle.lineTo(r.x + r.w, bottom - 15);
    handle.lineTo(r.x + r.w - 15, bottom);
    handle.closeSubpath();
    p.fillPath(handle, orange);
    p.setPen(QPen(orange, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(r.x + 0.5, top + 0.5, r.w - 1, r.h - 1));
}

QImage CroppingImageView::croppedImageFitToWidth(int width) const
{
    return m_selection.croppedImage(m_image, width);
}

} // namespace qm
