// A photographer's daily work in the real main window: what the window
// remembers, finding, ordering, changing many items at once, cut and
// paste, fixing photos, the viewer, the context menus and the marks of
// missing files; each checked on the model, on disk and on screen.

#include "common/GuiHelpers.h"
#include "common/TestFiles.h"
#include "import/ImportPhotosController.h"
#include "import/ImportingPhotosController.h"
#include "mainwindow/AlbumTreeModel.h"
#include "mainwindow/BatchEditController.h"
#include "mainwindow/CheckGalleryController.h"
#include "mainwindow/FileChecks.h"
#include "mainwindow/FindController.h"
#include "mainwindow/ImageWells.h"
#include "mainwindow/ItemGridView.h"
#include "mainwindow/ItemListModel.h"
#include "mainwindow/ItemListView.h"
#include "mainwindow/ItemTableView.h"
#include "mainwindow/MainController.h"
#include "mainwindow/MyImageView.h"
#include "mainwindow/PhotoWindowController.h"
#include "model/Photo.h"
#include "storage/FolderChooser.h"
#include "storage/NewOrvaneFolderController.h"
#include "storage/Resources.h"

#include <QCheckBox>
#include <QComboBox>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolTip>
#include <QTreeView>
#include <QUndoStack>
#include <QtTest>

using namespace qm;
using testing::answerMessageBox;
using testing::readBytes;
using testing::whenShown;

namespace {

QStringList titlesOf(const Album &album)
{
    QStringList t;
    for (const ItemPtr &i : album.items())
        t << i->title();
    return t;
}

// The entries of the context menu a right click at `at` opens.
QStringList contextMenu(QWidget *widget, QPoint at)
{
    auto entries = std::make_shared<QStringList>();
    whenShown<QMenu>([entries](QMenu *menu) {
        for (QAction *a : menu->actions())
            if (!a->isSeparator())
                *entries << a->objectName() + (a->menu() ? a->menu()->objectName() : QString());
        menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, widget->mapToGlobal(at));
    QApplication::sendEvent(widget, &event);
    return *entries;
}

} // namespace

class TestDailyWork : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void theWindowRemembers();
    void menusTitlesAndTheStatusBar();
    void newAndMovedThingsStaySelected();
    void collectionsCountTitlesShowWhole();
    void findFiltersAndJumps();
    void sortCutPasteAndBatchSheets();
    void missingFilesAreMarkedAndNamed();
    void photoFixesAreUndoable();
    void importGivesTheAlbumItsFirstPicture();
    void viewerKeysAndGridKeys();
    void contextMenusEverywhere();

private:
    std::unique_ptr<MainController> open();
    // An album of photos whose three files are real JPEGs, 640 x 480 each
    // in a colour of its own (small 150 x 113, no large).
    Album *album(MainController &w, const QString &title, const QStringList &photos, TreeNode *inside = nullptr);
    QString img(const QString &name) const { return m_gallery + "/img/" + name; }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    QString m_gallery;
    int m_made = 0;
};

void TestDailyWork::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_settings = std::make_unique<QSettings>(m_dir->filePath("settings.ini"), QSettings::IniFormat);
    qputenv("XDG_DATA_HOME", m_dir->filePath("share").toLocal8Bit());
    QString error;
    m_gallery = NewOrvaneFolderController::createGalleryFolder(m_dir->path(), QStringLiteral("Tom & Jerry's Photos"), &error);
    QVERIFY2(!m_gallery.isEmpty(), qPrintable(error));
    m_settings->setValue("OrvaneFolder", m_gallery);
}

void TestDailyWork::cleanup()
{
    testing::cancelPendingWatchers();
    FolderChooser::setFilesOverrideForTesting(nullptr);
}

std::unique_ptr<MainController> TestDailyWork::open()
{
    auto w = std::make_unique<MainController>(m_settings.get());
    w->show();
    [&] { QTRY_VERIFY(w->windowTitle().contains(m_gallery)); }();
    return w;
}

Album *TestDailyWork::album(MainController &w, const QString &title, const QStringList &photos, TreeNode *inside)
{
    const NodePtr node = w.gallery().newAlbum(inside);
    w.gallery().setTitle(node.get(), title);
    QList<ItemPtr> items;
    for (const QString &name : photos) {
        auto p = std::make_shared<Photo>();
        p->setTitle(name);
        const QString base = QStringLiteral("img_t_%1").arg(++m_made);
        p->setImageFile(base + ".jpg");
        p->setSmallImageFile(base + "_sm.jpg");
        QImage picture(640, 480, QImage::Format_RGB32);
        picture.fill(QColor::fromHsv(m_made * 47 % 360, 200, 220));
        QPainter(&picture).fillRect(0, 0, 160, 120, Qt::white); // a corner to tell a turn by
        picture.save(img(p->imageFile()), "JPG", 92);
        picture.scaled(150, 113).save(img(p->smallImageFile()), "JPG", 92);
        items << p;
    }
    w.gallery().addItems(static_cast<Album *>(node.get()), items, {}, "Add");
    [&] { QVERIFY(w.gallery().save().ok()); }();
    return static_cast<Album *>(node.get());
}

