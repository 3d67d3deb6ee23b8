// The daily work on many items: cut and paste between albums, the batch
// sheets, find, sorting, the fixes of photos; the context menus; and what
// the window remembers from one start to the next.

#include "import/ImportPhotosController.h"
#include "import/ImportingPhotosController.h"
#include "import/PhotoFixes.h"
#include "edit/BatchEdit.h"
#include "mainwindow/AlbumTreeModel.h"
#include "mainwindow/BatchEditController.h"
#include "mainwindow/FindController.h"
#include "mainwindow/ImageWells.h"
#include "mainwindow/ItemDetailPanel.h"
#include "mainwindow/ItemGridView.h"
#include "mainwindow/ItemListModel.h"
#include "mainwindow/ItemListView.h"
#include "mainwindow/ItemTableView.h"
#include "mainwindow/MainController.h"
#include "mainwindow/NodeThumbnail.h"
#include "mainwindow/PhotoWindowController.h"
#include "model/Photo.h"
#include "model/Video.h"
#include "storage/Common.h"
#include "storage/FolderChooser.h"
#include "storage/GalleryTrash.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QSlider>
#include <QSplitter>
#include <QStatusBar>
#include <QTreeView>

namespace qm {

namespace {

// A node's place in the tree as row numbers from the top ("0/3/2").
QString placeOf(const Data &data, const TreeNode *node)
{
    QStringList rows;
    for (const TreeNode *n = node; n; n = n->parentCollection()) {
        const QList<NodePtr> &siblings = const_cast<Data &>(data).siblingsOf(n);
        rows.prepend(QString::number(indexOfNode(siblings, n)));
    }
    return rows.join(QLatin1Char('/'));
}

TreeNode *nodeAt(const Data &data, const QString &place)
{
    const QList<NodePtr> *list = &data.albums();
    TreeNode *node = nullptr;
    for (const QString &part : place.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int row = part.toInt(&ok);
        if (!ok || !list || row < 0 || row >= list->size())
            return nullptr;
        node = list->at(row).get();
        list = node->isCollection() ? &static_cast<AlbumCollection *>(node)->items() : nullptr;
    }
    return node;
}

// Whether an item names the file, by any of its names.
bool names(const Item &item, const QString &file)
{
    if (item.isPhoto()) {
        const auto &p = static_cast<const Photo &>(item);
        return p.imageFile() == file || p.smallImageFile() == file || p.largeImageFile() == file;
    }
    const auto &v = static_cast<const Video &>(item);
    if (v.thumbFile() == file)
        return true;
    return std::any_of(v.streams().begin(), v.streams().end(), [&](const StreamPtr &s) { return s->file() == file; });
}

} // namespace

QList<ItemPtr> MainController::selectedItems() const
{
    QList<int> rows;
    for (const QModelIndex &i : m_tvPhotos->selectionModel()->selectedRows())
        if (!m_tvPhotos->isRowHidden(i.row()))
            rows << i.row();
    std::sort(rows.begin(), rows.end());
    QList<ItemPtr> items;
    for (int row : rows)
        if (ItemPtr item = m_itemModel->itemPtrAt(row))
            items << item;
    return items;
}

QList<ItemPtr> MainController::selectedPhotos() const
{
    QList<ItemPtr> photos = selectedItems();
    photos.removeIf([](const ItemPtr &i) { return !i->isPhoto(); });
    return photos;
}

void MainController::selectItems(const QList<ItemPtr> &items)
{
    const Album *album = m_itemModel->album();
    if (!album)
        return;
    QItemSelection selection;
    QModelIndex first;
    for (const ItemPtr &item : items) {
        const int row = album->indexOfItem(item.get());
        if (row < 0)
            continue;
        const QModelIndex index = m_itemModel->index(row, ItemListModel::TitleColumn);
        selection.select(index, index);
        if (!first.isValid())
            first = index;
    }
    QItemSelectionModel *model = m_tvPhotos->selectionModel();
    model->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (first.isValid()) {
        model->setCurrentIndex(first, QItemSelectionModel::NoUpdate);
        m_itemViews->currentView()->scrollTo(first);
    }
}

void MainController::updateEditCommands()
{
    // Each of these changes the gallery: none with one open read-only.
    const bool open = !m_prefs.orvaneFolder().isEmpty() && m_windowWasKey && !m_gallery.isReadOnly();
    const QList<ItemPtr> items = selectedItems();
    const int photos = int(std::count_if(items.begin(), items.end(), [](const ItemPtr &i) { return i->isPhoto(); }));
    const Album *album = data().selectedAlbum();
    const bool cut = std::any_of(m_cut.begin(), m_cut.end(), [](const std::weak_ptr<Item> &i) { return !i.expired(); });
    action(QStringLiteral("miCut"))->setEnabled(open && !items.isEmpty());
    action(QStringLiteral("miPaste"))->setEnabled(open && album && cut);
    for (const char *name : {"miChangeItems", "miShiftDates", "miNumberTitles"})
        action(QLatin1String(name))->setEnabled(open && !items.isEmpty());
    for (const char *name : {"miFindNext", "miFindPrevious"})
        action(QLatin1String(name))->setEnabled(m_find->isActive() && !m_find->result().hits.isEmpty());
    if (auto *sort = findChild<QMenu *>(QStringLiteral("miSortAlbum")))
        sort->menuAction()->setEnabled(open && album && album->items().size() > 1);
    action(QStringLiteral("miRotateLeft"))->setEnabled(open && photos > 0);
    action(QStringLiteral("miRotateRight"))->setEnabled(open && photos > 0);
    action(QStringLiteral("miUseAsAlbumThumb"))->setEnabled(open && album && items.size() == 1);
    action(QStringLiteral("miReplacePicture"))->setEnabled(open && items.size() == 1 && photos == 1);
    action(QStringLiteral("miMakeSizesAgain"))->setEnabled(open);
}

void MainController::clickedCut()
{
    const QList<ItemPtr> items = selectedItems();
    if (items.isEmpty())
        return;
    m_cut.clear();
    for (const ItemPtr &item : items)
        m_cut << item;
    m_cutFrom = data().selectedAlbum()->shared_from_this();
    statusBar()->showMessage(tr("%1 cut: choose the album they go to and paste them there (Ctrl+V).")
                                 .arg(counted(int(items.size()), "item", "items")),
                             8000);
    updateCommands();
}

void MainController::clickedPaste()
{
    Album *to = data().selectedAlbum();
    const auto fromNode = std::static_pointer_cast<Album>(m_cutFrom.lock());
    if (!to || m_cut.isEmpty() || m_gallery.isBusy())
        return;
    // Only what is still where it was cut from goes.
    QList<ItemPtr> items;
    for (const std::weak_ptr<Item> &weak : std::as_const(m_cut))
        if (ItemPtr item = weak.lock(); item && fromNode && fromNode->indexOfItem(item.get()) >= 0)
            items << item;
    if (items.isEmpty() || !fromNode || !data().findNode(fromNode->id())) {
        m_cut.clear();
        statusBar()->showMessage(tr("The items cut are no longer where they were."), 8000);
        updateCommands();
        return;
    }
    // After the selected items, or at the end.
    const QList<ItemPtr> selected = selectedItems();
    int row = selected.isEmpty() ? int(to->items().size()) : to->indexOfItem(selected.last().get()) + 1;
    if (fromNode.get() == to)
        m_gallery.reorderItems(to, items, row);
    else
        m_gallery.moveItems(fromNode.get(), items, to, row);
    m_cut.clear();
    selectItems(items);
    updateCommands();
}

void MainController::clickedChangeItems()
{
    commitEditors();
    m_batch->changeItems(selectedItems());
}

void MainController::clickedShiftDates()
{
    commitEditors();
    m_batch->shiftDates(selectedItems());
}

void MainController::clickedNumberTitles()
{
    commitEditors();
    m_batch->numberTitles(selectedItems());
}

void MainController::clickedFind()
{
    m_find->field()->setFocus(Qt::ShortcutFocusReason);
    m_find->field()->selectAll();
}

void MainController::clickedSortBy(SortKey key)
{
    Album *album = data().selectedAlbum();
    if (!album || m_gallery.isBusy())
        return;
    commitEditors();
    const QList<ItemPtr> selected = selectedItems();
    QStringList dates;
    for (const ItemPtr &item : album->items())
        dates << item->date();
    const QList<ItemPtr> order = sortedItems(album->items(), key, dateHint(data(), dates));
    if (m_gallery.setItemOrder(album, order, tr("Sort by %1").arg(sortKeyName(key))))
        selectItems(selected);
    else
        statusBar()->showMessage(tr("\u201c%1\u201d is in that order already.").arg(album->title()), 8000);
}

void MainController::picturesChanged(const Gallery::PictureReport &report, const QString &what, const QString &notes)
{
    QString text = tr("%1 %2").arg(counted(report.changed, "photo", "photos"), what);
    // A note of every photo in passing; a note worth a look in a window.
    if (!report.notes.isEmpty() && !notes.isEmpty())
        text += QStringLiteral("; ") + notes.arg(report.notes.size());
    text += QLatin1Char('.');
    if (report.stopped)
        text += QLatin1Char(' ') + tr("Stopped: the others are as they were.");
    statusBar()->showMessage(text, 10000);
    if (!report.problems.isEmpty())
        showProblems(tr("%1 could not be done:").arg(counted(int(report.problems.size()), "photo", "photos")),
                     report.problems);
    if (!report.notes.isEmpty() && notes.isEmpty())
        showProblems(tr("Done, with something to know about %1:").arg(counted(int(report.notes.size()), "photo", "photos")),
                     report.notes);
}

void MainController::clickedRotate(int quarterTurns)
{
    const QList<ItemPtr> photos = selectedPhotos();
    if (photos.isEmpty() || m_gallery.isBusy())
        return;
    const QString text = photos.size() == 1 ? (quarterTurns > 0 ? tr("Rotate Photo Right") : tr("Rotate Photo Left"))
                                            : (quarterTurns > 0 ? tr("Rotate %1 Photos Right") : tr("Rotate %1 Photos Left"))
                                                  .arg(photos.size());
    m_gallery.changePictures(photos, text, PhotoFixes::turn(quarterTurns), [this](const Gallery::PictureReport &r) {
        picturesChanged(r, tr("turned"), tr("in %1, a few pixels at one edge were left out to keep the turn lossless"));
    });
}

void MainController::clickedUseAsAlbumThumb()
{
    Album *album = data().selectedAlbum();
    const QList<ItemPtr> items = selectedItems();
    if (!album || items.size() != 1)
        return;
    const Item &item = *items.first();
    const QString source = m_prefs.imgPath(item.isPhoto() ? static_cast<const Photo &>(item).imageFile()
                                                          : static_cast<const Video &>(item).thumbFile());
    const QString title = item.title();
    auto told = [this, title, album = album->shared_from_this()](const WriteResult &made) {
        if (made)
            statusBar()->showMessage(tr("\u201c%1\u201d is the thumbnail of \u201c%2\u201d now.").arg(title, album->title()), 8000);
        else
            showError(tr("No thumbnail could be made from \u201c%1\u201d.").arg(title),
                      QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(made.path), made.reason));
    };
    // The picture is read off the GUI thread.
    if (source.isNull())
        told(WriteResult{QString(), tr("it has no picture")});
    else
        makeNodeThumbnail(m_gallery, album->shared_from_this(), source, this, told);
}

