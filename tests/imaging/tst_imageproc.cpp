// Picture checks, the JPEG size reader, decoding damaged files, scaling and
// stamping, and camera dates, on files made by other tools.

#include "common/FullDisk.h"
#include "common/GalleryFixture.h"
#include "imaging/ExifDate.h"
#include "imaging/ImageProc.h"
#include "imaging/JpegTransform.h"
#include "mainwindow/NodeThumbnail.h"
#include "storage/Common.h"

#include <QColorSpace>
#include <QElapsedTimer>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QtTest>

#include <time.h>

using namespace qm;
using testing::readBytes;
using testing::writeBytes;

namespace {

// ImageMagick, as photos come from other programs.
bool convert(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("convert"), args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}


QByteArray segment(uchar code, const QByteArray &payload)
{
    QByteArray s;
    s += char(0xFF);
    s += char(code);
    const int length = int(payload.size()) + 2;
    s += char(length >> 8);
    s += char(length & 0xFF);
    return s + payload;
}

// A frame header claiming the size, after `before` other segments.
QByteArray handMadeJPEG(int before, int width, int height)
{
    QByteArray b("\xFF\xD8", 2);
    for (int i = 0; i < before; ++i)
        b += segment(0xE1, QByteArray(3, 'x'));
    QByteArray sof;
    sof += char(8);
    sof += char(height >> 8);
    sof += char(height & 0xFF);
    sof += char(width >> 8);
    sof += char(width & 0xFF);
    sof += QByteArray("\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01", 10);
    return b + segment(0xC0, sof);
}

// A camera-like source: gradients and detail, not flat colour.
QImage pattern(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = qRgb((x * 255) / size.width(), (y * 255) / size.height(), ((x / 7 + y / 5) % 2) * 200);
    }
    return image;
}

// The bounding box of the pixels that differ clearly from the background.
QRect brightArea(const QImage &image, int threshold = 128)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) > threshold)
                box = box.united(QRect(x, y, 1, 1));
        }
    }
    return box;
}

} // namespace

class TestImageProc : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void imageFileCheck();
    void jpegSizes();
    void damagedFiles();
    void damagedFiles_data();
    void thumbnailsWholeOrNotAtAll();
    void scaledFiles_data();
    void scaledFiles();
    void qualityAndFailures();
    void copyrightPlacement();
    void sourcesComeOutUpright();
    void cameraDates();
    void losslessTurns();

private:
    QTemporaryDir m_dir;
};

void TestImageProc::initTestCase()
{
    // A photo-like picture of 1920 x 1080 in every form a source comes in.
    // In this progressive one, a walk past the start of scan meets 0xC0.
    const QString photo = m_dir.filePath("photo.jpg");
    const QStringList plasma{"-size", "1920x1080", "-seed", "22", "plasma:fractal", "-quality", "95"};
    QVERIFY2(convert(plasma + QStringList{photo}), "ImageMagick's convert is needed");
    QVERIFY(convert(plasma + QStringList{"-interlace", "JPEG", m_dir.filePath("progressive.jpg")}));
    QVERIFY(convert({photo, m_dir.filePath("photo.png")}));
    QVERIFY(convert({photo, "-compress", "lzw", m_dir.filePath("photo.tif")}));
}

void TestImageProc::imageFileCheck()
{
    for (const char *name : {"Photo.JPG", "a.Tiff", "b.PNG", "archive.tar.png", "d.jpeg", "e.tif", "c.jpe", "d.gif",
                             "e.bmp", "noextension"})
        QVERIFY(writeBytes(m_dir.filePath(name), "x"));
    QDir().mkpath(m_dir.filePath("holiday.jpg"));
    for (const char *name : {"Photo.JPG", "a.Tiff", "b.PNG", "archive.tar.png", "d.jpeg", "e.tif"})
        QVERIFY2(Common::isValidImageFile(m_dir.filePath(name)), name);
    for (const char *name : {"c.jpe", "d.gif", "e.bmp", "noextension", "holiday.jpg", "missing.jpg"})
        QVERIFY2(!Common::isValidImageFile(m_dir.filePath(name)), name);
}

