// The drag-and-drop rules of the tree and item list models: what each
// payload may be dropped on, and what the drop changes.

#include "common/GalleryFixture.h"
#include "mainwindow/AlbumTreeModel.h"
#include "mainwindow/DropHandler.h"
#include "mainwindow/ItemListModel.h"
#include "mainwindow/Pasteboard.h"

#include <QDataStream>
#include <QImageReader>
#include <QMimeData>
#include <QUrl>
#include <QtTest>

#include <memory>

using namespace qm;
using testing::filesMime;
using testing::picture;
using testing::titles;

namespace {

// What the window would be asked to import: "album: files", or "album: file for video".
struct RecordingHandler : DropHandler
{
    QStringList log;
    void importPhotos(const QStringList &files, Album *to) override { log << to->title() + ": " + files.join(' '); }
    void importVideo(const QString &file, Album *to, Video *addStreamTo) override
    {
        log << to->title() + ": " + file + (addStreamTo ? " for " + addStreamTo->title() : QString());
    }
};

struct Fixture : testing::GalleryFixture
{
    AlbumTreeModel tree{&gallery};
    ItemListModel list{&gallery};
    RecordingHandler handler;

    Fixture()
    {
        tree.setDropHandler(&handler);
        list.setDropHandler(&handler);
    }
    void select(Album *a)
    {
        gallery.setSelection(a, nullptr);
        list.setAlbum(a);
    }
    QMimeData *drag(const TreeNode *node) { return tree.mimeData({tree.indexForNode(node)}); }
    QString source(const QString &name, QSize size = {120, 90}, const char *format = nullptr)
    {
        return picture(dir.filePath(name), size, QColor(40, 120, 200), format);
    }
};

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
    Fixture f;
    auto a = f.album("A"), b = f.album("B");
    auto top = f.collection("Top");
    auto mid = f.collection("Mid", top.get());
    auto low = f.collection("Low", mid.get());
    auto album = f.album("Alb", low.get());
    auto other = f.collection("Other");
    f.ready();

    // The second of the top level to the end: the index is reduced before reinsertion.
    std::unique_ptr<QMimeData> drag(f.drag(b.get()));
    QVERIFY(drag->hasFormat(Pasteboard::AlbumType));
    QCOMPARE(f.tree.validateDrop(drag.get(), nullptr, 4), Qt::MoveAction);
    QVERIFY(f.tree.dropMimeData(drag.get(), Qt::MoveAction, 4, 0, {}));
    QCOMPARE(titles(f.data.albums()), (QStringList{"A", "Top", "Other", "B"}));
    QVERIFY(f.data.needsToSaveChanges());
    // The first to index 1 stays where it is; an album onto an album is refused.
    drag.reset(f.drag(a.get()));
    QVERIFY(f.tree.acceptDrop(drag.get(), nullptr, 1));
    QCOMPARE(f.tree.validateDrop(drag.get(), b.get(), -1), Qt::IgnoreAction);
    QVERIFY(!f.tree.acceptDrop(drag.get(), b.get(), -1));
    QCOMPARE(titles(f.data.albums()), (QStringList{"A", "Top", "Other", "B"}));

    // A collection onto itself, onto or between the children of a descendant: refused.
    drag.reset(f.drag(top.get()));
    QVERIFY(drag->hasFormat(Pasteboard::CollectionType));
    const QList<std::pair<TreeNode *, int>> refused{{top.get(), -1}, {mid.get(), -1}, {low.get(), 0}, {album.get(), -1}};
    for (const auto &[onto, row] : refused)
        QCOMPARE(f.tree.validateDrop(drag.get(), onto, row), Qt::IgnoreAction);
    QVERIFY(!f.tree.acceptDrop(drag.get(), low.get(), -1));
    QCOMPARE(top->parentCollection(), nullptr);

    // Into an unrelated collection, with everything below it.
    QSignalSpy moved(&f.tree, &AlbumTreeModel::nodeDropped);
    QVERIFY(f.tree.dropMimeData(drag.get(), Qt::MoveAction, -1, 0, f.tree.indexForNode(other.get())));
    QCOMPARE(titles(f.data.albums()), (QStringList{"A", "Other", "B"}));
    QCOMPARE(top->parentCollection(), other.get());
    QCOMPARE(album->parentCollection(), low.get());
    QCOMPARE(f.tree.rowCount(f.tree.indexForNode(low.get())), 1);
    QCOMPARE(moved.size(), 1);

