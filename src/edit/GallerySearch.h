#pragma once

#include "import/DateForm.h"
#include "model/Data.h"

#include <QList>
#include <QSet>
#include <QString>

namespace qm {

// Finds what the user types across the whole gallery. Every word of the
// query must appear, ignoring case, in an item's title, date, location or
// description, or in an album's or collection's title (an album's
// description too). A query that reads as a date ("2026-05-02",
// "2 May 2026", "May 2026") also finds the items dated that day, month or
// year in any of the gallery's date forms.
class GallerySearch
{
public:
    // One thing found, in the tree's order: a node that matched itself
    // (item null), or an item of an album.
    struct Hit
    {
        TreeNode *node = nullptr;
        Item *item = nullptr;
    };
    struct Result
    {
        QString query;
        QList<Hit> hits;
        // What the tree shows: the nodes found and every collection above them.
        QSet<const TreeNode *> shownNodes;
        // Albums found by their own title or description show all their items.
        QSet<const Album *> wholeAlbums;
        QSet<const Item *> items;
        int albumsWithItems = 0;

        bool isEmpty() const { return query.isEmpty(); }
        bool showsItem(const Album *album, const Item *item) const
        {
            return isEmpty() || wholeAlbums.contains(album) || items.contains(item);
        }
    };

    static Result find(const Data &data, const QString &query, const DateForm &hint = DateForm());

    // Whether the text holds every word (each compared ignoring case).
    static bool containsAll(const QStringList &words, std::initializer_list<QStringView> fields);
};

} // namespace qm
