#include "imaging/ImageProc.h"

#include "storage/FileWriter.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QFontMetricsF>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QtDebug>

#include <cmath>

namespace qm {

namespace {

struct Copyright
{
    QString text;
    QFont font;
    QColor color;
};

// One byte at an absolute offset; false past the end.
bool byteAt(QFile &file, qint64 offset, uchar &out)
{
    char c;
    if (!file.seek(offset) || !file.getChar(&c))
        return false;
    out = uchar(c);
    return true;
}

bool byteNext(QFile &file, uchar &out)
{
    char c;
    if (!file.getChar(&c))
        return false;
    out = uchar(c);
    return true;
}

// Pictures are flattened on white: JPEG has no transparency, and white is
// what a web page behind a transparent area would most likely show.
QImage flattened(const QImage &source)
{
    if (!source.hasAlphaChannel())
        return source.format() == QImage::Format_RGB32 ? source : source.convertToFormat(QImage::Format_RGB32);
    QImage out(source.size(), QImage::Format_RGB32);
    out.setColorSpace(source.colorSpace());
    out.fill(Qt::white);
    QPainter p(&out);
    p.drawImage(0, 0, source);
    p.end();
    return out;
}

QByteArray encode(const Picture &picture, int maxWidth, int maxHeight, float quality, const Copyright *copyright)
{
    if (picture.isNull())
        return {};
    const float q = ImageProc::normalizedQuality(quality);
    const QSize sourceSize = picture.size.isValid() ? picture.size : picture.image.size();
    const QSize target = ImageProc::targetSize(sourceSize, maxWidth, maxHeight);
    if (target.isEmpty() || target.width() > 65500 || target.height() > 65500) {
        qWarning().noquote() << "Could not render image";
        return {};
    }
    // Area-averaging reduction: every source pixel counts, whatever the factor.
    QImage canvas = picture.image.size() == target
        ? flattened(picture.image)
        : flattened(picture.image).scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (canvas.isNull() || canvas.size() != target) {
        qWarning().noquote() << "Could not render image";
        return {};
    }
    if (copyright) {
        QPainter p(&canvas);
        if (!p.isActive()) {
            qWarning().noquote() << "Could not scale image";
            return {};
        }
        p.setRenderHint(QPainter::TextAntialiasing);
        const QFont font = ImageProc::pixelFont(copyright->font);
        const QFontMetricsF metrics(font);
        const QPoint origin = ImageProc::copyrightOrigin(target, metrics.horizontalAdvance(copyright->text),
                                                         metrics.height());
        p.setFont(font);
        p.setPen(copyright->color);
        p.drawText(QPointF(origin.x(), origin.y() + metrics.ascent()), copyright->text);
        p.end();
    }
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(int(std::lround(q * 100.0f)));
    if (!writer.write(canvas)) {
        qWarning().noquote() << "Could not convert to JPEG";
        return {};
    }
    return jpeg;
}

bool render(const Picture &picture, int maxWidth, int maxHeight, float quality, const QString &saveTo,
            const Copyright *copyright)
{
    const QByteArray jpeg = encode(picture, maxWidth, maxHeight, quality, copyright);
    return !jpeg.isEmpty() && FileWriter::writeFile(saveTo, jpeg).ok();
}

bool renderFile(const QString &source, int maxWidth, int maxHeight, float quality, const QString &saveTo,
                const Copyright *copyright)
{
    const Picture picture = ImageProc::loadPicture(source, {QSize(maxWidth, maxHeight)});
    if (picture.isNull()) {
        qWarning().noquote() << QStringLiteral("Could not load '%1'").arg(source);
        return false;
    }
    return render(picture, maxWidth, maxHeight, quality, saveTo, copyright);
}

} // namespace

QSize ImageProc::sizeOfJPEG(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {0, 0};
    qint64 p = 2;
    for (int marker = 0; marker < 40; ++marker) {
        uchar prefix, code;
        if (!byteAt(file, p, prefix) || !byteNext(file, code))
            return {0, 0};
        if (code == 0xC0) {
            uchar b[4];
            if (!byteAt(file, p + 5, b[0]) || !byteNext(file, b[1]) || !byteNext(file, b[2]) || !byteNext(file, b[3]))
                return {0, 0};
            return {b[2] * 256 + b[3], b[0] * 256 + b[1]};
        }
        uchar l0, l1;
        if (!byteNext(file, l0) || !byteNext(file, l1))
            return {0, 0};
        p += 2 + (l0 * 256 + l1);
    }
    return {0, 0};
}

QSize ImageProc::targetSize(QSize source, int maxWidth, int maxHeight)
{
    const int w = source.width(), h = source.height();
    if (w <= 0 || h <= 0)
        return {0, 0};
    if (w <= maxWidth && h <= maxHeight)
        return {w, h};
    if (maxWidth <= 0 || maxHeight <= 0)
        return {0, 0};
    const float rx = float(w) / float(maxWidth);
    const float ry = float(h) / float(maxHeight);
    if (rx > ry)
        return {maxWidth, std::max(1, int(float(h) / rx))};
    return {std::max(1, int(float(w) / ry)), maxHeight};
}

float ImageProc::normalizedQuality(float quality)
{
    if (!(quality > 0.0f)) // NaN too
        return 0.8f;
    if (quality > 1.0f)
        return 1.0f;
    return quality;
}

QPoint ImageProc::copyrightOrigin(QSize target, qreal textWidth, qreal textHeight)
{
    const int x = target.width() - int(std::trunc(textWidth)) - 15;
    const int bottom = target.height() - 15;
    return {x, bottom - int(std::ceil(textHeight))};
}

QFont ImageProc::pixelFont(const QFont &font)
{
    QFont f = font;
    if (font.pixelSize() <= 0 && font.pointSizeF() > 0)
        f.setPixelSize(std::max(1, int(std::lround(font.pointSizeF()))));
    return f;
}

Picture ImageProc::loadPicture(const QString &path, const QList<QSize> &boxes, QString *error)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    reader.setAllocationLimit(kAllocationLimitMB);
    QSize size = reader.size();
    if (!size.isValid()) {
        if (error)
            *error = reader.errorString();
        return {};
    }
    // Reported sizes are before the EXIF turn; the picture we stand for is upright.
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    const QSize upright = turned ? size.transposed() : size;
    if (qint64(size.width()) * size.height() > qint64(kAllocationLimitMB) * 1024 * 1024 / 4) {
        if (error)
            *error = QObject::tr("the picture is too large (%1 x %2 pixels)").arg(size.width()).arg(size.height());
        return {};
    }

