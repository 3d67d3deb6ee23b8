#include "storage/Gallery.h"

#include "model/Photo.h"
#include "storage/Common.h"
#include "storage/GalleryCommands.h"
#include "storage/Job.h"
#include "storage/Preferences.h"
#include "storage/Resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace qm {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("Gallery", text);
}

QString nodeKind(const TreeNode &node)
{
    return node.isAlbum() ? tr("Album") : tr("Collection");
}

// The bytes of a file the program made, for putting it back; null when
// there is none (or it is not a plain file, which is never written).
QByteArray currentBytes(const QString &path)
{
    if (path.isEmpty() || !FileWriter::refusal(path).isEmpty())
        return QByteArray();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QByteArray bytes = file.readAll();
    if (bytes.isNull())
        bytes = QByteArray(""); // there, but empty
    return bytes;
}

int collectionHeight(const TreeNode &node)
{
    if (!node.isCollection())
        return -1;
    int height = 0;
    for (const NodePtr &child : static_cast<const AlbumCollection &>(node).items())
        height = std::max(height, collectionHeight(*child) + 1);
    return height;
}

QString deletionText(const TrashedFiles &files, int kept)
{
    const int gone = files.count();
    const int forGood = files.removedForGood();
    QString text = forGood == gone ? tr("%1 removed.").arg(counted(gone, "file", "files"))
                                   : tr("%1 moved to the trash.").arg(counted(gone, "file", "files"));
    if (kept > 0)
        text += QLatin1Char(' ') + tr("%1 kept: still used elsewhere in the gallery.").arg(counted(kept, "file", "files"));
    return text;
}

} // namespace

QString itemsText(const char *verb, const QList<ItemPtr> &items)
{
    const bool photos = std::all_of(items.begin(), items.end(), [](const ItemPtr &i) { return i->isPhoto(); });
    const bool videos = std::all_of(items.begin(), items.end(), [](const ItemPtr &i) { return i->isVideo(); });
    const char *one = photos ? "Photo" : videos ? "Video" : "Item";
    const char *many = photos ? "Photos" : videos ? "Videos" : "Items";
    if (items.size() == 1)
        return QStringLiteral("%1 %2").arg(tr(verb), tr(one));
    return QStringLiteral("%1 %2 %3").arg(tr(verb)).arg(items.size()).arg(tr(many));
}

Gallery::Gallery(Preferences &prefs, QObject *parent)
    : QObject(parent)
    , m_prefs(prefs)
    , m_file(prefs)
{
    connect(&m_stack, &QUndoStack::indexChanged, this, &Gallery::updateDirty);
    connect(&m_stack, &QUndoStack::cleanChanged, this, &Gallery::updateDirty);
}

Gallery::~Gallery()
{
    if (m_job)
        m_job->waitForFinished();
    // Commands hold parts of the tree; let them go before it.
    m_stack.clear();
}

void Gallery::updateDirty()
{
    m_data.setNeedsToSaveChanges(!m_stack.isClean() || m_openImports > 0);
}

void Gallery::setSelection(Album *album, AlbumCollection *collection)
{
    m_data.setSelectedAlbum(album);
    m_data.setSelectedCollection(album ? nullptr : collection);
}

void Gallery::setSelectedItem(Item *item)
{
    m_data.setSelectedItem(item);
}

void Gallery::forgetSelectionIn(const TreeNode *node)
{
    auto inside = [node](const TreeNode *n) {
        return n && (n == node || (node->isCollection() && n->isCollectionAncestor(static_cast<const AlbumCollection *>(node))));
    };
    if (inside(m_data.selectedAlbum())) {
        m_data.setSelectedAlbum(nullptr);
        m_data.setSelectedItem(nullptr);
    }
    if (inside(m_data.selectedCollection()))
        m_data.setSelectedCollection(nullptr);
}

void Gallery::forgetSelectedItems(const QList<ItemPtr> &items)
{
    for (const ItemPtr &item : items) {
        if (item.get() == m_data.selectedItem())
            m_data.setSelectedItem(nullptr);
    }
}

LoadReport Gallery::load()
{
    emit aboutToReset();
    m_stack.clear();
    const LoadReport report = m_file.loadData(m_data);
    m_stack.setClean();
    updateDirty();
    emit reset();
    return report;
}

