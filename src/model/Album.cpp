#include "model/Album.h"

namespace qm {

void Album::removeItem(const Item *item)
{
    m_items.removeIf([item](const ItemPtr &p) { return p.get() == item; });
}

int Album::indexOfItem(const Item *item) const
{
    for (qsizetype i = 0; i < m_items.size(); ++i) {
        if (m_items[i].get() == item)
            return int(i);
    }
    return -1;
}

} // namespace qm
