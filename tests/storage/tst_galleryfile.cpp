#include "common/FullDisk.h"
#include "common/TestFiles.h"
#include "model/Album.h"
#include "model/AlbumCollection.h"
#include "model/Data.h"
#include "model/Photo.h"
#include "model/Video.h"
#include "model/VideoStream.h"
#include "storage/GalleryFile.h"
#include "storage/Preferences.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace qm;
using testing::readBytes;
using testing::writeBytes;

namespace {

// Carriage returns too: written raw, a reader would turn them into line feeds.
const QString kTricky =
    QStringLiteral("Caf\u00e9 & <b>\"quoted\"</b> 'x' \u65e5\u672c \U0001F600\r\nsecond line\ttab\r]]>");

std::shared_ptr<Photo> makePhoto(const QString &text, int n, bool large)
{
    auto p = std::make_shared<Photo>();
    p->setTitle(text + QString::number(n));
    p->setDate(QStringLiteral("2026-12-0%1").arg(n % 9));
    p->setLocation(text);
    p->setDescription(text + QStringLiteral("\n\nend"));
    p->setImageFile(QStringLiteral("img_%1.jpg").arg(n));
    p->setSmallImageFile(QStringLiteral("img_%1_small.jpg").arg(n));
    if (large)
        p->setLargeImageFile(QStringLiteral("img_%1_large.jpg").arg(n));
    return p;
}

std::shared_ptr<Video> makeVideo(const QString &text, QList<int> bitrates, bool thumb)
{
    auto v = std::make_shared<Video>();
    v->setTitle(text);
    v->setDescription(text);
    if (thumb)
        v->setThumbFile(QStringLiteral("vthumb_1.jpg"));
    for (int rate : bitrates) {
        auto s = std::make_shared<VideoStream>();
        s->setBitrate(rate);
        s->setFile(QStringLiteral("vstream_%1.flv").arg(rate));
        v->addStream(s);
    }
    return v;
}

AlbumPtr makeAlbum(const QString &title, const QString &file, AlbumCollection *parent)
{
    auto a = std::make_shared<Album>();
    a->setTitle(title);
    a->setDescription(title + QStringLiteral(" & more\nlines"));
    a->setXMLFile(file);
    a->setParentCollection(parent);
    return a;
}

CollectionPtr makeCollection(const QString &title, AlbumCollection *parent)
{
    auto c = std::make_shared<AlbumCollection>();
    c->setTitle(title);
    c->setParentCollection(parent);
    return c;
}

// A tree shaped like a real gallery: nested collections, albums with
// photos and videos, every text field holding hard characters.
void buildGallery(Data &data)
{
    auto top = makeAlbum(kTricky, QStringLiteral("album_1.xml"), nullptr);
    top->setThumbFile(QStringLiteral("athumb_1.jpg"));
    top->addItem(makePhoto(kTricky, 1, true));
    top->addItem(makeVideo(kTricky, {800, 400, 150}, true));
    top->addItem(makePhoto(kTricky, 2, false));
    top->addItem(makeVideo(QStringLiteral("no thumb"), {}, false));
    data.albums().append(top);

    auto travel = makeCollection(kTricky, nullptr);
    travel->setThumbFile(QStringLiteral("cthumb_1.jpg"));
    auto deeper = makeCollection(QStringLiteral("\u00c9t\u00e9"), travel.get());
    auto deepest = makeCollection(QString(), deeper.get()); // never titled
    auto inner = makeAlbum(QStringLiteral("Rome"), QStringLiteral("album_2.xml"), deepest.get());
    inner->addItem(makePhoto(QStringLiteral("r"), 3, true));
    deepest->addItem(inner);
    deeper->addItem(deepest);
    deeper->addItem(makeAlbum(QStringLiteral("empty"), QStringLiteral("album_3.xml"), deeper.get()));
    travel->addItem(deeper);
    data.albums().append(travel);
}

struct Gallery
{
    QTemporaryDir dir;
    QSettings settings{dir.filePath("prefs.ini"), QSettings::IniFormat};
    Preferences prefs{&settings};
    QString xml;
    QString index;

