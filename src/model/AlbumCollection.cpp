#include "model/AlbumCollection.h"

namespace qm {

int indexOfNode(const QList<NodePtr> &list, const TreeNode *node)
{
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (list[i].get() == node)
            return int(i);
    }
    return -1;
}

void removeNode(QList<NodePtr> &list, const TreeNode *node)
{
    list.removeIf([node](const NodePtr &p) { return p.get() == node; });
}

void AlbumCollection::removeItem(const TreeNode *node)
{
    removeNode(m_items, node);
}

} // namespace qm
