// A save as one step: killed after every single change it makes to the
// disk, the next open shows the whole gallery as before or as after; only
// what changed is written; one writer at a time, and another program's
// changes never overwritten unasked.

#include "common/FullDisk.h"
#include "common/GalleryFixture.h"
#include "storage/FileWriter.h"
#include "storage/GalleryLock.h"

#include <QXmlStreamReader>
#include <QtTest>

#include <sys/stat.h>

using namespace qm;
using testing::readBytes;
using testing::snapshot;
using testing::writeBytes;

namespace {

using Fixture = testing::GalleryFixture;
using testing::albumTitled;

// Every file of a folder and its bytes, hidden ones too.
QMap<QString, QByteArray> files(const QString &folder)
{
    QMap<QString, QByteArray> out;
    for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System))
        out.insert(name, readBytes(folder + '/' + name));
    return out;
}

void restore(const QString &folder, const QMap<QString, QByteArray> &content)
{
    for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System))
        QFile::remove(folder + '/' + name);
    for (auto it = content.begin(); it != content.end(); ++it)
        writeBytes(folder + '/' + it.key(), it.value());
}

// What a web viewer meets in the folder now: an index that parses, naming
// album files that are all there and parse. Empty when so.
QString viewerProblem(const Preferences &prefs)
{
    QStringList named;
    auto parse = [&](const QString &path, bool index) -> QString {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return QFileInfo(path).fileName() + " is missing";
        QXmlStreamReader r(&file);
        while (!r.atEnd()) {
            if (r.readNext() == QXmlStreamReader::StartElement && index && r.name() == u"contentxmlurl")
                named << r.readElementText();
        }
        return r.hasError() ? QFileInfo(path).fileName() + ": " + r.errorString() : QString();
    };
    QString problem = parse(prefs.albumsXMLFile(), true);
    for (const QString &name : std::as_const(named)) {
        if (problem.isEmpty())
            problem = parse(prefs.xmlPath(name), false);
    }
    return problem;
}

// Temporary files and the journal: what an open must leave none of.
QStringList leftovers(const Preferences &prefs)
{
    QStringList found;
    for (const QString &folder : {prefs.imgFolder(), prefs.xmlFolder(), prefs.stateFolder()}) {
        for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
            if (FileWriter::isTemporaryName(name) || name == GalleryFile::journalName())
                found << name;
        }
    }
    return found;
}

struct Entry
{
    quint64 inode;
    qint64 modified;
    QByteArray bytes;
    bool operator==(const Entry &) const = default;
};

Entry entry(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {0, 0, {}};
    return {quint64(st.st_ino), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, readBytes(path)};
}

// Another copy of the program holding the gallery until it quits (or is killed).
std::unique_ptr<testing::ChildStaying> holder(Preferences &prefs)
{
    auto gallery = std::make_shared<std::unique_ptr<Gallery>>();
    return std::make_unique<testing::ChildStaying>(
        [&prefs, gallery] {
            *gallery = std::make_unique<Gallery>(prefs);
            return (*gallery)->open().lock == GalleryLock::State::Locked;
        },
        [gallery] { gallery->reset(); });
}

} // namespace

class TestSave : public QObject
{
    Q_OBJECT
private slots:
    void killedAtEveryStep();
    void onlyWhatChangedIsWritten();
    void oneWriterAtATime();
    void changesOfOtherProgramsAreNeverOverwrittenUnasked();
    void leftoversAreRemovedOnceTheLockIsHeld();
};