void TestDailyWork::theWindowRemembers()
{
    // Never shown before: fitted to the screen (the test screen is smaller than the window's own size).
    auto w = open();
    const QRect screen = w->screen()->availableGeometry();
    QVERIFY2(screen.contains(w->frameGeometry()), qPrintable(QStringLiteral("%1x%2").arg(w->width()).arg(w->height())));
    Album *porto = album(*w, "Porto", {"a", "b"});
    album(*w, "Hike", {"c"});

    // Size and place, both splitters, the album, the grid and its picture size.
    w->resize(770, 540);
    w->splitView()->setSizes({300, 400});
    w->itemSplitView()->setSizes({300, 150});
    w->ovAlbums()->setCurrentIndex(w->treeModel()->indexForNode(porto));
    w->action("miShowAsGrid")->trigger();
    w->sliderThumbnailSize()->setValue(192);
    const QList<int> left = w->splitView()->sizes(), list = w->itemSplitView()->sizes();
    QVERIFY(w->close());
    w.reset();

    w = open();
    QCOMPARE(w->size(), QSize(770, 540));
    QCOMPARE(w->splitView()->sizes(), left);
    QCOMPARE(w->itemSplitView()->sizes(), list);
    QCOMPARE(w->data().selectedAlbum()->title(), QStringLiteral("Porto"));
    QCOMPARE(w->itemModel()->rowCount(), 2);
    QCOMPARE(w->itemViews()->grid()->thumbnailSize(), QSize(192, 192));
    // The grid is on and the menu says so: the first Ctrl+G goes back to the list.
    QVERIFY(w->itemViews()->isGridShown());
    QVERIFY(w->action("miShowAsGrid")->isChecked());
    QTest::keyClick(w.get(), Qt::Key_G, Qt::ControlModifier);
    QVERIFY(!w->itemViews()->isGridShown());
}

void TestDailyWork::menusTitlesAndTheStatusBar()
{
    auto w = open();
    Album *porto = album(*w, "Porto", {"a", "b"});

    // An "&" in a gallery's name is shown, not taken as a mnemonic.
    QMenu *recent = w->findChild<QMenu *>("miOpenRecent");
    emit recent->aboutToShow();
    QStringList shown;
    for (QAction *a : recent->actions())
        shown << (a->isSeparator() ? QStringLiteral("|") : a->iconText());
    QCOMPARE(shown, (QStringList{QDir::toNativeSeparators(m_gallery), "|", "Clear Menu"}));

    // Unsaved changes are marked in the title, until saved.
    QVERIFY(!w->isWindowModified());
    w->gallery().setTitle(porto, "Porto, May");
    QVERIFY(w->isWindowModified() && w->windowTitle().endsWith("[*]"));
    w->action("miSave")->trigger();
    QVERIFY(!w->isWindowModified());

    // The status bar speaks of the undo, not of the deletion it took back.
    w->ovAlbums()->setCurrentIndex(w->treeModel()->indexForNode(porto));
    w->gallery().removeItems(porto, {porto->items().first()});
    QTRY_VERIFY2(w->statusBar()->currentMessage().contains("trash"), qPrintable(w->statusBar()->currentMessage()));
    w->action("miUndo")->trigger();
    QTRY_COMPARE(porto->items().size(), 2);
    QTRY_COMPARE(w->statusBar()->currentMessage(), QStringLiteral("Undone: Delete Photo"));

    // Help speaks of movies, not only of FLV.
    auto help = answerMessageBox();
    w->action("miHelp")->trigger();
    QVERIFY2(help->contains("movies"), qPrintable(*help));
}