void Gallery::adoptTree(const QList<NodePtr> &nodes)
{
    emit aboutToReset();
    m_stack.clear();
    setSelection(nullptr, nullptr);
    setSelectedItem(nullptr);
    m_data.albums() = nodes;
    m_stack.setClean();
    updateDirty();
    emit reset();
}

SaveReport Gallery::save()
{
    const SaveReport report = m_file.saveData(m_data);
    if (report.ok())
        m_stack.setClean();
    updateDirty();
    return report;
}

void Gallery::push(GalleryCommand *command)
{
    m_stack.push(command);
}

void Gallery::runFiles(GalleryCommand *command, bool undo, std::function<void()> then, bool owned)
{
    const QString what = command->text();
    const QString failed = undo ? tr("\u201c%1\u201d could not be undone.").arg(what)
                                : tr("\u201c%1\u201d could not be done completely.").arg(what);
    const QStringList files = command->files();
    if (files.size() < kFilesInBackground) {
        QList<FileProblem> problems;
        const bool proceed = undo ? command->undoFiles(nullptr, problems) : command->redoFiles(nullptr, problems);
        if (!files.isEmpty())
            emit filesChanged(files);
        if (!problems.isEmpty())
            emit this->problems(failed, problems);
        if (proceed)
            then();
        else if (owned)
            delete command;
        return;
    }
    auto proceed = std::make_shared<bool>(false);
    const QString label = undo ? tr("Undoing \u201c%1\u201d: %2\u2026").arg(what, counted(int(files.size()), "file", "files"))
                               : tr("%1: %2\u2026").arg(what, counted(int(files.size()), "file", "files"));
    auto *job = new Job(what, [command, undo, proceed, label](JobControl &c) {
        c.setLabel(label);
        QList<FileProblem> problems;
        *proceed = undo ? command->undoFiles(&c, problems) : command->redoFiles(&c, problems);
        for (const FileProblem &p : problems)
            c.addProblem(p);
    }, this);
    m_job = job;
    connect(job, &Job::finished, this, [this, job, proceed, then, failed, command, owned, files] {
        m_job = nullptr;
        job->deleteLater();
        emit filesChanged(files);
        if (!job->result().problems.isEmpty())
            emit problems(failed, job->result().problems);
        if (*proceed) {
            then();
            return;
        }
        if (owned)
            delete command;
        if (job->result().stopped)
            emit filesReport(tr("Stopped: nothing was changed."));
    });
    job->start();
    emit jobStarted(job);
}

bool Gallery::redoFilesNow(GalleryCommand *command, QList<FileProblem> &problems)
{
    const bool done = command->redoFiles(nullptr, problems);
    emit filesChanged(command->files());
    return done;
}

bool Gallery::canUndo() const
{
    return !isBusy() && m_stack.canUndo();
}

bool Gallery::canRedo() const
{
    return !isBusy() && m_stack.canRedo();
}

bool Gallery::undo()
{
    return step(true);
}

bool Gallery::redo()
{
    return step(false);
}

bool Gallery::step(bool back)
{
    if (back ? !canUndo() : !canRedo())
        return false;
    const int index = back ? m_stack.index() - 1 : m_stack.index();
    auto *command = static_cast<GalleryCommand *>(const_cast<QUndoCommand *>(m_stack.command(index)));
    const QList<FileProblem> blocked = back ? command->undoProblems() : command->redoProblems();
    if (!blocked.isEmpty()) {
        emit problems((back ? tr("\u201c%1\u201d cannot be undone: its files cannot be put back.")
                            : tr("\u201c%1\u201d cannot be redone: its files cannot be put back."))
                          .arg(command->text()),
                      blocked);
        return false;
    }
    runFiles(command, back, [this, back] { back ? m_stack.undo() : m_stack.redo(); }, false);
    return true;
}

int Gallery::depthOf(const TreeNode *node) const
{
    int depth = 0;
    for (const AlbumCollection *p = node ? node->parentCollection() : nullptr; p; p = p->parentCollection())
        ++depth;
    return depth;
}

