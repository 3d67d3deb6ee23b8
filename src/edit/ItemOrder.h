#pragma once

#include "import/DateForm.h"
#include "model/Item.h"

#include <QList>

namespace qm {

enum class SortKey { DateTaken, Title, FileName };

// An album's items put in order by one key, the way a person reads it:
// dates in whatever form the gallery writes them, titles and file names
// with their numbers as numbers ("Harbour 2" before "Harbour 10"). The sort
// is stable, so items the key cannot tell apart keep their order; items
// whose date cannot be read go after the dated ones. `hint` is the
// gallery's own date form (for dates like 03/04/2008).
QList<ItemPtr> sortedItems(const QList<ItemPtr> &items, SortKey key, const DateForm &hint = DateForm());

// What the key is called in menus and in the name of the step.
QString sortKeyName(SortKey key);

// The name an item's main file has: a photo's normal picture, a video's first stream.
QString mainFileName(const Item &item);

} // namespace qm
