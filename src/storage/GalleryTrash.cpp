#include "storage/GalleryTrash.h"

#include "model/AlbumCollection.h"
#include "model/Photo.h"
#include "model/Video.h"
#include "storage/Preferences.h"
#include "storage/Job.h"
#include "storage/Trash.h"

#include <QFile>
#include <QCoreApplication>
#include <QFileInfo>

namespace qm {

namespace {

bool trashDisabled = false;

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

QSet<QString> GalleryTrash::namesStillInUse(const QSet<const void *> &going) const
{
    // Image names and album file names live in different folders; the
    // album file names are marked so the two never mix.
    QSet<QString> used;
    m_data.forEachNode([&](const NodePtr &n) {
        if (going.contains(n.get()))
            return true;
        if (!n->thumbFile().isEmpty())
            used.insert(n->thumbFile());
        if (!n->isAlbum())
            return true;
        const auto &album = static_cast<const Album &>(*n);
        used.insert(QLatin1Char('/') + album.XMLFile());
        for (const ItemPtr &item : album.items()) {
            if (going.contains(item.get()))
                continue;
            QList<FileRef> files;
            collectItem(*item, files);
            for (const FileRef &f : files)
                used.insert(f.name);
        }
        return true;
    });
    return used;
}

DeletePlan GalleryTrash::plan(const QList<FileRef> &files, const QSet<const void *> &going) const
{
    DeletePlan plan;
    const QSet<QString> used = namesStillInUse(going);
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
        const QString path = f.xml ? m_prefs.xmlPath(f.name) : m_prefs.imgPath(f.name);
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

void TrashedFiles::setTrashDisabledForTesting(bool disabled)
{
    trashDisabled = disabled;
}

int TrashedFiles::removedForGood() const
{
    return int(std::count_if(m_entries.begin(), m_entries.end(), [](const Entry &e) { return e.inTrash.isEmpty(); }));
}

bool TrashedFiles::trash(const QStringList &paths, JobControl *control, QList<FileProblem> &problems)
{
    if (control)
        control->setTotal(paths.size());
    bool undoable = true;
    for (const QString &path : paths) {
        if (undoable && control && control->stopRequested()) {
            QList<FileProblem> stuck;
            if (restore(nullptr, stuck))
                return false;
            // Something could not go back: finish the deletion after all.
            problems.append(stuck);
            undoable = false;
        }
        if (control)
            control->advance();
        // A link is taken itself, never what it points to.
        const QFileInfo info(path);
        if (!info.isSymLink() && (!info.exists() || info.isDir()))
            continue;
        QString inTrash;
        QFile file(path);
        if (!trashDisabled && moveFileToTrash(path, &inTrash)) {
            m_entries.append({path, inTrash});
        } else if (file.remove()) {
            m_entries.append({path, QString()});
            undoable = false;
        } else {
            problems.append({path, file.errorString()});
        }
    }
    return true;
}

QList<FileProblem> TrashedFiles::restoreProblems() const
{
    QList<FileProblem> problems;
    for (const Entry &e : m_entries) {
        if (e.inTrash.isEmpty())
            problems.append({e.original, QStringLiteral("it was removed for good (there was no trash for it)")});
        else if (!QFileInfo(e.inTrash).isSymLink() && !QFileInfo::exists(e.inTrash))
            problems.append({e.original, QStringLiteral("it is no longer in the trash (%1)").arg(e.inTrash)});
        else if (QFileInfo(e.original).isSymLink() || QFileInfo::exists(e.original))
            problems.append({e.original, QStringLiteral("another file has taken its place")});
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
    if (control)
        control->setTotal(m_entries.size());
    // Last out, first back: the order a deletion took them in reverse.
    for (qsizetype i = m_entries.size() - 1; i >= 0; --i) {
        if (control)
            control->advance();
        if (putBackFromTrash(m_entries[i].original, m_entries[i].inTrash))
            continue;
        problems.append({m_entries[i].original, QStringLiteral("it could not be moved back from %1").arg(m_entries[i].inTrash)});
        // All or nothing: what came back goes to the trash again.
        for (qsizetype j = i + 1; j < m_entries.size(); ++j) {
            QString inTrash;
            if (moveFileToTrash(m_entries[j].original, &inTrash))
                m_entries[j].inTrash = inTrash;
            else
                problems.append({m_entries[j].original, QStringLiteral("it is back in the gallery folder")});
        }
        return false;
    }
    m_entries.clear();
    return true;
}

} // namespace qm
