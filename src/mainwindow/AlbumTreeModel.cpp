#include "mainwindow/AlbumTreeModel.h"

#include "mainwindow/DropHandler.h"
#include "mainwindow/NodeThumbnail.h"
#include "mainwindow/Pasteboard.h"
#include "model/Photo.h"
#include "model/Video.h"
#include "storage/Common.h"
#include "storage/Preferences.h"
#include "storage/Resources.h"

#include <QFileInfo>
#include <QMimeData>

namespace qm {

AlbumTreeModel::AlbumTreeModel(Data *data, Preferences *prefs, QObject *parent)
    : QAbstractItemModel(parent)
    , m_data(data)
    , m_prefs(prefs)
{
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
            return QString();
        case XMLFileColumn:
            // Shown only while editing; the file name is a detail most never need.
            if (role == Qt::EditRole && node->isAlbum())
                return static_cast<const Album *>(node)->XMLFile();
            return QString();
        }
    }
    if (role == Qt::TextAlignmentRole && index.column() == NumberColumn)
        return int(Qt::AlignRight | Qt::AlignVCenter);
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
        if (text == node->title())
            return true;
        node->setTitle(text);
    } else if (index.column() == XMLFileColumn && node->isAlbum()) {
        auto *album = static_cast<Album *>(node);
        if (text == album->XMLFile())
            return true;
        if (!isBareFileName(text)) {
            emit editRefused(tr("\"%1\" is not a file name inside the gallery's xml folder.").arg(text));
            return false;
        }
        // Two albums sharing one file would overwrite each other's items on save.
        bool taken = false;
        m_data->forEachNode([&](const NodePtr &n) {
            if (n.get() != album && n->isAlbum() && static_cast<Album *>(n.get())->XMLFile() == text)
                taken = true;
            return !taken;
        });
        if (taken) {
            emit editRefused(tr("Another album already uses the file \"%1\".").arg(text));
            return false;
        }
        album->setXMLFile(text);
    } else {
        return false;
    }
    // A rename must survive a quit, so it counts as an unsaved change.
    m_data->setNeedsToSaveChanges(true);
    emit dataChanged(index, index);
    return true;
}

Qt::ItemFlags AlbumTreeModel::flags(const QModelIndex &index) const
{
    const TreeNode *node = nodeForIndex(index);
    if (!node)
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == TitleColumn || (index.column() == XMLFileColumn && node->isAlbum()))
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

QString AlbumTreeModel::copyDefaultThumb(const QString &resource, QString *error)
{
    // A fresh name per node: a key shared with a thumbnail made in the same
    // hundredth of a second would make two nodes overwrite one file.
    quint64 key = timeKey();
    QString name = thumbnailFileName(key);
    while (QFileInfo::exists(m_prefs->imgPath(name)))
        name = thumbnailFileName(++key);
    QString why;
    if (!copyResource(resource, m_prefs->imgPath(name), &why) && error)
        *error = tr("The default thumbnail could not be written to %1: %2").arg(m_prefs->imgPath(name), why);
    return name;
}

QModelIndex AlbumTreeModel::insertNode(NodePtr node, TreeNode *selected)
{
    AlbumCollection *parent = nullptr;
    if (selected && selected->isCollection())
        parent = static_cast<AlbumCollection *>(selected);
    else if (selected && selected->isAlbum())
        parent = selected->parentCollection();

    QList<NodePtr> &list = parent ? parent->items() : m_data->albums();
    const int row = int(list.size());
    beginInsertRows(indexForNode(parent), row, row);
    node->setParentCollection(parent);
    list.append(node);
    endInsertRows();
    m_data->setNeedsToSaveChanges(true);
    return indexForNode(node.get());
}

QModelIndex AlbumTreeModel::newCollection(TreeNode *selected, QString *error)
{
    auto coll = std::make_shared<AlbumCollection>();
    coll->setTitle(QStringLiteral("Untitled"));
    const QModelIndex index = insertNode(coll, selected);
    coll->setThumbFile(copyDefaultThumb(QStringLiteral("collthumb.jpg"), error));
    return index;
}

QModelIndex AlbumTreeModel::newAlbum(TreeNode *selected, QString *error)
{
    auto album = std::make_shared<Album>();
    album->setTitle(QStringLiteral("Untitled"));
    // Never reuse a name that is on disk or in the tree: that album's items
    // would be overwritten by the next save.
    const int digit = AlbumCounter::takeDigit();
    quint64 key = timeKey();
    auto inUse = [this](const QString &name) {
        bool used = QFileInfo::exists(m_prefs->xmlPath(name));
        m_data->forEachNode([&](const NodePtr &n) {
            if (n->isAlbum() && static_cast<Album *>(n.get())->XMLFile() == name)
                used = true;
            return !used;
        });
        return used;
    };
    while (inUse(albumFileName(key, digit)))
        ++key;
    album->setXMLFile(albumFileName(key, digit));
    const QModelIndex index = insertNode(album, selected);
    album->setThumbFile(copyDefaultThumb(QStringLiteral("albumthumb.jpg"), error));
    return index;
}

void AlbumTreeModel::reload()
{
    beginResetModel();
    endResetModel();
}

