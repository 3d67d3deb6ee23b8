// The gallery document: every change undone and redone, files put back
// byte for byte, the dirty flag following the stack, and a long random run
// with both item models watching that ends where a save and a reload do.

#include "common/FullDisk.h"
#include "common/GalleryFixture.h"
#include "common/LoopDisk.h"
#include "mainwindow/AlbumTreeModel.h"
#include "mainwindow/ItemListModel.h"
#include "storage/GalleryTrash.h"
#include "storage/Job.h"
#include "storage/GalleryCheck.h"
#include "storage/MoveJournal.h"
#include "storage/Trash.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QUndoStack>
#include <QtTest>

#include <sys/stat.h>

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
    void whereNoTrashTakesTheFiles();
    void trashEntriesOtherToolsRestore();
    void undoTakesBackOnlyItsOwnFiles();
    void filesFollowTheSavedGalleryAfterACrash();
    void dirtyFlagFollowsTheStack();
    void noStepForNothingAndAtMostAHundred();
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
    auto photo = f.photo(*a, "p");
    f.ready();
    const QByteArray oldPicture = readBytes(f.img("albthumb_a.jpg"));

    // A new picture never replaces one that another node shows: it takes a
    // name of its own, which the next picture then replaces.
    QVERIFY(f.gallery.setNodeThumbnail(a.get(), "new picture").ok());
    const QString own = a->thumbFile();
    QVERIFY(own.startsWith("albthumb_") && own != "albthumb_a.jpg");
    QCOMPARE(readBytes(f.img(own)), QByteArray("new picture"));
    QCOMPARE(readBytes(f.img("albthumb_a.jpg")), oldPicture);
    QVERIFY(f.gallery.setNodeThumbnail(a.get(), "newer").ok());
    QCOMPARE(a->thumbFile(), own);
    QCOMPARE(readBytes(f.img(own)), QByteArray("newer"));
    // Nor a photo's small picture named as a thumbnail, nor what a link
    // points to, nor a file whose picture Undo could not put back (a pipe).
    const QString outside = f.dir.filePath("outside.jpg");
    writeBytes(outside, "theirs");
    QVERIFY(QFile::link(outside, f.img("albthumb_link.jpg")));
    QVERIFY(::mkfifo(QFile::encodeName(f.img("albthumb_pipe.jpg")).constData(), 0644) == 0);
    for (const QString &taken : {QStringLiteral("albthumb_link.jpg"), QStringLiteral("albthumb_pipe.jpg"),
                                 photo->smallImageFile()}) {
        f.gallery.setThumbFile(b.get(), taken);
        QVERIFY(f.gallery.setNodeThumbnail(b.get(), "mine").ok());
        QVERIFY2(b->thumbFile() != taken, qPrintable(taken));
        QCOMPARE(readBytes(f.img(b->thumbFile())), QByteArray("mine"));
        QVERIFY(f.gallery.undo());
        QCOMPARE(b->thumbFile(), taken);
    }
    QCOMPARE(readBytes(outside), QByteArray("theirs"));
    QCOMPARE(readBytes(f.img(photo->smallImageFile())), photo->smallImageFile().toUtf8());
    QVERIFY(QFileInfo(f.img("albthumb_pipe.jpg")).exists());

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
    QVERIFY(f.settled());
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
    QVERIFY(f.settled());
    QCOMPARE(keep->items().size(), 0);
    QVERIFY(!QFile::exists(f.img("img_solo.jpg")) && !QFile::exists(f.img("img_twin.jpg")));
    QVERIFY(QFileInfo(f.img("img_twin_sm.jpg")).isDir());
    QVERIFY(QFile::exists(f.dir.filePath("outside.jpg")));
    f.gallery.removeNode(coll);
    QVERIFY(f.settled());
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

    // A file emptied from the trash: the undo says so, leaves the model as
    // it is, and is not offered again.
    QVERIFY(f.gallery.redo());
    const QString trash = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME")) + "/Trash/files/";
    QVERIFY(QFile::remove(trash + "img_p_lg.jpg"));
    QSignalSpy problems(&f.gallery, &Gallery::problems);
    QVERIFY(f.gallery.canUndo());
    QVERIFY(!f.gallery.undo());
    QCOMPARE(problems.size(), 1);
    QVERIFY(problems.first().at(1).value<QList<FileProblem>>().first().reason.contains("no longer in the trash"));
    QCOMPARE(f.data.albums().size(), 1);
    QVERIFY(!QFile::exists(f.img("img_p.jpg")));
    QVERIFY(!f.gallery.canUndo());
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
    JobControl::setStepDelayForTesting(1000);
    const auto fast = qScopeGuard([] { JobControl::setStepDelayForTesting(0); });
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
    QVERIFY(f.settled());
    QCOMPARE(f.data.albums().size(), 1);
    QCOMPARE(f.imgFiles(), before);
    QCOMPARE(inTrash("files"), 0);
    QCOMPARE(inTrash("info"), 0);
    QVERIFY(!f.gallery.canUndo());

    // Left to run; its undo is a job too, which stops as well: what came
    // back goes to the trash again and the album stays deleted.
    disconnect(&f.gallery, &Gallery::jobStarted, this, nullptr);
    f.gallery.removeNode(album);
    QVERIFY(f.settled());
    QVERIFY(f.data.albums().isEmpty());
    QCOMPARE(inTrash("files"), 800);
    connect(&f.gallery, &Gallery::jobStarted, this, [&](Job *j) {
        connect(j, &Job::progressChanged, j, [j] {
            if (j->done() >= 50)
                j->stop();
        });
    });
    QVERIFY(f.gallery.undo());
    QVERIFY(f.settled());
    QVERIFY(f.data.albums().isEmpty());
    QCOMPARE(inTrash("files"), 800);
    QVERIFY(f.imgFiles().isEmpty());
    QVERIFY(f.gallery.canUndo());
    disconnect(&f.gallery, &Gallery::jobStarted, this, nullptr);
    QVERIFY(f.gallery.undo());
    QVERIFY(f.settled());
    QCOMPARE(f.imgFiles(), before);
    QCOMPARE(f.data.albums().size(), 1);
}

