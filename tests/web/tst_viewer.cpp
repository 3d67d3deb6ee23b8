// The web viewer in Debian's Chromium, headless, driven by puppeteer-core:
// against the program's own preview server with a gallery made here, and,
// copied into a gallery by Add Web Viewer, against another static host.
// The browser side is web/test/viewer.test.mjs; each scenario's verdict
// comes back as one line.

#include "common/GalleryFixture.h"
#include "common/NodeScript.h"
#include "common/VideoFixtures.h"
#include "web/PreviewServer.h"
#include "web/WebViewer.h"

#include <QBuffer>
#include <QPainter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

using namespace testing;

namespace {

// A picture with a little light in it and its name, for the screenshots too.
QByteArray jpeg(QSize size, QColor colour, const QString &label = QString())
{
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient light(0, 0, size.width(), size.height());
    light.setColorAt(0, colour.lighter(170));
    light.setColorAt(1, colour.darker(130));
    p.fillRect(image.rect(), light);
    if (!label.isEmpty()) {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(size.height() / 8);
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(image.rect(), Qt::AlignCenter, label);
    }
    p.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 80);
    return bytes;
}

// Runs the browser on `scenarios`; the verdicts by scenario ("" when it passed).
QMap<QString, QString> runBrowser(const QString &base, const QString &expectations, const QStringList &scenarios,
                                  QString &output)
{
    // QM_VIEWER_SCENARIOS="photo video" runs only those, while working on them.
    const QStringList only = qEnvironmentVariable("QM_VIEWER_SCENARIOS").split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QStringList chosen;
    for (const QString &s : scenarios) {
        if (only.isEmpty() || only.contains(s))
            chosen << s;
    }
    if (chosen.isEmpty())
        return {};
    output = runNodeScript(QStringLiteral("test/viewer.test.mjs"), QStringList{base, expectations} + chosen);
    QMap<QString, QString> verdicts;
    static const QRegularExpression line(QStringLiteral("^(not )?ok - ([^:]+)(?:: (.*))?$"));
    for (const QString &l : output.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch m = line.match(l);
        if (m.hasMatch())
            verdicts.insert(m.captured(2), m.captured(1).isEmpty() ? QString() : m.captured(3));
    }
    return verdicts;
}

} // namespace

class ViewerTest : public QObject
{
    Q_OBJECT

    QTemporaryDir work;
    QMap<QString, QString> verdicts;
    QString output;

    void verdict(const QString &scenario)
    {
        const QString only = qEnvironmentVariable("QM_VIEWER_SCENARIOS");
        if (!only.isEmpty() && !only.split(QLatin1Char(' ')).contains(scenario))
            QSKIP("not among QM_VIEWER_SCENARIOS");
        if (!verdicts.contains(scenario))
            QFAIL(qPrintable(QStringLiteral("the browser did not report \"%1\":\n%2").arg(scenario, output)));
        QVERIFY2(verdicts.value(scenario).isEmpty(), qPrintable(verdicts.value(scenario)));
    }

