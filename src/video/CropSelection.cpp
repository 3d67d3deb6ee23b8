#include "video/CropSelection.h"

#include <QPainter>

#include <cmath>

namespace qm {

void CropSelection::setImageRect(const QRectF &imageRect, QSizeF imageSize)
{
    m_imageRect = imageRect;
    m_imageSize = imageSize;
}

void CropSelection::setAspectRatio(float ratio)
{
    m_ratio = ratio;
    reset();
}

void CropSelection::reset()
{
    // NaN (a height of 0 typed in) counts as no ratio too.
    if (!(m_ratio >= 0.01f) || m_imageSize.isEmpty()) {
        m_rect = Rect();
        return;
    }
    const float sw = float(m_imageSize.width()), sh = float(m_imageSize.height());
    const float ix = float(m_imageRect.x()), iy = float(m_imageRect.y());
    const float iw = float(m_imageRect.width()), ih = float(m_imageRect.height());
    Rect r;
    if (sw / sh > m_ratio) {
        r.h = sh;
        r.w = sh * m_ratio;
        r.y = iy;
        r.x = ix + (iw - r.w) * 0.5f;
    } else {
        r.w = sw;
        r.h = sw / m_ratio;
        r.x = ix;
        r.y = iy + (ih - r.h) * 0.5f;
    }
    m_rect = r;
}

QImage CropSelection::croppedImage(const QImage &image, int width) const
{
    const Rect &r = m_rect;
    if (r.isEmpty() || image.isNull() || width <= 0)
        return image;
    const float h = float(width) * r.h / r.w;
    const int height = std::max(1, int(std::lround(h)));
    if (width > 20000 || height > 20000)
        return image;
    QImage out(width, height, QImage::Format_RGB32);
    out.fill(Qt::black);
    // The rectangle in the image's own top-left coordinates.
    const QRectF source(r.x - m_imageRect.x(), m_imageRect.height() - (r.y - m_imageRect.y()) - r.h, r.w, r.h);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRectF(0, 0, width, height), image, source);
    p.end();
    return out;
}

void CropSelection::press(QPointF point)
{
    const float px = float(point.x()), py = float(point.y());
    m_clickX = px;
    m_clickY = py;
    const Rect &r = m_rect;
    m_dragging = m_resizing = false;
    if (r.x <= px && px <= r.x + r.w && r.y <= py && py <= r.y + r.h) {
        if (r.x + r.w - kHandle <= px && py <= r.y + kHandle) {
            m_resizing = true;
            m_clickX = r.x + r.w - px;
            m_clickY = r.y - py;
        } else {
            m_dragging = true;
        }
    }
}

bool CropSelection::drag(QPointF point)
{
    if (!m_dragging && !m_resizing)
        return false;
    const float px = float(point.x()), py = float(point.y());
    const float ix = float(m_imageRect.x()), iy = float(m_imageRect.y());
    const float iw = float(m_imageRect.width()), ih = float(m_imageRect.height());
    const Rect before = m_rect;
    Rect &r = m_rect;
    if (m_dragging) {
        const float dx = std::trunc(px - m_clickX), dy = std::trunc(py - m_clickY);
        r.x += dx;
        r.y += dy;
        if (r.x + r.w > ix + iw)
            r.x = ix + iw - r.w;
        if (r.x < ix)
            r.x = ix;
        if (r.y + r.h > iy + ih)
            r.y = iy + ih - r.h;
        if (r.y < iy)
            r.y = iy;
        m_clickX = px;
        m_clickY = py;
    } else if (m_ratio > 0) {
        const float top = std::trunc(r.y + r.h);
        r.h = top - py - m_clickY;
        r.w = r.h * m_ratio;
        r.y = top - r.h;
        if (r.w < kMinimum)
            r.w = kMinimum;
        if (r.x + r.w > ix + iw)
            r.w = ix + iw - r.x;
        r.h = r.w / m_ratio;
        if (r.h < kMinimum)
            r.h = kMinimum;
        if (top - r.h < iy)
            r.h = top - iy;
        r.w = r.h * m_ratio;
        r.y = top - r.h;
    }
    return !(r == before);
}

bool CropSelection::release()
{
    if (!m_dragging && !m_resizing)
        return false;
    m_dragging = m_resizing = false;
    return true;
}

} // namespace qm
