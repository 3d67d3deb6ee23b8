#include "common/TestFiles.h"
#include "common/VideoFixtures.h"
#include "storage/FileWriter.h"
#include "storage/Job.h"
#include "video/CaptureGeometry.h"
#include "video/ConversionLadder.h"
#include "video/CropSelection.h"
#include "video/FLVMetadata.h"
#include "video/FLVStreamWriter.h"
#include "video/MetadataMessage.h"
#include "video/PlayerPage.h"
#include "video/VideoConverter.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cstring>

using namespace qm;
using testing::readBytes;
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

// Runs a conversion as the import window does: a job on its own thread.
// `stopAtFirstProgress` presses Stop as soon as the movie is under way.
ConversionOutcome runConversion(const ConversionRequest &request, bool stopAtFirstProgress = false)
{
    ConversionOutcome outcome;
    Job job(QStringLiteral("Converting"), [&](JobControl &control) { outcome = convertMovie(request, control); });
    QEventLoop loop;
    QObject::connect(&job, &Job::finished, &loop, &QEventLoop::quit);
    if (stopAtFirstProgress)
        QObject::connect(&job, &Job::progressChanged, &job, [&job] {
            if (job.done() > 0)
                job.stop();
        });
    job.start();
    loop.exec();
    return outcome;
}

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
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
    void ladder_data();
    void ladder();
    void flvWriterPutsOurHeadOnAMuxersStream();
    void bitrateFromSizeAndLength();
    void conversions_data();
    void conversions();
    void conversionsThatCannotBeDone();
    void missingPlugInIsNamed();

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

void TestVideoCore::ladder_data()
{
    QTest::addColumn<QSize>("source");
    QTest::addColumn<int>("fps");
    QTest::addColumn<int>("codec");
    QTest::addColumn<QList<QSize>>("sizes");
    QTest::addColumn<QList<int>>("rates");
    QTest::addColumn<double>("streamFps");
    const int h264 = int(VideoCodec::H264), spark = int(VideoCodec::Spark);
    QTest::newRow("1080p") << QSize(1920, 1080) << 30 << h264 << QList<QSize>{{600, 336}, {450, 252}, {300, 168}}
                           << QList<int>{750, 400, 200} << 30.0;
    QTest::newRow("1080p Spark needs about twice the rate")
        << QSize(1920, 1080) << 30 << spark << QList<QSize>{{600, 336}, {450, 252}, {300, 168}}
        << QList<int>{1450, 800, 350} << 30.0;
    QTest::newRow("phone upright at 60 fps") << QSize(1080, 1920) << 60 << h264
                                             << QList<QSize>{{224, 400}, {168, 300}, {112, 200}}
                                             << QList<int>{300, 200, 100} << 30.0;
    QTest::newRow("odd and small: never enlarged") << QSize(321, 241) << 25 << h264
                                                   << QList<QSize>{{320, 240}, {240, 180}, {160, 120}}
                                                   << QList<int>{250, 150, 100} << 25.0;
    QTest::newRow("tiny: no copies too small to watch") << QSize(100, 80) << 0 << h264
                                                        << QList<QSize>{{100, 80}, {74, 60}} << QList<int>{100, 100}
                                                        << 0.0;
}

void TestVideoCore::ladder()
{
    QFETCH(QSize, source);
    QFETCH(int, fps);
    QFETCH(int, codec);
    QFETCH(QList<QSize>, sizes);
    QFETCH(QList<int>, rates);
    QFETCH(double, streamFps);
    SourceMovie movie;
    movie.frameSize = source;
    movie.frameRateNum = fps;
    movie.hasVideo = true;
    const QList<StreamRung> rungs = defaultLadder(movie, VideoCodec(codec));
    QList<QSize> gotSizes;
    QList<int> gotRates;
    for (const StreamRung &r : rungs) {
        gotSizes << r.size;
        gotRates << r.videoKbps;
        QVERIFY(r.size.width() <= kViewerWidth && r.size.height() <= kViewerHeight);
    }
    QCOMPARE(gotSizes, sizes);
    QCOMPARE(gotRates, rates);
    QCOMPARE(streamFrameRate(movie).value(), streamFps);
    movie.frameRateNum = 60000;
    movie.frameRateDen = 1001;
    QVERIFY(qAbs(streamFrameRate(movie).value() - 29.97) < 0.01);
}

