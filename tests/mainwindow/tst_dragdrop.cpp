#include "common/TestFiles.h"
#include "mainwindow/AlbumTreeModel.h"
#include "mainwindow/DropHandler.h"
#include "mainwindow/GalleryTrash.h"
#include "mainwindow/ItemListModel.h"
#include "mainwindow/Pasteboard.h"
#include "model/AlbumCollection.h"
#include "model/Photo.h"
#include "model/Video.h"
#include "storage/Preferences.h"
#include "storage/Trash.h"

#include <QDataStream>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QMimeData>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <memory>
#include <thread>

using namespace qm;
using testing::filesMime;

namespace {

struct RecordingHandler : DropHandler
{
    QStringList photoFiles;
    Album *photoAlbum = nullptr;
    QString videoFile;
    Album *videoAlbum = nullptr;
    Video *streamOf = nullptr;
    int calls = 0;
    void importPhotos(const QStringList &files, Album *album) override
    {
        ++calls;
        photoFiles = files;
        photoAlbum = album;
    }
    void importVideo(const QString &file, Album *album, Video *addStreamTo) override
    {
        ++calls;
        videoFile = file;
        videoAlbum = album;
        streamOf = addStreamTo;
    }
};

// A gallery folder with the tree model, the item list model and a handler.
struct Fixture
{
    QTemporaryDir dir;
    QSettings settings{dir.filePath("prefs.ini"), QSettings::IniFormat};
    Preferences prefs{&settings};
    Data data;
    AlbumTreeModel tree{&data, &prefs};
    ItemListModel list{&data};
    RecordingHandler handler;

    Fixture()
    {
        QDir(dir.path()).mkpath("g/img");
        QDir(dir.path()).mkpath("g/xml");
        prefs.setOrvaneFolder(dir.filePath("g"));
        tree.setDropHandler(&handler);
        list.setDropHandler(&handler);
    }

    std::shared_ptr<Album> album(const QString &title, AlbumCollection *parent = nullptr)
    {
        auto a = std::make_shared<Album>();
        a->setTitle(title);
        a->setXMLFile(title + ".xml");
        a->setParentCollection(parent);
        (parent ? parent->items() : data.albums()).append(a);
        return a;
    }
    std::shared_ptr<AlbumCollection> collection(const QString &title, AlbumCollection *parent = nullptr)
    {
        auto c = std::make_shared<AlbumCollection>();
        c->setTitle(title);
        c->setParentCollection(parent);
        (parent ? parent->items() : data.albums()).append(c);
        return c;
    }
    std::shared_ptr<Photo> photo(Album &album, const QString &title)
    {
        auto p = std::make_shared<Photo>();
        p->setTitle(title);
        p->setImageFile("img_" + title + ".jpg");
        p->setSmallImageFile("img_" + title + "_sm.jpg");
        album.addItem(p);
        return p;
    }
    std::shared_ptr<Video> video(Album &album, const QString &title)
    {
        auto v = std::make_shared<Video>();
        v->setTitle(title);
        album.addItem(v);
        return v;
    }
    QString file(const QString &name, QSize size = {120, 90}, const char *format = "JPG")
    {
        const QString path = dir.filePath(name);
        QImage image(size, QImage::Format_RGB32);
        image.fill(QColor(40, 120, 200));
        image.save(path, format);
        return path;
    }
    QString img(const QString &name) const { return prefs.imgPath(name); }
    void select(Album *a)
    {
        data.setSelectedAlbum(a);
        list.setAlbum(a);
    }
};


QMimeData *itemsMime(const QList<std::shared_ptr<Item>> &items)
{
    QList<const Item *> raw;
    for (const auto &i : items)
        raw << i.get();
    return Pasteboard::writeItems(raw);
}

QStringList titles(const QList<NodePtr> &nodes)
{
    QStringList t;
    for (const NodePtr &n : nodes)
        t << n->title();
    return t;
}

QStringList titles(const Album &album)
{
    QStringList t;
    for (const ItemPtr &i : album.items())
        t << i->title();
    return t;
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

} // namespace

class TestDragDrop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void movingNodesInTheTree();
    void itemsOntoTheTree();
    void filesOntoTheTree();
    void foreignAndStalePayloadsAreRefused();
    void reorderingTheItemList();
    void reorderingTheItemList_data();
    void filesOntoTheItemList();
    void deletingRemovesTheFiles();
    void sharedFilesAreKept();
    void stoppingADeletion();
    void noTrashInTheWorkingFolder();
};

