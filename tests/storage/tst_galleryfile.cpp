// The index and album files: their exact shape, what the reader takes and
// leaves, files it cannot read wholly kept aside, and saves that fail
// (links, depth, names, full disks) changing nothing.

#include "common/FullDisk.h"
#include "common/GalleryFixture.h"
#include "storage/GalleryFile.h"

#include <QtTest>

#include <sys/stat.h>

using namespace qm;
using testing::readBytes;
using testing::writeBytes;

namespace {

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

struct Fixture : testing::GalleryFixture
{
    using GalleryFixture::GalleryFixture;
    using GalleryFixture::album;
    using GalleryFixture::video;
    GalleryFile files{prefs};
    QString index = prefs.albumsXMLFile();

    std::shared_ptr<Album> album(const QString &title, const QString &file, AlbumCollection *parent = nullptr)
    {
        auto a = GalleryFixture::album(title, parent);
        a->setDescription(title + QStringLiteral(" & more\nlines"));
        a->setXMLFile(file);
        return a;
    }
    // Every file of the xml folder and its bytes.
    QMap<QString, QByteArray> xmlFiles() const
    {
        QMap<QString, QByteArray> out;
        for (const QString &name : QDir(prefs.xmlFolder()).entryList(QDir::Files | QDir::Hidden | QDir::System))
            out.insert(name, readBytes(xml(name)));
        return out;
    }
};

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
    void exactShapeAndRoundTrip();
    void readerRules();
    void readerRules_data();
    void emptyAndNewGalleries();
    void filesNotWhollyReadAreKept_data();
    void filesNotWhollyReadAreKept();
    void otherToolsContentIsKept();
    void failedSavesChangeNothing();
    void fullDisks();
    void albumFileNamesAreSettled();
};

void TestGalleryFile::exactShapeAndRoundTrip()
{
    // Texts with characters XML must escape, carriage returns too: written
    // raw, a reader would turn them into line feeds.
    Fixture f;
    const QString tricky = QStringLiteral("Caf\u00e9 & <b>\"q\"</b> \U0001F600\r\nline\r]]>");
    auto album = f.album(tricky, QStringLiteral("album_9.xml"));
    album->setDescription(QString()); // null and empty are both an empty element
    auto photo = makePhoto(tricky, 1, true);
    photo->setTitle(QString());
    album->addItem(photo);
    f.video(*album, QStringLiteral("v"), {800, 400});
    auto coll = f.collection(QStringLiteral("C"));
    coll->setThumbFile(QString("")); // empty: no thumb element
    auto inner = f.album(QStringLiteral("\u00c9t\u00e9"), QStringLiteral("album_2.xml"), f.collection("D", coll.get()).get());
    inner->setThumbFile(QStringLiteral("albthumb_1.jpg"));
    inner->setDescription(QString());
    f.staged.setNeedsToSaveChanges(true);
    QVERIFY(f.files.saveData(f.staged).ok());
    QVERIFY(!f.staged.needsToSaveChanges());
    const QString escaped = QStringLiteral("Caf\u00e9 &amp; &lt;b&gt;&quot;q&quot;&lt;/b&gt; \U0001F600&#13;\nline&#13;]]&gt;");
    const QString expectedIndex = QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<orvane version="2.1">
    <collection>
        <album>
            <title>%1</title>
            <description></description>
            <contentnumber>2</contentnumber>
            <contentxmlurl>album_9.xml</contentxmlurl>
        </album>
        <collection>
            <title>C</title>
            <collection>
                <title>D</title>
                <album>
                    <title>%2</title>
                    <description></description>
                    <thumb>
                        <url>albthumb_1.jpg</url>
                    </thumb>
                    <contentnumber>0</contentnumber>
                    <contentxmlurl>album_2.xml</contentxmlurl>
                </album>
            </collection>
        </collection>
    </collection>
</orvane>
)").arg(escaped, QStringLiteral("\u00c9t\u00e9"));
    const QString expectedAlbum = QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<orvane version="2.1">
    <picture>
        <title></title>
        <date>2026-12-01</date>
        <location>%1</location>
        <description>%1

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
        <description></description>
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
)").arg(escaped);
    QCOMPARE(QString::fromUtf8(readBytes(f.index)), expectedIndex);
    QCOMPARE(QString::fromUtf8(readBytes(f.xml("album_9.xml"))), expectedAlbum);
    // A photo as made has no large image, so no element for one.
    Album plain;
    plain.addItem(std::make_shared<Photo>());
    QVERIFY(!serializeAlbum(plain).contains("largeimage"));

    // Read back: the same texts, parents following the nesting; saved again, the same bytes.
    const auto saved = f.xmlFiles();
    Data loaded;
    QVERIFY(f.files.loadData(loaded).ok());
    QCOMPARE(loaded.albums()[0]->title(), tricky);
    std::function<void(const QList<NodePtr> &, AlbumCollection *)> linked = [&](const QList<NodePtr> &list,
                                                                                AlbumCollection *parent) {
        for (const NodePtr &n : list) {
            QCOMPARE(n->parentCollection(), parent);
            if (n->isCollection())
                linked(static_cast<AlbumCollection &>(*n).items(), static_cast<AlbumCollection *>(n.get()));
        }
    };
    linked(loaded.albums(), nullptr);
    QVERIFY(f.files.saveData(loaded).ok());
    QCOMPARE(f.xmlFiles(), saved);

    // Characters XML cannot carry are left out rather than making the file unreadable.
    album->setTitle(QStringLiteral("bell\x07") + QChar(0xFFFE) + QStringLiteral("ok"));
    QVERIFY(serializeIndex(f.staged).contains("<title>bellok</title>"));
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
    QTest::newRow("text is joined across children")
        << head + "<orvane version=\"2.1\"><picture><title>a<b>b</b>c</title></picture></orvane>" << "P abc|";
}

