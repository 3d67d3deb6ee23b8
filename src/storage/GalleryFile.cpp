#include "storage/GalleryFile.h"

#include "model/Photo.h"
#include "model/Video.h"
#include "storage/Common.h"
#include "storage/FileReader.h"
#include "storage/FileWriter.h"
#include "storage/GalleryXml.h"
#include "storage/Preferences.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QtConcurrent/QtConcurrentMap>

#include <cstring>
#include <numeric>

#include <sys/stat.h>

namespace qm {

namespace {

const char kUnreadableMark[] = ".unreadable-";
const char kTheirsMark[] = ".theirs-";

// What a name that no album file may take is used for; empty for others.
// Compared regardless of case: on the file systems of many memory sticks,
// names that differ in case only are the same file.
QString reservedFileNameUse(const QString &name)
{
    if (name.compare(QLatin1String("albums.xml"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("is the name of the gallery's index file");
    if (GalleryFile::isKeptCopyName(name))
        return QStringLiteral("is the name of a copy kept of an earlier version of a file");
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

QByteArray digest(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
}

// A free name beside `path` for keeping the file there now: "<name><mark><time>".
QString keptCopyPath(const QString &path, const char *mark)
{
    const QFileInfo info(path);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int n = 1;; ++n) {
        const QString suffix = QLatin1String(mark) + stamp + (n > 1 ? QStringLiteral("-%1").arg(n) : QString());
        const QString candidate = info.path() + QLatin1Char('/')
                                + FileWriter::cutToFit(info.path(), info.fileName(), int(suffix.toUtf8().size())) + suffix;
        const QFileInfo taken(candidate);
        if (!taken.exists() && !taken.isSymLink())
            return candidate;
    }
}

// Two lanes of multiply and shift over 8 bytes at a time: a change of any
// character, of a length, or of where a field ends gives other bits.
class Mixer
{
public:
    void add(quint64 v)
    {
        m_a = (m_a ^ v) * 0x9e3779b97f4a7c15ull;
        m_a ^= m_a >> 29;
        m_b = (m_b + v) * 0xc2b2ae3d27d4eb4full;
        m_b ^= m_b >> 31;
    }
    void add(const QString &s)
    {
        add(s.isNull() ? ~quint64(0) : quint64(s.size()));
        const char *p = reinterpret_cast<const char *>(s.constData());
        qsizetype left = s.size() * qsizetype(sizeof(QChar));
        for (; left >= 8; left -= 8, p += 8) {
            quint64 v;
            std::memcpy(&v, p, 8);
            add(v);
        }
        quint64 v = 0;
        std::memcpy(&v, p, size_t(left));
        add(v);
    }
    void add(const void *pointer) { add(quint64(quintptr(pointer))); }
    QByteArray result() const
    {
        QByteArray out(16, Qt::Uninitialized);
        std::memcpy(out.data(), &m_a, 8);
        std::memcpy(out.data() + 8, &m_b, 8);
        return out;
    }

private:
    quint64 m_a = 0x51ed270b27d4eb2full;
    quint64 m_b = 0x165667b19e3779f9ull;
};

// What an album file's content is made of, in 128 bits, at a small part of
// the cost of making the text: every field of every item (null told from
// empty), and which records of other tools' content go with them.
QByteArray fingerprint(const Album &album)
{
    Mixer m;
    m.add(album.foreignFile().get());
    for (const ItemPtr &item : album.items()) {
        m.add(quint64(item->kind()));
        m.add(item->foreign().get());
        for (const QString *s : {&item->title(), &item->date(), &item->location(), &item->description()})
            m.add(*s);
        if (item->isPhoto()) {
            const auto &p = static_cast<const Photo &>(*item);
            for (const QString *s : {&p.imageFile(), &p.smallImageFile(), &p.largeImageFile()})
                m.add(*s);
        } else {
            const auto &v = static_cast<const Video &>(*item);
            m.add(v.thumbFile());
            m.add(quint64(v.streams().size()));
            for (const StreamPtr &s : v.streams()) {
                m.add(s->foreign().get());
                m.add(s->file());
                m.add(quint64(quint32(s->bitrate())));
            }
        }
    }
    return m.result();
}

} // namespace

struct GalleryFile::Read
{
    Stamp stamp;
    QByteArray bytes;
    QString problem;
};

GalleryFile::Stamp GalleryFile::stampOf(const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {true, quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size),
            qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
            qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

// The bytes of a file and what it was when they were read.
GalleryFile::Read GalleryFile::readFile(const QString &path)
{
    Read out;
    out.stamp = stampOf(path);
    if (!out.stamp.exists)
        return out;
    // A pipe or a device in the xml folder must not hang or flood the load.
    QFile file(path);
    if (!FileReader::open(file, path, FileReader::kXmlLimit, &out.problem))
        return out;
    out.bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        out.problem = file.errorString();
    return out;
}

void GalleryFile::remember(const QString &path, const Stamp &stamp, const QByteArray &diskHash,
                           const QByteArray &baseline, QList<ForeignXmlPtr> records, const QString &unreadable)
{
    FileState &state = m_files[path];
    state.stamp = stamp;
    state.diskHash = diskHash;
    state.baseline = baseline;
    state.records = std::move(records);
    state.unreadable = unreadable;
}

bool GalleryFile::isKeptCopyName(const QString &name)
{
    return name.contains(QLatin1String(kUnreadableMark), Qt::CaseInsensitive)
        || name.contains(QLatin1String(kTheirsMark), Qt::CaseInsensitive);
}

QString GalleryFile::albumFilePath(const QString &name, LoadReport &report) const
{
    const QString path = m_prefs.xmlPath(name);
    if (path.isNull() && !name.isEmpty()) {
        report.unreadable.append({QStringLiteral("%1/%2").arg(m_prefs.xmlFolder(), name),
                                  QStringLiteral("the album file name is not a file inside the xml folder")});
    }
    return path;
}

// One album file as read, without touching the model, so that the files of
// a gallery can be read side by side.
struct GalleryFile::AlbumFileRead
{
    AlbumXml xml;
    QString problem;
    bool missing = false;
    Stamp stamp;
    QByteArray diskHash;
    QByteArray fingerprint;
};

void GalleryFile::loadAlbumData(Album &album, LoadReport &report)
{
    const QString path = albumFilePath(album.XMLFile(), report);
    if (path.isNull())
        return;
    const Read read = readFile(path);
    QString text, problem = read.problem;
    if (problem.isEmpty() && read.stamp.exists && decodeXml(read.bytes, &text, &problem)) {
        AlbumXml xml = readAlbumXml(text);
        problem = xml.problem.isEmpty() ? xml.partly : xml.problem;
        for (const ItemPtr &item : xml.items)
            album.addItem(item);
        if (xml.foreign)
            album.setForeignFile(xml.foreign);
    }
    if (!read.stamp.exists)
        problem = QStringLiteral("the album file is missing");
    if (!problem.isEmpty())
        report.unreadable.append({path, problem});
}

LoadReport GalleryFile::loadData(Data &data)
{
    LoadReport report;
    data.setSelectedAlbum(nullptr);
    data.setSelectedCollection(nullptr);
    data.setSelectedItem(nullptr);
    data.albums().clear();
    m_files.clear();
    m_indexForeign = nullptr;

    const QString path = m_prefs.albumsXMLFile();
    const Read index = readFile(path);
    if (!index.stamp.exists) {
        remember(path, index.stamp, QByteArray(), QByteArray(), {}, QString()); // an empty gallery
        return report;
    }
    QString text, problem = index.problem;
    IndexXml xml;
    if (problem.isEmpty() && decodeXml(index.bytes, &text, &problem)) {
        xml = readIndexXml(text, kMaxDepth);
        problem = xml.problem;
    }
    if (!problem.isEmpty()) {
        report.unreadable.append({path, problem});
        remember(path, index.stamp, digest(index.bytes), digest(indexXml({}, nullptr).bytes), {}, problem);
        return report;
    }
    data.albums() = xml.nodes;
    m_indexForeign = xml.foreign;

    // The album files are read side by side and taken in index order.
    QList<std::pair<Album *, QString>> files;
    for (const auto &[album, name] : xml.albumFiles) {
        const QString albumPath = albumFilePath(name, report);
        if (!albumPath.isNull())
            files.append({album, albumPath});
    }
    QFuture<AlbumFileRead> results = QtConcurrent::mapped(files, [](const std::pair<Album *, QString> &f) {
        const Read read = readFile(f.second);
        AlbumFileRead out;
        out.stamp = read.stamp;
        out.missing = !read.stamp.exists;
        if (out.missing)
            return out;
        QString text;
        out.problem = read.problem;
        if (out.problem.isEmpty() && decodeXml(read.bytes, &text, &out.problem)) {
            out.xml = readAlbumXml(text);
            out.problem = out.xml.problem.isEmpty() ? out.xml.partly : out.xml.problem;
        }
        // What the file holds, as a save would see the album it fills.
        Album holder;
        holder.items() = out.xml.items;
        holder.setForeignFile(out.xml.foreign);
        out.fingerprint = fingerprint(holder);
        out.diskHash = digest(read.bytes);
        return out;
    });
    for (qsizetype i = 0; i < files.size(); ++i) {
        const AlbumFileRead &read = results.resultAt(int(i));
        Album &album = *files[i].first;
        const QString &albumPath = files[i].second;
        for (const ItemPtr &item : read.xml.items)
            album.addItem(item);
        if (read.xml.foreign)
            album.setForeignFile(read.xml.foreign);
        if (read.missing)
            report.unreadable.append({albumPath, QStringLiteral("the album file is missing")});
        else if (!read.problem.isEmpty())
            report.unreadable.append({albumPath, read.problem});
        remember(albumPath, read.stamp, read.diskHash, QByteArray(), read.xml.records, read.problem);
        m_files[albumPath].fingerprint = read.fingerprint;
    }
    // A new gallery's first index is replaced by the first save, whatever it holds.
    remember(path, index.stamp, digest(index.bytes),
             xml.newGallery ? digest(index.bytes) : digest(indexXml(data.albums(), m_indexForeign).bytes), xml.records,
             QString());
    return report;
}

bool GalleryFile::changedOnDisk(const QString &path)
{
    const auto it = m_files.find(path);
    if (it == m_files.end())
        return false;
    const Stamp now = stampOf(path);
    // Gone since (or never there): writing ours overwrites nothing of anyone's.
    if (now == it->stamp || !now.exists)
        return false;
    if (!it->stamp.exists)
        return true;
    // Touched, or written again with the same bytes (a sync tool): the same file.
    const Read read = readFile(path);
    if (!read.problem.isEmpty() || digest(read.bytes) != it->diskHash)
        return true;
    it->stamp = read.stamp;
    return false;
}

void GalleryFile::settleAlbumFiles(Data &data, SaveReport &report, QList<const Album *> &albums)
{
    // Names are settled first: an album without a file name, one sharing its
    // file with an earlier album (letter case aside) or one named like
    // another kind of file would lose its items, or that file.
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
}

SaveReport GalleryFile::saveData(Data &data, OnChangedFiles onChanged)
{
    SaveReport report;
    // A save cut short earlier completes first; a new journal must not take its place.
    for (const FileProblem &p : finishInterruptedSave(m_prefs)) {
        report.failed.append({p.path, QStringLiteral("the last save is not complete yet, so no other can start (%1)")
                                          .arg(p.reason)});
    }
    if (!report.failed.isEmpty())
        return report;

    QList<const Album *> albums;
    settleAlbumFiles(data, report, albums);
    // An index the reader would refuse is not written at all.
    if (collectionDepth(data.albums()) > kMaxDepth) {
        report.failed.append({m_prefs.albumsXMLFile(),
                              QStringLiteral("collections are nested more than %1 levels deep, which the index "
                                             "file cannot hold").arg(kMaxDepth)});
        return report;
    }
    struct Planned
    {
        QString path;
        XmlText text;
        QByteArray hash;
        QByteArray fingerprint;
        bool unchanged = false; // as last read or written: not even made into text
    };
    QList<Planned> planned;
    for (const Album *album : std::as_const(albums)) {
        const QString path = m_prefs.xmlPath(album->XMLFile());
        if (!path.isNull()) {
            planned.append({path, {}, {}, {}, false});
            continue;
        }
        // Nothing is written outside the xml folder. An album with nothing in
        // it loses nothing by that; one with items must say so.
        if (!album->items().isEmpty()) {
            report.failed.append({QStringLiteral("%1/%2").arg(m_prefs.xmlFolder(), album->XMLFile()),
                                  QStringLiteral("the items of album \"%1\" cannot be saved: its file name is not a "
                                                 "file inside the xml folder").arg(album->title())});
            return report;
        }
    }
    albums.removeIf([this](const Album *a) { return m_prefs.xmlPath(a->XMLFile()).isNull(); });
    // On every core: an album whose fingerprint is the one its file was
    // last read or written with is not made into text at all; the others
    // are. The index meanwhile here.
    for (qsizetype i = 0; i < planned.size(); ++i)
        planned[i].fingerprint = m_files.value(planned[i].path).fingerprint;
    QList<qsizetype> indexes(planned.size());
    std::iota(indexes.begin(), indexes.end(), 0);
    QFuture<Planned> texts = QtConcurrent::mapped(indexes, [&albums, &planned](qsizetype i) {
        Planned p;
        p.fingerprint = fingerprint(*albums.at(i));
        p.unchanged = !planned.at(i).fingerprint.isEmpty() && p.fingerprint == planned.at(i).fingerprint;
        if (!p.unchanged) {
            p.text = albumXml(*albums.at(i));
            p.hash = digest(p.text.bytes);
        }
        return p;
    });
    Planned index{m_prefs.albumsXMLFile(), indexXml(data.albums(), m_indexForeign), {}, {}, false};
    index.hash = digest(index.text.bytes);
    for (qsizetype i = 0; i < planned.size(); ++i) {
        const QString path = planned[i].path;
        planned[i] = texts.resultAt(int(i));
        planned[i].path = path;
    }
    planned.append(std::move(index)); // last: the index names what the album files hold

    // Other tools' content that the files hold once this save is done.
    QSet<const ForeignXml *> kept;
    for (const Planned &p : std::as_const(planned)) {
        for (const ForeignXmlPtr &own : p.unchanged ? m_files[p.path].records : p.text.kept)
            kept.insert(own.get());
    }
    // Only what changed is written.
    QList<const Planned *> changed;
    for (const Planned &p : std::as_const(planned)) {
        const auto it = m_files.find(p.path);
        if (p.unchanged)
            continue;
        if (it == m_files.end() || it->baseline.isEmpty() || it->baseline != p.hash)
            changed.append(&p);
        else if (!p.fingerprint.isEmpty())
            it->fingerprint = p.fingerprint; // the same text as written last
    }
    QSet<QString> theirs;
    for (const Planned *p : std::as_const(changed)) {
        if (changedOnDisk(p->path))
            theirs.insert(p->path);
    }
    if (!theirs.isEmpty() && onChanged == OnChangedFiles::Stop) {
        for (const Planned *p : std::as_const(changed)) {
            if (theirs.contains(p->path))
                report.changedOnDisk.append({p->path, QStringLiteral("another program changed it since Quillmere read it")});
        }
        return report;
    }
    if (changed.isEmpty()) {
        report.tookEffect = true;
        data.setNeedsToSaveChanges(false);
        return report;
    }

    FileBatch batch(m_prefs.orvaneFolder(), m_prefs.statePath(journalName()));
    QList<FileProblem> notes;
    for (const Planned *p : std::as_const(changed)) {
        QString aside, why;
        const FileState *state = m_files.contains(p->path) ? &m_files[p->path] : nullptr;
        const bool lost = state && std::any_of(state->records.begin(), state->records.end(),
                                               [&](const ForeignXmlPtr &own) { return !kept.contains(own.get()); });
        if (!stampOf(p->path).exists) {
        } else if (theirs.contains(p->path)) {
            aside = keptCopyPath(p->path, kTheirsMark);
            why = QStringLiteral("another program changed it since Quillmere read it; its version is kept as %1");
        } else if (!state) {
            aside = keptCopyPath(p->path, kTheirsMark);
            why = QStringLiteral("a file of this name was there already, which the gallery did not name; it is kept as %1");
        } else if (!state->unreadable.isEmpty()) {
            aside = keptCopyPath(p->path, kUnreadableMark);
            why = QStringLiteral("it could not be read completely (%2); the file as it was is kept as %1")
                      .arg(QStringLiteral("%1"), state->unreadable);
        } else if (lost) {
            aside = keptCopyPath(p->path, kUnreadableMark);
            why = QStringLiteral("it held content of other programs that belonged to what is no longer in the "
                                 "gallery, or to texts that were changed; the file as it was is kept as %1");
        }
        if (!aside.isEmpty())
            notes.append({p->path, why.arg(QFileInfo(aside).fileName())});
        if (!batch.add(p->path, p->text.bytes, aside))
            break;
    }
    if (!batch.failure().ok() || !batch.commit()) {
        if (!batch.tookEffect()) {
            report.failed.append({batch.failure().path, batch.failure().reason});
            return report;
        }
        // It holds; what is not in place yet follows now, or at the next open.
        for (const FileProblem &p : finishInterruptedSave(m_prefs))
            report.failed.append(p);
    }
    report.tookEffect = true;
    report.notes += notes;
    for (const Planned *p : std::as_const(changed)) {
        FileState &state = m_files[p->path];
        state.stamp = stampOf(p->path);
        state.diskHash = p->hash;
        state.baseline = p->hash;
        state.fingerprint = p->fingerprint;
        state.records = p->text.kept;
        state.unreadable.clear();
        report.written.append(p->path);
    }
    data.setNeedsToSaveChanges(false);
    return report;
}

QList<FileProblem> GalleryFile::finishInterruptedSave(const Preferences &prefs)
{
    QList<FileProblem> problems;
    if (prefs.orvaneFolder().isEmpty())
        return problems;
    for (const WriteResult &r : FileBatch::finish(prefs.orvaneFolder(), prefs.statePath(journalName())))
        problems.append({r.path, r.reason});
    return problems;
}

QByteArray GalleryFile::indexBytes(const Data &data) const
{
    return indexXml(data.albums(), m_indexForeign).bytes;
}

QByteArray GalleryFile::albumBytes(const Album &album) const
{
    return albumXml(album).bytes;
}

QByteArray serializeIndex(const Data &data)
{
    return indexXml(data.albums(), nullptr).bytes;
}

QByteArray serializeAlbum(const Album &album)
{
    return albumXml(album).bytes;
}

bool writeNewIndexFile(const QString &path, QString *error)
{
    const WriteResult written = FileWriter::writeFile(path, newIndexXml(), FileWriter::Mode::CreateNew);
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
    if (FileWriter::cutToFit(QString(), name, 0) != name)
        return QStringLiteral("\"%1\" is longer than a file name may be.").arg(name);
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
