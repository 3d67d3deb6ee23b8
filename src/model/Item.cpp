#include "model/Item.h"

#include "model/TreeNode.h"

namespace qm {

Item::Item(Kind kind)
    : m_kind(kind)
    , m_id(nextObjectId())
{
}

Item::~Item() = default;

} // namespace qm