void TestGalleryFile::readerRules()
{
    QFETCH(QByteArray, albumFile);
    QFETCH(QString, expected);
    Fixture f;
    QVERIFY(writeBytes(f.xml("album_1.xml"), albumFile));
    Album album;
    album.setXMLFile(QStringLiteral("album_1.xml"));
    LoadReport report;
    f.files.loadAlbumData(album, report);

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
    Fixture f;
    GalleryFile &files = f.files;
    Data data;
    data.albums().append(std::make_shared<Album>());

    // No index at all: an empty gallery, nothing to report.
    QVERIFY(files.loadData(data).ok());
    QVERIFY(data.albums().isEmpty());

    // A new gallery's first index is not loaded, and that is no problem either.
    QString error;
    QVERIFY(writeNewIndexFile(f.index, &error));
    QVERIFY(readBytes(f.index).contains("version=\"2.2\""));
    QVERIFY(files.loadData(data).ok());
    QVERIFY(data.albums().isEmpty());

    // An empty tree saves as the root holding one empty list, stamped 2.1.
    QVERIFY(files.saveData(data).ok());
    QCOMPARE(QString::fromUtf8(readBytes(f.index)),
             QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<orvane version=\"2.1\">\n"
                            "    <collection/>\n</orvane>\n"));

    // Index rules: a stale count, two album files for one album, a thumb with
    // only an empty url, the root's name ignored, comments read past.
    writeBytes(f.xml("a.xml"), "<orvane version=\"2.1\"><picture><title>1</title></picture></orvane>");
    writeBytes(f.xml("b.xml"), "<orvane version=\"2.0\"><picture><title>2</title></picture></orvane>");
    writeBytes(f.index, "<whatever version=\"2.0\">\n  <!-- made by hand --><?pi x?><list><album><title>T</title>"
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
    QTest::newRow("index: 100000 levels deep")
        << "albums.xml" << head + QByteArray(100000 * 12, 'x').replace("xxxxxxxxxxxx", "<collection>")
        << "nested more than" << "0/0";
    QTest::newRow("index: undeclared entity") << "albums.xml" << head + "<collection>" + album + "&x;</collection></orvane>"
                                              << "not declared" << "0/0";
    QTest::newRow("album cut short") << "album_1.xml" << QByteArray("<orvane version=\"2.1\"><picture><title>a</title>")
                                     << "well-formed" << "1/0";
    QTest::newRow("album: unknown version") << "album_1.xml" << QByteArray("<orvane version=\"9\"><picture/></orvane>")
                                            << "\"9\"" << "1/0";
    QTest::newRow("album: videos in 2.0") << "album_1.xml"
                                          << QByteArray("<orvane version=\"2.0\"><picture/><video><title>v</title>"
                                                        "</video><picture/></orvane>")
                                          << "version 2.0" << "1/2";
    QTest::newRow("album: not UTF-8") << "album_1.xml" << QByteArray("<orvane version=\"2.1\"><picture><title>\xe9t\xe9"
                                                                     "</title></picture></orvane>")
                                      << "not valid UTF-8" << "1/0";
}

