#include "storage/GalleryFile.h"

#include "model/Photo.h"
#include "model/Video.h"
#include "storage/Common.h"
#include "storage/FileReader.h"
#include "storage/FileWriter.h"
#include "storage/Preferences.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <QtConcurrent/QtConcurrentMap>

namespace qm {

namespace {

using namespace Qt::StringLiterals;

// Characters XML 1.0 cannot carry at all, not even as references. Writing
// them would make the file unreadable, so they are left out.
QString xmlSafe(const QString &text)
{
    auto allowed = [](char32_t c) {
        return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
            || (c >= 0x10000 && c <= 0x10FFFF);
    };
    bool clean = true;
    for (QChar ch : text) {
        if (ch.isSurrogate() || !allowed(ch.unicode())) {
            clean = false;
            break;
        }
    }
    if (clean)
        return text;
    QString out;
    out.reserve(text.size());
    const auto ucs4 = text.toUcs4();
    for (char32_t c : ucs4) {
        if (allowed(c))
            out.append(QString::fromUcs4(&c, 1));
    }
    return out;
}

void textElement(QXmlStreamWriter &w, const QString &name, const QString &text)
{
    // A raw carriage return would come back as a line feed: every reader
    // normalises line ends. As a character reference it survives.
    w.writeStartElement(name);
    const QString safe = xmlSafe(text);
    qsizetype from = 0;
    for (qsizetype cr; (cr = safe.indexOf(QLatin1Char('\r'), from)) >= 0; from = cr + 1) {
        w.writeCharacters(safe.mid(from, cr - from));
        w.writeEntityReference(u"#13"_s);
    }
    w.writeCharacters(safe.mid(from));
    w.writeEndElement();
}

void urlElement(QXmlStreamWriter &w, const QString &name, const QString &url)
{
    w.writeStartElement(name);
    textElement(w, u"url"_s, url);
    w.writeEndElement();
}

void startDocument(QXmlStreamWriter &w, const QString &version)
{
    w.setAutoFormatting(true);
    w.setAutoFormattingIndent(4);
    w.writeStartDocument(u"1.0"_s);
    w.writeStartElement(u"orvane"_s);
    w.writeAttribute(u"version"_s, version);
}

bool hasThumb(const TreeNode &node)
{
    return !node.thumbFile().isEmpty();
}

void writeAlbumEntry(QXmlStreamWriter &w, const Album &album)
{
    w.writeStartElement(u"album"_s);
    textElement(w, u"title"_s, album.title());
    textElement(w, u"description"_s, album.description());
    if (hasThumb(album))
        urlElement(w, u"thumb"_s, album.thumbFile());
    textElement(w, u"contentnumber"_s, QString::number(album.items().size()));
    textElement(w, u"contentxmlurl"_s, album.XMLFile());
    w.writeEndElement();
}

void writeNodes(QXmlStreamWriter &w, const QList<NodePtr> &nodes)
{
    for (const NodePtr &node : nodes) {
        if (node->isAlbum()) {
            writeAlbumEntry(w, static_cast<const Album &>(*node));
        } else if (node->isCollection()) {
            const auto &coll = static_cast<const AlbumCollection &>(*node);
            w.writeStartElement(u"collection"_s);
            textElement(w, u"title"_s, coll.title());
            if (hasThumb(coll))
                urlElement(w, u"thumb"_s, coll.thumbFile());
            writeNodes(w, coll.items());
            w.writeEndElement();
        }
    }
}

// What a name that no album file may take is used for; empty for others.
// Compared regardless of case: on the file systems of many memory sticks,
// names that differ in case only are the same file.
QString reservedFileNameUse(const QString &name)
{
    if (name.compare(QLatin1String("albums.xml"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("is the name of the gallery's index file");
    if (GalleryFile::isUnreadableCopyName(name))
        return QStringLiteral("is the name of a copy kept of an unreadable file");
    if (FileWriter::isTemporaryName(name))
        return QStringLiteral("is the name of a file still being written");
    return QString();
}

// How many collections deep the tree goes (a top-level collection is 1).
int collectionDepth(const QList<NodePtr> &top)
{
    int deepest = 0;
    QList<std::pair<const QList<NodePtr> *, int>> lists{{&top, 0}};
    while (!lists.isEmpty()) {
        const auto [list, depth] = lists.takeLast();
        deepest = std::max(deepest, depth);
        for (const NodePtr &node : *list) {
            if (node->isCollection())
                lists.append({&static_cast<const AlbumCollection &>(*node).items(), depth + 1});
        }
    }
    return deepest;
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

// The XML reader and the first thing it read past that the model cannot
// hold: such a file is kept aside before a save replaces it.
struct Reader
{
    QXmlStreamReader &r;
    QString unused;

    void note(const QString &what)
    {
        if (unused.isEmpty())
            unused = what;
    }
    void skip()
    {
        note(QStringLiteral("only partly read: it holds \"%1\" elements, which are not part of a gallery")
                 .arg(r.name().toString()));
        r.skipCurrentElement();
    }
};

// Reads child "url" elements of the current element, giving each text to
// `take`; leaves the reader on the element's end.
template<typename Take>
void readUrls(Reader &in, Take take)
{
    while (in.r.readNextStartElement()) {
        if (in.r.name() == u"url")
            take(in.r.readElementText(QXmlStreamReader::IncludeChildElements));
        else
            in.skip();
    }
}

QString elementText(QXmlStreamReader &r)
{
    // readElementText gives a null string for an empty element; the model
    // tells null from empty, and an element that is there holds "".
    QString text = r.readElementText(QXmlStreamReader::IncludeChildElements);
    if (text.isNull())
        text = u""_s;
    return text;
}

template<typename T>
bool readItemText(QXmlStreamReader &r, T &item)
{
    const QStringView name = r.name();
    if (name == u"title")
        item.setTitle(elementText(r));
    else if (name == u"date")
        item.setDate(elementText(r));
    else if (name == u"location")
        item.setLocation(elementText(r));
    else if (name == u"description")
        item.setDescription(elementText(r));
    else
        return false;
    return true;
}

void readPicture(Reader &in, Album &album)
{
    auto photo = std::make_shared<Photo>();
    album.addItem(photo);
    while (in.r.readNextStartElement()) {
        if (readItemText(in.r, *photo))
            continue;
        const QStringView name = in.r.name();
        if (name == u"image")
            readUrls(in, [&](const QString &t) { photo->setImageFile(t.isNull() ? u""_s : t); });
        else if (name == u"smallimage")
            readUrls(in, [&](const QString &t) { photo->setSmallImageFile(t.isNull() ? u""_s : t); });
        else if (name == u"largeimage")
            readUrls(in, [&](const QString &t) {
                if (!t.isEmpty())
                    photo->setLargeImageFile(t);
            });
        else
            in.skip();
    }
}

void readStreams(Reader &in, Video &video)
{
    while (in.r.readNextStartElement()) {
        if (in.r.name() != u"stream") {
            in.skip();
            continue;
        }
        auto stream = std::make_shared<VideoStream>();
        video.addStream(stream);
        stream->setBitrate(leadingInt(in.r.attributes().value(QLatin1String("bitrate"))));
        readUrls(in, [&](const QString &t) { stream->setFile(t.isNull() ? u""_s : t); });
    }
}

void readVideo(Reader &in, Album &album)
{
    auto video = std::make_shared<Video>();
    album.addItem(video);
    while (in.r.readNextStartElement()) {
        if (readItemText(in.r, *video))
            continue;
        const QStringView name = in.r.name();
        if (name == u"thumb")
            readUrls(in, [&](const QString &t) {
                if (!t.isEmpty())
                    video->setThumbFile(t);
            });
        else if (name == u"video")
            readStreams(in, *video);
        else
            in.skip();
    }
}

// Drains the rest of the document so that an error anywhere is noticed.
void finish(QXmlStreamReader &r)
{
    while (!r.atEnd())
        r.readNext();
}

QString readerError(const QXmlStreamReader &r)
{
    return QStringLiteral("not a well-formed XML file (line %1: %2)").arg(r.lineNumber()).arg(r.errorString());
}

bool openForReading(QFile &file, const QString &path, QList<FileProblem> &problems)
{
    // A pipe or a device in the xml folder must not hang or flood the load.
    QString reason;
    if (!FileReader::open(file, path, FileReader::kXmlLimit, &reason)) {
        problems.append({path, reason});
        return false;
    }
    return true;
}

class IndexReader
{
public:
    explicit IndexReader(Reader &in) : m_in(in), m_r(in.r) {}

    AlbumPtr readAlbum()
    {
        auto album = std::make_shared<Album>();
        while (m_r.readNextStartElement()) {
            const QStringView name = m_r.name();
            if (name == u"title") {
                album->setTitle(elementText(m_r));
            } else if (name == u"description") {
                album->setDescription(elementText(m_r));
            } else if (name == u"contentxmlurl") {
                album->setXMLFile(elementText(m_r));
                m_albumFiles.append({album.get(), album->XMLFile()});
            } else if (name == u"thumb") {
                readUrls(m_in, [&](const QString &t) {
                    if (!t.isEmpty())
                        album->setThumbFile(t);
                });
            } else if (name == u"contentnumber") {
                m_r.skipCurrentElement(); // the album file has the true count
            } else {
                m_in.skip();
            }
        }
        return album;
    }

    // Returns false when the nesting is deeper than the limit.
    bool readChildren(QList<NodePtr> &list, AlbumCollection *parent, int depth, bool withHeader)
    {
        if (depth > GalleryFile::kMaxDepth) {
            m_tooDeep = true;
            return false;
        }
        while (m_r.readNextStartElement()) {
            const QStringView name = m_r.name();
            if (name == u"album") {
                AlbumPtr album = readAlbum();
                album->setParentCollection(parent);
                list.append(album);
            } else if (name == u"collection") {
                auto coll = std::make_shared<AlbumCollection>();
                coll->setParentCollection(parent);
                list.append(coll);
                if (!readChildren(coll->items(), coll.get(), depth + 1, true))
                    return false;
            } else if (withHeader && name == u"title") {
                parent->setTitle(elementText(m_r));
            } else if (withHeader && name == u"thumb") {
                readUrls(m_in, [&](const QString &t) {
                    if (!t.isEmpty())
                        parent->setThumbFile(t);
                });
            } else {
                m_in.skip();
            }
        }
        return true;
    }

    bool tooDeep() const { return m_tooDeep; }
    // Each album file named, in the order of the index, for reading after.
    const QList<std::pair<Album *, QString>> &albumFiles() const { return m_albumFiles; }

private:
    Reader &m_in;
    QXmlStreamReader &m_r;
    QList<std::pair<Album *, QString>> m_albumFiles;
    bool m_tooDeep = false;
};

QByteArray newIndexBytes()
{
    QByteArray bytes;
    QXmlStreamWriter w(&bytes);
    startDocument(w, u"2.2"_s);
    w.writeEmptyElement(u"collection"_s);
    w.writeEndElement();
    w.writeEndDocument();
    return bytes;
}

// The first index file of a new gallery, which the reader does not load on
// purpose; it is not unreadable.
bool isNewGalleryIndex(const QByteArray &bytes)
{
    QXmlStreamReader r(bytes);
    if (!r.readNextStartElement() || r.attributes().value(QLatin1String("version")) != u"2.2")
        return false;
    int children = 0;
    while (r.readNextStartElement()) {
        if (r.name() != u"collection" || ++children > 1)
            return false;
        if (r.readNextStartElement())
            return false;
    }
    finish(r);
    return !r.hasError();
}

} // namespace

// What one album file holds, read without touching the model, so that the
// files of a gallery can be read side by side.
struct AlbumFileRead
{
    QList<ItemPtr> items;
    QList<FileProblem> problems;
    bool protect = false; // exists but unusable: never overwrite it
};

namespace {

AlbumFileRead readAlbumFile(const QString &path)
{
    AlbumFileRead out;
    QFile file(path);
    if (!file.exists()) {
        out.problems.append({path, QStringLiteral("the album file is missing")});
        return out;
    }
    if (!openForReading(file, path, out.problems)) {
        out.protect = true;
        return out;
    }
    Album album; // only a holder for the items
    QXmlStreamReader r(&file);
    Reader in{r, {}};
    bool videos = false;
    QString problem;
    if (!r.readNextStartElement()) {
        problem = r.hasError() ? readerError(r) : QStringLiteral("the file is empty");
    } else {
        const QStringView version = r.attributes().value(QLatin1String("version"));
        if (version == u"2.1")
            videos = true;
        else if (version != u"2.0")
            problem = QStringLiteral("unknown album file version \"%1\"").arg(version.toString());
    }
    if (problem.isEmpty()) {
        while (r.readNextStartElement()) {
            if (r.name() == u"picture") {
                readPicture(in, album);
            } else if (videos && r.name() == u"video") {
                readVideo(in, album);
            } else if (r.name() == u"video") {
                in.note(QStringLiteral("only partly read: its videos are not read, as a version 2.0 album file "
                                       "holds pictures only"));
                r.skipCurrentElement();
            } else {
                in.skip();
            }
        }
        finish(r);
        if (r.hasError())
            problem = readerError(r);
    }
    if (!problem.isEmpty()) {
        // Items of a file that turns out to be broken are dropped as a whole.
        out.problems.append({path, problem});
        out.protect = true;
        return out;
    }
    out.items = std::move(album.items());
    if (!in.unused.isEmpty()) {
        out.problems.append({path, in.unused});
        out.protect = true;
    }
    return out;
}

} // namespace

QString GalleryFile::albumFilePath(const QString &name, LoadReport &report) const
{
    const QString path = m_prefs.xmlPath(name);
    if (path.isNull() && !name.isEmpty()) {
        report.unreadable.append({QStringLiteral("%1/%2").arg(m_prefs.xmlFolder(), name),
                                  QStringLiteral("the album file name is not a file inside the xml folder")});
    }
    return path;
}

void GalleryFile::takeAlbumFile(Album &album, const QString &path, const AlbumFileRead &read, LoadReport &report)
{
    for (const ItemPtr &item : read.items)
        album.addItem(item);
    report.unreadable.append(read.problems);
    if (read.protect)
        m_unreadable.insert(path);
}

void GalleryFile::loadAlbumData(Album &album, LoadReport &report)
{
    const QString path = albumFilePath(album.XMLFile(), report);
    if (!path.isNull())
        takeAlbumFile(album, path, readAlbumFile(path), report);
}

bool GalleryFile::isUnreadableCopyName(const QString &name)
{
    return name.contains(QLatin1String(".unreadable-"), Qt::CaseInsensitive);
}

LoadReport GalleryFile::loadData(Data &data)
{
    LoadReport report;
    data.setSelectedAlbum(nullptr);
    data.setSelectedCollection(nullptr);
    data.setSelectedItem(nullptr);
    data.albums().clear();
    m_unreadable.clear();

    const QString path = m_prefs.albumsXMLFile();
    QFile file(path);
    if (!file.exists())
        return report; // an empty gallery
    if (!openForReading(file, path, report.unreadable)) {
        m_unreadable.insert(path);
        return report;
    }

    QXmlStreamReader r(&file);
    Reader in{r, {}};
    QString problem;
    if (!r.readNextStartElement()) {
        problem = r.hasError() ? readerError(r) : QStringLiteral("the file is empty");
    } else {
        const QStringView version = r.attributes().value(QLatin1String("version"));
        if (version == u"2.0" || version == u"2.1") {
            // The first element of the root is the top-level list, whatever
            // its name. Comments and processing instructions before it say
            // nothing about the gallery and are read past; text is read past
            // too, but the file is kept before a save drops it.
            while (!r.atEnd()) {
                r.readNext();
                if (r.isStartElement() || r.isEndElement())
                    break;
                if (r.isCharacters() && !r.isWhitespace())
                    in.note(QStringLiteral("only partly read: it holds text before the list of albums"));
            }
            IndexReader reader(in);
            if (r.isStartElement()) {
                if (!reader.readChildren(data.albums(), nullptr, 0, false))
                    problem = QStringLiteral("collections are nested more than %1 levels deep").arg(kMaxDepth);
                else if (r.readNextStartElement())
                    in.note(QStringLiteral("only partly read: only the first of its lists of albums is read"));
            }
            // The album files are read side by side and taken in index order.
            QList<std::pair<Album *, QString>> files;
            for (const auto &[album, name] : reader.albumFiles()) {
                const QString albumPath = albumFilePath(name, report);
                if (!albumPath.isNull())
                    files.append({album, albumPath});
            }
            QFuture<AlbumFileRead> reads = QtConcurrent::mapped(
                files, [](const std::pair<Album *, QString> &f) { return readAlbumFile(f.second); });
            for (qsizetype i = 0; i < files.size(); ++i)
                takeAlbumFile(*files[i].first, files[i].second, reads.resultAt(int(i)), report);
            if (problem.isEmpty()) {
                finish(r);
                if (r.hasError())
                    problem = readerError(r);
            }
            if (problem.isEmpty() && !in.unused.isEmpty()) {
                // The tree is shown; the file is kept before a save replaces it.
                report.unreadable.prepend({path, in.unused});
                m_unreadable.insert(path);
            }
        } else {
            file.seek(0);
            if (!isNewGalleryIndex(file.readAll()))
                problem = version.isEmpty() ? QStringLiteral("the index file has no version")
                                            : QStringLiteral("unknown index file version \"%1\"").arg(version.toString());
        }
    }
    if (!problem.isEmpty()) {
        data.albums().clear();
        // Album files already read stay protected; the index too.
        report.unreadable.prepend({path, problem});
        m_unreadable.insert(path);
    }
    return report;
}

bool GalleryFile::keepUnreadableCopy(const QString &path, SaveReport &report)
{
    if (!m_unreadable.contains(path))
        return true;
    if (!QFileInfo::exists(path)) {
        m_unreadable.remove(path);
        return true;
    }
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    // Keep to the shape isUnreadableCopyName() knows.
    QString backup = QStringLiteral("%1.unreadable-%2").arg(path, stamp);
    for (int n = 2; QFileInfo::exists(backup); ++n)
        backup = QStringLiteral("%1.unreadable-%2-%3").arg(path, stamp).arg(n);
    const WriteResult kept = FileWriter::copyFile(path, backup, FileWriter::Mode::CreateNew);
    if (!kept) {
        report.failed.append({path, QStringLiteral("the unreadable file could not be kept as %1 (%2), so it was "
                                                   "not replaced").arg(backup, kept.reason)});
        return false;
    }
    report.notes.append({path, QStringLiteral("the unreadable file was kept as %1").arg(backup)});
    m_unreadable.remove(path);
    return true;
}

bool GalleryFile::writeFile(const QString &path, const QByteArray &bytes, SaveReport &report)
{
    // A link is refused before anything is copied through it.
    const QString refused = FileWriter::refusal(path);
    if (!refused.isEmpty()) {
        report.failed.append({path, refused});
        return false;
    }
    if (!keepUnreadableCopy(path, report))
        return false;
    const WriteResult written = FileWriter::writeFile(path, bytes);
    if (!written) {
        report.failed.append({path, written.reason});
        return false;
    }
    return true;
}

bool GalleryFile::saveAlbumData(const Album &album, SaveReport &report)
{
    return saveAlbumBytes(album, serializeAlbum(album), report);
}

bool GalleryFile::saveAlbumBytes(const Album &album, const QByteArray &bytes, SaveReport &report)
{
    const QString path = m_prefs.xmlPath(album.XMLFile());
    if (path.isNull()) {
        // Nothing is written outside the xml folder. An album with nothing in
        // it loses nothing by that; one with items must say so.
        if (album.items().isEmpty())
            return true;
        report.failed.append({QStringLiteral("%1/%2").arg(m_prefs.xmlFolder(), album.XMLFile()),
                              QStringLiteral("the items of album \"%1\" cannot be saved: its file name is not a "
                                             "file inside the xml folder").arg(album.title())});
        return false;
    }
    return writeFile(path, bytes, report);
}

SaveReport GalleryFile::saveData(Data &data)
{
    SaveReport report;
    QList<const Album *> albums;
    // Album files are written depth first, each before the index entry that
    // names it. Names are settled first: an album without a file name, one
    // sharing its file with an earlier album (letter case aside) or one
    // named like another kind of file would lose its items, or that file.
    QSet<QString> used;
    data.forEachNode([&](const NodePtr &node) {
        if (!node->isAlbum())
            return true;
        auto &album = static_cast<Album &>(*node);
        const QString current = album.XMLFile();
        QString why;
        if (current.isEmpty() && !album.items().isEmpty())
            why = QStringLiteral("had no album file");
        else if (!current.isEmpty() && used.contains(current.toLower()))
            why = QStringLiteral("shared its album file with another album");
        else if (!current.isEmpty() && !reservedFileNameUse(current).isEmpty())
            why = QStringLiteral("had the file name \"%1\", which %2").arg(current, reservedFileNameUse(current));
        if (!why.isEmpty()) {
            quint64 key = timeKey();
            const int digit = AlbumCounter::takeDigit();
            QString name = albumFileName(key, digit);
            while (used.contains(name) || QFileInfo::exists(m_prefs.xmlPath(name)))
                name = albumFileName(++key, digit);
            report.notes.append({m_prefs.xmlPath(name),
                                 QStringLiteral("album \"%1\" %2, so its items are now saved in this file")
                                     .arg(album.title(), why)});
            album.setXMLFile(name);
        }
        used.insert(album.XMLFile().toLower());
        albums.append(&album);
        return true;
    });
    // The text of the albums is made on every core while the files are
    // written here, one after the other and in order. Nothing changes the
    // tree until this returns.
    const QFuture<QByteArray> texts =
        QtConcurrent::mapped(albums, [](const Album *album) { return serializeAlbum(*album); });
    for (qsizetype i = 0; i < albums.size(); ++i)
        saveAlbumBytes(*albums[i], texts.resultAt(int(i)), report);
    // An index the reader would refuse is not written at all.
    if (collectionDepth(data.albums()) > kMaxDepth) {
        report.failed.append({m_prefs.albumsXMLFile(),
                              QStringLiteral("collections are nested more than %1 levels deep, which the index "
                                             "file cannot hold").arg(kMaxDepth)});
    } else {
        writeFile(m_prefs.albumsXMLFile(), serializeIndex(data), report);
    }
    if (report.ok())
        data.setNeedsToSaveChanges(false);
    return report;
}

QByteArray GalleryFile::indexBytes(const Data &data) const { return serializeIndex(data); }
QByteArray GalleryFile::albumBytes(const Album &album) const { return serializeAlbum(album); }

QByteArray serializeIndex(const Data &data)
{
    QByteArray bytes;
    QXmlStreamWriter w(&bytes);
    startDocument(w, u"2.1"_s);
    w.writeStartElement(u"collection"_s);
    writeNodes(w, data.albums());
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndDocument();
    return bytes;
}

QByteArray serializeAlbum(const Album &album)
{
    QByteArray bytes;
    QXmlStreamWriter w(&bytes);
    startDocument(w, u"2.1"_s);
    for (const ItemPtr &item : album.items()) {
        if (item->isPhoto()) {
            const auto &p = static_cast<const Photo &>(*item);
            w.writeStartElement(u"picture"_s);
            textElement(w, u"title"_s, p.title());
            textElement(w, u"date"_s, p.date());
            textElement(w, u"location"_s, p.location());
            textElement(w, u"description"_s, p.description());
            urlElement(w, u"image"_s, p.imageFile());
            urlElement(w, u"smallimage"_s, p.smallImageFile());
            if (!p.largeImageFile().isNull())
                urlElement(w, u"largeimage"_s, p.largeImageFile());
            w.writeEndElement();
        } else if (item->isVideo()) {
            const auto &v = static_cast<const Video &>(*item);
            w.writeStartElement(u"video"_s);
            textElement(w, u"title"_s, v.title());
            textElement(w, u"date"_s, v.date());
            textElement(w, u"location"_s, v.location());
            textElement(w, u"description"_s, v.description());
            urlElement(w, u"thumb"_s, v.thumbFile());
            w.writeStartElement(u"video"_s);
            for (const StreamPtr &s : v.streams()) {
                w.writeStartElement(u"stream"_s);
                w.writeAttribute(u"bitrate"_s, QString::number(s->bitrate()));
                textElement(w, u"url"_s, s->file());
                w.writeEndElement();
            }
            w.writeEndElement();
            w.writeEndElement();
        }
    }
    w.writeEndElement();
    w.writeEndDocument();
    return bytes;
}

bool writeNewIndexFile(const QString &path, QString *error)
{
    const WriteResult written = FileWriter::writeFile(path, newIndexBytes(), FileWriter::Mode::CreateNew);
    if (!written && error)
        *error = written.reason;
    return bool(written);
}

QString albumFileNameRefusal(const QString &name, const Data &data, const Album *self)
{
    if (name.isEmpty())
        return QStringLiteral("An album needs a file name for its items.");
    if (!isBareFileName(name))
        return QStringLiteral("\"%1\" is not a plain file name: album files lie directly in the xml folder.").arg(name);
    const QString use = reservedFileNameUse(name);
    if (!use.isEmpty())
        return QStringLiteral("\"%1\" %2.").arg(name, use);
    const TreeNode *owner = nullptr;
    data.forEachNode([&](const NodePtr &node) {
        if (node->isAlbum() && node.get() != self
            && static_cast<const Album &>(*node).XMLFile().compare(name, Qt::CaseInsensitive) == 0)
            owner = node.get();
        return !owner;
    });
    if (owner)
        return QStringLiteral("The album \"%1\" keeps its items in \"%2\" already.").arg(owner->title(), name);
    return QString();
}

} // namespace qm
