#include "storage/GalleryXml.h"

#include "model/Photo.h"
#include "model/Video.h"

#include <QStringConverter>
#include <QXmlStreamReader>

#include <limits>

namespace qm {

using namespace Qt::StringLiterals;

ForeignXmlPtr ForeignXml::child(QStringView name) const
{
    for (const auto &[n, own] : children) {
        if (n == name)
            return own;
    }
    return nullptr;
}

namespace {

// --- decoding

// The encoding named by an XML declaration at the start, if any.
QByteArray declaredEncoding(const QByteArray &bytes)
{
    if (!bytes.startsWith("<?xml"))
        return QByteArray();
    const qsizetype end = bytes.indexOf("?>");
    const QByteArray decl = bytes.left(end < 0 ? 0 : end);
    const qsizetype at = decl.indexOf("encoding");
    if (at < 0)
        return QByteArray();
    qsizetype i = decl.indexOf('=', at);
    while (++i < decl.size() && (decl[i] == ' ' || decl[i] == '\t' || decl[i] == '\n' || decl[i] == '\r')) {
    }
    if (i >= decl.size() || (decl[i] != '"' && decl[i] != '\''))
        return QByteArray();
    const qsizetype close = decl.indexOf(decl[i], i + 1);
    return close < 0 ? QByteArray() : decl.mid(i + 1, close - i - 1);
}

// --- reading

// The document being read: the reader over its whole text, so that what
// the model does not hold can be taken as written.
struct Doc
{
    explicit Doc(const QString &t) : text(t), r(t) {}
    const QString &text;
    QXmlStreamReader r;
    QString partly;

    qsizetype at() const { return r.characterOffset(); }
    // Where the tag the reader stands on begins: no "<" can stand inside a tag.
    qsizetype tagStart() const { return text.lastIndexOf(u'<', std::max<qsizetype>(at() - 1, 0)); }
    QString slice(qsizetype from, qsizetype to) const
    {
        return to > from ? QStringView(text).mid(from, to - from).trimmed().toString() : QString();
    }
};

bool isSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

// The attributes of a start tag other than those the writer makes itself,
// as written, each after one space.
QString foreignAttributes(const Doc &d, std::initializer_list<QStringView> written)
{
    if (d.r.attributes().isEmpty() && d.r.namespaceDeclarations().isEmpty())
        return QString();
    const QStringView tag = QStringView(d.text).mid(d.tagStart(), d.at() - d.tagStart());
    QString out;
    qsizetype i = 1;
    while (i < tag.size() && !isSpace(tag[i]) && tag[i] != u'>' && tag[i] != u'/')
        ++i;
    for (;;) {
        while (i < tag.size() && isSpace(tag[i]))
            ++i;
        if (i >= tag.size() || tag[i] == u'>' || tag[i] == u'/')
            break;
        const qsizetype nameStart = i;
        while (i < tag.size() && !isSpace(tag[i]) && tag[i] != u'=')
            ++i;
        const QStringView name = tag.mid(nameStart, i - nameStart);
        while (i < tag.size() && (isSpace(tag[i]) || tag[i] == u'='))
            ++i;
        if (i >= tag.size())
            break;
        const QChar quote = tag[i];
        const qsizetype close = tag.indexOf(quote, i + 1);
        if (close < 0)
            break;
        if (std::find(written.begin(), written.end(), name) == written.end())
            out += u' ' + name.toString() + u'=' + tag.mid(i, close - i + 1).toString();
        i = close + 1;
    }
    return out;
}

// Whether the content of a text element says more than its value: a
// comment, an element, or an entity reference other than the five the
// writer makes and character references.
bool saysMore(QStringView raw)
{
    if (raw.contains(u'<'))
        return true;
    for (qsizetype amp = raw.indexOf(u'&'); amp >= 0; amp = raw.indexOf(u'&', amp + 1)) {
        const QStringView rest = raw.mid(amp + 1);
        if (!(rest.startsWith(u"#") || rest.startsWith(u"amp;") || rest.startsWith(u"lt;") || rest.startsWith(u"gt;")
              || rest.startsWith(u"quot;") || rest.startsWith(u"apos;")))
            return true;
    }
    return false;
}

std::shared_ptr<ForeignXml> &made(std::shared_ptr<ForeignXml> &own)
{
    if (!own)
        own = std::make_shared<ForeignXml>();
    return own;
}

// The children of one element while they are read: every gap between the
// known children (foreign elements, comments, text) becomes a piece, and the
// start tag's foreign attributes are kept.
class Scope
{
public:
    // The reader stands on the element's start tag; it has `fixed` known
    // children of its own, and may hold items after them.
    Scope(Doc &d, int fixed, std::initializer_list<QStringView> written = {})
        : m_d(d)
        , m_fixed(fixed)
        , m_attributes(foreignAttributes(d, written))
        , m_gapStart(d.at())
    {
    }

