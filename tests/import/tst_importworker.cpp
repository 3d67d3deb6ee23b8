#include "common/FullDisk.h"
#include "common/TestFiles.h"
#include "imaging/ImageProc.h"
#include "import/PhotoImportWorker.h"
#include "storage/Common.h"

#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QPainter>
#include <QRandomGenerator>
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
    void stopFinishesThePicturesInHand();
    void damagedSourcesAndFullDisks();
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
    // Orientation and transparency are the decoder's (see the imaging tests).
    const QStringList files{source("a.jpg", picture({1600, 1200})), source("b.png", picture({300, 200})),
                            source("c.tiff", picture({900, 1200}), "TIFF")};
    PhotoImportWorker worker(files, m_img, settings(true, true));
    worker.setParallelism(2);
    Run run = runWorker(worker);
    QVERIFY(run.failures.isEmpty());
    QCOMPARE(run.photos.size(), 3);
    const QString key = timeKeyString(worker.timeKey());
    QCOMPARE(key, timeKeyString(timeKey()));
    for (int i = 0; i < 3; ++i) {
        const ImportedPhoto &p = run.photos[i];
        QCOMPARE(p.index, i);
        const QString base = QStringLiteral("%1_%2").arg(key, Common::paddedStringFromNumber(i + 1, 4));
        QCOMPARE(p.imageFile, "img_" + base + ".jpg");
        QCOMPARE(p.smallImageFile, "img_" + base + "_sm.jpg");
        QCOMPARE(p.largeImageFile, "img_" + base + "_lg.jpg");
    }
    QCOMPARE(imgFiles().size(), 9);
    auto size = [&](const QString &name) { return QImageReader(m_img + "/" + name).size(); };
    QCOMPARE(size(run.photos[0].smallImageFile), QSize(100, 75));
    QCOMPARE(size(run.photos[0].imageFile), QSize(400, 300));
    QCOMPARE(size(run.photos[0].largeImageFile), QSize(800, 600));
    QCOMPARE(size(run.photos[1].largeImageFile), QSize(300, 200)); // never enlarged
    QCOMPARE(size(run.photos[2].imageFile), QSize(225, 300));
    QVERIFY(stamped(m_img + "/" + run.photos[0].imageFile));
    QVERIFY(stamped(m_img + "/" + run.photos[0].largeImageFile));
    QVERIFY(!stamped(m_img + "/" + run.photos[0].smallImageFile));

    // Neither the large size nor the copyright line.
    setClockForTesting([] { return qint64(1796558500000); });
    PhotoImportWorker plain({files[0]}, m_img, settings(false, false));
    run = runWorker(plain);
    QVERIFY(run.photos[0].largeImageFile.isNull());
    QVERIFY(!stamped(m_img + "/" + run.photos[0].imageFile));
    QCOMPARE(imgFiles().size(), 11);
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

void TestImportWorker::damagedSourcesAndFullDisks()
{
    // Noise: every size of it makes a file of some kilobytes.
    QImage noise(800, 600, QImage::Format_RGB32);
    QRandomGenerator(5).fillRange(reinterpret_cast<quint32 *>(noise.bits()), noise.sizeInBytes() / 4);
    QByteArray jpeg;
    {
        QBuffer b(&jpeg);
        b.open(QIODevice::WriteOnly);
        noise.save(&b, "JPG", 90);
    }
    const QString broken = m_dir->filePath("broken.jpg");
    const QString cut = m_dir->filePath("cut.jpg");
    const QString trailing = m_dir->filePath("trailing.jpg");
    QVERIFY(testing::writeBytes(broken, "\xFF\xD8 not really"));
    QVERIFY(testing::writeBytes(cut, jpeg.left(jpeg.size() * 6 / 10)));
    QVERIFY(testing::writeBytes(trailing, jpeg + "harmless bytes after the end"));
    const QStringList files{source("ok1.png", picture({200, 200})), broken, m_dir->filePath("gone.png"), cut,
                            trailing};
    PhotoImportWorker worker(files, m_img, settings());
    const Run run = runWorker(worker);
    QCOMPARE(run.photos.size(), 2);
    QCOMPARE(run.photos[0].title, QStringLiteral("ok1"));
    QCOMPARE(run.photos[1].title, QStringLiteral("trailing"));
    QCOMPARE(run.photos[1].index, 4); // names follow the list, gaps and all
    QStringList failures;
    for (const ImportFailure &f : run.failures)
        failures << QFileInfo(f.path).fileName() + ": " + f.reason;
    QCOMPARE(failures, (QStringList{"broken.jpg: the file ends before its picture does: it was cut short, perhaps "
                                    "by an interrupted copy",
                                    "gone.png: No such file or directory",
                                    "cut.jpg: the file ends before its picture does: it was cut short, perhaps by "
                                    "an interrupted copy"}));
    QCOMPARE(imgFiles().size(), 6); // nothing of the three that failed

    // A disk that takes the small file but not the normal one: the photo is
    // reported with the system's reason, and none of its files is left.
    setClockForTesting([] { return qint64(1796558700000); });
    const QStringList before = imgFiles();
    const QString result = testing::withFileSizeLimit(8 * 1024, [&] {
        PhotoImportWorker full({trailing}, m_img, settings());
        const Run r = runWorker(full);
        return QStringLiteral("%1 %2").arg(r.photos.size()).arg(r.failures.value(0).reason);
    });
    QVERIFY2(result.startsWith("0 ") && result.endsWith(".jpg could not be written: File too large"),
             qPrintable(result));
    QCOMPARE(QDir(m_img).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name), before);

    // A link where a photo's file would go is not written through: the run takes other names.
    QTemporaryDir outside;
    QVERIFY(testing::writeBytes(outside.filePath("mine.jpg"), "precious"));
    QVERIFY(QFile::link(outside.filePath("mine.jpg"), m_img + "/" + photoSmallFileName(photoBaseName(timeKey(), 1))));
    PhotoImportWorker linked({trailing}, m_img, settings());
    QCOMPARE(runWorker(linked).photos.size(), 1);
    QCOMPARE(testing::readBytes(outside.filePath("mine.jpg")), QByteArray("precious"));
}

void TestImportWorker::existingPhotosAreNeverReplaced()
{
    const QStringList files{source("x.png", picture({200, 200}))};
    PhotoImportWorker first(files, m_img, settings(false));
    const Run one = runWorker(first);
    const QByteArray before = testing::readBytes(m_img + "/" + one.photos[0].imageFile);
    // Same hundredth of a second (the clock is fixed): the next key is taken.
    PhotoImportWorker second({source("y.png", picture({300, 300}, Qt::red))}, m_img, settings(false));
    QCOMPARE(second.timeKey(), first.timeKey() + 1);
    const Run two = runWorker(second);
    QVERIFY(two.photos[0].imageFile != one.photos[0].imageFile);
    QCOMPARE(testing::readBytes(m_img + "/" + one.photos[0].imageFile), before);
}

void TestImportWorker::titlesAndProgress()
{
    QCOMPARE(importTitle("/a/IMG_0042.JPG"), QStringLiteral("IMG_0042"));
    QCOMPARE(importTitle("/a/my.photo.tiff"), QStringLiteral("my.photo"));
    QCOMPARE(importTitle("/a/.hidden"), QStringLiteral(".hidden"));

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
