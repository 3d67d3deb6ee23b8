// The item views, the photo viewer, the preferences window and the Check
// Gallery window, driven as shown windows with real events.

#include "common/GalleryFixture.h"
#include "common/GuiHelpers.h"
#include "mainwindow/CheckGalleryController.h"
#include "mainwindow/DropHandler.h"
#include "mainwindow/ItemGridView.h"
#include "mainwindow/ItemListModel.h"
#include "mainwindow/ItemListView.h"
#include "mainwindow/ItemTableView.h"
#include "mainwindow/MyImageView.h"
#include "mainwindow/PhotoWindowController.h"
#include "mainwindow/PreferencesController.h"
#include "mainwindow/ThumbnailCache.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QPushButton>
#include <QMimeData>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeView>
#include <QtTest>

using namespace qm;
using testing::filesMime;

namespace {

ItemDropIndicator::Target targetOf(QAbstractItemView *view)
{
    if (auto *t = qobject_cast<ItemTableView *>(view))
        return t->dropTarget();
    return static_cast<ItemGridView *>(view)->dropTarget();
}

// A drag from outside (or from the list itself) moved to `at` on the view.
ItemDropIndicator::Target dragTo(QAbstractItemView *view, const QMimeData *mime, QPoint at)
{
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &enter);
    QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &move);
    return targetOf(view);
}

void leave(QAbstractItemView *view)
{
    QDragLeaveEvent e;
    QApplication::sendEvent(view->viewport(), &e);
}

bool highlighted(QRgb pixel, const QWidget *w)
{
    const QColor h = w->palette().color(QPalette::Highlight);
    return std::abs(qRed(pixel) - h.red()) < 40 && std::abs(qGreen(pixel) - h.green()) < 40
        && std::abs(qBlue(pixel) - h.blue()) < 40;
}

struct StreamDrops : DropHandler
{
    Video *streamOf = nullptr;
    int videos = 0;
    void importPhotos(const QStringList &, Album *) override {}
    void importVideo(const QString &, Album *, Video *addStreamTo) override
    {
        ++videos;
        streamOf = addStreamTo;
    }
};

QImage picture(QSize size)
{
    // Four quarters of their own colour, a mark in each corner pixel.
    QImage image(size, QImage::Format_RGB32);
    const int w = size.width(), h = size.height();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(x < w / 2 ? 220 : 30, y < h / 2 ? 200 : 40, (x * 7 + y * 3) % 256));
    return image;
}

} // namespace

class TestViews : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void dropsAreShownWhereTheyLand();
    void gridAndTableShareSelectionAndPictures();
    void photoViewerPixelForPixelOnScreen();
    void preferencesToolbarStays();
    void checkGalleryWindow();

private:
    // An album of four photos and a video.
    std::unique_ptr<testing::GalleryFixture> m_f;
    std::shared_ptr<Album> m_album;
};

void TestViews::init()
{
    m_f = std::make_unique<testing::GalleryFixture>();
    qputenv("XDG_DATA_HOME", m_f->dir.filePath("share").toLocal8Bit());
    m_album = m_f->album("Harbour");
    for (const char *title : {"A", "B", "C", "D"})
        m_f->photo(*m_album, title);
    m_f->video(*m_album, "E");
    m_f->ready();
}