    // On to the next child element; false at the element's end.
    bool next()
    {
        if (!m_d.r.readNextStartElement()) {
            m_end = m_d.tagStart();
            return false;
        }
        m_childStart = m_d.tagStart();
        return true;
    }
    // The child just read is the known one of `slot`. Of several with one
    // name the last counts, as for the reader; the earlier ones stay as
    // written, ahead of it, unless `dropEarlier`.
    void took(int slot, QStringView name, ForeignXmlPtr own, bool dropEarlier = false)
    {
        gap(slot, m_childStart);
        bool again = false;
        for (auto &[n, start, end] : m_taken) {
            if (n == name) {
                if (!dropEarlier)
                    piece(slot, m_d.slice(start, end));
                n = QStringView();
                again = true;
            }
        }
        if (again)
            m_children.removeIf([&](const auto &c) { return c.first == name; });
        if (own)
            m_children.append({name.toString(), own});
        m_taken.append({name, m_childStart, m_d.at()});
        m_gapStart = m_d.at();
    }
    // The child just read is an item (or node); what stood before it goes
    // with it, except ahead of the first, where it stays in the element.
    QString tookItem()
    {
        QString before = m_d.slice(m_gapStart, m_childStart);
        if (m_items++ == 0) {
            piece(m_fixed, before);
            before.clear();
        }
        m_gapStart = m_d.at();
        return before;
    }
    void foreign() { m_d.r.skipCurrentElement(); }

    // After next() said false: null when there is nothing to keep.
    std::shared_ptr<ForeignXml> finish()
    {
        gap(m_fixed + 1, m_end);
        if (m_attributes.isEmpty() && m_pieces.isEmpty() && m_children.isEmpty())
            return nullptr;
        auto own = std::make_shared<ForeignXml>();
        own->attributes = std::move(m_attributes);
        own->pieces = std::move(m_pieces);
        own->children = std::move(m_children);
        return own;
    }

private:
    void gap(int slot, qsizetype to) { piece(slot, m_d.slice(m_gapStart, to)); }
    void piece(int slot, const QString &text)
    {
        if (!text.isEmpty())
            m_pieces.append({slot, text});
    }

