// Opens a generated gallery of 1,000 albums and 100,000 items (and one
// album of 5,000) in the real main window, offscreen, and times what a user
// waits for: the filled tree, showing the big album, moving all of it to
// another album with its Undo and Redo, and a rename with its Undo. The
// reference is the same gallery read by loadData alone.

#include "mainwindow/AlbumTreeModel.h"
#include "mainwindow/ItemListModel.h"
#include "mainwindow/MainController.h"
#include "storage/GalleryFile.h"
#include "storage/Preferences.h"

#include "GalleryBuilder.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMimeData>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeView>

#include <cstdio>

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

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QSettings settings(dir.filePath("prefs.ini"), QSettings::IniFormat);
    Preferences prefs(&settings);
    QDir(dir.path()).mkpath("g/xml");
    QDir(dir.path()).mkpath("g/img");
    prefs.setOrvaneFolder(dir.filePath("g"));

    {
        Data data;
        bench::buildGallery(data);
        auto big = std::make_shared<Album>();
        big->setTitle(QStringLiteral("Everything"));
        big->setXMLFile(QStringLiteral("album_big.xml"));
        for (int i = 0; i < kBigAlbum; ++i) {
            auto p = std::make_shared<Photo>();
            p->setTitle(QStringLiteral("Big %1").arg(i));
            p->setImageFile(QStringLiteral("big_%1.jpg").arg(i));
            p->setSmallImageFile(QStringLiteral("big_%1_sm.jpg").arg(i));
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
    const double selectMs = timed([&] { w.ovAlbums()->setCurrentIndex(big); });
    if (w.itemModel()->rowCount() != kBigAlbum) {
        std::fprintf(stderr, "the big album shows %d rows\n", w.itemModel()->rowCount());
        return 1;
    }

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

    std::printf("gallery: %d albums, %d items, and one album of %d\n", bench::kAlbums + 2,
                bench::kAlbums * bench::kItemsPerAlbum, kBigAlbum);
    std::printf("loadData alone (reference): %8.1f ms\n", loadMs);
    std::printf("open to the filled tree:    %8.1f ms (%.2fx the reference; aim 1.5x)\n", openMs, openMs / loadMs);
    std::printf("select the album of %d:   %8.1f ms (aim under 100 ms)\n", kBigAlbum, selectMs);
    std::printf("move its %d items:        %8.1f ms  \"%s\"\n", kBigAlbum, moveMs, qPrintable(undoText));
    std::printf("  undo the move:            %8.1f ms\n", undoMoveMs);
    std::printf("  redo the move:            %8.1f ms\n", redoMoveMs);
    std::printf("rename an album:            %8.1f ms\n", renameMs);
    std::printf("  undo the rename:          %8.1f ms\n", undoRenameMs);
    return 0;
}
