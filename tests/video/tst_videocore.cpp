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
#include <QRegularExpression>
#include <QStandardPaths>
#include <QImageReader>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>

using namespace qm;
using testing::readBytes;
using testing::writeBytes;

namespace {

constexpr int kIntMax = std::numeric_limits<int>::max();

// An AMF-like property: name, a type byte, the big-endian 8-byte double.
QByteArray amfProperty(const char *name, double value)
{
    quint64 bits;
    std::memcpy(&bits, &value, 8);
    QByteArray number(8, '\0');
    qToBigEndian(bits, number.data());
    return QByteArray(name) + char(0) + number;
}

// Width, height and bitrate as the first-kilobyte scan leaves 7, 8 and 99.
QList<int> scan(const QString &path)
{
    int w = 7, h = 8, rate = 99;
    readFLVMetadata(path, w, h, rate);
    return {w, h, rate};
}

int tagBody(const QByteArray &flv, qsizetype at)
{
    return (uchar(flv[at + 1]) << 16) | (uchar(flv[at + 2]) << 8) | uchar(flv[at + 3]);
}

// The default streams of `source` into `dir`, with a thumbnail.
ConversionRequest conversionRequest(const QString &source, const QString &dir, VideoCodec codec = VideoCodec::H264)
{
    ConversionRequest request;
    request.source = source;
    request.movie = probeMovie(source).movie;
    request.settings.codec = codec;
    request.settings.rungs = defaultLadder(request.movie, codec);
    for (int i = 0; i < request.settings.rungs.size(); ++i)
        request.outputs << QDir(dir).filePath(QStringLiteral("vstream_%1.flv").arg(i));
    request.thumbnail = QDir(dir).filePath("vthumb.jpg");
    return request;
}

// Runs a conversion as the import window does: a job on its own thread.
ConversionOutcome runConversion(const ConversionRequest &request)
{
    ConversionOutcome outcome;
    Job job(QStringLiteral("Converting"), [&](JobControl &control) { outcome = convertMovie(request, control); });
    QEventLoop loop;
    QObject::connect(&job, &Job::finished, &loop, &QEventLoop::quit);
    job.start();
    loop.exec();
    return outcome;
}

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

// An AMF0 value as players read it (numbers, booleans, strings, objects and
// arrays); `at` moves past it.
QVariant amfValue(const QByteArray &b, qsizetype &at)
{
    if (at >= b.size())
        return {};
    auto u16 = [&b](qsizetype i) { return qsizetype(qFromBigEndian<quint16>(b.constData() + i)); };
    auto name = [&]() {
        const qsizetype n = u16(at);
        const QString text = QString::fromUtf8(b.mid(at + 2, n));
        at += 2 + n;
        return text;
    };
    auto properties = [&]() {
        QVariantMap map;
        while (at + 3 <= b.size() && !(u16(at) == 0 && b.at(at + 2) == 9)) {
            const QString key = name();
            map.insert(key, amfValue(b, at));
        }
        at += 3;
        return map;
    };
    const int type = b.at(at++);
    switch (type) {
    case 0: {
        quint64 bits = qFromBigEndian<quint64>(b.constData() + at);
        double v;
        std::memcpy(&v, &bits, 8);
        at += 8;
        return v;
    }
    case 1:
        return b.at(at++) != 0;
    case 2:
        return name();
    case 3:
        return properties();
    case 8:
        at += 4;
        return properties();
    case 10: {
        const quint32 n = qFromBigEndian<quint32>(b.constData() + at);
        at += 4;
        QVariantList list;
        for (quint32 i = 0; i < n && at < b.size(); ++i)
            list << amfValue(b, at);
        return list;
    }
    default:
        at = b.size();
        return {};
    }
}

QVariantMap onMetaData(const QByteArray &flv)
{
    const QList<testing::FLVTag> tags = testing::flvTags(flv);
    if (tags.isEmpty() || tags.first().type != 18)
        return {};
    qsizetype at = 0;
    if (amfValue(tags.first().body, at).toString() != "onMetaData")
        return {};
    return amfValue(tags.first().body, at).toMap();
}

// What players and flvmeta rely on in a stream we made: an index with every
// picture that starts a group (and nothing else) at its time and the place
// of its tag, the file's size, and a file flvmeta finds no fault with.
void checkStream(const QString &path)
{
    const QByteArray flv = readBytes(path);
    const QVariantMap meta = onMetaData(flv);
    QVERIFY2(!meta.isEmpty(), qPrintable(path));
    QCOMPARE(meta.value("filesize").toDouble(), double(flv.size()));
    QVariantList times, positions;
    for (const testing::FLVTag &t : testing::flvTags(flv)) {
        const bool key = t.type == 9 && t.body.size() > 1 && (uchar(t.body.at(0)) >> 4) == 1;
        if (key && !((t.body.at(0) & 0x0f) == 7 && t.body.at(1) != 1)) {
            times << t.ms / 1000.0;
            positions << double(t.offset);
        }
    }
    QVERIFY(!times.isEmpty());
    const QVariantMap index = meta.value("keyframes").toMap();
    QCOMPARE(index.value("times").toList(), times);
    QCOMPARE(index.value("filepositions").toList(), positions);
    if (QStandardPaths::findExecutable("flvmeta").isEmpty())
        return;
    QProcess check;
    check.start("flvmeta", {"--check", path});
    QVERIFY(check.waitForFinished(60000));
    const QString report = QString::fromUtf8(check.readAllStandardOutput() + check.readAllStandardError());
    QVERIFY2(check.exitCode() == 0 && report.contains(QRegularExpression("(^|\\s)0 error\\(s\\)")), qPrintable(report));
    // Its warnings we differ on: data rates it counts in units of 1024 bits,
    // and for H.264 the codec's header and end tags, which it counts as
    // pictures and keyframes.
    const bool h264 = meta.value("videocodecid").toInt() == 7;
    for (const QString &line : report.split('\n')) {
        if (line.contains("warning W"))
            QVERIFY2(line.contains(QRegularExpression("W80062: (video|audio)datarate should be"))
                         || (h264 && line.contains(QRegularExpression("W81071|W80062: framerate should be"))),
                     qPrintable(line));
    }
}

} // namespace