void MainController::clickedReplacePicture()
{
    const QList<ItemPtr> photos = selectedPhotos();
    if (photos.size() != 1 || m_gallery.isBusy())
        return;
    const ItemPtr photo = photos.first();
    const QStringList files = FolderChooser::chooseFiles(
        this, tr("Replace the Picture of \u201c%1\u201d").arg(photo->title()),
        tr("Pictures (*.jpg *.jpeg *.png *.tif *.tiff *.JPG *.JPEG *.PNG *.TIF *.TIFF)"));
    if (files.size() != 1 || !Common::isValidImageFile(files.first()))
        return;
    const QString source = files.first();
    // The import's sizes and copyright line, settled in its sheet.
    m_ctlImportPhotos->openFor(tr("Replace Picture"), tr("Replace"),
                               tr("The new picture of \u201c%1\u201d; its texts and place stay:").arg(photo->title()),
                               {QFileInfo(source).fileName()}, [this, photo, source](const PhotoImportRequest &r) {
                                   m_gallery.changePictures({photo}, tr("Replace Picture"),
                                                            PhotoFixes::replace(source, importSettings(r)),
                                                            [this](const Gallery::PictureReport &report) {
                                                                picturesChanged(report, tr("given a new picture"));
                                                            });
                               });
}

void MainController::clickedMakeSizesAgain()
{
    if (m_prefs.orvaneFolder().isEmpty() || m_gallery.isBusy())
        return;
    // Which photos: the selected ones, the album's, or the whole gallery's.
    auto *scope = new QComboBox;
    scope->setObjectName(QStringLiteral("cmbScope"));
    scope->setAccessibleName(tr("Photos to make again"));
    const QList<ItemPtr> selected = selectedPhotos();
    if (!selected.isEmpty())
        scope->addItem(tr("The selected %1").arg(counted(int(selected.size()), "photo", "photos")), 0);
    if (const Album *album = data().selectedAlbum())
        scope->addItem(tr("The photos of \u201c%1\u201d").arg(album->title()), 1);
    scope->addItem(tr("Every photo of the gallery"), 2);
    const std::weak_ptr<TreeNode> album = data().selectedAlbum() ? data().selectedAlbum()->shared_from_this() : nullptr;
    m_ctlImportPhotos->openFor(
        tr("Make Sizes Again"), tr("Make"),
        tr("Each photo is made again from its largest file (the large one where it has one):"), {},
        [this, scope, selected, album](const PhotoImportRequest &r) {
            QList<ItemPtr> photos;
            const int which = scope->currentData().toInt();
            if (which == 0)
                photos = selected;
            data().forEachNode([&](const NodePtr &n) {
                if (n->isAlbum() && (which == 2 || (which == 1 && n == album.lock())))
                    for (const ItemPtr &i : static_cast<const Album &>(*n).items())
                        if (i->isPhoto())
                            photos << i;
                return true;
            });
            m_gallery.changePictures(photos, tr("Make %1 Again").arg(counted(int(photos.size()), "Photo", "Photos")),
                                     PhotoFixes::remake(importSettings(r)),
                                     [this](const Gallery::PictureReport &report) { picturesChanged(report, tr("made again")); });
        },
        scope);
}