    // An album dropped onto a collection becomes its last child; and back between the top nodes.
    drag.reset(f.drag(b.get()));
    QVERIFY(f.tree.acceptDrop(drag.get(), mid.get(), -1));
    QCOMPARE(titles(mid->items()), (QStringList{"Low", "B"}));
    QCOMPARE(b->parentCollection(), mid.get());
    QVERIFY(f.tree.acceptDrop(drag.get(), nullptr, 0));
    QCOMPARE(titles(f.data.albums()), (QStringList{"B", "A", "Other"}));
    QCOMPARE(b->parentCollection(), nullptr);
    // A collection of the top level moves within it.
    drag.reset(f.drag(other.get()));
    QVERIFY(f.tree.acceptDrop(drag.get(), nullptr, 0));
    QCOMPARE(titles(f.data.albums()), (QStringList{"Other", "B", "A"}));
}

void TestDragDrop::itemsOntoTheTree()
{
    Fixture f;
    auto from = f.album("From"), to = f.album("To");
    auto coll = f.collection("Coll");
    f.photo(*from, "p1");
    auto p2 = f.photo(*from, "p2");
    f.photo(*from, "p3");
    f.video(*from, "v");
    f.photo(*to, "t1");
    f.ready();
    f.select(from.get());
    QSignalSpy moved(&f.tree, &AlbumTreeModel::itemsMoved);

    // Three items, dragged in row order, onto another album; its count follows.
    std::unique_ptr<QMimeData> drag(f.list.mimeData({f.list.index(2, 1), f.list.index(0, 1), f.list.index(3, 0)}));
    QCOMPARE(f.tree.validateDrop(drag.get(), to.get(), -1), Qt::MoveAction);
    QCOMPARE(f.tree.validateDrop(drag.get(), from.get(), -1), Qt::IgnoreAction); // their own album
    QCOMPARE(f.tree.validateDrop(drag.get(), coll.get(), -1), Qt::IgnoreAction); // more than one
    QVERIFY(f.tree.acceptDrop(drag.get(), to.get(), -1));
    QCOMPARE(titles(*to), (QStringList{"t1", "p1", "p3", "v"}));
    QCOMPARE(titles(*from), (QStringList{"p2"}));
    QCOMPARE(f.tree.index(1, AlbumTreeModel::NumberColumn).data().toString(), QStringLiteral("4"));
    QCOMPARE(moved.size(), 1);
    // The same drag again: the items are no longer where the list shows them.
    QCOMPARE(f.tree.validateDrop(drag.get(), to.get(), -1), Qt::IgnoreAction);

    // One photo onto a collection: a thumbnail within 60 x 40 from its small image.
    picture(f.img("img_p2_sm.jpg"), {300, 100});
    drag.reset(Pasteboard::writeItems({p2.get()}));
    QCOMPARE(f.tree.validateDrop(drag.get(), coll.get(), -1), Qt::CopyAction);
    QCOMPARE(f.tree.validateDrop(drag.get(), coll.get(), 0), Qt::IgnoreAction);
    QVERIFY(f.tree.acceptDrop(drag.get(), coll.get(), -1));
    QTRY_VERIFY_WITH_TIMEOUT(coll->thumbFile().startsWith("albthumb_"), testing::kPatience);
    QCOMPARE(QImageReader(f.img(coll->thumbFile())).size(), QSize(60, 20));
}