void TestViews::dropsAreShownWhereTheyLand()
{
    ItemListModel model(&m_f->gallery);
    model.setAlbum(m_album.get());
    ItemListView views;
    views.setModel(&model, ItemListModel::TitleColumn);
    views.setDropRule([&](const QMimeData *m, int &row, bool &on) { return model.validateDrop(m, row, on); });
    views.resize(640, 400);
    views.show();
    QVERIFY(QTest::qWaitForWindowExposed(&views));
    ItemTableView *table = views.table();
    using T = ItemDropIndicator::Target;
    auto same = [](T a, T b) { return a.row == b.row && a.on == b.on; };

    const QString jpg = m_f->dir.filePath("new.jpg"), flv = m_f->dir.filePath("clip.flv"), txt = m_f->dir.filePath("a.txt");
    for (const QString &f : {jpg, flv, txt})
        QVERIFY(testing::writeBytes(f, "x"));
    std::unique_ptr<QMimeData> items(model.mimeData({model.index(1, 0)}));
    std::unique_ptr<QMimeData> pictures(filesMime({jpg}));
    std::unique_ptr<QMimeData> movie(filesMime({flv}));
    std::unique_ptr<QMimeData> text(filesMime({txt, jpg}));
    const int x = 200;
    auto middle = [&](int row) { return QPoint(x, table->rowRect(row).center().y()); };

    // Items over the middle of a row land above it, not on it.
    const T over = dragTo(table, items.get(), middle(3));
    QVERIFY2(same(over, T{3, false}), qPrintable(QStringLiteral("%1 %2").arg(over.row).arg(over.on)));
    const T below = dragTo(table, items.get(), QPoint(x, table->rowRect(4).bottom() - 1));
    QVERIFY2(same(below, T{5, false}), qPrintable(QStringLiteral("%1 %2").arg(below.row).arg(below.on)));
    // Pictures always go to the end; a movie onto a video adds a stream to it.
    QVERIFY(same(dragTo(table, pictures.get(), middle(1)), T{5, false}));
    QVERIFY(same(dragTo(table, movie.get(), middle(4)), T{4, true}));
    QVERIFY(!dragTo(table, text.get(), middle(1)).isValid());

    // What is drawn: a bar at the top of the row the items go before.
    dragTo(table, items.get(), middle(3));
    QImage shot = table->viewport()->grab().toImage();
    QVERIFY(highlighted(shot.pixel(300, table->rowRect(3).top()), table));
    QVERIFY(!highlighted(shot.pixel(300, table->rowRect(3).center().y()), table));
    // On the video's row: its outline.
    dragTo(table, movie.get(), middle(4));
    shot = table->viewport()->grab().toImage();
    QVERIFY(highlighted(shot.pixel(300, table->rowRect(4).bottom() - 1), table));
    QVERIFY(!highlighted(shot.pixel(300, table->rowRect(3).top()), table));
    leave(table);
    QVERIFY(!table->dropTarget().isValid());

    // Wherever it is shown, the drop lands there: every few pixels over the
    // rows and below them, items and a movie are dropped for real.
    StreamDrops handler;
    model.setDropHandler(&handler);
    const QList<ItemPtr> original = m_album->items();
    auto sweep = [&](QAbstractItemView *view, const QList<QPoint> &points) {
        for (QPoint at : points) {
            m_album->items() = original;
            model.setAlbum(m_album.get());
            items.reset(model.mimeData({model.index(1, 0)}));
            const T shown = dragTo(view, items.get(), at);
            QDropEvent drop(at, Qt::MoveAction, items.get(), Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(view->viewport(), &drop);
            const QString where = QStringLiteral("at %1,%2 shown %3").arg(at.x()).arg(at.y()).arg(shown.row);
            QVERIFY2(shown.isValid() && !shown.on, qPrintable(where));
            QCOMPARE(m_album->indexOfItem(original[1].get()), shown.row > 1 ? shown.row - 1 : shown.row);
            QVERIFY(!targetOf(view).isValid());

            const T movieShown = dragTo(view, movie.get(), at);
            handler.videos = 0;
            QDropEvent movieDrop(at, Qt::CopyAction, movie.get(), Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(view->viewport(), &movieDrop);
            QCOMPARE(handler.videos, 1);
            QVERIFY2(movieShown.on == (handler.streamOf != nullptr), qPrintable(where));
            QVERIFY(!movieShown.on || movieShown.row == 4);
        }
    };
    QList<QPoint> points;
    for (int y = table->rowRect(0).top(); y < table->rowRect(4).bottom() + 30; y += 3)
        points << QPoint(x, y);
    sweep(table, points);
    m_album->items() = original;
    model.setAlbum(m_album.get());

    // The grid: the same rules, the bar beside the picture.
    views.setGridShown(true);
    ItemGridView *grid = views.grid();
    QVERIFY(grid->isVisible() && !table->isVisible());
    items.reset(model.mimeData({model.index(0, 0)}));
    QVERIFY(same(dragTo(grid, items.get(), grid->cellRect(2).center()), T{2, false}));
    QVERIFY(same(dragTo(grid, movie.get(), grid->cellRect(4).center()), T{4, true}));
    points.clear();
    for (int row = 0; row < 5; ++row) {
        const QRect cell = grid->cellRect(row);
        for (int dx = 0; dx < cell.width(); dx += 3)
            points << QPoint(cell.left() + dx, cell.center().y());
        points << QPoint(cell.left() + 1, cell.center().y()) << QPoint(cell.right() - 1, cell.center().y())
               << QPoint(cell.right(), cell.center().y());
    }
    points << QPoint(grid->cellRect(4).right() + 30, grid->cellRect(4).center().y());
    sweep(grid, points);
    m_album->items() = original;
    model.setAlbum(m_album.get());
    items.reset(model.mimeData({model.index(0, 0)}));
    dragTo(grid, items.get(), grid->cellRect(2).center());
    shot = grid->viewport()->grab().toImage();
    QVERIFY(highlighted(shot.pixel(grid->cellRect(2).left(), grid->cellRect(2).center().y()), grid));
    QVERIFY(!highlighted(shot.pixel(grid->cellRect(2).right() - 3, grid->cellRect(2).center().y()), grid));
    leave(grid);
}

void TestViews::gridAndTableShareSelectionAndPictures()
{
    // A photo's small picture, through the cache, in the grid.
    testing::picture(m_f->img("img_B_sm.jpg"), {150, 100}, QColor(210, 20, 20));
    ThumbnailCache cache;
    ItemListModel model(&m_f->gallery);
    model.setThumbnails(&cache);
    model.setAlbum(m_album.get());
    ItemListView views;
    views.setModel(&model, ItemListModel::TitleColumn);
    views.resize(640, 400);
    views.show();
    QVERIFY(QTest::qWaitForWindowExposed(&views));
    views.table()->setFocus();
    views.setGridShown(true);
    QVERIFY(views.grid()->hasFocus());
    ItemGridView *grid = views.grid();
    const QRect cell = grid->cellRect(1);
    grid->viewport()->grab();
    QVERIFY(cache.waitForIdle());
    const QImage shot = grid->viewport()->grab().toImage();
    const QRgb centre = shot.pixel(cell.center().x(), cell.top() + 6 + kGridThumbnailSize.height() / 2);
    QVERIFY2(qRed(centre) > 180 && qGreen(centre) < 60, qPrintable(QColor(centre).name()));

    // A click in the grid selects whole rows of the table, and back.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(views.table()->selectionModel()->selectedRows().size(), 1);
    QCOMPARE(views.table()->selectionModel()->selectedRows().first().row(), 1);
    views.setGridShown(false);
    QTest::keyClick(views.table(), Qt::Key_Down);
    views.setGridShown(true);
    QCOMPARE(grid->selectionModel()->selectedRows().first().row(), 2);
    QCOMPARE(grid->currentIndex().row(), 2);

    // Another album shown drops the list's waiting asks, not the album
    // tree's that share the cache.
    QVERIFY(cache.waitForIdle());
    cache.setThreadCount(1);
    const QString first = testing::picture(m_f->img("t1.jpg"), {60, 40});
    const QString row = testing::picture(m_f->img("t2.jpg"), {60, 40});
    const QString album = testing::picture(m_f->img("t3.jpg"), {60, 40});
    cache.thumbnail(first, kTreeThumbnailSize); // being read
    cache.thumbnail(row, kListThumbnailSize);
    cache.thumbnail(album, kTreeThumbnailSize);
    model.setAlbum(nullptr);
    QVERIFY(cache.waitForIdle());
    QCOMPARE(cache.status(row, kListThumbnailSize), ThumbnailCache::Status::Loading);
    QCOMPARE(cache.status(album, kTreeThumbnailSize), ThumbnailCache::Status::Ready);
}

void TestViews::photoViewerPixelForPixelOnScreen()
{
    const QString img = m_f->prefs.imgFolder();
    QVERIFY(picture({640, 480}).save(img + "/n.png", "PNG"));
    QVERIFY(picture({1500, 1200}).save(img + "/l.png", "PNG"));
    QVERIFY(picture({320, 240}).save(img + "/s.png", "PNG"));
    Photo photo;
    photo.setTitle("Harbour");
    photo.setImageFile("n.png");
    PhotoWindowController viewer(&m_f->prefs);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();

    viewer.showLargePhoto(photo); // no large file: nothing happens
    QVERIFY(!viewer.isVisible());
    viewer.showPhoto(photo);
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    QCOMPARE(viewer.windowTitle(), QStringLiteral("Photo - Harbour"));
    QCOMPARE(viewer.size(), QSize(640, 480));
    QVERIFY(!viewer.scrollArea()->horizontalScrollBar()->isVisible());
    const QImage expected = QImage(img + "/n.png").convertToFormat(QImage::Format_RGB32);
    QImage shown = viewer.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), expected.size());
    for (QPoint p : {QPoint(0, 0), QPoint(639, 479), QPoint(319, 239), QPoint(320, 240), QPoint(5, 470)})
        QCOMPARE(shown.pixel(p), expected.pixel(p));

    // Larger than the screen: on it, still 1:1, scrolling.
    photo.setLargeImageFile("l.png");
    viewer.showLargePhoto(photo);
    QCOMPARE(viewer.windowTitle(), QStringLiteral("Photo (large) - Harbour"));
    QVERIFY2(screen.contains(viewer.frameGeometry()), qPrintable(QStringLiteral("%1,%2 %3x%4").arg(viewer.frameGeometry().x()).arg(viewer.frameGeometry().y()).arg(viewer.frameGeometry().width()).arg(viewer.frameGeometry().height())));
    QCOMPARE(viewer.ivPhoto()->size(), QSize(1500, 1200));
    QScrollBar *h = viewer.scrollArea()->horizontalScrollBar();
    QTRY_VERIFY_WITH_TIMEOUT(h->isVisible(), testing::kPatience);
    QCOMPARE(h->maximum(), 1500 - viewer.scrollArea()->viewport()->width());
    const QImage large = QImage(img + "/l.png").convertToFormat(QImage::Format_RGB32);
    shown = viewer.ivPhoto()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (QPoint p : {QPoint(0, 0), QPoint(1499, 1199), QPoint(749, 599)})
        QCOMPARE(shown.pixel(p), large.pixel(p));

    // A smaller one: the lower left corner stays where it was.
    viewer.showPhoto(photo);
    viewer.move(screen.left() + 40, screen.top() + 30);
    const QPoint corner = viewer.frameGeometry().bottomLeft();
    photo.setImageFile("s.png");
    viewer.showPhoto(photo);
    QCOMPARE(viewer.size(), QSize(320, 240));
    QCOMPARE(viewer.frameGeometry().bottomLeft(), corner);
    // And one whose window would reach above the screen is kept on it.
    viewer.move(screen.left() + 40, screen.top());
    photo.setImageFile("n.png");
    viewer.showPhoto(photo);
    QVERIFY(screen.contains(viewer.frameGeometry()));
    QCOMPARE(viewer.size(), QSize(640, 480));
}