void TestVideoCore::flvWriterPutsOurHeadOnAMuxersStream()
{
    // ffmpeg's FLV stands for the muxer's output: its own metadata tag goes,
    // ours stands at the head, every other tag passes unchanged.
    const QString in = ffmpeg("muxed.flv", {"-c:v", "flv1", "-b:v", "400k", "-c:a", "libmp3lame", "-b:a", "64k"});
    QVERIFY(!in.isEmpty());
    const QByteArray bytes = readBytes(in);
    const QString out = m_dir.filePath("ours.flv");
    FLVStreamWriter::Header header;
    header.width = 320;
    header.height = 240;
    header.frameRate = 15;
    header.videoCodecId = 2;
    header.hasAudio = true;
    header.audioCodecId = 2;
    {
        FileWriter file(out, FileWriter::Mode::CreateNew);
        QVERIFY(file.open());
        FLVStreamWriter flv(file, header);
        QRandomGenerator rng(5);
        for (qsizetype at = 0; at < bytes.size();) {
            const qsizetype n = std::min<qsizetype>(bytes.size() - at, 1 + rng.bounded(5000));
            QVERIFY(flv.append(QByteArrayView(bytes.constData() + at, n)));
            at += n;
        }
        QVERIFY2(flv.finish(), qPrintable(flv.error()));
        QVERIFY(file.commit());
        QVERIFY2(flv.seconds() > 0.9 && flv.seconds() < 1.1, qPrintable(QString::number(flv.seconds())));
        QVERIFY2(flv.videoKbps() > 250 && flv.videoKbps() < 600, qPrintable(QString::number(flv.videoKbps())));
        QVERIFY2(flv.audioKbps() > 40 && flv.audioKbps() < 90, qPrintable(QString::number(flv.audioKbps())));
        int w = 0, h = 0, rate = 0;
        readFLVMetadata(out, w, h, rate);
        QCOMPARE(QSize(w, h), QSize(320, 240));
        QCOMPARE(rate, flv.bitrate());
    }
    const QByteArray written = readBytes(out);
    const QByteArray head = FLVStreamWriter::head(header);
    QVERIFY(head.size() < 1000);
    // The input's tags after its own header and metadata tag.
    const int firstTag = 13;
    const int metaBody = (uchar(bytes[firstTag + 1]) << 16) | (uchar(bytes[firstTag + 2]) << 8) | uchar(bytes[firstTag + 3]);
    QCOMPARE(bytes.at(firstTag), char(18));
    QVERIFY(written.mid(head.size()) == bytes.mid(firstTag + 11 + metaBody + 4));
    QCOMPARE(flvDurationMs(out), flvDurationMs(in));
    const FLVTagMetadata tag = readFLVTagMetadata(out);
    QVERIFY(tag.found);

    // A rewrite past what was written is refused and leaves no file.
    FileWriter bad(m_dir.filePath("bad.flv"));
    QVERIFY(bad.open() && bad.write("FLV"));
    QVERIFY(!bad.writeAt(2, "xy"));
    QVERIFY(!bad.commit());
    QVERIFY(!QFile::exists(m_dir.filePath("bad.flv")));
}

void TestVideoCore::bitrateFromSizeAndLength()
{
    // No metadata at all: the length comes from the last tag.
    const QString bare = ffmpeg("norates.flv", {"-c:v", "flv1", "-b:v", "300k", "-c:a", "libmp3lame", "-b:a", "64k",
                                                "-flvflags", "no_metadata"});
    QVERIFY(!bare.isEmpty());
    int w = 0, h = 0, rate = 0;
    readFLVMetadata(bare, w, h, rate);
    QCOMPARE(rate, 0);
    const qint64 ms = flvDurationMs(bare);
    QVERIFY2(ms > 900 && ms < 1100, qPrintable(QString::number(ms)));
    const int estimate = estimatedFLVBitrate(bare);
    QVERIFY2(estimate > 250 && estimate < 600, qPrintable(QString::number(estimate)));
    // A file cut short does not end on a tag: nothing is guessed.
    QVERIFY(writeBytes(m_dir.filePath("cut.flv"), readBytes(bare).chopped(7)));
    QCOMPARE(flvDurationMs(m_dir.filePath("cut.flv")), 0);
    QCOMPARE(estimatedFLVBitrate(m_dir.filePath("cut.flv")), 0);
}

void TestVideoCore::conversions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("sound");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("codec");
    const int h264 = int(VideoCodec::H264), spark = int(VideoCodec::Spark);
    QTest::newRow("MP4 with sound") << "camera clip.mp4" << QSize(640, 360) << true << QStringList() << 25 << h264;
    QTest::newRow("MOV upright, no sound") << "phone.mov" << QSize(240, 320) << false << QStringList() << 30 << h264;
    QTest::newRow("odd size, 4:4:4, MKV") << "odd.mkv" << QSize(321, 241) << true
                                          << QStringList{"-vf", "scale=321:241", "-pix_fmt", "yuv444p"} << 25 << h264;
    QTest::newRow("60 fps into Sorenson Spark with MP3") << "fast.mp4" << QSize(320, 180) << true << QStringList()
                                                         << 60 << spark;
}