void MainController::showNextPhoto(int step)
{
    const QList<ItemPtr> items = selectedItems();
    const Album *album = m_itemModel->album();
    if (!album || items.size() != 1)
        return;
    for (int row = album->indexOfItem(items.first().get()) + step; row >= 0 && row < album->items().size(); row += step) {
        const ItemPtr &item = album->items().at(row);
        if (!item->isPhoto() || m_tvPhotos->isRowHidden(row))
            continue;
        selectItems({item});
        const auto &photo = static_cast<const Photo &>(*item);
        if (m_ctlPhotoWindow->showsLarge() && !photo.largeImageFile().isEmpty())
            m_ctlPhotoWindow->showLargePhoto(photo);
        else
            m_ctlPhotoWindow->showPhoto(photo);
        return;
    }
    statusBar()->showMessage(step > 0 ? tr("That was the last photo of the album.") : tr("That was the first photo of the album."),
                             4000);
}

bool MainController::showItemNaming(const QString &fileName)
{
    TreeNode *found = nullptr;
    ItemPtr item;
    data().forEachNode([&](const NodePtr &n) {
        if (n->thumbFile() == fileName || (n->isAlbum() && static_cast<Album &>(*n).XMLFile() == fileName))
            found = n.get();
        if (n->isAlbum())
            for (const ItemPtr &i : static_cast<const Album &>(*n).items())
                if (!found && names(*i, fileName)) {
                    found = n.get();
                    item = i;
                }
        return !found;
    });
    if (!found)
        return false;
    m_find->clear();
    const QModelIndex index = m_treeModel->indexForNode(found);
    m_ovAlbums->expand(index.parent());
    m_ovAlbums->setCurrentIndex(index);
    m_ovAlbums->scrollTo(index);
    if (item) {
        selectItems({item});
        m_itemViews->currentView()->setFocus();
    }
    return true;
}

