#pragma once

#include "edit/GallerySearch.h"

#include <QObject>
#include <QSet>
#include <QTimer>

class QLineEdit;
class QTreeView;

namespace qm {

class AlbumTreeModel;
class Gallery;
class ItemListModel;
class ItemListView;

// The find field of the main window. What is typed filters the album tree
// to the albums and collections that match or hold a match, and the item
// list to the items that match (all of an album found by its own title).
// Return, Find Next and Find Previous go from one thing found to the next:
// its album is selected in the tree and the item in the list. Escape, or
// an empty field, shows everything again as it was.
class FindController : public QObject
{
    Q_OBJECT
public:
    FindController(Gallery *gallery, AlbumTreeModel *treeModel, QTreeView *tree, ItemListModel *itemModel,
                   ItemListView *list, QObject *parent = nullptr);

    QLineEdit *field() const { return m_field; }
    const GallerySearch::Result &result() const { return m_result; }
    bool isActive() const { return !m_result.isEmpty(); }

    // Searches for the field's text now (typing waits for the event loop).
    void search();
    void findNext() { jump(+1); }
    void findPrevious() { jump(-1); }
    void clear();

signals:
    void status(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void filterTree();
    void filterItems();
    void jump(int step);
    void changedWhileActive();

    Gallery *m_gallery;
    AlbumTreeModel *m_treeModel;
    QTreeView *m_tree;
    ItemListModel *m_itemModel;
    ItemListView *m_list;
    QLineEdit *m_field;
    QTimer m_typing;
    GallerySearch::Result m_result;
    int m_hit = -1;
    // The gallery's own date form, for dates that read both ways; taken
    // when a search starts.
    std::optional<DateForm> m_hint;
    QSet<const TreeNode *> m_hiddenNodes;
    QSet<const TreeNode *> m_expandedBefore;
    bool m_treeFiltered = false;
};

} // namespace qm
