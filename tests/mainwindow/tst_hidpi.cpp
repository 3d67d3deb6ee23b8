// On a screen of scale 2: a photo's own size is one picture pixel on one
// screen pixel, and thumbnails are read for the screen's pixels.

#include "common/TestFiles.h"
#include "mainwindow/MyImageView.h"
#include "mainwindow/PhotoWindowController.h"
#include "mainwindow/ThumbnailCache.h"
#include "model/Photo.h"
#include "storage/Preferences.h"

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace qm;

class TestHiDpi : public QObject
{
    Q_OBJECT
private slots:
    void photoAtItsOwnSizeIsOneToOne();
    void thumbnailsAreSharp();
};

void TestHiDpi::photoAtItsOwnSizeIsOneToOne()
{
    QCOMPARE(qApp->devicePixelRatio(), 2.0);
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("g/img"));
    QSettings settings(dir.filePath("s.ini"), QSettings::IniFormat);
    Preferences prefs(&settings);
    prefs.setOrvaneFolder(dir.filePath("g"));
    // Stripes one pixel wide: any resampling smears them.
    QImage stripes(600, 400, QImage::Format_RGB32);
    for (int x = 0; x < 600; ++x)
        for (int y = 0; y < 400; ++y)
            stripes.setPixel(x, y, (x + y / 100) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    QVERIFY(stripes.save(prefs.imgPath("n.png")));
    Photo photo;
    photo.setTitle("Stripes");
    photo.setImageFile("n.png");

    PhotoWindowController viewer(&prefs);
    viewer.showPhoto(photo);
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    QCOMPARE(viewer.size(), QSize(300, 200));
    const QImage shown = viewer.ivPhoto()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), QSize(600, 400));
    for (QPoint p : {QPoint(0, 0), QPoint(1, 0), QPoint(401, 250), QPoint(599, 399), QPoint(10, 150)})
        QCOMPARE(shown.pixel(p), stripes.pixel(p));
    QCOMPARE(viewer.windowTitle(), QStringLiteral("Photo - Stripes"));
}

void TestHiDpi::thumbnailsAreSharp()
{
    QTemporaryDir dir;
    const QString path = testing::picture(dir.filePath("p.jpg"), {600, 400}, QColor(20, 160, 90));
    ThumbnailCache cache;
    cache.thumbnail(path, QSize(128, 128));
    QVERIFY(cache.waitForIdle());
    const QPixmap picture = cache.thumbnail(path, QSize(128, 128));
    QCOMPARE(picture.devicePixelRatio(), 2.0);
    QCOMPARE(picture.size(), QSize(256, 256));
    QCOMPARE(picture.deviceIndependentSize(), QSizeF(128, 128));
    QCOMPARE(cache.sourceSize(path, QSize(128, 128)), QSize(600, 400));
    // What stands in while it is read is drawn for the screen too.
    QCOMPARE(cache.thumbnail(dir.filePath("none.jpg"), QSize(40, 40)).size(), QSize(80, 80));
}

int main(int argc, char **argv)
{
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    TestHiDpi test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hidpi.moc"
