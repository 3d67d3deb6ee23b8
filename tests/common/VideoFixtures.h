#pragma once

// Movies made by ffmpeg for the tests (and the video benchmark): a test
// pattern with a tone, and FLV files read tag by tag.

#include <QFile>
#include <QImage>
#include <QtEndian>
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

// Writes a display matrix into the first track header ("tkhd") of an ISO
// movie, as a phone does: ffmpeg 5.1 cannot. (a, b, c, d) is the matrix's
// upper part in whole numbers: x' = a x + c y, y' = b x + d y.
inline bool setDisplayMatrix(const QString &path, int a, int b, int c, int d)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = file.readAll();
    const qsizetype at = bytes.indexOf("tkhd");
    if (at < 4)
        return false;
    const qsizetype matrix = at + 4 + (bytes.at(at + 4) == 1 ? 36 : 24) + 16;
    const qint32 values[9] = {a << 16, b << 16, 0, c << 16, d << 16, 0, 0, 0, 1 << 30};
    for (int i = 0; i < 9; ++i)
        qToBigEndian(values[i], bytes.data() + matrix + 4 * i);
    return file.seek(0) && file.write(bytes) == bytes.size();
}

// A movie whose stored picture has a red block in its top left corner and a
// blue one in its top right: where they show tells every turn and mirror.
inline bool makeMarkerMovie(const QString &path, QSize size, double seconds = 1.0,
                            const QStringList &extra = {"-c:v", "libx264", "-pix_fmt", "yuv420p"})
{
    const int w = size.width() / 4, h = size.height() / 4;
    return ffmpeg(QStringList{"-f", "lavfi", "-i",
                              QStringLiteral("color=c=black:s=%1x%2:r=10,drawbox=x=0:y=0:w=%3:h=%4:color=red:t=fill,"
                                             "drawbox=x=%5:y=0:w=%3:h=%4:color=blue:t=fill")
                                  .arg(size.width()).arg(size.height()).arg(w).arg(h).arg(size.width() - w),
                              "-t", QString::number(seconds)}
                  + extra + QStringList{path});
}

// "R" and "B" at the corners where the markers show, "." elsewhere:
// top left, top right, bottom left, bottom right.
inline QString markerCorners(const QImage &image)
{
    if (image.width() < 8 || image.height() < 8)
        return QStringLiteral("none");
    QString corners;
    const int r = 3;
    for (const QPoint p : {QPoint(r, r), QPoint(image.width() - 1 - r, r), QPoint(r, image.height() - 1 - r),
                           QPoint(image.width() - 1 - r, image.height() - 1 - r)}) {
        const QRgb c = image.pixel(p);
        corners += qRed(c) > 150 && qBlue(c) < 100 ? QLatin1Char('R') : qBlue(c) > 150 && qRed(c) < 100 ? QLatin1Char('B')
                                                                                                        : QLatin1Char('.');
    }
    return corners;
}

// The first picture of a movie as ffmpeg decodes it.
inline QImage firstPicture(const QString &movie, const QString &png)
{
    if (!ffmpeg({"-i", movie, "-frames:v", "1", "-update", "1", png}))
        return {};
    return QImage(png);
}

// One tag of an FLV file, as a player reads it.
struct FLVTag
{
    int type = 0;        // 8 sound, 9 picture, 18 script
    qint64 ms = 0;       // its timestamp
    qint64 offset = 0;   // of the tag's first byte in the file
    QByteArray body;
};

inline QList<FLVTag> flvTags(const QByteArray &flv)
{
    QList<FLVTag> tags;
    if (flv.size() < 13 || !flv.startsWith("FLV"))
        return tags;
    auto byte = [&flv](qsizetype at) { return qint64(uchar(flv.at(at))); };
    qsizetype at = (byte(5) << 24 | byte(6) << 16 | byte(7) << 8 | byte(8)) + 4;
    while (at + 11 <= flv.size()) {
        const qint64 size = byte(at + 1) << 16 | byte(at + 2) << 8 | byte(at + 3);
        if (at + 11 + size > flv.size())
            break;
        const qint64 ms = byte(at + 7) << 24 | byte(at + 4) << 16 | byte(at + 5) << 8 | byte(at + 6);
        tags.append({int(byte(at) & 0x1f), ms, at, flv.mid(at + 11, size)});
        at += 11 + size + 4;
    }
    return tags;
}

// The data rates a stream really carries, from its packets: the bytes of
// its pictures and sound over the time from its first to the end of its last
// picture (frames assumed evenly spaced).
struct FLVRates
{
    double videoKbps = 0;
    double audioKbps = 0;
    double seconds = 0;
    int pictures = 0;
};

inline FLVRates measuredRates(const QString &path)
{
    QFile file(path);
    const QList<FLVTag> tags = flvTags(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    qint64 video = 0, audio = 0, first = -1, last = -1;
    FLVRates r;
    for (const FLVTag &t : tags) {
        if (t.type == 8) {
            audio += t.body.size();
        } else if (t.type == 9 && t.body.size() > 1) {
            video += t.body.size();
            // AVC: sequence headers and the closing tag are no pictures.
            if ((t.body.at(0) & 0x0f) == 7 && (t.body.size() < 5 || t.body.at(1) != 1))
                continue;
            first = first < 0 ? t.ms : std::min(first, t.ms);
            last = std::max(last, t.ms);
            ++r.pictures;
        }
    }
    if (r.pictures > 1) {
        r.seconds = (last - first) / 1000.0 * r.pictures / (r.pictures - 1);
        r.videoKbps = video * 8 / 1000.0 / r.seconds;
        r.audioKbps = audio * 8 / 1000.0 / r.seconds;
    }
    return r;
}

} // namespace testing
