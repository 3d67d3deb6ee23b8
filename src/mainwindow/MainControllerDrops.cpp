// The main window's drag and drop: the wells, deletion, and the windows a
// drop of outside files opens.

#include "import/ImportPhotosController.h"
#include "import/ImportingPhotosController.h"
#include "mainwindow/AlbumTreeModel.h"
#include "mainwindow/ChangeAlbumThumbController.h"
#include "mainwindow/GalleryTrash.h"
#include "mainwindow/ItemListModel.h"
#include "mainwindow/MainController.h"
#include "mainwindow/NodeThumbnail.h"
#include "mainwindow/Pasteboard.h"
#include "mainwindow/PhotoWindowController.h"
#include "model/AlbumCollection.h"
#include "model/Photo.h"
#include "model/Video.h"
#include "storage/BackgroundTask.h"
#include "storage/Common.h"
#include "storage/FolderChooser.h"
#include "storage/Resources.h"
#include "video/ImportVideoController.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QTreeView>

namespace qm {

namespace {

// "1 photo", "2 photos": English plurals without a translation loaded.
QString counted(int n, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QCoreApplication::translate("MainController", n == 1 ? one : many));
}

} // namespace

void MainController::setupDragAndDrop()
{
    m_treeModel->setDropHandler(this);
    m_itemModel->setDropHandler(this);
    for (QAbstractItemView *view : {static_cast<QAbstractItemView *>(m_ovAlbums),
                                    static_cast<QAbstractItemView *>(m_tvPhotos)}) {
        view->setDragEnabled(true);
        view->setAcceptDrops(true);
        view->setDropIndicatorShown(true);
        view->setDragDropMode(QAbstractItemView::DragDrop);
        view->setDefaultDropAction(Qt::MoveAction);
    }
    m_ivAlbumThumb->setDataSource(this);
    m_ivAlbumThumb->setAcceptsDrops(true);
    m_ivTrash->setDataSource(this);
    m_ivTrash->setAcceptsDrops(true);
    connect(m_ivPhoto, &MyImageView::doubleClicked, this, &MainController::doubleClickedPhoto);

    connect(m_treeModel, &AlbumTreeModel::nodeMoved, this, [this] { deselectAllAlbums(); });
    connect(m_treeModel, &AlbumTreeModel::itemsMoved, this, [this] {
        m_itemModel->sync();
        deselectAllItems();
    });
    connect(m_treeModel, &AlbumTreeModel::thumbnailChanged, this, [this](TreeNode *node) {
        if (node == m_data.selectedCollection() || node == m_data.selectedAlbum())
            showNodeThumbnail();
    });
    connect(m_itemModel, &ItemListModel::itemsReordered, this, [this] { deselectAllItems(); });
}

Qt::DropAction MainController::validateDrop(MyImageView *view, const QMimeData *mime)
{
    if (view == m_ivAlbumThumb) {
        if (!m_data.selectedAlbum() && !m_data.selectedCollection())
            return Qt::IgnoreAction;
        const QStringList files = Pasteboard::localFiles(mime);
        if (!files.isEmpty())
            return files.size() == 1 && Common::isValidImageFile(files.first()) ? Qt::CopyAction : Qt::IgnoreAction;
        if (Pasteboard::hasItems(mime) && Pasteboard::itemCount(mime) == 1
            && Pasteboard::readFirstItem(mime, m_data, m_data.selectedAlbum()))
            return Qt::CopyAction;
        return Qt::IgnoreAction;
    }
    if (view == m_ivTrash) {
        if (Pasteboard::hasAlbum(mime) || Pasteboard::hasCollection(mime) || Pasteboard::hasItems(mime)) {
            m_ivTrash->setImageFromFile(resourcePath(QStringLiteral("trashfull.png")));
            return Qt::MoveAction;
        }
    }
    return Qt::IgnoreAction;
}

void MainController::dragHasLeft(MyImageView *view)
{
    if (view == m_ivTrash)
        m_ivTrash->setImageFromFile(resourcePath(QStringLiteral("trashempty.png")));
}

