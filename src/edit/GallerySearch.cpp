#include "edit/GallerySearch.h"

namespace qm {

namespace {

// Whether `haystack` holds `word` (lower-case ASCII) in any case. Most
// queries are plain words; this is several times quicker than Qt's search
// for any case, which a keystroke runs over every field of the gallery.
bool containsAscii(QStringView haystack, QStringView word)
{
    const char16_t *h = haystack.utf16();
    const char16_t *w = word.utf16();
    const qsizetype n = word.size();
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c | 0x20) : c; };
    for (qsizetype i = 0, last = haystack.size() - n; i <= last; ++i) {
        if (lower(h[i]) != w[0])
            continue;
        qsizetype j = 1;
        while (j < n && lower(h[i + j]) == w[j])
            ++j;
        if (j == n)
            return true;
    }
    return false;
}

} // namespace

GallerySearch::Query::Query(const QString &text, const DateForm &hint)
    : m_text(text.simplified())
    , m_hint(hint)
{
    if (m_text.isEmpty())
        return;
    for (const QString &word : m_text.split(QLatin1Char(' '))) {
        const bool ascii = std::all_of(word.begin(), word.end(), [](QChar c) { return c.unicode() < 128; });
        m_words << (ascii ? word.toLower() : word);
        m_ascii << ascii;
    }
    const DateReading r = DateForm::read(m_text, hint);
    if (!r.isValid())
        return;
    const QString &pattern = r.form.pattern();
    m_date = r.date;
    m_precision = pattern.contains(QLatin1Char('d')) ? Day : pattern.contains(QLatin1Char('M')) ? Month : Year;
    m_year = QString::number(r.date.year());
}

bool GallerySearch::Query::matchesDate(const QString &date) const
{
    if (m_precision == None || !date.contains(m_year))
        return false;
    auto it = m_read.constFind(date);
    if (it == m_read.constEnd())
        it = m_read.insert(date, DateForm::read(date, m_hint).date);
    const QDate d = *it;
    if (!d.isValid() || d.year() != m_date.year())
        return false;
    return m_precision == Year || (d.month() == m_date.month() && (m_precision == Month || d.day() == m_date.day()));
}

bool GallerySearch::Query::inAny(std::initializer_list<QStringView> fields) const
{
    for (qsizetype i = 0; i < m_words.size(); ++i) {
        const bool found = std::any_of(fields.begin(), fields.end(), [&](QStringView field) {
            return m_ascii[i] ? containsAscii(field, m_words[i]) : field.contains(m_words[i], Qt::CaseInsensitive);
        });
        if (!found)
            return false;
    }
    return true;
}

bool GallerySearch::Query::matchesNode(const TreeNode &node) const
{
    return !m_words.isEmpty()
        && inAny({node.title(), node.isAlbum() ? QStringView(static_cast<const Album &>(node).description()) : QStringView()});
}

bool GallerySearch::Query::matchesItem(const Item &item) const
{
    return !m_words.isEmpty()
        && (inAny({item.title(), item.date(), item.location(), item.description()}) || matchesDate(item.date()));
}

GallerySearch::Result GallerySearch::find(const Data &data, const QString &query, const DateForm &hint)
{
    Result result;
    result.query = std::make_shared<const Query>(query, hint);
    if (result.isEmpty())
        return result;
    const Query &q = *result.query;
    auto show = [&](const TreeNode *node) {
        for (; node && !result.shownNodes.contains(node); node = node->parentCollection())
            result.shownNodes.insert(node);
    };
    data.forEachNode([&](const NodePtr &n) {
        TreeNode *node = n.get();
        if (q.matchesNode(*node)) {
            result.hits.append({node, nullptr});
            show(node);
            if (node->isAlbum())
                result.wholeAlbums.insert(static_cast<const Album *>(node));
        }
        if (!node->isAlbum())
            return true;
        bool any = false;
        for (const ItemPtr &item : static_cast<const Album *>(node)->items()) {
            if (q.matchesItem(*item)) {
                result.hits.append({node, item.get()});
                ++result.itemCount;
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
