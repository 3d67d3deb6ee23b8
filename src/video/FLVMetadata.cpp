#include "video/FLVMetadata.h"

#include "storage/FileReader.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <limits>

namespace qm {

namespace {

constexpr int kReadLength = 1024;
constexpr int kScanOffsets = 1000;

// The properties the scan knows. The value sits one byte past the name: the
// AMF type marker in between is skipped whatever it says.
struct Property
{
    const char *name;
    int length;
};
constexpr Property kVideoRate{"videodatarate", 13};
constexpr Property kAudioRate{"audiodatarate", 13};
constexpr Property kWidth{"width", 5};
constexpr Property kHeight{"height", 6};

bool valueAt(const QByteArray &bytes, qsizetype p, const Property &prop, double *value)
{
    const qsizetype valueOffset = p + prop.length + 1;
    if (valueOffset + 8 > bytes.size())
        return false;
    if (std::memcmp(bytes.constData() + p, prop.name, size_t(prop.length)) != 0)
        return false;
    const quint64 bits = qFromBigEndian<quint64>(bytes.constData() + valueOffset);
    std::memcpy(value, &bits, sizeof *value);
    return true;
}

int clampToInt(qint64 v)
{
    if (v > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (v < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return int(v);
}

} // namespace

int truncateToInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 2147483647.0)
        return std::numeric_limits<int>::max();
    if (value <= -2147483648.0)
        return std::numeric_limits<int>::min();
    return int(value);
}

void scanFLVMetadata(const QByteArray &bytes, int offsets, int &width, int &height, int &bitrate)
{
    double videoRate = 0.0;
    double audioRate = 0.0;
    const qsizetype last = std::min<qsizetype>(offsets, bytes.size());
    for (qsizetype p = 0; p < last; ++p) {
        double v = 0.0;
        switch (bytes.at(p)) {
        case 'v':
            if (valueAt(bytes, p, kVideoRate, &v))
                videoRate = v;
            break;
        case 'a':
            if (valueAt(bytes, p, kAudioRate, &v))
                audioRate = v;
            break;
        case 'w':
            if (valueAt(bytes, p, kWidth, &v))
                width = truncateToInt(v);
            break;
        case 'h':
            if (valueAt(bytes, p, kHeight, &v))
                height = truncateToInt(v);
            break;
        default:
            break;
        }
    }
    bitrate = clampToInt(qint64(truncateToInt(videoRate)) + truncateToInt(audioRate));
}

void readFLVMetadata(const QString &path, int &width, int &height, int &bitrate)
{
    QByteArray bytes;
    QFile file;
    if (FileReader::open(file, path, FileReader::kNoLimit))
        bytes = file.read(kReadLength);
    file.close();
    scanFLVMetadata(bytes, kScanOffsets, width, height, bitrate);
}

FLVTagMetadata readFLVTagMetadata(const QString &path)
{
    // Bounds for hostile files: a metadata tag is a few hundred bytes in
    // practice; anything past these limits is not worth reading.
    constexpr int kMaxTags = 16;
    constexpr quint32 kMaxTagBody = 1 << 20;
    constexpr quint32 kMaxHeader = 1 << 16;

    FLVTagMetadata result;
    QFile file;
    if (!FileReader::open(file, path, FileReader::kNoLimit))
        return result;
    const QByteArray header = file.read(9);
    if (header.size() < 9 || !header.startsWith("FLV"))
        return result;
    const quint32 dataOffset = qFromBigEndian<quint32>(header.constData() + 5);
    if (dataOffset < 9 || dataOffset > kMaxHeader || !file.seek(dataOffset + 4))
        return result;

    static const QByteArray onMetaData("\x02\x00\x0a" "onMetaData", 13);
    for (int i = 0; i < kMaxTags; ++i) {
        const QByteArray tag = file.read(11);
        if (tag.size() < 11)
            return result;
        const auto *t = reinterpret_cast<const uchar *>(tag.constData());
        const quint32 bodySize = (quint32(t[1]) << 16) | (quint32(t[2]) << 8) | t[3];
        const int type = t[0] & 0x1f;
        if (type == 18 && bodySize <= kMaxTagBody) {
            const QByteArray body = file.read(bodySize);
            if (body.size() < qsizetype(bodySize))
                return result;
            if (body.startsWith(onMetaData)) {
                result.found = true;
                scanFLVMetadata(body, int(body.size()), result.width, result.height, result.bitrate);
                return result;
            }
            if (!file.seek(file.pos() + 4))
                return result;
        } else if (!file.seek(file.pos() + qint64(bodySize) + 4)) {
            return result;
        }
    }
    return result;
}

qint64 flvDurationMs(const QString &path)
{
    QFile file;
    if (!FileReader::open(file, path, FileReader::kNoLimit))
        return 0;
    const qint64 size = file.size();
    if (size < 9 + 4 + 11 + 4 || !file.seek(size - 4))
        return 0;
    const QByteArray trailer = file.read(4);
    if (trailer.size() < 4)
        return 0;
    const quint32 tagSize = qFromBigEndian<quint32>(trailer.constData());
    if (tagSize < 11 || tagSize > size - 13 || !file.seek(size - 4 - tagSize))
        return 0;
    const QByteArray tag = file.read(11);
    if (tag.size() < 11)
        return 0;
    const auto *t = reinterpret_cast<const uchar *>(tag.constData());
    const quint32 bodySize = (quint32(t[1]) << 16) | (quint32(t[2]) << 8) | t[3];
    const int type = t[0] & 0x1f;
    // The size that ends the file must describe the tag it points at.
    if (bodySize + 11 != tagSize || (type != 8 && type != 9 && type != 18))
        return 0;
    return (qint64(t[7]) << 24) | (qint64(t[4]) << 16) | (qint64(t[5]) << 8) | t[6];
}

int bitrateFromSize(qint64 bytes, qint64 ms)
{
    if (bytes <= 0 || ms <= 0)
        return 0;
    // Bits per millisecond are kbit/s; past what an int holds, the most it holds.
    if (bytes / ms >= std::numeric_limits<int>::max() / 8)
        return std::numeric_limits<int>::max();
    constexpr qint64 kMaxBytes = std::numeric_limits<qint64>::max() / 8;
    return clampToInt(bytes <= kMaxBytes ? bytes * 8 / ms : bytes / ms * 8);
}

int estimatedFLVBitrate(const QString &path, qint64 fallbackMs)
{
    qint64 ms = flvDurationMs(path);
    if (ms <= 0)
        ms = fallbackMs;
    return bitrateFromSize(QFileInfo(path).size(), ms);
}

namespace {

QString videoCodecName(int id)
{
    switch (id) {
    case 2:
        return QStringLiteral("Sorenson Spark");
    case 3:
    case 6:
        return QStringLiteral("Screen Video");
    case 4:
    case 5:
        return QStringLiteral("VP6");
    case 7:
        return QStringLiteral("H.264");
    case 12:
        return QStringLiteral("H.265");
    default:
        return QStringLiteral("codec %1").arg(id);
    }
}

QString audioCodecName(int id)
{
    switch (id) {
    case 0:
    case 3:
        return QStringLiteral("PCM");
    case 1:
        return QStringLiteral("ADPCM");
    case 2:
    case 14:
        return QStringLiteral("MP3");
    case 4:
    case 5:
    case 6:
        return QStringLiteral("Nellymoser");
    case 7:
    case 8:
        return QStringLiteral("G.711");
    case 10:
        return QStringLiteral("AAC");
    case 11:
        return QStringLiteral("Speex");
    default:
        return QStringLiteral("codec %1").arg(id);
    }
}

} // namespace

bool FLVContent::flashPlays() const
{
    const bool video = videoCodec == 2 || videoCodec == 4 || videoCodec == 5 || videoCodec == 7;
    const bool audio = audioCodec == 2 || audioCodec == 14 || audioCodec == 10;
    return isFLV && (video || videoCodec < 0) && (audio || audioCodec < 0) && (videoCodec >= 0 || audioCodec >= 0);
}

QString FLVContent::codecs() const
{
    if (videoCodec < 0 && audioCodec < 0)
        return QStringLiteral("nothing that plays");
    if (videoCodec < 0)
        return QStringLiteral("sound only (%1)").arg(audioCodecName(audioCodec));
    if (audioCodec < 0)
        return videoCodecName(videoCodec);
    return QStringLiteral("%1 with %2 sound").arg(videoCodecName(videoCodec), audioCodecName(audioCodec));
}

FLVContent readFLVContent(const QString &path)
{
    // The codecs show in the first tags; a file whose first few megabytes
    // name neither is not worth reading further.
    constexpr int kMaxTags = 512;
    constexpr qint64 kMaxRead = 8 << 20;
    FLVContent content;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return content;
    const QByteArray header = file.read(9);
    if (header.size() < 9 || !header.startsWith("FLV") || header.at(3) != 1)
        return content;
    const quint32 dataOffset = qFromBigEndian<quint32>(header.constData() + 5);
    if (dataOffset < 9 || dataOffset > 1024)
        return content;
    content.isFLV = true;
    const uchar flags = uchar(header.at(4));
    // A header that claims neither stream is not believed.
    const bool claimsNone = (flags & 0x05) == 0;
    const bool wantVideo = claimsNone || (flags & 0x01), wantAudio = claimsNone || (flags & 0x04);
    if (!file.seek(dataOffset + 4))
        return content;
    for (int i = 0; i < kMaxTags && file.pos() < kMaxRead; ++i) {
        const QByteArray tag = file.read(12);
        if (tag.size() < 11)
            break;
        const auto *t = reinterpret_cast<const uchar *>(tag.constData());
        const qint64 bodySize = (qint64(t[1]) << 16) | (qint64(t[2]) << 8) | t[3];
        const int type = t[0] & 0x1f;
        if (bodySize > 0 && tag.size() == 12) {
            if (type == 9 && content.videoCodec < 0 && bodySize > 1)
                content.videoCodec = t[11] & 0x0f;
            else if (type == 8 && content.audioCodec < 0)
                content.audioCodec = t[11] >> 4;
        }
        if ((content.videoCodec >= 0 || !wantVideo) && (content.audioCodec >= 0 || !wantAudio))
            break;
        if (!file.seek(file.pos() - tag.size() + 11 + bodySize + 4))
            break;
    }
    return content;
}

} // namespace qm
