#include "mainwindow/AlbumTreeModel.h"

#include "mainwindow/DropHandler.h"
#include "mainwindow/NodeThumbnail.h"
#include "mainwindow/Pasteboard.h"
#include "mainwindow/ThumbnailCache.h"
#include "model/Photo.h"
#include "model/Video.h"
#include "storage/GalleryTrash.h"
#include "storage/Preferences.h"
#include "storage/Resources.h"

#include <QIcon>

#include <QMimeData>

namespace qm {

AlbumTreeModel::AlbumTreeModel(Gallery *gallery, QObject *parent)
    : QAbstractItemModel(parent)
    , m_gallery(gallery)
    , m_data(&gallery->data())
{
    connectGallery();
}

void AlbumTreeModel::connectGallery()
{
    Gallery *g = m_gallery;
    connect(g, &Gallery::aboutToReset, this, &AlbumTreeModel::beginResetModel);
    connect(g, &Gallery::reset, this, &AlbumTreeModel::endResetModel);
    connect(g, &Gallery::nodeAboutToBeInserted, this, [this](AlbumCollection *parent, int row) {
        beginInsertRows(indexForNode(parent), row, row);
    });
    connect(g, &Gallery::nodeInserted, this, &AlbumTreeModel::endInsertRows);
    connect(g, &Gallery::nodeAboutToBeRemoved, this, [this](TreeNode *node) {
        const int row = rowOf(node);
        beginRemoveRows(indexForNode(node->parentCollection()), row, row);
    });
    connect(g, &Gallery::nodeRemoved, this, &AlbumTreeModel::endRemoveRows);
    connect(g, &Gallery::nodeAboutToBeMoved, this, [this](TreeNode *node, AlbumCollection *to, int row) {
        const int from = rowOf(node);
        const QModelIndex parent = indexForNode(node->parentCollection());
        m_moveAnnounced = beginMoveRows(parent, from, from, indexForNode(to), row);
        if (!m_moveAnnounced)
            beginResetModel();
    });
    connect(g, &Gallery::nodeMoved, this, [this] {
        if (m_moveAnnounced)
            endMoveRows();
        else
            endResetModel();
    });
    connect(g, &Gallery::nodeChanged, this, [this](TreeNode *node) {
        const QModelIndex first = indexForNode(node, 0);
        if (first.isValid())
            emit dataChanged(first, first.siblingAtColumn(ColumnCount - 1));
        // The collections above count the items too.
        for (const TreeNode *up = node->parentCollection(); up; up = up->parentCollection()) {
            const QModelIndex count = indexForNode(up, NumberColumn);
            emit dataChanged(count, count, {Qt::DisplayRole, Qt::ToolTipRole});
        }
    });
    // A node that comes or goes changes the counts above it.
    auto countsAbove = [this](const TreeNode *node) {
        for (const TreeNode *up = node; up; up = up->parentCollection()) {
            const QModelIndex count = indexForNode(up, NumberColumn);
            emit dataChanged(count, count, {Qt::DisplayRole, Qt::ToolTipRole});
        }
    };
    connect(g, &Gallery::nodeInserted, this, [countsAbove](TreeNode *node) { countsAbove(node->parentCollection()); });
    connect(g, &Gallery::nodeMoved, this, [countsAbove](TreeNode *node) { countsAbove(node->parentCollection()); });
    connect(g, &Gallery::nodeRemoved, this, [countsAbove](AlbumCollection *parent) { countsAbove(parent); });
}

AlbumTreeModel::Counts AlbumTreeModel::countsOf(const TreeNode &node)
{
    Counts c;
    if (node.isAlbum()) {
        c.items = int(static_cast<const Album &>(node).items().size());
        c.albums = 1;
        return c;
    }
    for (const NodePtr &child : static_cast<const AlbumCollection &>(node).items()) {
        const Counts below = countsOf(*child);
        c.items += below.items;
        c.albums += below.albums;
    }
    return c;
}

const QList<NodePtr> &AlbumTreeModel::childrenOf(const TreeNode *node) const
{
    static const QList<NodePtr> none;
    if (!node)
        return m_data->albums();
    if (node->isCollection())
        return static_cast<const AlbumCollection *>(node)->items();
    return none;
}

int AlbumTreeModel::rowOf(const TreeNode *node) const
{
    return indexOfNode(childrenOf(node->parentCollection()), node);
}

TreeNode *AlbumTreeModel::nodeForIndex(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    return static_cast<TreeNode *>(index.internalPointer());
}

NodePtr AlbumTreeModel::nodePtrForIndex(const QModelIndex &index) const
{
    const TreeNode *node = nodeForIndex(index);
    if (!node)
        return nullptr;
    const QList<NodePtr> &list = childrenOf(node->parentCollection());
    const int row = index.row();
    if (row >= 0 && row < list.size() && list[row].get() == node)
        return list[row];
    return nullptr;
}

QModelIndex AlbumTreeModel::indexForNode(const TreeNode *node, int column) const
{
    if (!node)
        return {};
    const int row = rowOf(node);
    if (row < 0)
        return {};
    return createIndex(row, column, const_cast<TreeNode *>(node));
}

QModelIndex AlbumTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column < 0 || column >= ColumnCount || row < 0)
        return {};
    if (parent.isValid() && parent.column() != 0)
        return {};
    const QList<NodePtr> &list = childrenOf(nodeForIndex(parent));
    if (row >= list.size())
        return {};
    return createIndex(row, column, list[row].get());
}

