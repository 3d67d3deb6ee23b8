#include "common/TestFiles.h"
#include "video/CaptureGeometry.h"
#include "video/CropSelection.h"
#include "video/FLVMetadata.h"
#include "video/MetadataMessage.h"
#include "video/PlayerPage.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cstring>

using namespace qm;
using testing::writeBytes;

namespace {

QByteArray number(double value)
{
    quint64 bits;
    std::memcpy(&bits, &value, 8);
    QByteArray b(8, '\0');
    qToBigEndian(bits, b.data());
    return b;
}

// An AMF-like property: name, a type byte, the 8-byte double.
QByteArray amfProperty(const char *name, double value)
{
    return QByteArray(name) + char(0) + number(value);
}


} // namespace

class TestVideoCore : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void scanOfTheFirstKilobyte();
    void realFiles();
    void hostileFiles();
    void metadataMessages();
    void playerPages();
    void captureArithmetic_data();
    void captureArithmetic();
    void cropReset();
    void cropMouse_data();
    void cropMouse();

private:
    QString ffmpeg(const QString &name, const QStringList &args);
    QTemporaryDir m_dir;
};

void TestVideoCore::initTestCase()
{
    qputenv("XDG_CACHE_HOME", m_dir.filePath("cache").toLocal8Bit());
}

QString TestVideoCore::ffmpeg(const QString &name, const QStringList &args)
{
    const QString out = m_dir.filePath(name);
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), QStringList{"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                                  "testsrc=size=320x240:rate=15", "-f", "lavfi", "-i",
                                                  "sine=frequency=440:sample_rate=22050", "-t", "1"}
                                          + args + QStringList{out});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return QString();
    return out;
}

void TestVideoCore::scanOfTheFirstKilobyte()
{
    const QString path = m_dir.filePath("crafted.flv");
    // Rates truncated before they are added: 300 + 64, not 365.
    QByteArray bytes = QByteArray("FLV", 3) + QByteArray(40, '\0') + amfProperty("videodatarate", 300.9)
                       + amfProperty("audiodatarate", 64.9) + amfProperty("width", 640.7) + amfProperty("height", 480.2);
    QVERIFY(writeBytes(path, bytes));
    int w = -1, h = -1, rate = -1;
    readFLVMetadata(path, w, h, rate);
    QCOMPARE(w, 640);
    QCOMPARE(h, 480);
    QCOMPARE(rate, 364);

    // No size in the file: the caller's values stay; the bitrate is always set.
    QVERIFY(writeBytes(path, QByteArray(20, 'x') + amfProperty("videodatarate", 500)));
    w = 7, h = 8, rate = 99;
    readFLVMetadata(path, w, h, rate);
    QCOMPARE(w, 7);
    QCOMPARE(h, 8);
    QCOMPARE(rate, 500);

    // Past byte 999 nothing is seen; a later match overrides an earlier one;
    // names match inside longer names.
    QVERIFY(writeBytes(path, QByteArray(1000, ' ') + amfProperty("videodatarate", 500)));
    readFLVMetadata(path, w, h, rate);
    QCOMPARE(rate, 0);
    QVERIFY(writeBytes(path, amfProperty("widthX", 10) + amfProperty("width", 20) + amfProperty("xheight", 30)));
    w = h = 0;
    readFLVMetadata(path, w, h, rate);
    QCOMPARE(w, 20);
    QCOMPARE(h, 30);

    // A name at offset 999 with its value inside the 1024 bytes counts; one
    // whose value would end past the bytes read does not.
    QByteArray edge(999, ' ');
    edge += amfProperty("width", 77);
    QVERIFY(writeBytes(path, edge));
    w = 0;
    readFLVMetadata(path, w, h, rate);
    QCOMPARE(w, 77);
    QByteArray shortFile(10, ' ');
    shortFile += QByteArray("width") + char(0) + number(5).left(7);
    QVERIFY(writeBytes(path, shortFile));
    w = 1;
    readFLVMetadata(path, w, h, rate);
    QCOMPARE(w, 1);

    // Values no int can hold stay defined.
    QCOMPARE(truncateToInt(std::nan("")), 0);
    QCOMPARE(truncateToInt(1e300), std::numeric_limits<int>::max());
    QCOMPARE(truncateToInt(-1e300), std::numeric_limits<int>::min());
    QCOMPARE(truncateToInt(-2.7), -2);

    // A file that cannot be opened: nothing read, bitrate 0.
    w = 3;
    rate = 9;
    readFLVMetadata(m_dir.filePath("missing.flv"), w, h, rate);
    QCOMPARE(w, 3);
    QCOMPARE(rate, 0);
}

