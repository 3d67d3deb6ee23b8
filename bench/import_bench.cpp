// Runs the real import worker over camera-sized JPEGs with the large size
// and a copyright line, and the same three sizes with vipsthumbnail and
// ImageMagick. Prints photos per second and the worker's peak memory.

#include "BenchUtil.h"
#include "import/PhotoImportWorker.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>

using namespace qm;

namespace {

long peakResidentMB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The photos are made by a child process, so that making them does not
    // count towards the worker's peak memory.
    if (argc == 4 && QByteArray(argv[1]) == "--generate") {
        QGuiApplication app(argc, argv);
        const int count = atoi(argv[3]);
        for (int i = 0; i < count; ++i)
            bench::cameraLikePhoto({6000, 4000}, i).save(QStringLiteral("%1/photo%2.jpg").arg(argv[2]).arg(i), "JPG", 92);
        return 0;
    }
    QGuiApplication app(argc, argv);
    const int photos = argc > 1 ? std::max(1, atoi(argv[1])) : 24;
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("src"));
    QDir().mkpath(dir.filePath("img"));
    std::printf("generating %d test photos of 6000 x 4000...\n", photos);
    if (!bench::run(QCoreApplication::applicationFilePath(),
                    {"--generate", dir.filePath("src"), QString::number(photos)}))
        return 1;
    QStringList sources;
    for (int i = 0; i < photos; ++i)
        sources << dir.filePath(QStringLiteral("src/photo%1.jpg").arg(i));
    const long before = peakResidentMB();

    PhotoImportSettings settings;
    settings.small = {150, 150};
    settings.normal = {800, 600};
    settings.large = {1600, 1200};
    settings.quality = 85;
    settings.createLarge = true;
    settings.renderCopyright = true;
    settings.copyrightText = QStringLiteral("\u00a9 2026 Quillmere benchmark");
    settings.copyrightFont = QFont(QStringLiteral("DejaVu Sans"), 14);
    settings.copyrightColor = Qt::white;
    PhotoImportWorker worker(sources, dir.filePath("img"), settings);
    int done = 0;
    QObject::connect(&worker, &PhotoImportWorker::photoReady, [&](const ImportedPhoto &) { ++done; });
    QElapsedTimer t;
    t.start();
    worker.run();
    const double ours = bench::seconds(t);
    if (done != photos) {
        std::fprintf(stderr, "only %d of %d photos imported\n", done, photos);
        return 1;
    }
    std::printf("import worker (%d jobs):   %6.2f photos/s (%.2f s), peak resident %ld MB (%ld MB before the run)\n",
                std::clamp(QThread::idealThreadCount(), 1, 4), photos / ours, ours, peakResidentMB(), before);

    const double vipsTime = bench::timeVipsThreeSizes(sources, dir.path());
    const double magickTime = bench::timeMagickThreeSizes(sources, dir.path());
    if (vipsTime > 0)
        std::printf("ratio ours / vips:        %6.2f x\n", vipsTime / ours);
    if (magickTime > 0)
        std::printf("ratio ours / ImageMagick: %6.2f x\n", magickTime / ours);
    return 0;
}
