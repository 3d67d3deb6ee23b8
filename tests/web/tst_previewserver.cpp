// The preview server alone, spoken to by hand; Add Web Viewer's plan and
// step; which videos a browser can play.

#include "RawHttp.h"
#include "common/GalleryFixture.h"
#include "common/VideoFixtures.h"
#include "web/BrowserVideo.h"
#include "web/PreviewServer.h"
#include "web/WebViewer.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace testing;

class PreviewServerTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<GalleryFixture> f;
    std::unique_ptr<qm::PreviewServer> server;
    QTemporaryDir viewer;
    quint16 port = 0;
    QByteArray data1000;

private slots:
    void init()
    {
        f = std::make_unique<GalleryFixture>();
        auto album = f->album(QStringLiteral("A"));
        f->photo(*album, QStringLiteral("photo"));
        f->ready();
        writeBytes(viewer.filePath("index.html"), "<!doctype html><title>v</title>");
        writeBytes(viewer.filePath("viewer.js"), "export {};");
        writeBytes(viewer.filePath("viewer.css"), "body{}");
        data1000.resize(1000);
        for (int i = 0; i < 1000; ++i)
            data1000[i] = char(i * 7);
        writeBytes(f->img("clip.flv"), data1000);
        writeBytes(f->img("photo.jpg"), "jpeg");
        writeBytes(f->xml("album_Unknown.xml"), "<orvane version=\"2.1\"/>");
        writeBytes(f->dir.filePath("secret.txt"), "secret");
        QDir().mkpath(f->prefs.orvaneFolder() + "/.quillmere");
        writeBytes(f->prefs.orvaneFolder() + "/.quillmere/lock", "lock");
        QFile::link(f->dir.filePath("secret.txt"), f->img("link.jpg"));
        QFile::link(f->img("photo.jpg"), f->img("linkin.jpg"));
        QDir().mkpath(f->img("folder.jpg"));
        QVERIFY(::mkfifo(QFile::encodeName(f->img("fifo.jpg")).constData(), 0644) == 0);
        server = std::make_unique<qm::PreviewServer>(qm::galleryXmlSource(f->gallery));
        QString why;
        QVERIFY2(server->serve(f->prefs, viewer.path(), &why), qPrintable(why));
        port = server->port();
        QVERIFY(port > 0);
        QCOMPARE(server->viewerUrl().toString(), QStringLiteral("http://127.0.0.1:%1/g/viewer/").arg(port));
    }
    void cleanup() { server.reset(); }

    void addresses_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("type");
        QTest::newRow("viewer") << QByteArray("/g/viewer/") << 200 << QByteArray("text/html; charset=utf-8");
        QTest::newRow("script") << QByteArray("/g/viewer/viewer.js") << 200 << QByteArray("text/javascript; charset=utf-8");
        QTest::newRow("style") << QByteArray("/g/viewer/viewer.css") << 200 << QByteArray("text/css; charset=utf-8");
        QTest::newRow("picture") << QByteArray("/g/img/photo.jpg?v=1") << 200 << QByteArray("image/jpeg");
        QTest::newRow("video") << QByteArray("/g/img/clip.flv") << 200 << QByteArray("video/x-flv");
        QTest::newRow("index") << QByteArray("/g/xml/albums.xml") << 200 << QByteArray("application/xml");
        QTest::newRow("album") << QByteArray("/g/xml/album_A.xml") << 200 << QByteArray("application/xml");
        QTest::newRow("root") << QByteArray("/") << 302 << QByteArray();
        QTest::newRow("gallery") << QByteArray("/g") << 302 << QByteArray();
        QTest::newRow("listing") << QByteArray("/g/img/") << 404 << QByteArray();
        QTest::newRow("folder") << QByteArray("/g/img") << 404 << QByteArray();
        QTest::newRow("dot-dot") << QByteArray("/g/img/../xml/albums.xml") << 404 << QByteArray();
        QTest::newRow("encoded dot-dot") << QByteArray("/g/img/%2e%2e") << 404 << QByteArray();
        QTest::newRow("encoded slash") << QByteArray("/g/img/..%2f..%2fsecret.txt") << 404 << QByteArray();
        QTest::newRow("backslash") << QByteArray("/g/img/..%5c..%5csecret.txt") << 404 << QByteArray();
        QTest::newRow("link out") << QByteArray("/g/img/link.jpg") << 404 << QByteArray();
        QTest::newRow("link in") << QByteArray("/g/img/linkin.jpg") << 404 << QByteArray();
        QTest::newRow("fifo") << QByteArray("/g/img/fifo.jpg") << 404 << QByteArray();
        QTest::newRow("subfolder") << QByteArray("/g/img/folder.jpg") << 404 << QByteArray();
        QTest::newRow("state folder") << QByteArray("/g/.quillmere/lock") << 404 << QByteArray();
        QTest::newRow("settings beside") << QByteArray("/g/../prefs.ini") << 404 << QByteArray();
        QTest::newRow("album not in the tree") << QByteArray("/g/xml/album_Unknown.xml") << 404 << QByteArray();
        QTest::newRow("other gallery") << QByteArray("/h/img/photo.jpg") << 404 << QByteArray();
        QTest::newRow("NUL") << QByteArray("/g/img/photo.jpg%00") << 404 << QByteArray();
        QTest::newRow("bad escape") << QByteArray("/g/img/ph%zzoto.jpg") << 404 << QByteArray();
        QTest::newRow("not a path") << QByteArray("http://elsewhere/g/img/photo.jpg") << 404 << QByteArray();
    }
    void addresses()
    {
        QFETCH(QByteArray, target);
        QFETCH(int, status);
        QFETCH(QByteArray, type);
        const HttpReply r = fetch(port, target);
        QCOMPARE(r.status, status);
        if (!type.isEmpty())
            QCOMPARE(r.header("content-type"), type);
        if (status == 302)
            QCOMPARE(r.header("location"), QByteArray("/g/viewer/"));
        if (status == 404)
            QVERIFY(!r.body.contains("secret") && !r.body.contains("lock"));
        QCOMPARE(r.header("x-content-type-options"), QByteArray("nosniff"));
    }

    void ranges_data()
    {
        QTest::addColumn<QByteArray>("range");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contentRange");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("length");
        QTest::newRow("start") << QByteArray("bytes=0-99") << 206 << QByteArray("bytes 0-99/1000") << 0 << 100;
        QTest::newRow("open end") << QByteArray("bytes=900-") << 206 << QByteArray("bytes 900-999/1000") << 900 << 100;
        QTest::newRow("suffix") << QByteArray("bytes=-10") << 206 << QByteArray("bytes 990-999/1000") << 990 << 10;
        QTest::newRow("past the end") << QByteArray("bytes=990-5000") << 206 << QByteArray("bytes 990-999/1000") << 990 << 10;
        QTest::newRow("unsatisfiable") << QByteArray("bytes=1000-") << 416 << QByteArray("bytes */1000") << 0 << 0;
        QTest::newRow("reversed") << QByteArray("bytes=5-1") << 200 << QByteArray() << 0 << 1000;
        QTest::newRow("several") << QByteArray("bytes=0-1,5-6") << 200 << QByteArray() << 0 << 1000;
        QTest::newRow("other unit") << QByteArray("pages=1-2") << 200 << QByteArray() << 0 << 1000;
    }
    void ranges()
    {
        QFETCH(QByteArray, range);
        QFETCH(int, status);
        QFETCH(QByteArray, contentRange);
        QFETCH(int, first);
        QFETCH(int, length);
        const HttpReply r = fetch(port, "/g/img/clip.flv", "Range: " + range + "\r\n");
        QCOMPARE(r.status, status);
        QCOMPARE(r.header("content-range"), contentRange);
        QCOMPARE(r.header("accept-ranges"), QByteArray("bytes"));
        if (status != 416)
            QCOMPARE(r.body, data1000.mid(first, length));
        // The same for the files made from the gallery, and for HEAD.
        const HttpReply xml = fetch(port, "/g/xml/albums.xml", "Range: bytes=0-4\r\n");
        QCOMPARE(xml.status, 206);
        QCOMPARE(xml.body, QByteArray("<?xml"));
        const HttpReply head = fetch(port, "/g/img/clip.flv", "Range: bytes=0-99\r\n", "HEAD");
        QCOMPARE(head.status, 206);
        QCOMPARE(head.header("content-length"), QByteArray("100"));
    }

    // What the browser is shown is what a save would write now, unsaved changes included.
    void unsavedChanges()
    {
        qm::Album *album = static_cast<qm::Album *>(f->data.albums().first().get());
        f->gallery.setTitle(album, QStringLiteral("Renamed & <unsaved>"));
        auto photo = std::make_shared<qm::Photo>();
        photo->setTitle(QStringLiteral("Added"));
        f->gallery.addItems(album, {photo}, {}, QStringLiteral("Add"));
        QVERIFY(f->gallery.needsToSaveChanges());
        const HttpReply index = fetch(port, "/g/xml/albums.xml");
        QCOMPARE(index.body, f->gallery.galleryFile().indexBytes(f->data));
        QVERIFY(index.body.contains("Renamed &amp; &lt;unsaved&gt;"));
        QCOMPARE(index.header("cache-control"), QByteArray("no-store"));
        const HttpReply items = fetch(port, "/g/xml/album_A.xml");
        QCOMPARE(items.body, f->gallery.galleryFile().albumBytes(*album));
        QVERIFY(items.body.contains("<title>Added</title>"));
        QVERIFY(!QFileInfo::exists(f->xml("albums.xml"))); // nothing was saved
    }

    void connections()
    {
        // Several requests on one connection, HEAD among them.
        HttpClient client(port);
        client.send(request("/g/img/photo.jpg", port) + request("/g/viewer/viewer.css", port, {}, "HEAD")
                    + request("/g/xml/albums.xml", port));
        HttpReply r = client.reply();
        QCOMPARE(r.body, QByteArray("jpeg"));
        const QByteArray tag = r.header("etag");
        r = client.reply(true);
        QCOMPARE(r.status, 200);
        QCOMPARE(r.header("content-length"), QByteArray("6"));
        QVERIFY(r.body.isEmpty());
        r = client.reply();
        QVERIFY(r.body.startsWith("<?xml"));
        QVERIFY(client.connected());
        QCOMPARE(fetch(port, "/g/img/photo.jpg", "If-None-Match: " + tag + "\r\n").status, 304);
        QCOMPARE(fetch(port, "/g/img/clip.flv", "Range: bytes=0-9\r\nIf-Range: \"other\"\r\n").status, 200);

        QCOMPARE(fetch(port, "/g/img/photo.jpg", {}, "POST").status, 405);
        QCOMPARE(fetch(port, "/g/img/photo.jpg", "Content-Length: 3\r\n").status, 413);
        // Another name for this host (a page's DNS rebinding) is refused.
        HttpClient rebound(port);
        rebound.send("GET /g/img/photo.jpg HTTP/1.1\r\nHost: attacker.example:" + QByteArray::number(port) + "\r\n\r\n");
        QCOMPARE(rebound.reply().status, 403);
        HttpClient hostless(port);
        hostless.send("GET /g/img/photo.jpg HTTP/1.1\r\n\r\n");
        QCOMPARE(hostless.reply().status, 400);
        HttpClient garbage(port);
        garbage.send("NOT HTTP\r\n\r\n");
        QCOMPARE(garbage.reply().status, 400);
        QVERIFY(garbage.closedByServer());
        HttpClient flood(port);
        flood.send("GET /" + QByteArray(20000, 'a'));
        QCOMPARE(flood.reply().status, 431);
    }

    // A large file goes out in pieces, in full; the server stops with its owner.
    void largeFileAndStop()
    {
        QByteArray big(3 << 20, 'x');
        for (qsizetype i = 0; i < big.size(); i += 4096)
            big[i] = char(i / 4096);
        writeBytes(f->img("big.flv"), big);
        QCOMPARE(fetch(port, "/g/img/big.flv").body, big);
        server.reset();
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        QVERIFY(!socket.waitForConnected(3000));
    }

    // Another gallery opened while serving: the same port, the other folder.
    void switchesGallery()
    {
        GalleryFixture other;
        writeBytes(other.img("only-here.jpg"), "here");
        QVERIFY(server->serve(other.prefs, viewer.path()));
        QCOMPARE(server->port(), port);
        QCOMPARE(fetch(port, "/g/img/only-here.jpg").body, QByteArray("here"));
        QCOMPARE(fetch(port, "/g/img/photo.jpg").status, 404);
    }

    void videoCodecs()
    {
        QTemporaryDir dir;
        QVERIFY(makeFLV(dir.filePath("spark.flv"), {160, 120}, 200, false, 1.0));
        QVERIFY(makeFLV(dir.filePath("h264.flv"), {160, 120}, 200, true, 1.0));
        QVERIFY(makeFLV(dir.filePath("mute.flv"), {160, 120}, 200, true, 1.0, {"-an"}));
        QCOMPARE(qm::flvVideoCodec(dir.filePath("spark.flv")), qm::FLVVideoCodec::Spark);
        QCOMPARE(qm::flvVideoCodec(dir.filePath("h264.flv")), qm::FLVVideoCodec::H264);
        QCOMPARE(qm::flvVideoCodec(dir.filePath("mute.flv")), qm::FLVVideoCodec::H264);
        QCOMPARE(qm::flvVideoCodec(dir.filePath("none.flv")), qm::FLVVideoCodec::Unknown);
        QCOMPARE(qm::flvVideoCodecOf("not a movie at all"), qm::FLVVideoCodec::Unknown);

        GalleryFixture g;
        auto album = g.album(QStringLiteral("Films"));
        auto spark = g.video(*album, QStringLiteral("Old"), {400});
        auto mixed = g.video(*album, QStringLiteral("Mixed"), {800, 300});
        g.video(*album, QStringLiteral("Missing"), {100});
        QFile::remove(g.img("vstream_100.flv"));
        QFile::copy(dir.filePath("spark.flv"), g.img("spark.flv"));
        QFile::copy(dir.filePath("h264.flv"), g.img("h264.flv"));
        spark->streams()[0]->setFile(QStringLiteral("spark.flv"));
        mixed->streams()[0]->setFile(QStringLiteral("spark.flv"));
        mixed->streams()[1]->setFile(QStringLiteral("h264.flv"));
        g.ready();
        const QList<qm::UnplayableVideo> found =
            qm::findUnplayableVideos(qm::GalleryVideos::of(g.data, g.prefs.imgFolder()));
        QCOMPARE(found.size(), 1);
        QCOMPARE(found[0].videoId, spark->id());
        QCOMPARE(found[0].streams, QStringLiteral("spark.flv (Sorenson Spark)"));
    }
};

