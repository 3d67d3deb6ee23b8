// The gallery document: every change undone and redone, files put back
// byte for byte, the dirty flag following the stack, and a long random run
// with both item models watching that ends where a save and a reload do.

#include "common/GalleryFixture.h"
#include "mainwindow/AlbumTreeModel.h"
#include "mainwindow/ItemListModel.h"
#include "storage/GalleryTrash.h"
#include "storage/Job.h"
#include "storage/Trash.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QUndoStack>
#include <QtTest>

using namespace qm;
using testing::readBytes;
using testing::writeBytes;

namespace {

using Fixture = testing::GalleryFixture;
using testing::snapshot;
using testing::titles;

void undoAll(Gallery &g)
{
    while (g.canUndo())
        QVERIFY(g.undo());
}

void redoAll(Gallery &g)
{
    while (g.canRedo())
        QVERIFY(g.redo());
}

} // namespace

class TestGallery : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void changesUndoAndRedo();
    void thumbnailsAndStreamsPutTheirFilesBack();
    void deletionTakesTheFilesAndUndoBringsThemBack();
    void largeDeletionsRunAsAStoppableJob();
    void noTrashInTheWorkingFolder();
    void dirtyFlagFollowsTheStack();
    void randomRunEndsWhereASaveDoes();
};

void TestGallery::initTestCase()
{
    // Deleted files go to a trash of the test's own.
    static QTemporaryDir home;
    QDir(home.path()).mkpath("share");
    qputenv("XDG_DATA_HOME", home.filePath("share").toLocal8Bit());
}

void TestGallery::changesUndoAndRedo()
{
    Fixture f;
    auto top = f.collection("Top");
    auto a = f.album("A", top.get());
    auto b = f.album("B");
    for (const char *t : {"p1", "p2", "p3", "p4"})
        f.photo(*a, t);
    f.ready();
    const QByteArray start = snapshot(f.data);
    QUndoStack *stack = f.gallery.undoStack();

    // New nodes by the selection rule, each with a picture file of its own.
    const NodePtr album = f.gallery.newAlbum(a.get());
    QCOMPARE(album->parentCollection(), top.get());
    QCOMPARE(top->items().last(), album);
    QVERIFY(QFile::exists(f.img(album->thumbFile())));
    const NodePtr coll = f.gallery.newCollection(nullptr);
    QCOMPARE(f.data.albums().last(), coll);
    QCOMPARE(stack->undoText(), QStringLiteral("New Collection"));

    // Names that would break the gallery are refused (which, the file tests say).
    QVERIFY(!f.gallery.setAlbumFile(a.get(), "ALBUMS.XML").isEmpty());
    QVERIFY(!f.gallery.setAlbumFile(a.get(), "album_B.xml").isEmpty());
    QVERIFY(f.gallery.setAlbumFile(a.get(), "album_renamed.xml").isEmpty());

    f.gallery.setTitle(b.get(), "Bee");
    QCOMPARE(stack->undoText(), QStringLiteral("Rename Album"));
    // A run of typing in one description is one step.
    const int steps = stack->count();
    for (const char *text : {"H", "He", "Hel", "Hello"})
        f.gallery.setAlbumDescription(b.get(), text);
    QCOMPARE(stack->count(), steps + 1);

    f.gallery.applyToRest(a.get(), 1, ItemField::Date);
    f.gallery.setItemField(a->items().at(0).get(), ItemField::Location, "Rome");
    QVERIFY(f.gallery.moveNode(b, top.get(), 0));
    QCOMPARE(top->items().first(), NodePtr(b));
    // Into itself or past the depth the index file keeps: refused.
    QVERIFY(!f.gallery.moveNode(top, top.get(), -1));
    f.gallery.moveItems(a.get(), {a->items().at(1), a->items().at(3)}, b.get());
    QCOMPARE(titles(*b), (QStringList{"p2", "p4"}));
    QCOMPARE(stack->undoText(), QStringLiteral("Move 2 Photos"));
    f.gallery.reorderItems(a.get(), {a->items().at(1)}, 0);
    QCOMPARE(titles(*a), (QStringList{"p3", "p1"}));
    const QByteArray end = snapshot(f.data);

    undoAll(f.gallery);
    QCOMPARE(snapshot(f.data), start);
    QVERIFY(!QFile::exists(f.img(album->thumbFile())));
    QCOMPARE(titles(*a), (QStringList{"p1", "p2", "p3", "p4"}));
    redoAll(f.gallery);
    QCOMPARE(snapshot(f.data), end);
    QVERIFY(QFile::exists(f.img(album->thumbFile())));

    // Nesting as deep as the index file keeps, and not one level more.
    AlbumCollection *deep = static_cast<AlbumCollection *>(coll.get());
    NodePtr last;
    for (int depth = 1; depth < GalleryFile::kMaxDepth; ++depth)
        deep = static_cast<AlbumCollection *>((last = f.gallery.newCollection(deep)).get());
    QString why;
    QVERIFY(!f.gallery.newCollection(deep, &why));
    QVERIFY(!why.isEmpty());
    QVERIFY(!f.gallery.moveNode(top, deep, -1, &why));
    QVERIFY(f.gallery.save().ok());
}