void TestDragDrop::initTestCase()
{
    // Deleted files go to a trash of the test's own.
    static QTemporaryDir home;
    QDir(home.path()).mkpath("share");
    qputenv("XDG_DATA_HOME", home.filePath("share").toLocal8Bit());
}

void TestDragDrop::movingNodesInTheTree()
{
    {
        Fixture f;
        auto a = f.album("A"), b = f.album("B"), c = f.album("C");
        std::unique_ptr<QMimeData> drag(f.tree.mimeData({f.tree.indexForNode(b.get())}));
        QVERIFY(drag->hasFormat(Pasteboard::AlbumType));
        // The second of three to the end: the index is reduced before reinsertion.
        QCOMPARE(f.tree.validateDrop(drag.get(), nullptr, 3), Qt::MoveAction);
        QVERIFY(f.tree.dropMimeData(drag.get(), Qt::MoveAction, 3, 0, {}));
        QCOMPARE(titles(f.data.albums()), (QStringList{"A", "C", "B"}));
        QVERIFY(f.data.needsToSaveChanges());
        // The first to index 1 stays where it is.
        drag.reset(f.tree.mimeData({f.tree.indexForNode(a.get())}));
        QVERIFY(f.tree.acceptDrop(drag.get(), nullptr, 1));
        QCOMPARE(titles(f.data.albums()), (QStringList{"A", "C", "B"}));
        // An album onto an album is refused and changes nothing.
        QCOMPARE(f.tree.validateDrop(drag.get(), c.get(), -1), Qt::IgnoreAction);
        QVERIFY(!f.tree.acceptDrop(drag.get(), c.get(), -1));
        QCOMPARE(titles(f.data.albums()), (QStringList{"A", "C", "B"}));
    }
    {
        Fixture f;
        auto top = f.collection("Top");
        auto mid = f.collection("Mid", top.get());
        auto low = f.collection("Low", mid.get());
        auto album = f.album("Alb", low.get());
        auto other = f.collection("Other");
        auto loose = f.album("Loose");
        QSignalSpy moved(&f.tree, &AlbumTreeModel::nodeMoved);

        std::unique_ptr<QMimeData> drag(f.tree.mimeData({f.tree.indexForNode(top.get())}));
        QVERIFY(drag->hasFormat(Pasteboard::CollectionType));
        // Onto itself, onto or between the children of a descendant: refused.
        QCOMPARE(f.tree.validateDrop(drag.get(), top.get(), -1), Qt::IgnoreAction);
        QCOMPARE(f.tree.validateDrop(drag.get(), mid.get(), -1), Qt::IgnoreAction);
        QCOMPARE(f.tree.validateDrop(drag.get(), low.get(), 0), Qt::IgnoreAction);
        QCOMPARE(f.tree.validateDrop(drag.get(), album.get(), -1), Qt::IgnoreAction);
        QVERIFY(!f.tree.acceptDrop(drag.get(), low.get(), -1));
        QCOMPARE(top->parentCollection(), nullptr);

        // Into an unrelated collection, with everything below it.
        QVERIFY(f.tree.dropMimeData(drag.get(), Qt::MoveAction, -1, 0, f.tree.indexForNode(other.get())));
        QCOMPARE(titles(f.data.albums()), (QStringList{"Other", "Loose"}));
        QCOMPARE(other->items().first().get(), top.get());
        QCOMPARE(top->parentCollection(), other.get());
        QCOMPARE(album->parentCollection(), low.get());
        QCOMPARE(f.tree.rowCount(f.tree.indexForNode(low.get())), 1);
        QCOMPARE(moved.size(), 1);

        // An album dropped onto a collection becomes its last child.
        drag.reset(f.tree.mimeData({f.tree.indexForNode(loose.get())}));
        QVERIFY(f.tree.acceptDrop(drag.get(), mid.get(), -1));
        QCOMPARE(titles(mid->items()), (QStringList{"Low", "Loose"}));
        QCOMPARE(loose->parentCollection(), mid.get());
        // And back to the top level between the nodes there.
        QVERIFY(f.tree.acceptDrop(drag.get(), nullptr, 0));
        QCOMPARE(titles(f.data.albums()), (QStringList{"Loose", "Other"}));
        QCOMPARE(loose->parentCollection(), nullptr);
        // A collection of the top level can be dropped at the top level.
        drag.reset(f.tree.mimeData({f.tree.indexForNode(other.get())}));
        QVERIFY(f.tree.acceptDrop(drag.get(), nullptr, 0));
        QCOMPARE(titles(f.data.albums()), (QStringList{"Other", "Loose"}));
    }
}