NodePtr Gallery::insertNewNode(const NodePtr &node, TreeNode *selected, const QString &thumbResource, QString *why)
{
    AlbumCollection *parent = nullptr;
    if (selected && selected->isCollection())
        parent = static_cast<AlbumCollection *>(selected);
    else if (selected && selected->isAlbum())
        parent = selected->parentCollection();
    if (node->isCollection() && parent && depthOf(parent) + 1 >= GalleryFile::kMaxDepth) {
        if (why)
            *why = tr("Collections cannot be nested more than %1 levels deep.").arg(GalleryFile::kMaxDepth);
        return nullptr;
    }
    GalleryOps ops(*this);
    const int row = int(ops.childrenOf(parent).size());

    // The default picture is a file of the node's own, so that a later
    // thumbnail made for it replaces nothing another node shows.
    QList<FileContentsCommand::Content> contents;
    QString thumb;
    QFile resource(resourcePath(thumbResource));
    QByteArray bytes;
    if (resource.open(QIODevice::ReadOnly))
        bytes = resource.readAll();
    if (!bytes.isEmpty()) {
        thumb = m_prefs.freeImgNames(thumbnailFileName).first();
        contents.append({m_prefs.imgPath(thumb), QByteArray(), bytes});
    }
    auto *command = new FileContentsCommand(
        *this, tr("New %1").arg(nodeKind(*node)), contents,
        [this, node, parent, row] { GalleryOps(*this).insertNode(parent, row, node); },
        [this, node] { GalleryOps(*this).takeNode(node.get()); });
    QList<FileProblem> problems;
    if (!redoFilesNow(command, problems) || bytes.isEmpty()) {
        // The node is made all the same, without a picture.
        delete command;
        const QString reason = problems.isEmpty() ? resource.errorString() : problems.first().reason;
        if (why)
            *why = tr("No default thumbnail could be written: %1").arg(reason);
        thumb.clear();
        command = new FileContentsCommand(
            *this, tr("New %1").arg(nodeKind(*node)), {},
            [this, node, parent, row] { GalleryOps(*this).insertNode(parent, row, node); },
            [this, node] { GalleryOps(*this).takeNode(node.get()); });
    }
    if (!thumb.isEmpty())
        node->setThumbFile(thumb);
    push(command);
    return node;
}

NodePtr Gallery::newCollection(TreeNode *selected, QString *why)
{
    auto collection = std::make_shared<AlbumCollection>();
    collection->setTitle(QStringLiteral("Untitled"));
    return insertNewNode(collection, selected, QStringLiteral("collthumb.jpg"), why);
}

NodePtr Gallery::newAlbum(TreeNode *selected, QString *why)
{
    auto album = std::make_shared<Album>();
    album->setTitle(QStringLiteral("Untitled"));
    // Never reuse a name that is on disk or in the tree: that album's items
    // would be overwritten by the next save.
    const int digit = AlbumCounter::takeDigit();
    quint64 key = timeKey();
    auto inUse = [this](const QString &name) {
        const QFileInfo info(m_prefs.xmlPath(name));
        bool used = info.exists() || info.isSymLink();
        m_data.forEachNode([&](const NodePtr &n) {
            if (n->isAlbum() && static_cast<Album *>(n.get())->XMLFile() == name)
                used = true;
            return !used;
        });
        return used;
    };
    while (inUse(albumFileName(key, digit)))
        ++key;
    album->setXMLFile(albumFileName(key, digit));
    return insertNewNode(album, selected, QStringLiteral("albumthumb.jpg"), why);
}

