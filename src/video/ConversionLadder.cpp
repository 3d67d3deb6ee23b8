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

bool isFLVMovie(const QString &path)
{
    return QFileInfo(path).suffix().compare(QLatin1String("flv"), Qt::CaseInsensitive) == 0;
}

} // namespace qm