// Add Web Viewer: what is written, what is kept, all or nothing, undo.
class WebViewerTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<GalleryFixture> f;
    QTemporaryDir source;
    QString folder;

    QString in(const QString &name) const { return folder + '/' + name; }
    void write(const QString &name, const QByteArray &bytes) { QVERIFY(writeBytes(source.filePath(name), bytes)); }
    QJsonObject manifest() const
    {
        return QJsonDocument::fromJson(readBytes(in(qm::kViewerManifest))).object();
    }
    void ownViewer(const QString &version, const QMap<QString, QByteArray> &files)
    {
        QDir().mkpath(folder);
        QJsonObject owned;
        for (auto it = files.begin(); it != files.end(); ++it) {
            writeBytes(in(it.key()), it.value());
            owned.insert(it.key(), QString::fromLatin1(QCryptographicHash::hash(it.value(), QCryptographicHash::Sha256).toHex()));
        }
        const QJsonObject m{{"generator", "Quillmere"}, {"version", version}, {"files", owned}};
        writeBytes(in(qm::kViewerManifest), QJsonDocument(m).toJson());
    }

private slots:
    void init()
    {
        f = std::make_unique<GalleryFixture>();
        f->ready();
        folder = f->prefs.orvaneFolder() + "/viewer";
        write("index.html", "new index");
        write("viewer.js", "new script");
        write("viewer.css", "new style");
    }

    void addsUndoesRedoes()
    {
        const qm::ViewerPlan plan = qm::planWebViewer(source.path(), f->prefs.orvaneFolder(), "1.0");
        QVERIFY(plan.ok() && !plan.update && plan.kept.isEmpty());
        QCOMPARE(plan.changes.size(), 4);
        QVERIFY(f->gallery.changeFiles("Add Web Viewer", plan.changes, plan.folder));
        QCOMPARE(readBytes(in("viewer.js")), QByteArray("new script"));
        QCOMPARE(manifest().value("files").toObject().keys(), QStringList({"index.html", "viewer.css", "viewer.js"}));
        QCOMPARE(f->gallery.undoStack()->undoText(), QStringLiteral("Add Web Viewer"));
        QVERIFY(f->gallery.undo());
        QVERIFY(!QFileInfo::exists(folder));
        QVERIFY(f->gallery.redo());
        QCOMPARE(readBytes(in("index.html")), QByteArray("new index"));
        // Nothing to do a second time.
        const qm::ViewerPlan again = qm::planWebViewer(source.path(), f->prefs.orvaneFolder(), "1.0");
        QVERIFY(again.ok() && again.update && again.changes.isEmpty());
        // Nothing of the viewer goes into img or xml.
        QCOMPARE(f->imgFiles(), QStringList());
    }

    void keepsFilesNotItsOwn()
    {
        QDir().mkpath(folder);
        writeBytes(in("index.html"), "the user's own page");
        writeBytes(in("notes.txt"), "notes");
        QFile::link(f->dir.filePath("elsewhere.css"), in("viewer.css"));
        const qm::ViewerPlan plan = qm::planWebViewer(source.path(), f->prefs.orvaneFolder(), "1.0");
        QVERIFY(plan.ok());
        QCOMPARE(plan.kept.size(), 2);
        QVERIFY(f->gallery.changeFiles("Add Web Viewer", plan.changes, plan.folder));
        QCOMPARE(readBytes(in("index.html")), QByteArray("the user's own page"));
        QCOMPARE(readBytes(in("notes.txt")), QByteArray("notes"));
        QVERIFY(QFileInfo(in("viewer.css")).isSymLink());
        QVERIFY(!QFileInfo::exists(f->dir.filePath("elsewhere.css")));
        QCOMPARE(readBytes(in("viewer.js")), QByteArray("new script"));
        QCOMPARE(manifest().value("files").toObject().keys(), QStringList({"viewer.js"}));
        // Undo leaves the folder, which holds the user's files.
        QVERIFY(f->gallery.undo());
        QVERIFY(!QFileInfo::exists(in("viewer.js")));
        QCOMPARE(readBytes(in("notes.txt")), QByteArray("notes"));
    }

    void updatesAnOlderViewer()
    {
        ownViewer("0.0.9", {{"index.html", "old index"}, {"viewer.js", "old script"}, {"chunk-old.js", "old chunk"},
                            {"viewer.css", "old style"}});
        writeBytes(in("viewer.css"), "old style, edited by the user");
        const qm::ViewerPlan plan = qm::planWebViewer(source.path(), f->prefs.orvaneFolder(), "1.0");
        QVERIFY(plan.ok() && plan.update);
        QCOMPARE(plan.kept.size(), 1);
        QCOMPARE(plan.kept.first().path, in("viewer.css"));
        QVERIFY(f->gallery.changeFiles("Update Web Viewer", plan.changes, plan.folder));
        QCOMPARE(readBytes(in("index.html")), QByteArray("new index"));
        QVERIFY(!QFileInfo::exists(in("chunk-old.js")));
        QCOMPARE(readBytes(in("viewer.css")), QByteArray("old style, edited by the user"));
        QCOMPARE(manifest().value("version").toString(), QStringLiteral("1.0"));
        QVERIFY(f->gallery.undo());
        QCOMPARE(readBytes(in("chunk-old.js")), QByteArray("old chunk"));
        QCOMPARE(readBytes(in("index.html")), QByteArray("old index"));
        QCOMPARE(manifest().value("version").toString(), QStringLiteral("0.0.9"));
    }

    void refusals()
    {
        ownViewer("9.0", {{"index.html", "newer index"}});
        qm::ViewerPlan plan = qm::planWebViewer(source.path(), f->prefs.orvaneFolder(), "1.0");
        QVERIFY(plan.refusal.contains("newer Quillmere (9.0)"));
        QVERIFY(plan.changes.isEmpty());

        writeBytes(in(qm::kViewerManifest), "{\"generator\": \"another tool\"}");
        plan = qm::planWebViewer(source.path(), f->prefs.orvaneFolder(), "1.0");
        QVERIFY(plan.refusal.contains("not written by Quillmere"));

        QDir(folder).removeRecursively();
        QDir().mkpath(f->dir.filePath("outside"));
        QFile::link(f->dir.filePath("outside"), folder);
        plan = qm::planWebViewer(source.path(), f->prefs.orvaneFolder(), "1.0");
        QVERIFY(plan.refusal.contains("symbolic link"));
        QVERIFY(QDir(f->dir.filePath("outside")).isEmpty());

        plan = qm::planWebViewer(QString(), f->prefs.orvaneFolder(), "1.0");
        QVERIFY(plan.refusal.contains("not installed"));
    }

    // A file that cannot be written takes the others back with it.
    void allOrNothing()
    {
        const qm::ViewerPlan plan = qm::planWebViewer(source.path(), f->prefs.orvaneFolder(), "1.0");
        QDir().mkpath(in(qm::kViewerManifest)); // the last file to be written is now a folder
        const qm::WriteResult written = f->gallery.changeFiles("Add Web Viewer", plan.changes, plan.folder);
        QVERIFY(!written);
        QCOMPARE(written.path, in(qm::kViewerManifest));
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList());
        QVERIFY(!f->gallery.canUndo());
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int status = 0;
    {
        PreviewServerTest t;
        status |= QTest::qExec(&t, argc, argv);
    }
    {
        WebViewerTest t;
        status |= QTest::qExec(&t, argc, argv);
    }
    return status;
}

#include "tst_previewserver.moc"