    // In a folder of its own, or in `root` (a tiny disk).
    explicit Gallery(const QString &root = QString())
    {
        const QString folder = root.isEmpty() ? dir.filePath("g") : root + "/g";
        QDir().mkpath(folder + "/xml");
        QDir().mkpath(folder + "/img");
        prefs.setOrvaneFolder(folder);
        xml = prefs.xmlFolder();
        index = prefs.albumsXMLFile();
    }

    // Every file of the xml folder and its bytes.
    QMap<QString, QByteArray> files() const
    {
        QMap<QString, QByteArray> out;
        for (const QString &name : QDir(xml).entryList(QDir::Files | QDir::Hidden | QDir::System))
            out.insert(name, readBytes(xml + "/" + name));
        return out;
    }
};

// Twenty albums with a photo each, saved.
void twentyAlbums(Gallery &g, Data &data)
{
    for (int i = 0; i < 20; ++i) {
        auto album = makeAlbum(QStringLiteral("album %1").arg(i), QStringLiteral("album_%1.xml").arg(i), nullptr);
        album->addItem(makePhoto(QStringLiteral("p"), i, true));
        data.albums().append(album);
    }
    GalleryFile(g.prefs).saveData(data);
}

// Renames every album and describes its photos at length: every file grows.
void renameAll(Data &data)
{
    for (const NodePtr &node : data.albums()) {
        node->setTitle(node->title() + QString(1000, u'x'));
        for (const ItemPtr &item : std::static_pointer_cast<Album>(node)->items())
            item->setDescription(QString(20000, u'd'));
    }
    data.setNeedsToSaveChanges(true);
}

QString failures(const SaveReport &report)
{
    QStringList lines;
    for (const FileProblem &p : report.failed)
        lines << QFileInfo(p.path).fileName() + ": " + p.reason;
    return lines.join('\n');
}

} // namespace

class TestGalleryFile : public QObject
{
    Q_OBJECT
private slots:
    void roundTripIsByteIdentical();
    void writesTheExactShape();
    void readerRules();
    void readerRules_data();
    void emptyAndNewGalleries();
    void filesNotWhollyReadAreKept_data();
    void filesNotWhollyReadAreKept();
    void failedSavesChangeNothing();
    void fullDisks();
    void albumFileNamesAreSettled();
};

void TestGalleryFile::roundTripIsByteIdentical()
{
    Gallery g;
    Data data;
    buildGallery(data);
    GalleryFile files(g.prefs);
    data.setNeedsToSaveChanges(true);
    QVERIFY(files.saveData(data).ok());
    QVERIFY(!data.needsToSaveChanges());
    const QByteArray index1 = readBytes(g.index);
    const QByteArray album1 = readBytes(g.xml + "/album_1.xml");
    const QByteArray album2 = readBytes(g.xml + "/album_2.xml");

    Data loaded;
    const LoadReport report = files.loadData(loaded);
    QVERIFY2(report.ok(), qPrintable(report.unreadable.value(0).reason));
    QCOMPARE(loaded.albums().size(), 2);
    auto top = std::static_pointer_cast<Album>(loaded.albums()[0]);
    QCOMPARE(top->title(), kTricky);
    QCOMPARE(top->thumbFile(), QStringLiteral("athumb_1.jpg"));
    QCOMPARE(top->items().size(), 4);
    auto p1 = std::static_pointer_cast<Photo>(top->items()[0]);
    QCOMPARE(p1->description(), kTricky + QStringLiteral("\n\nend"));
    QCOMPARE(p1->largeImageFile(), QStringLiteral("img_1_large.jpg"));
    QVERIFY(std::static_pointer_cast<Photo>(top->items()[2])->largeImageFile().isNull());
    auto v = std::static_pointer_cast<Video>(top->items()[1]);
    QCOMPARE(v->numberOfStreams(), 3);
    QCOMPARE(v->streams()[0]->bitrate(), 800);
    QCOMPARE(v->streams()[2]->file(), QStringLiteral("vstream_150.flv"));
    QVERIFY(std::static_pointer_cast<Video>(top->items()[3])->thumbFile().isNull());
    QVERIFY(std::static_pointer_cast<Video>(top->items()[3])->streams().isEmpty());

    // Parent links follow the nesting, three deep.
    auto travel = std::static_pointer_cast<AlbumCollection>(loaded.albums()[1]);
    QVERIFY(!travel->parentCollection());
    auto deeper = std::static_pointer_cast<AlbumCollection>(travel->items()[0]);
    QCOMPARE(deeper->parentCollection(), travel.get());
    auto deepest = std::static_pointer_cast<AlbumCollection>(deeper->items()[0]);
    QCOMPARE(deepest->parentCollection(), deeper.get());
    QCOMPARE(deepest->title(), QString(""));
    QCOMPARE(deepest->items()[0]->parentCollection(), deepest.get());
    QCOMPARE(deepest->items()[0]->title(), QStringLiteral("Rome"));

    // Saving what was loaded gives the same bytes, file by file.
    QVERIFY(files.saveData(loaded).ok());
    QCOMPARE(readBytes(g.index), index1);
    QCOMPARE(readBytes(g.xml + "/album_1.xml"), album1);
    QCOMPARE(readBytes(g.xml + "/album_2.xml"), album2);
}

