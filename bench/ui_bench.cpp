// What a user of a large gallery waits for, in the real main window and
// beside it: opening 1,000 albums with 100,000 items (and one album of
// 5,000) against loadData alone, showing that album, moving all of it with
// Undo and Redo, a rename with its Undo, saving the move against a bare
// write of the same bytes, deleting one photo; finding, sorting and changing
// many items at once; then the thumbnails of a 5,000-item album (first
// screen, a full scroll, the decode against the import's own) and Check
// Gallery on 100,000 items with 300,000 files against a bare listing of the
// folders.

#include "BenchUtil.h"
#include "GalleryBuilder.h"
#include "imaging/ImageProc.h"
#include "edit/BatchEdit.h"
#include "edit/GallerySearch.h"
#include "mainwindow/AlbumTreeModel.h"
#include "mainwindow/FindController.h"
#include "mainwindow/ItemListModel.h"
#include "mainwindow/MainController.h"
#include "mainwindow/ThumbnailCache.h"
#include "model/Data.h"
#include "model/Photo.h"
#include "storage/GalleryCheck.h"
#include "storage/GalleryFile.h"
#include "storage/Preferences.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImageWriter>
#include <QLineEdit>
#include <QMimeData>
#include <QScrollBar>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeView>

#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

using namespace qm;

