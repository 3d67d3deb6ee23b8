#include "storage/GalleryCommands.h"

#include "model/Photo.h"
#include "storage/FileWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace qm {

QString fieldOf(const Item &item, ItemField field)
{
    switch (field) {
    case ItemField::Title:
        return item.title();
    case ItemField::Date:
        return item.date();
    case ItemField::Location:
        return item.location();
    case ItemField::Description:
        return item.description();
    }
    return QString();
}

void setFieldOf(Item &item, ItemField field, const QString &value)
{
    switch (field) {
    case ItemField::Title:
        item.setTitle(value);
        break;
    case ItemField::Date:
        item.setDate(value);
        break;
    case ItemField::Location:
        item.setLocation(value);
        break;
    case ItemField::Description:
        item.setDescription(value);
        break;
    }
}

QList<NodePtr> &GalleryOps::childrenOf(AlbumCollection *parent)
{
    return parent ? parent->items() : m_g.m_data.albums();
}

void GalleryOps::insertNode(AlbumCollection *parent, int row, const NodePtr &node)
{
    QList<NodePtr> &list = childrenOf(parent);
    row = std::clamp(row, 0, int(list.size()));
    emit m_g.nodeAboutToBeInserted(parent, row);
    node->setParentCollection(parent);
    list.insert(row, node);
    emit m_g.nodeInserted(node.get());
}

std::pair<AlbumCollection *, int> GalleryOps::takeNode(const TreeNode *node)
{
    AlbumCollection *parent = node->parentCollection();
    QList<NodePtr> &list = childrenOf(parent);
    const int row = indexOfNode(list, node);
    if (row < 0)
        return {parent, -1};
    emit m_g.nodeAboutToBeRemoved(const_cast<TreeNode *>(node));
    m_g.forgetSelectionIn(node);
    list.removeAt(row);
    emit m_g.nodeRemoved(parent, row);
    return {parent, row};
}

void GalleryOps::moveNode(const NodePtr &node, AlbumCollection *to, int row)
{
    AlbumCollection *from = node->parentCollection();
    QList<NodePtr> &source = childrenOf(from);
    QList<NodePtr> &dest = childrenOf(to);
    const int oldRow = indexOfNode(source, node.get());
    if (oldRow < 0)
        return;
    const int viewRow = row < 0 ? int(dest.size()) : std::min(row, int(dest.size()));
    if (from == to && (viewRow == oldRow || viewRow == oldRow + 1))
        return; // already there
    emit m_g.nodeAboutToBeMoved(node.get(), to, viewRow);
    source.removeAt(oldRow);
    // Removing the node shifts the later positions of its own list.
    const int at = from == to && oldRow < viewRow ? viewRow - 1 : viewRow;
    dest.insert(std::clamp(at, 0, int(dest.size())), node);
    node->setParentCollection(to);
    emit m_g.nodeMoved(node.get());
}

void GalleryOps::insertItems(Album *album, int row, const QList<ItemPtr> &items)
{
    if (items.isEmpty())
        return;
    QList<ItemPtr> &list = album->items();
    row = std::clamp(row, 0, int(list.size()));
    const int last = row + int(items.size()) - 1;
    emit m_g.itemsAboutToBeInserted(album, row, last);
    list.insert(row, items.size(), ItemPtr());
    std::copy(items.begin(), items.end(), list.begin() + row);
    emit m_g.itemsInserted(album, row, last);
    emit m_g.nodeChanged(album);
}

void GalleryOps::restoreItems(Album *album, const QList<std::pair<int, ItemPtr>> &places)
{
    for (qsizetype i = 0; i < places.size();) {
        qsizetype end = i + 1;
        while (end < places.size() && places[end].first == places[end - 1].first + 1)
            ++end;
        QList<ItemPtr> run;
        for (qsizetype j = i; j < end; ++j)
            run << places[j].second;
        insertItems(album, places[i].first, run);
        i = end;
    }
}

QList<std::pair<int, ItemPtr>> GalleryOps::placesOf(const Album *album, const QList<ItemPtr> &items)
{
    QSet<const Item *> wanted;
    for (const ItemPtr &item : items)
        wanted.insert(item.get());
    QList<std::pair<int, ItemPtr>> places;
    for (int i = 0; i < album->items().size(); ++i) {
        if (wanted.contains(album->items()[i].get()))
            places.append({i, album->items()[i]});
    }
    return places;
}

void GalleryOps::removeItems(Album *album, const QList<ItemPtr> &items)
{
    QSet<const Item *> going;
    for (const ItemPtr &item : items)
        going.insert(item.get());
    m_g.forgetSelectedItems(items);
    QList<ItemPtr> &list = album->items();
    // Contiguous runs from the end, so that earlier rows keep their numbers.
    int end = int(list.size());
    bool removed = false;
    while (end > 0) {
        while (end > 0 && !going.contains(list[end - 1].get()))
            --end;
        int first = end;
        while (first > 0 && going.contains(list[first - 1].get()))
            --first;
        if (first == end)
            break;
        emit m_g.itemsAboutToBeRemoved(album, first, end - 1);
        list.remove(first, end - first);
        emit m_g.itemsRemoved(album, first, end - 1);
        removed = true;
        end = first;
    }
    if (removed)
        emit m_g.nodeChanged(album);
}

void GalleryOps::setOrder(Album *album, const QList<ItemPtr> &order)
{
    emit m_g.itemsAboutToBeReordered(album);
    album->items() = order;
    emit m_g.itemsReordered(album);
}

SetTextCommand::SetTextCommand(Gallery &g, const QString &text, Target target, std::shared_ptr<void> object,
                               ItemField field, QString value, bool merges)
    : GalleryCommand(g, text)
    , m_target(target)
    , m_object(std::move(object))
    , m_field(field)
    , m_new(std::move(value))
    , m_merges(merges)
{
    m_old = current();
}

