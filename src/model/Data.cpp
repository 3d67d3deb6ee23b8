#include "model/Data.h"

#include <QStack>

namespace qm {

QList<NodePtr> &Data::siblingsOf(const TreeNode *node)
{
    if (AlbumCollection *parent = node->parentCollection())
        return parent->items();
    return m_albums;
}

void Data::forEachNode(const std::function<bool(const NodePtr &)> &visit) const
{
    // Explicit stack: a hostile index file may nest very deeply.
    QStack<std::pair<const QList<NodePtr> *, qsizetype>> stack;
    stack.push({&m_albums, 0});
    while (!stack.isEmpty()) {
        auto &[list, pos] = stack.top();
        if (pos >= list->size()) {
            stack.pop();
            continue;
        }
        const NodePtr &node = (*list)[pos++];
        if (!visit(node))
            return;
        if (node->isCollection())
            stack.push({&static_cast<AlbumCollection *>(node.get())->items(), 0});
    }
}

NodePtr Data::findNode(quint64 id) const
{
    NodePtr found;
    forEachNode([&](const NodePtr &n) {
        if (n->id() == id) {
            found = n;
            return false;
        }
        return true;
    });
    return found;
}

ItemPtr Data::findItem(quint64 id) const
{
    ItemPtr found;
    forEachNode([&](const NodePtr &n) {
        if (!n->isAlbum())
            return true;
        for (const ItemPtr &item : static_cast<Album *>(n.get())->items()) {
            if (item->id() == id) {
                found = item;
                return false;
            }
        }
        return true;
    });
    return found;
}

} // namespace qm