void TestGallery::whereNoTrashTakesTheFiles()
{
    Fixture f;
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    auto restore = qScopeGuard([&] { qputenv("XDG_DATA_HOME", oldData); });
    auto album = f.album("A");
    auto p = f.photo(*album, "p");
    auto q = f.photo(*album, "q");
    f.ready();
    QSignalSpy problems(&f.gallery, &Gallery::problems);

    // A fresh account without a data folder: the home trash is made.
    const QString fresh = f.dir.filePath("fresh/.local/share");
    qputenv("XDG_DATA_HOME", fresh.toLocal8Bit());
    f.gallery.removeItems(album.get(), {p});
    QVERIFY(f.settled());
    QVERIFY(QFile::exists(fresh + "/Trash/files/img_p.jpg"));
    QVERIFY(QFile::exists(fresh + "/Trash/info/img_p.jpg.trashinfo"));

    // A home trash that cannot be made: nothing is deleted, and the reason is given.
    const QString blocked = f.dir.filePath("blocked");
    QDir().mkpath(blocked);
    writeBytes(blocked + "/Trash", "a file where the trash folder would be");
    qputenv("XDG_DATA_HOME", blocked.toLocal8Bit());
    QVERIFY(!trashFolderFor(f.img("img_q.jpg"), false).exists());
    f.gallery.removeItems(album.get(), {q});
    QVERIFY(f.settled());
    QCOMPARE(titles(*album), QStringList{"q"});
    QVERIFY(QFile::exists(f.img("img_q.jpg")) && QFile::exists(f.img("img_q_sm.jpg")));
    QVERIFY(problems.last().at(1).value<QList<FileProblem>>().first().reason.contains("no trash could take it"));

    // A gallery on a memory volume has no trash, as on the desktop. Deleted
    // for good, the user having agreed: gone, and no Undo is offered.
    testing::TinyDisk disk(4 << 20);
    if (!disk.ok())
        QSKIP("a tmpfs cannot be mounted here");
    Fixture t(disk.path());
    auto onTmp = t.album("T");
    auto r = t.photo(*onTmp, "r");
    auto s = t.photo(*onTmp, "s");
    t.ready();
    QVERIFY(trashFolderFor(t.img("img_r.jpg"), false).reason.contains("no trash"));
    t.gallery.removeItems(onTmp.get(), {r});
    QVERIFY(t.settled());
    QCOMPARE(titles(*onTmp), (QStringList{"r", "s"}));
    t.gallery.removeItems(onTmp.get(), {r}, Removal::ForGood);
    QVERIFY(t.settled());
    QCOMPARE(titles(*onTmp), QStringList{"s"});
    QVERIFY(!QFile::exists(t.img("img_r.jpg")));
    QVERIFY(!t.gallery.canUndo());
    // A read-only gallery folder: no file can go, so nothing changes.
    QVERIFY(::mount(nullptr, QFile::encodeName(disk.path()).constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0);
    QSignalSpy readOnly(&t.gallery, &Gallery::problems);
    const int steps = t.gallery.undoStack()->count();
    t.gallery.removeItems(onTmp.get(), {s}, Removal::ForGood);
    QVERIFY(t.settled());
    QCOMPARE(titles(*onTmp), QStringList{"s"});
    QCOMPARE(t.gallery.undoStack()->count(), steps);
    QCOMPARE(readOnly.size(), 1);
    QVERIFY(readOnly.first().at(1).value<QList<FileProblem>>().first().reason.contains("Read-only"));
}

namespace {

// A command on a session bus of its own, where the desktop's trash backend
// runs; `ran` is false when it failed or the tools are not here.
QString inSession(const QStringList &command, bool *ran)
{
    *ran = false;
    if (QStandardPaths::findExecutable("gio").isEmpty() || QStandardPaths::findExecutable("dbus-run-session").isEmpty())
        return QString();
    static QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    p.setProcessEnvironment(env);
    p.start("dbus-run-session", QStringList{"--"} + command);
    *ran = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The trash's name for `original`, as `gio trash --list` gives it (which
// writes the bytes of a path outside ASCII as "\\xc3").
QString trashUri(const QString &listing, const QString &original)
{
    QString shown;
    for (const char c : QFile::encodeName(original))
        shown += uchar(c) < 0x80 ? QString(QLatin1Char(c)) : QStringLiteral("\\x%1").arg(uchar(c), 2, 16, QLatin1Char('0'));
    for (const QString &line : listing.split('\n')) {
        const QStringList f = line.split('\t');
        if (f.size() == 2 && f[1] == shown)
            return f[0];
    }
    return QString();
}

} // namespace

void TestGallery::trashEntriesOtherToolsRestore()
{
    // Folder names that need escaping in a trash record, in the home trash
    // and in a volume's own trash.
    bool ran = false;
    inSession({"gio", "trash", "--list"}, &ran);
    if (!ran)
        QSKIP("gio cannot list the trash here (libglib2.0-bin, gvfs and dbus-run-session are needed)");
    testing::LoopDisk volume;
    QTemporaryDir home;
    QStringList roots{home.filePath("Galerie \u00e9"), home.filePath("50% off")};
    if (volume.ok())
        roots << volume.path() + "/50% off";
    else
        qWarning("no loop volume can be mounted here: the volume's own trash is not tried");
    int n = 0;
    for (const QString &root : roots) {
        QVERIFY(QDir().mkpath(root));
        Fixture f(root);
        auto album = f.album("A");
        auto p = f.photo(*album, QStringLiteral("gio%1").arg(n++));
        f.ready();
        const QString original = f.img(p->imageFile());
        f.gallery.removeItems(album.get(), {p});
        QVERIFY(f.settled());
        QVERIFY(!QFile::exists(original));

        // The record names the place as the desktop expects it, escaped.
        const TrashFolder trash = trashFolderFor(original, false);
        const QString record = testing::readFile(trash.path + "/info/" + p->imageFile() + ".trashinfo");
        const QString named = trash.top.isEmpty() ? original : original.mid(trash.top.size() + 1);
        QVERIFY2(record.contains("\nPath=" + QString::fromLatin1(QFile::encodeName(named).toPercentEncoding("/")) + "\n"),
                 qPrintable(record));
        QVERIFY(trash.top.isEmpty() == !root.startsWith(volume.path()));

        // Another program lists it under its place, and puts it back there
        // (gio 2.74 itself restores a path outside ASCII to its escaped
        // spelling, whoever wrote the record: that is left to the listing).
        const QString listing = inSession({"gio", "trash", "--list"}, &ran);
        QVERIFY(ran);
        const QString uri = trashUri(listing, original);
        QVERIFY2(!uri.isEmpty(), qPrintable(listing));
        if (QFile::encodeName(original) == original.toLatin1()) {
            // The backend knows of an entry once it has listed it, in the same session.
            inSession({"sh", "-c", "gio trash --list >/dev/null && gio trash --restore \"$0\"", uri}, &ran);
            QVERIFY(ran);
        } else {
            QVERIFY(putBackFromTrash(original, trash.path + "/files/" + p->imageFile()));
        }
        QCOMPARE(readBytes(original), p->imageFile().toUtf8());
        // Undo finds it there already and takes it as back.
        QVERIFY(f.gallery.undo());
        QCOMPARE(album->items().size(), 1);
        QCOMPARE(readBytes(f.img(p->smallImageFile())), p->smallImageFile().toUtf8());
    }
}

void TestGallery::undoTakesBackOnlyItsOwnFiles()
{
    Fixture f;
    auto album = f.album("A");
    auto own = f.photo(*album, "own7");
    f.photo(*album, "hand7");
    f.ready();
    const QString trash = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME")) + "/Trash";
    QSignalSpy problems(&f.gallery, &Gallery::problems);

    // Emptied from the trash, and three other files trashed under the same
    // names since: Undo takes none of them.
    f.gallery.removeItems(album.get(), {own});
    QVERIFY(f.settled());
    for (const QString &name : {own->imageFile(), own->smallImageFile()}) {
        QVERIFY(QFile::remove(trash + "/files/" + name) && QFile::remove(trash + "/info/" + name + ".trashinfo"));
        const QString other = f.dir.filePath(name);
        QVERIFY(writeBytes(other, "someone else's"));
        QVERIFY(moveFileToTrash(other));
    }
    QVERIFY(!f.gallery.undo());
    QVERIFY(problems.last().at(1).value<QList<FileProblem>>().first().reason.contains("no longer in the trash"));
    QCOMPARE(titles(*album), QStringList{"hand7"});
    QVERIFY(!QFile::exists(f.img(own->imageFile())));
    QCOMPARE(readBytes(trash + "/files/" + own->imageFile()), QByteArray("someone else's"));
    QVERIFY(!f.gallery.canUndo());

    // Put back by hand with the desktop's trash: Undo takes them as back.
    Fixture g;
    auto other = g.album("B");
    auto back = g.photo(*other, "back7");
    g.ready();
    g.gallery.removeItems(other.get(), {back});
    QVERIFY(g.settled());
    for (const QString &name : {back->imageFile(), back->smallImageFile()})
        QVERIFY(putBackFromTrash(g.img(name), trash + "/files/" + name));
    QVERIFY(g.gallery.undo());
    QCOMPARE(titles(*other), QStringList{"back7"});
    QCOMPARE(readBytes(g.img(back->imageFile())), back->imageFile().toUtf8());
}

void TestGallery::filesFollowTheSavedGalleryAfterACrash()
{
    Fixture f;
    auto a = f.album("A");
    auto gone = f.photo(*a, "gone");
    auto undone = f.photo(*a, "undone");
    auto big = f.album("Big");
    for (int i = 0; i < 300; ++i)
        f.photo(*big, QStringLiteral("k%1").arg(i));
    f.ready();
    QVERIFY(f.gallery.save().ok());
    const QString journal = f.prefs.statePath(MoveJournal::fileName());

    // A deletion never saved; a saved deletion undone but not saved again;
    // a new file that no save named. Then the program ends without saving.
    f.gallery.removeItems(a.get(), {undone});
    QVERIFY(f.settled());
    QVERIFY(f.gallery.save().ok());
    QVERIFY(!QFile::exists(journal));
    QVERIFY(f.gallery.undo());
    f.gallery.removeItems(a.get(), {gone});
    QVERIFY(f.settled());
    QVERIFY(f.gallery.filesWillBeWritten({f.img("img_new.jpg")}));
    f.file("img_new.jpg");
    QVERIFY(QFile::exists(journal));

    // The next open makes the folders agree with what was saved, and says so.
    Gallery next(f.prefs);
    QSignalSpy told(&next, &Gallery::problems);
    QVERIFY(next.load().ok());
    auto unaccounted = [&] {
        const GalleryCheckReport r = GalleryCheck::run(GalleryNames::of(next.data()), f.prefs.imgFolder(), f.prefs.xmlFolder());
        QStringList names;
        for (const CheckedFile &c : r.missing + r.orphans)
            names << c.name;
        return names;
    };
    QVERIFY2(unaccounted().isEmpty(), qPrintable(unaccounted().join(' ')));
    QCOMPARE(readBytes(f.img(gone->imageFile())), gone->imageFile().toUtf8());
    QVERIFY(!QFile::exists(f.img(undone->imageFile())) && !QFile::exists(f.img("img_new.jpg")));
    QVERIFY(!QFile::exists(journal));
    QTRY_COMPARE_WITH_TIMEOUT(told.size(), 1, 60000);
    QCOMPARE(told.first().at(1).value<QList<FileProblem>>().size(), 5);

    // Killed in the middle of a deletion: what had gone comes back.
    const qsizetype files = f.imgFiles().size();
    const testing::ChildEnd child = testing::inChild([&] {
        f.gallery.removeNode(big);
        while (f.gallery.isBusy()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (Job *job = f.gallery.currentJob(); job && job->done() >= 50)
                ::_exit(0);
        }
        return QStringLiteral("the deletion ended before the kill");
    });
    QVERIFY2(child.exitedWith(0) && child.output.isEmpty(), qPrintable(child.output));
    QVERIFY(f.imgFiles().size() < files);
    QVERIFY(next.load().ok());
    QVERIFY2(unaccounted().isEmpty(), qPrintable(unaccounted().join(' ')));
    QCOMPARE(f.imgFiles().size(), files);
    QCOMPARE(static_cast<Album &>(*next.data().albums().at(1)).items().size(), 300);
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

void TestGallery::noStepForNothingAndAtMostAHundred()
{
    Fixture f;
    auto a = f.album("A");
    auto p1 = f.photo(*a, "p1");
    f.photo(*a, "p2");
    f.ready();
    QUndoStack *stack = f.gallery.undoStack();
    // An editor closed without a change, a drop where the items were, a
    // value given to the rest that they have: no step, nothing unsaved.
    f.gallery.setItemField(p1.get(), ItemField::Title, "p1");
    f.gallery.setTitle(a.get(), "A");
    f.gallery.reorderItems(a.get(), {p1}, 0);
    f.gallery.reorderItems(a.get(), {p1}, 1);
    f.gallery.applyToRest(a.get(), 0, ItemField::Location);
    QCOMPARE(stack->count(), 0);
    QVERIFY(!f.gallery.needsToSaveChanges());

    // Only the last hundred steps are kept.
    for (int i = 0; i < 150; ++i)
        f.gallery.setTitle(a.get(), QStringLiteral("t%1").arg(i));
    QCOMPARE(stack->count(), Gallery::kUndoLimit);
    undoAll(f.gallery);
    QCOMPARE(a->title(), QStringLiteral("t49"));
    QVERIFY(f.gallery.needsToSaveChanges());
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
    // Rounds short enough for the undo limit to keep every step, each from
    // a fresh stack.
    for (int round = 0; round < 4; ++round) {
        f.gallery.adoptTree(QList<NodePtr>(f.data.albums()));
        const QByteArray start = snapshot(f.data);
        for (int step = round * 100; step < round * 100 + 90; ++step) {
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
            QVERIFY(f.settled());
        }
        const QByteArray end = snapshot(f.data);
        undoAll(f.gallery);
        QCOMPARE(snapshot(f.data), start);
        redoAll(f.gallery);
        QCOMPARE(snapshot(f.data), end);
    }
    const QByteArray end = snapshot(f.data);

    // What was saved reads back the same.
    QVERIFY(f.gallery.save().ok());
    Gallery reloaded(f.prefs);
    QVERIFY(reloaded.load().ok());
    QCOMPARE(snapshot(reloaded.data()), end);
}

QTEST_MAIN(TestGallery)
#include "tst_gallery.moc"