bool Gallery::moveNode(const NodePtr &node, AlbumCollection *to, int childIndex, QString *why)
{
    auto refuse = [why](const QString &reason) {
        if (why)
            *why = reason;
        return false;
    };
    if (!node || to == node.get() || (to && node->isCollection() && to->isCollectionAncestor(static_cast<AlbumCollection *>(node.get()))))
        return refuse(tr("A collection cannot go inside itself."));
    if (to && depthOf(to) + 1 + collectionHeight(*node) >= GalleryFile::kMaxDepth)
        return refuse(tr("Collections cannot be nested more than %1 levels deep.").arg(GalleryFile::kMaxDepth));
    AlbumCollection *from = node->parentCollection();
    const int oldRow = indexOfNode(GalleryOps(*this).childrenOf(from), node.get());
    if (oldRow < 0)
        return refuse(tr("It is no longer in the gallery."));
    const int size = int(GalleryOps(*this).childrenOf(to).size());
    const int viewRow = childIndex < 0 ? size : std::min(childIndex, size);
    if (from == to && (viewRow == oldRow || viewRow == oldRow + 1))
        return true; // already there
    push(new FunctionCommand(
        *this, tr("Move %1").arg(nodeKind(*node)),
        [this, node, to, viewRow] { GalleryOps(*this).moveNode(node, to, viewRow); },
        [this, node, from, oldRow] {
            // Back to where it was: counted before it leaves its place.
            GalleryOps ops(*this);
            const int now = indexOfNode(ops.childrenOf(node->parentCollection()), node.get());
            ops.moveNode(node, from, node->parentCollection() == from && now < oldRow ? oldRow + 1 : oldRow);
        }));
    return true;
}

void Gallery::setTitle(TreeNode *node, const QString &title)
{
    if (!node || node->title() == title)
        return;
    push(new SetTextCommand(*this, tr("Rename %1").arg(nodeKind(*node)), SetTextCommand::Target::NodeTitle,
                            node->shared_from_this(), ItemField::Title, title, false));
}

QString Gallery::setAlbumFile(Album *album, const QString &name)
{
    if (!album || album->XMLFile() == name)
        return QString();
    const QString refused = albumFileNameRefusal(name, m_data, album);
    if (!refused.isEmpty())
        return refused;
    push(new SetTextCommand(*this, tr("Change Album File"), SetTextCommand::Target::AlbumFile,
                            album->shared_from_this(), ItemField::Title, name, false));
    return QString();
}

void Gallery::setAlbumDescription(Album *album, const QString &text)
{
    if (!album || album->description() == text)
        return;
    push(new SetTextCommand(*this, tr("Edit Album Description"), SetTextCommand::Target::AlbumDescription,
                            album->shared_from_this(), ItemField::Description, text, true));
}

void Gallery::setThumbFile(TreeNode *node, const QString &name)
{
    if (!node || node->thumbFile() == name)
        return;
    const NodePtr held = node->shared_from_this();
    const QString old = node->thumbFile();
    auto set = [this, held](const QString &value) {
        held->setThumbFile(value);
        GalleryOps(*this).nodeChanged(held.get());
    };
    push(new FunctionCommand(*this, tr("Choose Thumbnail"), [set, name] { set(name); }, [set, old] { set(old); }));
}

WriteResult Gallery::setNodeThumbnail(TreeNode *node, const QByteArray &jpeg)
{
    if (!node)
        return {};
    QString name = node->thumbFile();
    const bool fresh = name.isEmpty() || m_prefs.imgPath(name).isNull();
    if (fresh)
        name = m_prefs.freeImgNames(thumbnailFileName).first();
    return writeThumbnail(node->shared_from_this(), nullptr, name, jpeg, tr("Change Thumbnail"));
}

WriteResult Gallery::writeThumbnail(const NodePtr &node, const ItemPtr &video, const QString &name,
                                    const QByteArray &jpeg, const QString &text)
{
    const QString path = m_prefs.imgPath(name);
    const QString oldName = node ? node->thumbFile() : static_cast<Video &>(*video).thumbFile();
    auto set = [this, node, video](const QString &value) {
        if (node) {
            node->setThumbFile(value);
            GalleryOps(*this).nodeChanged(node.get());
        } else {
            static_cast<Video &>(*video).setThumbFile(value);
            GalleryOps(*this).itemChanged(video.get());
        }
    };
    auto *command = new FileContentsCommand(*this, text, {{path, currentBytes(path), jpeg}}, [set, name] { set(name); },
                                            [set, oldName] { set(oldName); });
    QList<FileProblem> problems;
    if (jpeg.isEmpty() || !redoFilesNow(command, problems)) {
        delete command;
        return {path, problems.isEmpty() ? tr("no picture could be made") : problems.first().reason};
    }
    push(command);
    return {path, QString()};
}

