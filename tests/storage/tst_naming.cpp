// The names that decide files on disk: time keys, album counters, paths
// into the gallery, settings keys, copied resources.

#include "storage/Common.h"
#include "storage/Preferences.h"
#include "storage/Resources.h"

#include <QDateTime>
#include <QImageReader>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace qm;

class TestNaming : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { setClockForTesting(nullptr); }
    void timeKeysAndCounters();
    void pathsAndSettings();
    void resourcesCopyWritable();
};

void TestNaming::timeKeysAndCounters()
{
    const qint64 jan2008 = QDateTime(QDate(2008, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    setClockForTesting([=] { return jan2008; });
    QCOMPARE(timeKeyString(), QStringLiteral("5244ca800"));
    setClockForTesting([] { return qint64(0); }); // a clock before 2001 must not wrap
    QCOMPARE(timeKey(), quint64(0));

    AlbumCounter::resetForTesting();
    QList<int> digits;
    for (int i = 0; i < 11; ++i)
        digits << AlbumCounter::takeDigit();
    QCOMPARE(digits, (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 1}));

    // Padded numbers are never cut.
    QCOMPARE(Common::paddedStringFromNumber(42, 4), QStringLiteral("0042"));
    QCOMPARE(photoBaseName(0x1a2b3c4d5eULL, 12345), QStringLiteral("1a2b3c4d5e_12345"));
}

void TestNaming::pathsAndSettings()
{
    // Only a bare name makes a path into the gallery.
    QTemporaryDir dir;
    QSettings settings(dir.filePath("prefs.ini"), QSettings::IniFormat);
    Preferences prefs(&settings);
    prefs.setOrvaneFolder(QStringLiteral("/g"));
    QCOMPARE(prefs.imgPath(QStringLiteral("..hidden.jpg")), QStringLiteral("/g/img/..hidden.jpg"));
    QCOMPARE(prefs.albumsXMLFile(), QStringLiteral("/g/xml/albums.xml"));
    for (const QString &bad : QStringList{"", ".", "..", "../xml/albums.xml", "/etc/passwd", "sub/file.jpg", "a\\b.jpg",
                                          QStringLiteral("a") + QChar(0) + "b"})
        QVERIFY2(prefs.imgPath(bad).isNull() && prefs.xmlPath(bad).isNull(), qPrintable(bad));

    // What the store holds, under the keys other versions read.
    prefs.setImportPhotosWidth(800, 600);
    prefs.setImportPhotosSmallWidth(150, 100);
    prefs.setImportPhotosLargeWidth(1600, 1200);
    prefs.setImportPhotosQuality(85);
    prefs.setImportPhotosCreateLarge(true);
    prefs.setImportPhotosCameraDates(true);
    prefs.setVideoThumbWidth(160, 120);
    prefs.setVideoThumbQuality(70);
    QStringList stored;
    for (const QString &key : settings.allKeys())
        stored << key + "=" + settings.value(key).toString();
    QCOMPARE(stored, (QStringList{"ImportPhotosCameraDates=true", "ImportPhotosCreateLarge=true", "ImportPhotosHeight=600",
                                  "ImportPhotosLargeHeight=1200", "ImportPhotosLargeWidth=1600", "ImportPhotosQuality=85",
                                  "ImportPhotosSmallHeight=100", "ImportPhotosSmallWidth=150", "ImportPhotosWidth=800",
                                  "OrvaneFolder=/g", "VideoThumbHeight=120", "VideoThumbQuality=70", "VideoThumbWidth=160"}));
    QVERIFY(prefs.importPhotosLargeHeight() == 1200 && prefs.videoThumbQuality() == 70 && prefs.importPhotosCameraDates());
}

void TestNaming::resourcesCopyWritable()
{
    QTemporaryDir dir;
    const QString dest = dir.filePath("albthumb_1.jpg");
    QString error;
    QVERIFY2(copyResource(QStringLiteral("albumthumb.jpg"), dest, &error), qPrintable(error));
    QVERIFY(QFileInfo(dest).isWritable());
    QCOMPARE(QImageReader(dest).size(), QSize(60, 40));
    QVERIFY(!copyResource(QStringLiteral("albumthumb.jpg"), dest, &error)); // never replaces
    QVERIFY(!copyResource(QStringLiteral("nonexistent.jpg"), dir.filePath("x.jpg"), &error));
}

QTEST_APPLESS_MAIN(TestNaming)
#include "tst_naming.moc"
