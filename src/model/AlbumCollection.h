#pragma once

#include "model/TreeNode.h"

#include <QList>

namespace qm {

class AlbumCollection : public TreeNode
{
public:
    AlbumCollection() : TreeNode(Kind::Collection) {}

    QList<NodePtr> &items() { return m_items; }
    const QList<NodePtr> &items() const { return m_items; }
    void addItem(NodePtr node) { m_items.append(std::move(node)); }
    void insertItem(NodePtr node, qint32 index) { m_items.insert(index, std::move(node)); }
    // Removes every occurrence of that very object; parent links are left alone.
    void removeItem(const TreeNode *node);

private:
    QList<NodePtr> m_items;
};

using CollectionPtr = std::shared_ptr<AlbumCollection>;

// Shared helpers for the two node lists (collection children and the top level).
int indexOfNode(const QList<NodePtr> &list, const TreeNode *node);
void removeNode(QList<NodePtr> &list, const TreeNode *node);

} // namespace qm
