#include "common/GalleryFixture.h"
#include "storage/GalleryCheck.h"
#include "storage/Job.h"
#include "storage/RecentGalleries.h"

#include <QSignalSpy>
#include <QtTest>

using namespace qm;
using testing::writeBytes;

namespace {

QStringList names(const QList<CheckedFile> &files)
{
    QStringList out;
    for (const CheckedFile &f : files)
        out << (f.xml ? "xml/" : "img/") + f.name;
    out.sort();
    return out;
}

// A collection and an album with thumbnails, a photo and a video, every file there.
struct Fixture : testing::GalleryFixture
{
    QString imgFolder = prefs.imgFolder(), xmlFolder = prefs.xmlFolder();
    std::shared_ptr<AlbumCollection> travel = collection("Travel");
    std::shared_ptr<Album> harbour = album("Harbour", travel.get());
    std::shared_ptr<Photo> boats = photo(*harbour, "Boats");

    Fixture()
    {
        travel->setThumbFile("albthumb_c.jpg");
        harbour->setThumbFile("albthumb_a.jpg");
        video(*harbour, "Waves", {400})->setThumbFile("vthumb_v.jpg");
        for (const char *name : {"albthumb_c.jpg", "albthumb_a.jpg", "vthumb_v.jpg"})
            file(name);
        writeBytes(xml("albums.xml"), "<x/>");
        writeBytes(xml("album_Harbour.xml"), "<x/>");
        // The trash on the same disk as the gallery.
        qputenv("XDG_DATA_HOME", dir.filePath("share").toLocal8Bit());
    }
    GalleryCheckReport check() const { return GalleryCheck::run(GalleryNames::of(staged), imgFolder, xmlFolder); }
};

} // namespace

class TestGalleryCheck : public QObject
{
    Q_OBJECT
private slots:
    void findsWhatIsMissingAndWhatNothingNames();
    void neverLeavesTheGallery();
    void stopsAsAJob();
    void recentGalleries();
};

void TestGalleryCheck::findsWhatIsMissingAndWhatNothingNames()
{
    Fixture f;
    const GalleryCheckReport clean = f.check();
    QVERIFY2(clean.clean(), qPrintable(names(clean.orphans).join(' ') + names(clean.missing).join(' ')));
    QCOMPARE(clean.namedFiles, 8);
    QCOMPARE(clean.entries, 8);

    // Planted: two missing files, and what other tools and interrupted work leave.
    QFile::remove(f.img("img_Boats_sm.jpg"));
    QFile::remove(f.xml("album_Harbour.xml"));
    QVERIFY(writeBytes(f.img("stray.jpg"), QByteArray(1234, 'j')));
    QVERIFY(writeBytes(f.img(".img_k_0002.jpg.tmp-3k9"), QByteArray(10, 't')));
    QVERIFY(writeBytes(f.img(".vstream_k.flv.tmp-1a"), QByteArray(5, 'v')));
    QVERIFY(writeBytes(f.xml("albums.xml.unreadable-20240101"), "<broken"));
    QVERIFY(QFile::link("/etc/passwd", f.img("elsewhere.jpg")));
    QDir().mkpath(f.img("subfolder"));
    f.harbour->addItem(f.boats); // the same photo twice: its missing file is listed once

    const GalleryCheckReport r = f.check();
    QCOMPARE(names(r.missing), (QStringList{"img/img_Boats_sm.jpg", "xml/album_Harbour.xml"}));
    QCOMPARE(names(r.orphans), (QStringList{"img/.img_k_0002.jpg.tmp-3k9", "img/.vstream_k.flv.tmp-1a",
                                            "img/elsewhere.jpg", "img/stray.jpg",
                                            "img/subfolder", "xml/albums.xml.unreadable-20240101"}));
    QVERIFY(r.notPlain.isEmpty() && r.problems.isEmpty());
    const auto missingSmall = std::find_if(r.missing.begin(), r.missing.end(), [](const CheckedFile &c) { return !c.xml; });
    QCOMPARE(missingSmall->owner, QStringLiteral("photo \u201cBoats\u201d in \u201cHarbour\u201d"));
    QCOMPARE(missingSmall->path, f.img("img_Boats_sm.jpg"));
    for (const CheckedFile &c : r.orphans) {
        if (c.name == "stray.jpg")
            QVERIFY(c.size == 1234 && c.kind == CheckedFile::File && c.note.isEmpty());
        if (c.name == "elsewhere.jpg") // the link's own size, not that of what it points to
            QVERIFY(c.kind == CheckedFile::Link && c.size == qint64(strlen("/etc/passwd")));
        if (c.name == "subfolder")
            QVERIFY(c.kind == CheckedFile::Folder && c.size == -1);
        if (c.name.startsWith('.') || c.name.contains("unreadable"))
            QVERIFY2(!c.note.isEmpty(), qPrintable(c.name));
        if (c.name.startsWith('.')) // each named after the work that left it
            QVERIFY2(c.note.contains(c.name.contains("flv") ? "conversion" : "import"), qPrintable(c.note));
    }
    QCOMPARE(r.orphanBytes, 1234 + 10 + 5 + 7 + qint64(strlen("/etc/passwd")));

    // Moved to the trash: a folder orphan stays and is named as a problem,
    // not counted as moved; so does a file the gallery has come to name
    // since the list was made (here by a choice of thumbnail).
    QSignalSpy problems(&f.gallery, &Gallery::problems), reports(&f.gallery, &Gallery::filesReport);
    QVERIFY(writeBytes(f.img("albthumb_left.jpg"), "t"));
    const QStringList chosen{f.img("stray.jpg"), f.img("subfolder"), f.img("albthumb_left.jpg")};
    f.ready();
    f.gallery.setThumbFile(f.travel.get(), "albthumb_left.jpg");
    f.gallery.trashFiles(chosen);
    QVERIFY(f.settled());
    QVERIFY(!QFile::exists(f.img("stray.jpg")) && QFileInfo(f.img("subfolder")).isDir());
    QCOMPARE(testing::readBytes(f.img("albthumb_left.jpg")), QByteArray("t"));
    QCOMPARE(problems.size(), 1);
    const QList<FileProblem> left = problems.first().at(1).value<QList<FileProblem>>();
    QCOMPARE(left.size(), 2);
    QVERIFY(left[0].path == f.img("subfolder") && left[0].reason.contains("folder"));
    QVERIFY(left[1].path == f.img("albthumb_left.jpg") && left[1].reason.contains("names it"));
    QVERIFY(reports.size() == 1 && reports.first().first().toString().startsWith("1 file "));
}

