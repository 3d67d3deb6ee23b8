// Whole user journeys through the real application binary on Xvfb, with
// the gallery folder checked on disk after each step.

#include "AppDriver.h"
#include "common/VideoFixtures.h"
#include "model/Photo.h"
#include "model/Video.h"
#include "storage/GalleryCheck.h"
#include "storage/GalleryFile.h"
#include "storage/MoveJournal.h"
#include "storage/Preferences.h"

#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QSettings>
#include <QXmlStreamReader>

using namespace qm;
using journey::App;

namespace {

// Window-relative places in the main window (1040 x 680 at the screen's
// corner, no window manager): rows of the tree and of the item list, the trash.
QPoint treeRow(int row) { return {110, 87 + 26 * row}; }
QPoint listRow(int row) { return {520, 96 + 44 * row}; }
const QPoint kTrash(983, 600);

struct Loaded
{
    Data data;
    LoadReport report;
};

// The gallery as the program itself would read it.
std::unique_ptr<Loaded> load(const QString &gallery)
{
    auto out = std::make_unique<Loaded>();
    QSettings settings(gallery + "/../probe.ini", QSettings::IniFormat);
    Preferences prefs(&settings);
    prefs.setOrvaneFolder(gallery);
    GalleryFile files(prefs);
    out->report = files.loadData(out->data);
    return out;
}

Album *findAlbum(const Data &data, const QString &title)
{
    Album *found = nullptr;
    data.forEachNode([&](const NodePtr &n) {
        if (n->isAlbum() && n->title() == title)
            found = static_cast<Album *>(n.get());
        return !found;
    });
    return found;
}

// What the saved gallery names but lacks, or holds that nothing names.
QStringList unaccounted(const QString &gallery, const Data &data)
{
    const GalleryCheckReport r = GalleryCheck::run(GalleryNames::of(data), gallery + "/img", gallery + "/xml");
    QStringList names;
    for (const CheckedFile &f : r.missing + r.orphans + r.notPlain)
        names << f.name;
    return names;
}

// No XML file of the gallery is cut short or malformed.
QStringList brokenXML(const QString &gallery)
{
    QStringList broken;
    for (const QFileInfo &f : QDir(gallery + "/xml").entryInfoList({"*.xml"}, QDir::Files)) {
        QFile file(f.filePath());
        file.open(QIODevice::ReadOnly);
        QXmlStreamReader r(&file);
        while (!r.atEnd())
            r.readNext();
        if (r.hasError())
            broken << f.fileName() + ": " + r.errorString();
    }
    return broken;
}

} // namespace

class TestJourneys : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void fromFirstRunToARestart();
    void killedWhileSavingOrImporting();
    void titlesAreTheWindowsOwn();

private:
    // Saves with the keyboard and reads the gallery from disk until `done`
    // holds for it: the save ends in the program's own time. `disk` keeps
    // the last reading.
    bool save(App &app, const QString &gallery, std::unique_ptr<Loaded> &disk,
              const std::function<bool(const Loaded &)> &done);
    QStringList makePhotos(const QString &folder, int count, QSize size);
    // Writes the tree as the gallery `name` in the home folder, which the next start opens.
    QString makeGallery(const QString &name, Data &data);
    std::unique_ptr<App> launch();
    void snapshot();

    journey::XServer m_x;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_home;
    QString m_step;
};

#define STEP(text) m_step = QStringLiteral(text)
// On a failure the screen is kept as a picture beside the test's output.
#define CHECK(cond, what)                                                                                     \
    do {                                                                                                      \
        const bool held_ = bool(cond);                                                                        \
        if (!held_)                                                                                           \
            snapshot();                                                                                       \
        QVERIFY2(held_, qPrintable(m_step + ": " + (what)));                                                 \
    } while (false)

