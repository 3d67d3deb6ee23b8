#pragma once

#include "video/CropSelection.h"

#include <QImage>
#include <QWidget>

namespace qm {

// An image shown at its own size with a cropping rectangle of a fixed
// aspect ratio: drag inside it to move it, drag its lower right corner to
// resize it. selectionChanged() is the "ImageSelectionChanged" notification:
// sent when the image or ratio is set and when a move or resize ends.
class CroppingImageView : public QWidget
{
    Q_OBJECT
public:
    explicit CroppingImageView(QWidget *parent = nullptr);

    void setImage(const QImage &image);
    const QImage &image() const { return m_image; }
    void setCroppingAspectRatio(float ratio);
    float croppingAspectRatio() const { return m_selection.aspectRatio(); }
    // The rectangle in the view's own lower-left coordinates.
    CropSelection::Rect croppingRect() const { return m_selection.rect(); }
    void setCroppingRect(const CropSelection::Rect &rect);
    // Where the image lies, in the same coordinates.
    QRectF rectCoveredByImage() const;
    // The selected part scaled to `width`; the whole image when there is
    // no rectangle.
    QImage croppedImageFitToWidth(int width) const;

    // Qt coordinates <-> the lower-left ones of the selection.
    QPointF toSelection(QPointF widgetPoint) const;

    QSize sizeHint() const override;

signals:
    void selectionChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QRect imageRectInWidget() const;
    void updateGeometryOfImage();

    QImage m_image;
    CropSelection m_selection;
};

} // namespace qm