    Doc &m_d;
    int m_fixed;
    QString m_attributes;
    qsizetype m_gapStart;
    qsizetype m_childStart = 0;
    qsizetype m_end = 0;
    int m_items = 0;
    QList<std::pair<int, QString>> m_pieces;
    QList<std::pair<QString, ForeignXmlPtr>> m_children;
    struct Taken
    {
        QStringView name; // one of the names the readers spell out
        qsizetype start;
        qsizetype end;
    };
    QList<Taken> m_taken;
};

// A text element; its own record when it holds more than its value.
QString readText(Doc &d, ForeignXmlPtr *own, bool keepText = true)
{
    const QString attributes = foreignAttributes(d, {});
    const qsizetype from = d.at();
    // readElementText gives a null string for an empty element; the model
    // tells null from empty, and an element that is there holds "".
    QString value = d.r.readElementText(QXmlStreamReader::IncludeChildElements);
    if (value.isNull())
        value = u""_s;
    const QStringView raw = QStringView(d.text).mid(from, std::max<qsizetype>(d.tagStart() - from, 0));
    const bool more = keepText && saysMore(raw);
    if (!attributes.isEmpty() || more) {
        auto record = std::make_shared<ForeignXml>();
        record->attributes = attributes;
        if (more) {
            record->text = raw.toString();
            record->textValue = value;
        }
        *own = record;
    }
    return value;
}

// Fields of item text elements by slot: title, date, location, description.
const QStringView kItemTexts[] = {u"title", u"date", u"location", u"description"};

template<typename T>
bool readItemText(Doc &d, Scope &s, T &item)
{
    for (int slot = 0; slot < 4; ++slot) {
        if (d.r.name() == kItemTexts[slot]) {
            ForeignXmlPtr own;
            const QString value = readText(d, &own);
            switch (slot) {
            case 0: item.setTitle(value); break;
            case 1: item.setDate(value); break;
            case 2: item.setLocation(value); break;
            default: item.setDescription(value); break;
            }
            s.took(slot, kItemTexts[slot], own);
            return true;
        }
    }
    return false;
}

// An element holding "url" children: each text goes to `take` in order.
template<typename Take>
std::shared_ptr<ForeignXml> readUrls(Doc &d, Take take, std::initializer_list<QStringView> written = {})
{
    Scope s(d, 1, written);
    while (s.next()) {
        if (d.r.name() == u"url") {
            ForeignXmlPtr own;
            take(readText(d, &own));
            s.took(0, u"url", own);
        } else {
            s.foreign();
        }
    }
    return s.finish();
}

std::shared_ptr<ForeignXml> readPicture(Doc &d, Photo &photo)
{
    Scope s(d, 7);
    while (s.next()) {
        if (readItemText(d, s, photo))
            continue;
        const QStringView name = d.r.name();
        if (name == u"image") {
            s.took(4, u"image", readUrls(d, [&](const QString &t) { photo.setImageFile(t); }));
        } else if (name == u"smallimage") {
            s.took(5, u"smallimage", readUrls(d, [&](const QString &t) { photo.setSmallImageFile(t); }));
        } else if (name == u"largeimage") {
            s.took(6, u"largeimage", readUrls(d, [&](const QString &t) {
                       if (!t.isEmpty())
                           photo.setLargeImageFile(t);
                   }));
        } else {
            s.foreign();
        }
    }
    return s.finish();
}

// The decimal number at the start of the text, after leading white space.
qint32 leadingInt(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    qint64 value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > std::numeric_limits<qint32>::max())
            return negative ? std::numeric_limits<qint32>::min() : std::numeric_limits<qint32>::max();
    }
    return qint32(negative ? -value : value);
}

std::shared_ptr<ForeignXml> withBefore(std::shared_ptr<ForeignXml> own, QString before)
{
    if (!before.isEmpty())
        made(own)->before = std::move(before);
    return own;
}

std::shared_ptr<ForeignXml> readStreams(Doc &d, Video &video)
{
    Scope s(d, 0);
    while (s.next()) {
        if (d.r.name() != u"stream") {
            s.foreign();
            continue;
        }
        auto stream = std::make_shared<VideoStream>();
        video.addStream(stream);
        stream->setBitrate(leadingInt(d.r.attributes().value(QLatin1String("bitrate"))));
        auto own = readUrls(d, [&](const QString &t) { stream->setFile(t); }, {u"bitrate"});
        stream->setForeign(withBefore(std::move(own), s.tookItem()));
    }
    return s.finish();
}

std::shared_ptr<ForeignXml> readVideo(Doc &d, Video &video)
{
    Scope s(d, 6);
    while (s.next()) {
        if (readItemText(d, s, video))
            continue;
        const QStringView name = d.r.name();
        if (name == u"thumb")
            s.took(4, u"thumb", readUrls(d, [&](const QString &t) {
                       if (!t.isEmpty())
                           video.setThumbFile(t);
                   }));
        else if (name == u"video")
            s.took(5, u"video", readStreams(d, video));
        else
            s.foreign();
    }
    return s.finish();
}