void TestGalleryFile::writesTheExactShape()
{
    Data data;
    auto album = makeAlbum(QStringLiteral("A & B"), QStringLiteral("album_9.xml"), nullptr);
    album->setDescription(QString()); // null and empty are both an empty element
    auto photo = makePhoto(QStringLiteral("p"), 1, true);
    photo->setTitle(QString());
    album->addItem(photo);
    album->addItem(makeVideo(QStringLiteral("v"), {800, 400}, false));
    data.albums().append(album);
    auto coll = makeCollection(QStringLiteral("C"), nullptr);
    coll->setThumbFile(QString("")); // empty: no thumb element
    data.albums().append(coll);

    const QString expectedIndex = QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<orvane version="2.1">
    <collection>
        <album>
            <title>A &amp; B</title>
            <description></description>
            <contentnumber>2</contentnumber>
            <contentxmlurl>album_9.xml</contentxmlurl>
        </album>
        <collection>
            <title>C</title>
        </collection>
    </collection>
</orvane>
)");
    QCOMPARE(QString::fromUtf8(serializeIndex(data)), expectedIndex);

    const QString expectedAlbum = QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<orvane version="2.1">
    <picture>
        <title></title>
        <date>2026-12-01</date>
        <location>p</location>
        <description>p

end</description>
        <image>
            <url>img_1.jpg</url>
        </image>
        <smallimage>
            <url>img_1_small.jpg</url>
        </smallimage>
        <largeimage>
            <url>img_1_large.jpg</url>
        </largeimage>
    </picture>
    <video>
        <title>v</title>
        <date></date>
        <location></location>
        <description>v</description>
        <thumb>
            <url></url>
        </thumb>
        <video>
            <stream bitrate="800">
                <url>vstream_800.flv</url>
            </stream>
            <stream bitrate="400">
                <url>vstream_400.flv</url>
            </stream>
        </video>
    </video>
</orvane>
)");
    QCOMPARE(QString::fromUtf8(serializeAlbum(*album)), expectedAlbum);
    QVERIFY(!serializeAlbum(*album).contains("A &amp; B")); // album texts live in the index only

    // Characters XML cannot carry are left out rather than making the file unreadable.
    album->setTitle(QStringLiteral("bell\x07") + QChar(0xFFFE) + QStringLiteral("ok"));
    QVERIFY(serializeIndex(data).contains("<title>bellok</title>"));
}