void TestDragDrop::itemsOntoTheTree()
{
    Fixture f;
    auto from = f.album("From"), to = f.album("To");
    auto coll = f.collection("Coll");
    auto p1 = f.photo(*from, "p1"), p2 = f.photo(*from, "p2"), p3 = f.photo(*from, "p3");
    auto v = f.video(*from, "v");
    f.photo(*to, "t1");
    f.select(from.get());
    QSignalSpy moved(&f.tree, &AlbumTreeModel::itemsMoved);

    // Three items, dragged in row order, onto another album.
    std::unique_ptr<QMimeData> drag(f.list.mimeData({f.list.index(2, 1), f.list.index(0, 1), f.list.index(3, 0)}));
    QCOMPARE(f.tree.validateDrop(drag.get(), to.get(), -1), Qt::MoveAction);
    QCOMPARE(f.tree.validateDrop(drag.get(), from.get(), -1), Qt::IgnoreAction); // their own album
    QCOMPARE(f.tree.validateDrop(drag.get(), coll.get(), -1), Qt::IgnoreAction); // more than one
    QVERIFY(f.tree.acceptDrop(drag.get(), to.get(), -1));
    QCOMPARE(titles(*to), (QStringList{"t1", "p1", "p3", "v"}));
    QCOMPARE(titles(*from), (QStringList{"p2"}));
    QCOMPARE(moved.size(), 1);
    // The same drag again: the items are no longer where the list shows them.
    QCOMPARE(f.tree.validateDrop(drag.get(), to.get(), -1), Qt::IgnoreAction);

    // One photo onto a collection: a thumbnail within 60 x 40 from its small image.
    f.file("g/img/img_p2_sm.jpg", {300, 100});
    drag.reset(itemsMime({p2}));
    QCOMPARE(f.tree.validateDrop(drag.get(), coll.get(), -1), Qt::CopyAction);
    QCOMPARE(f.tree.validateDrop(drag.get(), coll.get(), 0), Qt::IgnoreAction);
    QVERIFY(f.tree.acceptDrop(drag.get(), coll.get(), -1));
    QVERIFY(coll->thumbFile().startsWith("albthumb_"));
    QCOMPARE(QImageReader(f.img(coll->thumbFile())).size(), QSize(60, 20));
    // A second one keeps the name and replaces the picture.
    const QString name = coll->thumbFile();
    f.file("g/img/img_p2_sm.jpg", {100, 100});
    QVERIFY(f.tree.acceptDrop(drag.get(), coll.get(), -1));
    QCOMPARE(coll->thumbFile(), name);
    QCOMPARE(QImageReader(f.img(name)).size(), QSize(40, 40));
}