bool MainController::acceptDrop(MyImageView *view, const QMimeData *mime)
{
    if (view == m_ivAlbumThumb) {
        TreeNode *node = m_data.selectedAlbum() ? static_cast<TreeNode *>(m_data.selectedAlbum())
                                                : m_data.selectedCollection();
        if (!node)
            return false;
        QString source;
        const QStringList files = Pasteboard::localFiles(mime);
        if (!files.isEmpty()) {
            source = files.first();
        } else if (Pasteboard::hasItems(mime)) {
            const ItemPtr item = Pasteboard::readFirstItem(mime, m_data, m_data.selectedAlbum());
            if (!item)
                return false;
            const QString name = item->isPhoto() ? static_cast<const Photo &>(*item).imageFile()
                                                 : static_cast<const Video &>(*item).thumbFile();
            if (name.isEmpty())
                return true; // a video without a thumbnail gives nothing
            source = m_prefs.imgPath(name);
            if (source.isNull())
                return true;
        } else {
            return false;
        }
        const QString written = makeNodeThumbnail(m_prefs, *node, source);
        if (written.isNull())
            statusBar()->showMessage(tr("No thumbnail could be made from %1.").arg(QDir::toNativeSeparators(source)), 8000);
        showNodeThumbnail();
        m_data.setNeedsToSaveChanges(true);
        return true;
    }
    if (view != m_ivTrash)
        return false;

    bool taken = false;
    if (NodePtr album = Pasteboard::readNode(mime, Pasteboard::AlbumType, m_data)) {
        deleteNode(album);
        taken = true;
    } else if (NodePtr coll = Pasteboard::readNode(mime, Pasteboard::CollectionType, m_data)) {
        deleteNode(coll);
        taken = true;
    } else if (Pasteboard::hasItems(mime)) {
        const QList<ItemPtr> items = Pasteboard::readItems(mime, m_data.selectedAlbum());
        if (!items.isEmpty()) {
            deleteItems(items);
            taken = true;
        }
    }
    m_ivTrash->setImageFromFile(resourcePath(QStringLiteral("trashempty.png")));
    return taken;
}

void MainController::deleteNode(const NodePtr &node)
{
    if (!node || BackgroundTask::isRunning())
        return;
    const DeleteReport report = carryOutDeletion(GalleryTrash(m_data, m_prefs).planNode(*node));
    if (report.undone) {
        statusBar()->showMessage(tr("Stopped: nothing was deleted."), 8000);
        return;
    }
    // A selection inside what goes would point at freed objects.
    const TreeNode *selected = selectedNode();
    if (selected && (selected == node.get()
                     || (node->isCollection()
                         && selected->isCollectionAncestor(static_cast<const AlbumCollection *>(node.get())))))
        deselectAllAlbums();
    m_treeModel->removeNode(node.get());
    // Rows below may have shifted under a kept selection: re-read it.
    outlineViewSelectionDidChange();
    m_data.setNeedsToSaveChanges(true);
    reportDeletion(report);
}

void MainController::deleteItems(const QList<ItemPtr> &items)
{
    if (items.isEmpty() || !m_data.selectedAlbum() || BackgroundTask::isRunning())
        return;
    const DeleteReport report = carryOutDeletion(GalleryTrash(m_data, m_prefs).planItems(items));
    if (report.undone) {
        statusBar()->showMessage(tr("Stopped: nothing was deleted."), 8000);
        return;
    }
    deselectAllItems();
    m_itemModel->removeItems(items);
    m_treeModel->albumItemsChanged(m_data.selectedAlbum());
    m_data.setNeedsToSaveChanges(true);
    reportDeletion(report);
}

DeleteReport MainController::carryOutDeletion(const DeletePlan &plan)
{
    // Moving a file to the trash takes a fraction of a millisecond; a big
    // album has thousands. Below this many the wait is not noticed.
    constexpr int kFilesInBackground = 300;
    const int total = int(plan.paths.size());
    if (total < kFilesInBackground)
        return GalleryTrash::carryOut(plan);
    // The gallery stays as it is while the files move: the dialog keeps the
    // user out of the window, and quitting waits for it.
    DeleteReport report;
    BackgroundTask::run(this, tr("Deleting"), tr("Moving %1 to the trash\u2026").arg(counted(total, "file", "files")),
                        tr("Putting the files back\u2026"), total,
                        [&](const std::atomic_bool &stop, std::atomic<qint64> &done) {
                            report = GalleryTrash::carryOut(plan, &stop, &done);
                        });
    return report;
}