void TestGalleryFile::readerRules_data()
{
    QTest::addColumn<QByteArray>("albumFile");
    QTest::addColumn<QString>("expected"); // one line per item

    const QByteArray head = "<?xml version=\"1.0\"?>\n";
    QTest::newRow("no version reads nothing") << head + "<orvane><picture/></orvane>" << "";
    QTest::newRow("last url wins, empty image url is empty")
        << head + "<orvane version=\"2.1\"><picture><image><url>a.jpg</url><url></url></image>"
                  "<smallimage><url>s.jpg</url></smallimage><largeimage><url></url></largeimage></picture></orvane>"
        << "P |image=''small='s.jpg'large=null";
    QTest::newRow("empty large url leaves the last good one")
        << head + "<orvane version=\"2.1\"><picture><largeimage><url>l.jpg</url><url/></largeimage></picture></orvane>"
        << "P |image=nullsmall=nulllarge='l.jpg'";
    QTest::newRow("streams: missing bitrate, junk, leading spaces, no url")
        << head + "<orvane version=\"2.1\"><video><thumb><url/></thumb><video><stream><url>a.flv</url></stream>"
                  "<stream bitrate=\"  42kbps\"><url>b.flv</url></stream><stream bitrate=\"fast\"/>"
                  "<stream bitrate=\"99999999999\"><url>c.flv</url></stream></video></video></orvane>"
        << "V |thumb=null streams=0:a.flv,42:b.flv,0:,2147483647:c.flv";
    QTest::newRow("unknown elements and their subtrees are skipped")
        << head + "<orvane version=\"2.1\"><junk><picture><title>no</title></picture></junk>"
                  "<!-- c --><picture><x><title>no</title></x><title>yes</title></picture></orvane>"
        << "P yes|";
    QTest::newRow("text is joined across children and entities")
        << head + "<orvane version=\"2.1\"><picture><title>a<b>b</b>&amp;<![CDATA[<c>]]></title></picture></orvane>"
        << "P ab&<c>|";
}

void TestGalleryFile::readerRules()
{
    QFETCH(QByteArray, albumFile);
    QFETCH(QString, expected);
    Gallery g;
    QVERIFY(writeBytes(g.xml + "/album_1.xml", albumFile));
    GalleryFile files(g.prefs);
    Album album;
    album.setXMLFile(QStringLiteral("album_1.xml"));
    LoadReport report;
    files.loadAlbumData(album, report);

    auto show = [](const QString &s) { return s.isNull() ? QStringLiteral("null") : "'" + s + "'"; };
    QStringList lines;
    for (const ItemPtr &item : album.items()) {
        if (item->isPhoto()) {
            auto p = std::static_pointer_cast<Photo>(item);
            QString line = "P " + p->title() + "|";
            if (expected.contains("image="))
                line += "image=" + show(p->imageFile()) + "small=" + show(p->smallImageFile()) + "large="
                        + show(p->largeImageFile());
            lines << line;
        } else {
            auto v = std::static_pointer_cast<Video>(item);
            QStringList streams;
            for (const StreamPtr &s : v->streams())
                streams << QStringLiteral("%1:%2").arg(s->bitrate()).arg(s->file());
            lines << "V " + v->title() + "|thumb=" + show(v->thumbFile()) + " streams=" + streams.join(',');
        }
    }
    QCOMPARE(lines.join('\n'), expected);
}

void TestGalleryFile::emptyAndNewGalleries()
{
    Gallery g;
    GalleryFile files(g.prefs);
    Data data;
    data.albums().append(makeAlbum("stale", "x.xml", nullptr));

    // No index at all: an empty gallery, nothing to report.
    QVERIFY(files.loadData(data).ok());
    QVERIFY(data.albums().isEmpty());

    // A new gallery's first index is not loaded, and that is no problem either.
    QString error;
    QVERIFY(writeNewIndexFile(g.index, &error));
    QVERIFY(readBytes(g.index).contains("version=\"2.2\""));
    QVERIFY(files.loadData(data).ok());
    QVERIFY(data.albums().isEmpty());

    // An empty tree saves as the root holding one empty list, stamped 2.1.
    QVERIFY(files.saveData(data).ok());
    QCOMPARE(QString::fromUtf8(readBytes(g.index)),
             QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<orvane version=\"2.1\">\n"
                            "    <collection/>\n</orvane>\n"));

    // Index rules: a stale count, two album files for one album, a thumb with
    // only an empty url, the root's name ignored, comments read past.
    writeBytes(g.xml + "/a.xml", "<orvane version=\"2.1\"><picture><title>1</title></picture></orvane>");
    writeBytes(g.xml + "/b.xml", "<orvane version=\"2.0\"><picture><title>2</title></picture></orvane>");
    writeBytes(g.index, "<whatever version=\"2.0\">\n  <!-- made by hand --><?pi x?><list><album><title>T</title>"
                        "<thumb><url/></thumb><contentnumber>99</contentnumber><contentxmlurl>a.xml</contentxmlurl>"
                        "<contentxmlurl>b.xml</contentxmlurl></album>"
                        "<collection><title>C</title><thumb><url>c.jpg</url></thumb><album><title>in</title>"
                        "</album></collection></list></whatever>");
    const LoadReport report = files.loadData(data);
    QVERIFY2(report.ok(), qPrintable(report.unreadable.value(0).reason));
    QCOMPARE(data.albums().size(), 2);
    auto a = std::static_pointer_cast<Album>(data.albums()[0]);
    QCOMPARE(a->items().size(), 2);
    QCOMPARE(a->items()[0]->title(), QStringLiteral("1"));
    QCOMPARE(a->items()[1]->title(), QStringLiteral("2"));
    QCOMPARE(a->XMLFile(), QStringLiteral("b.xml"));
    QVERIFY(a->thumbFile().isNull());
    auto c = std::static_pointer_cast<AlbumCollection>(data.albums()[1]);
    QCOMPARE(c->thumbFile(), QStringLiteral("c.jpg"));
    QCOMPARE(c->items()[0]->parentCollection(), c.get());
}