void TestDailyWork::newAndMovedThingsStaySelected()
{
    auto w = open();
    Album *porto = album(*w, "Porto", {"a", "b", "c"});
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));

    // A new album is selected with its title open for typing.
    w->action("miNewAlbum")->trigger();
    auto *editor = qobject_cast<QLineEdit *>(QApplication::focusWidget());
    QVERIFY(editor && w->ovAlbums()->isAncestorOf(editor));
    QTest::keyClicks(editor, "Hike");
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(w->data().selectedAlbum()->title(), QStringLiteral("Hike"));

    // F2 with a photo's title open renames the photo, never the album.
    w->ovAlbums()->setCurrentIndex(w->treeModel()->indexForNode(porto));
    const QModelIndex title = w->itemModel()->index(0, ItemListModel::TitleColumn);
    w->tvPhotos()->setFocus();
    w->tvPhotos()->setCurrentIndex(title);
    w->tvPhotos()->edit(title);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F2);
    QVERIFY(w->tvPhotos()->isAncestorOf(QApplication::focusWidget()));
    QVERIFY(!w->ovAlbums()->isAncestorOf(QApplication::focusWidget()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);

    // Items moved within the list stay selected.
    w->tvPhotos()->selectRow(0);
    std::unique_ptr<QMimeData> drag(w->itemModel()->mimeData({w->itemModel()->index(0, 0)}));
    QVERIFY(w->itemModel()->dropMimeData(drag.get(), Qt::MoveAction, 3, 0, {}));
    QCOMPARE(titlesOf(*porto), (QStringList{"b", "c", "a"}));
    QCOMPARE(w->data().selectedItem(), porto->items().last().get());
    // An album moved into a collection stays selected there.
    const NodePtr trips = w->gallery().newCollection(nullptr);
    drag.reset(w->treeModel()->mimeData({w->treeModel()->indexForNode(porto)}));
    QVERIFY(w->treeModel()->dropMimeData(drag.get(), Qt::MoveAction, -1, 0, w->treeModel()->indexForNode(trips.get())));
    QCOMPARE(porto->parentCollection(), trips.get());
    QCOMPARE(w->data().selectedAlbum(), porto);
}