QModelIndex AlbumTreeModel::parent(const QModelIndex &child) const
{
    const TreeNode *node = nodeForIndex(child);
    if (!node || !node->parentCollection())
        return {};
    return indexForNode(node->parentCollection());
}

int AlbumTreeModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return int(childrenOf(nodeForIndex(parent)).size());
}

int AlbumTreeModel::columnCount(const QModelIndex &) const
{
    return ColumnCount;
}

bool AlbumTreeModel::hasChildren(const QModelIndex &parent) const
{
    const TreeNode *node = nodeForIndex(parent);
    if (!node)
        return !m_data->albums().isEmpty();
    return node->isCollection() && parent.column() == 0 && !childrenOf(node).isEmpty();
}

QVariant AlbumTreeModel::data(const QModelIndex &index, int role) const
{
    const TreeNode *node = nodeForIndex(index);
    if (!node)
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        switch (index.column()) {
        case TitleColumn:
            return node->title();
        case NumberColumn:
            if (node->isAlbum())
                return QString::number(static_cast<const Album *>(node)->items().size());
            return QString::number(countsOf(*node).items);
        case XMLFileColumn:
            // Shown only while editing; the file name is a detail most never need.
            if (role == Qt::EditRole && node->isAlbum())
                return static_cast<const Album *>(node)->XMLFile();
            return QString();
        }
    }
    if (role == Qt::DecorationRole && index.column() == TitleColumn) {
        if (m_thumbnails && !node->thumbFile().isEmpty()) {
            const QString path = m_gallery->prefs().imgPath(node->thumbFile());
            const QPixmap picture = m_thumbnails->thumbnail(path, kTreeThumbnailSize);
            if (m_thumbnails->status(path, kTreeThumbnailSize) == ThumbnailCache::Status::Ready)
                return picture;
        }
        static const QIcon album(resourcePath(QStringLiteral("albumkind.png")));
        static const QIcon collection(resourcePath(QStringLiteral("collectionkind.png")));
        return node->isAlbum() ? album : collection;
    }
    if (role == Qt::TextAlignmentRole && index.column() == NumberColumn)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::ToolTipRole && index.column() == NumberColumn && node->isCollection()) {
        const Counts c = countsOf(*node);
        return tr("%1 in %2").arg(counted(c.items, "item", "items"), counted(c.albums, "album", "albums"));
    }
    if (role == Qt::ToolTipRole && node->isAlbum() && index.column() == XMLFileColumn)
        return static_cast<const Album *>(node)->XMLFile();
    return {};
}