void TestVideoCore::realFiles()
{
    if (QStandardPaths::findExecutable("ffmpeg").isEmpty())
        QSKIP("ffmpeg is not installed");
    const QString spark = ffmpeg("spark mp3 \u00e9t\u00e9.flv", {"-c:v", "flv1", "-b:v", "400k", "-c:a", "libmp3lame",
                                                               "-b:a", "64k"});
    QVERIFY(!spark.isEmpty());
    int w = 0, h = 0, rate = 0;
    readFLVMetadata(spark, w, h, rate);
    QCOMPARE(w, 320);
    QCOMPARE(h, 240);
    QVERIFY2(rate > 300 && rate < 600, qPrintable(QString::number(rate)));
    const FLVTagMetadata tag = readFLVTagMetadata(spark);
    QVERIFY(tag.found);
    QCOMPARE(tag.width, 320);
    QCOMPARE(tag.bitrate, rate);

    const QString h264 = ffmpeg("h264.flv", {"-c:v", "libx264", "-b:v", "300k", "-c:a", "aac", "-b:a", "64k"});
    QVERIFY(!h264.isEmpty());
    w = h = rate = 0;
    readFLVMetadata(h264, w, h, rate);
    QCOMPARE(QSize(w, h), QSize(320, 240));
    QVERIFY(rate > 0);

    const QString bare = ffmpeg("bare.flv", {"-c:v", "flv1", "-an", "-flvflags", "no_metadata"});
    QVERIFY(!bare.isEmpty());
    w = 5, h = 6, rate = 7;
    readFLVMetadata(bare, w, h, rate);
    QCOMPARE(QSize(w, h), QSize(5, 6));
    QCOMPARE(rate, 0);
    QVERIFY(!readFLVTagMetadata(bare).found);
}

void TestVideoCore::hostileFiles()
{
    const QString path = m_dir.filePath("hostile.flv");
    QRandomGenerator rng(11);
    for (int round = 0; round < 50; ++round) {
        QByteArray bytes(int(rng.bounded(3000)), '\0');
        for (char &c : bytes)
            c = char(rng.bounded(256));
        if (round % 5 == 0)
            bytes.prepend(QByteArray("FLV\x01\x05\0\0\0\x09\0\0\0\0\x12\xff\xff\xff", 17));
        QVERIFY(writeBytes(path, bytes));
        int w = 0, h = 0, rate = 0;
        readFLVMetadata(path, w, h, rate);
        readFLVTagMetadata(path);
    }
    // A tag header that claims a huge body, and one pointing backwards.
    QVERIFY(writeBytes(path, QByteArray("FLV\x01\x05\xff\xff\xff\xff", 9)));
    QVERIFY(!readFLVTagMetadata(path).found);
    QVERIFY(writeBytes(path, QByteArray("FLV\x01\x05\0\0\0\x09\0\0\0\0\x12\x7f\xff\xff\0\0\0\0\0\0\0", 24)));
    QVERIFY(!readFLVTagMetadata(path).found);
}

void TestVideoCore::metadataMessages()
{
    int w = 0, h = 0, rate = 0;
    QVERIFY(parseMetadataMessage("640|480|700", w, h, rate));
    QCOMPARE(QList<int>({w, h, rate}), QList<int>({640, 480, 700}));
    QVERIFY(parseMetadataMessage("640.5|480|fast", w, h, rate));
    QCOMPARE(QList<int>({w, h, rate}), QList<int>({640, 480, 0}));
    QVERIFY(parseMetadataMessage("  +12px| -3|99999999999|extra", w, h, rate));
    QCOMPARE(QList<int>({w, h, rate}), QList<int>({12, -3, std::numeric_limits<int>::max()}));
    w = 1, h = 2, rate = 3;
    QVERIFY(!parseMetadataMessage("640|480", w, h, rate));
    QCOMPARE(QList<int>({w, h, rate}), QList<int>({1, 2, 3}));
    QCOMPARE(metadataMessage(320, 240, 452), QStringLiteral("320|240|452"));
    QCOMPARE(intValue(u""), 0);
    QCOMPARE(intValue(u"-"), 0);
}

