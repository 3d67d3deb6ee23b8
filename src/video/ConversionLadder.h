#pragma once

#include "video/Orientation.h"

#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

namespace qm {

enum class VideoCodec {
    H264,  // small files, Flash Player 9.0.115 and later
    Spark, // Sorenson Spark: every Flash player
};

// What a movie holds, as the converter reads it.
struct SourceMovie
{
    QSize frameSize;    // as shown: pixel aspect and rotation applied
    double seconds = 0; // 0 when unknown
    int frameRateNum = 0; // 0 when unknown or variable
    int frameRateDen = 1;
    bool hasVideo = false;
    bool hasAudio = false;
    bool interlaced = false;
    // How the stored picture is turned to be shown (a phone held upright).
    Orientation orientation = Orientation::Upright;
    // The demuxer's part of the stream ids of the tracks converted (the
    // movie, not a cover picture, and the first sound); empty: the first.
    QString videoStreamId;
    QString audioStreamId;
};

// One stream of the ladder: the picture size and its video data rate.
struct StreamRung
{
    QString name;
    QSize size;
    int videoKbps = 0;
};

struct ConversionSettings
{
    VideoCodec codec = VideoCodec::H264;
    QList<StreamRung> rungs; // each becomes one FLV
    int audioKbps = 96;      // AAC with H.264, MP3 with Spark; one encoding serves every stream
    int audioRate = 44100;
};

// The area the gallery's viewer shows a stream in.
constexpr int kViewerWidth = 600;
constexpr int kViewerHeight = 400;

// `source` scaled by `scale`, rounded down to even sides (4:2:0 pictures),
// at least 2 x 2.
QSize evenSize(QSize source, double scale);

// The largest scale at which `source` fits the viewer's area, never above 1.
double viewerScale(QSize source);

// A data rate that gives a clean picture at that size and frame rate,
// rounded to 50 kbit/s.
int defaultVideoKbps(QSize size, VideoCodec codec, double framesPerSecond);

// Three streams (fewer for a tiny source, whose sizes would repeat): the
// best the source allows inside the viewer's area, then three quarters and
// half of it.
QList<StreamRung> defaultLadder(const SourceMovie &source, VideoCodec codec);

// The frame rate the streams get: the source's, halved while above 30
// (phones film at 60). {0, 1} when unknown: timestamps are kept.
struct FrameRate
{
    int num = 0;
    int den = 1;
    double value() const { return num > 0 && den > 0 ? double(num) / den : 0.0; }
};
FrameRate streamFrameRate(const SourceMovie &source);

// The file name extensions, lower case, of the movies the converter reads
// (FLV among them), and of sound files, which hold no picture.
const QStringList &movieFileExtensions();
const QStringList &soundFileExtensions();
bool hasMovieExtension(const QString &path);
bool hasSoundExtension(const QString &path);
// "*.mp4 *.MP4 ...": a file dialog's filter for the movies.
QString movieFileFilter();

} // namespace qm