void TestGalleryFile::filesNotWhollyReadAreKept_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");   // what the load reports of the file
    QTest::addColumn<QString>("content"); // what is read: "albums/items"

    const QByteArray album = "<album><title>A</title><contentxmlurl>album_1.xml</contentxmlurl></album>";
    const QByteArray head = "<?xml version=\"1.0\"?>\n<orvane version=\"2.1\">";
    QTest::newRow("index cut short") << "albums.xml" << head + "<collection>" + album.left(20) << "well-formed"
                                     << "0/0";
    QByteArray noise(64 * 1024, '\0');
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    QTest::newRow("index: random bytes") << "albums.xml" << noise << "well-formed" << "0/0";
    QTest::newRow("index: empty") << "albums.xml" << QByteArray() << "well-formed" << "0/0";
    QTest::newRow("index: 100000 levels deep")
        << "albums.xml" << head + QByteArray(100000 * 12, 'x').replace("xxxxxxxxxxxx", "<collection>")
        << "nested more than" << "0/0";
    QTest::newRow("index: text first") << "albums.xml" << head + "hand-made<collection>" + album + "</collection></orvane>"
                                       << "text before" << "1/1";
    QTest::newRow("index: two lists") << "albums.xml" << head + "<collection>" + album + "</collection><collection>"
                                             + album + "</collection></orvane>"
                                      << "first of its lists" << "1/1";
    QTest::newRow("index: unknown element") << "albums.xml" << head + "<collection>" + album
                                                   + "<gallery><album/></gallery></collection></orvane>"
                                            << "\"gallery\"" << "1/1";
    QTest::newRow("album cut short") << "album_1.xml" << QByteArray("<orvane version=\"2.1\"><picture><title>a</title>")
                                     << "well-formed" << "1/0";
    QTest::newRow("album: unknown version") << "album_1.xml" << QByteArray("<orvane version=\"9\"><picture/></orvane>")
                                            << "\"9\"" << "1/0";
    QTest::newRow("album: videos in 2.0") << "album_1.xml"
                                          << QByteArray("<orvane version=\"2.0\"><picture/><video><title>v</title>"
                                                        "</video><picture/></orvane>")
                                          << "version 2.0" << "1/2";
    QTest::newRow("album: unknown element") << "album_1.xml"
                                            << QByteArray("<orvane version=\"2.1\"><picture><exif>f/2.8</exif>"
                                                          "</picture></orvane>")
                                            << "\"exif\"" << "1/1";
}

void TestGalleryFile::filesNotWhollyReadAreKept()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    QFETCH(QString, content);
    Gallery g;
    QVERIFY(writeBytes(g.index, "<orvane version=\"2.1\"><collection><album><title>A</title>"
                                "<contentxmlurl>album_1.xml</contentxmlurl></album></collection></orvane>"));
    QVERIFY(writeBytes(g.xml + "/album_1.xml", "<orvane version=\"2.1\"><picture/></orvane>"));
    QVERIFY(writeBytes(g.xml + "/" + file, bytes));
    GalleryFile files(g.prefs);
    Data data;
    const LoadReport report = files.loadData(data);
    QCOMPARE(report.unreadable.size(), 1);
    QCOMPARE(report.unreadable[0].path, g.xml + "/" + file);
    QVERIFY2(report.unreadable[0].reason.contains(reason), qPrintable(report.unreadable[0].reason));
    const qsizetype items = data.albums().isEmpty() ? 0 : std::static_pointer_cast<Album>(data.albums()[0])->items().size();
    QCOMPARE(QStringLiteral("%1/%2").arg(data.albums().size()).arg(items), content);

    // The first save keeps the file as it was before replacing it; later ones just write.
    SaveReport saved = files.saveData(data);
    QVERIFY(saved.ok());
    QCOMPARE(saved.notes.size(), 1);
    const QStringList kept = QDir(g.xml).entryList({file + ".unreadable-*"});
    QCOMPARE(kept.size(), 1);
    QCOMPARE(readBytes(g.xml + "/" + kept[0]), bytes);
    QVERIFY(files.saveData(data).notes.isEmpty());
    QVERIFY(files.loadData(data).ok());
}

