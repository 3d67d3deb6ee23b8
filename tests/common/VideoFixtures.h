#pragma once

// Movies made by ffmpeg for the tests: a test pattern with a tone.

#include <QImage>
#include <QProcess>
#include <QSet>
#include <QSize>
#include <QString>
#include <QStringList>

namespace testing {

// Runs ffmpeg quietly with `args` (inputs, options and the output).
inline bool ffmpeg(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), QStringList{"-hide_banner", "-loglevel", "error", "-y"} + args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Sorenson Spark video with MP3 sound unless `h264` is set (then H.264 with
// AAC); `extra` output options take away a track or the metadata.
inline bool makeFLV(const QString &path, QSize size = {320, 240}, int videoKbps = 400, bool h264 = false,
                    double seconds = 2.0, const QStringList &extra = {})
{
    QStringList args{"-f", "lavfi", "-i", QStringLiteral("testsrc=size=%1x%2:rate=15").arg(size.width()).arg(size.height()),
                     "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=22050", "-t", QString::number(seconds)};
    if (h264)
        args << "-c:v" << "libx264" << "-pix_fmt" << "yuv420p" << "-c:a" << "aac";
    else
        args << "-c:v" << "flv1" << "-c:a" << "libmp3lame";
    return ffmpeg(args << "-b:v" << QStringLiteral("%1k").arg(videoKbps) << "-b:a" << "64k" << extra << path);
}

// A camera-like movie of any container ffmpeg knows by the extension:
// H.264 with AAC sound (or none), plus whatever `extra` options say.
inline bool makeMovie(const QString &path, QSize size, double seconds, bool sound, const QStringList &extra = {},
                      int rate = 25)
{
    QStringList args{"-f", "lavfi", "-i",
                     QStringLiteral("testsrc2=size=%1x%2:rate=%3").arg(size.width()).arg(size.height()).arg(rate)};
    if (sound)
        args << "-f" << "lavfi" << "-i" << "sine=frequency=330:sample_rate=48000";
    args << "-t" << QString::number(seconds) << "-c:v" << "libx264" << "-preset" << "ultrafast" << "-pix_fmt"
         << "yuv420p";
    args << (sound ? QStringList{"-c:a", "aac"} : QStringList{"-an"}) << extra << path;
    return ffmpeg(args);
}

// Average grey and the number of clearly different colours, every 4th pixel:
// a frame of the test pattern has many, a blank or black one few.
struct Look
{
    double brightness = 0;
    int colours = 0;
};
inline Look look(const QImage &image)
{
    QSet<QRgb> seen;
    double sum = 0;
    int n = 0;
    for (int y = 0; y < image.height(); y += 4) {
        for (int x = 0; x < image.width(); x += 4, ++n) {
            sum += qGray(image.pixel(x, y));
            seen.insert(image.pixel(x, y) & 0xC0C0C0);
        }
    }
    return {n ? sum / n : 0, int(seen.size())};
}

} // namespace testing