void TestGallery::thumbnailsAndStreamsPutTheirFilesBack()
{
    Fixture f;
    auto a = f.album("A");
    auto b = f.album("B");
    a->setThumbFile("albthumb_a.jpg");
    b->setThumbFile("albthumb_a.jpg"); // shared through the chooser
    f.file("albthumb_a.jpg");
    auto video = f.video(*a, "clip", {800, 400});
    f.ready();
    const QByteArray oldPicture = readBytes(f.img("albthumb_a.jpg"));

    // A new picture under the old name, and back.
    QVERIFY(f.gallery.setNodeThumbnail(a.get(), "new picture").ok());
    QCOMPARE(readBytes(f.img("albthumb_a.jpg")), QByteArray("new picture"));
    // A thumbnail name that is a link out of the gallery is never written through.
    const QString outside = f.dir.filePath("outside.jpg");
    writeBytes(outside, "theirs");
    QVERIFY(QFile::link(outside, f.img("albthumb_link.jpg")));
    f.gallery.setThumbFile(b.get(), "albthumb_link.jpg");
    const WriteResult refused = f.gallery.setNodeThumbnail(b.get(), "mine");
    QVERIFY(!refused.ok());
    QCOMPARE(readBytes(outside), QByteArray("theirs"));

    // Streams: a new one by bitrate; a removed one's file goes to the trash.
    auto s = std::make_shared<VideoStream>();
    s->setBitrate(500);
    s->setFile("vstream_500.flv");
    f.gallery.addStreams(video.get(), {s}, {f.file("vstream_500.flv")});
    QCOMPARE(video->streams().at(1), StreamPtr(s));
    QVERIFY(f.gallery.removeStream(video.get(), 0));
    QVERIFY(!QFile::exists(f.img("vstream_800.flv")));
    QVERIFY(f.gallery.setVideoThumbnail(video.get(), "jpeg").ok());
    const QString vthumb = video->thumbFile();
    QVERIFY(vthumb.startsWith("vthumb_"));

    // Files nothing names go to the trash; only ones directly in the gallery's folders.
    f.file("stray.jpg");
    writeBytes(f.dir.filePath("g/outside.jpg"), "o");
    f.gallery.trashFiles({f.img("stray.jpg"), f.img("../outside.jpg"), "/etc/hostname"});
    QVERIFY(!QFile::exists(f.img("stray.jpg")));
    QVERIFY(QFile::exists(f.dir.filePath("g/outside.jpg")) && QFile::exists("/etc/hostname"));

    undoAll(f.gallery);
    QCOMPARE(readBytes(f.img("stray.jpg")), QByteArray("stray.jpg"));
    QCOMPARE(readBytes(f.img("albthumb_a.jpg")), oldPicture);
    QCOMPARE(readBytes(f.img("vstream_800.flv")), QByteArray("vstream_800.flv"));
    QVERIFY(!QFile::exists(f.img(vthumb)));
    QVERIFY(!QFile::exists(f.img("vstream_500.flv"))); // the added stream's file went with its undo
    QCOMPARE(video->numberOfStreams(), 2);
    redoAll(f.gallery);
    QCOMPARE(video->numberOfStreams(), 2);
    QCOMPARE(readBytes(f.img("vstream_500.flv")), QByteArray("vstream_500.flv"));
    QCOMPARE(readBytes(f.img(vthumb)), QByteArray("jpeg"));
    QVERIFY(!QFile::exists(f.img("vstream_800.flv")));
}