void MainController::reportDeletion(const DeleteReport &report)
{
    if (!report.failed.isEmpty()) {
        showProblems(tr("Some files could not be removed from the gallery folder."), report.failed);
        return;
    }
    const int gone = report.trashed + report.removed;
    QString text = report.trashed > 0 ? tr("%1 moved to the trash.").arg(counted(gone, "file", "files"))
                                      : tr("%1 removed.").arg(counted(gone, "file", "files"));
    if (report.kept > 0)
        text += QLatin1Char(' ') + tr("%1 kept: still used elsewhere in the gallery.").arg(counted(report.kept, "file", "files"));
    statusBar()->showMessage(text, 8000);
}

bool MainController::confirmDelete(const QString &what)
{
    QMessageBox box(QMessageBox::Question, tr("Delete"), what,
                    QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("confirmDelete"));
    box.setInformativeText(tr("Their files are moved to the trash."));
    box.setWindowModality(Qt::WindowModal);
    auto *del = box.addButton(tr("&Delete"), QMessageBox::DestructiveRole);
    auto *cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(cancel);
    box.exec();
    return box.clickedButton() == static_cast<QAbstractButton *>(del);
}

void MainController::clickedDelete()
{
    // The list when it has the focus and a selection, else the tree.
    const QModelIndexList rows = m_tvPhotos->selectionModel()->selectedRows();
    if (m_tvPhotos->hasFocus() && !rows.isEmpty()) {
        QList<int> sorted;
        for (const QModelIndex &i : rows)
            sorted.append(i.row());
        std::sort(sorted.begin(), sorted.end());
        QList<ItemPtr> items;
        for (int row : sorted) {
            if (ItemPtr item = m_itemModel->itemPtrAt(row))
                items.append(item);
        }
        const QString what = items.size() == 1
            ? tr("Delete \u201c%1\u201d?").arg(items.first()->title())
            : tr("Delete the %1 selected items?").arg(items.size());
        if (!items.isEmpty() && confirmDelete(what))
            deleteItems(items);
        return;
    }
    const QModelIndexList nodes = m_ovAlbums->selectionModel()->selectedRows();
    const NodePtr node = nodes.isEmpty() ? nullptr : m_treeModel->nodePtrForIndex(nodes.first());
    if (!node)
        return;
    const GalleryTrash::Counts c = GalleryTrash::countNode(*node);
    QStringList parts;
    if (node->isCollection() && c.collections > 1)
        parts << counted(c.collections - 1, "collection", "collections");
    if (node->isCollection() && c.albums > 0)
        parts << counted(c.albums, "album", "albums");
    if (c.photos > 0)
        parts << counted(c.photos, "photo", "photos");
    if (c.videos > 0)
        parts << counted(c.videos, "video", "videos");
    const QString kind = node->isAlbum() ? tr("album") : tr("collection");
    const QString what = parts.isEmpty()
        ? tr("Delete the %1 \u201c%2\u201d?").arg(kind, node->title())
        : tr("Delete the %1 \u201c%2\u201d with %3?").arg(kind, node->title(), parts.join(tr(", ")));
    if (confirmDelete(what))
        deleteNode(node);
}

void MainController::clickedRename()
{
    // The list's title when it has the focus and a row, else the tree's node.
    if (m_tvPhotos->hasFocus() && selectedItemRow() >= 0) {
        const QModelIndex title = m_itemModel->index(selectedItemRow(), ItemListModel::TitleColumn);
        m_tvPhotos->setCurrentIndex(title);
        m_tvPhotos->edit(title);
        return;
    }
    const QModelIndex current = m_ovAlbums->currentIndex();
    if (!current.isValid())
        return;
    m_ovAlbums->setFocus();
    m_ovAlbums->edit(current.siblingAtColumn(0));
}

