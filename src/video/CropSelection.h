#pragma once

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

namespace qm {

// The cropping rectangle of the thumbnail window and its mouse rules, in
// coordinates with the origin at the lower left and y growing upwards, in
// single precision as the rules are stated. The view converts.
class CropSelection
{
public:
    struct Rect
    {
        float x = 0, y = 0, w = 0, h = 0;
        bool isEmpty() const { return w <= 0 || h <= 0; }
        QRectF toRectF() const { return QRectF(x, y, w, h); }
        bool operator==(const Rect &) const = default;
    };

    // Where the image is shown, and its own size (equal when shown unscaled).
    void setImageRect(const QRectF &imageRect, QSizeF imageSize);
    void setAspectRatio(float ratio);
    float aspectRatio() const { return m_ratio; }
    const Rect &rect() const { return m_rect; }
    void setRect(const Rect &rect) { m_rect = rect; }
    QRectF imageRect() const { return m_imageRect; }

    // The largest rectangle of the ratio inside the image, centred; none
    // for a ratio below 0.01.
    void reset();

    // The selected part of `image` (shown at imageRect()) scaled to `width`
    // over black; the whole image when there is no rectangle.
    QImage croppedImage(const QImage &image, int width) const;

    void press(QPointF point);
    // True when the rectangle moved or changed size.
    bool drag(QPointF point);
    // True when a move or resize ended: the change is to be announced.
    bool release();
    bool isDragging() const { return m_dragging; }
    bool isResizing() const { return m_resizing; }

    static constexpr float kHandle = 20.0f;
    static constexpr float kMinimum = 40.0f;

private:
    float m_ratio = 0;
    Rect m_rect;
    QRectF m_imageRect;
    QSizeF m_imageSize;
    float m_clickX = 0, m_clickY = 0;
    bool m_dragging = false;
    bool m_resizing = false;
};

} // namespace qm