void TestGalleryFile::filesNotWhollyReadAreKept()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    QFETCH(QString, content);
    Fixture f;
    QVERIFY(writeBytes(f.index, "<orvane version=\"2.1\"><collection><album><title>A</title>"
                                "<contentxmlurl>album_1.xml</contentxmlurl></album></collection></orvane>"));
    QVERIFY(writeBytes(f.xml("album_1.xml"), "<orvane version=\"2.1\"><picture/></orvane>"));
    QVERIFY(writeBytes(f.xml(file), bytes));
    const QString path = f.xml(file);
    struct stat was;
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &was), 0);
    GalleryFile &files = f.files;
    Data data;
    const LoadReport report = files.loadData(data);
    QCOMPARE(report.unreadable.size(), 1);
    QCOMPARE(report.unreadable[0].path, path);
    QVERIFY2(report.unreadable[0].reason.contains(reason), qPrintable(report.unreadable[0].reason));
    const qsizetype items = data.albums().isEmpty() ? 0 : std::static_pointer_cast<Album>(data.albums()[0])->items().size();
    QCOMPARE(QStringLiteral("%1/%2").arg(data.albums().size()).arg(items), content);

    // Saved untouched, it stays as it is: the web site keeps what it showed.
    SaveReport saved = files.saveData(data);
    QVERIFY(saved.ok());
    QVERIFY(!saved.written.contains(path));
    QCOMPARE(readBytes(path), bytes);

    // Once its content changes, the file is kept under a second name first:
    // a link to the very file, whatever its size, never a copy.
    if (file == "albums.xml") {
        auto added = std::make_shared<Album>();
        added->setXMLFile(QStringLiteral("album_new.xml"));
        data.albums().append(added);
    } else {
        static_cast<Album &>(*data.albums()[0]).addItem(makePhoto("p", 1, false));
    }
    saved = files.saveData(data);
    QVERIFY(saved.ok());
    QVERIFY(saved.written.contains(path));
    QCOMPARE(saved.notes.size(), 1);
    const QStringList kept = QDir(f.prefs.xmlFolder()).entryList({file + ".unreadable-*"});
    QCOMPARE(kept.size(), 1);
    QVERIFY(saved.notes[0].reason.contains(kept[0]));
    struct stat copy;
    QCOMPARE(::stat(QFile::encodeName(f.xml(kept[0])).constData(), &copy), 0);
    QCOMPARE(copy.st_ino, was.st_ino);
    QCOMPARE(readBytes(f.xml(kept[0])), bytes);
    QVERIFY(files.saveData(data).notes.isEmpty());
    QVERIFY(files.loadData(data).ok());
}

void TestGalleryFile::otherToolsContentIsKept()
{
    // Whatever other tools wrote into the files stays where it stood: a
    // stylesheet, a document type whose entities are not ours to resolve,
    // comments, attributes, elements of their own.
    Fixture f;
    const QByteArray index = R"(<?xml version="1.0" encoding="UTF-8"?>
<?xml-stylesheet type="text/xsl" href="gallery.xsl"?>
<!DOCTYPE orvane SYSTEM "orvane.dtd">
<orvane version="2.1" xmlns:x="urn:x" x:owner="me">
  <collection sort="date">
    <album rating="5"><title>First by &photographer;</title><x:note>keep</x:note><description/>
      <contentnumber>3</contentnumber><contentxmlurl>album_1.xml</contentxmlurl></album>
    <!-- the second -->
    <album><title>Second</title><description/><contentnumber>0</contentnumber><contentxmlurl>album_2.xml</contentxmlurl></album>
  </collection>
  <collection><title>a list of another tool</title></collection>
  <x:site>Holidays</x:site>
</orvane>
<!-- end of index -->
)";
    const QByteArray album = R"(<?xml version="1.0"?>
<!DOCTYPE orvane SYSTEM "orvane.dtd">
<orvane version="2.1" xmlns:x="urn:x">
  <x:head/>
  <picture rating="5"><title>One</title><date/><location/><description>&copyright;</description>
    <image size="big"><url>one.jpg</url></image><smallimage><url>one_sm.jpg</url></smallimage><exif>f/2.8</exif></picture>
  <!-- about two -->
  <picture><title>Two<!-- sic --></title><image><url>two.jpg</url></image></picture>
  <video><title>V</title><thumb><url>v.jpg</url></thumb><video><stream bitrate="800" codec="h263"><url>v.flv</url></stream></video></video>
  <x:tail>tail &amp; more</x:tail>