void MainController::clickedChangeAlbumThumb()
{
    if (!m_data.selectedAlbum() && !m_data.selectedCollection())
        return;
    m_ctlChangeAlbumThumb->scanForThumbs();
    m_ctlChangeAlbumThumb->open();
}

void MainController::doubleClickedPhoto(Qt::KeyboardModifiers modifiers)
{
    if (m_tvPhotos->selectionModel()->selectedRows().size() != 1)
        return;
    Item *item = m_itemModel->itemAt(selectedItemRow());
    if (!item || !item->isPhoto())
        return;
    const auto &photo = static_cast<const Photo &>(*item);
    if (modifiers & Qt::ControlModifier)
        m_ctlPhotoWindow->showLargePhoto(photo);
    else
        m_ctlPhotoWindow->showPhoto(photo);
}

void MainController::importPhotos(const QStringList &files, Album *album)
{
    if (!album || files.isEmpty() || m_ctlImportingPhotos->isRunning())
        return;
    m_ctlImportPhotos->setFiles(files);
    m_ctlImportPhotos->setAlbum(album);
    activateWindow();
    m_ctlImportPhotos->open();
}

void MainController::clickedImportPhotos()
{
    Album *album = m_data.selectedAlbum();
    if (!album) {
        showError(tr("Select the album that is to receive the photos first."));
        return;
    }
    QStringList files = FolderChooser::chooseFiles(this, tr("Import Photos into \u201c%1\u201d").arg(album->title()),
                                                   tr("Pictures (*.jpg *.jpeg *.png *.tif *.tiff *.JPG *.JPEG *.PNG "
                                                      "*.TIF *.TIFF)"));
    files.erase(std::remove_if(files.begin(), files.end(), [](const QString &f) { return !Common::isValidImageFile(f); }),
                files.end());
    importPhotos(files, album);
}

void MainController::photoImportFinished(Album *album, int added, const QList<ImportFailure> &failures, bool stopped)
{
    if (album) {
        m_treeModel->albumItemsChanged(album);
        if (album == m_data.selectedAlbum())
            m_itemModel->sync();
    }
    QString text = tr("%1 imported.").arg(counted(added, "photo", "photos"));
    if (stopped)
        text += QLatin1Char(' ') + tr("The import was stopped.");
    statusBar()->showMessage(text, 8000);
    if (!failures.isEmpty()) {
        QList<FileProblem> problems;
        for (const ImportFailure &f : failures)
            problems.append({f.path, f.reason});
        showProblems(tr("%1 could not be imported and %2 left out.")
                         .arg(counted(int(failures.size()), "file", "files"), failures.size() == 1 ? tr("was") : tr("were")),
                     problems);
    }
}

void MainController::importVideo(const QString &file, Album *album, Video *addStreamTo)
{
    if (file.isEmpty() || !album)
        return;
    m_ctlImportVideo->setAddingStream(addStreamTo != nullptr);
    if (addStreamTo)
        m_ctlImportVideo->setVideo(addStreamTo);
    m_ctlImportVideo->setFile(file, album);
    activateWindow();
    m_ctlImportVideo->showWindow();
}

void MainController::clickedImportVideo()
{
    Album *album = m_data.selectedAlbum();
    if (!album) {
        showError(tr("Select the album that is to receive the video first."));
        return;
    }
    // With one video selected the file becomes a further stream of it.
    Item *item = m_data.selectedItem();
    Video *video = item && item->isVideo() ? static_cast<Video *>(item) : nullptr;
    const QString title = video ? tr("Add a Stream to \u201c%1\u201d").arg(video->title())
                                : tr("Import a Video into \u201c%1\u201d").arg(album->title());
    const QStringList files = FolderChooser::chooseFiles(this, title, tr("Movies (*.flv *.mp4 *.mov *.m4v *.mkv *.webm *.avi *.mts *.m2ts *.3gp "
                                                                         "*.FLV *.MP4 *.MOV *.M4V *.MKV *.WEBM *.AVI *.MTS *.M2TS *.3GP)"));
    if (files.size() == 1 && Pasteboard::isMovieFile(files.first()))
        importVideo(files.first(), album, video);
}

} // namespace qm