void MainController::buildContextMenus()
{
    auto menuOn = [this](QWidget *widget, const QStringList &entries) {
        widget->setContextMenuPolicy(Qt::CustomContextMenu);
        // A scroll area reports the place in its viewport.
        auto *area = qobject_cast<QAbstractScrollArea *>(widget);
        QWidget *origin = area ? area->viewport() : widget;
        connect(widget, &QWidget::customContextMenuRequested, this, [this, origin, entries](QPoint at) {
            QMenu menu(this);
            menu.setObjectName(QStringLiteral("contextMenu"));
            for (const QString &name : entries) {
                if (name.isEmpty())
                    menu.addSeparator();
                else if (QAction *a = action(name))
                    menu.addAction(a);
                else if (auto *sub = findChild<QMenu *>(name))
                    menu.addMenu(sub);
            }
            updateCommands();
            menu.exec(origin->mapToGlobal(at));
        });
    };
    menuOn(m_ovAlbums, {"miNewAlbum", "miNewCollection", "", "miRename", "miDelete", "", "miChangeAlbumThumb",
                                    "miSortAlbum", "", "miImportPhotos", "miImportVideo", "", "miPaste"});
    const QStringList items{"miShowPhoto", "miShowLargePhoto", "miShowVideo", "", "miCut", "miPaste", "",
                            "miChangeItems", "miShiftDates", "miNumberTitles", "", "miRotateLeft", "miRotateRight",
                            "miUseAsAlbumThumb", "miReplacePicture", "miMakeSizesAgain", "", "miRename", "miDelete"};
    menuOn(m_tvPhotos, items);
    menuOn(m_itemViews->grid(), items);
    menuOn(m_ivAlbumThumb, {"miChangeAlbumThumb", "miUseAsAlbumThumb"});
    menuOn(m_itemDetails->ivPhoto(), {"miShowPhoto", "miShowLargePhoto", "", "miRotateLeft", "miRotateRight", "",
                                      "miUseAsAlbumThumb"});
    menuOn(m_itemDetails->ivTrash(), {"miDelete"});
    // Double-click or Return on a picture opens it.
    for (QAbstractItemView *view : {static_cast<QAbstractItemView *>(m_itemViews->grid()), static_cast<QAbstractItemView *>(m_tvPhotos)})
        connect(view, &QAbstractItemView::activated, this, [this] { doubleClickedPhoto(Qt::NoModifier); });
}