</orvane>
)";
    QVERIFY(writeBytes(f.index, index));
    QVERIFY(writeBytes(f.xml("album_1.xml"), album));
    QVERIFY(writeBytes(f.xml("album_2.xml"), "<orvane version=\"2.1\"/>"));
    Data data;
    LoadReport loaded = f.files.loadData(data);
    QVERIFY2(loaded.ok(), qPrintable(loaded.unreadable.value(0).reason));
    QCOMPARE(data.albums().size(), 2);
    auto first = std::static_pointer_cast<Album>(data.albums()[0]);
    auto second = std::static_pointer_cast<Album>(data.albums()[1]);
    QCOMPARE(testing::titles(*first), (QStringList{"One", "Two", "V"}));
    QCOMPARE(first->title(), QStringLiteral("First by "));

    // Nothing changed: nothing written.
    QVERIFY(f.files.saveData(data).written.isEmpty());
    QCOMPARE(readBytes(f.index), index);

    // A photo retitled: its file is written in our layout, with all of it kept.
    first->items()[0]->setTitle(QStringLiteral("Eins"));
    second->setTitle(QStringLiteral("Second, renamed"));
    SaveReport saved = f.files.saveData(data);
    QVERIFY2(saved.ok() && saved.notes.isEmpty(), qPrintable(saved.notes.value(0).path + saved.notes.value(0).reason));
    QCOMPARE(QString::fromUtf8(readBytes(f.xml("album_1.xml"))), QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE orvane SYSTEM "orvane.dtd">
<orvane version="2.1" xmlns:x="urn:x">
    <x:head/>
    <picture rating="5">
        <title>Eins</title>
        <date></date>
        <location></location>
        <description>&copyright;</description>
        <image size="big">
            <url>one.jpg</url>
        </image>
        <smallimage>
            <url>one_sm.jpg</url>
        </smallimage>
        <exif>f/2.8</exif>
    </picture>
    <!-- about two -->
    <picture>
        <title>Two<!-- sic --></title>
        <date></date>
        <location></location>
        <description></description>
        <image>
            <url>two.jpg</url>
        </image>
        <smallimage>
            <url></url>
        </smallimage>
    </picture>
    <video>
        <title>V</title>
        <date></date>
        <location></location>
        <description></description>
        <thumb>
            <url>v.jpg</url>
        </thumb>
        <video>
            <stream bitrate="800" codec="h263">
                <url>v.flv</url>
            </stream>
        </video>
    </video>
    <x:tail>tail &amp; more</x:tail>
</orvane>
)"));
    const QString written = QString::fromUtf8(readBytes(f.index));
    QStringList pieces{"<?xml-stylesheet type=\"text/xsl\" href=\"gallery.xsl\"?>", "<!DOCTYPE orvane SYSTEM \"orvane.dtd\">",
                       "<orvane version=\"2.1\" xmlns:x=\"urn:x\" x:owner=\"me\">", "<collection sort=\"date\">",
                       "<album rating=\"5\">", "<title>First by &photographer;</title>", "<x:note>keep</x:note>",
                       "<!-- the second -->", "<title>Second, renamed</title>",
                       "<collection><title>a list of another tool</title></collection>", "<x:site>Holidays</x:site>",
                       "</orvane>\n<!-- end of index -->"};
    qsizetype at = 0;
    for (const QString &piece : pieces) {
        const qsizetype found = written.indexOf(piece, at);
        QVERIFY2(found >= 0, qPrintable(piece + " is not in its place in\n" + written));
        at = found + piece.size();
    }
    // Read back: the same; saved again: nothing written.
    const QByteArray model = testing::snapshot(data);
    QVERIFY(f.files.loadData(data).ok());
    QCOMPARE(testing::snapshot(data), model);
    QVERIFY(f.files.saveData(data).written.isEmpty());

    // A photo moves to another album: what is its own goes with it.
    first = std::static_pointer_cast<Album>(data.albums()[0]);
    second = std::static_pointer_cast<Album>(data.albums()[1]);
    second->addItem(first->items().takeFirst());
    saved = f.files.saveData(data);
    QVERIFY(saved.ok() && saved.notes.isEmpty());
    QVERIFY(readBytes(f.xml("album_2.xml")).contains("<picture rating=\"5\">"));
    QVERIFY(readBytes(f.xml("album_2.xml")).contains("<exif>f/2.8</exif>"));
    QVERIFY(!readBytes(f.xml("album_1.xml")).contains("rating"));

    // A photo whose comment goes with it is gone, a text holding a
    // reference changed: that file is kept as it was before it is replaced.
    const QByteArray before = readBytes(f.xml("album_2.xml"));
    second->items().first()->setDescription(QStringLiteral("mine now"));
    first->items().removeFirst();
    saved = f.files.saveData(data);
    QVERIFY(saved.ok());
    QCOMPARE(saved.notes.size(), 2);
    const QStringList kept = QDir(f.prefs.xmlFolder()).entryList({"album_*.xml.unreadable-*"});
    QCOMPARE(kept.size(), 2);
    QCOMPARE(readBytes(f.xml(kept.filter("album_2").value(0))), before);
    QVERIFY(readBytes(f.xml(kept.filter("album_1").value(0))).contains("<!-- about two -->"));
}

