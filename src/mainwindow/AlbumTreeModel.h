#pragma once

#include "model/Data.h"

#include <QAbstractItemModel>

namespace qm {

class DropHandler;
class Preferences;

// The tree of collections and albums, straight over Data: the model objects
// are the rows, nothing is copied. Every change to the tree goes through
// here so that views hear of it.
class AlbumTreeModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    enum Column { TitleColumn = 0, NumberColumn, XMLFileColumn, ColumnCount };

    AlbumTreeModel(Data *data, Preferences *prefs, QObject *parent = nullptr);

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
    bool acceptDrop(const QMimeData *mime, TreeNode *target, int childIndex);
    void setDropHandler(DropHandler *handler) { m_dropHandler = handler; }

    // Takes a node and everything below it out of the tree (files are the
    // caller's business).
    void removeNode(const TreeNode *node);

    TreeNode *nodeForIndex(const QModelIndex &index) const;
    NodePtr nodePtrForIndex(const QModelIndex &index) const;
    QModelIndex indexForNode(const TreeNode *node, int column = 0) const;

    // New "Untitled" nodes placed by the selection rule: top level with
    // nothing selected, beside a selected album, inside a selected
    // collection. Returns the new node's index; `error` gets why its default
    // thumbnail could not be copied (the node is made regardless).
    QModelIndex newCollection(TreeNode *selected, QString *error = nullptr);
    QModelIndex newAlbum(TreeNode *selected, QString *error = nullptr);

    // The whole tree was replaced (a gallery was loaded).
    void reload();
    // An album's item count changed.
    void albumItemsChanged(const Album *album);

signals:
    // A node was moved; selections showing the old place are stale.
    void nodeMoved(TreeNode *node);
    // Items left `from` (the album shown in the item list) for `to`.
    void itemsMoved(Album *from, Album *to);
    // A node's thumbnail picture was (re)made.
    void thumbnailChanged(TreeNode *node);
    // An edit was refused; the text says why, for the status bar.
    void editRefused(const QString &reason);

private:
    QModelIndex insertNode(NodePtr node, TreeNode *selected);
    QString copyDefaultThumb(const QString &resource, QString *error);
    const QList<NodePtr> &childrenOf(const TreeNode *node) const;
    int rowOf(const TreeNode *node) const;

    void moveNode(const NodePtr &node, TreeNode *target, int childIndex);
    void makeThumbnail(TreeNode &node, const QString &source);
    bool allImageFiles(const QMimeData *mime, const QStringList &files) const;

    Data *m_data;
    Preferences *m_prefs;
    DropHandler *m_dropHandler = nullptr;
    // The image check is asked on every move of a drag; files are checked once per drag.
    mutable const QMimeData *m_checkedMime = nullptr;
    mutable QStringList m_checkedFiles;
    mutable bool m_checkedAllImages = false;
};

} // namespace qm