QString readerError(const QXmlStreamReader &r)
{
    return QStringLiteral("not a well-formed XML file (line %1: %2)").arg(r.lineNumber()).arg(r.errorString());
}

// Drains the rest of the document so that an error anywhere is noticed.
void drain(QXmlStreamReader &r)
{
    while (!r.atEnd())
        r.readNext();
}

// Where the document proper begins: after the XML declaration, if any.
qsizetype afterDeclaration(const QString &text)
{
    if (!text.startsWith(u"<?xml") || text.size() < 6 || !isSpace(text[5]))
        return 0;
    const qsizetype end = text.indexOf(u"?>");
    return end < 0 ? 0 : end + 2;
}

// The root: what stands around it, and its attributes other than "version".
struct Root
{
    explicit Root(Doc &d)
        : prolog(d.slice(afterDeclaration(d.text), d.tagStart()))
    {
    }
    QString prolog;

    std::shared_ptr<ForeignXml> finish(Doc &d, std::shared_ptr<ForeignXml> own)
    {
        const qsizetype end = d.at();
        drain(d.r);
        QString epilog = d.slice(end, d.text.size());
        if (!prolog.isEmpty() || !epilog.isEmpty()) {
            made(own)->prolog = prolog;
            own->epilog = std::move(epilog);
        }
        return own;
    }
};

void collect(const ForeignXmlPtr &own, QList<ForeignXmlPtr> &records)
{
    if (!own)
        return;
    records.append(own);
    for (const auto &child : own->children)
        collect(child.second, records);
}

class IndexReader
{
public:
    IndexReader(Doc &d, IndexXml &out, int maxDepth) : m_d(d), m_out(out), m_maxDepth(maxDepth) {}

    std::shared_ptr<ForeignXml> readAlbum(Album &album)
    {
        Scope s(m_d, 5);
        bool named = false;
        while (s.next()) {
            const QStringView name = m_d.r.name();
            ForeignXmlPtr own;
            if (name == u"title") {
                album.setTitle(readText(m_d, &own));
                s.took(0, u"title", own);
            } else if (name == u"description") {
                album.setDescription(readText(m_d, &own));
                s.took(1, u"description", own);
            } else if (name == u"thumb") {
                s.took(2, u"thumb", readUrls(m_d, [&](const QString &t) {
                           if (!t.isEmpty())
                               album.setThumbFile(t);
                       }));
            } else if (name == u"contentnumber") {
                readText(m_d, &own, false); // the album file has the true count
                s.took(3, u"contentnumber", own);
            } else if (name == u"contentxmlurl") {
                album.setXMLFile(readText(m_d, &own));
                m_out.albumFiles.append({&album, album.XMLFile()});
                // The items of an earlier file are this album's now, and go to its file.
                s.took(4, u"contentxmlurl", own, named);
                named = true;
            } else {
                s.foreign();
            }
        }
        return s.finish();
    }

    // The children of a list; false when nested deeper than the limit.
    bool readChildren(Scope &s, QList<NodePtr> &list, AlbumCollection *parent, int depth)
    {
        if (depth > m_maxDepth)
            return false;
        while (s.next()) {
            const QStringView name = m_d.r.name();
            if (name == u"album") {
                auto album = std::make_shared<Album>();
                album->setParentCollection(parent);
                list.append(album);
                auto own = readAlbum(*album);
                album->setForeign(withBefore(std::move(own), s.tookItem()));
            } else if (name == u"collection") {
                auto coll = std::make_shared<AlbumCollection>();
                coll->setParentCollection(parent);
                list.append(coll);
                Scope inner(m_d, 2);
                if (!readChildren(inner, coll->items(), coll.get(), depth + 1))
                    return false;
                coll->setForeign(withBefore(inner.finish(), s.tookItem()));
            } else if (parent && name == u"title") {
                ForeignXmlPtr own;
                parent->setTitle(readText(m_d, &own));
                s.took(0, u"title", own);
            } else if (parent && name == u"thumb") {
                s.took(1, u"thumb", readUrls(m_d, [&](const QString &t) {
                           if (!t.isEmpty())
                               parent->setThumbFile(t);
                       }));
            } else {
                s.foreign();
            }
        }
        return true;
    }

private:
    Doc &m_d;
    IndexXml &m_out;
    int m_maxDepth;
};