void TestDragDrop::filesOntoTheTree()
{
    Fixture f;
    auto album = f.album("A");
    auto coll = f.collection("C");
    QStringList jpegs;
    for (int i = 0; i < 5; ++i)
        jpegs << f.file(QStringLiteral("pic%1.jpeg").arg(i));
    const QString png = f.file("pic.png", {80, 80}, "PNG");
    const QString flv = f.dir.filePath("clip.FLV");
    QFile(flv).open(QIODevice::WriteOnly);
    const QString text = f.dir.filePath("notes.txt");
    QFile(text).open(QIODevice::WriteOnly);

    std::unique_ptr<QMimeData> drop(filesMime(jpegs));
    QCOMPARE(f.tree.validateDrop(drop.get(), album.get(), -1), Qt::CopyAction);
    QCOMPARE(f.tree.validateDrop(drop.get(), nullptr, 0), Qt::IgnoreAction);
    QCOMPARE(f.tree.validateDrop(drop.get(), coll.get(), -1), Qt::IgnoreAction); // one picture only
    QVERIFY(f.tree.acceptDrop(drop.get(), album.get(), -1));
    QCOMPARE(f.handler.photoFiles, jpegs);
    QCOMPARE(f.handler.photoAlbum, album.get());
    QVERIFY(!f.data.needsToSaveChanges()); // the import marks its own changes

    // One FLV file, any letter case: the video import for a new video.
    drop.reset(filesMime({flv}));
    QCOMPARE(f.tree.validateDrop(drop.get(), album.get(), -1), Qt::CopyAction);
    QVERIFY(f.tree.acceptDrop(drop.get(), album.get(), -1));
    QCOMPARE(f.handler.videoFile, QFileInfo(flv).absoluteFilePath());
    QCOMPARE(f.handler.videoAlbum, album.get());
    QCOMPARE(f.handler.streamOf, nullptr);
    // With another file, or among pictures, or a text file: refused.
    for (const QStringList &bad : {QStringList{flv, jpegs[0]}, QStringList{jpegs[0], text}, QStringList{text}}) {
        drop.reset(filesMime(bad));
        QCOMPARE(f.tree.validateDrop(drop.get(), album.get(), -1), Qt::IgnoreAction);
        QVERIFY(!f.tree.acceptDrop(drop.get(), album.get(), -1));
    }
    QCOMPARE(f.handler.calls, 2);

    // A file that is not local is never fetched.
    drop.reset(new QMimeData);
    drop->setUrls({QUrl("https://example.org/a.jpg")});
    QCOMPARE(f.tree.validateDrop(drop.get(), album.get(), -1), Qt::IgnoreAction);

    // One picture onto a collection (not between its children) makes its thumbnail.
    drop.reset(filesMime({png}));
    QCOMPARE(f.tree.validateDrop(drop.get(), coll.get(), 0), Qt::IgnoreAction);
    QCOMPARE(f.tree.validateDrop(drop.get(), coll.get(), -1), Qt::CopyAction);
    QVERIFY(f.tree.dropMimeData(drop.get(), Qt::CopyAction, -1, 0, f.tree.indexForNode(coll.get())));
    QCOMPARE(QImageReader(f.img(coll->thumbFile())).size(), QSize(40, 40));
    QVERIFY(f.data.needsToSaveChanges());

    // A picture that cannot be decoded gives no name to a node without one.
    const QString broken = f.dir.filePath("broken.jpg");
    QFile b(broken);
    QVERIFY(b.open(QIODevice::WriteOnly));
    b.write("not a picture");
    b.close();
    auto bare = f.collection("Bare");
    drop.reset(filesMime({broken}));
    QVERIFY(f.tree.acceptDrop(drop.get(), bare.get(), -1));
    QVERIFY(bare->thumbFile().isEmpty());
}