void TestGallery::deletionTakesTheFilesAndUndoBringsThemBack()
{
    Fixture f;
    auto coll = f.collection("C");
    coll->setThumbFile("albthumb_c.jpg");
    auto inner = f.collection("Inner", coll.get());
    auto album = f.album("A", inner.get());
    auto p = f.photo(*album, "p");
    p->setLargeImageFile("img_p_lg.jpg");
    auto keep = f.album("Keep");
    keep->setThumbFile("albthumb_c.jpg"); // shared: stays while Keep uses it
    auto solo = f.photo(*keep, "solo");
    auto twin = f.photo(*keep, "twin");
    for (const char *name : {"img_p_lg.jpg", "albthumb_c.jpg", "unrelated.jpg"})
        f.file(name);
    writeBytes(f.xml("album_A.xml"), "<orvane/>");
    QFile::remove(f.img("img_twin_sm.jpg"));
    QDir().mkpath(f.img("img_twin_sm.jpg")); // a folder where a file is expected
    // Names that would reach outside the gallery are never touched.
    auto escapee = std::make_shared<Photo>();
    escapee->setImageFile("../../outside.jpg");
    keep->addItem(escapee);
    writeBytes(f.dir.filePath("outside.jpg"), "x");
    f.ready();
    const QStringList before = f.imgFiles();
    QSignalSpy reports(&f.gallery, &Gallery::filesReport);

    f.gallery.removeItems(keep.get(), {solo, twin, escapee});
    QCOMPARE(keep->items().size(), 0);
    QVERIFY(!QFile::exists(f.img("img_solo.jpg")) && !QFile::exists(f.img("img_twin.jpg")));
    QVERIFY(QFileInfo(f.img("img_twin_sm.jpg")).isDir());
    QVERIFY(QFile::exists(f.dir.filePath("outside.jpg")));
    f.gallery.removeNode(coll);
    QVERIFY(f.data.albums().size() == 1);
    QCOMPARE(f.imgFiles(), (QStringList{"albthumb_c.jpg", "unrelated.jpg"}));
    QVERIFY(!QFile::exists(f.xml("album_A.xml")));
    QVERIFY(reports.last().first().toString().contains("4 files moved to the trash"));
    QVERIFY(reports.last().first().toString().contains("1 file kept"));

    // Undo brings every file back as it was, and the nodes to their places.
    QVERIFY(f.gallery.undo());
    QVERIFY(f.gallery.undo());
    QCOMPARE(f.imgFiles(), before);
    QCOMPARE(readBytes(f.img("img_p_lg.jpg")), QByteArray("img_p_lg.jpg"));
    QCOMPARE(readBytes(f.xml("album_A.xml")), QByteArray("<orvane/>"));
    QCOMPARE(f.data.albums().first(), NodePtr(coll));
    QCOMPARE(titles(*keep), (QStringList{"solo", "twin", ""}));
    QVERIFY(f.gallery.redo());

    // A file emptied from the trash, or its place taken: the undo says so
    // and leaves the model as it is.
    QVERIFY(f.gallery.redo());
    const QString trash = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME")) + "/Trash/files/";
    QVERIFY(QFile::remove(trash + "img_p_lg.jpg"));
    QSignalSpy problems(&f.gallery, &Gallery::problems);
    QVERIFY(!f.gallery.undo());
    QCOMPARE(problems.size(), 1);
    QVERIFY(problems.first().at(1).value<QList<FileProblem>>().first().reason.contains("no longer in the trash"));
    QCOMPARE(f.data.albums().size(), 1);
    QVERIFY(!QFile::exists(f.img("img_p.jpg")));

    // Where there is no trash the files go for good, and that step cannot be undone.
    TrashedFiles::setTrashDisabledForTesting(true);
    auto last = std::static_pointer_cast<Album>(f.gallery.newAlbum(nullptr));
    f.gallery.removeNode(last);
    TrashedFiles::setTrashDisabledForTesting(false);
    QVERIFY(!f.gallery.undo());
    QVERIFY(problems.last().at(1).value<QList<FileProblem>>().first().reason.contains("removed for good"));
}