void TestGalleryFile::failedSavesChangeNothing()
{
    Fixture f;
    Data &data = f.staged;
    auto album = f.album("a", "album_1.xml");
    album->addItem(makePhoto("p", 1, false));
    data.setNeedsToSaveChanges(true);

    // Links in the xml folder are never written through, wherever they point.
    QTemporaryDir outside;
    QVERIFY(writeBytes(outside.filePath("mine.xml"), "precious"));
    for (const QString &name : {QStringLiteral("album_1.xml"), QStringLiteral("albums.xml")}) {
        QFile::remove(f.xml(name));
        QVERIFY(QFile::link(outside.filePath("mine.xml"), f.xml(name)));
        QCOMPARE(failures(f.files.saveData(data)), name + ": it is a symbolic link, which is never written through");
        QVERIFY(data.needsToSaveChanges());
        QCOMPARE(readBytes(outside.filePath("mine.xml")), QByteArray("precious"));
        QVERIFY(QFileInfo(f.xml(name)).isSymLink());
        QFile::remove(f.xml(name));
    }
    QVERIFY(f.files.saveData(data).ok());
    const auto before = f.xmlFiles();

    // Nesting deeper than the reader takes is not cut: the index is not written.
    AlbumCollection *deepest = nullptr;
    for (int i = 0; i <= GalleryFile::kMaxDepth; ++i)
        deepest = f.collection(QString::number(i), deepest).get();
    QCOMPARE(failures(f.files.saveData(data)), QStringLiteral("albums.xml: collections are nested more than %1 levels "
                                                              "deep, which the index file cannot hold").arg(GalleryFile::kMaxDepth));
    QCOMPARE(f.xmlFiles(), before);
    deepest->parentCollection()->items().clear(); // as deep as it may be
    QVERIFY(f.files.saveData(data).ok());
    Data loaded;
    QVERIFY(f.files.loadData(loaded).ok());
    data.albums().removeLast();

    // A file name that reaches outside the xml folder is never written to...
    album->setXMLFile(QStringLiteral("../img/evil.xml"));
    data.setNeedsToSaveChanges(true);
    QVERIFY(!f.files.saveData(data).ok());
    QVERIFY(!QFile::exists(f.img("evil.xml")));
    QVERIFY(data.needsToSaveChanges());
    // ...nor read from.
    writeBytes(f.img("evil.xml"), "<orvane version=\"2.1\"><picture/></orvane>");
    Album probe;
    probe.setXMLFile(QStringLiteral("../img/evil.xml"));
    LoadReport load;
    f.files.loadAlbumData(probe, load);
    QVERIFY(probe.items().isEmpty());
    QCOMPARE(load.unreadable.size(), 1);

    // An empty album with such a name loses nothing, so the save goes through.
    album->items().clear();
    QVERIFY(f.files.saveData(data).ok());
    QVERIFY(!data.needsToSaveChanges());
}