void TestDragDrop::filesOntoTheTree()
{
    Fixture f;
    auto album = f.album("A");
    auto coll = f.collection("C");
    auto bare = f.collection("Bare");
    QStringList jpegs;
    for (int i = 0; i < 5; ++i)
        jpegs << f.source(QStringLiteral("pic%1.jpeg").arg(i));
    const QString flv = f.dir.filePath("clip.FLV"), text = f.dir.filePath("notes.txt");
    const QString broken = f.dir.filePath("broken.jpg");
    QVERIFY(testing::writeBytes(flv, "") && testing::writeBytes(text, "") && testing::writeBytes(broken, "no picture"));
    f.ready();

    std::unique_ptr<QMimeData> drop(filesMime(jpegs));
    QCOMPARE(f.tree.validateDrop(drop.get(), album.get(), -1), Qt::CopyAction);
    QCOMPARE(f.tree.validateDrop(drop.get(), nullptr, 0), Qt::IgnoreAction);
    QCOMPARE(f.tree.validateDrop(drop.get(), coll.get(), -1), Qt::IgnoreAction); // one picture only
    QVERIFY(f.tree.acceptDrop(drop.get(), album.get(), -1));
    QVERIFY(!f.data.needsToSaveChanges()); // the import marks its own changes

    // One FLV file, any letter case: the video import for a new video.
    drop.reset(filesMime({flv}));
    QCOMPARE(f.tree.validateDrop(drop.get(), album.get(), -1), Qt::CopyAction);
    QVERIFY(f.tree.acceptDrop(drop.get(), album.get(), -1));
    // With another file, or among pictures, or a text file, or not local: refused.
    for (const QStringList &bad : {QStringList{flv, jpegs[0]}, QStringList{jpegs[0], text}, QStringList{text}}) {
        drop.reset(filesMime(bad));
        QCOMPARE(f.tree.validateDrop(drop.get(), album.get(), -1), Qt::IgnoreAction);
        QVERIFY(!f.tree.acceptDrop(drop.get(), album.get(), -1));
    }
    drop->setUrls({QUrl("https://example.org/a.jpg")});
    QCOMPARE(f.tree.validateDrop(drop.get(), album.get(), -1), Qt::IgnoreAction);
    QCOMPARE(f.handler.log, (QStringList{"A: " + jpegs.join(' '), "A: " + QFileInfo(flv).absoluteFilePath()}));

    // One picture onto a collection (not between its children) makes its thumbnail.
    drop.reset(filesMime({f.source("pic.png", {80, 80})}));
    QCOMPARE(f.tree.validateDrop(drop.get(), coll.get(), 0), Qt::IgnoreAction);
    QCOMPARE(f.tree.validateDrop(drop.get(), coll.get(), -1), Qt::CopyAction);
    QVERIFY(f.tree.dropMimeData(drop.get(), Qt::CopyAction, -1, 0, f.tree.indexForNode(coll.get())));
    QTRY_VERIFY_WITH_TIMEOUT(f.data.needsToSaveChanges(), testing::kPatience);
    QCOMPARE(QImageReader(f.img(coll->thumbFile())).size(), QSize(40, 40));
    // A picture that cannot be decoded gives no name to a node without one, and says why.
    QSignalSpy refused(&f.tree, &AlbumTreeModel::editRefused);
    drop.reset(filesMime({broken}));
    QVERIFY(f.tree.acceptDrop(drop.get(), bare.get(), -1));
    QTRY_COMPARE_WITH_TIMEOUT(refused.size(), 1, testing::kPatience);
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
    QDataStream(&forged, QIODevice::WriteOnly) << quint32(0x514d5246) << quint64(12345) << quint32(1) << a->id();
    for (const QByteArray &bytes : {forged, QByteArray("\xff\xff\xff\xff garbage", 12), QByteArray(), forged.left(10)}) {
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
    std::unique_ptr<QMimeData> drag(f.drag(gone.get()));
    f.gallery.removeNode(gone);
    QVERIFY(f.settled());
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
}

void TestDragDrop::filesOntoTheItemList()
{
    Fixture f;
    auto album = f.album("A");
    f.photo(*album, "p");
    f.video(*album, "v");
    const QStringList pics{f.source("a.jpg"), f.source("b.tif", {50, 50}, "TIFF"), f.source("c.png", {50, 50})};
    const QString flv = f.dir.filePath("clip.FLV"), text = f.dir.filePath("readme.txt");
    QVERIFY(testing::writeBytes(flv, "") && testing::writeBytes(text, ""));
    f.ready();

    // No album shown: nothing can be dropped.
    std::unique_ptr<QMimeData> drop(filesMime(pics));
    int row = 0;
    bool on = false;
    QCOMPARE(f.list.validateDrop(drop.get(), row, on), Qt::IgnoreAction);
    f.select(album.get());

    // Pictures: shown at the end, handed to the photo import; not with a text file.
    on = true;
    QCOMPARE(f.list.validateDrop(drop.get(), row, on), Qt::CopyAction);
    QVERIFY(row == 2 && !on);
    QVERIFY(f.list.dropMimeData(drop.get(), Qt::CopyAction, 0, 0, {}));
    drop.reset(filesMime({pics[0], pics[1], text}));
    QVERIFY(!f.list.canDropMimeData(drop.get(), Qt::CopyAction, 0, 0, {}));

    // One FLV onto the video's row: a stream of that video.
    drop.reset(filesMime({flv}));
    QVERIFY(f.list.dropMimeData(drop.get(), Qt::CopyAction, -1, 0, f.list.index(1, 0)));
    // Onto the photo's row or between rows: a new video at the end.
    row = 0;
    on = true;
    QCOMPARE(f.list.validateDrop(drop.get(), row, on), Qt::CopyAction);
    QCOMPARE(row, 2);
    QVERIFY(f.list.dropMimeData(drop.get(), Qt::CopyAction, -1, 0, f.list.index(0, 0)));
    QVERIFY(f.list.dropMimeData(drop.get(), Qt::CopyAction, 1, 0, {}));
    QCOMPARE(f.handler.log, (QStringList{"A: " + pics.join(' '), "A: " + flv + " for v", "A: " + flv, "A: " + flv}));

    drop.reset(filesMime({flv, flv}));
    QVERIFY(!f.list.canDropMimeData(drop.get(), Qt::CopyAction, 0, 0, {}));
    QCOMPARE(titles(*album), (QStringList{"p", "v"}));
}

QTEST_MAIN(TestDragDrop)
#include "tst_dragdrop.moc"