void TestImageProc::jpegSizes()
{
    QCOMPARE(ImageProc::sizeOfJPEG(m_dir.filePath("photo.jpg")), QSize(1920, 1080));
    // Only 0xC0 counts, and the walk stops where the compressed data begin:
    // a progressive photo has no size here, rather than one read from noise.
    QCOMPARE(ImageProc::sizeOfJPEG(m_dir.filePath("progressive.jpg")), QSize(0, 0));
    const QString path = m_dir.filePath("size.jpg");

    // A frame header after an APP0.
    QVERIFY(writeBytes(path, QByteArray("\xFF\xD8", 2) + segment(0xE0, QByteArray(14, '\0')) + handMadeJPEG(0, 513, 258).mid(2)));
    QCOMPARE(ImageProc::sizeOfJPEG(path), QSize(513, 258));

    // At most 40 markers: 39 segments before the frame are fine, 40 are not.
    QVERIFY(writeBytes(path, handMadeJPEG(39, 640, 480)));
    QCOMPARE(ImageProc::sizeOfJPEG(path), QSize(640, 480));
    QVERIFY(writeBytes(path, handMadeJPEG(40, 640, 480)));
    QCOMPARE(ImageProc::sizeOfJPEG(path), QSize(0, 0));

    QCOMPARE(ImageProc::sizeOfJPEG(m_dir.path()), QSize(0, 0));
}

void TestImageProc::damagedFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason"); // part of the reason given; "" when it decodes
    const QByteArray photo = readBytes(m_dir.filePath("photo.jpg"));
    const QByteArray cut = "the file ends before its picture does";
    for (const char *name : {"photo.jpg", "progressive.jpg", "photo.png", "photo.tif"}) {
        const QByteArray whole = readBytes(m_dir.filePath(name));
        QTest::addRow("%s cut at 60%%", name) << whole.left(whole.size() * 6 / 10) << QString(cut);
    }
    QTest::newRow("bytes after the end") << photo + QByteArray(100, 'x') << "";
    QTest::newRow("a made-up segment") << photo.left(2) + segment(0xEB, "Quillmere test") + photo.mid(2) << "";
    QTest::newRow("text") << QByteArray("this is not a picture at all") << "not a picture Quillmere can read";
    QTest::newRow("empty") << QByteArray() << "the file is empty";
    const QByteArray header = handMadeJPEG(2, 640, 480);
    for (int at : {2, 3, 5, 8, int(header.size()) - 4, int(header.size())})
        QTest::addRow("header cut at %d", at) << header.left(at) << QString(cut);
    QTest::newRow("length past the end") << QByteArray("\xFF\xD8\xFF\xE1\xFF\xF0xx", 8) << QString(cut);
    QTest::newRow("zero-length segments") << QByteArray("\xFF\xD8", 2) + QByteArray(400, '\0') << QString(cut);
}

void TestImageProc::damagedFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    const QString path = m_dir.filePath(QStringLiteral("damaged.%1").arg(bytes.startsWith("\x89PNG") ? "png" : "jpg"));
    QVERIFY(writeBytes(path, bytes));
    QElapsedTimer clock;
    clock.start();
    ImageProc::sizeOfJPEG(path); // returns, and soon
    QString why;
    const Picture picture = ImageProc::loadPicture(path, {QSize(100, 100)}, &why);
    if (reason.isEmpty()) {
        QVERIFY2(!picture.isNull(), qPrintable(why));
        QCOMPARE(picture.size, QSize(1920, 1080));
        return;
    }
    QVERIFY(picture.isNull());
    QVERIFY2(why.contains(reason), qPrintable(why));
    // Nothing is written for it, and an old file stays as it was.
    const QString out = m_dir.filePath("damaged-out.jpg");
    QVERIFY(writeBytes(out, "old"));
    QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("Could not load '%1'").arg(path)));
    QString scaleWhy;
    QVERIFY(!ImageProc::scaleAndSaveAsJPEG(path, 100, 100, 0.8f, out, &scaleWhy));
    QCOMPARE(scaleWhy, why);
    QCOMPARE(readBytes(out), QByteArray("old"));
    QVERIFY(clock.elapsed() < 5000);
}

