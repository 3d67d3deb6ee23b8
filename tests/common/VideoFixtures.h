#pragma once

// Movies made by ffmpeg for the tests: a test pattern with a tone.

#include <QProcess>
#include <QSize>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace testing {

inline bool haveFFmpeg()
{
    return !QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty();
}

// Sorenson Spark video with MP3 sound unless `h264` is set (then H.264 with AAC).
inline bool makeFLV(const QString &path, QSize size = {320, 240}, int videoKbps = 400, bool h264 = false,
                    double seconds = 2.0)
{
    QStringList args{"-hide_banner", "-loglevel", "error", "-y",
                     "-f", "lavfi", "-i", QStringLiteral("testsrc=size=%1x%2:rate=15").arg(size.width()).arg(size.height()),
                     "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=22050",
                     "-t", QString::number(seconds)};
    if (h264)
        args << "-c:v" << "libx264" << "-pix_fmt" << "yuv420p" << "-c:a" << "aac";
    else
        args << "-c:v" << "flv1" << "-c:a" << "libmp3lame";
    args << "-b:v" << QStringLiteral("%1k").arg(videoKbps) << "-b:a" << "64k" << path;
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Runs ffmpeg quietly with `args` (inputs, options and the output).
inline bool ffmpeg(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), QStringList{"-hide_banner", "-loglevel", "error", "-y"} + args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
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

} // namespace testing