void TestJourneys::initTestCase()
{
    if (QStandardPaths::findExecutable("Xvfb").isEmpty() || QStandardPaths::findExecutable("xdotool").isEmpty())
        QSKIP("Xvfb and xdotool are needed");
    QVERIFY(QFile::exists(QUILLMERE_BINARY));
    QVERIFY(m_x.start());
}

void TestJourneys::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_home = m_dir->filePath("home");
    QDir().mkpath(m_home + "/.local/share");
}

void TestJourneys::snapshot()
{
    const QString path = QDir::current().absoluteFilePath("journey-failure.png");
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", m_x.display());
    p.setProcessEnvironment(env);
    p.start("import", {"-window", "root", path});
    p.waitForFinished(10000);
    qWarning("the screen at the failure: %s", qPrintable(path));
}

bool TestJourneys::save(App &app, const QString &gallery, std::unique_ptr<Loaded> &disk,
                        const std::function<bool(const Loaded &)> &done)
{
    app.key("ctrl+s");
    return QTest::qWaitFor([&] {
        disk = load(gallery);
        return done(*disk);
    }, 240000);
}

std::unique_ptr<App> TestJourneys::launch()
{
    auto app = std::make_unique<App>(QUILLMERE_BINARY, m_x.display(), m_home);
    if (!app->start())
        return nullptr;
    return app;
}

QStringList TestJourneys::makePhotos(const QString &folder, int count, QSize size)
{
    QDir().mkpath(folder);
    QStringList names;
    for (int i = 0; i < count; ++i) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(QColor::fromHsv((i * 37) % 360, 160, 210));
        QPainter(&image).fillRect(size.width() / 4, size.height() / 4, size.width() / 2, size.height() / 2, Qt::white);
        const char *formats[] = {"jpg", "png", "tiff"};
        const QString name = QStringLiteral("photo%1.%2").arg(i + 1, 2, 10, QChar('0')).arg(formats[i % 3]);
        image.save(folder + "/" + name);
        names << name;
    }
    return names;
}

QString TestJourneys::makeGallery(const QString &name, Data &data)
{
    const QString gallery = m_home + "/" + name;
    QDir().mkpath(gallery + "/img");
    QDir().mkpath(gallery + "/xml");
    QDir().mkpath(m_home + "/.config/Quillmere");
    QSettings settings(m_home + "/.config/Quillmere/Quillmere.conf", QSettings::NativeFormat);
    Preferences prefs(&settings);
    prefs.setOrvaneFolder(gallery);
    [&] { QVERIFY(GalleryFile(prefs).saveData(data).ok()); }();
    return gallery;
}