void Gallery::setItemField(Item *item, ItemField field, const QString &value)
{
    if (!item)
        return;
    static const char *names[] = {"Edit Title", "Edit Date", "Edit Location", "Edit Description"};
    auto *command = new SetTextCommand(*this, tr(names[int(field)]), SetTextCommand::Target::ItemField,
                                       item->shared_from_this(), field, value, field == ItemField::Description);
    push(command);
}

void Gallery::applyToRest(Album *album, int row, ItemField field)
{
    if (!album || row < 0 || row >= album->items().size() || album->items().size() < 2)
        return;
    const QString value = fieldOf(*album->items().at(row), field);
    QList<std::pair<ItemPtr, QString>> old;
    for (int i = 0; i < album->items().size(); ++i) {
        if (i != row)
            old.append({album->items().at(i), fieldOf(*album->items().at(i), field)});
    }
    static const char *names[] = {"Apply Title to Rest", "Apply Date to Rest", "Apply Location to Rest",
                                  "Apply Description to Rest"};
    auto set = [this, old, field](const std::function<QString(const QString &)> &valueFor) {
        for (const auto &[item, before] : old) {
            setFieldOf(*item, field, valueFor(before));
            GalleryOps(*this).itemChanged(item.get());
        }
    };
    push(new FunctionCommand(*this, tr(names[int(field)]), [set, value] { set([value](const QString &) { return value; }); },
                             [set] { set([](const QString &before) { return before; }); }));
}

void Gallery::moveItems(Album *from, const QList<ItemPtr> &items, Album *to, int row)
{
    if (!from || !to || from == to || items.isEmpty())
        return;
    const NodePtr fromHeld = from->shared_from_this();
    const NodePtr toHeld = to->shared_from_this();
    // Where each was, in album order, for putting them back.
    const QList<std::pair<int, ItemPtr>> places = GalleryOps::placesOf(from, items);
    push(new FunctionCommand(
        *this, itemsText("Move", items),
        [this, from, to, items, row, fromHeld, toHeld] {
            GalleryOps ops(*this);
            ops.removeItems(from, items);
            ops.insertItems(to, row < 0 ? int(to->items().size()) : row, items);
        },
        [this, from, to, items, places, fromHeld, toHeld] {
            GalleryOps ops(*this);
            ops.removeItems(to, items);
            ops.restoreItems(from, places);
        }));
}

void Gallery::reorderItems(Album *album, const QList<ItemPtr> &items, int row)
{
    if (!album || items.isEmpty())
        return;
    const QList<ItemPtr> before = album->items();
    int r = row;
    QSet<const Item *> moving;
    for (const ItemPtr &item : items) {
        const int at = album->indexOfItem(item.get());
        if (at >= 0 && at < row)
            --r;
        moving.insert(item.get());
    }
    QList<ItemPtr> after;
    after.reserve(before.size());
    for (const ItemPtr &item : before) {
        if (!moving.contains(item.get()))
            after.append(item);
    }
    r = std::clamp(r, 0, int(after.size()));
    QList<ItemPtr> inserted;
    for (const ItemPtr &item : items) {
        if (album->indexOfItem(item.get()) >= 0)
            inserted.append(item);
    }
    after.insert(r, inserted.size(), ItemPtr());
    std::copy(inserted.begin(), inserted.end(), after.begin() + r);
    const NodePtr held = album->shared_from_this();
    // Even a drop that leaves the order as it was counts as a change.
    push(new FunctionCommand(*this, itemsText("Move", items),
                             [this, held, after] { GalleryOps(*this).setOrder(static_cast<Album *>(held.get()), after); },
                             [this, held, before] { GalleryOps(*this).setOrder(static_cast<Album *>(held.get()), before); }));
}

void Gallery::addItems(Album *album, const QList<ItemPtr> &items, const QStringList &files, const QString &text)
{
    if (!album || items.isEmpty())
        return;
    const NodePtr held = album->shared_from_this();
    const int row = int(album->items().size());
    push(new TrashingCommand(
        *this, text, files, false,
        [this, held, row, items] { GalleryOps(*this).insertItems(static_cast<Album *>(held.get()), row, items); },
        [this, held, items] { GalleryOps(*this).removeItems(static_cast<Album *>(held.get()), items); }));
}

