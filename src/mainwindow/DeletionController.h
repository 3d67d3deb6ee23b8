#pragma once

#include "model/Data.h"
#include "storage/GalleryTrash.h"

#include <QObject>

class QAbstractItemView;
class QWidget;

namespace qm {

class AlbumTreeModel;
class Gallery;
class ItemListModel;
class ItemListView;

// The Delete command: what is selected (the list's items when the list has
// the focus and a selection, else the tree's node), the question, and the
// gallery's deletion (the files go to the desktop's trash, as a job, and
// Undo brings them back). Where no trash can take the gallery's files, the
// question says so and offers to delete them for good; it never promises
// an Undo that cannot be kept. A drop on the trash well asks only then.
class DeletionController : public QObject
{
    Q_OBJECT
public:
    DeletionController(Gallery *gallery, QWidget *window, QAbstractItemView *tree, AlbumTreeModel *treeModel,
                       ItemListView *list, ItemListModel *itemModel);

    // The question, e.g. "Delete the album “Trip” with 3 photos?".
    static QString question(const TreeNode &node);
    static QString question(const QList<ItemPtr> &items);

    // Why the desktop's trash cannot take the gallery's files; empty when it can.
    QString noTrashReason() const;
    // `ask` false: without a question where the trash takes the files.
    void deleteNode(const NodePtr &node, bool ask);
    void deleteItems(Album *album, const QList<ItemPtr> &items, bool ask);

public slots:
    void clickedDelete();

private:
    // False when the user cancelled; `how` says where the files go.
    bool confirm(const QString &what, bool ask, Removal &how);

    Gallery *m_gallery;
    QWidget *m_window;
    QAbstractItemView *m_tree;
    AlbumTreeModel *m_treeModel;
    ItemListView *m_list;
    ItemListModel *m_itemModel;
};

} // namespace qm