void TestJourneys::fromFirstRunToARestart()
{
    const QString gallery = m_home + "/Pictures Site";
    const QString sources = m_dir->filePath("camera");
    QStringList photos = makePhotos(sources, 30, {1200, 900});
    QFile corrupt(sources + "/" + photos[7]);
    QVERIFY(corrupt.open(QIODevice::WriteOnly | QIODevice::Truncate));
    corrupt.write("this camera file is damaged");
    corrupt.close();
    const QString movie = m_dir->filePath("clips/Harbour Walk.flv");
    const QString movieLow = m_dir->filePath("clips/Harbour Walk low.flv");
    QDir().mkpath(m_dir->filePath("clips"));
    QVERIFY(testing::makeFLV(movie, {320, 240}, 600));
    QVERIFY(testing::makeFLV(movieLow, {320, 240}, 150));

    STEP("first run");
    auto app = launch();
    CHECK(app, "the application starts");
    QString panel = app->window("Welcome to Quillmere");
    CHECK(!panel.isEmpty(), "the first-run panel opens");
    app->focus(panel);
    app->key("alt+c");
    QString chooser = app->window("Choose Where the New Gallery Goes");
    CHECK(!chooser.isEmpty(), "the folder chooser opens");
    app->focus(chooser);
    app->type(m_home);
    app->key("Return");
    QString naming = app->window("New Gallery");
    CHECK(!naming.isEmpty(), "the naming panel opens");
    app->focus(naming);
    app->type("Pictures Site");
    app->key("Return");
    QString main = app->window("Quillmere - ");
    CHECK(!main.isEmpty() && app->gone("Welcome to Quillmere"), "the main window shows the new gallery");
    CHECK(QFile::exists(gallery + "/xml/albums.xml"), "albums.xml of the new gallery");
    CHECK(QDir(gallery + "/img").exists(), "img folder of the new gallery");

    STEP("building the tree");
    app->focus(main);
    // Each new node is selected with its title open for typing.
    app->key("ctrl+alt+n"); // a collection
    app->key("ctrl+a");
    app->type("Travel");
    app->key("Return");
    app->key("ctrl+shift+n"); // an album inside the selected collection
    app->key("ctrl+a");
    app->type("Harbour");
    app->key("Return");
    app->key("ctrl+shift+n"); // and a second one after it
    app->key("ctrl+a");
    app->type("Hills");
    app->key("Return");
    app->key("Up"); // Harbour again
    std::unique_ptr<Loaded> disk;
    CHECK(save(*app, gallery, disk, [](const Loaded &d) {
              return d.data.albums().size() == 1 && d.data.albums()[0]->title() == "Travel"
                  && static_cast<AlbumCollection &>(*d.data.albums()[0]).items().size() == 2;
          }), "the tree is saved");
    CHECK(disk->report.ok(), "the saved index loads");
    CHECK(disk->data.albums().size() == 1 && disk->data.albums()[0]->title() == "Travel", "one collection, Travel");
    auto *travel = static_cast<AlbumCollection *>(disk->data.albums()[0].get());
    CHECK(travel->items().size() == 2, "two albums in Travel");
    CHECK(travel->items()[0]->title() == "Harbour" && travel->items()[1]->title() == "Hills", "albums renamed");

    STEP("importing 30 photos with a copyright line");
    app->key("ctrl+i");
    QString failed;
    QString sheet = app->choose("Import Photos into", sources, photos, "^Import Photos$", &failed);
    CHECK(!sheet.isEmpty(), failed);
    app->focus(sheet);
    app->key("alt+c"); // the copyright line
    app->key("Return");
    QString problems = app->window("^Quillmere$", 60000);
    CHECK(!problems.isEmpty(), "the damaged file is reported at the end");
    app->focus(problems);
    app->key("Return");
    app->focus(main);
    save(*app, gallery, disk, [](const Loaded &d) {
        const Album *a = findAlbum(d.data, "Harbour");
        return a && a->items().size() == 29;
    });
    Album *harbour = findAlbum(disk->data, "Harbour");
    CHECK(harbour && harbour->items().size() == 29, QStringLiteral("29 photos, not %1").arg(harbour ? harbour->items().size() : -1));
    CHECK(unaccounted(gallery, disk->data).isEmpty(), unaccounted(gallery, disk->data).join(", "));
    auto *first = static_cast<Photo *>(harbour->items()[0].get());
    CHECK(first->title() == "photo01", first->title());
    CHECK(!first->largeImageFile().isEmpty(), "the large size is made");
    CHECK(QImageReader(gallery + "/img/" + first->imageFile()).size() == QSize(800, 600), "normal size 800 x 600");

    STEP("importing a video, adding a stream, making its thumbnail");
    app->key("ctrl+shift+i");
    QString importVideo = app->choose("Import a Video into", movie, {}, "^Import Video$", &failed);
    CHECK(!importVideo.isEmpty(), failed);
    CHECK(app->pressUntil(importVideo, "Return", "^Import Video$", false), "the import window closes");
    app->click(main, listRow(0));
    app->key("ctrl+End"); // to the video, last in the list
    app->key("Up");
    app->key("Down"); // plain arrows select the row they land on
    app->key("ctrl+shift+i"); // on the selected video: a stream for it
    QString addStream = app->choose("Add a Stream to", movieLow, {}, "^Add Video Stream$", &failed);
    CHECK(!addStream.isEmpty(), failed);
    CHECK(app->pressUntil(addStream, "Return", "^Add Video Stream$", false), "the stream window closes");
    app->focus(main);
    app->key("ctrl+e");
    QString preview = app->window("^Video Preview$");
    CHECK(!preview.isEmpty(), "the preview opens");
    // The frame can be captured once the movie plays; until then the
    // preview says so in a box of its own title, which is closed again.
    QString thumb;
    QElapsedTimer playing;
    playing.start();
    while (thumb.isEmpty() && playing.elapsed() < 240000) {
        app->focus(preview);
        app->key("alt+c");
        thumb = app->window("^Video Thumbnail$", 3000);
        for (const QString &box : app->tool({"search", "--onlyvisible", "--name", "^Video Preview$"}).split('\n')) {
            if (thumb.isEmpty() && !box.isEmpty() && box != preview) {
                app->focus(box);
                app->key("Return");
            }
        }
    }
    CHECK(!thumb.isEmpty(), "the thumbnail window opens with the captured frame");
    app->focus(thumb);
    app->key("Return");
    CHECK(app->gone("^Video Thumbnail$"), "the thumbnail is made");
    app->focus(preview);
    app->key("Escape");
    app->focus(main);
    save(*app, gallery, disk, [](const Loaded &d) {
        const Album *a = findAlbum(d.data, "Harbour");
        return a && a->items().size() == 30 && a->items().last()->isVideo()
            && static_cast<Video &>(*a->items().last()).numberOfStreams() == 2
            && static_cast<Video &>(*a->items().last()).thumbFile().startsWith("vthumb_");
    });
    harbour = findAlbum(disk->data, "Harbour");
    CHECK(harbour->items().size() == 30, "29 photos and a video");
    auto *video = static_cast<Video *>(harbour->items().last().get());
    CHECK(video->isVideo() && video->title() == "Harbour Walk", video->title());
    CHECK(video->numberOfStreams() == 2 && video->streams()[0]->bitrate() > video->streams()[1]->bitrate(),
          "two streams, the faster first");
    CHECK(QImageReader(gallery + "/img/" + video->thumbFile()).size() == QSize(120, 90), "a 120 x 90 thumbnail");
    CHECK(unaccounted(gallery, disk->data).isEmpty(), unaccounted(gallery, disk->data).join(", "));

    STEP("reordering, moving to another album, deleting with the trash well");
    app->click(main, listRow(0));
    app->key("ctrl+Home"); // back to the top of the list
    app->key("Down");
    app->key("Up");
    app->drag(main, listRow(0), listRow(3) + QPoint(0, -6)); // photo01 above photo05's row... between 3 and 4
    app->click(main, listRow(0));
    app->drag(main, listRow(0), treeRow(2)); // the first item onto Hills
    app->click(main, listRow(0));
    const QString doomed = static_cast<Photo *>(harbour->items()[2].get())->imageFile();
    app->drag(main, listRow(0), kTrash);
    save(*app, gallery, disk, [](const Loaded &d) {
        const Album *a = findAlbum(d.data, "Harbour"), *h = findAlbum(d.data, "Hills");
        return a && h && a->items().size() == 28 && h->items().size() == 1;
    });
    harbour = findAlbum(disk->data, "Harbour");
    Album *hills = findAlbum(disk->data, "Hills");
    CHECK(hills && hills->items().size() == 1, "one item moved to Hills");
    CHECK(harbour->items().size() == 28, QStringLiteral("28 items left, not %1").arg(harbour->items().size()));
    CHECK(hills->items()[0]->title() == "photo02", "the first row after the reorder went to Hills: " + hills->items()[0]->title());
    CHECK(harbour->items()[0]->title() == "photo01", "photo01 was moved down, then the rows above it left: "
                                                     + harbour->items()[0]->title());
    CHECK(!QFile::exists(gallery + "/img/" + doomed), "the deleted photo's file is gone");
    CHECK(unaccounted(gallery, disk->data).isEmpty(), unaccounted(gallery, disk->data).join(", "));
    CHECK(QDir(m_home + "/.local/share/Trash/files").entryList({"img_*"}).size() >= 1, "it is in the desktop's trash");

    STEP("quit and start again");
    app->focus(main);
    app->key("ctrl+q");
    CHECK(app->waitForExit(), "the application quits");
    CHECK(app->exitStatus() == QProcess::NormalExit && app->exitCode() == 0, app->output().right(2000));
    app = launch();
    main = app->window("Quillmere - ");
    CHECK(!main.isEmpty() && app->window("Welcome", 1500).isEmpty(), "the gallery opens without the first-run panel");

    STEP("unsaved changes are saved at quit");
    app->focus(main);
    app->click(main, treeRow(0));
    app->key("ctrl+shift+n");
    app->key("ctrl+q");
    CHECK(app->waitForExit(), "the application quits");
    disk = load(gallery);
    travel = static_cast<AlbumCollection *>(disk->data.albums()[0].get());
    CHECK(travel->items().size() == 3, "the new album was saved at quit");
    CHECK(brokenXML(gallery).isEmpty(), brokenXML(gallery).join("; "));
}

