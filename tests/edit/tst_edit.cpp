// Finding, ordering and changing many items at once: dates read and
// written back in the gallery's own forms, and the gallery's steps for
// orders, fields and new pictures, undone and redone with their files.

#include "common/GalleryFixture.h"
#include "edit/BatchEdit.h"
#include "edit/GallerySearch.h"
#include "edit/ItemOrder.h"
#include "storage/Job.h"
#include "storage/Resources.h"

#include <QSignalSpy>
#include <QUndoStack>
#include <QtTest>

using namespace qm;
using testing::readBytes;
using testing::titles;

namespace {

std::shared_ptr<Photo> item(const QString &title, const QString &date = {}, const QString &file = {})
{
    auto p = std::make_shared<Photo>();
    p->setTitle(title);
    p->setDate(date);
    p->setImageFile(file);
    return p;
}

QStringList titlesOf(const QList<ItemPtr> &items)
{
    QStringList t;
    for (const ItemPtr &i : items)
        t << i->title();
    return t;
}

} // namespace

class TestEdit : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void datesAreReadAndWrittenInTheirOwnForm_data();
    void datesAreReadAndWrittenInTheirOwnForm();
    void numberingPatterns();
    void sortingKeepsTiesInPlace();
    void searchAcrossTheGallery();
    void ordersAndFieldsAreOneStepEach();
    void newPicturesSwapTheirFilesWithTheTrash();
    void importGivesPlaceholdersItsFirstPicture();

private:
    std::unique_ptr<testing::GalleryFixture> m_f;
};

void TestEdit::init()
{
    m_f = std::make_unique<testing::GalleryFixture>();
    qputenv("XDG_DATA_HOME", m_f->dir.filePath("share").toLocal8Bit()); // a trash of the test's own
}

void TestEdit::datesAreReadAndWrittenInTheirOwnForm_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("hint");
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QString>("nextDay"); // shifted by one day, in its own form; empty: no date

    QTest::newRow("iso") << "2023-12-31" << "" << QDate(2023, 12, 31) << "2024-01-01";
    QTest::newRow("dotted") << "07.03.2008" << "" << QDate(2008, 3, 7) << "08.03.2008";
    QTest::newRow("dotted unpadded") << "7.3.2008" << "" << QDate(2008, 3, 7) << "8.3.2008";
    QTest::newRow("slashed, gallery day first") << "03/04/2008" << "dd/MM/yyyy" << QDate(2008, 4, 3) << "04/04/2008";
    QTest::newRow("slashed, gallery month first") << "03/04/2008" << "MM/dd/yyyy" << QDate(2008, 3, 4) << "03/05/2008";
    QTest::newRow("slashed, one way only") << "4/25/2008" << "dd/MM/yyyy" << QDate(2008, 4, 25) << "4/26/2008";
    QTest::newRow("day month name") << "28 February 2008" << "" << QDate(2008, 2, 28) << "29 February 2008";
    QTest::newRow("month name day") << "Feb 28, 2009" << "" << QDate(2009, 2, 28) << "Mar 1, 2009";
    QTest::newRow("month and year") << "May 2008" << "" << QDate(2008, 5, 1) << "May 2008";
    QTest::newRow("year") << "2008" << "" << QDate(2008, 1, 1) << "2008";
    QTest::newRow("free text") << "summer, I think" << "" << QDate() << "";
    QTest::newRow("no such day") << "2023-02-30" << "" << QDate() << "";
}

void TestEdit::datesAreReadAndWrittenInTheirOwnForm()
{
    QFETCH(QString, text);
    QFETCH(QString, hint);
    QFETCH(QDate, date);
    QFETCH(QString, nextDay);
    const DateForm form = hint.isEmpty() ? DateForm() : DateForm(hint, QLocale::c());
    QCOMPARE(DateForm::read(text, form).date, date);
    DateShift shift;
    shift.days = 1;
    QCOMPARE(shiftedDate(text, shift, form), nextDay);
    if (date.isValid() && nextDay != text) {
        // Years and months first, then days: a year back from a leap day is the 28th.
        const DateShift back{-1, -1, 0};
        QCOMPARE(DateForm::read(shiftedDate(text, back, form), form).date, back.apply(date));
    }
}