class TestVideoCore : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void firstKilobyte_data();
    void firstKilobyte();
    void filesFromFFmpeg();
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
    void conversions_data();
    void conversions();
    void conversionsThatCannotBeDone();
    void uprightFromEveryDisplayMatrix_data();
    void uprightFromEveryDisplayMatrix();
    void rateAskedOnDetailedFootage_data();
    void rateAskedOnDetailedFootage();
    void honestLengths();
    void cameraFootage();
    void flvFilesAreReadBeforeTheyAreTaken();
    void missingPlugInIsNamed();

private:
    QTemporaryDir m_dir;
    QString m_spark; // one second of Sorenson Spark with MP3
    QString m_bare;  // the same without metadata, so without data rates
};

void TestVideoCore::initTestCase()
{
    qputenv("XDG_CACHE_HOME", m_dir.filePath("cache").toLocal8Bit());
    m_spark = m_dir.filePath("spark mp3 \u00e9t\u00e9.flv");
    m_bare = m_dir.filePath("no rates.flv");
    QVERIFY(testing::makeFLV(m_spark, {320, 240}, 400, false, 1.0));
    QVERIFY(testing::makeFLV(m_bare, {320, 240}, 300, false, 1.0, {"-flvflags", "no_metadata"}));
}

void TestVideoCore::firstKilobyte_data()
{
    QTest::addColumn<QByteArray>("bytes"); // null: no file at all
    QTest::addColumn<QList<int>>("found");
    const double huge = 1e300;
    QTest::newRow("rates truncated before they are added: 300 + 64")
        << QByteArray(QByteArray("FLV", 3) + QByteArray(40, '\0') + amfProperty("videodatarate", 300.9)
                      + amfProperty("audiodatarate", 64.9) + amfProperty("width", 640.7) + amfProperty("height", 480.2))
        << QList<int>{640, 480, 364};
    QTest::newRow("no size: the caller's stays, the bitrate is always set")
        << QByteArray(QByteArray(20, 'x') + amfProperty("videodatarate", 500)) << QList<int>{7, 8, 500};
    QTest::newRow("past byte 999 nothing is seen")
        << QByteArray(QByteArray(1000, ' ') + amfProperty("videodatarate", 500)) << QList<int>{7, 8, 0};
    QTest::newRow("later matches win, inside longer names too")
        << QByteArray(amfProperty("widthX", 10) + amfProperty("width", 20) + amfProperty("xheight", 30))
        << QList<int>{20, 30, 0};
    QTest::newRow("a name at 999 with its value in the kilobyte")
        << QByteArray(QByteArray(999, ' ') + amfProperty("width", 77)) << QList<int>{77, 8, 0};
    QTest::newRow("a value cut short by the file's end")
        << QByteArray(QByteArray(10, ' ') + amfProperty("width", 5).chopped(1)) << QList<int>{7, 8, 0};
    QTest::newRow("values no int can hold")
        << QByteArray(amfProperty("width", std::nan("")) + amfProperty("height", -huge)
                      + amfProperty("videodatarate", huge) + amfProperty("audiodatarate", huge))
        << QList<int>{0, std::numeric_limits<int>::min(), kIntMax};
    QTest::newRow("a file that cannot be opened") << QByteArray() << QList<int>{7, 8, 0};
}

void TestVideoCore::firstKilobyte()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<int>, found);
    const QString path = m_dir.filePath(bytes.isNull() ? "missing.flv" : "crafted.flv");
    QVERIFY(bytes.isNull() || writeBytes(path, bytes));
    QCOMPARE(scan(path), found);
}