void AlbumTreeModel::albumItemsChanged(const Album *album)
{
    const QModelIndex i = indexForNode(album, NumberColumn);
    if (i.isValid())
        emit dataChanged(i, i);
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

bool AlbumTreeModel::allImageFiles(const QMimeData *mime, const QStringList &files) const
{
    if (mime != m_checkedMime || files != m_checkedFiles) {
        m_checkedMime = mime;
        m_checkedFiles = files;
        m_checkedAllImages = std::all_of(files.begin(), files.end(), Common::isValidImageFile);
    }
    return m_checkedAllImages;
}

Qt::DropAction AlbumTreeModel::validateDrop(const QMimeData *mime, const TreeNode *target, int childIndex) const
{
    if (!mime)
        return Qt::IgnoreAction;
    const QStringList files = Pasteboard::localFiles(mime);
    if (!files.isEmpty()) {
        if (target && target->isAlbum()) {
            if (allImageFiles(mime, files))
                return Qt::CopyAction;
            if (files.size() == 1 && Pasteboard::isMovieFile(files.first()))
                return Qt::CopyAction;
        } else if (target && target->isCollection() && childIndex == -1) {
            if (files.size() == 1 && allImageFiles(mime, files))
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

bool AlbumTreeModel::canDropMimeData(const QMimeData *mime, Qt::DropAction, int row, int,
                                     const QModelIndex &parent) const
{
    const TreeNode *target = nodeForIndex(parent.sibling(parent.row(), 0));
    if (parent.isValid() && !target)
        return false;
    return validateDrop(mime, target, row) != Qt::IgnoreAction;
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
        makeThumbnail(*target, files.first());
        m_data->setNeedsToSaveChanges(true);
        return true;
    }
    if (Pasteboard::hasItems(mime) && target) {
        Album *from = m_data->selectedAlbum();
        const QList<ItemPtr> items = Pasteboard::readItems(mime, from);
        if (target->isAlbum()) {
            auto *to = static_cast<Album *>(target);
            for (const ItemPtr &item : items) {
                to->addItem(item);
                from->removeItem(item.get());
            }
            albumItemsChanged(to);
            albumItemsChanged(from);
            m_data->setNeedsToSaveChanges(true);
            emit itemsMoved(from, to);
            return true;
        }
        // One item onto a collection gives the collection its picture.
        const Item &item = *items.first();
        QString name;
        if (item.isPhoto())
            name = static_cast<const Photo &>(item).smallImageFile();
        else
            name = static_cast<const Video &>(item).thumbFile();
        const QString source = m_prefs->imgPath(name);
        if (!source.isNull())
            makeThumbnail(*target, source);
        m_data->setNeedsToSaveChanges(true);
        return true;
    }
    NodePtr node = Pasteboard::readNode(mime, Pasteboard::AlbumType, *m_data);
    if (!node)
        node = Pasteboard::readNode(mime, Pasteboard::CollectionType, *m_data);
    if (node) {
        moveNode(node, target, childIndex);
        m_data->setNeedsToSaveChanges(true);
        return true;
    }
    return false;
}

void AlbumTreeModel::makeThumbnail(TreeNode &node, const QString &source)
{
    makeNodeThumbnail(*m_prefs, node, source);
    emit thumbnailChanged(&node);
}

void AlbumTreeModel::moveNode(const NodePtr &node, TreeNode *target, int childIndex)
{
    AlbumCollection *from = node->parentCollection();
    auto *to = static_cast<AlbumCollection *>(target); // validated: a collection or the top level
    QList<NodePtr> &source = from ? from->items() : m_data->albums();
    QList<NodePtr> &dest = to ? to->items() : m_data->albums();
    const int oldRow = indexOfNode(source, node.get());
    if (oldRow < 0)
        return;
    // The views are told in their own terms: the position before removal.
    const int viewDest = childIndex < 0 ? int(dest.size()) : std::min(childIndex, int(dest.size()));
    const bool same = from == to;
    if (same && (viewDest == oldRow || viewDest == oldRow + 1)) {
        emit nodeMoved(node.get()); // already there
        return;
    }
    int i = childIndex;
    if (same && i >= 0 && oldRow < i)
        --i; // removing the node shifts the later positions
    const bool announced = beginMoveRows(indexForNode(from), oldRow, oldRow, indexForNode(to), viewDest);
    if (!announced)
        beginResetModel();
    qm::removeNode(source, node.get());
    if (i < 0 || i > dest.size())
        dest.append(node);
    else
        dest.insert(i, node);
    node->setParentCollection(to);
    if (announced)
        endMoveRows();
    else
        endResetModel();
    emit nodeMoved(node.get());
}

void AlbumTreeModel::removeNode(const TreeNode *node)
{
    if (!node)
        return;
    AlbumCollection *parent = node->parentCollection();
    QList<NodePtr> &list = parent ? parent->items() : m_data->albums();
    const int row = indexOfNode(list, node);
    if (row < 0)
        return;
    beginRemoveRows(indexForNode(parent), row, row);
    qm::removeNode(list, node); // every occurrence of that very object
    endRemoveRows();
}

} // namespace qm