void TestEdit::numberingPatterns()
{
    QCOMPARE(numberedTitle("Harbour #", 1), QStringLiteral("Harbour 1"));
    QCOMPARE(numberedTitle("Harbour ###", 7), QStringLiteral("Harbour 007"));
    QCOMPARE(numberedTitle("Day #, photo ##", 12), QStringLiteral("Day 12, photo 12"));
    QCOMPARE(numberedTitle("Harbour", 3), QStringLiteral("Harbour 3"));
    QCOMPARE(numberedTitle("##", 1234), QStringLiteral("1234"));
}

void TestEdit::sortingKeepsTiesInPlace()
{
    const QList<ItemPtr> items{item("IMG_10", "2024-05-02", "img_a_0003.jpg"), item("PXL_2", "1 May 2024", "img_a_0001.jpg"),
                               item("undated", "", "img_a_0010.jpg"), item("IMG_9", "2024-05-02", "img_a_0002.jpg"),
                               item("scan", "May 2024", "img_b_0001.jpg")};
    QCOMPARE(titlesOf(sortedItems(items, SortKey::DateTaken)),
             (QStringList{"PXL_2", "scan", "IMG_10", "IMG_9", "undated"}));
    QCOMPARE(titlesOf(sortedItems(items, SortKey::Title)), (QStringList{"IMG_9", "IMG_10", "PXL_2", "scan", "undated"}));
    QCOMPARE(titlesOf(sortedItems(items, SortKey::FileName)),
             (QStringList{"PXL_2", "IMG_9", "IMG_10", "undated", "scan"}));
}

void TestEdit::searchAcrossTheGallery()
{
    auto trips = m_f->collection("Trips");
    auto porto = m_f->album("Porto", trips.get());
    auto hike = m_f->album("Hike", trips.get());
    auto family = m_f->album("Family");
    m_f->photo(*porto, "Harbour at dawn")->setLocation("Porto");
    m_f->photo(*porto, "Bridge")->setDate("2026-05-03");
    m_f->photo(*hike, "Summit")->setDescription("Above the harbour fog");
    m_f->photo(*family, "Dinner")->setDate("3 May 2026");
    m_f->ready();

    // Every word somewhere in the item, ignoring case; the tree keeps what holds it.
    GallerySearch::Result r = GallerySearch::find(m_f->data, "HARBOUR");
    QCOMPARE(r.itemCount, 2);
    QVERIFY(r.shownNodes.contains(trips.get()) && r.shownNodes.contains(hike.get()) && !r.shownNodes.contains(family.get()));
    QCOMPARE(r.albumsWithItems, 2);
    r = GallerySearch::find(m_f->data, " harbour   porto ");
    QCOMPARE(r.text(), QStringLiteral("harbour porto"));
    QCOMPARE(r.itemCount, 1);
    QVERIFY(r.showsItem(porto.get(), porto->items().first().get()) && !r.showsItem(porto.get(), porto->items().last().get()));

    // An album found by its title shows all of its items, and comes first among its hits.
    r = GallerySearch::find(m_f->data, "porto");
    QVERIFY(r.wholeAlbums.contains(porto.get()));
    QVERIFY(r.showsItem(porto.get(), porto->items().last().get()));
    QCOMPARE(r.hits.first().node, porto.get());
    QCOMPARE(r.hits.first().item, nullptr);

    // A date finds the same day written in any form.
    r = GallerySearch::find(m_f->data, "2026-05-03");
    QCOMPARE(r.itemCount, 2);
    QVERIFY(r.showsItem(family.get(), family->items().first().get()));
    QCOMPARE(GallerySearch::find(m_f->data, "May 2026").itemCount, 2);
    QVERIFY(GallerySearch::find(m_f->data, "").isEmpty());
    QCOMPARE(GallerySearch::find(m_f->data, "nothing like this").hits.size(), 0);
    // Words that are not plain ASCII are compared ignoring case too.
    QCOMPARE(GallerySearch::find(m_f->data, "PORTO ÉTÉ").itemCount, 0);
    porto->items().first()->setDescription("Été au port");
    QCOMPARE(GallerySearch::find(m_f->data, "été harbour").itemCount, 1);
}