void TestDragDrop::foreignAndStalePayloadsAreRefused()
{
    Fixture f;
    auto a = f.album("A");
    auto c = f.collection("C");
    f.photo(*a, "p");
    f.select(a.get());

    // Bytes that only look like a payload: another process's token, garbage, truncated.
    QByteArray forged;
    {
        QDataStream out(&forged, QIODevice::WriteOnly);
        out << quint32(0x514d5246) << quint64(12345) << quint32(1) << a->id();
    }
    const QList<QByteArray> junk{forged, QByteArray("\xff\xff\xff\xff garbage", 12), QByteArray(), forged.left(10)};
    for (const QByteArray &bytes : junk) {
        for (const QString &type : {Pasteboard::AlbumType, Pasteboard::CollectionType, Pasteboard::PhotosType}) {
            QMimeData mime;
            mime.setData(type, bytes);
            QCOMPARE(f.tree.validateDrop(&mime, nullptr, 0), Qt::IgnoreAction);
            QCOMPARE(f.tree.validateDrop(&mime, c.get(), -1), Qt::IgnoreAction);
            QVERIFY(!f.tree.acceptDrop(&mime, c.get(), -1));
            int row = 0;
            bool on = false;
            QCOMPARE(f.list.validateDrop(&mime, row, on), Qt::IgnoreAction);
        }
    }
    // A node that has left the tree is not found again.
    auto gone = f.album("Gone");
    std::unique_ptr<QMimeData> drag(f.tree.mimeData({f.tree.indexForNode(gone.get())}));
    f.tree.removeNode(gone.get());
    QCOMPARE(f.tree.validateDrop(drag.get(), c.get(), -1), Qt::IgnoreAction);
    QVERIFY(!f.tree.acceptDrop(drag.get(), c.get(), -1));
    QCOMPARE(titles(f.data.albums()), (QStringList{"A", "C"}));
    // An album payload under the collection type is refused too.
    QMimeData mixed;
    mixed.setData(Pasteboard::CollectionType, drag->data(Pasteboard::AlbumType));
    QCOMPARE(f.tree.validateDrop(&mixed, nullptr, 0), Qt::IgnoreAction);
}

void TestDragDrop::reorderingTheItemList_data()
{
    QTest::addColumn<QString>("items");
    QTest::addColumn<QList<int>>("dragged");
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("onRow");
    QTest::addColumn<QString>("expected");
    QTest::newRow("before E") << "ABCDE" << QList<int>{1, 3} << 4 << false << "ACBDE";
    QTest::newRow("after E") << "ABCDE" << QList<int>{1, 3} << 5 << false << "ACEBD";
    QTest::newRow("top") << "ABCDE" << QList<int>{1, 3} << 0 << false << "BDACE";
    QTest::newRow("before C") << "ABCDE" << QList<int>{1, 3} << 2 << false << "ABDCE";
    QTest::newRow("onto a row means above it") << "ABCDE" << QList<int>{1, 3} << 2 << true << "ABDCE";
    QTest::newRow("B above itself") << "ABC" << QList<int>{1} << 1 << false << "ABC";
    QTest::newRow("B above C") << "ABC" << QList<int>{1} << 2 << false << "ABC";
    QTest::newRow("empty area below") << "ABC" << QList<int>{0} << -1 << false << "BCA";
}

void TestDragDrop::reorderingTheItemList()
{
    QFETCH(QString, items);
    QFETCH(QList<int>, dragged);
    QFETCH(int, row);
    QFETCH(bool, onRow);
    QFETCH(QString, expected);
    Fixture f;
    auto album = f.album("A");
    for (QChar c : items)
        f.photo(*album, QString(c));
    f.select(album.get());
    QSignalSpy reordered(&f.list, &ItemListModel::itemsReordered);
    QModelIndexList indexes;
    for (int r : dragged)
        indexes << f.list.index(r, 1);
    std::unique_ptr<QMimeData> drag(f.list.mimeData(indexes));
    const QModelIndex parent = onRow ? f.list.index(row, 0) : QModelIndex();
    QVERIFY(f.list.canDropMimeData(drag.get(), Qt::MoveAction, onRow ? -1 : row, 0, parent));
    QVERIFY(f.list.dropMimeData(drag.get(), Qt::MoveAction, onRow ? -1 : row, 0, parent));
    QCOMPARE(titles(*album).join(QString()), expected);
    QCOMPARE(f.list.rowCount(), items.size());
    QVERIFY(f.data.needsToSaveChanges());
    QCOMPARE(reordered.size(), 1);
}

