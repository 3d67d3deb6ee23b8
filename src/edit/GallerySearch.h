#pragma once

#include "import/DateForm.h"
#include "model/Data.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <memory>

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
    // What was typed, taken apart once.
    class Query
    {
    public:
        Query(const QString &text, const DateForm &hint);
        const QString &text() const { return m_text; }
        bool isEmpty() const { return m_text.isEmpty(); }
        bool matchesNode(const TreeNode &node) const;
        bool matchesItem(const Item &item) const;

    private:
        bool matchesDate(const QString &date) const;
        bool inAny(std::initializer_list<QStringView> fields) const;

        QString m_text;
        QStringList m_words; // lower case where they are plain ASCII
        QList<bool> m_ascii;
        DateForm m_hint;
        QDate m_date;
        enum { None, Day, Month, Year } m_precision = None;
        QString m_year; // its digits, which every form of the date writes
        // A gallery writes few different dates: each is read once.
        mutable QHash<QString, QDate> m_read;
    };

    // One thing found, in the tree's order: a node that matched itself
    // (item null), or an item of an album.
    struct Hit
    {
        TreeNode *node = nullptr;
        Item *item = nullptr;
    };
    struct Result
    {
        std::shared_ptr<const Query> query;
        QList<Hit> hits;
        // What the tree shows: the nodes found and every collection above them.
        QSet<const TreeNode *> shownNodes;
        // Albums found by their own title or description show all their items.
        QSet<const Album *> wholeAlbums;
        int itemCount = 0;
        int albumsWithItems = 0;

        bool isEmpty() const { return !query || query->isEmpty(); }
        QString text() const { return query ? query->text() : QString(); }
        bool showsItem(const Album *album, const Item *item) const
        {
            return isEmpty() || wholeAlbums.contains(album) || query->matchesItem(*item);
        }
    };

    static Result find(const Data &data, const QString &query, const DateForm &hint = DateForm());
};

} // namespace qm