void TestVideoCore::filesFromFFmpeg()
{
    // A muxer's metadata: size and rates in the first kilobyte and in the tag.
    const QList<int> found = scan(m_spark);
    QVERIFY2(found[0] == 320 && found[1] == 240 && found[2] > 300 && found[2] < 600,
             qPrintable(QStringLiteral("%1 x %2, %3 kbps").arg(found[0]).arg(found[1]).arg(found[2])));
    const FLVTagMetadata tag = readFLVTagMetadata(m_spark);
    QVERIFY(tag.found);
    QCOMPARE((QList<int>{tag.width, tag.height, tag.bitrate}), found);

    // No metadata: the rate comes from the size and the length, the length
    // from the last tag; a file cut short does not end on a tag, so nothing is guessed.
    QCOMPARE(scan(m_bare), (QList<int>{7, 8, 0}));
    QVERIFY(!readFLVTagMetadata(m_bare).found);
    const qint64 ms = flvDurationMs(m_bare);
    QVERIFY2(ms > 900 && ms < 1100, qPrintable(QString::number(ms)));
    const int estimate = estimatedFLVBitrate(m_bare);
    QVERIFY2(estimate > 250 && estimate < 600, qPrintable(QString::number(estimate)));
    const QString cut = m_dir.filePath("cut.flv");
    QVERIFY(writeBytes(cut, readBytes(m_bare).chopped(7)));
    QCOMPARE(flvDurationMs(cut), 0);
    QCOMPARE(estimatedFLVBitrate(cut), 0);
    // A player's reported length stands in; a huge file over a tiny length stays in range.
    QCOMPARE(estimatedFLVBitrate(cut, 1000), int(QFileInfo(cut).size() * 8 / 1000));
    QCOMPARE(bitrateFromSize(qint64(1) << 40, 1), std::numeric_limits<int>::max());
    QCOMPARE(bitrateFromSize(std::numeric_limits<qint64>::max(), 3), std::numeric_limits<int>::max());
    QCOMPARE(bitrateFromSize(1000, 0), 0);
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
        scan(path);
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
    // Each field counts as far as it is a number; too few fields change nothing.
    const QList<std::pair<QString, QList<int>>> cases{{"640|480|700", {640, 480, 700}},
                                                      {"640.5|480|fast", {640, 480, 0}},
                                                      {"  +12px| -3|99999999999|extra", {12, -3, kIntMax}},
                                                      {"640|480", {1, 2, 3}},
                                                      {"5|6|-", {5, 6, 0}}};
    for (const auto &[message, expected] : cases) {
        int w = 1, h = 2, rate = 3;
        QCOMPARE(parseMetadataMessage(message, w, h, rate), expected != QList<int>({1, 2, 3}));
        QCOMPARE((QList<int>{w, h, rate}), expected);
    }
}

void TestVideoCore::playerPages()
{
    QCOMPARE(percentEscape(QStringLiteral("/a b/\"q\"&x?#%")), QStringLiteral("/a%20b/%22q%22%26x%3F%23%25"));
    QVERIFY(moviePathFromPage(QStringLiteral("<html>nothing</html>")).isEmpty());

    // The page lies in the cache folder and gives back the movie, whatever its name holds.
    const QString movie = m_dir.filePath("my clip ##FVARS## \u00fc&\"x\".flv");
    const PreparedPlayerPage prepared = preparePlayerPage(movie);
    QVERIFY2(prepared.written, qPrintable(prepared.error));
    QCOMPARE(prepared.path, playerCacheFolder() + "/playflv.html");
    QVERIFY(prepared.path.startsWith(m_dir.filePath("cache")));
    QCOMPARE(moviePathFromPage(testing::readFile(prepared.path)), movie);
}

void TestVideoCore::captureArithmetic_data()
{
    QTest::addColumn<QSize>("movie");
    QTest::addColumn<QRect>("expected"); // lower-left corner from the view's lower left, and size
    QTest::newRow("320 x 240") << QSize(320, 240) << QRect(140, 150, 320, 240);
    QTest::newRow("640 x 480: the whole area") << QSize(640, 480) << QRect(0, 70, 600, 400);
    QTest::newRow("321 wide") << QSize(321, 240) << QRect(139, 150, 321, 240);
    QTest::newRow("tall") << QSize(200, 500) << QRect(200, 70, 200, 400);
}

void TestVideoCore::captureArithmetic()
{
    QFETCH(QSize, movie);
    QFETCH(QRect, expected);
    // A view 520 high; the capture measured from its lower left.
    const QSize view(640, 520);
    const QRect r = captureRectInView(view, movie.width(), movie.height());
    QCOMPARE(QRect(r.x(), view.height() - (r.y() + r.height()), r.width(), r.height()), expected);
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
    QTest::addColumn<QRectF>("start"); // its shape is the ratio kept
    QTest::addColumn<QPointF>("press");
    QTest::addColumn<QPointF>("drag");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QRectF>("expected");
    const auto square = [](qreal x, qreal y, qreal side) { return QRectF(x, y, side, side); };
    const QRectF r = square(100, 60, 120);
    QTest::newRow("corner: right edge, 20 up") << r << QPointF(220, 80) << QPointF(220, 80) << "resize" << r;
    QTest::newRow("20.5 up moves") << r << QPointF(220, 80.5) << QPointF(221.9, 81.5) << "move" << square(101, 61, 120);
    QTest::newRow("outside: nothing") << r << QPointF(50, 50) << QPointF(90, 90) << "none" << r;
    QTest::newRow("stops at the left") << r << QPointF(150, 100) << QPointF(0, 100) << "move" << square(0, 60, 120);
    QTest::newRow("stops at the top") << r << QPointF(150, 100) << QPointF(150, 900) << "move" << square(100, 120, 120);
    const QRectF wide(0, 0, 400, 100);
    QTest::newRow("wider than the image") << wide << QPointF(200, 50) << QPointF(260, 50) << "move" << wide;
    QTest::newRow("10 high: 40 x 40") << r << QPointF(215, 65) << QPointF(215, 175) << "resize" << square(100, 140, 40);
    QTest::newRow("larger: same top") << r << QPointF(215, 65) << QPointF(215, 35) << "resize" << square(100, 30, 150);
    QTest::newRow("up to the right") << QRectF(200, 100, 80, 40) << QPointF(275, 105) << QPointF(275, 0) << "resize"
                                     << QRectF(200, 80, 120, 60);
    QTest::newRow("up to the bottom") << r << QPointF(215, 65) << QPointF(215, -300) << "resize" << square(100, 0, 180);
}