void TestGalleryFile::failedSavesChangeNothing()
{
    Gallery g;
    GalleryFile files(g.prefs);
    Data data;
    auto album = makeAlbum("a", "album_1.xml", nullptr);
    album->addItem(makePhoto("p", 1, false));
    data.albums().append(album);
    data.setNeedsToSaveChanges(true);

    // Links in the xml folder are never written through, wherever they point.
    QTemporaryDir outside;
    QVERIFY(writeBytes(outside.filePath("mine.xml"), "precious"));
    for (const QString &name : {QStringLiteral("album_1.xml"), QStringLiteral("albums.xml")}) {
        const QString path = g.xml + "/" + name;
        QFile::remove(path);
        QVERIFY(QFile::link(outside.filePath("mine.xml"), path));
        const SaveReport report = files.saveData(data);
        QCOMPARE(failures(report), name + ": it is a symbolic link, which is never written through");
        QVERIFY(data.needsToSaveChanges());
        QCOMPARE(readBytes(outside.filePath("mine.xml")), QByteArray("precious"));
        QVERIFY(QFileInfo(path).isSymLink());
        QFile::remove(path);
    }
    QVERIFY(files.saveData(data).ok());
    const auto before = g.files();

    // Nesting deeper than the reader takes is not cut: the index is not written.
    CollectionPtr deepest;
    for (int i = 0; i <= GalleryFile::kMaxDepth; ++i) {
        auto c = makeCollection(QString::number(i), deepest.get());
        if (deepest)
            deepest->addItem(c);
        else
            data.albums().append(c);
        deepest = c;
    }
    QCOMPARE(failures(files.saveData(data)), QStringLiteral("albums.xml: collections are nested more than %1 levels deep, which "
                                              "the index file cannot hold").arg(GalleryFile::kMaxDepth));
    QCOMPARE(g.files(), before);
    deepest->parentCollection()->items().clear(); // as deep as it may be
    QVERIFY(files.saveData(data).ok());
    Data loaded;
    QVERIFY(files.loadData(loaded).ok());
    data.albums().removeLast();

    // A file name that reaches outside the xml folder is never written to.
    album->setXMLFile(QStringLiteral("../img/evil.xml"));
    data.setNeedsToSaveChanges(true);
    QVERIFY(!files.saveData(data).ok());
    QVERIFY(!QFile::exists(g.prefs.imgFolder() + "/evil.xml"));
    QVERIFY(data.needsToSaveChanges());
    // ...and never read from.
    writeBytes(g.prefs.imgFolder() + "/evil.xml", "<orvane version=\"2.1\"><picture/></orvane>");
    Album probe;
    probe.setXMLFile(QStringLiteral("../img/evil.xml"));
    LoadReport load;
    files.loadAlbumData(probe, load);
    QVERIFY(probe.items().isEmpty());
    QCOMPARE(load.unreadable.size(), 1);

    // An empty album with such a name loses nothing, so the save goes through.
    album->items().clear();
    QVERIFY(files.saveData(data).ok());
    QVERIFY(!data.needsToSaveChanges());
}

