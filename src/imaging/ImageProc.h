#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QSize>
#include <QString>

namespace qm {

// A decoded source picture. It may have been decoded smaller than the file
// (JPEG decoding can shrink cheaply); `size` is the file's own pixel size,
// which the target arithmetic works from, so the result does not depend on
// how the caller decoded.
struct Picture
{
    QImage image;
    QSize size;
    bool isNull() const { return image.isNull(); }
};

// Picture checks, the JPEG header reader and scaling into JPEG files, with
// an optional copyright line. Stateless; safe from any thread.
class ImageProc
{
public:
    // Width and height from the first baseline frame header (0xC0) among
    // the first 40 markers, before the start of scan; {0, 0} on every
    // failure. Reads header bytes only.
    static QSize sizeOfJPEG(const QString &path);

    // The size a w x h picture gets inside the box: never enlarged, the
    // ratio kept, sides truncated (a side that would be 0 becomes 1).
    static QSize targetSize(QSize source, int maxWidth, int maxHeight);
    // 0 or below gives 0.8, above 1 gives 1.0.
    static float normalizedQuality(float quality);
    // Where the copyright line's box starts (top-left coordinates): right
    // end about 15 pixels from the right edge, bottom 15 pixels above the
    // bottom edge.
    static QPoint copyrightOrigin(QSize target, qreal textWidth, qreal textHeight);
    // The font as drawn: one point is one pixel of the result.
    static QFont pixelFont(const QFont &font);

    // Decodes a picture file once, upright (EXIF orientation applied), in
    // sRGB, with transparent areas on white. When `boxes` are given, a JPEG
    // is decoded at the smallest cheap reduction that still serves the
    // largest of them. A null picture, and the reason in `error`, when the
    // file cannot be decoded, ends before its picture does (a JPEG cut short
    // would otherwise decode with a grey band) or claims more pixels than
    // the allocation limit.
    static Picture loadPicture(const QString &path, const QList<QSize> &boxes = {}, QString *error = nullptr);

    // Each writes the JPEG whole or not at all (an existing file at `saveTo`
    // stays as it was); `why` gets the reason of a failure.
    static bool scaleAndSaveAsJPEG(const QString &source, int maxWidth, int maxHeight, float quality,
                                   const QString &saveTo, QString *why = nullptr);
    // The same picture as JPEG bytes, for callers that write it themselves;
    // empty (with the reason in `why`) when it cannot be made.
    static QByteArray scaleToJPEG(const QString &source, int maxWidth, int maxHeight, float quality,
                                  QString *why = nullptr);
    static bool scaleAndSaveAsJPEG(const QString &source, int maxWidth, int maxHeight, float quality,
                                   const QString &saveTo, const QString &insertCopyright, const QFont &withFont,
                                   const QColor &andColor, QString *why = nullptr);
    static bool scaleImageAndSaveAsJPEG(const Picture &image, int maxWidth, int maxHeight, float quality,
                                        const QString &saveTo, QString *why = nullptr);
    static bool scaleImageAndSaveAsJPEG(const Picture &image, int maxWidth, int maxHeight, float quality,
                                        const QString &saveTo, const QString &insertCopyright,
                                        const QFont &withFont, const QColor &andColor, QString *why = nullptr);

    // Decoding refuses pictures needing more memory than this (megabytes):
    // enough for a 100-megapixel photo, not for a forged 60000 x 60000 header.
    static constexpr int kAllocationLimitMB = 640;
};

} // namespace qm
