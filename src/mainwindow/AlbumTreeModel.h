#pragma once

#include "mainwindow/DropHandler.h"
#include "mainwindow/Pasteboard.h"
#include "model/Data.h"
#include "storage/Gallery.h"

#include <QAbstractItemModel>

namespace qm {

// The tree of collections and albums, straight over the gallery's Data: the
// model objects are the rows, nothing is copied. Changes go to the gallery
// document; its signals come back here as row signals.
class ThumbnailCache;

class AlbumTreeModel : public QAbstractItemModel, public DropDecision
{
    Q_OBJECT
public:
    enum Column { TitleColumn = 0, NumberColumn, XMLFileColumn, ColumnCount };

    explicit AlbumTreeModel(Gallery *gallery, QObject *parent = nullptr);

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Drag and drop. Albums and collections are dragged one at a time;
    // what may be dropped where is validateDrop(), on model terms: a null
    // target is the top level, child index -1 a drop onto the target itself.
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    bool canDropMimeData(const QMimeData *mime, Qt::DropAction action, int row, int column,
                         const QModelIndex &parent) const override;
    bool dropMimeData(const QMimeData *mime, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;
    Qt::DropAction validateDrop(const QMimeData *mime, const TreeNode *target, int childIndex) const;
    Qt::DropAction dropAction(const QMimeData *mime, int row, const QModelIndex &parent) const override;
    bool acceptDrop(const QMimeData *mime, TreeNode *target, int childIndex);
    void setDropHandler(DropHandler *handler) { m_dropHandler = handler; }
    // Node thumbnails in the title column; a node without one shows its kind.
    void setThumbnails(ThumbnailCache *thumbnails);

    // What a node holds: its items, and the albums they are in.
    struct Counts
    {
        int items = 0;
        int albums = 0;
    };
    static Counts countsOf(const TreeNode &node);

    TreeNode *nodeForIndex(const QModelIndex &index) const;
    NodePtr nodePtrForIndex(const QModelIndex &index) const;
    QModelIndex indexForNode(const TreeNode *node, int column = 0) const;

signals:
    // An album or collection was dropped in the tree (moved, or left where it was).
    void nodeDropped(qm::TreeNode *node);
    // Items left the album shown in the item list for another.
    void itemsMoved(qm::Album *from, qm::Album *to);
    // An edit or a drop was refused; the text says why, for the status bar.
    void editRefused(const QString &reason);

private:
    const QList<NodePtr> &childrenOf(const TreeNode *node) const;
    int rowOf(const TreeNode *node) const;
    void connectGallery();

    Gallery *m_gallery;
    const Data *m_data;
    DropHandler *m_dropHandler = nullptr;
    ThumbnailCache *m_thumbnails = nullptr;
    bool m_moveAnnounced = false;
    // The image check is asked on every move of a drag; files are checked once per drag.
    Pasteboard::ImageFilesCheck m_imageFiles;
};

} // namespace qm
