// Writes each of 12 camera-sized photos at three sizes through ImageProc,
// decoding each source once, and does the same with vipsthumbnail and
// ImageMagick when they are installed.

#include "BenchUtil.h"
#include "imaging/ImageProc.h"

#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QtConcurrent>

using namespace qm;

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen"); // text drawing needs a GUI application, not a screen
    QGuiApplication app(argc, argv);
    const int photos = argc > 1 ? std::max(1, atoi(argv[1])) : 12;
    const QList<QSize> boxes{{150, 150}, {800, 600}, {1600, 1200}};
    const float quality = 0.85f;
    QTemporaryDir dir;
    QStringList sources;
    std::printf("generating %d test photos of 6000 x 4000...\n", photos);
    QtConcurrent::blockingMap(QList<int>(photos), [](int) {}); // warm the pool
    for (int i = 0; i < photos; ++i) {
        const QString path = dir.filePath(QStringLiteral("photo%1.jpg").arg(i));
        bench::cameraLikePhoto({6000, 4000}, i).save(path, "JPG", 92);
        sources << path;
    }
    QDir().mkpath(dir.filePath("ours"));

    auto ours = [&](int i) {
        const Picture picture = ImageProc::loadPicture(sources[i], boxes);
        for (const QSize &box : boxes)
            ImageProc::scaleImageAndSaveAsJPEG(picture, box.width(), box.height(), quality,
                                               dir.filePath(QStringLiteral("ours/%1_%2.jpg").arg(i).arg(box.width())));
    };
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < photos; ++i)
        ours(i);
    const double oursOne = bench::seconds(t);
    QList<int> indexes;
    for (int i = 0; i < photos; ++i)
        indexes << i;
    t.restart();
    QtConcurrent::blockingMap(indexes, ours);
    const double oursAll = bench::seconds(t);
    std::printf("ImageProc, one thread:     %6.2f photos/s (%.2f s)\n", photos / oursOne, oursOne);
    std::printf("ImageProc, %d threads:      %6.2f photos/s (%.2f s)\n", QThread::idealThreadCount(), photos / oursAll,
                oursAll);

    const double vipsTime = bench::timeVipsThreeSizes(sources, dir.path());
    const double magickTime = bench::timeMagickThreeSizes(sources, dir.path());

    std::printf("ratio ours (%d threads) / vips:        %5.2f x\n", QThread::idealThreadCount(),
                vipsTime > 0 ? vipsTime / oursAll : 0.0);
    std::printf("ratio ours (one thread) / vips:       %5.2f x\n", vipsTime > 0 ? vipsTime / oursOne : 0.0);
    std::printf("ratio ours (%d threads) / ImageMagick: %5.2f x\n", QThread::idealThreadCount(),
                magickTime > 0 ? magickTime / oursAll : 0.0);
    if (magickTime > 0) {
        double worst = 99, sum = 0;
        for (int i = 0; i < photos; ++i) {
            const QImage a(dir.filePath(QStringLiteral("ours/%1_800.jpg").arg(i)));
            const QImage b(dir.filePath(QStringLiteral("magick/%1_800.jpg").arg(i)));
            const double v = bench::psnr(a, b);
            worst = std::min(worst, v);
            sum += v;
        }
        std::printf("PSNR of our 800 x 600 against ImageMagick Lanczos: mean %.1f dB, worst %.1f dB\n",
                    sum / photos, worst);
    }
    return 0;
}
