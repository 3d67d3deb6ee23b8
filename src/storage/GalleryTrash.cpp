#include "storage/GalleryTrash.h"

#include "model/AlbumCollection.h"
#include "model/Photo.h"
#include "model/Video.h"
#include "storage/FileWriter.h"
#include "storage/Job.h"
#include "storage/Preferences.h"
#include "storage/MoveJournal.h"
#include "storage/Trash.h"

#include <QFile>
#include <QCoreApplication>
#include <QFileInfo>

#include <cerrno>

#include <unistd.h>

namespace qm {

namespace {

void addIfSet(QList<QString> &names, const QString &name)
{
    if (!name.isEmpty())
        names.append(name);
}

// Every object below `node`, the node included, for the in-use test.
void markGoing(const TreeNode &node, QSet<const void *> &going)
{
    going.insert(&node);
    if (node.isCollection()) {
        for (const NodePtr &child : static_cast<const AlbumCollection &>(node).items())
            markGoing(*child, going);
    } else {
        for (const ItemPtr &item : static_cast<const Album &>(node).items())
            going.insert(item.get());
    }
}

} // namespace

GalleryTrash::GalleryTrash(const Data &data, const Preferences &prefs)
    : GalleryTrash(data, prefs.imgFolder(), prefs.xmlFolder())
{
}

void GalleryTrash::collectItem(const Item &item, QList<FileRef> &out)
{
    QList<QString> names;
    if (item.isPhoto()) {
        const auto &p = static_cast<const Photo &>(item);
        names << p.imageFile() << p.smallImageFile();
        addIfSet(names, p.largeImageFile());
    } else {
        const auto &v = static_cast<const Video &>(item);
        addIfSet(names, v.thumbFile());
        for (const StreamPtr &s : v.streams())
            names << s->file();
    }
    for (const QString &n : names)
        out.append({false, n});
}

void GalleryTrash::collectNode(const TreeNode &node, QList<FileRef> &out)
{
    if (!node.thumbFile().isEmpty())
        out.append({false, node.thumbFile()});
    if (node.isCollection()) {
        for (const NodePtr &child : static_cast<const AlbumCollection &>(node).items())
            collectNode(*child, out);
        return;
    }
    const auto &album = static_cast<const Album &>(node);
    for (const ItemPtr &item : album.items())
        collectItem(*item, out);
    out.append({true, album.XMLFile()});
}

QSet<QString> GalleryTrash::namedAmong(const QSet<QString> &names, const QSet<const void *> &going) const
{
    // Only the few names asked about are looked up: no set of every name in
    // a gallery of a hundred thousand items is built.
    QSet<QString> used;
    if (names.isEmpty())
        return used;
    auto see = [&](const QString &name) {
        if (!name.isEmpty() && names.contains(name))
            used.insert(name);
    };
    m_data.forEachNode([&](const NodePtr &n) {
        // A node that goes takes its own names; its items are asked one by one.
        const bool nodeGoes = going.contains(n.get());
        if (!nodeGoes)
            see(n->thumbFile());
        if (!n->isAlbum())
            return true;
        const auto &album = static_cast<const Album &>(*n);
        if (!nodeGoes && !album.XMLFile().isEmpty())
            see(QLatin1Char('/') + album.XMLFile());
        QList<FileRef> files;
        for (const ItemPtr &item : album.items()) {
            if (going.contains(item.get()))
                continue;
            files.clear();
            collectItem(*item, files);
            for (const FileRef &f : files)
                see(f.name);
        }
        return true;
    });
    return used;
}

DeletePlan GalleryTrash::plan(const QList<FileRef> &files, const QSet<const void *> &going) const
{
    DeletePlan plan;
    QSet<QString> wanted;
    for (const FileRef &f : files) {
        if (!f.name.isEmpty())
            wanted.insert(f.xml ? QLatin1Char('/') + f.name : f.name);
    }
    const QSet<QString> used = namedAmong(wanted, going);
    QSet<QString> done;
    for (const FileRef &f : files) {
        const QString key = f.xml ? QLatin1Char('/') + f.name : f.name;
        if (f.name.isEmpty() || done.contains(key))
            continue;
        done.insert(key);
        if (used.contains(key)) {
            ++plan.kept;
            continue;
        }
        // Names that reach outside the gallery's folders name no file.
        const QString path = Preferences::pathIn(f.xml ? m_xml : m_img, f.name);
        if (!path.isNull())
            plan.paths.append(path);
    }
    return plan;
}

DeletePlan GalleryTrash::planNode(const TreeNode &node) const
{
    QList<FileRef> files;
    collectNode(node, files);
    QSet<const void *> going;
    markGoing(node, going);
    return plan(files, going);
}

DeletePlan GalleryTrash::planItems(const QList<ItemPtr> &items) const
{
    QList<FileRef> files;
    QSet<const void *> going;
    for (const ItemPtr &item : items) {
        collectItem(*item, files);
        going.insert(item.get());
    }
    return plan(files, going);
}

GalleryTrash::Counts GalleryTrash::countNode(const TreeNode &node)
{
    Counts c;
    QList<const TreeNode *> stack{&node};
    while (!stack.isEmpty()) {
        const TreeNode *n = stack.takeLast();
        if (n->isCollection()) {
            ++c.collections;
            for (const NodePtr &child : static_cast<const AlbumCollection *>(n)->items())
                stack.append(child.get());
        } else {
            ++c.albums;
            for (const ItemPtr &item : static_cast<const Album *>(n)->items())
                item->isPhoto() ? ++c.photos : ++c.videos;
        }
    }
    return c;
}

QString counted(int n, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QCoreApplication::translate("qm", n == 1 ? one : many));
}