void TestSave::killedAtEveryStep()
{
    // Sixty photos move from one album to another, an album is renamed and
    // a photo retitled in a collection's album: two album files and the
    // index must change together, or photos end up in no album.
    Fixture f;
    auto from = f.album("From");
    for (int i = 0; i < 60; ++i)
        f.photo(*from, QStringLiteral("p%1").arg(i));
    f.photo(*f.album("To"), "t0");
    f.photo(*f.album("Renamed"), "r0");
    auto inner = f.album("Inner", f.collection("K").get());
    f.photo(*inner, "i0");
    f.ready();
    QVERIFY(f.gallery.save().ok());
    const QString xml = f.prefs.xmlFolder();
    const auto initial = files(xml);
    const QByteArray before = snapshot(f.data);

    auto saveInChild = [&](int changes) {
        return testing::inChild([&] {
            Gallery g(f.prefs);
            if (g.open().lock != GalleryLock::State::Locked)
                return QStringLiteral("not locked");
            Album *source = albumTitled(g.data(), "From");
            g.moveItems(source, source->items(), albumTitled(g.data(), "To"));
            g.setTitle(albumTitled(g.data(), "Renamed"), "Now named");
            g.setItemField(albumTitled(g.data(), "Inner")->items().first().get(), ItemField::Title, "retitled");
            FileWriter::exitAfterDiskChangesForTesting(changes);
            const SaveReport saved = g.save();
            return saved.ok() ? QStringLiteral("saved") : saved.failed.value(0).reason;
        });
    };
    QCOMPARE(saveInChild(0).output, QStringLiteral("saved"));
    QByteArray after;
    {
        Gallery g(f.prefs);
        QVERIFY(g.open().load.ok());
        after = snapshot(g.data());
    }
    QVERIFY(after != before);

    int asBefore = 0, asAfter = 0, steps = 0;
    for (bool killed = true; killed;) {
        ++steps;
        restore(xml, initial);
        const testing::ChildEnd end = saveInChild(steps);
        killed = end.exitedWith(FileWriter::kTestExitCode);
        QVERIFY2(killed || end.output == "saved", qPrintable(end.output));
        const QString step = QStringLiteral("killed after %1 changes to the disk: ").arg(steps);
        // Before anything is put right, the folder is whole for a web viewer.
        const QString problem = viewerProblem(f.prefs);
        QVERIFY2(problem.isEmpty(), qPrintable(step + problem));

        Gallery g(f.prefs);
        const Gallery::OpenReport opened = g.open(); // takes the dead child's lock over
        QCOMPARE(opened.lock, GalleryLock::State::Locked);
        QVERIFY2(opened.tidying.isEmpty() && opened.load.ok(), qPrintable(step + "the open found problems"));
        const QByteArray now = snapshot(g.data());
        QVERIFY2(now == before || now == after, qPrintable(step + "the gallery is neither as before nor as after"));
        (now == before ? asBefore : asAfter)++;
        QVERIFY2(leftovers(f.prefs).isEmpty(), qPrintable(step + leftovers(f.prefs).join(", ")));
    }
    // Every step was tried: a kill before the save took effect, and after.
    QVERIFY(steps > 10);
    QVERIFY(asBefore > 0 && asAfter > 1);
}

void TestSave::onlyWhatChangedIsWritten()
{
    Fixture f;
    for (const char *title : {"A", "B", "C"})
        f.photo(*f.album(title), QStringLiteral("%1 photo").arg(title));
    f.ready();
    QVERIFY(f.gallery.save().ok());
    // Another tool wrote album C in a layout of its own, with the same content.
    const QString c = f.xml("album_C.xml");
    QVERIFY(writeBytes(c, "<orvane version='2.1'><picture><title>C photo</title><date/><location/><description/>"
                          "<image><url>img_C photo.jpg</url></image><smallimage><url>img_C photo_sm.jpg</url>"
                          "</smallimage></picture></orvane>"));
    Gallery g(f.prefs);
    QVERIFY(g.open().load.ok());
    QMap<QString, Entry> was;
    for (const char *name : {"albums.xml", "album_A.xml", "album_B.xml", "album_C.xml"})
        was.insert(name, entry(f.xml(name)));

    // A title in B: B's file alone.
    g.setItemField(albumTitled(g.data(), "B")->items().first().get(), ItemField::Title, "new");
    SaveReport saved = g.save();
    QVERIFY(saved.ok());
    QCOMPARE(saved.written, QStringList{f.xml("album_B.xml")});
    for (const char *name : {"albums.xml", "album_A.xml", "album_C.xml"})
        QVERIFY2(entry(f.xml(name)) == was[name], qPrintable(QString(name) + " was written"));
    QVERIFY(readBytes(f.xml("album_B.xml")).contains("<title>new</title>"));

    // Nothing changed: nothing written, not even a journal.
    QVERIFY(g.save().written.isEmpty());
    QVERIFY(!QFile::exists(f.prefs.statePath(GalleryFile::journalName())));

    // A photo of C moves to A: both files and the index, C now in our layout.
    Album *cAlbum = albumTitled(g.data(), "C");
    g.moveItems(cAlbum, cAlbum->items(), albumTitled(g.data(), "A"));
    saved = g.save();
    QCOMPARE(saved.written.size(), 3);
    QVERIFY(entry(f.xml("album_C.xml")) != was["album_C.xml"]);
}

void TestSave::oneWriterAtATime()
{
    Fixture f;
    f.photo(*f.album("A"), "a");
    f.ready();
    QVERIFY(f.gallery.save().ok());

    // Another copy of the program holds the gallery: it is named, and the
    // gallery opens only read-only, where nothing changes.
    auto other = holder(f.prefs);
    QVERIFY(other->started());
    {
        Gallery g(f.prefs);
        const Gallery::OpenReport refused = g.open();
        QCOMPARE(refused.lock, GalleryLock::State::HeldElsewhere);
        QVERIFY(g.data().albums().isEmpty());
        QCOMPARE(g.lock().holder().pid, other->pid());
        QCOMPARE(g.lock().holder().host, QSysInfo::machineHostName());
        QVERIFY(qAbs(g.lock().holder().since.secsTo(QDateTime::currentDateTime())) < 600);

        QVERIFY(g.open(true).load.ok());
        QVERIFY(g.isReadOnly());
        QSignalSpy said(&g, &Gallery::problems);
        const QByteArray shown = snapshot(g.data());
        g.setTitle(albumTitled(g.data(), "A"), "changed");
        QVERIFY(!g.newAlbum(nullptr));
        g.removeNode(g.data().albums().first());
        QCOMPARE(snapshot(g.data()), shown);
        QVERIFY(!g.canUndo());
        QVERIFY(!said.isEmpty());
        QVERIFY(!g.save().ok());
    }
    // The other quits: the gallery is free, its lock gone.
    other->quit();
    QVERIFY(!QFile::exists(f.prefs.statePath(GalleryLock::fileName())));
    {
        Gallery g(f.prefs);
        QCOMPARE(g.open().lock, GalleryLock::State::Locked);
        QVERIFY(!g.isReadOnly());
    }
    // The other is killed while holding it: its lock is taken over.
    other = holder(f.prefs);
    QVERIFY(other->started());
    other->kill();
    Gallery g(f.prefs);
    QCOMPARE(g.open().lock, GalleryLock::State::Locked);
    QVERIFY(QFile::exists(f.prefs.statePath(GalleryLock::fileName())));
}