void TestVideoCore::playerPages()
{
    // Markers in any letter case, replaced once, inserted text not searched again.
    const QString page = fillPlayerTemplate(QStringLiteral("<a src=\"PlayFLV.SWF\">##fvars##|playflv.swf|##FVARS##</a>"),
                                            QStringLiteral("/res dir"), QStringLiteral("/m/##FVARS## \u00e9t\u00e9.flv"));
    QCOMPARE(page, QStringLiteral("<a src=\"file:///res%20dir/playflv.swf\">"
                                  "playInfo=file:///m/%23%23FVARS%23%23%20%C3%A9t%C3%A9.flv|file:///res%20dir/playflv.swf|"
                                  "playInfo=file:///m/%23%23FVARS%23%23%20%C3%A9t%C3%A9.flv</a>"));
    const QString real = fillPlayerTemplate(QStringLiteral("<param value=\"##FVARS##\">"), QStringLiteral("/r"),
                                            QStringLiteral("/m/##FVARS## \u00e9t\u00e9&\"x\".flv"));
    QCOMPARE(moviePathFromPage(real), QStringLiteral("/m/##FVARS## \u00e9t\u00e9&\"x\".flv"));
    QCOMPARE(percentEscape(QStringLiteral("/a b/\"q\"&x?#%")), QStringLiteral("/a%20b/%22q%22%26x%3F%23%25"));
    QVERIFY(moviePathFromPage(QStringLiteral("<html>nothing</html>")).isEmpty());

    // The prepared page lies in the cache folder and names the movie.
    const QString movie = m_dir.filePath("my clip \u00fc.flv");
    const PreparedPlayerPage prepared = preparePlayerPage(movie);
    QVERIFY2(prepared.written, qPrintable(prepared.error));
    QCOMPARE(prepared.path, playerCacheFolder() + "/playflv.html");
    QVERIFY(prepared.path.startsWith(m_dir.filePath("cache")));
    QVERIFY(prepared.url.toString().startsWith("file://"));
    QCOMPARE(prepared.url.toLocalFile(), prepared.path);
    QFile f(prepared.path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(f.readAll());
    QVERIFY(html.contains("my%20clip%20%C3%BC.flv"));
    QCOMPARE(moviePathFromPage(html), movie);
}

void TestVideoCore::captureArithmetic_data()
{
    QTest::addColumn<QSize>("movie");
    QTest::addColumn<QRect>("expected"); // lower-left corner from the view's lower left, and size
    QTest::newRow("320 x 240") << QSize(320, 240) << QRect(140, 150, 320, 240);
    QTest::newRow("640 x 480: the whole area") << QSize(640, 480) << QRect(0, 70, 600, 400);
    QTest::newRow("321 wide") << QSize(321, 240) << QRect(139, 150, 321, 240);
    QTest::newRow("tall") << QSize(200, 500) << QRect(200, 70, 200, 400);
    QTest::newRow("exactly the area") << QSize(600, 400) << QRect(0, 70, 600, 400);
}

void TestVideoCore::captureArithmetic()
{
    QFETCH(QSize, movie);
    QFETCH(QRect, expected);
    const CaptureGeometry g = captureGeometry(movie.width(), movie.height());
    QCOMPARE(QRect(g.offsetX, 70 + g.offsetY, g.width, g.height), expected);
    // In the view's top-left coordinates, for a view 520 high.
    const QSize view(640, 520);
    const QRect r = captureRectInView(view, movie.width(), movie.height());
    QCOMPARE(r.size(), expected.size());
    QCOMPARE(r.x(), expected.x());
    QCOMPARE(view.height() - (r.y() + r.height()), expected.y());
    // The frame is drawn where the capture looks.
    if (movie.width() <= 600 && movie.height() <= 400)
        QCOMPARE(frameRectInView(view, movie), r);
    QVERIFY(playerAreaInView(view).contains(r));
}

void TestVideoCore::cropReset()
{
    CropSelection s;
    s.setImageRect(QRectF(10, 20, 320, 240), QSizeF(320, 240));
    s.setAspectRatio(2.0f);
    QCOMPARE(s.rect(), (CropSelection::Rect{10, 60, 320, 160})); // 40 above the image's bottom
    s.setAspectRatio(1.0f);
    QCOMPARE(s.rect(), (CropSelection::Rect{50, 20, 240, 240})); // 40 in from the left
    s.setAspectRatio(0.005f);
    QVERIFY(s.rect().isEmpty());
    s.setAspectRatio(std::numeric_limits<float>::quiet_NaN());
    QVERIFY(s.rect().isEmpty());
    s.setAspectRatio(0.75f);
    QCOMPARE(s.rect(), (CropSelection::Rect{80, 20, 180, 240}));
}

void TestVideoCore::cropMouse_data()
{
    QTest::addColumn<float>("ratio");
    QTest::addColumn<QRectF>("start");
    QTest::addColumn<QPointF>("press");
    QTest::addColumn<QPointF>("drag");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QRectF>("expected");
    const QRectF r(100, 60, 120, 120);
    QTest::newRow("corner: on the right edge, 20 above the bottom") << 1.0f << r << QPointF(220, 80) << QPointF(220, 80)
                                                                     << "resize" << r;
    QTest::newRow("20.5 above the bottom moves") << 1.0f << r << QPointF(220, 80.5) << QPointF(221.9, 81.5) << "move"
                                                  << QRectF(101, 61, 120, 120);
    QTest::newRow("outside: nothing") << 1.0f << r << QPointF(50, 50) << QPointF(90, 90) << "none" << r;
    QTest::newRow("move stops at the left edge") << 1.0f << r << QPointF(150, 100) << QPointF(0, 100) << "move"
                                                 << QRectF(0, 60, 120, 120);
    QTest::newRow("move stops at the top") << 1.0f << r << QPointF(150, 100) << QPointF(150, 900) << "move"
                                           << QRectF(100, 120, 120, 120);
    QTest::newRow("wider than the image ends at its left edge") << 1.0f << QRectF(0, 0, 400, 100) << QPointF(200, 50)
                                                                << QPointF(260, 50) << "move" << QRectF(0, 0, 400, 100);
    QTest::newRow("resize down to 10 high gives 40 x 40") << 1.0f << r << QPointF(215, 65) << QPointF(215, 175)
                                                          << "resize" << QRectF(100, 140, 40, 40);
    QTest::newRow("resize larger keeps the top") << 1.0f << r << QPointF(215, 65) << QPointF(215, 35) << "resize"
                                                 << QRectF(100, 30, 150, 150);
    QTest::newRow("resize is bounded by the right edge") << 2.0f << QRectF(200, 100, 80, 40) << QPointF(275, 105)
                                                         << QPointF(275, 0) << "resize" << QRectF(200, 80, 120, 60);
    QTest::newRow("resize is bounded by the bottom") << 1.0f << r << QPointF(215, 65) << QPointF(215, -300) << "resize"
                                                     << QRectF(100, 0, 180, 180);
}

void TestVideoCore::cropMouse()
{
    QFETCH(float, ratio);
    QFETCH(QRectF, start);
    QFETCH(QPointF, press);
    QFETCH(QPointF, drag);
    QFETCH(QString, mode);
    QFETCH(QRectF, expected);
    CropSelection s;
    s.setImageRect(QRectF(0, 0, 320, 240), QSizeF(320, 240));
    s.setAspectRatio(ratio);
    s.setRect({float(start.x()), float(start.y()), float(start.width()), float(start.height())});
    s.press(press);
    QCOMPARE(s.isDragging(), mode == "move");
    QCOMPARE(s.isResizing(), mode == "resize");
    s.drag(drag);
    QCOMPARE(s.rect().toRectF(), expected);
    if (mode == "resize")
        QCOMPARE(s.rect().w / s.rect().h, ratio); // the ratio always holds
    QCOMPARE(s.release(), mode != "none");
    QVERIFY(!s.release());
    QVERIFY(!s.drag(QPointF(0, 0)));
}

QTEST_GUILESS_MAIN(TestVideoCore)
#include "tst_videocore.moc"