int TrashedFiles::removedForGood() const
{
    return int(std::count_if(m_entries.begin(), m_entries.end(), [](const Entry &e) { return e.inTrash.isEmpty(); }));
}

bool TrashedFiles::trash(const QStringList &paths, Removal how, JobControl *control, QList<FileProblem> &problems)
{
    m_entries.clear();
    m_lost = false;
    // A link is taken itself, never what it points to; folders stay.
    QStringList going;
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.isSymLink() || (info.exists() && !info.isDir()))
            going << path;
    }
    if (control)
        control->setTotal(going.size());
    QString why;
    if (m_journal && !m_journal->leaving(going, &why)) {
        problems.append({going.value(0), why});
        return false;
    }
    // Takes back what went; true when everything is back as it was. Once
    // something cannot come back, the rest goes too and the model follows.
    bool canGiveUp = true;
    auto giveUp = [&]() {
        QList<FileProblem> stuck;
        if (canGiveUp && putBack(0, stuck))
            return true;
        problems.append(stuck);
        canGiveUp = false;
        return false;
    };
    for (const QString &path : going) {
        if (canGiveUp && control && control->stopRequested() && giveUp())
            return false;
        if (control)
            control->advance();
        const FileIdentity identity = FileIdentity::of(path);
        QString inTrash;
        if (how != Removal::ForGood) {
            if (moveFileToTrash(path, &inTrash, &why)) {
                m_entries.append({path, inTrash, identity});
                continue;
            }
            if (how == Removal::Trash) {
                problems.append({path, QStringLiteral("no trash could take it: %1").arg(why)});
                if (giveUp())
                    return false;
                continue;
            }
        }
        if (::unlink(QFile::encodeName(path).constData()) == 0) {
            m_entries.append({path, QString(), identity});
            canGiveUp = false;
        } else {
            problems.append({path, systemReason(errno)});
            // Nothing gone yet: nothing changed.
            if (m_entries.isEmpty())
                return false;
        }
    }
    return true;
}

bool TrashedFiles::putBack(qsizetype from, QList<FileProblem> &problems)
{
    // Last out, first back: the order a deletion took them in reverse.
    bool all = true;
    for (qsizetype i = m_entries.size() - 1; i >= from; --i) {
        QString why;
        if (!m_entries[i].inTrash.isEmpty() && putBackFromTrash(m_entries[i].original, m_entries[i].inTrash, &why)) {
            m_entries.removeAt(i);
            continue;
        }
        problems.append({m_entries[i].original, m_entries[i].inTrash.isEmpty()
                                                   ? QStringLiteral("it was removed for good")
                                                   : QStringLiteral("it could not be moved back from %1 (%2)")
                                                         .arg(m_entries[i].inTrash, why)});
        all = false;
    }
    return all;
}

namespace {

// Put back by the user with the desktop's trash: the same file (a move
// keeps it), or a copy with its size and time.
bool backByHand(const FileIdentity &now, const FileIdentity &was)
{
    return now.sameFile(was) || (now.exists() && now.size == was.size && now.mtimeNs == was.mtimeNs);
}

} // namespace

QList<FileProblem> TrashedFiles::restoreProblems() const
{
    QList<FileProblem> problems;
    for (const Entry &e : m_entries) {
        if (e.inTrash.isEmpty()) {
            problems.append({e.original, QStringLiteral("it was removed for good (there was no trash for it)")});
            continue;
        }
        const FileIdentity there = FileIdentity::of(e.original);
        if (backByHand(there, e.identity))
            continue;
        if (!FileIdentity::of(e.inTrash).sameFile(e.identity)) {
            // Emptied from the trash, or another file trashed under its name since.
            problems.append({e.original, QStringLiteral("it is no longer in the trash (%1)").arg(e.inTrash)});
            m_lost = true;
        } else if (there.exists()) {
            problems.append({e.original, QStringLiteral("another file has taken its place")});
        }
    }
    return problems;
}

bool TrashedFiles::restore(JobControl *control, QList<FileProblem> &problems)
{
    const QList<FileProblem> blocked = restoreProblems();
    if (!blocked.isEmpty()) {
        problems.append(blocked);
        return false;
    }
    QStringList coming;
    for (const Entry &e : m_entries)
        coming << e.original;
    QString why;
    if (m_journal && !m_journal->entering(coming, &why)) {
        problems.append({coming.value(0), why});
        return false;
    }
    if (control)
        control->setTotal(m_entries.size());
    for (qsizetype i = m_entries.size() - 1; i >= 0; --i) {
        if (control && control->stopRequested()) {
            sendAgain(i + 1, problems);
            return false;
        }
        if (control)
            control->advance();
        Entry &e = m_entries[i];
        if (backByHand(FileIdentity::of(e.original), e.identity))
            continue;
        if (putBackFromTrash(e.original, e.inTrash, &why))
            continue;
        problems.append({e.original, QStringLiteral("it could not be moved back from %1 (%2)").arg(e.inTrash, why)});
        sendAgain(i + 1, problems);
        return false;
    }
    m_entries.clear();
    return true;
}

void TrashedFiles::sendAgain(qsizetype from, QList<FileProblem> &problems)
{
    QStringList again;
    for (qsizetype j = from; j < m_entries.size(); ++j)
        again << m_entries[j].original;
    QString why;
    if (m_journal)
        m_journal->leaving(again, &why);
    for (qsizetype j = from; j < m_entries.size(); ++j) {
        Entry &e = m_entries[j];
        QString inTrash;
        e.identity = FileIdentity::of(e.original);
        if (moveFileToTrash(e.original, &inTrash, &why))
            e.inTrash = inTrash;
        else
            problems.append({e.original, QStringLiteral("it is back in the gallery folder")});
    }
}

} // namespace qm
