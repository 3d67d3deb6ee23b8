#include "imaging/ImageProc.h"

#include "storage/FileReader.h"
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
#include <cstring>

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

bool failed(QString *why, const QString &reason)
{
    if (why)
        *why = reason;
    return false;
}

QByteArray noJPEG(QString *why, const QString &reason)
{
    failed(why, reason);
    return {};
}

// The JPEG bytes, or empty with the reason.
QByteArray encode(const Picture &picture, int maxWidth, int maxHeight, float quality, const Copyright *copyright,
                  QString *why)
{
    if (picture.isNull())
        return noJPEG(why, QStringLiteral("there is no picture"));
    const float q = ImageProc::normalizedQuality(quality);
    const QSize sourceSize = picture.size.isValid() ? picture.size : picture.image.size();
    const QSize target = ImageProc::targetSize(sourceSize, maxWidth, maxHeight);
    const QString tooLarge = QStringLiteral("a picture of %1 x %2 pixels cannot be made")
                                 .arg(target.width()).arg(target.height());
    if (target.isEmpty() || target.width() > 65500 || target.height() > 65500) {
        qWarning().noquote() << "Could not render image";
        return noJPEG(why, tooLarge);
    }
    // Area-averaging reduction: every source pixel counts, whatever the factor.
    QImage canvas = picture.image.size() == target
        ? flattened(picture.image)
        : flattened(picture.image).scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (canvas.isNull() || canvas.size() != target) {
        qWarning().noquote() << "Could not render image";
        return noJPEG(why, tooLarge);
    }
    if (copyright) {
        QPainter p(&canvas);
        if (!p.isActive()) {
            qWarning().noquote() << "Could not scale image";
            return noJPEG(why, QStringLiteral("the copyright line could not be drawn"));
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
    // Encoded whole in memory first: the file is written in one checked step.
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(int(std::lround(q * 100.0f)));
    if (!writer.write(canvas)) {
        qWarning().noquote() << "Could not convert to JPEG";
        return noJPEG(why, QStringLiteral("the picture could not be encoded as JPEG (%1)").arg(writer.errorString()));
    }
    return jpeg;
}

bool render(const Picture &picture, int maxWidth, int maxHeight, float quality, const QString &saveTo,
            const Copyright *copyright, QString *why)
{
    const QByteArray jpeg = encode(picture, maxWidth, maxHeight, quality, copyright, why);
    if (jpeg.isEmpty())
        return false;
    const WriteResult written = FileWriter::writeFile(saveTo, jpeg);
    return written || failed(why, written.reason);
}

Picture loadForBox(const QString &source, int maxWidth, int maxHeight, QString *why)
{
    QString reason;
    Picture picture = ImageProc::loadPicture(source, {QSize(maxWidth, maxHeight)}, &reason);
    if (picture.isNull()) {
        qWarning().noquote() << QStringLiteral("Could not load '%1'").arg(source);
        failed(why, reason);
    }
    return picture;
}

bool renderFile(const QString &source, int maxWidth, int maxHeight, float quality, const QString &saveTo,
                const Copyright *copyright, QString *why)
{
    const Picture picture = loadForBox(source, maxWidth, maxHeight, why);
    return !picture.isNull() && render(picture, maxWidth, maxHeight, quality, saveTo, copyright, why);
}

quint16 bigEndian16(QByteArrayView b, qsizetype at)
{
    return quint16(uchar(b[at]) << 8 | uchar(b[at + 1]));
}

quint32 tiffWord(QByteArrayView b, qsizetype at, bool big)
{
    const auto u = [&](int i) { return quint32(uchar(b[at + i])); };
    return big ? u(0) << 24 | u(1) << 16 | u(2) << 8 | u(3) : u(3) << 24 | u(2) << 16 | u(1) << 8 | u(0);
}

// Whether a JPEG goes on to its end-of-image marker after its scans. A file
// cut short still decodes (the rest comes out grey) with only a warning,
// so the structure is walked: segments by their lengths, scan data up to
// the next marker that is not a restart or a stuffed byte.
bool jpegIsWhole(QByteArrayView b)
{
    qsizetype p = 2;
    bool inScan = false, scanned = false;
    while (p < b.size()) {
        if (inScan) {
            const void *ff = std::memchr(b.data() + p, 0xFF, size_t(b.size() - p));
            if (!ff)
                return false;
            p = static_cast<const char *>(ff) - b.data() + 1;
            if (p >= b.size())
                return false;
            const uchar c = uchar(b[p]);
            if (c == 0x00 || (c >= 0xD0 && c <= 0xD7)) {
                ++p;
                continue;
            }
            if (c == 0xFF)
                continue; // fill before a marker
            inScan = false;
            --p; // at the marker's 0xFF
            continue;
        }
        if (uchar(b[p]) != 0xFF) { // stray bytes between segments: the decoder skips them too
            ++p;
            continue;
        }
        ++p;
        if (p >= b.size())
            return false;
        const uchar code = uchar(b[p]);
        if (code == 0xFF)
            continue;
        ++p;
        if (code == 0xD9)
            return scanned;
        if (code == 0x01 || (code >= 0xD0 && code <= 0xD7))
            continue;
        if (p + 2 > b.size())
            return false;
        const qsizetype length = bigEndian16(b, p);
        if (length < 2 || p + length > b.size())
            return false;
        p += length;
        if (code == 0xDA)
            inScan = scanned = true;
    }
    return false;
}

// Whether a PNG's chunks run whole up to its end chunk.
bool pngIsWhole(QByteArrayView b)
{
    qsizetype p = 8;
    while (p + 8 <= b.size()) {
        const qint64 length = tiffWord(b, p, true);
        if (b.sliced(p + 4, 4) == "IEND")
            return true;
        p += 12 + length;
    }
    return false;
}

// Whether a TIFF's first directory lies inside the file. Cameras and most
// programs write it last, so a file cut short loses it.
bool tiffIsWhole(QByteArrayView b)
{
    if (b.size() < 8)
        return false;
    const bool big = b[0] == 'M';
    if ((big ? bigEndian16(b, 2) : quint16(uchar(b[2]) | uchar(b[3]) << 8)) != 42)
        return true; // BigTIFF and others: left to the decoder
    const quint32 directory = tiffWord(b, 4, big);
    if (directory + 2 > quint64(b.size()))
        return false;
    const quint16 entries = big ? bigEndian16(b, directory) : quint16(uchar(b[directory]) | uchar(b[directory + 1]) << 8);
    return directory + 2 + 12 * quint64(entries) <= quint64(b.size());
}

bool endsBeforeItsPicture(const QByteArray &format, QByteArrayView bytes)
{
    if (format == "jpeg")
        return !jpegIsWhole(bytes);
    if (format == "png")
        return !pngIsWhole(bytes);
    if (format == "tiff")
        return !tiffIsWhole(bytes);
    return false;
}

} // namespace

QSize ImageProc::sizeOfJPEG(const QString &path)
{
    QFile file;
    if (!FileReader::open(file, path, FileReader::kNoLimit))
        return {0, 0};
    qint64 p = 2;
    for (int marker = 0; marker < 40; ++marker) {
        uchar prefix, code;
        if (!byteAt(file, p, prefix) || !byteNext(file, code))
            return {0, 0};
        // Past the start of scan come compressed data, not segments: a walk
        // into them finds "sizes" in noise.
        if (code == 0xDA || code == 0xD9)
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
    const auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return Picture();
    };
    // Read whole, once: the decoder and the check for a file cut short both
    // work from memory. Only a plain file of a size a photo can have.
    const ReadResult read = FileReader::readFile(path, FileReader::kPictureLimit);
    if (!read)
        return fail(read.reason);
    const QByteArray &bytes = read.bytes;
    if (bytes.isEmpty())
        return fail(QStringLiteral("the file is empty"));
    QBuffer device;
    device.setData(bytes);
    device.open(QIODevice::ReadOnly);
    QImageReader reader(&device);
    reader.setAutoTransform(true);
    reader.setAllocationLimit(kAllocationLimitMB);
    // Whatever the name says, the content decides how it is decoded.
    const QByteArray format = reader.format();
    if (format.isEmpty())
        return fail(QStringLiteral("not a picture Quillmere can read: the file holds no picture in a known format"));
    if (endsBeforeItsPicture(format, bytes))
        return fail(QStringLiteral("the file ends before its picture does: it was cut short, perhaps by an "
                                   "interrupted copy"));
    const auto done = [](QImage image, QSize upright) -> Picture {
        if (image.colorSpace().isValid() && image.colorSpace() != QColorSpace(QColorSpace::SRgb))
            image.convertToColorSpace(QColorSpace(QColorSpace::SRgb));
        return {flattened(image), upright};
    };
    QSize size = reader.size();
    if (!size.isValid()) {
        // Some handlers know the size only by decoding; all say why they
        // failed only then.
        const QImage image = reader.read();
        if (image.isNull())
            return fail(QStringLiteral("not a picture Quillmere can read: %1").arg(reader.errorString()));
        return done(image, image.size());
    }
    // Reported sizes are before the EXIF turn; the picture we stand for is upright.
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    const QSize upright = turned ? size.transposed() : size;
    if (qint64(size.width()) * size.height() > qint64(kAllocationLimitMB) * 1024 * 1024 / 4) {
        return fail(QStringLiteral("the picture is too large (%1 x %2 pixels)").arg(size.width()).arg(size.height()));
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
    const QImage image = reader.read();
    if (image.isNull())
        return fail(QStringLiteral("not a picture Quillmere can read: %1").arg(reader.errorString()));
    return done(image, upright);
}

QByteArray ImageProc::scaleToJPEG(const QString &source, int maxWidth, int maxHeight, float quality, QString *why)
{
    const Picture picture = loadForBox(source, maxWidth, maxHeight, why);
    return picture.isNull() ? QByteArray() : encode(picture, maxWidth, maxHeight, quality, nullptr, why);
}

bool ImageProc::scaleAndSaveAsJPEG(const QString &source, int maxWidth, int maxHeight, float quality,
                                   const QString &saveTo, QString *why)
{
    return renderFile(source, maxWidth, maxHeight, quality, saveTo, nullptr, why);
}

bool ImageProc::scaleAndSaveAsJPEG(const QString &source, int maxWidth, int maxHeight, float quality,
                                   const QString &saveTo, const QString &insertCopyright, const QFont &withFont,
                                   const QColor &andColor, QString *why)
{
    const Copyright c{insertCopyright, withFont, andColor};
    return renderFile(source, maxWidth, maxHeight, quality, saveTo, &c, why);
}

bool ImageProc::scaleImageAndSaveAsJPEG(const Picture &image, int maxWidth, int maxHeight, float quality,
                                        const QString &saveTo, QString *why)
{
    return render(image, maxWidth, maxHeight, quality, saveTo, nullptr, why);
}

bool ImageProc::scaleImageAndSaveAsJPEG(const Picture &image, int maxWidth, int maxHeight, float quality,
                                        const QString &saveTo, const QString &insertCopyright,
                                        const QFont &withFont, const QColor &andColor, QString *why)
{
    const Copyright c{insertCopyright, withFont, andColor};
    return render(image, maxWidth, maxHeight, quality, saveTo, &c, why);
}

} // namespace qm