void TestEdit::ordersAndFieldsAreOneStepEach()
{
    auto album = m_f->album("A");
    for (const char *t : {"c", "a", "b"})
        m_f->photo(*album, t);
    m_f->ready();
    Gallery &g = m_f->gallery;

    // The order they are in is no step at all.
    QVERIFY(!g.setItemOrder(album.get(), album->items(), "Sort"));
    QCOMPARE(g.undoStack()->count(), 0);
    QVERIFY(g.setItemOrder(album.get(), sortedItems(album->items(), SortKey::Title), "Sort by Title"));
    QCOMPARE(titles(*album), (QStringList{"a", "b", "c"}));
    QVERIFY(g.undo());
    QCOMPARE(titles(*album), (QStringList{"c", "a", "b"}));

    // Fields of several items: what already holds the value is left out.
    album->items()[1]->setLocation("Porto");
    QSignalSpy changed(&g, &Gallery::itemChanged);
    QList<Gallery::FieldChange> changes;
    for (const ItemPtr &i : album->items()) {
        changes.append({i, ItemField::Location, "Porto"});
        changes.append({i, ItemField::Date, "2026-05-03"});
    }
    QCOMPARE(g.setItemFields(changes, "Change 3 Photos"), 5);
    QCOMPARE(changed.count(), 3);
    QCOMPARE(g.undoStack()->undoText(), QStringLiteral("Change 3 Photos"));
    QVERIFY(g.needsToSaveChanges());
    QVERIFY(g.undo());
    QCOMPARE(album->items()[0]->location(), QString());
    QCOMPARE(album->items()[1]->location(), QStringLiteral("Porto"));
    QCOMPARE(album->items()[2]->date(), QString());
    QVERIFY(!g.needsToSaveChanges());
    QCOMPARE(g.setItemFields({{album->items()[1], ItemField::Location, "Porto"}}, "Nothing"), 0);
    QVERIFY(!g.canUndo() || g.undoStack()->undoText() != "Nothing");
}

