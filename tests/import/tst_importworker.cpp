#include "imaging/ImageProc.h"
#include "import/PhotoImportWorker.h"
#include "storage/Common.h"

#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <mutex>

using namespace qm;

namespace {

QImage picture(QSize size, QColor colour = QColor(30, 30, 30))
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// Bright pixels in the lower right corner: where a white copyright line goes.
bool stamped(const QString &path)
{
    const QImage image(path);
    for (int y = image.height() * 2 / 3; y < image.height(); ++y)
        for (int x = image.width() / 3; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) > 160)
                return true;
    return false;
}

struct Run
{
    QList<ImportedPhoto> photos;
    QList<ImportFailure> failures;
    QList<int> steps;
    bool stopped = false;
};

Run runWorker(PhotoImportWorker &worker, int stopAfter = -1)
{
    Run r;
    QObject::connect(&worker, &PhotoImportWorker::photoReady, [&](const ImportedPhoto &p) {
        r.photos << p;
        if (int(r.photos.size()) == stopAfter)
            worker.stop();
    });
    // Steps are reported from the threads that write.
    auto lock = std::make_shared<std::mutex>();
    QObject::connect(&worker, &PhotoImportWorker::stepsDone, [&r, lock](int s) {
        std::lock_guard guard(*lock);
        r.steps << s;
    });
    QObject::connect(&worker, &PhotoImportWorker::finished, [&](const QList<ImportFailure> &f, bool stopped) {
        r.failures = f;
        r.stopped = stopped;
    });
    worker.run();
    return r;
}

} // namespace

class TestImportWorker : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup() { setClockForTesting(nullptr); }
    void importsEveryKindOfPicture();
    void largeSizeAndCopyrightChoices();
    void stopFinishesThePicturesInHand();
    void unreadableFilesAreLeftOut();
    void existingPhotosAreNeverReplaced();
    void titlesAndProgress();

private:
    QString source(const QString &name, const QImage &image, const char *format = nullptr);
    PhotoImportSettings settings(bool large = true, bool copyright = false) const;
    QStringList imgFiles() const { return QDir(m_img).entryList(QDir::Files, QDir::Name); }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_img;
};

void TestImportWorker::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_img = m_dir->filePath("img");
    QDir().mkpath(m_img);
    // 2026-12-06 12:00:00 UTC, fixed.
    setClockForTesting([] { return qint64(1796558400000); });
}

QString TestImportWorker::source(const QString &name, const QImage &image, const char *format)
{
    const QString path = m_dir->filePath(name);
    image.save(path, format);
    return path;
}

PhotoImportSettings TestImportWorker::settings(bool large, bool copyright) const
{
    PhotoImportSettings s;
    s.small = {100, 100};
    s.normal = {400, 300};
    s.large = {800, 600};
    s.quality = 85;
    s.createLarge = large;
    s.renderCopyright = copyright;
    if (copyright) {
        s.copyrightText = QStringLiteral("\u00a9 Test");
        s.copyrightFont = QFont(QStringLiteral("DejaVu Sans"), 14);
        s.copyrightColor = Qt::white;
    }
    return s;
}