void TestVideoCore::cropMouse()
{
    QFETCH(QRectF, start);
    QFETCH(QPointF, press);
    QFETCH(QPointF, drag);
    QFETCH(QString, mode);
    QFETCH(QRectF, expected);
    CropSelection s;
    s.setImageRect(QRectF(0, 0, 320, 240), QSizeF(320, 240));
    const float ratio = float(start.width() / start.height());
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
    QTest::addColumn<QString>("streams"); // size@kbps of each, then their frame rate
    const int h264 = int(VideoCodec::H264), spark = int(VideoCodec::Spark);
    QTest::newRow("1080p") << QSize(1920, 1080) << 30 << h264 << "600x336@750 450x252@400 300x168@200 30fps";
    QTest::newRow("1080p Spark: about twice the rate") << QSize(1920, 1080) << 30 << spark
                                                       << "600x336@1450 450x252@800 300x168@350 30fps";
    QTest::newRow("phone upright at 60 fps") << QSize(1080, 1920) << 60 << h264
                                             << "224x400@300 168x300@200 112x200@100 30fps";
    QTest::newRow("odd and small: never enlarged") << QSize(321, 241) << 25 << h264
                                                   << "320x240@250 240x180@150 160x120@100 25fps";
    QTest::newRow("tiny: no copies too small to watch") << QSize(100, 80) << 0 << h264 << "100x80@100 74x60@100 0fps";
}

void TestVideoCore::ladder()
{
    QFETCH(QSize, source);
    QFETCH(int, fps);
    QFETCH(int, codec);
    QFETCH(QString, streams);
    SourceMovie movie;
    movie.frameSize = source;
    movie.frameRateNum = fps;
    movie.hasVideo = true;
    QStringList got;
    for (const StreamRung &r : defaultLadder(movie, VideoCodec(codec)))
        got << QStringLiteral("%1x%2@%3").arg(r.size.width()).arg(r.size.height()).arg(r.videoKbps);
    QCOMPARE(got.join(' ') + QStringLiteral(" %1fps").arg(streamFrameRate(movie).value()), streams);
    movie.frameRateNum = 60000;
    movie.frameRateDen = 1001;
    QVERIFY(qAbs(streamFrameRate(movie).value() - 29.97) < 0.01);
}