void TestImageProc::thumbnailsWholeOrNotAtAll()
{
    testing::GalleryFixture f;
    const QString source = m_dir.filePath("photo.jpg");
    // With a thumbnail name, and without.
    auto named = f.album("named"), fresh = f.album("fresh");
    named->setThumbFile(QStringLiteral("albthumb_1.jpg"));
    QVERIFY(writeBytes(f.img("albthumb_1.jpg"), "old thumbnail"));
    f.ready();

    // What the wells do off the GUI thread, here in one go.
    auto make = [&](TreeNode &node) {
        QString why;
        const QByteArray jpeg = ImageProc::scaleToJPEG(source, 60, 40, 80.0f, &why);
        return jpeg.isEmpty() ? WriteResult{source, why} : f.gallery.setNodeThumbnail(&node, jpeg);
    };
    // A disk that takes no more than 100 bytes of a file: the old picture
    // stays, a fresh name is not taken, the reason is the system's.
    const QString result = testing::withFileSizeLimit(100, [&] {
        const WriteResult a = make(*named);
        const WriteResult b = make(*fresh);
        return QStringLiteral("%1 %2 %3 %4 %5").arg(a.ok()).arg(a.reason).arg(b.ok()).arg(b.reason).arg(fresh->thumbFile().isNull());
    });
    QCOMPARE(result, QStringLiteral("0 File too large 0 File too large 1"));
    QCOMPARE(readBytes(f.img("albthumb_1.jpg")), QByteArray("old thumbnail"));
    QCOMPARE(f.imgFiles(), QStringList{"albthumb_1.jpg"});
    // With room, the same call writes it.
    QVERIFY(make(*named).ok());
    QCOMPARE(QImageReader(f.img("albthumb_1.jpg")).size(), QSize(60, 33));
}

void TestImageProc::scaledFiles_data()
{
    QTest::addColumn<QSize>("source");
    QTest::addColumn<QSize>("box");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("landscape") << QSize(3000, 2000) << QSize(640, 480) << QSize(640, 426);
    QTest::newRow("portrait") << QSize(2000, 3000) << QSize(640, 480) << QSize(320, 480);
    QTest::newRow("truncated, not rounded") << QSize(641, 480) << QSize(640, 480) << QSize(640, 479);
    QTest::newRow("equal ratios") << QSize(1600, 1200) << QSize(800, 600) << QSize(800, 600);
    QTest::newRow("fits exactly") << QSize(640, 480) << QSize(640, 480) << QSize(640, 480);
    QTest::newRow("never enlarged") << QSize(100, 50) << QSize(640, 480) << QSize(100, 50);
    QTest::newRow("thumbnail") << QSize(1024, 768) << QSize(60, 40) << QSize(53, 40);
    QTest::newRow("square thumbnail") << QSize(1000, 1000) << QSize(60, 40) << QSize(40, 40);
    QTest::newRow("a side of at least one") << QSize(10000, 10) << QSize(60, 40) << QSize(60, 1);
    QTest::newRow("tall strip") << QSize(10, 10000) << QSize(60, 40) << QSize(1, 40);
}

