#include "model/Data.h"
#include "model/Photo.h"
#include "model/Video.h"

#include <QtTest>

using namespace qm;

class TestModel : public QObject
{
    Q_OBJECT
private slots:
    void initialValuesKeepNullAndEmptyApart();
    void collectionAncestry();
    void listOperations();
    void lookupById();
};

void TestModel::initialValuesKeepNullAndEmptyApart()
{
    Album album;
    QVERIFY(!album.title().isNull() && album.title().isEmpty());
    QVERIFY(!album.description().isNull() && album.description().isEmpty());
    QVERIFY(!album.XMLFile().isNull() && album.XMLFile().isEmpty());
    QVERIFY(album.thumbFile().isNull());
    QVERIFY(album.items().isEmpty());
    QCOMPARE(album.parentCollection(), nullptr);

    Photo photo;
    for (const QString *s : {&photo.title(), &photo.date(), &photo.location(), &photo.description()})
        QVERIFY(!s->isNull() && s->isEmpty());
    QVERIFY(photo.imageFile().isNull());
    QVERIFY(photo.smallImageFile().isNull());
    QVERIFY(photo.largeImageFile().isNull());

    Video video;
    QCOMPARE(video.numberOfStreams(), 0);
    QVERIFY(video.thumbFile().isNull());
    VideoStream stream;
    QVERIFY(!stream.file().isNull() && stream.file().isEmpty());
    QCOMPARE(stream.bitrate(), 0);

    AlbumCollection coll;
    QVERIFY(!coll.title().isNull());
    QVERIFY(coll.thumbFile().isNull());

    Data data;
    QVERIFY(!data.needsToSaveChanges());
    QCOMPARE(data.selectedAlbum(), nullptr);
}

void TestModel::collectionAncestry()
{
    auto c = std::make_shared<AlbumCollection>();
    auto b = std::make_shared<AlbumCollection>();
    auto a = std::make_shared<AlbumCollection>();
    auto album = std::make_shared<Album>();
    auto elsewhere = std::make_shared<AlbumCollection>();
    b->setParentCollection(c.get());
    a->setParentCollection(b.get());
    album->setParentCollection(a.get());

    QVERIFY(!c->isCollectionAncestor(c.get()));          // never its own ancestor
    QVERIFY(!c->isCollectionAncestor(elsewhere.get()));  // top level has none
    QVERIFY(b->isCollectionAncestor(c.get()));
    QVERIFY(album->isCollectionAncestor(c.get()));       // three levels down
    QVERIFY(album->isCollectionAncestor(a.get()));
    QVERIFY(!album->isCollectionAncestor(elsewhere.get()));
    QVERIFY(!b->isCollectionAncestor(a.get()));          // a descendant is no ancestor
}

void TestModel::listOperations()
{
    Album album;
    auto p1 = std::make_shared<Photo>();
    auto p2 = std::make_shared<Photo>();
    auto v = std::make_shared<Video>();
    album.addItem(p1);
    album.addItem(v);
    album.addItem(p1); // the same object twice
    album.insertItem(p2, int(album.items().size())); // count means append
    QCOMPARE(album.items().last(), ItemPtr(p2));
    album.insertItem(p2, 0);
    QCOMPARE(album.itemAtIndex(0), ItemPtr(p2));

    Photo stranger;
    album.removeItem(&stranger);
    QCOMPARE(album.items().size(), 5);
    album.removeItem(p1.get());
    QCOMPARE(album.items().size(), 3);
    QCOMPARE(album.indexOfItem(p1.get()), -1);
    QCOMPARE(album.indexOfItem(v.get()), 1);

    AlbumCollection coll;
    auto child = std::make_shared<Album>();
    coll.addItem(child);
    coll.addItem(child);
    child->setParentCollection(&coll);
    coll.removeItem(child.get());
    QVERIFY(coll.items().isEmpty());
    QCOMPARE(child->parentCollection(), &coll); // removal leaves the link alone
}

void TestModel::lookupById()
{
    Data data;
    auto top = std::make_shared<AlbumCollection>();
    auto inner = std::make_shared<AlbumCollection>();
    auto album = std::make_shared<Album>();
    auto photo = std::make_shared<Photo>();
    album->addItem(photo);
    inner->addItem(album);
    album->setParentCollection(inner.get());
    top->addItem(inner);
    inner->setParentCollection(top.get());
    data.albums().append(top);

    QCOMPARE(data.findNode(album->id()), NodePtr(album));
    QCOMPARE(data.findItem(photo->id()), ItemPtr(photo));
    QCOMPARE(&data.siblingsOf(album.get()), &inner->items());
    QCOMPARE(&data.siblingsOf(top.get()), &data.albums());

    const quint64 gone = photo->id();
    album->removeItem(photo.get());
    QVERIFY(!data.findItem(gone));
    QVERIFY(!data.findNode(12345678901ULL));
    QVERIFY(photo->id() != album->id());
}

QTEST_APPLESS_MAIN(TestModel)
#include "tst_model.moc"