void TestGallery::largeDeletionsRunAsAStoppableJob()
{
    Fixture f;
    auto album = f.album("Big");
    for (int i = 0; i < 400; ++i)
        f.photo(*album, QStringLiteral("b%1").arg(i));
    f.ready();
    const QStringList before = f.imgFiles();
    const QString trash = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME")) + "/Trash";
    auto inTrash = [&](const char *sub) { return QDir(trash + "/" + sub).entryList({"img_b*"}, QDir::Files).size(); };

    // Stopped part way: what went to the trash comes back, records and all.
    Job *job = nullptr;
    connect(&f.gallery, &Gallery::jobStarted, this, [&](Job *j) {
        job = j;
        connect(j, &Job::progressChanged, j, [j] {
            if (j->done() >= 50)
                j->stop();
        });
    });
    f.gallery.removeNode(album);
    QVERIFY2(job, "800 files are moved as a job");
    QVERIFY(f.gallery.isBusy());
    QTRY_VERIFY(!f.gallery.isBusy());
    QCOMPARE(f.data.albums().size(), 1);
    QCOMPARE(f.imgFiles(), before);
    QCOMPARE(inTrash("files"), 0);
    QCOMPARE(inTrash("info"), 0);
    QVERIFY(!f.gallery.canUndo());

    // Left to run, and undone as a job too.
    disconnect(&f.gallery, &Gallery::jobStarted, this, nullptr);
    f.gallery.removeNode(album);
    QTRY_VERIFY(!f.gallery.isBusy());
    QVERIFY(f.data.albums().isEmpty());
    QCOMPARE(inTrash("files"), 800);
    QVERIFY(f.gallery.undo());
    QTRY_VERIFY(!f.gallery.isBusy());
    QCOMPARE(f.imgFiles(), before);
    QCOMPARE(f.data.albums().size(), 1);
}

void TestGallery::noTrashInTheWorkingFolder()
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
    f.ready();

    // A fresh account without a data folder: the home trash is made.
    const QString fresh = f.dir.filePath("fresh/.local/share");
    qputenv("XDG_DATA_HOME", fresh.toLocal8Bit());
    f.gallery.removeItems(album.get(), {p});
    QVERIFY(QFile::exists(fresh + "/Trash/files/img_p.jpg"));
    QVERIFY(QFile::exists(fresh + "/Trash/info/img_p.jpg.trashinfo"));
    QVERIFY2(QDir(cwd.path()).isEmpty(), "files were put in the working folder");

    // A home trash that cannot be made: the files go for good, nowhere else.
    const QString blocked = f.dir.filePath("blocked");
    QDir().mkpath(blocked);
    writeBytes(blocked + "/Trash", "a file where the trash folder would be");
    qputenv("XDG_DATA_HOME", blocked.toLocal8Bit());
    f.gallery.removeItems(album.get(), {q});
    QVERIFY(!QFile::exists(f.img("img_q.jpg")) && !QFile::exists(f.img("img_q_sm.jpg")));
    QVERIFY2(QDir(cwd.path()).isEmpty(), "files were put in the working folder");

    // A folder of the user's own called "files" is left alone.
    QDir(cwd.path()).mkdir("files");
    f.file("lone.jpg");
    QVERIFY(!moveFileToTrash(f.img("lone.jpg")));
    QVERIFY(QFile::exists(f.img("lone.jpg")));
    QCOMPARE(QDir(cwd.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"files"});
}

void TestGallery::dirtyFlagFollowsTheStack()
{
    Fixture f;
    auto a = f.album("A");
    f.ready();
    QVERIFY(!f.gallery.needsToSaveChanges());
    f.gallery.setTitle(a.get(), "Changed");
    QVERIFY(f.gallery.needsToSaveChanges());
    QVERIFY(f.gallery.undo());
    QVERIFY(!f.gallery.needsToSaveChanges()); // back where it was saved
    QVERIFY(f.gallery.redo());
    QVERIFY(f.gallery.needsToSaveChanges());
    QVERIFY(f.gallery.save().ok());
    QVERIFY(!f.gallery.needsToSaveChanges());
    QVERIFY(f.gallery.undo());
    QVERIFY(f.gallery.needsToSaveChanges()); // away from the saved state the other way

    // An import in progress counts before it becomes a step.
    QVERIFY(f.gallery.save().ok());
    auto import = f.gallery.beginImport(a.get(), "Photos");
    QVERIFY(f.gallery.needsToSaveChanges());
    f.gallery.endImport(import);
    QVERIFY(!f.gallery.needsToSaveChanges()); // nothing came in
    import = f.gallery.beginImport(a.get(), "Photos");
    auto photo = std::make_shared<Photo>();
    import->add(photo, {f.file("img_new.jpg")});
    f.gallery.endImport(import);
    QCOMPARE(f.gallery.undoStack()->undoText(), QStringLiteral("Import Photo"));
    QVERIFY(f.gallery.undo());
    QVERIFY(!QFile::exists(f.img("img_new.jpg")));
    QVERIFY(a->items().isEmpty());
    QVERIFY(f.gallery.redo());
    QCOMPARE(readBytes(f.img("img_new.jpg")), QByteArray("img_new.jpg"));
    QCOMPARE(a->items().first(), ItemPtr(photo));
}

