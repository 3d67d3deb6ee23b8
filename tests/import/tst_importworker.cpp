// The photo import worker on real files: names, sizes, the copyright line,
// Stop, damaged sources, full disks, links, camera dates and date forms.

#include "common/FullDisk.h"
#include "common/TestFiles.h"
#include "import/PhotoImportWorker.h"
#include "storage/Common.h"

#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <mutex>

using namespace qm;

namespace {

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
    void dateForms_data();
    void dateForms();
    void cameraDates();

private:
    QString source(const QString &name, QSize size, const char *format = nullptr)
    {
        return testing::picture(m_dir->filePath(name), size, QColor(30, 30, 30), format);
    }
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
    const QStringList files{source("a.jpg", {1600, 1200}), source("b.png", {300, 200}),
                            source("c.tiff", {900, 1200}, "TIFF")};
    PhotoImportWorker worker(files, m_img, settings(true, true));
    worker.setParallelism(2);
    const Run run = runWorker(worker);
    QVERIFY(run.failures.isEmpty());
    QCOMPARE(run.photos.size(), 3);
    // Named by the run's key and the place in the list, counted from one.
    QCOMPARE(worker.timeKey(), timeKey());
    const QString third = photoBaseName(timeKey(), 3);
    QCOMPARE(run.photos[2].index, 2);
    QCOMPARE(QStringList({run.photos[2].imageFile, run.photos[2].smallImageFile, run.photos[2].largeImageFile}),
             QStringList({photoFileName(third), photoSmallFileName(third), photoLargeFileName(third)}));
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
}

void TestImportWorker::stopFinishesThePicturesInHand()
{
    QStringList files;
    for (int i = 0; i < 10; ++i)
        files << source(QStringLiteral("p%1.png").arg(i), {800, 600});
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
    const QStringList files{source("ok1.png", {200, 200}), broken, m_dir->filePath("gone.png"), cut,
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
    const QStringList files{source("x.png", {200, 200})};
    PhotoImportWorker first(files, m_img, settings(false));
    const Run one = runWorker(first);
    const QByteArray before = testing::readBytes(m_img + "/" + one.photos[0].imageFile);
    // Same hundredth of a second (the clock is fixed): the next key is taken.
    PhotoImportWorker second({source("y.png", {300, 300})}, m_img, settings(false));
    QCOMPARE(second.timeKey(), first.timeKey() + 1);
    const Run two = runWorker(second);
    QVERIFY(two.photos[0].imageFile != one.photos[0].imageFile);
    QCOMPARE(testing::readBytes(m_img + "/" + one.photos[0].imageFile), before);
}

void TestImportWorker::titlesAndProgress()
{
    QCOMPARE(importTitle("/a/my.photo.tiff"), QStringLiteral("my.photo"));

    const QStringList files{source("p1.png", {2400, 1800}), source("p2.png", {2400, 1800})};
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

void TestImportWorker::dateForms_data()
{
    QTest::addColumn<QStringList>("dates");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("written"); // 7 March 2008

    QTest::newRow("none") << QStringList{"", "summer", "?"} << "yyyy-MM-dd" << "2008-03-07";
    QTest::newRow("iso") << QStringList{"2001-05-01", "1999-12-31", "May 2001"} << "yyyy-MM-dd" << "2008-03-07";
    QTest::newRow("dotted") << QStringList{"01.05.2001", "31.12.1999", "2000-01-01"} << "dd.MM.yyyy" << "07.03.2008";
    QTest::newRow("dotted, unpadded") << QStringList{"1.5.2001", "31.12.1999", "3.10.2002"} << "d.M.yyyy" << "7.3.2008";
    QTest::newRow("day first") << QStringList{"25/12/2001", "03/04/2002", "05/06/2007"} << "dd/MM/yyyy" << "07/03/2008";
    QTest::newRow("month first") << QStringList{"12/25/2001", "03/04/2002", "5/6/2007", "1/2/2003"} << "M/d/yyyy"
                                 << "3/7/2008";
    QTest::newRow("day month name") << QStringList{"1 May 2001", "31 december 1999", "2000"} << "d MMMM yyyy"
                                    << "7 March 2008";
    QTest::newRow("abbreviated") << QStringList{"1 Jan 2001", "31 Dec 1999"} << "d MMM yyyy" << "7 Mar 2008";
    QTest::newRow("month name first") << QStringList{"May 1, 2001", "December 31, 1999"} << "MMMM d, yyyy"
                                      << "March 7, 2008";
    QTest::newRow("month and year") << QStringList{"May 2001", "December 1999"} << "MMMM yyyy" << "March 2008";
    QTest::newRow("years") << QStringList{"2001", "1999", "2001-05-01"} << "yyyy" << "2008";
    // Impossible dates do not count for their form.
    QTest::newRow("impossible") << QStringList{"31.02.2001", "30.02.2002", "2001-05-01"} << "yyyy-MM-dd" << "2008-03-07";
}

void TestImportWorker::dateForms()
{
    QFETCH(QStringList, dates);
    QFETCH(QString, pattern);
    QFETCH(QString, written);
    const DateForm form = DateForm::mostUsed(dates);
    QCOMPARE(form.pattern(), pattern);
    QCOMPARE(form.format(QDate(2008, 3, 7)), written);
}

void TestImportWorker::cameraDates()
{
    auto withDate = [&](const QString &name, const QString &tag) {
        const QString path = source(name, {640, 480}, "JPEG");
        QProcess p;
        p.start("exiftool", {"-q", "-overwrite_original", tag, path});
        return p.waitForFinished(30000) && p.exitCode() == 0 ? path : QString();
    };
    const QStringList files{withDate("dated.jpg", "-DateTimeOriginal=2008:03:07 14:05:09"),
                            source("undated.png", {640, 480}),
                            withDate("unset.jpg", "-DateTimeOriginal#=0000:00:00 00:00:00")};
    QVERIFY(!files.contains(QString()));

    PhotoImportSettings s = settings(false);
    s.cameraDates = true;
    s.dateForm = DateForm::mostUsed({"1 May 2001"});
    PhotoImportWorker on(files, m_img, s);
    const Run dated = runWorker(on);
    QCOMPARE(dated.photos.size(), 3);
    QCOMPARE(dated.photos[0].date, QStringLiteral("7 March 2008"));
    QVERIFY(dated.photos[1].date.isEmpty());
    QVERIFY(dated.photos[2].date.isEmpty());

    // Off: photos come in as they always did.
    setClockForTesting([] { return qint64(1796558500000); });
    PhotoImportWorker off(files, m_img, settings(false));
    const Run plain = runWorker(off);
    QCOMPARE(plain.photos.size(), 3);
    for (const ImportedPhoto &p : plain.photos)
        QVERIFY(p.date.isNull());
}

QTEST_MAIN(TestImportWorker)
#include "tst_importworker.moc"