std::shared_ptr<Gallery::Import> Gallery::beginImport(Album *album, const QString &kind)
{
    auto import = std::make_shared<Import>();
    import->m_gallery = this;
    import->m_album = std::static_pointer_cast<Album>(album->shared_from_this());
    import->m_kind = kind;
    ++m_openImports;
    updateDirty();
    return import;
}

void Gallery::Import::add(const ItemPtr &item, const QStringList &files)
{
    GalleryOps(*m_gallery).insertItems(m_album.get(), int(m_album->items().size()), {item});
    m_items.append(item);
    m_files.append(files);
}

void Gallery::endImport(const std::shared_ptr<Import> &import)
{
    if (!import || !import->m_gallery)
        return;
    import->m_gallery = nullptr;
    --m_openImports;
    if (!import->m_items.isEmpty()) {
        const QString text = itemsText("Import", import->m_items);
        const QList<ItemPtr> items = import->m_items;
        const std::shared_ptr<Album> album = import->m_album;
        const int row = std::max(0, album->indexOfItem(items.first().get()));
        auto applied = std::make_shared<bool>(true);
        // The items are in the album already; the first redo is the import itself.
        push(withFirstPicture(new TrashingCommand(
            *this, text, import->m_files, false,
            [this, album, row, items, applied] {
                if (!std::exchange(*applied, false))
                    GalleryOps(*this).insertItems(album.get(), row, items);
            },
            [this, album, items] { GalleryOps(*this).removeItems(album.get(), items); }), *import));
    }
    updateDirty();
}

void Gallery::addStreams(Video *video, const QList<StreamPtr> &streams, const QStringList &files)
{
    if (!video || streams.isEmpty())
        return;
    const ItemPtr held = video->shared_from_this();
    const QList<StreamPtr> before = video->streams();
    QList<StreamPtr> after = before;
    for (const StreamPtr &stream : streams)
        after.insert(Video::streamIndexForBitrate(after, stream->bitrate()), stream);
    auto set = [this, held](const QList<StreamPtr> &list) {
        static_cast<Video *>(held.get())->streams() = list;
        GalleryOps(*this).itemChanged(held.get());
    };
    push(new TrashingCommand(*this, streams.size() == 1 ? tr("Add Stream") : tr("Add %1 Streams").arg(streams.size()),
                             files, false, [set, after] { set(after); }, [set, before] { set(before); }));
}

bool Gallery::removeStream(Video *video, int index, QString *why)
{
    if (!video || index < 0 || index >= video->streams().size())
        return false;
    if (video->numberOfStreams() == 1) {
        if (why)
            *why = tr("You cannot remove a stream if it is the only stream in a video.");
        return false;
    }
    const ItemPtr held = video->shared_from_this();
    const StreamPtr stream = video->streams().at(index);
    // A file that another stream of the gallery still names stays.
    bool shared = false;
    m_data.forEachNode([&](const NodePtr &n) {
        if (n->isAlbum()) {
            for (const ItemPtr &item : static_cast<Album &>(*n).items()) {
                if (!item->isVideo())
                    continue;
                for (const StreamPtr &s : static_cast<Video &>(*item).streams())
                    shared = shared || (s != stream && s->file() == stream->file());
            }
        }
        return !shared;
    });
    const QString path = m_prefs.imgPath(stream->file());
    auto *command = new TrashingCommand(
        *this, tr("Remove Stream"), shared || path.isNull() ? QStringList() : QStringList{path}, true,
        [this, held, stream] {
            static_cast<Video *>(held.get())->streams().removeAll(stream);
            GalleryOps(*this).itemChanged(held.get());
        },
        [this, held, stream, index] {
            auto &streams = static_cast<Video *>(held.get())->streams();
            streams.insert(std::min(index, int(streams.size())), stream);
            GalleryOps(*this).itemChanged(held.get());
        });
    QList<FileProblem> problems;
    redoFilesNow(command, problems);
    if (!problems.isEmpty())
        emit this->problems(tr("The stream's file could not be removed from the gallery folder."), problems);
    push(command);
    return true;
}