bool AlbumTreeModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    TreeNode *node = nodeForIndex(index);
    if (!node || role != Qt::EditRole)
        return false;
    const QString text = value.toString();
    if (index.column() == TitleColumn) {
        m_gallery->setTitle(node, text);
        return true;
    }
    if (index.column() == XMLFileColumn && node->isAlbum()) {
        const QString refused = m_gallery->setAlbumFile(static_cast<Album *>(node), text);
        if (!refused.isEmpty()) {
            emit editRefused(refused);
            return false;
        }
        return true;
    }
    return false;
}

void AlbumTreeModel::setThumbnails(ThumbnailCache *thumbnails)
{
    m_thumbnails = thumbnails;
    connect(thumbnails, &ThumbnailCache::thumbnailsReady, this, [this](const QStringList &paths) {
        const QSet<QString> ready(paths.begin(), paths.end());
        m_data->forEachNode([&](const NodePtr &node) {
            if (!node->thumbFile().isEmpty() && ready.contains(m_gallery->prefs().imgPath(node->thumbFile()))) {
                const QModelIndex i = indexForNode(node.get());
                emit dataChanged(i, i, {Qt::DecorationRole});
            }
            return true;
        });
    });
}

Qt::ItemFlags AlbumTreeModel::flags(const QModelIndex &index) const
{
    const TreeNode *node = nodeForIndex(index);
    if (!node)
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if ((index.column() == TitleColumn || (index.column() == XMLFileColumn && node->isAlbum())) && !m_gallery->isReadOnly())
        f |= Qt::ItemIsEditable;
    if (index.column() == TitleColumn)
        f |= Qt::ItemIsDragEnabled;
    // Drops onto any node are offered; validateDrop() decides.
    f |= Qt::ItemIsDropEnabled;
    if (node->isAlbum())
        f |= Qt::ItemNeverHasChildren;
    return f;
}

QVariant AlbumTreeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case TitleColumn:
        return tr("Title");
    case NumberColumn:
        return tr("Items");
    case XMLFileColumn:
        return tr("File");
    }
    return {};
}

Qt::DropActions AlbumTreeModel::supportedDropActions() const
{
    return Qt::CopyAction | Qt::MoveAction;
}

Qt::DropActions AlbumTreeModel::supportedDragActions() const
{
    return Qt::MoveAction;
}

QStringList AlbumTreeModel::mimeTypes() const
{
    return {Pasteboard::AlbumType, Pasteboard::CollectionType, Pasteboard::PhotosType, QStringLiteral("text/uri-list")};
}

QMimeData *AlbumTreeModel::mimeData(const QModelIndexList &indexes) const
{
    // Only the first dragged node counts.
    for (const QModelIndex &i : indexes) {
        if (const TreeNode *node = nodeForIndex(i))
            return Pasteboard::writeNode(*node);
    }
    return nullptr;
}

Qt::DropAction AlbumTreeModel::validateDrop(const QMimeData *mime, const TreeNode *target, int childIndex) const
{
    if (!mime || m_gallery->isReadOnly())
        return Qt::IgnoreAction;
    const QStringList files = Pasteboard::localFiles(mime);
    if (!files.isEmpty()) {
        if (target && target->isAlbum()) {
            if (m_imageFiles.all(mime, files))
                return Qt::CopyAction;
            if (files.size() == 1 && Pasteboard::isMovieFile(files.first()))
                return Qt::CopyAction;
        } else if (target && target->isCollection() && childIndex == -1) {
            if (files.size() == 1 && m_imageFiles.all(mime, files))
                return Qt::CopyAction;
        }
    }
    if (Pasteboard::hasItems(mime)) {
        // Items come from the album the item list shows, and must still be there.
        const QList<ItemPtr> items = Pasteboard::readItems(mime, m_data->selectedAlbum());
        if (!items.isEmpty()) {
            if (target && target->isAlbum() && target != m_data->selectedAlbum())
                return Qt::MoveAction;
            if (childIndex == -1 && target && target->isCollection() && items.size() == 1)
                return Qt::CopyAction;
        }
    }
    if (Pasteboard::hasAlbum(mime) && Pasteboard::readNode(mime, Pasteboard::AlbumType, *m_data)) {
        if (!target || target->isCollection())
            return Qt::MoveAction;
    }
    if (Pasteboard::hasCollection(mime)) {
        const NodePtr dragged = Pasteboard::readNode(mime, Pasteboard::CollectionType, *m_data);
        if (dragged && !target)
            return Qt::MoveAction;
        if (dragged && target && target->isCollection() && target != dragged.get()
            && !target->isCollectionAncestor(static_cast<const AlbumCollection *>(dragged.get())))
            return Qt::MoveAction;
    }
    return Qt::IgnoreAction;
}

