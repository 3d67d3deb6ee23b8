#include "imaging/ExifDate.h"

#include "storage/FileReader.h"

#include <QFile>

#include <functional>

namespace qm {

namespace {

constexpr quint16 kDateTime = 0x0132;
constexpr quint16 kExifIFD = 0x8769;
constexpr quint16 kDateTimeOriginal = 0x9003;
constexpr quint16 kTypeAscii = 2;
constexpr quint16 kTypeLong = 4;
// No camera writes more entries than this into one IFD; a larger count is
// damage, and reading it would only cost time.
constexpr int kMaxEntries = 1000;
// Enough for any APP1 segment; JPEG lengths are 16 bits.
constexpr int kMaxSegment = 0xFFFF;

// Reads `length` bytes at `offset` of the TIFF structure; false past its end.
using ReadAt = std::function<bool(quint64 offset, char *out, int length)>;

class Tiff
{
public:
    explicit Tiff(ReadAt read) : m_read(std::move(read)) {}

    QDateTime dateTaken()
    {
        char header[8];
        if (!m_read(0, header, 8))
            return {};
        if (header[0] == 'I' && header[1] == 'I')
            m_little = true;
        else if (header[0] == 'M' && header[1] == 'M')
            m_little = false;
        else
            return {};
        if (u16(header + 2) != 42)
            return {};
        const quint32 ifd0 = u32(header + 4);
        QDateTime changed;
        quint32 exif = 0;
        forEachEntry(ifd0, [&](quint16 tag, quint16 type, quint32 count, const char *value) {
            if (tag == kDateTime)
                changed = ascii(type, count, value);
            else if (tag == kExifIFD && type == kTypeLong && count == 1)
                exif = u32(value);
        });
        // The Exif IFD lies elsewhere; one pointing back at IFD0 is a loop
        // in a damaged file and is not followed.
        if (exif != 0 && exif != ifd0) {
            QDateTime original;
            forEachEntry(exif, [&](quint16 tag, quint16 type, quint32 count, const char *value) {
                if (tag == kDateTimeOriginal)
                    original = ascii(type, count, value);
            });
            if (original.isValid())
                return original;
        }
        return changed;
    }

private:
    quint16 u16(const char *p) const
    {
        const auto *b = reinterpret_cast<const uchar *>(p);
        return m_little ? quint16(b[0] | b[1] << 8) : quint16(b[0] << 8 | b[1]);
    }
    quint32 u32(const char *p) const
    {
        const auto *b = reinterpret_cast<const uchar *>(p);
        return m_little ? quint32(b[0]) | quint32(b[1]) << 8 | quint32(b[2]) << 16 | quint32(b[3]) << 24
                        : quint32(b[0]) << 24 | quint32(b[1]) << 16 | quint32(b[2]) << 8 | quint32(b[3]);
    }

    template<typename Visit>
    void forEachEntry(quint32 offset, Visit visit)
    {
        char countBytes[2];
        if (offset < 8 || !m_read(offset, countBytes, 2))
            return;
        const int count = u16(countBytes);
        if (count > kMaxEntries)
            return;
        QByteArray entries(count * 12, Qt::Uninitialized);
        if (!m_read(quint64(offset) + 2, entries.data(), int(entries.size())))
            return;
        for (int i = 0; i < count; ++i) {
            const char *e = entries.constData() + i * 12;
            visit(u16(e), u16(e + 2), u32(e + 4), e + 8);
        }
    }

    // An ASCII value of 20 bytes: "YYYY:MM:DD HH:MM:SS" and its NUL.
    QDateTime ascii(quint16 type, quint32 count, const char *value)
    {
        if (type != kTypeAscii || count < 10 || count > 64)
            return {};
        char text[64];
        if (!m_read(u32(value), text, int(count)))
            return {};
        return ExifDate::parse(QByteArrayView(text, int(count)));
    }