void TestDailyWork::collectionsCountTitlesShowWhole()
{
    auto w = open();
    const NodePtr trips = w->gallery().newCollection(nullptr);
    Album *porto = album(*w, "Porto", {"a", "b"}, trips.get());
    album(*w, "Hike", {"c"}, trips.get());
    const QModelIndex count = w->treeModel()->indexForNode(trips.get(), AlbumTreeModel::NumberColumn);
    QCOMPARE(count.data().toString(), QStringLiteral("3"));
    QCOMPARE(count.data(Qt::ToolTipRole).toString(), QStringLiteral("3 items in 2 albums"));
    QSignalSpy changed(w->treeModel(), &QAbstractItemModel::dataChanged);
    w->gallery().removeItems(porto, {porto->items().first()});
    QTRY_COMPARE(count.data().toString(), QStringLiteral("2"));
    QVERIFY(std::any_of(changed.begin(), changed.end(), [&](const QList<QVariant> &args) {
        return args[0].toModelIndex() == count;
    }));

    // The index column is quieter than the text yet readable: 4.5 to 1 at least.
    auto luminance = [](const QColor &c) {
        auto f = [](qreal v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * f(c.redF()) + 0.7152 * f(c.greenF()) + 0.0722 * f(c.blueF());
    };
    w->ovAlbums()->setCurrentIndex(w->treeModel()->indexForNode(porto));
    const QColor index = w->itemModel()->index(0, ItemListModel::IndexColumn).data(Qt::ForegroundRole).value<QBrush>().color();
    const QColor base = w->tvPhotos()->palette().color(QPalette::Base);
    const qreal a = luminance(index), b = luminance(base);
    QVERIFY2((std::max(a, b) + 0.05) / (std::min(a, b) + 0.05) >= 4.5, qPrintable(index.name()));
    QVERIFY(index != w->tvPhotos()->palette().color(QPalette::Text));

    // A title cut short shows whole in a tooltip; one that fits shows none.
    auto tooltipAt = [&](QAbstractItemView *view, const QModelIndex &i) {
        const QPoint at = view->visualRect(i).center();
        QHelpEvent help(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    const QModelIndex first = w->itemModel()->index(0, ItemListModel::TitleColumn);
    QCOMPARE(tooltipAt(w->tvPhotos(), first), QString());
    const QString longTitle = QStringLiteral("The harbour at dawn, with every boat waiting for the tide to turn");
    w->gallery().setItemField(porto->items().first().get(), ItemField::Title, longTitle);
    QCOMPARE(tooltipAt(w->tvPhotos(), first), longTitle);
    w->action("miShowAsGrid")->trigger();
    QCOMPARE(tooltipAt(w->itemViews()->grid(), first), longTitle);
}

void TestDailyWork::findFiltersAndJumps()
{
    auto w = open();
    const NodePtr trips = w->gallery().newCollection(nullptr);
    Album *porto = album(*w, "Porto", {"Harbour at dawn", "Bridge", "Old town"}, trips.get());
    Album *hike = album(*w, "Hike", {"Summit", "Lake"}, trips.get());
    Album *family = album(*w, "Family", {"Dinner"});
    hike->items()[1]->setDescription("Harbour of the lake boats");
    family->items()[0]->setDate("3 May 2026");
    porto->items()[1]->setDate("2026-05-03");
    w->ovAlbums()->setCurrentIndex(w->treeModel()->indexForNode(family));
    QTreeView *tree = w->ovAlbums();
    const bool tripsOpen = tree->isExpanded(w->treeModel()->indexForNode(trips.get()));
    auto hidden = [&](const TreeNode *n) {
        const QModelIndex i = w->treeModel()->indexForNode(n);
        return tree->isRowHidden(i.row(), i.parent());
    };

    // Typing filters the tree and the list, and shows the first album that holds something.
    QLineEdit *field = w->findController()->field();
    w->action("miFind")->trigger();
    QTest::keyClicks(field, "harbour");
    QTRY_COMPARE(w->findController()->result().text(), QStringLiteral("harbour"));
    QVERIFY(hidden(family) && !hidden(porto) && !hidden(hike) && !hidden(trips.get()));
    QCOMPARE(w->data().selectedAlbum(), porto);
    QVERIFY(!w->tvPhotos()->isRowHidden(0) && w->tvPhotos()->isRowHidden(1) && w->tvPhotos()->isRowHidden(2));
    QVERIFY(w->itemViews()->grid()->isRowHidden(1));
    QVERIFY(w->statusBar()->currentMessage().contains("2 items in 2 albums"));

    // Return goes from one thing found to the next, across albums.
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(w->data().selectedItem(), porto->items()[0].get());
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(w->data().selectedAlbum(), hike);
    QCOMPARE(w->data().selectedItem(), hike->items()[1].get());
    QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(w->data().selectedItem(), porto->items()[0].get());
    // Select All takes what is shown only.
    w->tvPhotos()->selectAll();
    QCOMPARE(w->tvPhotos()->selectionModel()->selectedRows().size(), 1);

    // A date finds the day in every form; an edit that no longer matches drops out.
    field->setText("2026-05-03");
    w->findController()->search();
    QCOMPARE(w->findController()->result().itemCount, 2);
    w->gallery().setItemField(porto->items()[1].get(), ItemField::Date, "2026-05-04");
    QTRY_COMPARE(w->findController()->result().itemCount, 1);

    // Escape shows everything again, the tree opened as before.
    QTest::keyClick(field, Qt::Key_Escape);
    QVERIFY(field->text().isEmpty());
    QVERIFY(!hidden(family));
    QCOMPARE(tree->isExpanded(w->treeModel()->indexForNode(trips.get())), tripsOpen);
    QVERIFY(!w->tvPhotos()->isRowHidden(1));
}

void TestDailyWork::sortCutPasteAndBatchSheets()
{
    auto w = open();
    Album *porto = album(*w, "Porto", {"IMG_10", "PXL_2", "IMG_9"});
    Album *hike = album(*w, "Hike", {"Summit"});
    porto->items()[0]->setDate("2024-05-02");
    porto->items()[1]->setDate("1 May 2024");
    porto->items()[2]->setDate("2024-05-02");
    w->ovAlbums()->setCurrentIndex(w->treeModel()->indexForNode(porto));
    QUndoStack *stack = w->gallery().undoStack();

    // Sorting is one step; the order it is in already is none.
    w->findChild<QAction *>("miSortByTitle")->trigger();
    QCOMPARE(titlesOf(*porto), (QStringList{"IMG_9", "IMG_10", "PXL_2"}));
    QCOMPARE(stack->undoText(), QStringLiteral("Sort by Title"));
    const int steps = stack->count();
    w->findChild<QAction *>("miSortByTitle")->trigger();
    QCOMPARE(stack->count(), steps);
    w->findChild<QAction *>("miSortByDate")->trigger();
    QCOMPARE(titlesOf(*porto), (QStringList{"PXL_2", "IMG_9", "IMG_10"}));

    // Cut two, paste them into the other album after its selected item.
    w->tvPhotos()->selectionModel()->select(QItemSelection(w->itemModel()->index(0, 0), w->itemModel()->index(1, 0)),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    w->tvPhotos()->setFocus();
    w->action("miCut")->trigger();
    w->ovAlbums()->setCurrentIndex(w->treeModel()->indexForNode(hike));
    w->tvPhotos()->selectRow(0);
    w->action("miPaste")->trigger();
    QCOMPARE(titlesOf(*hike), (QStringList{"Summit", "PXL_2", "IMG_9"}));
    QCOMPARE(titlesOf(*porto), (QStringList{"IMG_10"}));
    QCOMPARE(w->tvPhotos()->selectionModel()->selectedRows().size(), 2);
    QVERIFY(!w->action("miPaste")->isEnabled());
    w->action("miUndo")->trigger();
    QCOMPARE(titlesOf(*porto), (QStringList{"PXL_2", "IMG_9", "IMG_10"}));

    // The sheets, each one step on the selected items.
    w->ovAlbums()->setCurrentIndex(w->treeModel()->indexForNode(porto));
    w->tvPhotos()->selectAll();
    BatchEditController *batch = w->batchEditController();
    auto shown = whenShown<QDialog>([batch](QDialog *) {
        // Typing in a field sets it; Return changes.
        batch->txtField(2)->setFocus();
        QTest::keyClicks(batch->txtField(2), "Porto");
        QVERIFY(batch->chkField(2)->isChecked());
        QTest::keyClick(batch->txtField(2), Qt::Key_Return);
    }, [](QDialog *d) { return d->objectName() == "pnlChangeItems"; });
    w->action("miChangeItems")->trigger();
    QTRY_VERIFY(*shown);
    QCOMPARE(stack->undoText(), QStringLiteral("Change 3 Photos"));
    QVERIFY(std::all_of(porto->items().begin(), porto->items().end(), [](const ItemPtr &i) { return i->location() == "Porto"; }));

    porto->items()[2]->setDate("sometime");
    shown = whenShown<QDialog>([batch](QDialog *d) {
        batch->spinDays()->setValue(1);
        QVERIFY(batch->lblShiftPreview()->text().contains(QStringLiteral("\u201c1 May 2024\u201d becomes \u201c2 May 2024\u201d")));
        d->accept();
    }, [](QDialog *d) { return d->objectName() == "pnlShiftDates"; });
    w->action("miShiftDates")->trigger();
    QTRY_VERIFY(*shown);
    QCOMPARE(porto->items()[0]->date(), QStringLiteral("2 May 2024"));
    QCOMPARE(porto->items()[1]->date(), QStringLiteral("2024-05-03"));
    QCOMPARE(porto->items()[2]->date(), QStringLiteral("sometime"));
    QVERIFY(w->statusBar()->currentMessage().contains("1 date could not be read"));

    shown = whenShown<QDialog>([batch](QDialog *d) {
        batch->txtPattern()->setText("Porto ##");
        QCOMPARE(batch->lblNumberPreview()->text(), QStringLiteral("Porto 01, Porto 02, \u2026, Porto 03"));
        d->accept();
    }, [](QDialog *d) { return d->objectName() == "pnlNumberTitles"; });
    w->action("miNumberTitles")->trigger();
    QTRY_VERIFY(*shown);
    QCOMPARE(titlesOf(*porto), (QStringList{"Porto 01", "Porto 02", "Porto 03"}));
    w->action("miUndo")->trigger();
    QCOMPARE(titlesOf(*porto), (QStringList{"PXL_2", "IMG_9", "IMG_10"}));
}

void TestDailyWork::missingFilesAreMarkedAndNamed()
{
    auto w = open();
    Album *porto = album(*w, "Porto", {"a", "b"});
    auto *gone = static_cast<Photo *>(porto->items()[1].get());
    QVERIFY(QFile::remove(img(gone->imageFile())));
    w->ovAlbums()->setCurrentIndex(w->treeModel()->indexForNode(porto));

    // The list marks the photo once its files were looked at, and says which.
    const QModelIndex title = w->itemModel()->index(1, ItemListModel::TitleColumn);
    title.data(Qt::ToolTipRole);
    QVERIFY(w->fileChecks()->waitForIdle());
    QCOMPARE(title.data(Qt::ToolTipRole).toString(), QStringLiteral("Missing: %1 (normal size)").arg(gone->imageFile()));
    QVERIFY(title.data(MissingFilesRole).isValid());
    QVERIFY(!w->itemModel()->index(1, ItemListModel::KindColumn).data(Qt::DecorationRole).value<QIcon>().isNull());
    QVERIFY(!w->itemModel()->index(0, ItemListModel::TitleColumn).data(MissingFilesRole).isValid());

    // The details say so, and showing it names the file instead of doing nothing.
    w->tvPhotos()->selectRow(1);
    QVERIFY2(!w->lblImageSize()->text().contains("0 x 0"), qPrintable(w->lblImageSize()->text()));
    auto message = answerMessageBox();
    w->action("miShowPhoto")->trigger();
    QTRY_VERIFY(message->contains(gone->imageFile()));

    // Check Gallery's missing file leads to the photo that names it.
    w->action("miSave")->trigger();
    w->ovAlbums()->selectionModel()->clearSelection();
    w->action("miCheckGallery")->trigger();
    CheckGalleryController *check = w->checkGalleryController();
    QTRY_VERIFY(!check->isChecking() && check->tvMissing()->model()->rowCount() == 1);
    const QModelIndex row = check->tvMissing()->model()->index(0, 0);
    check->tvMissing()->setCurrentIndex(row);
    emit check->tvMissing()->activated(row);
    QCOMPARE(w->data().selectedAlbum(), porto);
    QCOMPARE(w->data().selectedItem(), gone);
    check->close();
}

void TestDailyWork::photoFixesAreUndoable()
{
    auto w = open();
    Album *porto = album(*w, "Porto", {"a", "b"});
    w->ovAlbums()->setCurrentIndex(w->treeModel()->indexForNode(porto));
    auto *a = static_cast<Photo *>(porto->items()[0].get());
    const QString oldNormal = a->imageFile();
    const QByteArray oldBytes = readBytes(img(oldNormal));

    // Turned right: both files, upright in their pixels, one step.
    w->tvPhotos()->selectRow(0);
    w->action("miRotateRight")->trigger();
    QTRY_VERIFY(a->imageFile() != oldNormal);
    QVERIFY2(w->statusBar()->currentMessage().contains("1 photo turned; in 1, a few pixels at one edge were left out"),
             qPrintable(w->statusBar()->currentMessage()));
    QCOMPARE(QImageReader(img(a->imageFile())).size(), QSize(480, 640));
    QVERIFY(qGray(QImage(img(a->imageFile())).pixel(470, 10)) > 230); // the white corner, top right now
    // 113 rows are not whole blocks: the last are left out rather than the picture re-encoded.
    QCOMPARE(QImageReader(img(a->smallImageFile())).size(), QSize(112, 150));
    QVERIFY(!QFile::exists(img(oldNormal)));
    QCOMPARE(w->gallery().undoStack()->undoText(), QStringLiteral("Rotate Photo Right"));
    w->action("miUndo")->trigger();
    QTRY_COMPARE(a->imageFile(), oldNormal);
    QCOMPARE(readBytes(img(oldNormal)), oldBytes);

    // Replaced from another file: its texts and place stay.
    a->setLocation("Porto");
    const QString source = m_dir->filePath("new.png");
    QImage(1200, 800, QImage::Format_RGB32).save(source);
    FolderChooser::setFilesOverrideForTesting([source](const QString &) { return QStringList{source}; });
    w->tvPhotos()->selectRow(0);
    auto sheet = whenShown<ImportPhotosController>([](ImportPhotosController *d) {
        QCOMPARE(d->windowTitle(), QStringLiteral("Replace Picture"));
        d->txtWidth()->setText("300");
        d->txtHeight()->setText("300");
        d->chkCreateLarge()->setChecked(true);
        d->txtLargeWidth()->setText("1000");
        d->txtLargeHeight()->setText("1000");
        QTest::mouseClick(d->btnImport(), Qt::LeftButton);
    });
    w->action("miReplacePicture")->trigger();
    QTRY_VERIFY(*sheet);
    QTRY_VERIFY(a->imageFile() != oldNormal);
    QCOMPARE(porto->items()[0].get(), a);
    QCOMPARE(a->location(), QStringLiteral("Porto"));
    QCOMPARE(QImageReader(img(a->imageFile())).size(), QSize(300, 200));
    QCOMPARE(QImageReader(img(a->largeImageFile())).size(), QSize(1000, 666));
    QVERIFY(!w->importPhotosController()->isVisible());
    QCOMPARE(w->importPhotosController()->windowTitle(), QStringLiteral("Import Photos"));

    // The album's sizes made again: from the large file where there is one, said where there is not.
    auto *b = static_cast<Photo *>(porto->items()[1].get());
    auto notes = answerMessageBox();
    sheet = whenShown<ImportPhotosController>([](ImportPhotosController *d) {
        auto *scope = d->findChild<QComboBox *>("cmbScope");
        scope->setCurrentIndex(scope->findData(1));
        d->txtWidth()->setText("800");
        d->txtHeight()->setText("800");
        d->chkCreateLarge()->setChecked(false);
        QTest::mouseClick(d->btnImport(), Qt::LeftButton);
    });
    w->action("miMakeSizesAgain")->trigger();
    QTRY_VERIFY(*sheet);
    QTRY_VERIFY(notes->contains(b->title()) || notes->contains("640 x 480"));
    QCOMPARE(QImageReader(img(a->imageFile())).size(), QSize(800, 532)); // from its 1000 x 666 large file
    QCOMPARE(QImageReader(img(b->imageFile())).size(), QSize(640, 480)); // no larger file than that
    QVERIFY(a->largeImageFile().isEmpty());
    QCOMPARE(w->gallery().undoStack()->undoText(), QStringLiteral("Make 2 Photos Again"));
    w->action("miUndo")->trigger();
    QTRY_COMPARE(QImageReader(img(a->imageFile())).size(), QSize(300, 200));
    QVERIFY(QFile::exists(img(a->largeImageFile())));
}

void TestDailyWork::importGivesTheAlbumItsFirstPicture()
{
    auto w = open();
    w->action("miNewCollection")->trigger();
    w->action("miNewAlbum")->trigger(); // inside the new collection
    Album *fresh = w->data().selectedAlbum();
    QVERIFY(fresh && fresh->parentCollection());
    QCOMPARE(readBytes(img(fresh->thumbFile())), readBytes(resourcePath("albumthumb.jpg")));

    // Camera dates on: the photos come in the order they were taken.
    QStringList files;
    const QStringList taken{"2024:05:03 10:00:00", "2024:05:01 09:00:00", "2024:05:02 08:00:00"};
    for (int i = 0; i < 3; ++i) {
        files << m_dir->filePath(QStringLiteral("IMG_%1.jpg").arg(i));
        QImage picture(300, 200, QImage::Format_RGB32);
        picture.fill(QColor::fromHsv(i * 100, 200, 200));
        picture.save(files.last());
        QCOMPARE(QProcess::execute("exiftool", {"-q", "-overwrite_original", "-DateTimeOriginal=" + taken[i], files.last()}), 0);
    }
    int finished = 0;
    connect(w->importingPhotosController(), &ImportingPhotosController::importFinished, this, [&finished] { ++finished; });
    auto shown = whenShown<ImportPhotosController>([](ImportPhotosController *d) {
        d->chkCameraDates()->setChecked(true);
        QTest::mouseClick(d->btnImport(), Qt::LeftButton);
    });
    w->importPhotos(files, fresh);
    QTRY_VERIFY(*shown);
    QTRY_COMPARE_WITH_TIMEOUT(finished, 1, 30000);
    QCOMPARE(titlesOf(*fresh), (QStringList{"IMG_1", "IMG_2", "IMG_0"}));

    // The album and its collection show the first photo now, in the import's step.
    const QImage thumb(img(fresh->thumbFile()));
    QCOMPARE(thumb.size(), QSize(60, 40));
    QVERIFY(std::abs(QColor(thumb.pixel(30, 20)).hue() - 100) < 15);
    QCOMPARE(readBytes(img(fresh->parentCollection()->thumbFile())), readBytes(img(fresh->thumbFile())));
    QCOMPARE(w->gallery().undoStack()->undoText(), QStringLiteral("Import 3 Photos"));
    w->action("miUndo")->trigger();
    QTRY_VERIFY(fresh->items().isEmpty());
    QCOMPARE(readBytes(img(fresh->thumbFile())), readBytes(resourcePath("albumthumb.jpg")));

    // "Use as Album Thumbnail" on a photo of another album.
    Album *porto = album(*w, "Porto", {"a"});
    w->ovAlbums()->setCurrentIndex(w->treeModel()->indexForNode(porto));
    w->tvPhotos()->selectRow(0);
    w->action("miUseAsAlbumThumb")->trigger();
    QTRY_COMPARE(QImageReader(img(porto->thumbFile())).size(), QSize(53, 40));
    QTRY_COMPARE(w->ivAlbumThumb()->image().size(), QSize(53, 40));
}

void TestDailyWork::viewerKeysAndGridKeys()
{
    auto w = open();
    QStringList names;
    for (int i = 0; i < 40; ++i)
        names << QStringLiteral("p%1").arg(i);
    Album *porto = album(*w, "Porto", names);
    w->ovAlbums()->setCurrentIndex(w->treeModel()->indexForNode(porto));
    w->sliderThumbnailSize()->setValue(64);

    // PageDown in the grid moves by the rows it shows, whole.
    w->action("miShowAsGrid")->trigger();
    ItemGridView *grid = w->itemViews()->grid();
    grid->setFocus();
    grid->setCurrentIndex(w->itemModel()->index(0, ItemListModel::TitleColumn));
    const int perRow = grid->viewport()->width() / grid->gridSize().width();
    const int rows = grid->viewport()->height() / grid->gridSize().height();
    QVERIFY(rows >= 1 && perRow >= 2);
    QTest::keyClick(grid->viewport(), Qt::Key_PageDown);
    QCOMPARE(grid->currentIndex().row(), perRow * rows);

    // Return on a picture opens it; the keys of the viewer.
    QTest::keyClick(grid->viewport(), Qt::Key_Return);
    PhotoWindowController *viewer = w->photoWindowController();
    QTRY_VERIFY(viewer->isVisible());
    QTRY_VERIFY((viewer->activateWindow(), viewer->isActiveWindow()));
    QCOMPARE(viewer->windowTitle(), QStringLiteral("Photo - p%1").arg(perRow * rows));
    QTest::keyClick(viewer, Qt::Key_Right);
    QCOMPARE(viewer->windowTitle(), QStringLiteral("Photo - p%1").arg(perRow * rows + 1));
    QCOMPARE(w->data().selectedItem(), porto->items()[perRow * rows + 1].get());
    QTest::keyClick(viewer, Qt::Key_Left);
    QTest::keyClick(viewer, Qt::Key_Left);
    QCOMPARE(viewer->windowTitle(), QStringLiteral("Photo - p%1").arg(perRow * rows - 1));
    QTest::keyClick(viewer, Qt::Key_Minus);
    QVERIFY(viewer->zoom() < 1);
    QCOMPARE(viewer->ivPhoto()->size(), (QSizeF(640, 480) * viewer->zoom()).toSize());
    QVERIFY(viewer->windowTitle().endsWith("(80%)"));
    QTest::keyClick(viewer, Qt::Key_1);
    QCOMPARE(viewer->ivPhoto()->size(), QSize(640, 480));
    viewer->resize(320, 240);
    QTest::keyClick(viewer, Qt::Key_F);
    QVERIFY(viewer->fitsWindow());
    QVERIFY(viewer->ivPhoto()->width() <= 320 && viewer->ivPhoto()->height() <= 240);
    QTest::keyClick(viewer, Qt::Key_F11);
    QTRY_VERIFY(viewer->isFullScreen());
    QTest::keyClick(viewer, Qt::Key_Escape); // out of the full screen first
    QTRY_VERIFY(!viewer->isFullScreen());
    QVERIFY(viewer->isVisible());
    QTest::keyClick(viewer, Qt::Key_Escape);
    QVERIFY(!viewer->isVisible());
    QTest::keyClick(grid->viewport(), Qt::Key_Return);
    QTRY_VERIFY(viewer->isVisible());
    QTRY_VERIFY((viewer->activateWindow(), viewer->isActiveWindow()));
    QTest::keyClick(viewer, Qt::Key_W, Qt::ControlModifier);
    QVERIFY(!viewer->isVisible());
}

void TestDailyWork::contextMenusEverywhere()
{
    auto w = open();
    Album *porto = album(*w, "Porto", {"a"});
    w->ovAlbums()->setCurrentIndex(w->treeModel()->indexForNode(porto));
    w->tvPhotos()->selectRow(0);
    const QPoint row = w->ovAlbums()->visualRect(w->treeModel()->indexForNode(porto)).center();
    QVERIFY(contextMenu(w->ovAlbums()->viewport(), row).contains("miNewAlbum"));
    QVERIFY(contextMenu(w->ovAlbums()->viewport(), row).contains("miSortAlbum"));
    const QStringList list = contextMenu(w->tvPhotos()->viewport(), w->tvPhotos()->visualRect(w->itemModel()->index(0, 1)).center());
    for (const char *entry : {"miShowPhoto", "miCut", "miChangeItems", "miRotateLeft", "miUseAsAlbumThumb", "miDelete"})
        QVERIFY2(list.contains(entry), entry);
    w->action("miShowAsGrid")->trigger();
    QVERIFY(contextMenu(w->itemViews()->grid()->viewport(), {20, 20}).contains("miRotateRight"));
    QVERIFY(contextMenu(w->ivAlbumThumb(), {5, 5}).contains("miChangeAlbumThumb"));
    QVERIFY(contextMenu(w->ivPhoto(), {5, 5}).contains("miShowPhoto"));
    QCOMPARE(contextMenu(w->ivTrash(), {5, 5}), QStringList{"miDelete"});
}

QTEST_MAIN(TestDailyWork)
#include "tst_dailywork.moc"
