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
    void paddedNumbers();
    void timeKeys();
    void albumCounterDigits();
    void generatedNames();
    void bareNames();
    void preferences();
    void resourcesCopyWritable();
};

void TestNaming::paddedNumbers()
{
    QCOMPARE(Common::paddedStringFromNumber(1, 4), QStringLiteral("0001"));
    QCOMPARE(Common::paddedStringFromNumber(42, 4), QStringLiteral("0042"));
    QCOMPARE(Common::paddedStringFromNumber(9999, 4), QStringLiteral("9999"));
    QCOMPARE(Common::paddedStringFromNumber(12345, 4), QStringLiteral("12345"));
    QCOMPARE(Common::paddedStringFromNumber(10000, 4), QStringLiteral("10000"));
}

void TestNaming::timeKeys()
{
    const qint64 jan2008 = QDateTime(QDate(2008, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    setClockForTesting([=] { return jan2008; });
    QCOMPARE(timeKey(), quint64(22083840000ULL));
    QCOMPARE(timeKeyString(), QStringLiteral("5244ca800"));

    setClockForTesting([=] { return jan2008 + 19; }); // within the same hundredth
    QCOMPARE(timeKey(), quint64(22083840001ULL));
    setClockForTesting([=] { return jan2008 + 9; });
    QCOMPARE(timeKey(), quint64(22083840000ULL));

    setClockForTesting([] { return qint64(0); }); // a clock before 2001 must not wrap
    QCOMPARE(timeKey(), quint64(0));
    QCOMPARE(timeKeyString(quint64(0x1a2b3c4d5e)), QStringLiteral("1a2b3c4d5e"));
}

void TestNaming::albumCounterDigits()
{
    AlbumCounter::resetForTesting();
    QList<int> digits;
    for (int i = 0; i < 11; ++i)
        digits << AlbumCounter::takeDigit();
    QCOMPARE(digits, (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 1}));
}

void TestNaming::generatedNames()
{
    const quint64 key = 0x1a2b3c4d5eULL;
    QCOMPARE(albumFileName(key, 3), QStringLiteral("album_1a2b3c4d5e3.xml"));
    const QString base = photoBaseName(key, 12);
    QCOMPARE(base, QStringLiteral("1a2b3c4d5e_0012"));
    QCOMPARE(photoFileName(base), QStringLiteral("img_1a2b3c4d5e_0012.jpg"));
    QCOMPARE(photoSmallFileName(base), QStringLiteral("img_1a2b3c4d5e_0012_sm.jpg"));
    QCOMPARE(photoLargeFileName(base), QStringLiteral("img_1a2b3c4d5e_0012_lg.jpg"));
    QCOMPARE(photoBaseName(key, 10000), QStringLiteral("1a2b3c4d5e_10000"));
    QCOMPARE(thumbnailFileName(key), QStringLiteral("albthumb_1a2b3c4d5e.jpg"));
    QCOMPARE(videoStreamFileName(key), QStringLiteral("vstream_1a2b3c4d5e.flv"));
    QCOMPARE(videoThumbFileName(key), QStringLiteral("vthumb_1a2b3c4d5e.jpg"));
}

void TestNaming::bareNames()
{
    QVERIFY(isBareFileName(QStringLiteral("img_1_0001.jpg")));
    QVERIFY(isBareFileName(QStringLiteral("..hidden.jpg")));
    for (const char *bad : {"", ".", "..", "../albums.xml", "/etc/passwd", "sub/file.jpg", "a\\b.jpg"})
        QVERIFY2(!isBareFileName(QString::fromLatin1(bad)), bad);
    QVERIFY(!isBareFileName(QStringLiteral("a") + QChar(0) + QStringLiteral("b")));
}

void TestNaming::preferences()
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath("prefs.ini"), QSettings::IniFormat);
    Preferences prefs(&settings);

    // A fresh store: zeros, false and null.
    QVERIFY(prefs.orvaneFolder().isNull());
    QCOMPARE(prefs.importPhotosWidth(), 0);
    QCOMPARE(prefs.videoThumbQuality(), 0);
    QVERIFY(!prefs.importPhotosCreateLarge());

    prefs.setOrvaneFolder(QStringLiteral("/Users/a/gallery"));
    QCOMPARE(prefs.imgFolder(), QStringLiteral("/Users/a/gallery/img"));
    QCOMPARE(prefs.xmlFolder(), QStringLiteral("/Users/a/gallery/xml"));
    QCOMPARE(prefs.albumsXMLFile(), QStringLiteral("/Users/a/gallery/xml/albums.xml"));
    QCOMPARE(prefs.imgPath(QStringLiteral("a.jpg")), QStringLiteral("/Users/a/gallery/img/a.jpg"));
    QVERIFY(prefs.imgPath(QStringLiteral("../xml/albums.xml")).isNull());
    QVERIFY(prefs.xmlPath(QString()).isNull());

    prefs.setOrvaneFolder(QStringLiteral("/Users/a/gallery/")); // no normalisation
    QCOMPARE(prefs.imgFolder(), QStringLiteral("/Users/a/gallery//img"));

    prefs.setImportPhotosWidth(800, 600);
    prefs.setImportPhotosSmallWidth(150, 100);
    prefs.setImportPhotosLargeWidth(1600, 1200);
    prefs.setImportPhotosQuality(85);
    prefs.setImportPhotosCreateLarge(true);
    prefs.setVideoThumbWidth(160, 120);
    prefs.setVideoThumbQuality(70);
    settings.sync();

    QSettings reopened(dir.filePath("prefs.ini"), QSettings::IniFormat);
    Preferences again(&reopened);
    QCOMPARE(again.importPhotosWidth(), 800);
    QCOMPARE(again.importPhotosHeight(), 600);
    QCOMPARE(again.importPhotosSmallWidth(), 150);
    QCOMPARE(again.importPhotosSmallHeight(), 100);
    QCOMPARE(again.importPhotosLargeWidth(), 1600);
    QCOMPARE(again.importPhotosLargeHeight(), 1200);
    QCOMPARE(again.importPhotosQuality(), 85);
    QVERIFY(again.importPhotosCreateLarge());
    QCOMPARE(again.videoThumbWidth(), 160);
    QCOMPARE(again.videoThumbHeight(), 120);
    QCOMPARE(again.videoThumbQuality(), 70);
    QCOMPARE(reopened.value("ImportPhotosWidth").toInt(), 800); // the exact key names
    QCOMPARE(reopened.value("OrvaneFolder").toString(), QStringLiteral("/Users/a/gallery/"));
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