void TestJourneys::killedWhileSavingOrImporting()
{
    // A big gallery, so that a save takes long enough to be interrupted.
    Data data;
    for (int a = 0; a < 300; ++a) {
        auto album = std::make_shared<Album>();
        album->setTitle(QStringLiteral("Album %1").arg(a));
        album->setXMLFile(QStringLiteral("album_%1.xml").arg(a));
        for (int i = 0; i < 200; ++i) {
            auto p = std::make_shared<Photo>();
            p->setTitle(QStringLiteral("Photo %1 with a long enough title").arg(i));
            p->setImageFile(QStringLiteral("p%1_%2.jpg").arg(a).arg(i));
            p->setSmallImageFile(QStringLiteral("p%1_%2_sm.jpg").arg(a).arg(i));
            album->addItem(p);
        }
        data.albums().append(album);
    }
    const QString gallery = makeGallery("Big", data);
    const QStringList photos = makePhotos(m_dir->filePath("cam"), 16, {4000, 3000});

    // A session killed before its save took effect left records of the
    // files it wrote: the next start puts them right and says so.
    const QString moves = gallery + "/.quillmere/" + MoveJournal::fileName();
    auto startAfterKill = [&](bool *opened) {
        // Told only when there is something to put right: here files the
        // killed session wrote that the saved gallery does not name.
        bool interrupted = false;
        if (QFile::exists(moves)) {
            const GalleryCheckReport r = GalleryCheck::run(GalleryNames::of(load(gallery)->data), gallery + "/img",
                                                           gallery + "/xml");
            for (const CheckedFile &f : r.orphans)
                interrupted = interrupted || (!f.xml && !f.name.startsWith('.'));
        }
        auto app = launch();
        const QString main = app->window("Quillmere - ");
        *opened = !main.isEmpty();
        if (interrupted) {
            const QString told = app->window("^Quillmere$");
            app->focus(told);
            app->key("Return");
            *opened = *opened && !told.isEmpty() && app->gone("^Quillmere$");
        }
        *opened = *opened && QTest::qWaitFor([&] { return !QFile::exists(moves); }, 240000);
        if (!*opened)
            qWarning("the program said: %s", qPrintable(app->output().right(4000)));
        return std::make_pair(std::move(app), main);
    };
    for (int delay : {5, 60, 150, 300}) {
        m_step = QStringLiteral("killed %1 ms into a save").arg(delay);
        bool opened = false;
        auto [app, main] = startAfterKill(&opened);
        CHECK(opened, "the gallery opens, and what the last kill left is put right");
        app->focus(main);
        app->click(main, treeRow(0));
        app->key("ctrl+shift+n"); // something to save
        app->tool({"key", "ctrl+s"});
        QThread::msleep(delay);
        app->kill();
        CHECK(brokenXML(gallery).isEmpty(), brokenXML(gallery).join("; "));
        auto disk = load(gallery);
        CHECK(disk->report.ok(), disk->report.unreadable.isEmpty() ? QString() : disk->report.unreadable[0].reason);
        CHECK(disk->data.albums().size() >= 300, "every album is still there");
    }

    STEP("killed in the middle of an import");
    bool opened = false;
    auto [app, main] = startAfterKill(&opened);
    CHECK(opened, "the gallery opens");
    app->focus(main);
    app->click(main, treeRow(0));
    app->key("ctrl+i");
    QString failed;
    const QString sheet = app->choose("Import Photos into", m_dir->filePath("cam"), photos, "^Import Photos$", &failed);
    CHECK(!sheet.isEmpty(), failed);
    app->focus(sheet);
    app->key("Return");
    // Killed once some photos are in, or at the end of the wait all the same.
    static_cast<void>(QTest::qWaitFor([&] { return QDir(gallery + "/img").entryList({"img_*"}).size() >= 4; }, 240000));
    app->kill();
    auto disk = load(gallery);
    CHECK(disk->report.ok(), "the gallery loads after the kill");
    CHECK(brokenXML(gallery).isEmpty(), brokenXML(gallery).join("; "));
    // The import's files, which no save named, go to the trash at the next
    // start, which says so.
    CHECK(QFile::exists(moves), "the import's files were recorded before they were written");
    std::tie(app, main) = startAfterKill(&opened);
    CHECK(opened, "the application starts again on the gallery and reports the import's files");
    CHECK(QDir(gallery + "/img").entryList({"img_*"}).isEmpty(), "no file of the import is left");
    app->focus(main);
    app->key("ctrl+q");
    CHECK(app->waitForExit(), "and quits");
}