void TestVideoCore::flvWriterPutsOurHeadOnAMuxersStream()
{
    // ffmpeg's FLV stands for the muxer's output, handed over in uneven pieces:
    // its own metadata tag goes, ours stands at the head, every other tag passes unchanged.
    const QByteArray bytes = readBytes(m_spark);
    const QString out = m_dir.filePath("ours.flv");
    const FLVStreamWriter::Header header{320, 240, 15, 2, true, 2, 22050, false};
    {
        FileWriter file(out, FileWriter::Mode::CreateNew);
        QVERIFY(file.open());
        FLVStreamWriter flv(file, header);
        QRandomGenerator rng(5);
        for (qsizetype at = 0, n = 0; at < bytes.size(); at += n) {
            n = std::min<qsizetype>(bytes.size() - at, 1 + rng.bounded(5000));
            QVERIFY(flv.append(QByteArrayView(bytes.constData() + at, n)));
        }
        QVERIFY2(flv.finish(), qPrintable(flv.error()));
        QVERIFY(file.commit());
        // What it measured of the stream: 1 s of 400 kbps Spark and 64 kbps MP3.
        const QString figures =
            QStringLiteral("%1 s, %2 + %3 kbps").arg(flv.seconds()).arg(flv.videoKbps()).arg(flv.audioKbps());
        QVERIFY2(flv.seconds() > 0.9 && flv.seconds() < 1.1 && flv.videoKbps() > 250 && flv.videoKbps() < 600
                     && flv.audioKbps() > 40 && flv.audioKbps() < 90, qPrintable(figures));
        QCOMPARE(scan(out), (QList<int>{320, 240, flv.bitrate()}));
    }
    // Every tag after the muxer's metadata passes unchanged and in order,
    // behind our head with its index.
    const QByteArray written = readBytes(out);
    const QList<testing::FLVTag> ours = testing::flvTags(written), theirs = testing::flvTags(bytes);
    QCOMPARE(theirs.first().type, 18);
    QCOMPARE(ours.size(), theirs.size());
    QVERIFY(written.mid(ours.at(1).offset) == bytes.mid(theirs.at(1).offset));
    checkStream(out);
    QCOMPARE(flvDurationMs(out), flvDurationMs(m_spark));
    QVERIFY(readFLVTagMetadata(out).found);

    // A rewrite past what was written is refused and leaves no file.
    FileWriter bad(m_dir.filePath("bad.flv"));
    QVERIFY(bad.open() && bad.write("FLV"));
    QVERIFY(!bad.writeAt(2, "xy"));
    QVERIFY(!bad.commit());
    QVERIFY(!QFile::exists(m_dir.filePath("bad.flv")));
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
    QTemporaryDir out;
    const ConversionRequest request = conversionRequest(source, out.path(), VideoCodec(codec));
    QCOMPARE(request.movie.frameSize, size);
    QCOMPARE(request.movie.hasAudio, sound);
    QVERIFY(qAbs(request.movie.seconds - 1.5) < 0.1);
    const ConversionOutcome outcome = runConversion(request);
    QVERIFY2(outcome.ok(), qPrintable(outcome.errorPath + ": " + outcome.error));
    QCOMPARE(outcome.streams.size(), request.outputs.size());
    for (int i = 0; i < outcome.streams.size(); ++i) {
        // What the gallery's viewer and our own windows read of it: the rate
        // the file really has, highest first.
        const ConvertedStream &made = outcome.streams.at(i);
        QCOMPARE(made.size, request.settings.rungs.at(i).size);
        QCOMPARE(scan(made.path), (QList<int>{made.size.width(), made.size.height(), made.bitrate}));
        const int measured = estimatedFLVBitrate(made.path);
        QVERIFY2(made.bitrate > 0.8 * measured && made.bitrate < 1.1 * measured,
                 qPrintable(QStringLiteral("%1 kbps in the file, %2 measured").arg(made.bitrate).arg(measured)));
        QVERIFY(i == 0 || made.bitrate <= outcome.streams.at(i - 1).bitrate);
        const QByteArray head = readBytes(made.path).left(1024);
        QCOMPARE(head.at(4), char(sound ? 0x05 : 0x01));
        QCOMPARE(head.contains("audiodatarate"), sound);
        QVERIFY(head.contains("duration"));
        QVERIFY(qAbs(flvDurationMs(made.path) - 1500) < 150);
        const FLVTagMetadata tag = readFLVTagMetadata(made.path);
        QCOMPARE(QSize(tag.width, tag.height), made.size);
    }
    // The codecs the tags carry: H.264 + AAC or Spark + MP3.
    const QByteArray flv = readBytes(outcome.streams.first().path);
    int videoCodec = -1, audioCodec = -1;
    for (qsizetype at = 13; at + 12 <= flv.size(); at += 11 + tagBody(flv, at) + 4) {
        if (flv[at] == 9 && videoCodec < 0)
            videoCodec = uchar(flv[at + 11]) & 0x0f;
        if (flv[at] == 8 && audioCodec < 0)
            audioCodec = uchar(flv[at + 11]) >> 4;
    }
    const bool h264 = codec == int(VideoCodec::H264);
    QCOMPARE(videoCodec, h264 ? 7 : 2);
    QCOMPARE(audioCodec, sound ? (h264 ? 10 : 2) : -1);

    // The thumbnail: a frame a third of the way in at the stored size.
    QCOMPARE(outcome.thumbnail, request.thumbnail);
    QCOMPARE(QImageReader(outcome.thumbnail).size(), QSize(120, 90));
    QVERIFY2(testing::look(QImage(outcome.thumbnail)).colours >= 4, "the frame is a picture, not a blank");
    QCOMPARE(filesIn(out.path()).size(), request.outputs.size() + 1); // no temporary file left
}

void TestVideoCore::conversionsThatCannotBeDone()
{
    // Not a movie, and sound without a picture: refused with the reason.
    QVERIFY(writeBytes(m_dir.filePath("letter.mp4"), QByteArray("Dear friend, this is not a movie.\n").repeated(50)));
    const MovieProbe letter = probeMovie(m_dir.filePath("letter.mp4"));
    QVERIFY2(!letter.ok() && letter.error.contains("cannot be read as a movie"), qPrintable(letter.error));
    QVERIFY(testing::ffmpeg({"-f", "lavfi", "-i", "sine=frequency=330", "-t", "1", "-c:a", "aac",
                             m_dir.filePath("song.m4a")}));
    const MovieProbe song = probeMovie(m_dir.filePath("song.m4a"));
    QVERIFY2(!song.ok() && song.error.contains("sound only"), qPrintable(song.error));

    const QString source = m_dir.filePath("taken.mp4");
    QVERIFY(testing::makeMovie(source, {320, 240}, 1, true));
    QTemporaryDir out;
    const ConversionRequest request = conversionRequest(source, out.path());
    QVERIFY(request.movie.hasVideo);

    // A name already taken is never overwritten; what was made goes again.
    QVERIFY(writeBytes(request.outputs.last(), "someone else's"));
    const ConversionOutcome taken = runConversion(request);
    QVERIFY(!taken.ok());
    QCOMPARE(taken.errorPath, request.outputs.last());
    QVERIFY(taken.error.contains("exists"));
    QCOMPARE(filesIn(out.path()), QStringList{QFileInfo(request.outputs.last()).fileName()});
    QCOMPARE(readBytes(request.outputs.last()), QByteArray("someone else's"));
}