void TestImportWorker::importsEveryKindOfPicture()
{
    QImage alpha(1200, 900, QImage::Format_ARGB32);
    alpha.fill(Qt::transparent);
    QImage sideways = picture({1000, 500});
    QByteArray exif;
    {
        QBuffer b(&exif);
        b.open(QIODevice::WriteOnly);
        sideways.save(&b, "JPG");
    }
    // Orientation 6: the camera was turned; the picture is 500 wide upright.
    QByteArray tag("Exif\0\0MM\0\x2A\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 32);
    QByteArray seg("\xFF\xE1", 2);
    seg += char(0);
    seg += char(tag.size() + 2);
    const QString rotated = m_dir->filePath("turned.jpg");
    QFile f(rotated);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(exif.left(2) + seg + tag + exif.mid(2));
    f.close();

    const QStringList files{source("a.jpg", picture({1600, 1200})), source("b.png", picture({300, 200})),
                            source("c.tiff", picture({900, 1200}), "TIFF"), source("d.png", alpha), rotated};
    PhotoImportWorker worker(files, m_img, settings());
    worker.setParallelism(2);
    const Run run = runWorker(worker);
    QVERIFY(run.failures.isEmpty());
    QCOMPARE(run.photos.size(), 5);
    const QString key = timeKeyString(worker.timeKey());
    QCOMPARE(key, timeKeyString(timeKey()));
    for (int i = 0; i < 5; ++i) {
        const ImportedPhoto &p = run.photos[i];
        QCOMPARE(p.index, i);
        const QString base = QStringLiteral("%1_%2").arg(key, Common::paddedStringFromNumber(i + 1, 4));
        QCOMPARE(p.imageFile, "img_" + base + ".jpg");
        QCOMPARE(p.smallImageFile, "img_" + base + "_sm.jpg");
        QCOMPARE(p.largeImageFile, "img_" + base + "_lg.jpg");
    }
    QCOMPARE(imgFiles().size(), 15);
    auto size = [&](const QString &name) { return QImageReader(m_img + "/" + name).size(); };
    QCOMPARE(size(run.photos[0].smallImageFile), QSize(100, 75));
    QCOMPARE(size(run.photos[0].imageFile), QSize(400, 300));
    QCOMPARE(size(run.photos[0].largeImageFile), QSize(800, 600));
    QCOMPARE(size(run.photos[1].largeImageFile), QSize(300, 200)); // never enlarged
    QCOMPARE(size(run.photos[2].imageFile), QSize(225, 300));
    QCOMPARE(size(run.photos[4].imageFile), QSize(150, 300)); // upright
    QVERIFY(qGray(QImage(m_img + "/" + run.photos[3].imageFile).pixel(10, 10)) > 245); // transparent on white
}

void TestImportWorker::largeSizeAndCopyrightChoices()
{
    const QStringList files{source("dark.jpg", picture({1600, 1200}, Qt::black))};
    PhotoImportWorker stampedRun(files, m_img, settings(true, true));
    Run run = runWorker(stampedRun);
    QCOMPARE(run.photos.size(), 1);
    QVERIFY(stamped(m_img + "/" + run.photos[0].imageFile));
    QVERIFY(stamped(m_img + "/" + run.photos[0].largeImageFile));
    QVERIFY(!stamped(m_img + "/" + run.photos[0].smallImageFile));

    setClockForTesting([] { return qint64(1796558500000); });
    PhotoImportWorker plain(files, m_img, settings(false, false));
    run = runWorker(plain);
    QVERIFY(run.photos[0].largeImageFile.isNull());
    QVERIFY(!stamped(m_img + "/" + run.photos[0].imageFile));
    QCOMPARE(imgFiles().size(), 5);
}

void TestImportWorker::stopFinishesThePicturesInHand()
{
    QStringList files;
    for (int i = 0; i < 10; ++i)
        files << source(QStringLiteral("p%1.png").arg(i), picture({800, 600}));
    {
        PhotoImportWorker worker(files, m_img, settings());
        worker.setParallelism(1);
        const Run run = runWorker(worker, 1);
        QVERIFY(run.stopped);
        QCOMPARE(run.photos.size(), 1);
        QCOMPARE(imgFiles().size(), 3);
    }
    // With several files in hand, each one that is reported has all its files,
    // and nothing else is left in the folder.
    setClockForTesting([] { return qint64(1796558600000); });
    PhotoImportWorker worker(files, m_img, settings());
    worker.setParallelism(3);
    const Run run = runWorker(worker, 2);
    QVERIFY(run.stopped);
    QVERIFY(run.photos.size() >= 2 && run.photos.size() <= 4);
    QCOMPARE(imgFiles().size(), 3 + 3 * int(run.photos.size()));
    for (const ImportedPhoto &p : run.photos)
        QVERIFY(QFile::exists(m_img + "/" + p.largeImageFile));
}

void TestImportWorker::unreadableFilesAreLeftOut()
{
    const QString broken = m_dir->filePath("broken.jpg");
    QFile f(broken);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("\xFF\xD8 not really");
    f.close();
    const QStringList files{source("ok1.png", picture({200, 200})), broken, m_dir->filePath("gone.png"),
                            source("ok2.png", picture({200, 200}))};
    PhotoImportWorker worker(files, m_img, settings());
    const Run run = runWorker(worker);
    QCOMPARE(run.photos.size(), 2);
    QCOMPARE(run.photos[0].title, QStringLiteral("ok1"));
    QCOMPARE(run.photos[1].title, QStringLiteral("ok2"));
    QCOMPARE(run.photos[1].index, 3); // names follow the list, gaps and all
    QCOMPARE(run.failures.size(), 2);
    QCOMPARE(run.failures[0].path, broken);
    QVERIFY(!run.failures[0].reason.isEmpty());
    QCOMPARE(imgFiles().size(), 6); // nothing of the two that failed

    // A folder that cannot take files: nothing half-written is left, all reported.
    PhotoImportWorker nowhere({files[0]}, m_dir->filePath("no-such-folder"), settings());
    const Run failed = runWorker(nowhere);
    QVERIFY(failed.photos.isEmpty());
    QCOMPARE(failed.failures.size(), 1);
}

void TestImportWorker::existingPhotosAreNeverReplaced()
{
    const QStringList files{source("x.png", picture({200, 200}))};
    PhotoImportWorker first(files, m_img, settings(false));
    const Run one = runWorker(first);
    const QByteArray before = [&] {
        QFile f(m_img + "/" + one.photos[0].imageFile);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    // Same hundredth of a second (the clock is fixed): the next key is taken.
    PhotoImportWorker second({source("y.png", picture({300, 300}, Qt::red))}, m_img, settings(false));
    QCOMPARE(second.timeKey(), first.timeKey() + 1);
    const Run two = runWorker(second);
    QVERIFY(two.photos[0].imageFile != one.photos[0].imageFile);
    QFile f(m_img + "/" + one.photos[0].imageFile);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), before);
}

void TestImportWorker::titlesAndProgress()
{
    QCOMPARE(importTitle("/a/IMG_0042.JPG"), QStringLiteral("IMG_0042"));
    QCOMPARE(importTitle("/a/my.photo.tiff"), QStringLiteral("my.photo"));
    QCOMPARE(importTitle("/a/.hidden"), QStringLiteral(".hidden"));
    QCOMPARE(photoBaseName(0x1a2b3c4d5eULL, 12), QStringLiteral("1a2b3c4d5e_0012"));
    QCOMPARE(photoBaseName(0x1a2b3c4d5eULL, 10000), QStringLiteral("1a2b3c4d5e_10000"));

    const QStringList files{source("p1.png", picture({2400, 1800})), source("p2.png", picture({2400, 1800}))};
    PhotoImportWorker worker(files, m_img, settings(false));
    worker.setParallelism(1);
    const Run run = runWorker(worker);
    // One step per size written, up to steps per file x files.
    QCOMPARE(run.steps, (QList<int>{1, 2, 3, 4}));
    // An empty list ends at once.
    PhotoImportWorker empty({}, m_img, settings());
    const Run none = runWorker(empty);
    QVERIFY(none.photos.isEmpty() && none.failures.isEmpty() && !none.stopped);
}

QTEST_MAIN(TestImportWorker)
#include "tst_importworker.moc"