// The first index file of a new gallery, which the reader does not load on
// purpose; it is not unreadable.
bool isNewGalleryIndex(const QString &text)
{
    QXmlStreamReader r(text);
    if (!r.readNextStartElement() || r.attributes().value(QLatin1String("version")) != u"2.2")
        return false;
    int children = 0;
    while (r.readNextStartElement()) {
        if (r.name() != u"collection" || ++children > 1)
            return false;
        if (r.readNextStartElement())
            return false;
    }
    drain(r);
    return !r.hasError();
}

// --- writing

// Characters XML 1.0 cannot carry at all, not even as references. Writing
// them would make the file unreadable, so they are left out.
bool allowed(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
        || (c >= 0x10000 && c <= 0x10FFFF);
}

// The document as text, indented by four spaces, an element holding only
// text on one line with it.
class XmlOut
{
public:
    XmlOut(QList<ForeignXmlPtr> &kept, qsizetype expected) : m_kept(kept) { m_s.reserve(expected); }

    void startDocument(const ForeignXml *root)
    {
        m_s += u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>"_s;
        if (root && !root->prolog.isEmpty())
            m_s += u'\n' + root->prolog;
    }
    QByteArray endDocument(const ForeignXml *root)
    {
        if (root && !root->epilog.isEmpty())
            m_s += u'\n' + root->epilog;
        m_s += u'\n';
        return m_s.toUtf8();
    }

    // `attributes`: the writer's own, each after one space.
    void start(QStringView name, const ForeignXmlPtr &own, QStringView attributes = {})
    {
        if (own) {
            m_kept.append(own);
            if (!own->before.isEmpty())
                raw(own->before);
        }
        closeTag();
        if (!m_lines.isEmpty())
            m_lines.last() = true;
        newline();
        m_s += u'<';
        m_s += name;
        m_s += attributes;
        if (own)
            m_s += own->attributes;
        m_open = true;
        m_lines.append(false);
    }
    void end(QStringView name)
    {
        const bool lines = m_lines.takeLast();
        if (m_open) {
            m_s += u"/>"_s;
            m_open = false;
            return;
        }
        if (lines)
            newline();
        m_s += u"</"_s;
        m_s += name;
        m_s += u'>';
    }
    // What stood in `own` at `slot`, each on a line of its own.
    void pieces(const ForeignXmlPtr &own, int slot)
    {
        if (!own)
            return;
        for (const auto &[at, text] : own->pieces) {
            if (at == slot)
                raw(text);
        }
    }
    // A text element; as written before while its value is unchanged.
    void text(QStringView name, const QString &value, const ForeignXmlPtr &own)
    {
        const bool asWritten = own && !own->text.isEmpty() && own->textValue == value;
        const bool whole = own && (own->text.isEmpty() || asWritten);
        start(name, whole ? own : nullptr);
        if (own && !whole)
            m_s += own->attributes; // the value changed: the old content is not kept, the attributes are
        closeTag();
        if (asWritten)
            m_s += own->text;
        else
            escape(value);
        end(name);
    }
    void urls(QStringView name, const QString &url, const ForeignXmlPtr &own)
    {
        start(name, own);
        pieces(own, 0);
        text(u"url", url, own ? own->child(u"url") : nullptr);
        pieces(own, 1);
        pieces(own, 2);
        end(name);
    }

private:
    void raw(QStringView text)
    {
        closeTag();
        if (!m_lines.isEmpty())
            m_lines.last() = true;
        newline();
        m_s += text;
    }
    void closeTag()
    {
        if (m_open) {
            m_s += u'>';
            m_open = false;
        }
    }
    void newline()
    {
        static const QString spaces(256, u' ');
        m_s += u'\n';
        for (qsizetype left = m_lines.size() * 4; left > 0; left -= spaces.size())
            m_s += QStringView(spaces).left(std::min(left, spaces.size()));
    }
    void escape(const QString &value)
    {
        for (qsizetype i = 0; i < value.size(); ++i) {
            const QChar c = value[i];
            switch (c.unicode()) {
            case u'<': m_s += u"&lt;"_s; continue;
            case u'>': m_s += u"&gt;"_s; continue;
            case u'&': m_s += u"&amp;"_s; continue;
            case u'"': m_s += u"&quot;"_s; continue;
            // A raw carriage return would come back as a line feed: every
            // reader normalises line ends. As a character reference it survives.
            case u'\r': m_s += u"&#13;"_s; continue;
            default: break;
            }
            if (c.isHighSurrogate() && i + 1 < value.size() && value[i + 1].isLowSurrogate()) {
                if (allowed(QChar::surrogateToUcs4(c, value[i + 1]))) {
                    m_s += c;
                    m_s += value[i + 1];
                }
                ++i;
            } else if (!c.isSurrogate() && allowed(c.unicode())) {
                m_s += c;
            }
        }
    }