void TestImageProc::scaledFiles()
{
    QFETCH(QSize, source);
    QFETCH(QSize, box);
    QFETCH(QSize, expected);
    const QString in = m_dir.filePath("in.png");
    const QString out = m_dir.filePath("out.jpg");
    QVERIFY(pattern(source).save(in));
    QFile::remove(out);
    QVERIFY(ImageProc::scaleAndSaveAsJPEG(in, box.width(), box.height(), 0.9f, out));
    QImageReader reader(out);
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    QCOMPARE(reader.size(), expected);
    // Through a decoded picture too (a JPEG decoded smaller than its file: the node thumbnails).
    const Picture full = ImageProc::loadPicture(in);
    QCOMPARE(full.size, source);
    QVERIFY(ImageProc::scaleImageAndSaveAsJPEG(full, box.width(), box.height(), 0.9f, out));
    QCOMPARE(QImageReader(out).size(), expected);
}

void TestImageProc::qualityAndFailures()
{
    // No quality means the usual one; higher quality, bigger file.
    QCOMPARE(ImageProc::normalizedQuality(std::numeric_limits<float>::quiet_NaN()), 0.8f);
    const QString in = m_dir.filePath("q.png");
    QVERIFY(pattern({400, 300}).save(in));
    const QString low = m_dir.filePath("low.jpg"), high = m_dir.filePath("high.jpg");
    QVERIFY(ImageProc::scaleAndSaveAsJPEG(in, 400, 300, 0.2f, low));
    QVERIFY(ImageProc::scaleAndSaveAsJPEG(in, 400, 300, 80.0f, high));
    QVERIFY(QFileInfo(high).size() > 2 * QFileInfo(low).size());

    // A missing decoded picture: no log line.
    QVERIFY(!ImageProc::scaleImageAndSaveAsJPEG(Picture(), 100, 100, 0.8f, high));
    // A folder that is not there: the system's reason.
    QString why;
    QVERIFY(!ImageProc::scaleAndSaveAsJPEG(in, 100, 100, 0.8f, m_dir.filePath("no/such/folder/x.jpg"), &why));
    QCOMPARE(why, QStringLiteral("No such file or directory"));

    // A header claiming 60000 x 60000 pixels is refused before any allocation.
    const QString huge = testing::picture(m_dir.filePath("huge.jpg"), {16, 16});
    QByteArray bytes = readBytes(huge);
    const qsizetype sof = bytes.indexOf("\xFF\xC0");
    QVERIFY(sof > 0);
    bytes.replace(sof + 5, 4, "\xEA\x60\xEA\x60"); // 60000 x 60000
    QVERIFY(writeBytes(huge, bytes));
    QCOMPARE(ImageProc::sizeOfJPEG(huge), QSize(60000, 60000));
    QVERIFY(ImageProc::loadPicture(huge, {}, &why).isNull());
    QVERIFY2(why.contains("too large"), qPrintable(why));
}

void TestImageProc::copyrightPlacement()
{
    // White text on black, 15 pixels from the lower right corner of the result.
    const QString in = testing::picture(m_dir.filePath("dark.png"), {3000, 2000}, Qt::black);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(24); // 24 pixels in the result, whatever the picture's size
    const QString text = QStringLiteral("\u00a9 2026 Quillmere");
    const QString out = m_dir.filePath("stamped.jpg");
    QVERIFY(ImageProc::scaleAndSaveAsJPEG(in, 640, 480, 1.0f, out, text, font, Qt::white));
    const QImage result(out);
    QCOMPARE(result.size(), QSize(640, 426));
    const QRect ink = brightArea(result);
    const QString where = QStringLiteral("%1,%2 %3x%4").arg(ink.x()).arg(ink.y()).arg(ink.width()).arg(ink.height());
    QVERIFY2(ink.right() <= 640 - 15 + 2 && ink.right() >= 640 - 15 - 8, qPrintable(where));
    QVERIFY2(ink.bottom() <= 426 - 15 && ink.bottom() >= 426 - 15 - 30, qPrintable(where));
    QVERIFY2(ink.height() >= 12 && ink.height() <= 30 && ink.width() > 150, qPrintable(where));

    // A picture that fits is still stamped; one without the line is clean.
    QVERIFY(ImageProc::scaleAndSaveAsJPEG(in, 4000, 4000, 1.0f, out, text, font, Qt::white));
    const QRect bigInk = brightArea(QImage(out));
    QVERIFY(bigInk.right() <= 3000 - 15 + 2 && bigInk.right() > 2900);
    QVERIFY(ImageProc::scaleAndSaveAsJPEG(in, 640, 480, 1.0f, out));
    QVERIFY(brightArea(QImage(out)).isEmpty());
}