void MainController::restoreWindowState()
{
    const QByteArray geometry = m_settings->value("MainWindowGeometry").toByteArray();
    if (geometry.isEmpty() || !restoreGeometry(geometry)) {
        // The size it is made for, where the screen has room; else what it has.
        const QRect area = screen() ? screen()->availableGeometry() : QRect(0, 0, 1040, 680);
        resize(QSize(1040, 680).boundedTo(area.size() - QSize(24, 48)));
        if (!area.contains(frameGeometry()))
            move(area.topLeft());
    }
    if (!m_splitter->restoreState(m_settings->value("MainWindowSplitter").toByteArray()))
        m_splitter->setSizes({280, 700});
    m_itemSplitter->restoreState(m_settings->value("ItemSplitter").toByteArray());
    m_sliderThumbnailSize->setValue(m_settings->value("GridThumbnailSize", kGridThumbnailSize.width()).toInt());
    // After the menus: the menu entry follows the view.
    m_itemViews->setGridShown(m_settings->value("ItemListGrid").toBool());
}

void MainController::saveWindowState()
{
    m_settings->setValue("MainWindowGeometry", saveGeometry());
    m_settings->setValue("MainWindowSplitter", m_splitter->saveState());
    m_settings->setValue("ItemSplitter", m_itemSplitter->saveState());
    m_settings->setValue("GridThumbnailSize", m_sliderThumbnailSize->value());
    m_settings->setValue("ItemListGrid", m_itemViews->isGridShown());
    const QString folder = m_prefs.orvaneFolder();
    if (folder.isEmpty() || !m_windowWasKey)
        return;
    QVariantMap selected = m_settings->value("SelectedNodes").toMap();
    if (const TreeNode *node = selectedNode())
        selected.insert(folder, placeOf(data(), node));
    else
        selected.remove(folder);
    m_settings->setValue("SelectedNodes", selected);
}

void MainController::restoreSelection()
{
    const QString place = m_settings->value("SelectedNodes").toMap().value(m_prefs.orvaneFolder()).toString();
    if (TreeNode *node = place.isEmpty() ? nullptr : nodeAt(data(), place)) {
        const QModelIndex index = m_treeModel->indexForNode(node);
        m_ovAlbums->setCurrentIndex(index);
        m_ovAlbums->scrollTo(index);
    }
}

} // namespace qm