QString SetTextCommand::current() const
{
    switch (m_target) {
    case Target::NodeTitle:
        return static_cast<TreeNode *>(m_object.get())->title();
    case Target::AlbumFile:
        return static_cast<Album *>(m_object.get())->XMLFile();
    case Target::AlbumDescription:
        return static_cast<Album *>(m_object.get())->description();
    case Target::ItemField:
        return fieldOf(*static_cast<Item *>(m_object.get()), m_field);
    }
    return QString();
}

void SetTextCommand::apply(const QString &value)
{
    switch (m_target) {
    case Target::NodeTitle:
        static_cast<TreeNode *>(m_object.get())->setTitle(value);
        break;
    case Target::AlbumFile:
        static_cast<Album *>(m_object.get())->setXMLFile(value);
        break;
    case Target::AlbumDescription:
        static_cast<Album *>(m_object.get())->setDescription(value);
        break;
    case Target::ItemField: {
        auto *item = static_cast<Item *>(m_object.get());
        setFieldOf(*item, m_field, value);
        m_ops.itemChanged(item);
        return;
    }
    }
    m_ops.nodeChanged(static_cast<TreeNode *>(m_object.get()));
}

void SetTextCommand::redo()
{
    apply(m_new);
}

void SetTextCommand::undo()
{
    apply(m_old);
}

bool SetTextCommand::mergeWith(const QUndoCommand *other)
{
    const auto *o = dynamic_cast<const SetTextCommand *>(other);
    if (!o || !o->m_merges || o->m_object != m_object || o->m_target != m_target || o->m_field != m_field)
        return false;
    m_new = o->m_new;
    // Typed back to where it started: the step is gone.
    setObsolete(m_new == m_old);
    return true;
}

FileContentsCommand::FileContentsCommand(Gallery &g, const QString &text, QList<Content> contents,
                                         std::function<void()> redoModel, std::function<void()> undoModel)
    : GalleryCommand(g, text)
    , m_contents(std::move(contents))
    , m_redoModel(std::move(redoModel))
    , m_undoModel(std::move(undoModel))
{
}

QStringList FileContentsCommand::files() const
{
    QStringList paths;
    for (const Content &c : m_contents)
        paths << c.path;
    return paths;
}

bool FileContentsCommand::putOne(const Content &c, bool before, QList<FileProblem> &problems)
{
    const QByteArray &bytes = before ? c.before : c.after;
    if (bytes.isNull()) {
        // The file was made by this step: it goes with the step.
        QFile file(c.path);
        if (FileWriter::refusal(c.path).isEmpty() && QFileInfo::exists(c.path) && !file.remove()) {
            problems.append({c.path, file.errorString()});
            return false;
        }
        return true;
    }
    const WriteResult written = FileWriter::writeFile(c.path, bytes);
    if (!written) {
        problems.append({written.path, written.reason});
        return false;
    }
    return true;
}

bool FileContentsCommand::put(bool before, QList<FileProblem> &problems)
{
    if (!before && !m_folder.isEmpty()) {
        const QFileInfo folder(m_folder);
        if (!folder.exists() && !folder.isSymLink()) {
            if (!QDir().mkdir(m_folder)) {
                problems.append({m_folder, QStringLiteral("the folder could not be made")});
                return false;
            }
            m_madeFolder = true;
        } else if (folder.isSymLink() || !folder.isDir()) {
            problems.append({m_folder, folder.isSymLink() ? FileWriter::refusal(m_folder)
                                                          : QStringLiteral("it is not a folder")});
            return false;
        }
    }
    for (qsizetype i = 0; i < m_contents.size(); ++i) {
        if (putOne(m_contents[i], before, problems))
            continue;
        // All or none: what was put in place goes back.
        QList<FileProblem> ignored;
        for (qsizetype j = i - 1; j >= 0; --j)
            putOne(m_contents[j], !before, ignored);
        if (!before && m_madeFolder)
            QDir().rmdir(m_folder);
        return false;
    }
    if (before && m_madeFolder)
        QDir().rmdir(m_folder); // only when empty: what others put there stays
    return true;
}

TrashingCommand::TrashingCommand(Gallery &g, const QString &text, QStringList paths, bool trashOnRedo,
                                 std::function<void()> redoModel, std::function<void()> undoModel)
    : GalleryCommand(g, text)
    , m_paths(std::move(paths))
    , m_trashOnRedo(trashOnRedo)
    , m_redoModel(std::move(redoModel))
    , m_undoModel(std::move(undoModel))
{
}

bool TrashingCommand::send(JobControl *control, QList<FileProblem> &problems)
{
    m_trashed = TrashedFiles();
    return m_trashed.trash(m_paths, control, problems);
}

bool TrashingCommand::bringBack(JobControl *control, QList<FileProblem> &problems)
{
    return m_trashed.restore(control, problems);
}

QList<FileProblem> TrashingCommand::undoProblems() const
{
    return m_trashOnRedo ? m_trashed.restoreProblems() : QList<FileProblem>();
}

QList<FileProblem> TrashingCommand::redoProblems() const
{
    return m_trashOnRedo ? QList<FileProblem>() : m_trashed.restoreProblems();
}

bool TrashingCommand::undoFiles(JobControl *control, QList<FileProblem> &problems)
{
    return m_trashOnRedo ? bringBack(control, problems) : send(control, problems);
}

bool TrashingCommand::redoFiles(JobControl *control, QList<FileProblem> &problems)
{
    return m_trashOnRedo ? send(control, problems) : bringBack(control, problems);
}

} // namespace qm
