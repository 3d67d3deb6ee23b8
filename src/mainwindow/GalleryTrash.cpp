#include "mainwindow/GalleryTrash.h"

#include "model/AlbumCollection.h"
#include "model/Photo.h"
#include "model/Video.h"
#include "storage/Preferences.h"
#include "storage/Trash.h"

#include <QFile>
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

void GalleryTrash::setTrashDisabledForTesting(bool disabled)
{
    trashDisabled = disabled;
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

DeleteReport GalleryTrash::carryOut(const DeletePlan &plan, const std::atomic_bool *stop, std::atomic<qint64> *done)
{
    DeleteReport report;
    report.kept = plan.kept;
    QList<std::pair<QString, QString>> trashed; // original, in the trash
    bool undoable = true;
    for (const QString &path : plan.paths) {
        if (stop && undoable && stop->load()) {
            QList<QString> back;
            for (auto it = trashed.crbegin(); it != trashed.crend(); ++it) {
                if (putBackFromTrash(it->first, it->second))
                    back.append(it->first);
            }
            if (back.size() == trashed.size()) {
                report = DeleteReport();
                report.undone = true;
                return report;
            }
            // Something could not go back: finish the deletion after all.
            for (const QString &again : back) {
                QFile file(again);
                if (!moveFileToTrash(again) && !file.remove())
                    report.failed.append({again, file.errorString()});
            }
            undoable = false;
        }
        if (done)
            ++*done;
        const QFileInfo info(path);
        if (!info.exists() || info.isDir())
            continue;
        QFile file(path);
        QString inTrash;
        if (!trashDisabled && moveFileToTrash(path, &inTrash)) {
            ++report.trashed;
            trashed.append({path, inTrash});
        } else if (file.remove()) {
            ++report.removed;
            undoable = false;
        } else {
            report.failed.append({path, file.errorString()});
        }
    }
    return report;
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

} // namespace qm