void TestDragDrop::filesOntoTheItemList()
{
    Fixture f;
    auto album = f.album("A");
    f.photo(*album, "p");
    auto v = f.video(*album, "v");
    const QStringList pics{f.file("a.jpg"), f.file("b.tif", {50, 50}, "TIFF"), f.file("c.png", {50, 50}, "PNG")};
    const QString flv = f.dir.filePath("clip.FLV");
    QFile(flv).open(QIODevice::WriteOnly);
    const QString text = f.dir.filePath("readme.txt");
    QFile(text).open(QIODevice::WriteOnly);

    // No album shown: nothing can be dropped.
    std::unique_ptr<QMimeData> drop(filesMime(pics));
    int row = 0;
    bool on = false;
    QCOMPARE(f.list.validateDrop(drop.get(), row, on), Qt::IgnoreAction);
    f.select(album.get());

    // Pictures: shown at the end, handed to the photo import.
    row = 0;
    on = true;
    QCOMPARE(f.list.validateDrop(drop.get(), row, on), Qt::CopyAction);
    QCOMPARE(row, 2);
    QVERIFY(!on);
    QVERIFY(f.list.dropMimeData(drop.get(), Qt::CopyAction, 0, 0, {}));
    QCOMPARE(f.handler.photoFiles, pics);
    QCOMPARE(f.handler.photoAlbum, album.get());

    drop.reset(filesMime({pics[0], pics[1], text}));
    QVERIFY(!f.list.canDropMimeData(drop.get(), Qt::CopyAction, 0, 0, {}));

    // One FLV onto the video's row: a stream of that video.
    drop.reset(filesMime({flv}));
    QVERIFY(f.list.dropMimeData(drop.get(), Qt::CopyAction, -1, 0, f.list.index(1, 0)));
    QCOMPARE(f.handler.streamOf, v.get());
    QCOMPARE(f.handler.videoAlbum, album.get());
    // Onto the photo's row or between rows: a new video at the end.
    row = 0;
    on = true;
    QCOMPARE(f.list.validateDrop(drop.get(), row, on), Qt::CopyAction);
    QCOMPARE(row, 2);
    QVERIFY(f.list.dropMimeData(drop.get(), Qt::CopyAction, -1, 0, f.list.index(0, 0)));
    QCOMPARE(f.handler.streamOf, nullptr);
    f.handler.streamOf = v.get();
    QVERIFY(f.list.dropMimeData(drop.get(), Qt::CopyAction, 1, 0, {}));
    QCOMPARE(f.handler.streamOf, nullptr);

    drop.reset(filesMime({flv, flv}));
    QVERIFY(!f.list.canDropMimeData(drop.get(), Qt::CopyAction, 0, 0, {}));
    QCOMPARE(titles(*album), (QStringList{"p", "v"}));
}

