#include "web/BrowserVideo.h"

#include "model/Video.h"
#include "storage/Common.h"
#include "storage/Job.h"

#include <QCoreApplication>
#include <QFile>

#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

constexpr qint64 kStart = 64 * 1024;

quint32 be(const QByteArray &b, qsizetype at, int bytes)
{
    quint32 v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | quint8(b[at + i]);
    return v;
}

FLVVideoCodec codecOf(int id)
{
    switch (id) {
    case 2:
        return FLVVideoCodec::Spark;
    case 4:
    case 5:
        return FLVVideoCodec::VP6;
    case 7:
        return FLVVideoCodec::H264;
    default:
        return FLVVideoCodec::Other;
    }
}

QString codecName(FLVVideoCodec codec)
{
    switch (codec) {
    case FLVVideoCodec::Spark:
        return QStringLiteral("Sorenson Spark");
    case FLVVideoCodec::VP6:
        return QStringLiteral("On2 VP6");
    case FLVVideoCodec::H264:
        return QStringLiteral("H.264");
    case FLVVideoCodec::Other:
        return QCoreApplication::translate("BrowserVideo", "an old Flash format");
    case FLVVideoCodec::Unknown:
        break;
    }
    return QCoreApplication::translate("BrowserVideo", "unknown");
}

// The number after "videocodecid" in the metadata, where the tags are
// beyond what was read.
FLVVideoCodec codecFromMetadata(const QByteArray &start)
{
    const qsizetype at = start.indexOf("videocodecid");
    if (at < 0 || at + 12 + 9 > start.size() || start[at + 12] != 0)
        return FLVVideoCodec::Unknown;
    double value;
    quint64 bits = 0;
    for (int i = 0; i < 8; ++i)
        bits = (bits << 8) | quint8(start[at + 13 + i]);
    std::memcpy(&value, &bits, sizeof value);
    return value >= 0 && value < 64 ? codecOf(int(value)) : FLVVideoCodec::Other;
}

} // namespace

FLVVideoCodec flvVideoCodecOf(const QByteArray &start)
{
    if (start.size() < 13 || !start.startsWith("FLV"))
        return FLVVideoCodec::Unknown;
    qsizetype p = qsizetype(be(start, 5, 4)) + 4;
    while (p + 12 <= start.size()) {
        const int type = quint8(start[p]) & 0x1f;
        const qsizetype size = be(start, p + 1, 3);
        if (type == 9)
            return codecOf(quint8(start[p + 11]) & 0x0f);
        p += 11 + size + 4;
    }
    return codecFromMetadata(start);
}

FLVVideoCodec flvVideoCodec(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return FLVVideoCodec::Unknown;
    struct stat st;
    QByteArray start;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        start.resize(kStart);
        const ssize_t n = ::pread(fd, start.data(), size_t(kStart), 0);
        start.resize(n > 0 ? n : 0);
    }
    ::close(fd);
    return flvVideoCodecOf(start);
}

GalleryVideos GalleryVideos::of(const Data &data, const QString &imgFolder)
{
    GalleryVideos out;
    data.forEachNode([&](const NodePtr &node) {
        if (!node->isAlbum())
            return true;
        for (const ItemPtr &item : static_cast<const Album &>(*node).items()) {
            if (!item->isVideo())
                continue;
            Entry entry{item->id(), item->title(), node->title(), {}};
            for (const StreamPtr &s : static_cast<const Video &>(*item).streams()) {
                if (isBareFileName(s->file()))
                    entry.paths << imgFolder + QLatin1Char('/') + s->file();
            }
            if (!entry.paths.isEmpty())
                out.videos.append(entry);
        }
        return true;
    });
    return out;
}

QList<UnplayableVideo> findUnplayableVideos(const GalleryVideos &videos, JobControl *control)
{
    QList<UnplayableVideo> out;
    for (const GalleryVideos::Entry &v : videos.videos) {
        if (control && control->stopRequested())
            break;
        QStringList described;
        bool playable = false, unknown = false;
        for (const QString &path : v.paths) {
            const FLVVideoCodec codec = flvVideoCodec(path);
            playable = playable || codec == FLVVideoCodec::H264;
            unknown = unknown || codec == FLVVideoCodec::Unknown;
            described << QStringLiteral("%1 (%2)").arg(path.section(QLatin1Char('/'), -1), codecName(codec));
        }
        if (!playable && !unknown)
            out.append({v.videoId, v.title, v.album, described.join(QStringLiteral(", "))});
        if (control)
            control->advance();
    }
    return out;
}

} // namespace qm