void TestImageProc::sourcesComeOutUpright()
{
    // A camera picture stored sideways with an orientation tag: turn 90 degrees clockwise.
    QImage wide(200, 100, QImage::Format_RGB32);
    wide.fill(Qt::black);
    QPainter(&wide).fillRect(0, 0, 40, 100, Qt::white); // white on the left
    const QString rotated = m_dir.filePath("rotated.jpg");
    QVERIFY(wide.save(rotated, "JPG", 95));
    QCOMPARE(QProcess::execute("exiftool", {"-q", "-overwrite_original", "-Orientation#=6", rotated}), 0);
    const QString out = m_dir.filePath("upright.jpg");
    QVERIFY(ImageProc::scaleAndSaveAsJPEG(rotated, 1000, 1000, 0.9f, out));
    const QImage upright(out);
    QCOMPARE(upright.size(), QSize(100, 200));
    QVERIFY(qGray(upright.pixel(50, 10)) > 200);  // the white band is now at the top
    QVERIFY(qGray(upright.pixel(50, 190)) < 60);
    // The box is applied to the upright picture.
    QVERIFY(ImageProc::scaleAndSaveAsJPEG(rotated, 60, 40, 0.9f, out));
    QCOMPARE(QImageReader(out).size(), QSize(20, 40));

    // Transparent areas come out white.
    QImage clear(80, 60, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    QPainter(&clear).fillRect(0, 0, 20, 60, QColor(200, 0, 0));
    const QString png = m_dir.filePath("alpha.png");
    QVERIFY(clear.save(png));
    QVERIFY(ImageProc::scaleAndSaveAsJPEG(png, 80, 60, 1.0f, out));
    const QImage flat(out);
    QVERIFY(qGray(flat.pixel(60, 30)) > 245);
    QVERIFY(qRed(flat.pixel(5, 30)) > 170 && qGreen(flat.pixel(5, 30)) < 60);

    // Another colour space is converted to sRGB.
    QImage adobe(40, 40, QImage::Format_RGB32);
    adobe.fill(QColor(0, 200, 0));
    adobe.setColorSpace(QColorSpace(QColorSpace::AdobeRgb));
    const QString tagged = m_dir.filePath("adobe.png");
    QVERIFY(adobe.save(tagged));
    const Picture picture = ImageProc::loadPicture(tagged);
    QVERIFY(!picture.isNull());
    QCOMPARE(picture.image.colorSpace(), QColorSpace(QColorSpace::SRgb));
    QVERIFY(qRed(picture.image.pixel(5, 5)) < 30 && qGreen(picture.image.pixel(5, 5)) > 200);
}

void TestImageProc::cameraDates()
{
    auto exiftool = [&](const QString &file, const QStringList &tags) {
        QProcess p;
        p.start("exiftool", QStringList{"-q", "-overwrite_original"} + tags + QStringList{file});
        return p.waitForFinished(30000) && p.exitCode() == 0;
    };
    const QString plain = testing::picture(m_dir.filePath("plain.jpg"), {64, 48});
    // As the camera's clock said, whatever the zone of the computer reading it.
    const QDateTime taken(QDate(2008, 3, 7), QTime(14, 5, 9), Qt::UTC);
    const QDateTime changed(QDate(2009, 12, 31), QTime(23, 59, 59), Qt::UTC);
    const QList<std::tuple<const char *, QStringList, QDateTime>> cases{
        // In the hour Berlin's clocks skip: a real time on the camera all the same.
        {"skipped.jpg", {"-ModifyDate=2009:12:31 23:59:59", "-DateTimeOriginal=2008:03:30 02:30:00"},
         QDateTime(QDate(2008, 3, 30), QTime(2, 30), Qt::UTC)},
        {"little.jpg", {"-ExifByteOrder#=II", "-DateTimeOriginal=2008:03:07 14:05:09"}, taken},
        {"big.jpg", {"-ExifByteOrder#=MM", "-DateTimeOriginal=2008:03:07 14:05:09"}, taken},
        // Without the original, the date the file was last changed.
        {"changed.jpg", {"-ModifyDate=2009:12:31 23:59:59"}, changed},
        {"both.jpg", {"-ModifyDate=2009:12:31 23:59:59", "-DateTimeOriginal=2008:03:07 14:05:09"}, taken},
        {"xmpfirst.jpg", {"-XMP:Title=first", "-DateTimeOriginal=2008:03:07 14:05:09"}, taken},
        {"unset.jpg", {"-DateTimeOriginal#=0000:00:00 00:00:00"}, QDateTime()},
        {"nodate.jpg", {"-Artist=someone"}, QDateTime()},
    };
    const QByteArray zone = qgetenv("TZ");
    const bool hadZone = qEnvironmentVariableIsSet("TZ");
    qputenv("TZ", "Europe/Berlin");
    tzset();
    const auto restoreZone = qScopeGuard([&] {
        hadZone ? qputenv("TZ", zone) : qunsetenv("TZ");
        tzset();
    });
    for (const auto &[name, tags, expected] : cases) {
        const QString file = m_dir.filePath(name);
        QFile::remove(file);
        QVERIFY(QFile::copy(plain, file));
        QVERIFY2(exiftool(file, tags), name);
        QCOMPARE(ExifDate::dateTaken(file), expected);
        QCOMPARE(ExifDate::fromFileBytes(readBytes(file)), expected);
    }
    QVERIFY(!ExifDate::dateTaken(plain).isValid());
    QVERIFY(!ExifDate::dateTaken(m_dir.filePath("absent.jpg")).isValid());
    // A TIFF source keeps its IFDs wherever it likes.
    const QString tiff = m_dir.filePath("scan.tif");
    QVERIFY(pattern({300, 200}).save(tiff, "TIFF"));
    QVERIFY(exiftool(tiff, {"-DateTimeOriginal=2010:01:02 03:04:05"}));
    QCOMPARE(ExifDate::dateTaken(tiff), QDateTime(QDate(2010, 1, 2), QTime(3, 4, 5), Qt::UTC));

    // Damaged headers give no date, and nothing is read outside the bytes.
    const QByteArray good = readBytes(m_dir.filePath("little.jpg"));
    const qsizetype tiffAt = good.indexOf(QByteArray("Exif\0\0", 6)) + 6;
    auto patched = [&](qsizetype at, const QByteArray &bytes) {
        QByteArray b = good;
        b.replace(tiffAt + at, bytes.size(), bytes);
        return b;
    };
    QVERIFY(!ExifDate::fromFileBytes(patched(0, "XX")).isValid());                 // no byte order
    QVERIFY(!ExifDate::fromFileBytes(patched(4, "\xff\xff\xff\x7f")).isValid()); // IFD0 far outside
    QVERIFY(!ExifDate::fromFileBytes(good.left(tiffAt + 30)).isValid());           // cut short
    QCOMPARE(ExifDate::parse("2008:02:30 10:00:00"), QDateTime());
    QCOMPARE(ExifDate::parse("2008:02:03 99:00:00"), QDateTime(QDate(2008, 2, 3), QTime(0, 0), Qt::UTC));
    QCOMPARE(ExifDate::parse("    :  :     :  :  "), QDateTime());
    QRandomGenerator random(7);
    for (int i = 0; i < 3000; ++i) {
        QByteArray b = good;
        for (int n = 0; n < 4; ++n)
            b[tiffAt + random.bounded(int(good.size() - tiffAt))] = char(random.bounded(256));
        const QDateTime d = ExifDate::fromFileBytes(b);
        QVERIFY(!d.isValid() || d.date().year() >= 1800);
    }
}

void TestImageProc::losslessTurns()
{
    auto decoded = [](const QByteArray &jpeg) { return QImage::fromData(jpeg, "JPG").convertToFormat(QImage::Format_RGB32); };
    auto largestDifference = [](const QImage &a, const QImage &b) {
        int worst = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x) {
                const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
                worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                  std::abs(qBlue(p) - qBlue(q))});
            }
        return worst;
    };
    // ImageMagick's JPEG of whole blocks, four corners of their own colour.
    const QString source = m_dir.filePath("turn.jpg");
    QVERIFY(convert({"-size", "640x480", "-seed", "5", "plasma:fractal", "-fill", "white", "-draw", "rectangle 0,0 80,60",
                     "-quality", "88", source}));
    const QByteArray original = readBytes(source);

    const JpegTransform::Result right = JpegTransform::turn(original, 1);
    QVERIFY2(right.ok(), qPrintable(right.error));
    QCOMPARE(right.trimmed, 0);
    const QImage turned = decoded(right.jpeg);
    QCOMPARE(turned.size(), QSize(480, 640));
    // The white corner went from the top left to the top right.
    QVERIFY(qGray(turned.pixel(470, 10)) > 240 && qGray(turned.pixel(10, 10)) < 240);
    QVERIFY(largestDifference(turned, decoded(original).transformed(QTransform().rotate(90))) <= 8);
    // Four turns give back the very coefficients: no generation of loss.
    QByteArray round = original;
    for (int i = 0; i < 4; ++i)
        round = JpegTransform::turn(round, i % 2 ? -1 : 1).jpeg;
    QCOMPARE(largestDifference(decoded(round), decoded(original)), 0);
    QCOMPARE(decoded(JpegTransform::turn(original, -1).jpeg).size(), QSize(480, 640));

    // Sides that are not whole blocks: the edge that cannot move is left out, and said.
    const QString odd = m_dir.filePath("odd.jpg");
    QVERIFY(convert({"-size", "650x426", "xc:gray", "-sampling-factor", "2x2", odd}));
    const JpegTransform::Result trimmed = JpegTransform::turn(readBytes(odd), 1);
    QVERIFY(trimmed.ok());
    QVERIFY(trimmed.trimmed > 0 && trimmed.trimmed < 16);
    QCOMPARE(decoded(trimmed.jpeg).size(), QSize(426 - trimmed.trimmed, 650));

    // A camera's orientation tag is applied in the same turn and set upright.
    const QString tagged = m_dir.filePath("tagged.jpg");
    QVERIFY(QFile::copy(source, tagged));
    QCOMPARE(QProcess::execute("exiftool", {"-q", "-overwrite_original", "-Orientation#=6", tagged}), 0);
    const JpegTransform::Result fromTagged = JpegTransform::turn(readBytes(tagged), 1);
    QVERIFY(fromTagged.ok());
    const QString out = m_dir.filePath("tagged-turned.jpg");
    QVERIFY(writeBytes(out, fromTagged.jpeg));
    QProcess exif;
    exif.start("exiftool", {"-s3", "-n", "-Orientation", out});
    QVERIFY(exif.waitForFinished());
    QCOMPARE(exif.readAllStandardOutput().trimmed(), QByteArray("1"));
    // Shown as it was shown, turned right once more: upside down from the stored pixels.
    QCOMPARE(decoded(fromTagged.jpeg).size(), QSize(640, 480));
    QVERIFY(qGray(decoded(fromTagged.jpeg).pixel(630, 470)) > 240);

    const JpegTransform::Result refused = JpegTransform::turn("not a picture", 1);
    QVERIFY(!refused.ok() && !refused.error.isEmpty());
}

QTEST_MAIN(TestImageProc)
#include "tst_imageproc.moc"
