#include "video/ConversionLadder.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace qm {

QSize evenSize(QSize source, double scale)
{
    // Down to even: never a pixel more than the source has.
    auto even = [](double v) { return std::max(2, 2 * int(std::floor(v / 2 + 1e-9))); };
    return {even(source.width() * scale), even(source.height() * scale)};
}

double viewerScale(QSize source)
{
    if (source.isEmpty())
        return 1.0;
    return std::min({1.0, double(kViewerWidth) / source.width(), double(kViewerHeight) / source.height()});
}

int defaultVideoKbps(QSize size, VideoCodec codec, double framesPerSecond)
{
    // Bits per pixel and frame for a clean picture; Spark needs about
    // twice what H.264 does for the same look.
    const double bitsPerPixel = codec == VideoCodec::H264 ? 0.12 : 0.24;
    const double fps = framesPerSecond > 0 ? std::clamp(framesPerSecond, 15.0, 30.0) : 25.0;
    const double kbps = double(size.width()) * size.height() * fps * bitsPerPixel / 1000.0;
    return std::max(100, int(std::lround(kbps / 50.0)) * 50);
}

FrameRate streamFrameRate(const SourceMovie &source)
{
    FrameRate rate{source.frameRateNum, source.frameRateDen};
    if (rate.num <= 0 || rate.den <= 0)
        return {};
    while (rate.value() > 30.5 && rate.den < (1 << 20))
        rate.den *= 2;
    return rate;
}

QList<StreamRung> defaultLadder(const SourceMovie &source, VideoCodec codec)
{
    QList<StreamRung> rungs;
    if (source.frameSize.isEmpty())
        return rungs;
    const double top = viewerScale(source.frameSize);
    const double fps = streamFrameRate(source).value();
    const struct
    {
        const char *name;
        double factor;
    } steps[] = {{"Best", 1.0}, {"Medium", 0.75}, {"Small", 0.5}};
    for (const auto &step : steps) {
        const QSize size = evenSize(source.frameSize, top * step.factor);
        // A tiny source: smaller copies would say nothing new.
        if (!rungs.isEmpty() && (size.width() < 64 || size.height() < 48 || size == rungs.last().size))
            break;
        rungs.append({QString::fromLatin1(step.name), size, defaultVideoKbps(size, codec, fps)});
    }
    return rungs;
}

const QStringList &movieFileExtensions()
{
    // What GStreamer's demuxers read here: ISO (MP4, MOV, 3GP), Matroska and
    // WebM, AVI, MPEG transport and program streams (camcorders, DVDs), ASF
    // (Windows Media), Ogg, DV and FLV.
    static const QStringList kinds{"flv",  "f4v", "mp4", "m4v", "mov", "qt",  "3gp", "3g2", "mkv",
                                   "webm", "avi", "divx", "mts", "m2ts", "m2t", "ts", "mpg", "mpeg",
                                   "mpe",  "m1v", "m2v", "vob", "wmv", "asf", "ogv", "dv",  "mxf"};
    return kinds;
}

const QStringList &soundFileExtensions()
{
    static const QStringList kinds{"m4a", "mp3", "aac", "wav", "flac", "ogg", "oga", "opus", "wma", "aif", "aiff"};
    return kinds;
}

bool hasMovieExtension(const QString &path)
{
    return movieFileExtensions().contains(QFileInfo(path).suffix().toLower());
}

bool hasSoundExtension(const QString &path)
{
    return soundFileExtensions().contains(QFileInfo(path).suffix().toLower());
}

QString movieFileFilter()
{
    QStringList patterns;
    for (const QString &kind : movieFileExtensions())
        patterns << QStringLiteral("*.") + kind << QStringLiteral("*.") + kind.toUpper();
    return patterns.join(QLatin1Char(' '));
}

} // namespace qm
