#pragma once

#include "model/Album.h"
#include "model/AlbumCollection.h"
#include "model/Item.h"

#include <QList>

#include <functional>

namespace qm {

// The document: the top-level list of the tree, the main window's selection
// and the dirty flag. The selection fields do not own what they point to;
// whoever removes a node or item clears them first.
class Data
{
public:
    QList<NodePtr> &albums() { return m_albums; }
    const QList<NodePtr> &albums() const { return m_albums; }

    Album *selectedAlbum() const { return m_selectedAlbum; }
    void setSelectedAlbum(Album *album) { m_selectedAlbum = album; }
    AlbumCollection *selectedCollection() const { return m_selectedCollection; }
    void setSelectedCollection(AlbumCollection *c) { m_selectedCollection = c; }
    Item *selectedItem() const { return m_selectedItem; }
    void setSelectedItem(Item *item) { m_selectedItem = item; }

    bool needsToSaveChanges() const { return m_needsToSaveChanges; }
    void setNeedsToSaveChanges(bool v) { m_needsToSaveChanges = v; }

    // The list a node lives in: its parent's children, or the top level.
    QList<NodePtr> &siblingsOf(const TreeNode *node);

    // Depth-first walk over every node; stops early when `visit` returns false.
    void forEachNode(const std::function<bool(const NodePtr &)> &visit) const;

    // Owning handles for live objects, or null when nothing in the tree has that id.
    NodePtr findNode(quint64 id) const;
    ItemPtr findItem(quint64 id) const;

private:
    QList<NodePtr> m_albums;
    Album *m_selectedAlbum = nullptr;
    AlbumCollection *m_selectedCollection = nullptr;
    Item *m_selectedItem = nullptr;
    bool m_needsToSaveChanges = false;
};

} // namespace qm