void TestJourneys::titlesAreTheWindowsOwn()
{
    // The desktop shows each window's own title, with nothing appended.
    Data data;
    auto album = std::make_shared<Album>();
    album->setTitle("Harbour");
    album->setXMLFile("album_1.xml");
    auto photo = std::make_shared<Photo>();
    photo->setTitle("Boats at dawn");
    photo->setImageFile("img_1.jpg");
    photo->setSmallImageFile("img_1_sm.jpg");
    album->addItem(photo);
    data.albums().append(album);
    const QString gallery = makeGallery("Titles", data);
    QImage picture(400, 300, QImage::Format_RGB32);
    picture.fill(QColor(40, 90, 160));
    QVERIFY(picture.save(gallery + "/img/img_1.jpg") && picture.scaled(150, 113).save(gallery + "/img/img_1_sm.jpg"));

    STEP("window titles");
    auto app = launch();
    const QString main = app->window("Quillmere - ");
    CHECK(!main.isEmpty(), "the gallery opens");
    const QString mainTitle = app->tool({"getwindowname", main});
    CHECK(mainTitle == "Quillmere - " + gallery, mainTitle);
    app->focus(main);
    app->click(main, treeRow(0));
    app->click(main, listRow(0));
    app->key("ctrl+y");
    const QString viewer = app->window("^Photo - ");
    CHECK(!viewer.isEmpty(), "the photo viewer opens");
    const QString viewerTitle = app->tool({"getwindowname", viewer});
    CHECK(viewerTitle == "Photo - Boats at dawn", viewerTitle);
    app->focus(main);
    app->key("ctrl+comma");
    const QString prefs = app->window("^Preferences");
    CHECK(!prefs.isEmpty(), "the preferences open");
    const QString prefsTitle = app->tool({"getwindowname", prefs});
    CHECK(prefsTitle == "Preferences", prefsTitle);
    app->focus(main);
    app->key("ctrl+q");
    CHECK(app->waitForExit(), "the application quits");
}

QTEST_MAIN(TestJourneys)
#include "tst_journeys.moc"