namespace {


constexpr int kBigAlbum = 5000;

// Runs `step` and lets the window repaint what it changed.
template<typename Step>
double timed(Step step)
{
    QElapsedTimer t;
    t.start();
    step();
    QApplication::processEvents();
    return double(t.nsecsElapsed()) / 1e6;
}



constexpr int kAlbumItems = 5000;
constexpr int kRowsOnScreen = 20;  // a table of 880 pixels at 44 per row
constexpr int kCellsOnScreen = 24; // a grid of 6 x 4
constexpr int kGalleryItems = 100000;

double ms(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

// Until every one of `paths` at `size` is ready or known broken.
double untilShown(ThumbnailCache &cache, const QStringList &paths, QSize size)
{
    QElapsedTimer t;
    t.start();
    for (const QString &p : paths)
        cache.thumbnail(p, size);
    auto allDone = [&] {
        return std::all_of(paths.begin(), paths.end(), [&](const QString &p) {
            return cache.status(p, size) != ThumbnailCache::Status::Loading;
        });
    };
    while (!allDone())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    return ms(t);
}

bool touch(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    return fd >= 0 && ::close(fd) == 0;
}

int bareListing(const QString &folder)
{
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    int n = 0;
    while (dir && ::readdir(dir))
        ++n;
    if (dir)
        ::closedir(dir);
    return n;
}


// Small files as the import writes them (within 150 x 150), a few
// different pictures written under many names.
QList<QByteArray> smallJpegs()
{
    QList<QByteArray> variants;
    for (int i = 0; i < 40; ++i) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setQuality(85);
        writer.write(bench::cameraLikePhoto(i % 2 ? QSize(150, 100) : QSize(100, 150), i));
        variants << bytes;
    }
    return variants;
}

// Finding, sorting and batch changes in the window holding the whole
// gallery and showing the album of 5,000.
int editSteps(MainController &w)
{
    Gallery &g = w.gallery();
    // The 5,000 items, wherever the move and its Redo left them: the largest album.
    Album *big = nullptr;
    g.data().forEachNode([&](const NodePtr &n) {
        if (n->isAlbum() && (!big || static_cast<Album &>(*n).items().size() > big->items().size()))
            big = static_cast<Album *>(n.get());
        return true;
    });
    w.ovAlbums()->setCurrentIndex(w.treeModel()->indexForNode(big));
    QApplication::processEvents();

    // Typing a query a letter at a time; each keystroke searches all
    // 105,000 items and filters the tree and the 5,000 rows shown.
    QLineEdit *field = w.findController()->field();
    const QString query = QStringLiteral("photo 42 of album 7");
    double firstKey = 0, longestKey = 0, allKeys = 0;
    for (int i = 1; i <= query.size(); ++i) {
        const double spent = timed([&] {
            field->setText(query.left(i));
            w.findController()->search();
        });
        (i == 1 ? firstKey : longestKey) = std::max(i == 1 ? firstKey : longestKey, spent);
        allKeys += spent;
    }
    const int found = int(w.findController()->result().hits.size());
    const double dateKey = timed([&] {
        field->setText(QStringLiteral("14 June 2021"));
        w.findController()->search();
    });
    const int onDate = w.findController()->result().itemCount;
    const double clearKey = timed([&] { w.findController()->clear(); });
    // The search alone over the album of 5,000, as a gallery of its own.
    Data alone;
    alone.albums().append(big->shared_from_this());
    QElapsedTimer t;
    t.start();
    int albumFound = 0;
    const QString albumQuery = QStringLiteral("big 42 2021");
    for (int i = 1; i <= albumQuery.size(); ++i)
        albumFound = int(GallerySearch::find(alone, albumQuery.left(i)).hits.size());
    const double albumKey = ms(t) / albumQuery.size();
    alone.albums().clear();

    // Sorting the 5,000, one step each, and its Undo.
    w.ovAlbums()->setCurrentIndex(w.treeModel()->indexForNode(big));
    const double sortDate = timed([&] { w.clickedSortBy(SortKey::DateTaken); });
    const double sortTitle = timed([&] { w.clickedSortBy(SortKey::Title); });
    const double sortFile = timed([&] { w.clickedSortBy(SortKey::FileName); });
    const double sortUndo = timed([&] { w.action(QStringLiteral("miUndo"))->trigger(); });
    // An album of 100 among the 100,000: the cost of the gallery around it.
    w.ovAlbums()->setCurrentIndex(w.treeModel()->index(0, 0, w.treeModel()->index(0, 0, w.treeModel()->index(2, 0))));
    const double sortSmall = timed([&] { w.clickedSortBy(SortKey::DateTaken); });

    // Batch changes of the 5,000 selected items, each one step, and its Undo.
    w.ovAlbums()->setCurrentIndex(w.treeModel()->indexForNode(big));
    w.tvPhotos()->selectAll();
    QList<Gallery::FieldChange> location, numbers;
    QList<Gallery::FieldChange> dates;
    for (int i = 0; i < big->items().size(); ++i) {
        const ItemPtr &item = big->items()[i];
        location.append({item, ItemField::Location, QStringLiteral("Porto")});
        numbers.append({item, ItemField::Title, numberedTitle(QStringLiteral("Harbour ###"), i + 1)});
    }
    const double setLocation = timed([&] { g.setItemFields(location, QStringLiteral("Change 5000 Photos")); });
    const double undoLocation = timed([&] { w.action(QStringLiteral("miUndo"))->trigger(); });
    const double shift = timed([&] {
        QStringList all;
        for (const ItemPtr &item : big->items())
            all << item->date();
        const DateForm hint = dateHint(g.data(), all);
        for (const ItemPtr &item : big->items())
            dates.append({item, ItemField::Date, shiftedDate(item->date(), {0, 0, 3}, hint)});
        g.setItemFields(dates, QStringLiteral("Shift 5000 Dates"));
    });
    const double number = timed([&] { g.setItemFields(numbers, QStringLiteral("Number 5000 Titles")); });
    // Every item of the gallery at once.
    QList<Gallery::FieldChange> everything;
    g.data().forEachNode([&](const NodePtr &n) {
        if (n->isAlbum())
            for (const ItemPtr &item : static_cast<const Album &>(*n).items())
                everything.append({item, ItemField::Location, QStringLiteral("Lisbon")});
        return true;
    });
    const double setAll = timed([&] { g.setItemFields(everything, QStringLiteral("Change All")); });
    const double undoAll = timed([&] { w.action(QStringLiteral("miUndo"))->trigger(); });

    std::printf("\nfinding, in the window with all %d items (the album of %d shown)\n",
                bench::kAlbums * bench::kItemsPerAlbum + kBigAlbum, kBigAlbum);
    std::printf("a keystroke of \"%s\": first %.1f ms, longest of the rest %.1f ms, mean %.1f ms (aim under 100 ms)\n",
                qPrintable(query), firstKey, longestKey, allKeys / query.size());
    std::printf("  %d found; a date in another form: %.1f ms (%d items); clearing: %.1f ms\n", found, dateKey, onDate,
                clearKey);
    std::printf("  keystrokes of \"%s\" over the %d items alone: %.2f ms each (%d found)\n", qPrintable(albumQuery),
                kBigAlbum, albumKey, albumFound);
    std::printf("sorting the album of %d, one step each (aim under 100 ms):\n", kBigAlbum);
    std::printf("  by date taken %.1f ms, by title %.1f ms, by file name %.1f ms; undo %.1f ms\n", sortDate, sortTitle,
                sortFile, sortUndo);
    std::printf("  an album of %d by date, among all the gallery's dates: %.1f ms\n", bench::kItemsPerAlbum, sortSmall);
    std::printf("batch changes of the %d selected, one step each (aim under 100 ms):\n", kBigAlbum);
    std::printf("  set a location %.1f ms (undo %.1f ms); shift dates by 3 days %.1f ms; number titles %.1f ms\n",
                setLocation, undoLocation, shift, number);
    std::printf("  a location on all %d items of the gallery: %.1f ms (undo %.1f ms)\n", int(everything.size()), setAll,
                undoAll);
    return 0;
}

int windowSteps()
{
    bench::Folder folder;
    QSettings &settings = folder.settings;
    Preferences &prefs = folder.prefs;
    // Deleted files go to a trash of the benchmark's own.
    qputenv("XDG_DATA_HOME", QFile::encodeName(folder.dir.filePath("share")));

    {
        Data data;
        bench::buildGallery(data);
        auto big = std::make_shared<Album>();
        big->setTitle(QStringLiteral("Everything"));
        big->setXMLFile(QStringLiteral("album_big.xml"));
        const QList<QByteArray> variants = smallJpegs();
        for (int i = 0; i < kBigAlbum; ++i) {
            auto p = std::make_shared<Photo>();
            p->setTitle(QStringLiteral("Big %1").arg(i));
            // Dates in no order and in two forms, as a merged import leaves them.
            const QDate day = QDate(2020, 1, 1).addDays((i * 7919) % 2000);
            p->setDate(i % 3 ? day.toString(QStringLiteral("yyyy-MM-dd")) : QLocale::c().toString(day, QStringLiteral("d MMMM yyyy")));
            p->setImageFile(QStringLiteral("big_%1.jpg").arg(i));
            p->setSmallImageFile(QStringLiteral("big_%1_sm.jpg").arg(i));
            QFile small(prefs.imgPath(p->smallImageFile()));
            if (!small.open(QIODevice::WriteOnly) || small.write(variants[i % variants.size()]) < 0)
                return 1;
            big->addItem(p);
        }
        data.albums().prepend(big);
        data.albums().prepend(std::make_shared<Album>()); // the empty album the items go to
        static_cast<Album &>(*data.albums().first()).setXMLFile(QStringLiteral("album_target.xml"));
        GalleryFile(prefs).saveData(data);
    }

    // The reference: the gallery read into memory, nothing shown.
    QElapsedTimer t;
    t.start();
    {
        Data data;
        GalleryFile(prefs).loadData(data);
    }
    const double loadMs = double(t.nsecsElapsed()) / 1e6;

    MainController w(&settings);
    w.resize(1100, 750);
    const double openMs = timed([&] {
        w.show();
        while (w.treeModel()->rowCount() == 0)
            QApplication::processEvents();
    });

    const QModelIndex target = w.treeModel()->index(0, 0);
    const QModelIndex big = w.treeModel()->index(1, 0);
    QElapsedTimer shown;
    shown.start();
    const double selectMs = timed([&] { w.ovAlbums()->setCurrentIndex(big); });
    if (w.itemModel()->rowCount() != kBigAlbum) {
        std::fprintf(stderr, "the big album shows %d rows\n", w.itemModel()->rowCount());
        return 1;
    }
    // Until the pictures of every row on screen are there.
    QTableView *table = w.tvPhotos();
    auto screenShown = [&] {
        const int first = table->rowAt(0), last = table->rowAt(table->viewport()->height() - 1);
        for (int r = first; r >= 0 && r <= (last < 0 ? kBigAlbum - 1 : last); ++r) {
            const QString path = prefs.imgPath(static_cast<Photo &>(*w.itemModel()->itemAt(r)).smallImageFile());
            if (w.thumbnails()->status(path, kListThumbnailSize) == ThumbnailCache::Status::Loading)
                return false;
        }
        return true;
    };
    while (!screenShown())
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    const double firstScreenMs = double(shown.nsecsElapsed()) / 1e6;
    // Scrolling to the end a screen at a time: the longest the window does not answer.
    double stall = 0;
    QScrollBar *bar = table->verticalScrollBar();
    for (int v = 0; v <= bar->maximum(); v += bar->pageStep()) {
        stall = std::max(stall, timed([&] { bar->setValue(v); }));
        QThread::msleep(16);
        stall = std::max(stall, timed([] {}));
    }
    while (!screenShown())
        QApplication::processEvents(QEventLoop::AllEvents, 5);

    QModelIndexList rows;
    for (int r = 0; r < kBigAlbum; ++r)
        rows << w.itemModel()->index(r, 0);
    std::unique_ptr<QMimeData> drag(w.itemModel()->mimeData(rows));
    const double moveMs = timed([&] { w.treeModel()->dropMimeData(drag.get(), Qt::MoveAction, -1, 0, target); });
    const QString undoText = w.action(QStringLiteral("miUndo"))->text();
    const double undoMoveMs = timed([&] { w.action(QStringLiteral("miUndo"))->trigger(); });
    const double redoMoveMs = timed([&] { w.action(QStringLiteral("miRedo"))->trigger(); });
    if (w.treeModel()->index(0, AlbumTreeModel::NumberColumn).data().toInt() != kBigAlbum) {
        std::fprintf(stderr, "the items did not arrive\n");
        return 1;
    }
    const double renameMs = timed([&] { w.treeModel()->setData(target, QStringLiteral("Renamed")); });
    const double undoRenameMs = timed([&] { w.action(QStringLiteral("miUndo"))->trigger(); });

    // Saving the move: the two album files and the index, in one step.
    SaveReport saved;
    const double saveMs = timed([&] { saved = w.gallery().save(); });
    if (!saved.ok() || saved.written.size() != 3) {
        std::fprintf(stderr, "the save wrote %d files\n", int(saved.written.size()));
        return 1;
    }
    // The reference: the same bytes written and flushed to new files beside them.
    qint64 savedBytes = 0;
    QList<std::pair<QByteArray, QByteArray>> copies;
    for (const QString &path : std::as_const(saved.written)) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return 1;
        copies.append({QFile::encodeName(path + ".bare"), f.readAll()});
        savedBytes += copies.last().second.size();
    }
    const double bareMs = timed([&] {
        for (const auto &[path, bytes] : copies) {
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size() || ::fsync(fd) != 0)
                std::fprintf(stderr, "bare write failed\n");
            ::close(fd);
        }
    });

    // Deleting one photo of the 100,000 (its two files go to the trash): the
    // longest the window does not answer, and the time until it is gone.
    // One of the albums of 100, so that the 5,000 stay whole for what follows.
    Album *holder = nullptr;
    w.gallery().data().forEachNode([&](const NodePtr &n) {
        if (n->isAlbum() && static_cast<Album &>(*n).items().size() == bench::kItemsPerAlbum)
            holder = static_cast<Album *>(n.get());
        return !holder;
    });
    w.ovAlbums()->setCurrentIndex(w.treeModel()->indexForNode(holder));
    const ItemPtr doomed = holder->items().first();
    QFile(prefs.imgPath(static_cast<Photo &>(*doomed).imageFile())).open(QIODevice::WriteOnly);
    const int rowsBefore = w.itemModel()->rowCount();
    QElapsedTimer untilGone;
    untilGone.start();
    double deleteStall = timed([&] { w.gallery().removeItems(holder, {doomed}); });
    while (w.itemModel()->rowCount() == rowsBefore || w.gallery().isBusy())
        deleteStall = std::max(deleteStall, timed([] {}));
    const double deleteMs = ms(untilGone);

    std::printf("gallery: %d albums, %d items, and one album of %d\n", bench::kAlbums + 2,
                bench::kAlbums * bench::kItemsPerAlbum, kBigAlbum);
    std::printf("loadData alone (reference): %8.1f ms\n", loadMs);
    std::printf("open to the filled tree:    %8.1f ms (%.2fx the reference; aim 1.5x)\n", openMs, openMs / loadMs);
    std::printf("select the album of %d:   %8.1f ms (aim under 100 ms)\n", kBigAlbum, selectMs);
    std::printf("  its first screen of thumbnails: %.1f ms\n", firstScreenMs);
    std::printf("  scrolling through all rows, longest stall: %.1f ms (aim under 50 ms)\n", stall);
    std::printf("move its %d items:        %8.1f ms  \"%s\"\n", kBigAlbum, moveMs, qPrintable(undoText));
    std::printf("  undo the move:            %8.1f ms\n", undoMoveMs);
    std::printf("  redo the move:            %8.1f ms\n", redoMoveMs);
    std::printf("rename an album:            %8.1f ms\n", renameMs);
    std::printf("  undo the rename:          %8.1f ms\n", undoRenameMs);
    std::printf("save after the move:        %8.1f ms (%d files, %.1f MB; a bare write and flush of the same "
                "bytes: %.1f ms, %.2fx)\n",
                saveMs, int(saved.written.size()), double(savedBytes) / 1e6, bareMs, saveMs / bareMs);
    std::printf("delete one photo of %d: longest stall %.1f ms (aim under 50 ms); gone after %.1f ms\n",
                bench::kAlbums * bench::kItemsPerAlbum + kBigAlbum, deleteStall, deleteMs);
    return editSteps(w);
}

