#include "edit/GallerySearch.h"

namespace qm {

namespace {

// What a query that reads as a date finds: the same day, month or year.
struct DateQuery
{
    QDate date;
    enum { None, Day, Month, Year } precision = None;
    QString year; // the year's digits, which every form of the date writes
    // A gallery writes few different dates: each is read once.
    mutable QHash<QString, QDate> read;

    bool matches(const QString &text, const DateForm &hint) const
    {
        if (precision == None || !text.contains(year))
            return false;
        auto it = read.constFind(text);
        if (it == read.constEnd())
            it = read.insert(text, DateForm::read(text, hint).date);
        const QDate d = *it;
        if (!d.isValid() || d.year() != date.year())
            return false;
        return precision == Year || (d.month() == date.month() && (precision == Month || d.day() == date.day()));
    }
};

DateQuery dateQuery(const QString &query, const DateForm &hint)
{
    DateQuery q;
    const DateReading r = DateForm::read(query, hint);
    if (!r.isValid())
        return q;
    const QString &pattern = r.form.pattern();
    q.date = r.date;
    q.precision = pattern.contains(QLatin1Char('d')) ? DateQuery::Day
        : pattern.contains(QLatin1Char('M'))         ? DateQuery::Month
                                                     : DateQuery::Year;
    q.year = QString::number(r.date.year());
    return q;
}

} // namespace

bool GallerySearch::containsAll(const QStringList &words, std::initializer_list<QStringView> fields)
{
    for (const QString &word : words) {
        bool found = false;
        for (QStringView field : fields) {
            if (field.contains(word, Qt::CaseInsensitive)) {
                found = true;
                break;
            }
        }
        if (!found)
            return false;
    }
    return true;
}

GallerySearch::Result GallerySearch::find(const Data &data, const QString &query, const DateForm &hint)
{
    Result result;
    result.query = query.simplified();
    if (result.query.isEmpty())
        return result;
    const QStringList words = result.query.split(QLatin1Char(' '));
    const DateQuery byDate = dateQuery(result.query, hint);

    auto show = [&](const TreeNode *node) {
        for (; node && !result.shownNodes.contains(node); node = node->parentCollection())
            result.shownNodes.insert(node);
    };
    data.forEachNode([&](const NodePtr &n) {
        TreeNode *node = n.get();
        const Album *album = node->isAlbum() ? static_cast<const Album *>(node) : nullptr;
        if (containsAll(words, {node->title(), album ? QStringView(album->description()) : QStringView()})) {
            result.hits.append({node, nullptr});
            show(node);
            if (album)
                result.wholeAlbums.insert(album);
        }
        if (!album)
            return true;
        bool any = false;
        for (const ItemPtr &item : album->items()) {
            if (containsAll(words, {item->title(), item->date(), item->location(), item->description()})
                || byDate.matches(item->date(), hint)) {
                result.hits.append({node, item.get()});
                result.items.insert(item.get());
                any = true;
            }
        }
        if (any) {
            ++result.albumsWithItems;
            show(node);
        }
        return true;
    });
    return result;
}

} // namespace qm