void TestEdit::newPicturesSwapTheirFilesWithTheTrash()
{
    auto album = m_f->album("A");
    auto a = m_f->photo(*album, "a");
    auto b = m_f->photo(*album, "b");
    auto c = m_f->photo(*album, "c");
    // c shares its small picture with another album's photo: that file stays.
    auto other = m_f->album("B");
    auto twin = m_f->photo(*other, "twin");
    twin->setSmallImageFile(c->smallImageFile());
    m_f->ready();
    Gallery &g = m_f->gallery;
    const QStringList before = m_f->imgFiles();

    // The maker writes the new files upper-cased; it cannot do b.
    Gallery::PictureReport report;
    bool done = false;
    g.changePictures({a, b, c}, "Rotate 3 Photos Right",
                     [](const Gallery::PictureFiles &current, const Gallery::PictureFiles &target, JobControl &) {
                         Gallery::MadePicture made;
                         if (current.normal.endsWith("img_b.jpg")) {
                             made.problem = "not a JPEG";
                             return made;
                         }
                         testing::writeBytes(target.normal, readBytes(current.normal).toUpper());
                         testing::writeBytes(target.small, readBytes(current.small).toUpper());
                         made.written = {target.normal, target.small, QString()};
                         return made;
                     },
                     [&](const Gallery::PictureReport &r) {
                         report = r;
                         done = true;
                     });
    QTRY_VERIFY(done);
    QCOMPARE(report.changed, 2);
    QCOMPARE(report.problems.size(), 1);
    QVERIFY(report.problems.first().path.endsWith("img_b.jpg"));
    QCOMPARE(g.undoStack()->undoText(), QStringLiteral("Rotate 3 Photos Right"));
    QCOMPARE(b->imageFile(), QStringLiteral("img_b.jpg"));
    QVERIFY(a->imageFile().startsWith("img_") && a->imageFile() != "img_a.jpg");
    QCOMPARE(readBytes(m_f->img(a->imageFile())), QByteArray("IMG_A.JPG"));
    QVERIFY(!QFile::exists(m_f->img("img_a.jpg")) && !QFile::exists(m_f->img("img_c.jpg")));
    QVERIFY(QFile::exists(m_f->img("img_c_sm.jpg"))); // still the twin's
    QCOMPARE(twin->smallImageFile(), QStringLiteral("img_c_sm.jpg"));
    const QString newA = a->imageFile();

    // Undo: the old names and files back, the new ones in the trash; redo the other way.
    QVERIFY(g.undo());
    QCOMPARE(a->imageFile(), QStringLiteral("img_a.jpg"));
    QCOMPARE(m_f->imgFiles(), before);
    QVERIFY(g.redo());
    QCOMPARE(a->imageFile(), newA);
    QCOMPARE(readBytes(m_f->img(newA)), QByteArray("IMG_A.JPG"));
    QVERIFY(!QFile::exists(m_f->img("img_a.jpg")));
}

void TestEdit::importGivesPlaceholdersItsFirstPicture()
{
    auto trips = m_f->collection("Trips");
    auto porto = m_f->album("Porto", trips.get());
    QFile::copy(resourcePath("albumthumb.jpg"), m_f->img("albthumb_porto.jpg"));
    porto->setThumbFile("albthumb_porto.jpg");
    QFile::copy(resourcePath("collthumb.jpg"), m_f->img("albthumb_trips.jpg"));
    trips->setThumbFile("albthumb_trips.jpg");
    // A collection that already has a picture of its own keeps it.
    auto top = m_f->collection("Top");
    trips->setParentCollection(top.get());
    m_f->staged.albums().removeAll(trips);
    top->items().append(trips);
    top->setThumbFile("albthumb_top.jpg");
    m_f->file("albthumb_top.jpg");
    m_f->ready();
    Gallery &g = m_f->gallery;

    QList<NodePtr> placeholders;
    for (const auto &[node, path] : g.thumbnailChain(porto.get()))
        if (Gallery::isPlaceholderFile(path))
            placeholders << node;
    QCOMPARE(placeholders, (QList<NodePtr>{porto, trips}));

    const QByteArray picture = "a 60 x 40 picture";
    auto import = g.beginImport(porto.get(), "Photos");
    auto photo = std::make_shared<Photo>();
    photo->setTitle("first");
    import->add(photo, {});
    import->setFirstPicture(picture, placeholders);
    g.endImport(import);
    QCOMPARE(g.undoStack()->count(), 1);
    QCOMPARE(readBytes(m_f->img(porto->thumbFile())), picture);
    QCOMPARE(readBytes(m_f->img(trips->thumbFile())), picture);
    QCOMPARE(readBytes(m_f->img("albthumb_top.jpg")), QByteArray("albthumb_top.jpg"));

    // One Undo takes back the photo and the pictures.
    QVERIFY(g.undo());
    QVERIFY(porto->items().isEmpty());
    QVERIFY(Gallery::isPlaceholderFile(m_f->img("albthumb_porto.jpg")));
    QCOMPARE(readBytes(m_f->img("albthumb_trips.jpg")), readBytes(resourcePath("collthumb.jpg")));
    QVERIFY(g.redo());
    QCOMPARE(readBytes(m_f->img(porto->thumbFile())), picture);
}

QTEST_MAIN(TestEdit)
#include "tst_edit.moc"