    QString m_s;
    QList<bool> m_lines; // per open element: whether it holds lines (children) rather than text
    bool m_open = false;
    QList<ForeignXmlPtr> &m_kept;
};

void itemTexts(XmlOut &w, const Item &item, const ForeignXmlPtr &own)
{
    const QString *values[] = {&item.title(), &item.date(), &item.location(), &item.description()};
    for (int slot = 0; slot < 4; ++slot) {
        w.pieces(own, slot);
        w.text(kItemTexts[slot], *values[slot], own ? own->child(kItemTexts[slot]) : nullptr);
    }
}

void writePicture(XmlOut &w, const Photo &p)
{
    const ForeignXmlPtr &own = p.foreign();
    w.start(u"picture", own);
    itemTexts(w, p, own);
    w.pieces(own, 4);
    w.urls(u"image", p.imageFile(), own ? own->child(u"image") : nullptr);
    w.pieces(own, 5);
    w.urls(u"smallimage", p.smallImageFile(), own ? own->child(u"smallimage") : nullptr);
    w.pieces(own, 6);
    if (!p.largeImageFile().isNull())
        w.urls(u"largeimage", p.largeImageFile(), own ? own->child(u"largeimage") : nullptr);
    w.pieces(own, 7);
    w.pieces(own, 8);
    w.end(u"picture");
}

void writeVideo(XmlOut &w, const Video &v)
{
    const ForeignXmlPtr &own = v.foreign();
    w.start(u"video", own);
    itemTexts(w, v, own);
    w.pieces(own, 4);
    w.urls(u"thumb", v.thumbFile(), own ? own->child(u"thumb") : nullptr);
    w.pieces(own, 5);
    const ForeignXmlPtr list = own ? own->child(u"video") : nullptr;
    w.start(u"video", list);
    w.pieces(list, 0);
    for (const StreamPtr &s : v.streams()) {
        const ForeignXmlPtr &stream = s->foreign();
        w.start(u"stream", stream, QStringLiteral(" bitrate=\"%1\"").arg(s->bitrate()));
        w.pieces(stream, 0);
        w.text(u"url", s->file(), stream ? stream->child(u"url") : nullptr);
        w.pieces(stream, 1);
        w.pieces(stream, 2);
        w.end(u"stream");
    }
    w.pieces(list, 1);
    w.end(u"video");
    w.pieces(own, 6);
    w.pieces(own, 7);
    w.end(u"video");
}