    // The gallery the preview shows: a deep tree, an album of 5,000 items,
    // photos with every field, videos in H.264 and in Sorenson Spark.
    static void buildPreviewed(GalleryFixture &f)
    {
        auto thumb = [&](const QString &name, QColor c) {
            writeBytes(f.img(name), jpeg({120, 80}, c));
            return name;
        };
        auto photo = [&](qm::Album &album, const QString &key, const QString &title, QSize normal, bool large) {
            auto p = std::make_shared<qm::Photo>();
            p->setTitle(title);
            p->setImageFile("img_" + key + ".jpg");
            p->setSmallImageFile("img_" + key + "_sm.jpg");
            const QColor colour = QColor::fromHsv(int(qHash(key) % 360), 120, 170);
            writeBytes(f.img(p->imageFile()), jpeg(normal, colour, title));
            writeBytes(f.img(p->smallImageFile()), jpeg({150, 100}, colour, title));
            if (large) {
                p->setLargeImageFile("img_" + key + "_lg.jpg");
                writeBytes(f.img(p->largeImageFile()), jpeg({1600, 1200}, colour, title + " (large)"));
            }
            album.addItem(p);
            return p;
        };
        auto video = [&](qm::Album &album, const QString &title, const QString &thumbName,
                         const QList<std::pair<int, QString>> &streams) {
            auto v = std::make_shared<qm::Video>();
            v->setTitle(title);
            v->setThumbFile(thumb(thumbName, Qt::darkMagenta));
            for (const auto &[rate, file] : streams) {
                auto s = std::make_shared<qm::VideoStream>();
                s->setBitrate(rate);
                s->setFile(file);
                v->addStream(s);
            }
            album.addItem(v);
        };
        const QStringList seek{"-g", "15", "-flvflags", "add_keyframe_index"};
        QVERIFY(makeFLV(f.img("vstream_h264_640.flv"), {640, 480}, 800, true, 6.0, seek));
        QVERIFY(makeFLV(f.img("vstream_h264_320.flv"), {320, 240}, 300, true, 6.0, seek));
        QVERIFY(makeFLV(f.img("vstream_spark.flv"), {320, 240}, 400, false, 2.0));

        auto travels = f.collection("Travels");
        travels->setThumbFile(thumb("albthumb_t.jpg", Qt::darkYellow));
        auto europe = f.collection("Europe", travels.get());
        qm::AlbumCollection *level = europe.get();
        for (int i = 1; i <= 40; ++i)
            level = f.collection(QStringLiteral("Level %1").arg(i), level).get();
        auto deep = f.album("Deep", level);
        deep->setTitle("Deep album");
        photo(*deep, "deep", "Down here", {320, 240}, false);
        photo(*f.album("Alps", europe.get()), "alps", "Peak", {320, 240}, false);
        photo(*f.album("Lakes", travels.get()), "lake", "Lake", {320, 240}, false);

        auto big = f.album("Big");
        big->setThumbFile(thumb("albthumb_b.jpg", Qt::darkBlue));
        QList<QByteArray> smalls;
        for (int hue = 0; hue < 360; hue += 30)
            smalls << jpeg({150, 100}, QColor::fromHsv(hue, 110, 180));
        for (int i = 1; i <= 5000; ++i) {
            auto p = std::make_shared<qm::Photo>();
            const QString key = QStringLiteral("big_%1").arg(i, 4, 10, QLatin1Char('0'));
            p->setTitle(QStringLiteral("Photo %1").arg(i));
            p->setImageFile("img_" + key + ".jpg");
            p->setSmallImageFile("img_" + key + "_sm.jpg");
            writeBytes(f.img(p->smallImageFile()), smalls[i % smalls.size()]);
            big->addItem(p);
        }

        auto holiday = f.album("Holiday");
        holiday->setDescription("Sun & sea <warm>");
        holiday->setThumbFile(thumb("albthumb_h.jpg", Qt::darkRed));
        auto p1 = photo(*holiday, "h1", "Beach", {320, 240}, false);
        p1->setDate("2008-03-06");
        p1->setLocation("Nice");
        auto p2 = photo(*holiday, "h2", "Harbour", {320, 240}, false);
        p2->setDate("7 March 2008");
        p2->setLocation("Porto");
        p2->setDescription("Boats waiting\nfor the tide");
        auto p3 = photo(*holiday, "h3", "Bridge", {320, 240}, true);
        p3->setDate("2008-03-07");
        auto p4 = photo(*holiday, "h4", "", {320, 240}, true);
        p4->setLocation("Lisbon");
        p4->setDescription("A quiet street");
        video(*holiday, "Clip", "vthumb_clip.jpg", {{300, "vstream_h264_320.flv"}});

        auto films = f.album("Films");
        films->setThumbFile(thumb("albthumb_f.jpg", Qt::darkMagenta));
        video(*films, "H.264 clip", "vthumb_h264.jpg", {{800, "vstream_h264_640.flv"}, {300, "vstream_h264_320.flv"}});
        video(*films, "Old clip", "vthumb_spark.jpg", {{400, "vstream_spark.flv"}});
        f.ready();
    }