void TestViews::preferencesToolbarStays()
{
    PreferencesController prefs(&m_f->prefs);
    prefs.show();
    QVERIFY(QTest::qWaitForWindowExposed(&prefs));
    QToolBar *bar = prefs.toolbar();
    QCOMPARE(bar->actions().size(), 1);
    QCOMPARE(bar->actions().first()->text(), QStringLiteral("General"));
    QCOMPARE(bar->actions().first()->toolTip(), QStringLiteral("General preferences"));
    QVERIFY(!bar->windowTitle().isEmpty());
    QCOMPARE(prefs.createPopupMenu(), nullptr);
    // A right click on it offers no way to hide the only pane switcher.
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5), bar->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(bar, &click);
    QApplication::processEvents();
    QCOMPARE(QApplication::activePopupWidget(), nullptr);
    QVERIFY(bar->isVisible());
    bar->actions().first()->trigger();
    QCOMPARE(prefs.currentTabIdentifier(), QStringLiteral("General"));
}

void TestViews::checkGalleryWindow()
{
    // Planted: one named file missing, two that nothing names.
    const QString img = m_f->prefs.imgFolder();
    QVERIFY(QFile::remove(m_f->img("img_A_sm.jpg")));
    QVERIFY(testing::writeBytes(img + "/stray1.jpg", QByteArray(2048, 's')));
    QVERIFY(testing::writeBytes(img + "/stray2.jpg", "s"));
    QVERIFY(testing::writeBytes(m_f->xml("albums.xml"), "<x/>"));
    QVERIFY(testing::writeBytes(m_f->xml("album_Harbour.xml"), "<x/>"));

    CheckGalleryController window;
    QStringList asked;
    std::function<void()> moved;
    window.setMoveToTrash([&](const QStringList &paths, const std::function<void()> &done) {
        asked = paths;
        m_f->gallery.trashFiles(paths);
        moved = done;
    });
    window.check(m_f->data, m_f->prefs);
    QTRY_VERIFY_WITH_TIMEOUT(!window.isChecking(), testing::kPatience);
    QVERIFY(window.isVisible());
    QCOMPARE(window.tabs()->tabText(0), QStringLiteral("Missing (1)"));
    QCOMPARE(window.tabs()->tabText(1), QStringLiteral("Not Named (2)"));
    QVERIFY(window.lblSummary()->text().contains("1 file the gallery names is missing"));
    QCOMPARE(window.tvMissing()->model()->index(0, 0).data().toString(), QStringLiteral("img_A_sm.jpg"));
    QCOMPARE(window.tvMissing()->model()->index(0, 2).data().toString(), QStringLiteral("photo \u201cA\u201d in \u201cHarbour\u201d"));
    QVERIFY(!window.btnMoveToTrash()->isEnabled());

    // The user picks the larger one (sorted by size, descending) and moves it.
    window.tabs()->setCurrentIndex(1);
    QTreeView *orphans = window.tvOrphans();
    orphans->sortByColumn(2, Qt::DescendingOrder);
    QCOMPARE(orphans->model()->index(0, 0).data().toString(), QStringLiteral("stray1.jpg"));
    QCOMPARE(orphans->model()->index(0, 2).data().toString(), QLocale().formattedDataSize(2048));
    orphans->selectionModel()->select(orphans->model()->index(0, 0),
                                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QVERIFY(window.btnMoveToTrash()->isEnabled());
    QTest::mouseClick(window.btnMoveToTrash(), Qt::LeftButton);
    QCOMPARE(asked, QStringList{img + "/stray1.jpg"});
    // Checked again only once the move has ended.
    QVERIFY(!window.isChecking());
    QCOMPARE(window.tabs()->tabText(1), QStringLiteral("Not Named (2)"));
    QVERIFY(m_f->settled());
    moved();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isChecking(), testing::kPatience);
    QVERIFY(!QFile::exists(img + "/stray1.jpg") && QFile::exists(img + "/stray2.jpg"));
    QCOMPARE(window.tabs()->tabText(1), QStringLiteral("Not Named (1)"));

    // Without a way to the trash the window only shows.
    CheckGalleryController viewOnly;
    viewOnly.check(m_f->data, m_f->prefs);
    QTRY_VERIFY_WITH_TIMEOUT(!viewOnly.isChecking(), testing::kPatience);
    QVERIFY(!viewOnly.btnMoveToTrash()->isVisible());
}

QTEST_MAIN(TestViews)
#include "tst_views.moc"