WriteResult Gallery::changeFiles(const QString &text, const QList<FileChange> &changes, const QString &folder)
{
    if (isBusy())
        return {folder, tr("another change is still moving files; try again when it has ended")};
    auto *command = new FileContentsCommand(*this, text, changes, [] {}, [] {});
    command->setFolder(folder);
    QList<FileProblem> problems;
    if (!redoFilesNow(command, problems)) {
        delete command;
        return problems.isEmpty() ? WriteResult{folder, tr("the files could not be written")}
                                  : WriteResult{problems.first().path, problems.first().reason};
    }
    push(command);
    return {folder, QString()};
}

WriteResult Gallery::setVideoThumbnail(Video *video, const QByteArray &jpeg)
{
    if (!video)
        return {};
    QString name = video->thumbFile();
    if (name.isEmpty() || m_prefs.imgPath(name).isNull())
        name = m_prefs.freeImgNames(videoThumbFileName).first();
    return writeThumbnail(nullptr, video->shared_from_this(), name, jpeg, tr("Make Video Thumbnail"));
}

void Gallery::removeNode(const NodePtr &node)
{
    if (!node || isBusy())
        return;
    const DeletePlan plan = GalleryTrash(m_data, m_prefs).planNode(*node);
    auto place = std::make_shared<std::pair<AlbumCollection *, int>>(node->parentCollection(), -1);
    auto *command = new TrashingCommand(
        *this, tr("Delete %1").arg(nodeKind(*node)), plan.paths, true,
        [this, node, place] { *place = GalleryOps(*this).takeNode(node.get()); },
        [this, node, place] { GalleryOps(*this).insertNode(place->first, place->second, node); });
    runNew(command, [this, command, plan] { emit filesReport(deletionText(command->trashed(), plan.kept)); });
}

void Gallery::removeItems(Album *album, const QList<ItemPtr> &items)
{
    if (!album || items.isEmpty() || isBusy())
        return;
    const DeletePlan plan = GalleryTrash(m_data, m_prefs).planItems(items);
    const NodePtr held = album->shared_from_this();
    const QList<std::pair<int, ItemPtr>> places = GalleryOps::placesOf(album, items);
    auto *command = new TrashingCommand(
        *this, itemsText("Delete", items), plan.paths, true,
        [this, held, items] { GalleryOps(*this).removeItems(static_cast<Album *>(held.get()), items); },
        [this, held, places] { GalleryOps(*this).restoreItems(static_cast<Album *>(held.get()), places); });
    runNew(command, [this, command, plan] { emit filesReport(deletionText(command->trashed(), plan.kept)); });
}

void Gallery::trashFiles(const QStringList &paths)
{
    if (paths.isEmpty() || isBusy())
        return;
    // Only entries directly inside the gallery's two folders.
    const QString img = QDir::cleanPath(m_prefs.imgFolder()), xml = QDir::cleanPath(m_prefs.xmlFolder());
    QStringList inside;
    QList<FileProblem> outside;
    for (const QString &path : paths) {
        const QString clean = QDir::cleanPath(path);
        const qsizetype slash = clean.lastIndexOf(QLatin1Char('/'));
        const QString folder = clean.left(slash);
        if (slash <= 0 || img.isEmpty() || (folder != img && folder != xml) || !isBareFileName(clean.mid(slash + 1))) {
            outside.append({path, tr("it is not inside the gallery's img or xml folder")});
            continue;
        }
        // The trash takes files and links only; say so rather than report nothing moved.
        const QFileInfo info(clean);
        if (!info.isSymLink() && info.isDir())
            outside.append({path, tr("it is a folder; folders are left where they are")});
        else if (!info.isSymLink() && !info.exists())
            outside.append({path, tr("it is no longer there")});
        else
            inside << clean;
    }
    if (!outside.isEmpty())
        emit problems(tr("Some files were left where they are."), outside);
    if (inside.isEmpty())
        return;
    auto *command = new TrashingCommand(*this, tr("Move %1 to the Trash").arg(counted(int(inside.size()), "File", "Files")),
                                        inside, true, [] {}, [] {});
    runNew(command, [this, command] { emit filesReport(deletionText(command->trashed(), 0)); });
}

void Gallery::runNew(GalleryCommand *command, std::function<void()> after)
{
    runFiles(command, false, [this, command, after] {
        push(command);
        if (after)
            after();
    }, true);
}

} // namespace qm