    // Files as other tools and older versions wrote them.
    static void writeByHand(GalleryFixture &f)
    {
        writeBytes(f.xml("albums.xml"), R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- kept by hand -->
<orvane version="2.0">
  <collection>
    <album>
      <title>Fish &amp; Chips &lt;fresh&gt;</title>
      <description>Caf&#233; &#x2013; "quoted"</description>
      <thumb><url>thumb #1.jpg</url></thumb>
      <contentnumber>99</contentnumber>
      <contentxmlurl>album &#252;&amp;x #1.xml</contentxmlurl>
    </album>
    <collection>
      <title><![CDATA[Raw <cdata> & more]]></title>
      <unknown><title>not a title</title></unknown>
      <album>
        <title>Two files</title>
        <contentxmlurl>album_a.xml</contentxmlurl>
        <contentxmlurl>album_b.xml</contentxmlurl>
      </album>
      <album><title>Future</title><contentxmlurl>album_future.xml</contentxmlurl></album>
      <album><title>   </title><contentxmlurl>album_blank.xml</contentxmlurl></album>
    </collection>
  </collection>
</orvane>
)");
        writeBytes(f.xml(QString::fromUtf8("album ü&x #1.xml")), R"(<?xml version="1.0" encoding="UTF-8"?>
<orvane version="2.0">
  <picture>
    <title>Caf&#233; &amp; bar</title><date>2008-03-07</date><location>Z&#252;rich</location>
    <description>line one
line two</description>
    <image><url>my photo #1 100%.jpg</url></image>
    <smallimage><url>my photo #1 100%_sm.jpg</url></smallimage>
  </picture>
  <picture>
    <date/>
    <description>x &lt;y&gt;</description>
    <image><url></url></image>
    <smallimage><url>plus+sign.jpg</url></smallimage>
  </picture>
  <video><title>A video a 2.0 file cannot hold</title></video>
  <picture><title>Second form</title><date>7 March 2008</date><location/><description/></picture>
</orvane>
)");
        writeBytes(f.xml("album_a.xml"), R"(<?xml version="1.0" encoding="UTF-8"?>
<orvane version="2.1">
  <picture><title>From A</title><smallimage><url>plus+sign.jpg</url></smallimage></picture>
  <video><title>Clip A</title><thumb><url></url></thumb><video><stream bitrate=" 400kbit"><url>a.flv</url></stream></video></video>
</orvane>
)");
        writeBytes(f.xml("album_b.xml"), R"(<?xml version="1.0" encoding="UTF-8"?>
<orvane version="2.1"><picture><title>From B</title><date>2009-01-01</date></picture></orvane>
)");
        writeBytes(f.xml("album_future.xml"), R"(<?xml version="1.0"?><orvane version="3.0"><picture><title>?</title></picture></orvane>)");
        writeBytes(f.xml("album_blank.xml"), R"(<?xml version="1.0"?><orvane version="2.1"></orvane>)");
        for (const char *name : {"thumb #1.jpg", "my photo #1 100%.jpg", "my photo #1 100%_sm.jpg", "plus+sign.jpg"})
            writeBytes(f.img(QString::fromUtf8(name)), jpeg({150, 100}, Qt::gray));
    }