void TestVideoCore::conversions()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    QFETCH(bool, sound);
    QFETCH(QStringList, extra);
    QFETCH(int, rate);
    QFETCH(int, codec);
    const QString source = m_dir.filePath(name);
    QVERIFY(testing::makeMovie(source, size, 1.5, sound, extra, rate));
    const MovieProbe probe = probeMovie(source);
    QVERIFY2(probe.ok(), qPrintable(probe.error));
    QCOMPARE(probe.movie.frameSize, size);
    QCOMPARE(probe.movie.hasAudio, sound);
    QVERIFY(qAbs(probe.movie.seconds - 1.5) < 0.1);

    QTemporaryDir out;
    ConversionRequest request;
    request.source = source;
    request.movie = probe.movie;
    request.settings.codec = VideoCodec(codec);
    request.settings.rungs = defaultLadder(probe.movie, request.settings.codec);
    QCOMPARE(request.settings.rungs.size(), 3);
    for (int i = 0; i < request.settings.rungs.size(); ++i)
        request.outputs << out.filePath(QStringLiteral("vstream_%1.flv").arg(i));
    request.thumbnail = out.filePath("vthumb.jpg");
    const ConversionOutcome outcome = runConversion(request);
    QVERIFY2(outcome.ok(), qPrintable(outcome.errorPath + ": " + outcome.error));
    QCOMPARE(outcome.streams.size(), 3);
    int previous = std::numeric_limits<int>::max();
    for (const ConvertedStream &made : outcome.streams) {
        // What the gallery's viewer and our own windows read of it.
        int w = 0, h = 0, bitrate = 0;
        readFLVMetadata(made.path, w, h, bitrate);
        QCOMPARE(QSize(w, h), made.size);
        QCOMPARE(bitrate, made.bitrate);
        QVERIFY(bitrate > 0 && bitrate <= previous);
        previous = bitrate;
        const QByteArray head = readBytes(made.path).left(1024);
        QCOMPARE(head.at(4), char(sound ? 0x05 : 0x01));
        QCOMPARE(head.contains("audiodatarate"), sound);
        QVERIFY(head.contains("duration"));
        QVERIFY(qAbs(flvDurationMs(made.path) - 1500) < 150);
        const FLVTagMetadata tag = readFLVTagMetadata(made.path);
        QCOMPARE(QSize(tag.width, tag.height), made.size);
    }
    QCOMPARE(outcome.streams.first().size, request.settings.rungs.first().size);
    // The codecs the tags carry: H.264 + AAC or Spark + MP3.
    const QByteArray flv = readBytes(outcome.streams.first().path);
    int videoCodec = -1, audioCodec = -1;
    for (qsizetype at = 13; at + 12 <= flv.size() && (videoCodec < 0 || (sound && audioCodec < 0));) {
        const int body = (uchar(flv[at + 1]) << 16) | (uchar(flv[at + 2]) << 8) | uchar(flv[at + 3]);
        if (flv[at] == 9 && videoCodec < 0)
            videoCodec = uchar(flv[at + 11]) & 0x0f;
        if (flv[at] == 8 && audioCodec < 0)
            audioCodec = uchar(flv[at + 11]) >> 4;
        at += 11 + body + 4;
    }
    const bool h264 = codec == int(VideoCodec::H264);
    QCOMPARE(videoCodec, h264 ? 7 : 2);
    QCOMPARE(audioCodec, sound ? (h264 ? 10 : 2) : -1);

    // The thumbnail: a frame a third of the way in at the stored size.
    QCOMPARE(outcome.thumbnail, request.thumbnail);
    QCOMPARE(QImageReader(outcome.thumbnail).size(), QSize(120, 90));
    const QImage thumb(outcome.thumbnail);
    QSet<QRgb> colours;
    for (int y = 0; y < thumb.height(); y += 6)
        for (int x = 0; x < thumb.width(); x += 6)
            colours.insert(thumb.pixel(x, y) & 0xC0C0C0);
    QVERIFY2(colours.size() >= 4, "the frame is a picture, not a blank");
    QCOMPARE(filesIn(out.path()).size(), 4); // no temporary file left
}

