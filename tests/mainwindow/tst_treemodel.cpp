#include "mainwindow/AlbumTreeModel.h"
#include "mainwindow/ItemListModel.h"
#include "model/Photo.h"
#include "model/Video.h"
#include "storage/Common.h"
#include "storage/Preferences.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QImageReader>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace qm;

class TestTreeModel : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void showsTreeWithCounts();
    void newNodesFollowTheSelection();
    void newNodesGetTheirOwnThumbnails();
    void editing();
    void itemList();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<Preferences> m_prefs;
    std::unique_ptr<Data> m_data;
};

void TestTreeModel::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_settings = std::make_unique<QSettings>(m_dir->filePath("prefs.ini"), QSettings::IniFormat);
    m_prefs = std::make_unique<Preferences>(m_settings.get());
    m_prefs->setOrvaneFolder(m_dir->filePath("gallery"));
    QDir().mkpath(m_prefs->imgFolder());
    QDir().mkpath(m_prefs->xmlFolder());
    m_data = std::make_unique<Data>();
    AlbumCounter::resetForTesting();
}

void TestTreeModel::cleanup()
{
    setClockForTesting(nullptr);
}

void TestTreeModel::showsTreeWithCounts()
{
    auto coll = std::make_shared<AlbumCollection>();
    coll->setTitle(QStringLiteral("Travel"));
    auto album = std::make_shared<Album>();
    album->setTitle(QStringLiteral("Rome"));
    album->addItem(std::make_shared<Photo>());
    album->addItem(std::make_shared<Video>());
    album->setParentCollection(coll.get());
    coll->addItem(album);
    m_data->albums().append(coll);
    m_data->albums().append(std::make_shared<Album>());

    AlbumTreeModel model(m_data.get(), m_prefs.get());
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    QCOMPARE(model.rowCount(), 2);
    const QModelIndex c = model.index(0, 0);
    QCOMPARE(c.data().toString(), QStringLiteral("Travel"));
    QCOMPARE(model.index(0, AlbumTreeModel::NumberColumn).data().toString(), QString()); // collections show no count
    QVERIFY(model.hasChildren(c));
    const QModelIndex a = model.index(0, 0, c);
    QCOMPARE(a.data().toString(), QStringLiteral("Rome"));
    QCOMPARE(model.index(0, AlbumTreeModel::NumberColumn, c).data().toString(), QStringLiteral("2"));
    QCOMPARE(model.parent(a), c);
    QCOMPARE(model.nodeForIndex(a), album.get());
    QCOMPARE(model.nodePtrForIndex(a), NodePtr(album));
    QCOMPARE(model.indexForNode(album.get()), a);
    QVERIFY(!(model.flags(model.index(0, AlbumTreeModel::NumberColumn, c)) & Qt::ItemIsEditable));
    QVERIFY(!(model.flags(model.index(0, AlbumTreeModel::XMLFileColumn)) & Qt::ItemIsEditable)); // collection
    QVERIFY(model.flags(model.index(0, AlbumTreeModel::XMLFileColumn, c)) & Qt::ItemIsEditable);  // album

    album->addItem(std::make_shared<Photo>());
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.albumItemsChanged(album.get());
    QCOMPARE(changed.count(), 1);
    QCOMPARE(model.index(0, AlbumTreeModel::NumberColumn, c).data().toString(), QStringLiteral("3"));
}

void TestTreeModel::newNodesFollowTheSelection()
{
    AlbumTreeModel model(m_data.get(), m_prefs.get());
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    // Nothing selected: top level, "Untitled", count 0.
    QModelIndex first = model.newAlbum(nullptr);
    QCOMPARE(m_data->albums().size(), 1);
    QCOMPARE(first.data().toString(), QStringLiteral("Untitled"));
    QCOMPARE(model.index(0, AlbumTreeModel::NumberColumn).data().toString(), QStringLiteral("0"));
    QVERIFY(m_data->needsToSaveChanges());

    // A top-level album selected: the new node goes to the top level too.
    auto *topAlbum = model.nodeForIndex(first);
    model.newCollection(topAlbum);
    QCOMPARE(m_data->albums().size(), 2);
    auto *coll = static_cast<AlbumCollection *>(m_data->albums().at(1).get());
    QVERIFY(coll->isCollection());
    QCOMPARE(coll->parentCollection(), nullptr);

    // A collection selected: last child of it.
    const QModelIndex inner = model.newAlbum(coll);
    QCOMPARE(coll->items().size(), 1);
    QCOMPARE(model.parent(inner), model.indexForNode(coll));
    auto *innerAlbum = model.nodeForIndex(inner);
    QCOMPARE(innerAlbum->parentCollection(), coll);

    // An album inside a collection selected: a sibling, appended last.
    model.newCollection(innerAlbum);
    QCOMPARE(coll->items().size(), 2);
    QVERIFY(coll->items().at(1)->isCollection());
    QCOMPARE(coll->items().at(1)->parentCollection(), coll);

    // Album file names take the counter digit: 1 for the first album, 2 for the second.
    QVERIFY(static_cast<Album *>(topAlbum)->XMLFile().endsWith(QStringLiteral("1.xml")));
    QVERIFY(static_cast<Album *>(innerAlbum)->XMLFile().endsWith(QStringLiteral("2.xml")));
    QVERIFY(static_cast<Album *>(innerAlbum)->XMLFile().startsWith(QStringLiteral("album_")));
}

