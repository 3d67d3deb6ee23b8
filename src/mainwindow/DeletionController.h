#pragma once

#include "model/Data.h"

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
// gallery's deletion (the files go to the desktop's trash, many of them as
// a job, and Undo brings them back). A drop on the trash well deletes
// through the gallery without asking.
class DeletionController : public QObject
{
    Q_OBJECT
public:
    DeletionController(Gallery *gallery, QWidget *window, QAbstractItemView *tree, AlbumTreeModel *treeModel,
                       ItemListView *list, ItemListModel *itemModel);

    // The question, e.g. "Delete the album “Trip” with 3 photos?".
    static QString question(const TreeNode &node);
    static QString question(const QList<ItemPtr> &items);

public slots:
    void clickedDelete();

private:
    bool confirm(const QString &what);

    Gallery *m_gallery;
    QWidget *m_window;
    QAbstractItemView *m_tree;
    AlbumTreeModel *m_treeModel;
    ItemListView *m_list;
    ItemListModel *m_itemModel;
};

} // namespace qm
