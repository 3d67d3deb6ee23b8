#include "model/TreeNode.h"

#include "model/AlbumCollection.h"

#include <atomic>

namespace qm {

quint64 nextObjectId()
{
    static std::atomic<quint64> counter{0};
    return ++counter;
}

TreeNode::TreeNode(Kind kind)
    : m_kind(kind)
    , m_id(nextObjectId())
{
}

TreeNode::~TreeNode() = default;

bool TreeNode::isCollectionAncestor(const AlbumCollection *collection) const
{
    // Iterative form of the recursive walk; same result, no stack growth.
    for (const AlbumCollection *p = m_parent; p; p = p->parentCollection()) {
        if (p == collection)
            return true;
    }
    return false;
}

} // namespace qm