void TestGalleryFile::fullDisks()
{
    // Every file grows and none fits: each fails with the system's reason,
    // every old file stays as it was, and the changes stay unsaved.
    auto allFailed = [](const QString &reason) {
        QStringList lines;
        for (int i = 0; i < 20; ++i)
            lines << QStringLiteral("album_%1.xml: %2").arg(i).arg(reason);
        return (lines << "albums.xml: " + reason << "dirty").join('\n');
    };
    auto save = [](Gallery &g, Data &data) {
        renameAll(data);
        return failures(GalleryFile(g.prefs).saveData(data)) + (data.needsToSaveChanges() ? "\ndirty" : "\nclean");
    };
    {
        Gallery g;
        Data data;
        twentyAlbums(g, data);
        const auto before = g.files();
        QCOMPARE(testing::withFileSizeLimit(16 * 1024, [&] { return save(g, data); }), allFailed("File too large"));
        QCOMPARE(g.files(), before);
    }

    // A file system filled to the last byte.
    testing::TinyDisk disk(512 * 1024);
    if (!disk.ok())
        QSKIP("no tmpfs can be mounted here (needs root)");
    Gallery g(disk.path());
    Data data;
    twentyAlbums(g, data);
    const auto before = g.files();
    disk.fill();
    QCOMPARE(save(g, data), allFailed("No space left on device"));
    QCOMPARE(g.files(), before);
    // Room again: the same save goes through.
    QFile::remove(disk.filePath(".filler"));
    QVERIFY(GalleryFile(g.prefs).saveData(data).ok());
    QVERIFY(!data.needsToSaveChanges());
}

void TestGalleryFile::albumFileNamesAreSettled()
{
    Gallery g;
    GalleryFile files(g.prefs);
    Data data;
    auto first = makeAlbum("first", "album_1.xml", nullptr);
    first->addItem(makePhoto("a", 1, false));
    auto twin = makeAlbum("twin", "album_1.xml", nullptr);
    twin->addItem(makePhoto("b", 2, false));
    auto unnamed = makeAlbum("unnamed", QString(), nullptr);
    unnamed->addItem(makePhoto("c", 3, false));
    auto emptyUnnamed = makeAlbum("nothing", QString(), nullptr);
    auto index = makeAlbum("index", "ALBUMS.XML", nullptr);
    index->addItem(makePhoto("d", 4, false));
    data.albums() << first << twin << unnamed << emptyUnnamed << index;

    const SaveReport report = files.saveData(data);
    QVERIFY(report.ok());
    QCOMPARE(report.notes.size(), 3);
    QVERIFY(index->XMLFile().startsWith("album_"));
    QCOMPARE(first->XMLFile(), QStringLiteral("album_1.xml"));
    QVERIFY(twin->XMLFile() != first->XMLFile() && !twin->XMLFile().isEmpty());
    QVERIFY(!unnamed->XMLFile().isEmpty() && unnamed->XMLFile() != twin->XMLFile());
    QVERIFY(emptyUnnamed->XMLFile().isEmpty());

    Data loaded;
    QVERIFY(files.loadData(loaded).ok());
    QStringList titles;
    for (const NodePtr &n : loaded.albums()) {
        auto a = std::static_pointer_cast<Album>(n);
        titles << a->title() + "=" + (a->items().isEmpty() ? QString("-") : a->items()[0]->title());
    }
    QCOMPARE(titles, (QStringList{"first=a1", "twin=b2", "unnamed=c3", "nothing=-", "index=d4"}));

    // What the tree refuses as a typed name, and why.
    const QList<std::pair<QString, QString>> names{
        {"album_new.xml", ""},
        {"album_1.xml", "\"first\""},
        {"Album_1.XML", "\"first\""},
        {"albums.xml", "index file"},
        {"Albums.Xml", "index file"},
        {"album_1.xml.unreadable-20260101-120000", "copy kept"},
        {".album_1.xml.tmp-k3j2", "being written"},
        {"../albums.xml", "plain file name"},
        {"", "needs a file name"}};
    for (const auto &[name, reason] : names) {
        const QString refusal = albumFileNameRefusal(name, loaded, nullptr);
        QVERIFY2(reason.isEmpty() ? refusal.isEmpty() : refusal.contains(reason), qPrintable(name + ": " + refusal));
    }
    // An album may keep its own name.
    QVERIFY(albumFileNameRefusal("album_1.xml", loaded, static_cast<Album *>(loaded.albums()[0].get())).isEmpty());
}

QTEST_GUILESS_MAIN(TestGalleryFile)
#include "tst_galleryfile.moc"