void TestDragDrop::deletingRemovesTheFiles()
{
    Fixture f;
    auto coll = f.collection("C");
    coll->setThumbFile("albthumb_c.jpg");
    auto inner = f.collection("Inner", coll.get());
    inner->setThumbFile("albthumb_i.jpg");
    auto album = f.album("A", inner.get());
    album->setThumbFile("albthumb_a.jpg");
    auto p = f.photo(*album, "p");
    p->setLargeImageFile("img_p_lg.jpg");
    auto v = f.video(*album, "v");
    v->setThumbFile("vthumb_v.jpg");
    for (int rate : {800, 400, 150}) {
        auto s = std::make_shared<VideoStream>();
        s->setBitrate(rate);
        s->setFile(QStringLiteral("vstream_%1.flv").arg(rate));
        v->addStream(s);
    }
    auto keep = f.album("Keep");
    auto solo = f.photo(*keep, "solo"); // no large image
    auto twin = f.photo(*keep, "twin");
    for (const char *name : {"albthumb_c.jpg", "albthumb_i.jpg", "albthumb_a.jpg", "img_p.jpg", "img_p_sm.jpg",
                                "img_p_lg.jpg", "vthumb_v.jpg", "vstream_800.flv", "vstream_400.flv",
                                "vstream_150.flv", "img_solo.jpg", "img_solo_sm.jpg", "img_twin.jpg",
                                "unrelated.jpg"})
        f.file(QStringLiteral("g/img/") + QLatin1String(name));
    f.file("g/xml/A.xml");
    QDir().mkpath(f.img("img_twin_sm.jpg")); // a folder where a file is expected
    GalleryTrash trash(f.data, f.prefs);

    // A photo without a large image: exactly its two files.
    DeleteReport r = trash.deleteItems({solo});
    QCOMPARE(r.trashed + r.removed, 2);
    QVERIFY(!QFile::exists(f.img("img_solo.jpg")) && !QFile::exists(f.img("img_solo_sm.jpg")));
    // Missing files and folders are passed over.
    r = trash.deleteItems({twin});
    QCOMPARE(r.trashed + r.removed, 1);
    QVERIFY(QFileInfo(f.img("img_twin_sm.jpg")).isDir());
    QVERIFY(r.failed.isEmpty());

    // A collection holding a collection holding an album: all three
    // thumbnails, every item's files and the album file.
    r = trash.deleteNode(*coll);
    QCOMPARE(r.trashed + r.removed, 11);
    QCOMPARE(filesIn(f.prefs.imgFolder()), QStringList{"unrelated.jpg"});
    QVERIFY(filesIn(f.prefs.xmlFolder()).isEmpty());
    // The files can be had back from the desktop's trash.
    QCOMPARE(r.trashed, 11);
    const QString trashFiles = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME")) + "/Trash/files";
    QVERIFY(QFile::exists(trashFiles + "/vstream_400.flv"));

    // Where there is no trash the files are removed.
    GalleryTrash::setTrashDisabledForTesting(true);
    auto last = f.album("Last");
    auto lp = f.photo(*last, "lp");
    f.file("g/img/img_lp.jpg");
    f.file("g/img/img_lp_sm.jpg");
    r = trash.deleteNode(*last);
    GalleryTrash::setTrashDisabledForTesting(false);
    QCOMPARE(r.removed, 2);
    QCOMPARE(r.trashed, 0);
    QCOMPARE(filesIn(f.prefs.imgFolder()), QStringList{"unrelated.jpg"});
}

void TestDragDrop::sharedFilesAreKept()
{
    Fixture f;
    auto a = f.album("A"), b = f.album("B");
    auto c = f.collection("C");
    for (TreeNode *n : std::initializer_list<TreeNode *>{a.get(), b.get(), c.get()})
        n->setThumbFile("albthumb_shared.jpg");
    f.file("g/img/albthumb_shared.jpg");
    // Names that would reach outside the gallery are never touched.
    a->setXMLFile("../../outside.xml");
    f.file("outside.xml");
    GalleryTrash trash(f.data, f.prefs);
    DeleteReport r = trash.deleteNode(*a);
    QCOMPARE(r.kept, 1);
    QVERIFY(QFile::exists(f.img("albthumb_shared.jpg")));
    QVERIFY(QFile::exists(f.dir.filePath("outside.xml")));
    f.tree.removeNode(a.get());
    f.tree.removeNode(b.get());
    // The last node naming it takes the file with it.
    r = trash.deleteNode(*c);
    QCOMPARE(r.kept, 0);
    QVERIFY(!QFile::exists(f.img("albthumb_shared.jpg")));
    QCOMPARE(GalleryTrash::countNode(*c).collections, 1);
}

