#include "video/VideoThumbnail.h"

#include "video/CropSelection.h"

#include <QBuffer>
#include <QImageWriter>

namespace qm {

QByteArray encodeJPEG(const QImage &image, int quality)
{
    QByteArray bytes;
    if (image.isNull())
        return bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    if (!writer.write(image.convertToFormat(QImage::Format_RGB32)))
        bytes.clear();
    return bytes;
}

QByteArray videoThumbnailJPEG(const QImage &frame, int width, int height, int quality)
{
    if (frame.isNull() || width <= 0 || height <= 0)
        return {};
    CropSelection selection;
    selection.setImageRect(QRectF(QPointF(0, 0), QSizeF(frame.size())), QSizeF(frame.size()));
    selection.setAspectRatio(float(width) / float(height));
    return encodeJPEG(selection.croppedImage(frame, width), quality);
}

} // namespace qm