void TestSave::changesOfOtherProgramsAreNeverOverwrittenUnasked()
{
    Fixture f;
    f.photo(*f.album("A"), "a");
    f.photo(*f.album("B"), "b");
    f.ready();
    QVERIFY(f.gallery.save().ok());
    Gallery g(f.prefs);
    QVERIFY(g.open().load.ok());

    // A sync tool writes the same bytes again: no question.
    const QString index = f.prefs.albumsXMLFile();
    const QByteArray same = readBytes(index);
    QFile::remove(index);
    QVERIFY(writeBytes(index, same));
    g.setTitle(albumTitled(g.data(), "A"), "A (ours)");
    {
        const SaveReport r = g.save();
        QVERIFY2(r.ok(), qPrintable(r.failed.value(0).reason + r.changedOnDisk.value(0).path));
    }

    // Another program renames B and adds an album; we rename A again.
    const testing::ChildEnd end = testing::inChild([&] {
        Gallery other(f.prefs);
        other.load();
        other.setTitle(albumTitled(other.data(), "B"), "B (theirs)");
        other.newAlbum(nullptr);
        return QString::fromLatin1(other.save().ok() ? "saved" : "failed");
    });
    QCOMPARE(end.output, QStringLiteral("saved"));
    const QByteArray theirs = readBytes(index);
    QVERIFY(theirs.contains("B (theirs)"));
    g.setTitle(albumTitled(g.data(), "A (ours)"), "A (ours, again)");
    SaveReport saved = g.save();
    QCOMPARE(saved.changedOnDisk.size(), 1);
    QCOMPARE(saved.changedOnDisk[0].path, index);
    QCOMPARE(readBytes(index), theirs);
    QVERIFY(g.needsToSaveChanges());

    // Keeping ours: theirs is kept beside first, under a name that says so.
    saved = g.save(GalleryFile::OnChangedFiles::KeepTheirsAside);
    QVERIFY2(saved.ok(), qPrintable(saved.failed.value(0).path + ": " + saved.failed.value(0).reason));
    QVERIFY(readBytes(index).contains("A (ours, again)"));
    const QStringList kept = QDir(f.prefs.xmlFolder()).entryList({"albums.xml.theirs-*"});
    QCOMPARE(kept.size(), 1);
    QCOMPARE(readBytes(f.xml(kept[0])), theirs);
    QCOMPARE(saved.notes.size(), 1);
    QVERIFY(saved.notes[0].reason.contains(kept[0]));
}

void TestSave::leftoversAreRemovedOnceTheLockIsHeld()
{
    // What a kill in the middle of an import, a conversion, a thumbnail or a
    // save leaves; the files of the gallery itself stay.
    Fixture f;
    f.photo(*f.album("A"), "a");
    f.ready();
    QVERIFY(f.gallery.save().ok());
    const QStringList left{f.img(".img_5f3_0001.jpg.tmp-k3j2"), f.img(".vstream_5f3.flv.tmp-0a9"),
                           f.xml(".album_A.xml.tmp-zz1"), f.prefs.statePath(".save-journal.tmp-q")};
    const QStringList kept = QDir(f.prefs.imgFolder()).entryList(QDir::Files) + QDir(f.prefs.xmlFolder()).entryList(QDir::Files);

    // Not while another copy may be writing them.
    auto other = holder(f.prefs);
    for (const QString &path : left)
        QVERIFY(writeBytes(path, "partial"));
    {
        Gallery g(f.prefs);
        QVERIFY(g.open(true).load.ok());
        for (const QString &path : left)
            QVERIFY(QFile::exists(path));
    }
    other->quit();
    Gallery g(f.prefs);
    const Gallery::OpenReport opened = g.open();
    QCOMPARE(opened.leftoversRemoved, int(left.size()));
    QVERIFY(leftovers(f.prefs).isEmpty());
    QCOMPARE(QDir(f.prefs.imgFolder()).entryList(QDir::Files) + QDir(f.prefs.xmlFolder()).entryList(QDir::Files), kept);
}

QTEST_GUILESS_MAIN(TestSave)
#include "tst_save.moc"