void TestGalleryFile::fullDisks()
{
    // Twenty albums saved, then every file grows and none fits: the save
    // fails with the system's reason, every old file stays as it was, and
    // the changes stay unsaved.
    auto twentyAlbums = [](Fixture &f) {
        for (int i = 0; i < 20; ++i)
            f.album(QStringLiteral("album %1").arg(i), QStringLiteral("album_%1.xml").arg(i))->addItem(makePhoto("p", i, true));
        QVERIFY(f.files.saveData(f.staged).ok());
        for (const NodePtr &node : f.staged.albums()) {
            node->setTitle(node->title() + QString(1000, u'x'));
            static_cast<Album &>(*node).items()[0]->setDescription(QString(20000, u'd'));
        }
        f.staged.setNeedsToSaveChanges(true);
    };
    auto save = [](Fixture &f) {
        return failures(f.files.saveData(f.staged)) + (f.staged.needsToSaveChanges() ? "\ndirty" : "\nclean");
    };
    // The first file that does not fit stops the save; none was changed.
    auto allFailed = [](const QString &reason) { return "album_0.xml: " + reason + "\ndirty"; };
    {
        Fixture f;
        twentyAlbums(f);
        const auto before = f.xmlFiles();
        QCOMPARE(testing::withFileSizeLimit(16 * 1024, [&] { return save(f); }), allFailed("File too large"));
        QCOMPARE(f.xmlFiles(), before);
    }

    // A file system filled to the last byte.
    // Room for the new files beside the old ones: a save replaces them together.
    testing::TinyDisk disk(1024 * 1024);
    if (!disk.ok())
        QSKIP("no tmpfs can be mounted here (needs root)");
    Fixture f(disk.path());
    twentyAlbums(f);
    const auto before = f.xmlFiles();
    disk.fill();
    QCOMPARE(save(f), allFailed("No space left on device"));
    QCOMPARE(f.xmlFiles(), before);
    // Room again: the same save goes through.
    QFile::remove(disk.filePath(".filler"));
    QCOMPARE(failures(f.files.saveData(f.staged)), QString());
    QVERIFY(!f.staged.needsToSaveChanges());
}

void TestGalleryFile::albumFileNamesAreSettled()
{
    // Two albums with one name, albums without one, one named like the index.
    Fixture f;
    const QList<std::pair<const char *, const char *>> albums{
        {"first", "album_1.xml"}, {"twin", "album_1.xml"}, {"unnamed", ""}, {"nothing", ""}, {"index", "ALBUMS.XML"}};
    for (const auto &[title, file] : albums) {
        auto a = f.album(title, file);
        if (a->title() != "nothing")
            a->addItem(makePhoto(title, 0, false));
    }
    const SaveReport report = f.files.saveData(f.staged);
    QVERIFY(report.ok());
    QCOMPARE(report.notes.size(), 3);
    QStringList files;
    for (const NodePtr &n : f.staged.albums())
        files << static_cast<Album &>(*n).XMLFile();
    QCOMPARE(files[0], QStringLiteral("album_1.xml"));
    QVERIFY(files[1].startsWith("album_") && files[2].startsWith("album_") && files[4].startsWith("album_"));
    QCOMPARE(QSet<QString>(files.begin(), files.end()).size(), 5);
    QVERIFY(files[3].isEmpty());

    Data loaded;
    QVERIFY(f.files.loadData(loaded).ok());
    QStringList titles;
    for (const NodePtr &n : loaded.albums()) {
        auto a = std::static_pointer_cast<Album>(n);
        titles << a->title() + "=" + (a->items().isEmpty() ? QString("-") : a->items()[0]->title());
    }
    QCOMPARE(titles, (QStringList{"first=first0", "twin=twin0", "unnamed=unnamed0", "nothing=-", "index=index0"}));

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
    // Names as long as a folder takes are saved (the temporary names of the
    // save and the kept copies fit beside them); longer ones are refused.
    const QString longest = "album_" + QString(245, u'x') + ".xml";
    QVERIFY(albumFileNameRefusal(longest, loaded, nullptr).isEmpty());
    QVERIFY(albumFileNameRefusal("\u00e9" + longest.mid(1), loaded, nullptr).contains("longer than"));
    auto named = std::static_pointer_cast<Album>(loaded.albums()[0]);
    QVERIFY(writeBytes(f.xml(longest), "<orvane version=\"2.0\"><video/></orvane>")); // to be kept aside
    named->setXMLFile(longest);
    QVERIFY(f.files.saveData(loaded).ok());
    QVERIFY(f.files.loadData(loaded).ok());
    named = std::static_pointer_cast<Album>(loaded.albums()[0]);
    QCOMPARE(named->XMLFile(), longest);
    QCOMPARE(testing::titles(*named), QStringList{"first0"});
    named->items().clear();
    QVERIFY(f.files.saveData(loaded).ok());
    QCOMPARE(QDir(f.prefs.xmlFolder()).entryList({"*.theirs-*"}).size(), 1);

    // An album may keep its own name.
    QVERIFY(albumFileNameRefusal("album_1.xml", loaded, static_cast<Album *>(loaded.albums()[0].get())).isEmpty());
}

QTEST_GUILESS_MAIN(TestGalleryFile)
#include "tst_galleryfile.moc"
