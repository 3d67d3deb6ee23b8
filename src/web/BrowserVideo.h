#pragma once

#include "model/Data.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace qm {

class JobControl;

// The video codec of an FLV stream, from its first video tag (or, without
// one near the start, its metadata). Browsers play H.264 through the web
// viewer; Sorenson Spark and VP6 only ever played in the Flash player.
enum class FLVVideoCodec { Unknown, H264, Spark, VP6, Other };
FLVVideoCodec flvVideoCodec(const QString &path);
// The first kilobytes of a file, as a web viewer reads them.
FLVVideoCodec flvVideoCodecOf(const QByteArray &start);

// A video of the gallery whose streams no browser can play.
struct UnplayableVideo
{
    quint64 videoId = 0;
    QString title;
    QString album;
    QString streams; // "vstream_1.flv (Sorenson Spark), ..."
};

// The streams of every video, taken on the GUI thread.
struct GalleryVideos
{
    struct Entry
    {
        quint64 videoId;
        QString title;
        QString album;
        QStringList paths; // of its streams
    };
    QList<Entry> videos;
    static GalleryVideos of(const Data &data, const QString &imgFolder);
};

// Reads the start of each stream (off the GUI thread): the videos that have
// streams, all of which can be read and none of which is H.264. A stream
// that cannot be read is reported as missing by the gallery check already.
QList<UnplayableVideo> findUnplayableVideos(const GalleryVideos &videos, JobControl *control = nullptr);

} // namespace qm