void TestDragDrop::stoppingADeletion()
{
    Fixture f;
    const QString trash = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME")) + "/Trash";
    auto fill = [&](const QString &prefix, int count) {
        DeletePlan plan;
        for (int i = 0; i < count; ++i) {
            plan.paths << f.img(QStringLiteral("%1%2.jpg").arg(prefix).arg(i));
            f.file(QStringLiteral("g/img/%1%2.jpg").arg(prefix).arg(i));
        }
        return plan;
    };
    // Stops once `after` files are done, from another thread as the window does.
    auto run = [](const DeletePlan &plan, int after) {
        std::atomic_bool stop{false};
        std::atomic<qint64> done{0};
        DeleteReport report;
        std::thread worker([&] { report = GalleryTrash::carryOut(plan, &stop, &done); });
        while (done < after)
            std::this_thread::yield();
        stop = true;
        worker.join();
        return std::make_pair(report, int(done.load()));
    };
    auto inTrash = [&](const QString &prefix, const char *sub) {
        return QDir(trash + "/" + sub).entryList({prefix + "*"}, QDir::Files).size();
    };

    // Stopped part way: what went to the trash comes back, records and all.
    const DeletePlan plan = fill("stop", 2000);
    auto [report, done] = run(plan, 20);
    QVERIFY(report.undone);
    QVERIFY2(done < 2000, "the deletion went on after the stop");
    QCOMPARE(report.trashed + report.removed, 0);
    for (const QString &p : plan.paths)
        QVERIFY2(QFile::exists(p), qPrintable(p));
    QCOMPARE(inTrash("stop", "files"), 0);
    QCOMPARE(inTrash("stop", "info"), 0);

    // Files removed for good cannot come back: the deletion finishes.
    GalleryTrash::setTrashDisabledForTesting(true);
    const DeletePlan gone = fill("gone", 2000);
    auto [final, all] = run(gone, 20);
    GalleryTrash::setTrashDisabledForTesting(false);
    QVERIFY(!final.undone);
    QCOMPARE(all, 2000);
    QCOMPARE(final.removed, 2000);
    for (const QString &p : gone.paths)
        QVERIFY2(!QFile::exists(p), qPrintable(p));

    // Without a stop, everything goes and the count says so.
    const DeletePlan whole = fill("whole", 50);
    const DeleteReport r = GalleryTrash::carryOut(whole);
    QCOMPARE(r.trashed, 50);
    QCOMPARE(inTrash("whole", "files"), 50);
}

void TestDragDrop::noTrashInTheWorkingFolder()
{
    // Where no trash can be made, Qt would move files into "files" and
    // "info" of the working folder; they must be trashed properly or removed.
    Fixture f;
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    const QString oldCwd = QDir::currentPath();
    QTemporaryDir cwd;
    QVERIFY(QDir::setCurrent(cwd.path()));
    auto restore = qScopeGuard([&] {
        QDir::setCurrent(oldCwd);
        qputenv("XDG_DATA_HOME", oldData);
    });
    auto album = f.album("A");
    auto p = f.photo(*album, "p");
    auto q = f.photo(*album, "q");
    GalleryTrash trash(f.data, f.prefs);

    // A fresh account without a data folder: the home trash is made.
    const QString fresh = f.dir.filePath("fresh/.local/share");
    qputenv("XDG_DATA_HOME", fresh.toLocal8Bit());
    f.file("g/img/img_p.jpg");
    f.file("g/img/img_p_sm.jpg");
    DeleteReport r = trash.deleteItems({p});
    QCOMPARE(r.trashed, 2);
    QVERIFY(QFile::exists(fresh + "/Trash/files/img_p.jpg"));
    QVERIFY(QFile::exists(fresh + "/Trash/info/img_p.jpg.trashinfo"));
    QVERIFY2(QDir(cwd.path()).isEmpty(), "files were put in the working folder");

    // A home trash that cannot be made: the files go for good, nowhere else.
    const QString blocked = f.dir.filePath("blocked");
    QDir().mkpath(blocked);
    f.file("blocked/Trash"); // a file where the trash folder would be
    qputenv("XDG_DATA_HOME", blocked.toLocal8Bit());
    f.file("g/img/img_q.jpg");
    f.file("g/img/img_q_sm.jpg");
    r = trash.deleteItems({q});
    QCOMPARE(r.trashed, 0);
    QCOMPARE(r.removed, 2);
    QVERIFY(r.failed.isEmpty());
    QVERIFY(!QFile::exists(f.img("img_q.jpg")) && !QFile::exists(f.img("img_q_sm.jpg")));
    QVERIFY2(QDir(cwd.path()).isEmpty(), "files were put in the working folder");

    // A folder of the user's own called "files" is left alone.
    QDir(cwd.path()).mkdir("files");
    f.file("g/img/lone.jpg");
    QVERIFY(!moveFileToTrash(f.img("lone.jpg")));
    QVERIFY(QFile::exists(f.img("lone.jpg")));
    QCOMPARE(QDir(cwd.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"files"});
}

QTEST_MAIN(TestDragDrop)
#include "tst_dragdrop.moc"