int thumbnailsAndCheck()
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    // The small files of an album as the import writes them: within 150 x 150.
    const QList<QByteArray> variants = smallJpegs();
    QStringList small;
    qint64 smallPixels = 0;
    for (int i = 0; i < kAlbumItems; ++i) {
        const QString path = dir.filePath(QStringLiteral("img_%1_sm.jpg").arg(i));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(variants[i % variants.size()]) < 0)
            return 1;
        small << path;
        smallPixels += 150 * 100;
    }

    // First screen: what is asked for first is shown first.
    ThumbnailCache list;
    const double listFirst = untilShown(list, small.mid(0, kRowsOnScreen), kListThumbnailSize);
    ThumbnailCache grid;
    const double gridFirst = untilShown(grid, small.mid(0, kCellsOnScreen), kGridThumbnailSize);

    // Scrolling through all rows at a screen per frame (60 per second): the
    // longest the cache holds the GUI thread in one frame, asking and
    // taking in pictures (the view's own painting is not part of this).
    ThumbnailCache scroll;
    double longest = 0, total = 0;
    int frames = 0;
    QList<double> frameMs;
    QElapsedTimer whole;
    whole.start();
    for (int first = 0; first < kAlbumItems; first += kRowsOnScreen, ++frames) {
        QElapsedTimer frame;
        frame.start();
        for (int row = first; row < std::min(first + kRowsOnScreen, kAlbumItems); ++row)
            scroll.thumbnail(small[row], kListThumbnailSize);
        QCoreApplication::processEvents();
        const double spent = ms(frame);
        longest = std::max(longest, spent);
        total += spent;
        frameMs << spent;
        QThread::usleep(std::max(0, int(16667 - spent * 1000)));
    }
    const double scrollMs = ms(whole);
    std::sort(frameMs.begin(), frameMs.end());
    const double p99 = frameMs[int(frameMs.size() * 0.99)];
    // The last screen, once scrolling stops.
    const double lastScreen = untilShown(scroll, small.mid(kAlbumItems - kRowsOnScreen), kListThumbnailSize);

    // Decoding per pixel: the thumbnail read against the import's own decode of the same files.
    constexpr int kDecodes = 1000;
    QElapsedTimer t;
    t.start();
    ThumbnailCache::Status status;
    for (int i = 0; i < kDecodes; ++i)
        if (ThumbnailCache::load(small[i], kGridThumbnailSize, &status).isNull() || status != ThumbnailCache::Status::Ready)
            return 1;
    const double thumbNsPerPixel = double(t.nsecsElapsed()) / (kDecodes * 15000.0);
    t.restart();
    for (int i = 0; i < kDecodes; ++i)
        if (ThumbnailCache::load(small[i], kListThumbnailSize, &status).isNull())
            return 1;
    const double listNsPerPixel = double(t.nsecsElapsed()) / (kDecodes * 15000.0);
    t.restart();
    for (int i = 0; i < kDecodes; ++i)
        if (ImageProc::loadPicture(small[i]).isNull())
            return 1;
    const double importNsPerPixel = double(t.nsecsElapsed()) / (kDecodes * 15000.0);
    // The import's decode and reduction into the same box, as it makes its own small files.
    t.restart();
    for (int i = 0; i < kDecodes; ++i) {
        const Picture picture = ImageProc::loadPicture(small[i], {kGridThumbnailSize});
        const QSize target = ImageProc::targetSize(picture.size, kGridThumbnailSize.width(), kGridThumbnailSize.height());
        if (picture.image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).isNull())
            return 1;
    }
    const double importScaledNsPerPixel = double(t.nsecsElapsed()) / (kDecodes * 15000.0);
    // ... and the import on a camera-sized photo, for scale.
    const QString camera = dir.filePath("camera.jpg");
    if (!bench::cameraLikePhoto({4000, 3000}, 7).save(camera, "JPEG", 90))
        return 1;
    t.restart();
    for (int i = 0; i < 3; ++i)
        if (ImageProc::loadPicture(camera, {QSize(150, 150), QSize(800, 600), QSize(1600, 1200)}).isNull())
            return 1;
    const double cameraNsPerPixel = double(t.nsecsElapsed()) / (3 * 12e6);

    // Check Gallery: 100,000 photos naming 300,000 files, with a few gone and a few strays.
    std::printf("making %d empty files...\n", 3 * kGalleryItems);
    const QString img = dir.filePath("g/img"), xml = dir.filePath("g/xml");
    QDir().mkpath(img);
    QDir().mkpath(xml);
    Data data;
    auto album = std::make_shared<Album>();
    album->setXMLFile(QStringLiteral("album_1.xml"));
    data.albums().append(album);
    touch(QFile::encodeName(xml + "/albums.xml"));
    touch(QFile::encodeName(xml + "/album_1.xml"));
    for (int i = 0; i < kGalleryItems; ++i) {
        auto p = std::make_shared<Photo>();
        const QString base = QStringLiteral("img_5f3a9c2e1_%1").arg(i, 6, 10, QLatin1Char('0'));
        p->setImageFile(base + ".jpg");
        p->setSmallImageFile(base + "_sm.jpg");
        p->setLargeImageFile(base + "_lg.jpg");
        album->addItem(p);
        for (const QString &n : {p->imageFile(), p->smallImageFile(), p->largeImageFile()})
            if (i % 20000 != 7 && !touch(QFile::encodeName(img + '/' + n)))
                return 1;
    }
    for (int i = 0; i < 15; ++i)
        touch(QFile::encodeName(img + QStringLiteral("/stray_%1.jpg").arg(i)));

    t.restart();
    const GalleryNames names = GalleryNames::of(data);
    const double namesMs = ms(t);
    t.restart();
    const GalleryCheckReport report = GalleryCheck::run(names, img, xml);
    const double checkMs = ms(t);
    t.restart();
    const int listed = bareListing(img) + bareListing(xml);
    const double floorMs = ms(t);
    if (report.missing.size() != 15 || report.orphans.size() != 15)
        return 1;

    std::printf("\nthumbnails, album of %d items (small files of 150 x 100)\n", kAlbumItems);
    std::printf("first screen shown, list (%d rows at %dx%d):   %7.1f ms\n", kRowsOnScreen,
                kListThumbnailSize.width(), kListThumbnailSize.height(), listFirst);
    std::printf("first screen shown, grid (%d cells at %dx%d): %7.1f ms\n", kCellsOnScreen,
                kGridThumbnailSize.width(), kGridThumbnailSize.height(), gridFirst);
    std::printf("scroll through all rows, a screen per frame: %d frames in %.0f ms\n", frames, scrollMs);
    std::printf("  cache's GUI-thread work per frame: longest %.2f ms, 99%% under %.2f ms, mean %.3f ms"
                " (aim for a whole frame: under 50 ms)\n",
                longest, p99, total / frames);
    std::printf("  last screen shown after the scroll stops:    %7.1f ms\n", lastScreen);
    std::printf("  held: %d pictures, %.1f MB (bound %.0f MB)\n", scroll.count(), scroll.bytes() / 1e6,
                scroll.maxBytes() / 1e6);
    std::printf("decode per source pixel, same small files:\n");
    std::printf("  thumbnail at %dx%d:   %6.1f ns\n", kGridThumbnailSize.width(), kGridThumbnailSize.height(),
                thumbNsPerPixel);
    std::printf("  thumbnail at %dx%d:     %6.1f ns\n", kListThumbnailSize.width(), kListThumbnailSize.height(),
                listNsPerPixel);
    std::printf("  import's own decode:   %6.1f ns (ImageProc::loadPicture)\n", importNsPerPixel);
    std::printf("  import's decode and reduction to %dx%d: %6.1f ns (thumbnail / import: %.2f)\n",
                kGridThumbnailSize.width(), kGridThumbnailSize.height(), importScaledNsPerPixel,
                thumbNsPerPixel / importScaledNsPerPixel);
    std::printf("  import, 4000x3000 photo for three sizes: %.1f ns\n", cameraNsPerPixel);
    std::printf("\nCheck Gallery, %d items naming %d files, %d entries\n", kGalleryItems, int(names.names.size()),
                report.entries);
    std::printf("names taken (GUI thread):  %7.1f ms\n", namesMs);
    std::printf("check (job thread):        %7.1f ms (%d missing, %d not named)\n", checkMs,
                int(report.missing.size()), int(report.orphans.size()));
    std::printf("bare listing of the folders: %5.1f ms (%d entries); check / listing %.1f\n", floorMs, listed,
                checkMs / floorMs);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int window = windowSteps();
    std::printf("\n");
    return window ? window : thumbnailsAndCheck();
}