void TestVideoCore::conversionsThatCannotBeDone()
{
    // Not a movie, and sound without a picture: refused with the reason.
    QVERIFY(writeBytes(m_dir.filePath("letter.mp4"), QByteArray("Dear friend, this is not a movie.\n").repeated(50)));
    const MovieProbe letter = probeMovie(m_dir.filePath("letter.mp4"));
    QVERIFY(!letter.ok());
    QVERIFY2(letter.error.contains("cannot be read as a movie"), qPrintable(letter.error));
    QVERIFY(testing::ffmpeg({"-f", "lavfi", "-i", "sine=frequency=330", "-t", "1", "-c:a", "aac",
                             m_dir.filePath("song.m4a")}));
    const MovieProbe song = probeMovie(m_dir.filePath("song.m4a"));
    QVERIFY2(song.error.contains("sound only"), qPrintable(song.error));

    const QString source = m_dir.filePath("stopped.mp4");
    QVERIFY(testing::makeMovie(source, {320, 240}, 3, true));
    const MovieProbe probe = probeMovie(source);
    QVERIFY(probe.ok());
    QTemporaryDir out;
    ConversionRequest request;
    request.source = source;
    request.movie = probe.movie;
    request.settings.rungs = defaultLadder(probe.movie, VideoCodec::H264);
    for (int i = 0; i < request.settings.rungs.size(); ++i)
        request.outputs << out.filePath(QStringLiteral("s%1.flv").arg(i));
    request.thumbnail = out.filePath("t.jpg");

    // Stopped in the middle: nothing at all is left, not even a temporary file.
    setConversionDelayForTesting(40);
    const ConversionOutcome stopped = runConversion(request, true);
    setConversionDelayForTesting(0);
    QVERIFY(stopped.stopped);
    QVERIFY(stopped.streams.isEmpty());
    QCOMPARE(filesIn(out.path()), QStringList());

    // A name already taken is never overwritten; what was made goes again.
    QVERIFY(writeBytes(request.outputs.last(), "someone else's"));
    const ConversionOutcome taken = runConversion(request);
    QVERIFY(!taken.ok());
    QCOMPARE(taken.errorPath, request.outputs.last());
    QVERIFY(taken.error.contains("exists"));
    QCOMPARE(filesIn(out.path()), QStringList{"s2.flv"});
    QCOMPARE(readBytes(request.outputs.last()), QByteArray("someone else's"));
}

// Run in a child whose GStreamer sees every plug-in but x264.
void TestVideoCore::missingPlugInIsNamed()
{
    if (qEnvironmentVariableIsSet("QM_TEST_WITHOUT_X264")) {
        const QStringList missing = missingPlugins(VideoCodec::H264, true);
        QCOMPARE(missing, QStringList{"x264enc (gstreamer1.0-plugins-ugly)"});
        QVERIFY(missingPlugins(VideoCodec::Spark, true).isEmpty());
        ConversionRequest request;
        request.source = qEnvironmentVariable("QM_TEST_SOURCE");
        const MovieProbe probe = probeMovie(request.source);
        QVERIFY2(probe.ok(), qPrintable(probe.error));
        request.movie = probe.movie;
        request.settings.rungs = defaultLadder(probe.movie, VideoCodec::H264);
        for (int i = 0; i < request.settings.rungs.size(); ++i)
            request.outputs << m_dir.filePath(QStringLiteral("never%1.flv").arg(i));
        const ConversionOutcome outcome = runConversion(request);
        QVERIFY(outcome.error.contains("gstreamer1.0-plugins-ugly"));
        QCOMPARE(filesIn(m_dir.path()).filter("never"), QStringList());
        return;
    }
    const QString plugins = QStringLiteral("/usr/lib/x86_64-linux-gnu/gstreamer-1.0");
    if (!QFileInfo::exists(plugins + "/libgstx264.so"))
        QSKIP("x264 is not installed here, so there is nothing to take away");
    const QString source = m_dir.filePath("child.mp4");
    QVERIFY(testing::makeMovie(source, {160, 120}, 0.5, true));
    const QString limited = m_dir.filePath("plugins");
    QDir().mkpath(limited);
    for (const QFileInfo &f : QDir(plugins).entryInfoList({"*.so"}, QDir::Files))
        if (f.fileName() != "libgstx264.so")
            QFile::link(f.absoluteFilePath(), limited + "/" + f.fileName());
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QM_TEST_WITHOUT_X264", "1");
    env.insert("QM_TEST_SOURCE", source);
    env.insert("GST_PLUGIN_SYSTEM_PATH_1_0", limited);
    env.insert("GST_REGISTRY_1_0", m_dir.filePath("registry.bin"));
    env.remove("GST_PLUGIN_PATH_1_0");
    env.remove("GST_PLUGIN_PATH");
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {"missingPlugInIsNamed"});
    QVERIFY(child.waitForFinished(120000));
    QVERIFY2(child.exitCode() == 0, child.readAllStandardOutput().constData());
}

QTEST_GUILESS_MAIN(TestVideoCore)
#include "tst_videocore.moc"
