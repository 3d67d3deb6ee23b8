#pragma once

// Shared by the benchmarks: camera-like test photos, timing of outside
// tools, and picture comparison.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <cmath>
#include <cstdio>

namespace bench {

// Smooth light, hard edges and sensor-like noise, so that neither the
// decoder nor the scaler gets an easy picture.
inline QImage cameraLikePhoto(QSize size, int seed)
{
    QImage image(size, QImage::Format_RGB32);
    QRandomGenerator rng(seed);
    const double fx = 0.002 + 0.001 * (seed % 5), fy = 0.003 + 0.0007 * (seed % 3);
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const double v = 0.5 + 0.25 * std::sin(x * fx) + 0.25 * std::cos(y * fy + x * 0.0005);
            const int n = int(rng.bounded(24)) - 12;
            const int r = std::clamp(int(255 * v) + n, 0, 255);
            const int g = std::clamp(int(200 * (1 - v)) + 30 + n, 0, 255);
            const int b = std::clamp(int(120 + 100 * std::sin((x + y) * 0.004)) + n, 0, 255);
            line[x] = qRgb(r, g, b);
        }
    }
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 40; ++i) {
        p.setPen(QPen(QColor::fromHsv(int(rng.bounded(360)), 200, 220), 2 + rng.bounded(12)));
        p.setBrush(i % 3 ? Qt::NoBrush : QBrush(QColor::fromHsv(int(rng.bounded(360)), 120, 160)));
        const int w = 100 + int(rng.bounded(size.width() / 3)), h = 100 + int(rng.bounded(size.height() / 3));
        p.drawEllipse(int(rng.bounded(size.width())), int(rng.bounded(size.height())), w, h);
    }
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(size.height() / 20);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(size.width() / 10, size.height() / 2, QStringLiteral("Quillmere test photo %1").arg(seed));
    p.end();
    return image;
}

// The real program behind a name, skipping wrappers in /usr/local.
inline QString tool(const QString &name)
{
    const QString system = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
    return system.isEmpty() ? QStandardPaths::findExecutable(name) : system;
}

inline bool run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
        return false;
    }
    return true;
}

// Peak signal-to-noise ratio over the RGB channels; the pictures must have one size.
inline double psnr(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 0;
    const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            const int dr = qRed(p[col]) - qRed(q[col]), dg = qGreen(p[col]) - qGreen(q[col]),
                      db = qBlue(p[col]) - qBlue(q[col]);
            sum += dr * dr + dg * dg + db * db;
        }
    }
    const double mse = sum / (3.0 * x.width() * x.height());
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

inline double seconds(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e9;
}

// The reference tools making the same three sizes (150, 800 and 1600 boxes,
// quality 85) of every source into `outDir`/<tool>/<i>_<width>.jpg. Each
// prints its rate and returns its seconds, or 0 when it is not installed.
inline double timeVipsThreeSizes(const QStringList &sources, const QString &outDir)
{
    const QString vips = tool(QStringLiteral("vipsthumbnail"));
    if (vips.isEmpty()) {
        std::printf("vipsthumbnail: not installed\n");
        return 0;
    }
    QDir().mkpath(outDir + "/vips");
    QElapsedTimer t;
    t.start();
    for (qsizetype i = 0; i < sources.size(); ++i) {
        for (const QSize box : {QSize(150, 150), QSize(800, 600), QSize(1600, 1200)})
            run(vips, {sources[i], QStringLiteral("--size=%1x%2").arg(box.width()).arg(box.height()),
                       QStringLiteral("-o"), QStringLiteral("%1/vips/%2_%3.jpg[Q=85]").arg(outDir).arg(i).arg(box.width())});
    }
    const double s = seconds(t);
    std::printf("vipsthumbnail (3 calls):   %6.2f photos/s (%.2f s)\n", sources.size() / s, s);
    return s;
}

inline double timeMagickThreeSizes(const QStringList &sources, const QString &outDir)
{
    const QString magick = tool(QStringLiteral("convert"));
    if (magick.isEmpty()) {
        std::printf("ImageMagick: not installed\n");
        return 0;
    }
    QDir().mkpath(outDir + "/magick");
    QElapsedTimer t;
    t.start();
    for (qsizetype i = 0; i < sources.size(); ++i) {
        const QString out = QStringLiteral("%1/magick/%2_").arg(outDir).arg(i);
        run(magick, {sources[i], "-filter", "Lanczos", "-quality", "85",
                     "(", "+clone", "-resize", "1600x1200", "-write", out + "1600.jpg", "+delete", ")",
                     "(", "+clone", "-resize", "800x600", "-write", out + "800.jpg", "+delete", ")",
                     "-resize", "150x150", out + "150.jpg"});
    }
    const double s = seconds(t);
    std::printf("ImageMagick (1 call):      %6.2f photos/s (%.2f s)\n", sources.size() / s, s);
    return s;
}

} // namespace bench
