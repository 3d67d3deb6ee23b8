#include "common/TestFiles.h"
#include "mainwindow/AlbumTreeModel.h"
#include "mainwindow/DropHandler.h"
#include "mainwindow/ItemListModel.h"
#include "mainwindow/Pasteboard.h"
#include "model/AlbumCollection.h"
#include "model/Photo.h"
#include "model/Video.h"
#include "storage/Preferences.h"
#include "storage/Gallery.h"

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
// The tree is built in `staged`, then handed to the gallery by ready().
struct Fixture
{
    QTemporaryDir dir;
    QSettings settings{dir.filePath("prefs.ini"), QSettings::IniFormat};
    Preferences prefs{&settings};
    Data staged;
    Gallery gallery{prefs};
    const Data &data = gallery.data();
    AlbumTreeModel tree{&gallery};
    ItemListModel list{&gallery};
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
        (parent ? parent->items() : staged.albums()).append(a);
        return a;
    }
    std::shared_ptr<AlbumCollection> collection(const QString &title, AlbumCollection *parent = nullptr)
    {
        auto c = std::make_shared<AlbumCollection>();
        c->setTitle(title);
        c->setParentCollection(parent);
        (parent ? parent->items() : staged.albums()).append(c);
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
    void ready() { gallery.adoptTree(staged.albums()); }
    void select(Album *a)
    {
        gallery.setSelection(a, nullptr);
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

} // namespace

class TestDragDrop : public QObject
{
    Q_OBJECT
private slots:
    void movingNodesInTheTree();
    void itemsOntoTheTree();
    void filesOntoTheTree();
    void foreignAndStalePayloadsAreRefused();
    void reorderingTheItemList();
    void reorderingTheItemList_data();
    void filesOntoTheItemList();
};

void TestDragDrop::movingNodesInTheTree()
{
    {
        Fixture f;
        auto a = f.album("A"), b = f.album("B"), c = f.album("C");
        f.ready();
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
        f.ready();
        QSignalSpy moved(&f.tree, &AlbumTreeModel::nodeDropped);

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
    f.ready();
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
    auto bare = f.collection("Bare");
    f.ready();

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
    auto gone = f.album("Gone");
    f.ready();
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
    std::unique_ptr<QMimeData> drag(f.tree.mimeData({f.tree.indexForNode(gone.get())}));
    f.gallery.removeNode(gone);
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
    f.ready();
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
    f.ready();

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

QTEST_MAIN(TestDragDrop)
#include "tst_dragdrop.moc"