void TestGallery::randomRunEndsWhereASaveDoes()
{
    Fixture f;
    for (int n = 0; n < 3; ++n) {
        auto c = f.collection(QStringLiteral("C%1").arg(n));
        for (int m = 0; m < 2; ++m) {
            auto a = f.album(QStringLiteral("A%1%2").arg(n).arg(m), c.get());
            for (int k = 0; k < 6; ++k)
                f.photo(*a, QStringLiteral("p%1%2%3").arg(n).arg(m).arg(k));
        }
    }
    f.ready();
    AlbumTreeModel tree(&f.gallery);
    ItemListModel list(&f.gallery);
    QAbstractItemModelTester treeTester(&tree, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester listTester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const QByteArray start = snapshot(f.data);

    QRandomGenerator rng(20261207);
    auto nodes = [&] {
        QList<NodePtr> all;
        f.data.forEachNode([&](const NodePtr &n) {
            all << n;
            return true;
        });
        return all;
    };
    auto albums = [&] {
        QList<Album *> all;
        for (const NodePtr &n : nodes())
            if (n->isAlbum())
                all << static_cast<Album *>(n.get());
        return all;
    };
    auto pick = [&](const auto &list) { return list.at(rng.bounded(int(list.size()))); };
    auto someItems = [&](Album *a) {
        QList<ItemPtr> chosen;
        for (const ItemPtr &i : a->items())
            if (rng.bounded(3) == 0)
                chosen << i;
        return chosen;
    };
    for (int step = 0; step < 400; ++step) {
        Album *a = pick(albums());
        if (rng.bounded(5) == 0)
            list.setAlbum(a);
        switch (rng.bounded(12)) {
        case 0:
            f.gallery.newAlbum(pick(nodes()).get());
            break;
        case 1:
            f.gallery.newCollection(pick(nodes()).get());
            break;
        case 2: {
            const NodePtr n = pick(nodes());
            TreeNode *to = pick(nodes()).get();
            f.gallery.moveNode(n, to->isCollection() ? static_cast<AlbumCollection *>(to) : nullptr,
                               int(rng.bounded(4)) - 1);
            break;
        }
        case 3:
            f.gallery.setTitle(pick(nodes()).get(), QStringLiteral("t%1").arg(step));
            break;
        case 4:
            if (!a->items().isEmpty())
                f.gallery.setItemField(pick(a->items()).get(), ItemField(rng.bounded(4)), QStringLiteral("v%1").arg(step));
            break;
        case 5:
            if (!a->items().isEmpty())
                f.gallery.applyToRest(a, rng.bounded(int(a->items().size())), ItemField::Location);
            break;
        case 6:
            f.gallery.moveItems(a, someItems(a), pick(albums()));
            break;
        case 7:
            f.gallery.reorderItems(a, someItems(a), rng.bounded(int(a->items().size()) + 1));
            break;
        case 8: {
            auto p = std::make_shared<Photo>();
            p->setTitle(QStringLiteral("new%1").arg(step));
            f.gallery.addItems(a, {p}, {}, "Add");
            break;
        }
        case 9:
            f.gallery.removeItems(a, someItems(a));
            break;
        case 10:
            if (rng.bounded(4) == 0)
                f.gallery.removeNode(pick(nodes()));
            break;
        case 11:
            rng.bounded(2) ? f.gallery.undo() : f.gallery.redo();
            break;
        }
        QVERIFY(!f.gallery.isBusy());
    }
    const QByteArray end = snapshot(f.data);
    undoAll(f.gallery);
    QCOMPARE(snapshot(f.data), start);
    redoAll(f.gallery);
    QCOMPARE(snapshot(f.data), end);

    // What was saved reads back the same.
    QVERIFY(f.gallery.save().ok());
    Gallery reloaded(f.prefs);
    QVERIFY(reloaded.load().ok());
    QCOMPARE(snapshot(reloaded.data()), end);
}

QTEST_MAIN(TestGallery)
#include "tst_gallery.moc"