void TestGalleryCheck::neverLeavesTheGallery()
{
    Fixture f;
    // A name that climbs out, with a file waiting there; and a named file that is a link out.
    QVERIFY(writeBytes(f.dir.filePath("g/escape.jpg"), "x"));
    QFile::remove(f.img(f.boats->smallImageFile()));
    f.boats->setSmallImageFile("../escape.jpg");
    QFile::remove(f.img("img_Boats.jpg"));
    QVERIFY(QFile::link("/etc/passwd", f.img("img_Boats.jpg")));
    GalleryCheckReport r = f.check();
    QVERIFY(r.missing.isEmpty() && r.orphans.isEmpty());
    QCOMPARE(names(r.notPlain), QStringList{"img/img_Boats.jpg"});
    QCOMPARE(r.notPlain[0].kind, CheckedFile::Link);
    QCOMPARE(r.problems.size(), 1);
    QCOMPARE(r.problems[0].path, QStringLiteral("../escape.jpg"));

    // A folder that is itself a link to elsewhere is not read at all.
    const QString real = f.dir.filePath("elsewhere");
    QVERIFY(QDir().rename(f.imgFolder, real));
    QVERIFY(QFile::link(real, f.imgFolder));
    r = f.check();
    QVERIFY(r.missing.isEmpty() && r.orphans.isEmpty());
    QCOMPARE(r.problems.size(), 2);
    QCOMPARE(r.problems[0].path, QDir::toNativeSeparators(f.imgFolder));
}

void TestGalleryCheck::stopsAsAJob()
{
    // Stopped while it reads thousands of entries: it says so and lists nothing half-done.
    Fixture f;
    QFile::remove(f.img("img_Boats.jpg"));
    for (int i = 0; i < 5000; ++i)
        QVERIFY(writeBytes(f.img(QStringLiteral("stray%1.jpg").arg(i)), ""));
    const GalleryNames names = GalleryNames::of(f.staged);
    auto result = std::make_shared<GalleryCheckReport>();
    Job job("check", [&](JobControl &c) { *result = GalleryCheck::run(names, f.imgFolder, f.xmlFolder, &c); });
    QSignalSpy finished(&job, &Job::finished);
    job.stop();
    job.start();
    QVERIFY(finished.wait(10000));
    QVERIFY(result->stopped && job.result().stopped);
    QVERIFY(result->missing.isEmpty() && result->orphans.isEmpty());
}

void TestGalleryCheck::recentGalleries()
{
    // The newest first, five at most, each folder once however it is written.
    Fixture f;
    RecentGalleries recent(&f.settings);
    for (const char *path : {"/g/1", "/g/2", "/g/3", "/g/4", "/g/5", "/g/6", "/g/7", "/g/4/", ""})
        recent.add(path);
    recent.remove("/g/7");
    QCOMPARE(recent.galleries(), (QStringList{"/g/4", "/g/6", "/g/5", "/g/3"}));
    QCOMPARE(f.settings.value("RecentGalleries").toStringList(), recent.galleries());
    recent.clear();
    QVERIFY(recent.galleries().isEmpty());
}

QTEST_GUILESS_MAIN(TestGalleryCheck)
#include "tst_gallerycheck.moc"