Qt::DropAction AlbumTreeModel::dropAction(const QMimeData *mime, int row, const QModelIndex &parent) const
{
    const TreeNode *target = nodeForIndex(parent.sibling(parent.row(), 0));
    if (parent.isValid() && !target)
        return Qt::IgnoreAction;
    return validateDrop(mime, target, row);
}

bool AlbumTreeModel::canDropMimeData(const QMimeData *mime, Qt::DropAction, int row, int,
                                     const QModelIndex &parent) const
{
    return dropAction(mime, row, parent) != Qt::IgnoreAction;
}

bool AlbumTreeModel::dropMimeData(const QMimeData *mime, Qt::DropAction, int row, int, const QModelIndex &parent)
{
    TreeNode *target = nodeForIndex(parent.sibling(parent.row(), 0));
    if (parent.isValid() && !target)
        return false;
    return acceptDrop(mime, target, row);
}

bool AlbumTreeModel::acceptDrop(const QMimeData *mime, TreeNode *target, int childIndex)
{
    // The rules are asked again: the tree may have changed since the drag began.
    if (validateDrop(mime, target, childIndex) == Qt::IgnoreAction)
        return false;
    auto thumbnail = [this](TreeNode &node, const QString &source) {
        makeNodeThumbnail(*m_gallery, node.shared_from_this(), source, this, [this](const WriteResult &made) {
            if (!made)
                emit editRefused(tr("No thumbnail could be made from %1: %2").arg(made.path, made.reason));
        });
    };
    const QStringList files = Pasteboard::localFiles(mime);
    if (!files.isEmpty() && target && target->isAlbum()) {
        auto *album = static_cast<Album *>(target);
        if (m_dropHandler) {
            if (files.size() == 1 && Pasteboard::isMovieFile(files.first()))
                m_dropHandler->importVideo(files.first(), album, nullptr);
            else
                m_dropHandler->importPhotos(files, album);
        }
        return true;
    }
    if (!files.isEmpty() && target && target->isCollection()) {
        thumbnail(*target, files.first());
        return true;
    }
    if (Pasteboard::hasItems(mime) && target) {
        Album *from = m_data->selectedAlbum();
        const QList<ItemPtr> items = Pasteboard::readItems(mime, from);
        if (target->isAlbum()) {
            auto *to = static_cast<Album *>(target);
            m_gallery->moveItems(from, items, to);
            emit itemsMoved(from, to);
            return true;
        }
        // One item onto a collection gives the collection its picture.
        const Item &item = *items.first();
        const QString name = item.isPhoto() ? static_cast<const Photo &>(item).smallImageFile()
                                            : static_cast<const Video &>(item).thumbFile();
        const QString source = m_gallery->prefs().imgPath(name);
        if (!source.isNull())
            thumbnail(*target, source);
        return true;
    }
    NodePtr node = Pasteboard::readNode(mime, Pasteboard::AlbumType, *m_data);
    if (!node)
        node = Pasteboard::readNode(mime, Pasteboard::CollectionType, *m_data);
    if (!node)
        return false;
    QString why;
    // Validated: the target is a collection or the top level.
    if (!m_gallery->moveNode(node, static_cast<AlbumCollection *>(target), childIndex, &why))
        emit editRefused(why);
    emit nodeDropped(node.get());
    return true;
}

} // namespace qm