void TestVideoCore::uprightFromEveryDisplayMatrix_data()
{
    QTest::addColumn<QList<int>>("matrix");
    QTest::addColumn<int>("codec");
    QTest::addColumn<QString>("corners"); // of the picture shown upright
    const int h264 = int(VideoCodec::H264), spark = int(VideoCodec::Spark);
    // Stored: red top left, blue top right.
    QTest::newRow("none") << QList<int>{1, 0, 0, 1} << h264 << "RB..";
    QTest::newRow("phone upright (-90)") << QList<int>{0, 1, -1, 0} << h264 << ".R.B";
    QTest::newRow("upside down") << QList<int>{-1, 0, 0, -1} << spark << "..BR";
    QTest::newRow("phone the other way (90)") << QList<int>{0, -1, 1, 0} << spark << "B.R.";
    QTest::newRow("front camera, mirrored") << QList<int>{-1, 0, 0, 1} << h264 << "BR..";
    QTest::newRow("flipped") << QList<int>{1, 0, 0, -1} << spark << "..RB";
    QTest::newRow("mirrored upright phone") << QList<int>{0, 1, 1, 0} << h264 << "R.B.";
    QTest::newRow("mirrored the other way") << QList<int>{0, -1, -1, 0} << spark << ".B.R";
}

void TestVideoCore::uprightFromEveryDisplayMatrix()
{
    QFETCH(QList<int>, matrix);
    QFETCH(int, codec);
    QFETCH(QString, corners);
    const QString source = m_dir.filePath(QStringLiteral("turned %1.mp4").arg(QTest::currentDataTag()));
    QVERIFY(testing::makeMarkerMovie(source, {160, 96}));
    QVERIFY(testing::setDisplayMatrix(source, matrix[0], matrix[1], matrix[2], matrix[3]));
    QTemporaryDir out;
    ConversionRequest request = conversionRequest(source, out.path(), VideoCodec(codec));
    const QSize upright = matrix[0] == 0 ? QSize(96, 160) : QSize(160, 96);
    QCOMPARE(request.movie.frameSize, upright);
    request.thumbnailSize = upright; // the whole frame, corners and all
    const ConversionOutcome outcome = runConversion(request);
    QVERIFY2(outcome.ok(), qPrintable(outcome.error));
    QCOMPARE(outcome.streams.size(), request.settings.rungs.size());
    for (int i = 0; i < outcome.streams.size(); ++i) {
        // Each stream as a player decodes it: the size its header and the
        // window say, the markers where they were filmed.
        const ConvertedStream &made = outcome.streams.at(i);
        const QImage picture = testing::firstPicture(made.path, out.filePath(QStringLiteral("%1.png").arg(i)));
        QCOMPARE(picture.size(), request.settings.rungs.at(request.outputs.indexOf(made.path)).size);
        QCOMPARE(made.size, picture.size());
        QCOMPARE(scan(made.path).mid(0, 2), (QList<int>{picture.width(), picture.height()}));
        QCOMPARE(testing::markerCorners(picture), corners);
        checkStream(made.path);
    }
    QCOMPARE(testing::markerCorners(QImage(outcome.thumbnail)), corners);
}

void TestVideoCore::rateAskedOnDetailedFootage_data()
{
    QTest::addColumn<int>("codec");
    QTest::newRow("H.264") << int(VideoCodec::H264);
    QTest::newRow("Sorenson Spark") << int(VideoCodec::Spark);
}

void TestVideoCore::rateAskedOnDetailedFootage()
{
    QFETCH(int, codec);
    // A busy picture with grain: more detail than any stream's rate can hold.
    const QString source = m_dir.filePath("detailed.mp4");
    if (!QFile::exists(source))
        QVERIFY(testing::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=640x360:rate=25,noise=alls=24:allf=t", "-t", "4",
                                 "-c:v", "libx264", "-preset", "ultrafast", "-crf", "16", "-pix_fmt", "yuv420p", source}));
    QTemporaryDir out;
    ConversionRequest request = conversionRequest(source, out.path(), VideoCodec(codec));
    request.thumbnail.clear();
    const ConversionOutcome outcome = runConversion(request);
    QVERIFY2(outcome.ok(), qPrintable(outcome.error));
    for (int i = 0; i < request.settings.rungs.size(); ++i) {
        // Measured from the stream's own packets.
        const int asked = request.settings.rungs.at(i).videoKbps;
        const double got = testing::measuredRates(request.outputs.at(i)).videoKbps;
        QVERIFY2(qAbs(got / asked - 1) <= 0.15, qPrintable(QStringLiteral("%1 kbps asked, %2 measured").arg(asked).arg(got)));
    }
}

