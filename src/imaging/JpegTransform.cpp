#include "imaging/JpegTransform.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImageIOHandler>
#include <QImageReader>

#include <turbojpeg.h>

#include <array>
#include <memory>

namespace qm {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("JpegTransform", text);
}

// A turn or flip of the picture as a 2 x 2 matrix on its coordinates (y down).
using Matrix = std::array<int, 4>;

Matrix times(const Matrix &a, const Matrix &b)
{
    return {a[0] * b[0] + a[1] * b[2], a[0] * b[1] + a[1] * b[3], a[2] * b[0] + a[3] * b[2], a[2] * b[1] + a[3] * b[3]};
}

constexpr Matrix kIdentity{1, 0, 0, 1};
constexpr Matrix kMirror{-1, 0, 0, 1};
constexpr Matrix kFlip{1, 0, 0, -1};
constexpr Matrix kRight{0, -1, 1, 0};

// The operation that does what the matrix does.
int operation(const Matrix &m)
{
    const std::pair<Matrix, int> ops[] = {
        {kIdentity, TJXOP_NONE},        {kMirror, TJXOP_HFLIP},          {kFlip, TJXOP_VFLIP},
        {{0, 1, 1, 0}, TJXOP_TRANSPOSE}, {{0, -1, -1, 0}, TJXOP_TRANSVERSE}, {kRight, TJXOP_ROT90},
        {{-1, 0, 0, -1}, TJXOP_ROT180}, {{0, 1, -1, 0}, TJXOP_ROT270}};
    for (const auto &[matrix, op] : ops)
        if (matrix == m)
            return op;
    return TJXOP_NONE;
}

// How the picture is shown when its EXIF orientation is applied, as Qt
// applies it: mirrored, flipped, then turned right.
Matrix orientation(const QByteArray &jpeg)
{
    QByteArray bytes = jpeg;
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer, "jpeg");
    const QImageIOHandler::Transformations t = reader.transformation();
    Matrix m = kIdentity;
    if (t & QImageIOHandler::TransformationMirror)
        m = times(kMirror, m);
    if (t & QImageIOHandler::TransformationFlip)
        m = times(kFlip, m);
    if (t & QImageIOHandler::TransformationRotate90)
        m = times(kRight, m);
    return m;
}

// Sets the EXIF orientation, where there is one, to "upright" in place.
void markUpright(QByteArray &jpeg)
{
    const auto *b = reinterpret_cast<const uchar *>(jpeg.constData());
    const qsizetype n = jpeg.size();
    for (qsizetype i = 2; i + 4 <= n && b[i] == 0xFF;) {
        const uchar marker = b[i + 1];
        const qsizetype length = (b[i + 2] << 8) | b[i + 3];
        if (marker == 0xDA || length < 2 || i + 2 + length > n)
            return;
        const qsizetype tiff = i + 10;
        if (marker == 0xE1 && length >= 16 && jpeg.mid(i + 4, 6) == QByteArray("Exif\0\0", 6)) {
            const qsizetype end = i + 2 + length;
            const bool little = b[tiff] == 'I';
            auto u16 = [&](qsizetype at) { return little ? b[at] | b[at + 1] << 8 : b[at] << 8 | b[at + 1]; };
            auto u32 = [&](qsizetype at) {
                return little ? quint32(u16(at)) | quint32(u16(at + 2)) << 16 : quint32(u16(at)) << 16 | quint32(u16(at + 2));
            };
            const qsizetype ifd = tiff + qsizetype(u32(tiff + 4));
            if (ifd < tiff || ifd + 2 > end)
                return;
            const int entries = u16(ifd);
            for (int e = 0; e < entries && ifd + 2 + 12 * (e + 1) <= end; ++e) {
                const qsizetype entry = ifd + 2 + 12 * e;
                if (u16(entry) == 0x0112 && u16(entry + 2) == 3) {
                    jpeg[entry + 8] = char(little ? 1 : 0);
                    jpeg[entry + 9] = char(little ? 0 : 1);
                }
            }
            return;
        }
        i += 2 + length;
    }
}

struct Handle
{
    tjhandle h = tjInitTransform();
    ~Handle()
    {
        if (h)
            tjDestroy(h);
    }
};

} // namespace

JpegTransform::Result JpegTransform::turn(const QByteArray &jpeg, int quarterTurns)
{
    Result result;
    Handle handle;
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (!handle.h
        || tjDecompressHeader3(handle.h, reinterpret_cast<const uchar *>(jpeg.constData()), ulong(jpeg.size()), &width,
                               &height, &subsampling, &colorspace)
            != 0) {
        result.error = handle.h ? QString::fromUtf8(tjGetErrorStr2(handle.h)) : tr("TurboJPEG could not be started");
        if (result.error.isEmpty())
            result.error = tr("it is not a JPEG picture");
        return result;
    }
    Matrix m = orientation(jpeg);
    for (int i = 0; i < ((quarterTurns % 4) + 4) % 4; ++i)
        m = times(kRight, m);
    tjtransform transform{};
    transform.op = operation(m);
    for (int options : {TJXOPT_PERFECT, TJXOPT_TRIM}) {
        transform.options = options;
        uchar *out = nullptr;
        ulong size = 0;
        if (tjTransform(handle.h, reinterpret_cast<const uchar *>(jpeg.constData()), ulong(jpeg.size()), 1, &out, &size,
                        &transform, 0)
            == 0) {
            result.jpeg = QByteArray(reinterpret_cast<const char *>(out), qsizetype(size));
            tjFree(out);
            break;
        }
        tjFree(out);
        result.error = QString::fromUtf8(tjGetErrorStr2(handle.h));
    }
    if (!result.ok())
        return result;
    result.error.clear();
    markUpright(result.jpeg);
    int w = 0, h = 0;
    tjDecompressHeader3(handle.h, reinterpret_cast<const uchar *>(result.jpeg.constData()), ulong(result.jpeg.size()), &w,
                        &h, &subsampling, &colorspace);
    result.trimmed = (width + height) - (w + h);
    return result;
}

} // namespace qm