void TestTreeModel::newNodesGetTheirOwnThumbnails()
{
    // Every node made in the same hundredth still gets its own picture file.
    const qint64 fixed = 1'700'000'000'000LL;
    setClockForTesting([=] { return fixed; });
    AlbumTreeModel model(m_data.get(), m_prefs.get());
    QString error;
    auto *a1 = model.nodeForIndex(model.newAlbum(nullptr, &error));
    auto *a2 = model.nodeForIndex(model.newAlbum(nullptr, &error));
    auto *c1 = model.nodeForIndex(model.newCollection(nullptr, &error));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QSet<QString> names{a1->thumbFile(), a2->thumbFile(), c1->thumbFile()};
    QCOMPARE(names.size(), 3);
    QCOMPARE(a1->thumbFile(), thumbnailFileName(timeKey()));
    for (const QString &n : names) {
        QVERIFY(n.startsWith(QStringLiteral("albthumb_")) && n.endsWith(QStringLiteral(".jpg")));
        QVERIFY(QImageReader(m_prefs->imgPath(n)).canRead());
    }
    // Two albums made in one hundredth differ by their counter digit only.
    QVERIFY(static_cast<Album *>(a1)->XMLFile() != static_cast<Album *>(a2)->XMLFile());

    // A missing img folder: the node is made, the failure is told.
    QDir(m_prefs->imgFolder()).removeRecursively();
    error.clear();
    auto *a3 = model.nodeForIndex(model.newAlbum(nullptr, &error));
    QVERIFY(a3);
    QVERIFY(!error.isEmpty());
}

void TestTreeModel::editing()
{
    auto album = std::make_shared<Album>();
    album->setXMLFile(QStringLiteral("album_a1.xml"));
    auto other = std::make_shared<Album>();
    other->setXMLFile(QStringLiteral("album_b2.xml"));
    m_data->albums() << album << other;
    AlbumTreeModel model(m_data.get(), m_prefs.get());
    QSignalSpy refused(&model, &AlbumTreeModel::editRefused);

    // A rename marks the gallery changed so a quit saves it.
    QVERIFY(model.setData(model.index(0, 0), QStringLiteral("Summer & Sea")));
    QCOMPARE(album->title(), QStringLiteral("Summer & Sea"));
    QVERIFY(m_data->needsToSaveChanges());

    m_data->setNeedsToSaveChanges(false);
    QVERIFY(model.setData(model.index(0, AlbumTreeModel::XMLFileColumn), QStringLiteral("album_new.xml")));
    QCOMPARE(album->XMLFile(), QStringLiteral("album_new.xml"));
    QVERIFY(m_data->needsToSaveChanges());

    // Names that leave the xml folder, or that another album uses, are refused.
    for (const QString &bad : {QStringLiteral("../albums.xml"), QStringLiteral("/tmp/x.xml"), QString(),
                               QStringLiteral("album_b2.xml")}) {
        QVERIFY(!model.setData(model.index(0, AlbumTreeModel::XMLFileColumn), bad));
        QCOMPARE(album->XMLFile(), QStringLiteral("album_new.xml"));
    }
    QCOMPARE(refused.count(), 4);
    QVERIFY(!model.setData(model.index(0, AlbumTreeModel::NumberColumn), QStringLiteral("9")));
}

void TestTreeModel::itemList()
{
    Album album;
    QStringList titles{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"), QStringLiteral("D"), QStringLiteral("E")};
    for (const QString &t : titles) {
        auto p = std::make_shared<Photo>();
        p->setTitle(t);
        p->setDate(t + QStringLiteral("-date"));
        album.addItem(p);
    }
    album.addItem(std::make_shared<Video>());
    ItemListModel model(m_data.get());
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowCount(), 0); // no album selected
    model.setAlbum(&album);
    QCOMPARE(model.rowCount(), 6);
    QCOMPARE(model.index(0, ItemListModel::IndexColumn).data().toString(), QStringLiteral("1"));
    QCOMPARE(model.index(0, ItemListModel::IndexColumn).data(Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::lightGray));
    QCOMPARE(model.index(2, ItemListModel::TitleColumn).data().toString(), QStringLiteral("C"));
    QVERIFY(!model.index(0, ItemListModel::KindColumn).data(Qt::DecorationRole).value<QIcon>().isNull());
    QVERIFY(!(model.flags(model.index(0, ItemListModel::IndexColumn)) & Qt::ItemIsEditable));

    QVERIFY(model.setData(model.index(2, ItemListModel::TitleColumn), QStringLiteral("Third")));
    QCOMPARE(album.items().at(2)->title(), QStringLiteral("Third"));
    QVERIFY(m_data->needsToSaveChanges());

    // Applying the date of the second item changes every other one, before and after.
    m_data->setNeedsToSaveChanges(false);
    model.applyToRest(1, ItemListModel::Date);
    for (int i = 0; i < album.items().size(); ++i)
        QCOMPARE(album.items().at(i)->date(), QStringLiteral("B-date"));
    QVERIFY(m_data->needsToSaveChanges());
    QCOMPARE(album.items().at(0)->title(), QStringLiteral("A")); // other fields untouched

    // Items appended behind the model's back are announced by sync().
    album.addItem(std::make_shared<Photo>());
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.sync();
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(model.rowCount(), 7);
    album.items().removeFirst();
    model.sync();
    QCOMPARE(model.rowCount(), 6);

    Album single;
    single.addItem(std::make_shared<Photo>());
    single.items().first()->setTitle(QStringLiteral("only"));
    model.setAlbum(&single);
    model.applyToRest(0, ItemListModel::Title);
    QCOMPARE(single.items().first()->title(), QStringLiteral("only"));
}

QTEST_MAIN(TestTreeModel)
#include "tst_treemodel.moc"
