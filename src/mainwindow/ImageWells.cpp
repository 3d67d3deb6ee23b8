#include "mainwindow/ImageWells.h"

#include "mainwindow/DeletionController.h"

#include "mainwindow/NodeThumbnail.h"
#include "mainwindow/Pasteboard.h"
#include "model/Photo.h"
#include "model/Video.h"
#include "storage/Common.h"
#include "storage/Gallery.h"
#include "storage/Preferences.h"
#include "storage/Resources.h"

#include <QDir>

namespace qm {

ImageWells::ImageWells(Gallery *gallery, DeletionController *deletion, MyImageView *albumThumb, MyImageView *trash,
                       QObject *parent)
    : QObject(parent)
    , m_gallery(gallery)
    , m_deletion(deletion)
    , m_albumThumb(albumThumb)
    , m_trash(trash)
{
    albumThumb->setDataSource(this);
    albumThumb->setAcceptsDrops(true);
    trash->setDataSource(this);
    trash->setAcceptsDrops(true);
    showTrash(false);
    // A new picture, a chosen one, or an undo of either.
    connect(gallery, &Gallery::nodeChanged, this, [this](TreeNode *node) {
        if (node == selectedNode())
            showNodeThumbnail();
    });
}

TreeNode *ImageWells::selectedNode() const
{
    const Data &data = m_gallery->data();
    return data.selectedAlbum() ? static_cast<TreeNode *>(data.selectedAlbum()) : data.selectedCollection();
}

void ImageWells::showNodeThumbnail()
{
    const TreeNode *node = selectedNode();
    if (node && !node->thumbFile().isEmpty())
        m_albumThumb->setImageFromFileLater(m_gallery->prefs().imgPath(node->thumbFile()));
    else
        m_albumThumb->setImage(QImage());
}

void ImageWells::showTrash(bool full)
{
    m_trash->setImageFromFile(resourcePath(full ? QStringLiteral("trashfull.png") : QStringLiteral("trashempty.png")));
}

Qt::DropAction ImageWells::validateDrop(MyImageView *view, const QMimeData *mime)
{
    if (m_gallery->isReadOnly())
        return Qt::IgnoreAction;
    const Data &data = m_gallery->data();
    if (view == m_albumThumb) {
        if (!selectedNode())
            return Qt::IgnoreAction;
        const QStringList files = Pasteboard::localFiles(mime);
        if (!files.isEmpty())
            return files.size() == 1 && Common::isValidImageFile(files.first()) ? Qt::CopyAction : Qt::IgnoreAction;
        if (Pasteboard::hasItems(mime) && Pasteboard::itemCount(mime) == 1
            && Pasteboard::readFirstItem(mime, data, data.selectedAlbum()))
            return Qt::CopyAction;
        return Qt::IgnoreAction;
    }
    if (view == m_trash && !m_gallery->isBusy()
        && (Pasteboard::hasAlbum(mime) || Pasteboard::hasCollection(mime) || Pasteboard::hasItems(mime))) {
        showTrash(true);
        return Qt::MoveAction;
    }
    return Qt::IgnoreAction;
}

void ImageWells::dragHasLeft(MyImageView *view)
{
    if (view == m_trash)
        showTrash(false);
}

bool ImageWells::acceptDrop(MyImageView *view, const QMimeData *mime)
{
    const Data &data = m_gallery->data();
    if (view == m_albumThumb) {
        TreeNode *node = selectedNode();
        if (!node)
            return false;
        QString source;
        const QStringList files = Pasteboard::localFiles(mime);
        if (!files.isEmpty()) {
            source = files.first();
        } else if (Pasteboard::hasItems(mime)) {
            const ItemPtr item = Pasteboard::readFirstItem(mime, data, data.selectedAlbum());
            if (!item)
                return false;
            const QString name = item->isPhoto() ? static_cast<const Photo &>(*item).imageFile()
                                                 : static_cast<const Video &>(*item).thumbFile();
            source = m_gallery->prefs().imgPath(name);
            if (source.isNull())
                return true; // a video without a thumbnail gives nothing
        } else {
            return false;
        }
        makeNodeThumbnail(*m_gallery, node->shared_from_this(), source, this, [this](const WriteResult &made) {
            if (!made)
                emit status(tr("No thumbnail could be made: %1: %2").arg(QDir::toNativeSeparators(made.path), made.reason));
        });
        return true;
    }
    if (view != m_trash)
        return false;
    bool taken = false;
    showTrash(false);
    // Asks only where no trash can take the files.
    if (NodePtr album = Pasteboard::readNode(mime, Pasteboard::AlbumType, data)) {
        m_deletion->deleteNode(album, false);
        taken = true;
    } else if (NodePtr coll = Pasteboard::readNode(mime, Pasteboard::CollectionType, data)) {
        m_deletion->deleteNode(coll, false);
        taken = true;
    } else if (Pasteboard::hasItems(mime) && data.selectedAlbum()) {
        const QList<ItemPtr> items = Pasteboard::readItems(mime, data.selectedAlbum());
        if (!items.isEmpty()) {
            m_deletion->deleteItems(data.selectedAlbum(), items, false);
            taken = true;
        }
    }
    return taken;
}

} // namespace qm