void writeNodes(XmlOut &w, const QList<NodePtr> &nodes)
{
    for (const NodePtr &node : nodes) {
        const ForeignXmlPtr &own = node->foreign();
        auto child = [&](QStringView name) { return own ? own->child(name) : nullptr; };
        auto thumb = [&](int slot) {
            w.pieces(own, slot);
            if (!node->thumbFile().isEmpty())
                w.urls(u"thumb", node->thumbFile(), child(u"thumb"));
        };
        if (node->isAlbum()) {
            const auto &album = static_cast<const Album &>(*node);
            w.start(u"album", own);
            w.pieces(own, 0);
            w.text(u"title", album.title(), child(u"title"));
            w.pieces(own, 1);
            w.text(u"description", album.description(), child(u"description"));
            thumb(2);
            w.pieces(own, 3);
            w.text(u"contentnumber", QString::number(album.items().size()), child(u"contentnumber"));
            w.pieces(own, 4);
            w.text(u"contentxmlurl", album.XMLFile(), child(u"contentxmlurl"));
            w.pieces(own, 5);
            w.pieces(own, 6);
            w.end(u"album");
        } else if (node->isCollection()) {
            const auto &coll = static_cast<const AlbumCollection &>(*node);
            w.start(u"collection", own);
            w.pieces(own, 0);
            w.text(u"title", coll.title(), child(u"title"));
            thumb(1);
            w.pieces(own, 2);
            writeNodes(w, coll.items());
            w.pieces(own, 3);
            w.end(u"collection");
        }
    }
}

} // namespace

bool decodeXml(const QByteArray &bytes, QString *text, QString *problem)
{
    std::optional<QStringConverter::Encoding> encoding = QStringConverter::encodingForData(bytes, u'<');
    QByteArray name = "UTF-8";
    if (!encoding) {
        const QByteArray declared = declaredEncoding(bytes);
        if (!declared.isEmpty()) {
            name = declared;
            encoding = QStringConverter::encodingForName(declared.constData());
            if (!encoding) {
                *problem = QStringLiteral("it is written in the encoding \"%1\", which is not supported")
                               .arg(QString::fromLatin1(declared));
                return false;
            }
        } else {
            encoding = QStringConverter::Utf8;
        }
    }
    QStringDecoder decoder(*encoding);
    *text = decoder(bytes);
    if (decoder.hasError()) {
        *problem = QStringLiteral("it is not valid %1 text").arg(QString::fromLatin1(name));
        return false;
    }
    return true;
}

AlbumXml readAlbumXml(const QString &text)
{
    AlbumXml out;
    Doc d(text);
    Album album; // only a holder for the items
    if (!d.r.readNextStartElement()) {
        out.problem = d.r.hasError() ? readerError(d.r) : QStringLiteral("the file is empty");
        return out;
    }
    const QStringView version = d.r.attributes().value(QLatin1String("version"));
    const bool videos = version == u"2.1";
    if (!videos && version != u"2.0") {
        out.problem = QStringLiteral("unknown album file version \"%1\"").arg(version.toString());
        return out;
    }
    Root root(d);
    Scope s(d, 0, {u"version"});
    while (s.next()) {
        std::shared_ptr<ForeignXml> own;
        ItemPtr item;
        if (d.r.name() == u"picture") {
            auto photo = std::make_shared<Photo>();
            own = readPicture(d, *photo);
            item = photo;
        } else if (videos && d.r.name() == u"video") {
            auto video = std::make_shared<Video>();
            own = readVideo(d, *video);
            item = video;
        } else {
            if (d.r.name() == u"video")
                out.partly = QStringLiteral("only partly read: its videos are not read, as a version 2.0 album "
                                            "file holds pictures only");
            s.foreign();
            continue;
        }
        item->setForeign(withBefore(std::move(own), s.tookItem()));
        album.addItem(item);
    }
    const ForeignXmlPtr foreign = root.finish(d, s.finish());
    if (d.r.hasError()) {
        // Items of a file that turns out to be broken are dropped as a whole.
        out.problem = readerError(d.r);
        return out;
    }
    out.items = std::move(album.items());
    out.foreign = foreign;
    collect(foreign, out.records);
    for (const ItemPtr &item : out.items) {
        collect(item->foreign(), out.records);
        if (item->isVideo()) {
            for (const StreamPtr &stream : static_cast<Video &>(*item).streams())
                collect(stream->foreign(), out.records);
        }
    }
    return out;
}