    // What the program itself reads from those files, for the browser to compare.
    static QJsonObject programReading(const qm::Data &data)
    {
        QJsonArray top, albums;
        for (const qm::NodePtr &n : data.albums())
            top.append(n->title());
        data.forEachNode([&](const qm::NodePtr &node) {
            if (!node->isAlbum())
                return true;
            const auto &album = static_cast<const qm::Album &>(*node);
            QJsonArray items;
            for (const qm::ItemPtr &item : album.items()) {
                const QString picture = item->isPhoto() ? static_cast<const qm::Photo &>(*item).smallImageFile()
                                                        : static_cast<const qm::Video &>(*item).thumbFile();
                items.append(QJsonObject{{"kind", item->isPhoto() ? "photo" : "video"}, {"title", item->title()},
                                         {"date", item->date()}, {"location", item->location()},
                                         {"description", item->description()}, {"image", picture}});
            }
            albums.append(QJsonObject{{"title", album.title()}, {"file", album.XMLFile()}, {"items", items}});
            return true;
        });
        return {{"top", top}, {"albums", albums}};
    }

private slots:
    void initTestCase()
    {
        if (!chromiumInstalled())
            QSKIP("chromium is not installed: the web viewer's browser tests are skipped");
        QVERIFY2(!qm::viewerSourceFolder().isEmpty(), "the viewer is not built");

        GalleryFixture previewed;
        // Named as a user would name it: the viewer's heading and address show it.
        const QString named = QFileInfo(previewed.prefs.orvaneFolder()).path() + "/Photos";
        QVERIFY(QDir().rename(previewed.prefs.orvaneFolder(), named));
        previewed.prefs.setOrvaneFolder(named);
        buildPreviewed(previewed);
        qm::PreviewServer server(qm::galleryXmlSource(previewed.gallery));
        QVERIFY(server.serve(previewed.prefs, qm::viewerSourceFolder()));
        const QJsonObject expected{{"top", QJsonArray{"Travels", "Big", "Holiday", "Films"}}};
        const QString expectFile = work.filePath("previewed.json");
        writeBytes(expectFile, QJsonDocument(expected).toJson());
        verdicts = runBrowser(server.viewerUrl().toString(), expectFile,
                              {"tree", "bigAlbum", "photo", "history", "video", "access"}, output);

        // Copied by Add Web Viewer, shown by a static host that is not ours.
        GalleryFixture copied;
        writeByHand(copied);
        copied.gallery.load();
        const QJsonObject reading = programReading(copied.data);
        const qm::ViewerPlan plan = qm::planWebViewer(qm::viewerSourceFolder(), copied.prefs.orvaneFolder());
        QVERIFY(plan.ok());
        QVERIFY(copied.gallery.changeFiles(QStringLiteral("Add Web Viewer"), plan.changes, plan.folder));
        const QString readingFile = work.filePath("copied.json");
        writeBytes(readingFile, QJsonDocument(reading).toJson());
        QProcess host;
        host.setProcessChannelMode(QProcess::MergedChannels);
        host.start(QStringLiteral("/usr/bin/python3"), {"-u", "-m", "http.server", "--bind", "127.0.0.1", "0",
                                                        "--directory", copied.prefs.orvaneFolder()});
        QString port;
        static const QRegularExpression serving(QStringLiteral("port (\\d+)"));
        QTRY_VERIFY_WITH_TIMEOUT(!(port = serving.match(QString::fromUtf8(host.peek(4096))).captured(1)).isEmpty(), 30000);
        QString copiedOutput;
        const QMap<QString, QString> more = runBrowser(QStringLiteral("http://127.0.0.1:%1/viewer/").arg(port),
                                                       readingFile, {"copied"}, copiedOutput);
        host.terminate();
        host.waitForFinished();
        for (auto it = more.begin(); it != more.end(); ++it)
            verdicts.insert(it.key(), it.value());
        output += copiedOutput;
        qInfo().noquote() << output.trimmed();
    }

    void tree() { verdict("tree"); }
    void albumOf5000Items() { verdict("bigAlbum"); }
    void photoAndNeighbours() { verdict("photo"); }
    void deepLinkReloadBackForward() { verdict("history"); }
    void videos() { verdict("video"); }
    void accessibility() { verdict("access"); }
    void noOtherHosts() { QVERIFY2(verdicts.size() > 0 && !output.contains("not ok - requests to other hosts"), qPrintable(output)); }
    void copiedViewerOnAnotherHost() { verdict("copied"); }
};

QTEST_MAIN(ViewerTest)

#include "tst_viewer.moc"
