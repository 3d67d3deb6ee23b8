// Drops on the main window: what the tree and the list do with items and
// nodes is the models'; outside files open the import windows here.

#include "import/ImportPhotosController.h"
#include "import/ImportingPhotosController.h"
#include "mainwindow/AlbumTreeModel.h"
#include "mainwindow/ChangeAlbumThumbController.h"
#include "mainwindow/DeletionController.h"
#include "mainwindow/ItemDetailPanel.h"
#include "mainwindow/ItemListModel.h"
#include "mainwindow/ItemListView.h"
#include "mainwindow/ItemTableView.h"
#include "mainwindow/MainController.h"
#include "mainwindow/Pasteboard.h"
#include "mainwindow/PhotoWindowController.h"
#include "model/Photo.h"
#include "model/Video.h"
#include "storage/Common.h"
#include "storage/FolderChooser.h"
#include "video/ImportVideoController.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QTableView>
#include <QTreeView>

namespace qm {

void MainController::setupDragAndDrop()
{
    m_treeModel->setDropHandler(this);
    m_itemModel->setDropHandler(this);
    // The item views set up their own drags and drops.
    m_ovAlbums->setDragEnabled(true);
    m_ovAlbums->setAcceptDrops(true);
    m_ovAlbums->setDropIndicatorShown(true);
    m_ovAlbums->setDragDropMode(QAbstractItemView::DragDrop);
    m_ovAlbums->setDefaultDropAction(Qt::MoveAction);
    connect(m_itemDetails->ivPhoto(), &MyImageView::doubleClicked, this, &MainController::doubleClickedPhoto);
    // What was moved stays selected where it went; items moved to another
    // album have left the list.
    connect(m_treeModel, &AlbumTreeModel::nodeDropped, this, [this](TreeNode *node) {
        const QModelIndex index = m_treeModel->indexForNode(node);
        m_ovAlbums->expand(index.parent());
        m_ovAlbums->setCurrentIndex(index);
        m_ovAlbums->scrollTo(index);
    });
    connect(m_treeModel, &AlbumTreeModel::itemsMoved, this, [this] { deselectAllItems(); });
}

void MainController::clickedDelete()
{
    m_deletion->clickedDelete();
}

void MainController::clickedRename()
{
    // The list's title when it has the focus and a row, else the tree's node.
    QAbstractItemView *list = m_itemViews->currentView();
    // With a title being edited in the list the focus is in its editor.
    const bool inList = list->hasFocus() || list->isAncestorOf(QApplication::focusWidget());
    if (inList && !list->hasFocus())
        return; // its title is open already
    if (inList && selectedItemRow() >= 0) {
        const QModelIndex title = m_itemModel->index(selectedItemRow(), ItemListModel::TitleColumn);
        list->setCurrentIndex(title);
        list->edit(title);
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
    if (!data().selectedAlbum() && !data().selectedCollection())
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
    if (!album || files.isEmpty() || m_ctlImportingPhotos->isRunning() || m_gallery.isBusy())
        return;
    m_ctlImportPhotos->setFiles(files);
    m_ctlImportPhotos->setAlbum(album);
    activateWindow();
    m_ctlImportPhotos->open();
}

void MainController::clickedImportPhotos()
{
    Album *album = data().selectedAlbum();
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

void MainController::importVideo(const QString &file, Album *album, Video *addStreamTo)
{
    if (file.isEmpty() || !album)
        return;
    if (hasSoundExtension(file)) {
        showError(tr("\u201c%1\u201d is a sound file: a video needs a picture.").arg(QFileInfo(file).fileName()),
                  tr("Only movies can be imported as videos."));
        return;
    }
    m_ctlImportVideo->setAddingStream(addStreamTo != nullptr);
    if (addStreamTo)
        m_ctlImportVideo->setVideo(addStreamTo);
    m_ctlImportVideo->setFile(file, album);
    activateWindow();
    m_ctlImportVideo->showWindow();
}

void MainController::clickedImportVideo()
{
    Album *album = data().selectedAlbum();
    if (!album) {
        showError(tr("Select the album that is to receive the video first."));
        return;
    }
    // With one video selected the file becomes a further stream of it.
    Item *item = data().selectedItem();
    Video *video = item && item->isVideo() ? static_cast<Video *>(item) : nullptr;
    const QString title = video ? tr("Add a Stream to \u201c%1\u201d").arg(video->title())
                                : tr("Import a Video into \u201c%1\u201d").arg(album->title());
    const QStringList files = FolderChooser::chooseFiles(this, title, tr("Movies (%1)").arg(movieFileFilter()));
    if (files.size() == 1)
        importVideo(files.first(), album, video);
}

} // namespace qm