void TestVideoCore::honestLengths()
{
    QTemporaryDir out;
    // A still picture at one frame a second: a few bytes a second, still a
    // stream, with a rate above nothing.
    const QString still = m_dir.filePath("still.mp4");
    QVERIFY(testing::ffmpeg({"-f", "lavfi", "-i", "color=c=black:s=160x120:r=1", "-t", "30", "-c:v", "libx264",
                             "-pix_fmt", "yuv420p", still}));
    ConversionRequest request = conversionRequest(still, out.path());
    request.settings.rungs = request.settings.rungs.mid(0, 1);
    request.outputs = request.outputs.mid(0, 1);
    ConversionOutcome outcome = runConversion(request);
    QVERIFY2(outcome.ok(), qPrintable(outcome.error));
    QVERIFY(testing::measuredRates(request.outputs.first()).videoKbps < 1);
    QVERIFY(outcome.streams.first().bitrate >= 1);
    QVERIFY(!outcome.endsEarly());
    outcome.removeFiles();

    // One frame: its own picture for the thumbnail, not the placeholder.
    const QString single = m_dir.filePath("single.mp4");
    QVERIFY(testing::makeMovie(single, {320, 240}, 1, false, {"-frames:v", "1"}));
    outcome = runConversion(conversionRequest(single, out.path()));
    QVERIFY2(outcome.ok(), qPrintable(outcome.error));
    QVERIFY(!outcome.thumbnail.isEmpty());
    QVERIFY(testing::look(QImage(outcome.thumbnail)).colours >= 4);
    outcome.removeFiles();

    // The length in the header is the pictures', to the millisecond; the
    // sound's times only go forward, up to its last frame.
    for (const VideoCodec codec : {VideoCodec::H264, VideoCodec::Spark}) {
        const QString two = m_dir.filePath("two seconds.mp4");
        QVERIFY(testing::makeMovie(two, {160, 120}, 2, false));
        request = conversionRequest(two, out.path(), codec);
        outcome = runConversion(request);
        QVERIFY2(outcome.ok(), qPrintable(outcome.error));
        const double seconds = onMetaData(readBytes(outcome.streams.first().path)).value("duration").toDouble();
        QVERIFY2(qAbs(seconds - 2.0) < 0.001, qPrintable(QString::number(seconds)));
        outcome.removeFiles();
        const QString sound = m_dir.filePath("sound.mp4");
        QVERIFY(testing::makeMovie(sound, {160, 120}, 2, true));
        outcome = runConversion(conversionRequest(sound, out.path(), codec));
        QVERIFY2(outcome.ok(), qPrintable(outcome.error));
        qint64 last = -1;
        for (const testing::FLVTag &t : testing::flvTags(readBytes(outcome.streams.first().path))) {
            if (t.type == 8 && !(t.body.size() > 1 && (uchar(t.body.at(0)) >> 4) == 10 && t.body.at(1) == 0)) {
                QVERIFY2(t.ms > last, qPrintable(QStringLiteral("%1 after %2").arg(t.ms).arg(last)));
                last = t.ms;
            }
        }
        QVERIFY2(last > 1900 && last < 2100, qPrintable(QString::number(last)));
        outcome.removeFiles();
    }

    // Cut in half: converted as far as it plays, and said so.
    for (const QString &kind : {QStringLiteral("mkv"), QStringLiteral("mp4")}) {
        const QString whole = m_dir.filePath("whole." + kind), cut = m_dir.filePath("cut." + kind);
        QVERIFY(testing::makeMovie(whole, {160, 120}, 6, true, {"-movflags", "+faststart"}));
        const QByteArray bytes = readBytes(whole);
        QVERIFY(testing::writeBytes(cut, bytes.left(bytes.size() / 2)));
        outcome = runConversion(conversionRequest(cut, out.path()));
        QVERIFY2(outcome.ok(), qPrintable(outcome.error));
        QVERIFY(qAbs(outcome.statedMs - 6000) < 100);
        QVERIFY2(outcome.endsEarly() && outcome.endsAtMs > 1500 && outcome.endsAtMs < 4500,
                 qPrintable(QString::number(outcome.endsAtMs)));
        QVERIFY(QFile::exists(outcome.streams.first().path));
        outcome.removeFiles();
        outcome = runConversion(conversionRequest(whole, out.path()));
        QVERIFY(outcome.ok() && !outcome.endsEarly());
        outcome.removeFiles();
    }
    QCOMPARE(filesIn(out.path()), QStringList());
}

namespace {

// The share of pixels whose row differs from both rows around it the same
// way: the teeth interlaced fields leave on anything that moves.
double combing(const QImage &image)
{
    int teeth = 0, n = 0;
    for (int y = 1; y + 1 < image.height(); ++y) {
        for (int x = 0; x < image.width(); x += 2, ++n) {
            const int a = qGray(image.pixel(x, y - 1)), b = qGray(image.pixel(x, y)), c = qGray(image.pixel(x, y + 1));
            if ((b - a) * (b - c) > 40 * 40)
                ++teeth;
        }
    }
    return n ? double(teeth) / n : 0;
}

} // namespace