    ReadAt m_read;
    bool m_little = false;
};

bool isTiffHeader(QByteArrayView b)
{
    return b.size() >= 4
        && ((b[0] == 'I' && b[1] == 'I' && b[2] == 42 && b[3] == 0)
            || (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 42));
}

ReadAt memoryReader(QByteArrayView bytes)
{
    return [bytes](quint64 offset, char *out, int length) {
        if (length < 0 || offset > quint64(bytes.size()) || quint64(length) > quint64(bytes.size()) - offset)
            return false;
        memcpy(out, bytes.data() + offset, size_t(length));
        return true;
    };
}

// Walks a JPEG's segments up to the picture data, handing each APP1 payload
// to `app1` until it answers with a date.
QDateTime walkJPEG(const std::function<bool(qint64, char *, int)> &read,
                   const std::function<QDateTime(QByteArrayView)> &app1)
{
    qint64 p = 2;
    for (int n = 0; n < 64; ++n) {
        uchar m[2];
        if (!read(p, reinterpret_cast<char *>(m), 2) || m[0] != 0xFF)
            return {};
        if (m[1] == 0xFF) { // fill byte
            ++p;
            continue;
        }
        if (m[1] == 0xD9 || m[1] == 0xDA) // end of image, start of scan
            return {};
        if ((m[1] >= 0xD0 && m[1] <= 0xD7) || m[1] == 0x01) { // no length
            p += 2;
            continue;
        }
        uchar l[2];
        if (!read(p + 2, reinterpret_cast<char *>(l), 2))
            return {};
        const int length = l[0] << 8 | l[1];
        if (length < 2)
            return {};
        if (m[1] == 0xE1 && length >= 8) {
            QByteArray payload(length - 2, Qt::Uninitialized);
            if (!read(p + 4, payload.data(), int(payload.size())))
                return {};
            if (payload.startsWith(QByteArrayView("Exif\0\0", 6))) {
                const QDateTime found = app1(QByteArrayView(payload).sliced(6));
                if (found.isValid())
                    return found;
            }
        }
        p += 2 + length;
    }
    return {};
}

} // namespace

QDateTime ExifDate::parse(QByteArrayView ascii)
{
    auto number = [&](int at, int digits, int &out) {
        if (at + digits > ascii.size())
            return false;
        out = 0;
        for (int i = at; i < at + digits; ++i) {
            const char c = ascii[i];
            if (c < '0' || c > '9')
                return false;
            out = out * 10 + (c - '0');
        }
        return true;
    };
    auto separator = [&](int at) {
        return at < ascii.size() && (ascii[at] == ':' || ascii[at] == '-' || ascii[at] == '/');
    };
    int y, mo, d;
    if (!number(0, 4, y) || !separator(4) || !number(5, 2, mo) || !separator(7) || !number(8, 2, d))
        return {};
    // "0000:00:00" is how cameras without a set clock say "unknown".
    const QDate date(y, mo, d);
    if (!date.isValid() || y < 1800)
        return {};
    int h, mi, s;
    QTime time(0, 0);
    if (ascii.size() > 10 && ascii[10] == ' ' && number(11, 2, h) && ascii.size() > 13 && ascii[13] == ':'
        && number(14, 2, mi) && ascii.size() > 16 && ascii[16] == ':' && number(17, 2, s)) {
        const QTime t(h, mi, s);
        if (t.isValid())
            time = t;
    }
    // The camera's wall clock, with no zone: read as local time it would
    // depend on this computer's zone and fail in the hour a clock change skips.
    return QDateTime(date, time, Qt::UTC);
}

QDateTime ExifDate::fromTiff(QByteArrayView tiff)
{
    return Tiff(memoryReader(tiff)).dateTaken();
}

QDateTime ExifDate::fromFileBytes(QByteArrayView bytes)
{
    if (isTiffHeader(bytes))
        return fromTiff(bytes);
    if (bytes.size() < 4 || uchar(bytes[0]) != 0xFF || uchar(bytes[1]) != 0xD8)
        return {};
    const ReadAt read = memoryReader(bytes);
    return walkJPEG([&](qint64 at, char *out, int n) { return at >= 0 && read(quint64(at), out, n); },
                    [](QByteArrayView tiff) { return fromTiff(tiff); });
}

QDateTime ExifDate::dateTaken(const QString &path)
{
    QFile file;
    if (!FileReader::open(file, path, FileReader::kNoLimit))
        return {};
    const qint64 size = file.size();
    auto read = [&](qint64 at, char *out, int n) {
        return at >= 0 && n >= 0 && n <= kMaxSegment && at <= size - n && file.seek(at) && file.read(out, n) == n;
    };
    char head[4];
    if (!read(0, head, 4))
        return {};
    if (isTiffHeader(QByteArrayView(head, 4))) {
        // A TIFF's IFDs may lie anywhere in the file: read them where they are.
        return Tiff([&](quint64 at, char *out, int n) { return at <= quint64(size) && read(qint64(at), out, n); })
            .dateTaken();
    }
    if (uchar(head[0]) != 0xFF || uchar(head[1]) != 0xD8)
        return {};
    return walkJPEG(read, [](QByteArrayView tiff) { return fromTiff(tiff); });
}

} // namespace qm