    // JPEG decoding shrinks by 2, 4 or 8 almost for free; take the largest
    // reduction that still leaves 1.5 source pixels per result pixel on
    // each side of the largest result, so the final reduction has detail
    // to average.
    if (!boxes.isEmpty() && reader.format() == "jpeg") {
        QSize need(0, 0);
        for (const QSize &box : boxes) {
            const QSize t = targetSize(upright, box.width(), box.height());
            need = need.expandedTo(turned ? t.transposed() : t);
        }
        int denom = 1;
        for (int d : {8, 4, 2}) {
            const int w = (size.width() + d - 1) / d, h = (size.height() + d - 1) / d;
            if (w * 2 >= need.width() * 3 && h * 2 >= need.height() * 3) {
                denom = d;
                break;
            }
        }
        if (denom > 1)
            reader.setScaledSize(QSize((size.width() + denom - 1) / denom, (size.height() + denom - 1) / denom));
    }
    QImage image = reader.read();
    if (image.isNull()) {
        if (error)
            *error = reader.errorString();
        return {};
    }
    if (image.colorSpace().isValid() && image.colorSpace() != QColorSpace(QColorSpace::SRgb))
        image.convertToColorSpace(QColorSpace(QColorSpace::SRgb));
    return {flattened(image), upright};
}

QByteArray ImageProc::scaleToJPEG(const QString &source, int maxWidth, int maxHeight, float quality, QString *why)
{
    QString error;
    const Picture picture = loadPicture(source, {QSize(maxWidth, maxHeight)}, &error);
    if (picture.isNull()) {
        qWarning().noquote() << QStringLiteral("Could not load '%1'").arg(source);
        if (why)
            *why = error;
        return {};
    }
    QByteArray jpeg = encode(picture, maxWidth, maxHeight, quality, nullptr);
    if (jpeg.isEmpty() && why)
        *why = QStringLiteral("the picture could not be scaled and encoded");
    return jpeg;
}

bool ImageProc::scaleAndSaveAsJPEG(const QString &source, int maxWidth, int maxHeight, float quality,
                                   const QString &saveTo)
{
    return renderFile(source, maxWidth, maxHeight, quality, saveTo, nullptr);
}

bool ImageProc::scaleAndSaveAsJPEG(const QString &source, int maxWidth, int maxHeight, float quality,
                                   const QString &saveTo, const QString &insertCopyright, const QFont &withFont,
                                   const QColor &andColor)
{
    const Copyright c{insertCopyright, withFont, andColor};
    return renderFile(source, maxWidth, maxHeight, quality, saveTo, &c);
}

bool ImageProc::scaleImageAndSaveAsJPEG(const Picture &image, int maxWidth, int maxHeight, float quality,
                                        const QString &saveTo)
{
    return render(image, maxWidth, maxHeight, quality, saveTo, nullptr);
}

bool ImageProc::scaleImageAndSaveAsJPEG(const Picture &image, int maxWidth, int maxHeight, float quality,
                                        const QString &saveTo, const QString &insertCopyright,
                                        const QFont &withFont, const QColor &andColor)
{
    const Copyright c{insertCopyright, withFont, andColor};
    return render(image, maxWidth, maxHeight, quality, saveTo, &c);
}

} // namespace qm