void TestVideoCore::cameraFootage()
{
    QTemporaryDir out;
    // A camcorder's 50i transport stream: fields of moving pictures woven
    // together, with AC-3 sound.
    const QString mts = m_dir.filePath("camcorder.mts");
    QVERIFY(testing::ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=480x272:rate=50", "-f", "lavfi", "-i", "sine", "-t", "2",
                             "-vf", "tinterlace=mode=interleave_top,setfield=tff", "-c:v", "libx264", "-flags",
                             "+ildct+ilme", "-x264-params", "tff=1", "-pix_fmt", "yuv420p", "-c:a", "ac3", mts}));
    ConversionRequest request = conversionRequest(mts, out.path());
    QVERIFY(request.movie.interlaced);
    QCOMPARE(request.settings.rungs.first().size, QSize(480, 272)); // no scaling to hide the teeth
    ConversionOutcome outcome = runConversion(request);
    QVERIFY2(outcome.ok(), qPrintable(outcome.error));
    auto pictureAt = [&out](const QString &movie, const QString &name) {
        return testing::ffmpeg({"-i", movie, "-ss", "1", "-frames:v", "1", "-update", "1", out.filePath(name)})
                   ? QImage(out.filePath(name))
                   : QImage();
    };
    const double source = combing(pictureAt(mts, "source.png"));
    const double made = combing(pictureAt(request.outputs.first(), "made.png"));
    QVERIFY2(source > 0.005 && made < source / 4, qPrintable(QStringLiteral("%1 in the source, %2 made").arg(source).arg(made)));
    checkStream(request.outputs.first());
    outcome.removeFiles();

    // A Matroska file whose first video track is its cover picture: the movie is converted.
    const QString cover = m_dir.filePath("cover.png"), movie = m_dir.filePath("movie.mp4");
    const QString covered = m_dir.filePath("with cover.mkv");
    QVERIFY(testing::makeMarkerMovie(cover, {160, 96}, 0.1, {"-frames:v", "1", "-update", "1"}));
    QVERIFY(testing::makeMovie(movie, {320, 240}, 1, true));
    QVERIFY(testing::ffmpeg({"-i", cover, "-i", movie, "-map", "0", "-map", "1", "-c:v:0", "mjpeg", "-c:v:1", "copy",
                             "-c:a", "copy", "-disposition:v:0", "attached_pic", covered}));
    request = conversionRequest(covered, out.path());
    QCOMPARE(request.movie.frameSize, QSize(320, 240));
    outcome = runConversion(request);
    QVERIFY2(outcome.ok(), qPrintable(outcome.error));
    const QImage picture = testing::firstPicture(outcome.streams.first().path, out.filePath("covered.png"));
    QCOMPARE(picture.size(), QSize(320, 240));
    QVERIFY(testing::look(picture).colours >= 8); // the test pattern, not three colours of the cover
    QVERIFY(qAbs(flvDurationMs(outcome.streams.first().path) - 1000) < 100);
    outcome.removeFiles();
}

void TestVideoCore::flvFilesAreReadBeforeTheyAreTaken()
{
    const QString h264 = m_dir.filePath("h264.flv"), pcm = m_dir.filePath("pcm.flv"), song = m_dir.filePath("song.flv");
    const QString mp4 = m_dir.filePath("a movie.flv"), noise = m_dir.filePath("noise.flv");
    QVERIFY(testing::makeFLV(h264, {160, 120}, 200, true, 0.5));
    QVERIFY(testing::makeFLV(pcm, {160, 120}, 200, false, 0.5, {"-c:a", "pcm_s16le"}));
    QVERIFY(testing::makeFLV(song, {160, 120}, 200, false, 0.5, {"-vn"}));
    QVERIFY(testing::makeMovie(mp4, {160, 120}, 0.5, true, {"-f", "mp4"}));
    QByteArray random(4000, '\0');
    QRandomGenerator rng(3);
    for (char &c : random)
        c = char(rng.bounded(256));
    QVERIFY(writeBytes(noise, random));

    const QList<std::tuple<QString, bool, QString>> files{{m_spark, true, "Sorenson Spark with MP3 sound"},
                                                         {h264, true, "H.264 with AAC sound"},
                                                         {song, true, "sound only (MP3)"},
                                                         {pcm, false, "Sorenson Spark with PCM sound"},
                                                         {mp4, false, ""},
                                                         {noise, false, ""}};
    for (const auto &[path, plays, codecs] : files) {
        const FLVContent content = readFLVContent(path);
        QCOMPARE(content.flashPlays(), plays);
        QCOMPARE(content.isFLV, !codecs.isEmpty());
        if (content.isFLV)
            QCOMPARE(content.codecs(), codecs);
    }
    // What no Flash player plays is converted where it can be; the reason
    // for what cannot be reads as part of a sentence.
    QVERIFY(probeMovie(pcm).ok());
    QVERIFY(probeMovie(mp4).ok());
    const MovieProbe refused = probeMovie(noise);
    QVERIFY(!refused.ok());
    QVERIFY2(!refused.error.endsWith('.'), qPrintable(refused.error));
}

// Run in a child whose GStreamer sees every plug-in but x264.
void TestVideoCore::missingPlugInIsNamed()
{
    if (qEnvironmentVariableIsSet("QM_TEST_WITHOUT_X264")) {
        QCOMPARE(missingPlugins(VideoCodec::H264, true), QStringList{"x264enc (gstreamer1.0-plugins-ugly)"});
        QVERIFY(missingPlugins(VideoCodec::Spark, true).isEmpty());
        QTemporaryDir out;
        const ConversionRequest request = conversionRequest(qEnvironmentVariable("QM_TEST_SOURCE"), out.path());
        QVERIFY(request.movie.hasVideo);
        const ConversionOutcome outcome = runConversion(request);
        QVERIFY2(outcome.error.contains("gstreamer1.0-plugins-ugly"), qPrintable(outcome.error));
        QCOMPARE(filesIn(out.path()), QStringList());
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