IndexXml readIndexXml(const QString &text, int maxDepth)
{
    IndexXml out;
    Doc d(text);
    if (!d.r.readNextStartElement()) {
        out.problem = d.r.hasError() ? readerError(d.r) : QStringLiteral("the file is empty");
        return out;
    }
    const QStringView version = d.r.attributes().value(QLatin1String("version"));
    if (version != u"2.0" && version != u"2.1") {
        out.newGallery = isNewGalleryIndex(text);
        if (!out.newGallery)
            out.problem = version.isEmpty() ? QStringLiteral("the index file has no version")
                                            : QStringLiteral("unknown index file version \"%1\"").arg(version.toString());
        return out;
    }
    Root root(d);
    // The first element of the root is the top-level list, whatever its
    // name; whatever else the root holds is kept around it.
    Scope s(d, 1, {u"version"});
    IndexReader reader(d, out, maxDepth);
    bool listed = false;
    while (s.next()) {
        if (listed) {
            s.foreign();
            continue;
        }
        listed = true;
        Scope list(d, 0);
        if (!reader.readChildren(list, out.nodes, nullptr, 0)) {
            out.nodes.clear();
            out.albumFiles.clear();
            out.problem = QStringLiteral("collections are nested more than %1 levels deep").arg(maxDepth);
            return out;
        }
        s.took(0, u"collection", list.finish());
    }
    const ForeignXmlPtr foreign = root.finish(d, s.finish());
    if (d.r.hasError()) {
        out.nodes.clear();
        out.albumFiles.clear();
        out.problem = readerError(d.r);
        return out;
    }
    out.foreign = foreign;
    collect(foreign, out.records);
    QList<const QList<NodePtr> *> lists{&out.nodes};
    while (!lists.isEmpty()) {
        for (const NodePtr &node : *lists.takeLast()) {
            collect(node->foreign(), out.records);
            if (node->isCollection())
                lists.append(&static_cast<const AlbumCollection &>(*node).items());
        }
    }
    return out;
}

XmlText albumXml(const Album &album)
{
    XmlText out;
    XmlOut w(out.kept, 4096 + album.items().size() * 640);
    const ForeignXmlPtr &own = album.foreignFile();
    w.startDocument(own.get());
    w.start(u"orvane", own, u" version=\"2.1\"");
    w.pieces(own, 0);
    for (const ItemPtr &item : album.items()) {
        if (item->isPhoto())
            writePicture(w, static_cast<const Photo &>(*item));
        else if (item->isVideo())
            writeVideo(w, static_cast<const Video &>(*item));
    }
    w.pieces(own, 1);
    w.end(u"orvane");
    out.bytes = w.endDocument(own.get());
    return out;
}

XmlText indexXml(const QList<NodePtr> &nodes, const ForeignXmlPtr &own)
{
    XmlText out;
    XmlOut w(out.kept, 65536);
    w.startDocument(own.get());
    w.start(u"orvane", own, u" version=\"2.1\"");
    w.pieces(own, 0);
    const ForeignXmlPtr list = own ? own->child(u"collection") : nullptr;
    w.start(u"collection", list);
    w.pieces(list, 0);
    writeNodes(w, nodes);
    w.pieces(list, 1);
    w.end(u"collection");
    w.pieces(own, 1);
    w.pieces(own, 2);
    w.end(u"orvane");
    out.bytes = w.endDocument(own.get());
    return out;
}

QByteArray newIndexXml()
{
    QList<ForeignXmlPtr> none;
    XmlOut w(none, 256);
    w.startDocument(nullptr);
    w.start(u"orvane", nullptr, u" version=\"2.2\"");
    w.start(u"collection", nullptr);
    w.end(u"collection");
    w.end(u"orvane");
    return w.endDocument(nullptr);
}

} // namespace qm
