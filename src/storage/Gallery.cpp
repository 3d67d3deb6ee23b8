#include "storage/Gallery.h"

#include "model/Photo.h"
#include "storage/Common.h"
#include "storage/FileReader.h"
#include "storage/GalleryCheck.h"
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
    const ReadResult read = FileReader::readFile(path, FileReader::kPictureLimit);
    if (!read)
        return QByteArray();
    QByteArray bytes = read.bytes;
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
    QString text = forGood == 0 ? tr("%1 moved to the trash.").arg(counted(gone, "file", "files"))
        : forGood == gone       ? tr("%1 deleted for good.").arg(counted(gone, "file", "files"))
                                : tr("%1 moved to the trash, %2 deleted for good.")
                                      .arg(counted(gone - forGood, "file", "files"), counted(forGood, "file", "files"));
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
    // Each step may hold a whole album's worth of the tree.
    m_stack.setUndoLimit(kUndoLimit);
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

bool Gallery::holds(const TreeNode *node) const
{
    for (const TreeNode *n = node; n; n = n->parentCollection()) {
        const QList<NodePtr> &list = n->parentCollection() ? n->parentCollection()->items() : m_data.albums();
        if (indexOfNode(list, n) < 0)
            return false;
    }
    return node != nullptr;
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
    LoadReport report;
    {
        const QWriteLocker lock(&m_treeLock);
        m_stack.clear();
        m_journal.setGallery(m_prefs);
        report = m_file.loadData(m_data);
    }
    m_stack.setClean();
    updateDirty();
    // Files moved by a session that ended without saving follow the saved
    // gallery; a gallery opened read-only is looked at, not put right.
    const MoveJournal::Recovery recovery =
        m_readOnly ? MoveJournal::Recovery() : m_journal.recover(GalleryNames::of(m_data));
    emit reset();
    if (!recovery.isEmpty()) {
        const QString message = recovery.failed.isEmpty()
            ? tr("Quillmere was interrupted before its last changes were saved. It put the gallery's files back "
                 "in line with the saved gallery:")
            : tr("Quillmere was interrupted before its last changes were saved. Some files could not be put back "
                 "in line with the saved gallery:");
        // After the window has shown the gallery.
        QMetaObject::invokeMethod(this, [this, message, recovery] {
            emit problems(message, recovery.failed + recovery.done);
        }, Qt::QueuedConnection);
    }
    return report;
}

void Gallery::adoptTree(const QList<NodePtr> &nodes)
{
    emit aboutToReset();
    const QWriteLocker lock(&m_treeLock);
    m_stack.clear();
    m_journal.setGallery(m_prefs);
    setSelection(nullptr, nullptr);
    setSelectedItem(nullptr);
    m_data.albums() = nodes;
    m_stack.setClean();
    updateDirty();
    emit reset();
}

Gallery::OpenReport Gallery::open(bool readOnly)
{
    OpenReport report;
    m_readOnly = readOnly;
    if (readOnly) {
        m_lock.unlock();
    } else {
        report.lock = m_lock.lock(m_prefs);
        if (report.lock != GalleryLock::State::Locked) {
            // Nothing of another gallery stays to be changed or saved in its place.
            adoptTree({});
            m_readOnly = true;
            return report;
        }
        report.tidying = GalleryLock::tidy(m_prefs, &report.leftoversRemoved);
        // A save that cannot be completed leaves its files mixed: they are
        // shown, but not written over until it is.
        m_readOnly = !report.tidying.isEmpty() && QFileInfo::exists(m_prefs.statePath(GalleryFile::journalName()));
    }
    report.load = load();
    return report;
}

bool Gallery::refusedReadOnly()
{
    if (m_readOnly)
        emit problems(tr("The gallery is open read-only: nothing in it can be changed."), {});
    return m_readOnly;
}

SaveReport Gallery::save(GalleryFile::OnChangedFiles onChanged)
{
    if (m_readOnly) {
        SaveReport report;
        report.failed.append({m_prefs.orvaneFolder(), tr("the gallery is open read-only")});
        return report;
    }
    const SaveReport report = m_file.saveData(m_data, onChanged);
    if (report.tookEffect) {
        m_stack.setClean();
        saveCommitted();
    }
    updateDirty();
    return report;
}

void Gallery::saveCommitted()
{
    // Every move recorded so far is in what was saved.
    m_journal.saveCommitted();
}

void Gallery::push(GalleryCommand *command)
{
    if (refusedReadOnly()) {
        delete command;
        return;
    }
    const QWriteLocker lock(&m_treeLock);
    m_stack.push(command);
}

QStringList Gallery::newImgNames(QString (*pattern)(quint64), int count)
{
    const QStringList names = m_prefs.freeImgNames(pattern, count);
    QStringList paths;
    for (const QString &name : names)
        paths << m_prefs.imgPath(name);
    // A name that cannot be recorded still serves: at worst a crash leaves
    // a file that Check Gallery shows.
    m_journal.entering(paths);
    return names;
}

bool Gallery::filesWillBeWritten(const QStringList &paths, QString *reason)
{
    return m_journal.entering(paths, reason);
}

void Gallery::runFiles(GalleryCommand *command, bool undo, std::function<void()> then, bool owned)
{
    if (refusedReadOnly()) {
        if (owned)
            delete command;
        return;
    }
    const QString what = command->text();
    const QString failed = undo ? tr("\u201c%1\u201d could not be undone.").arg(what)
                                : tr("\u201c%1\u201d could not be done completely.").arg(what);
    if (!command->filesInBackground()) {
        QList<FileProblem> problems;
        const bool proceed = undo ? command->undoFiles(nullptr, problems) : command->redoFiles(nullptr, problems);
        if (!command->files().isEmpty())
            emit filesChanged(command->files());
        if (!problems.isEmpty())
            emit this->problems(failed, problems);
        if (proceed)
            then();
        else if (owned)
            delete command;
        return;
    }
    auto proceed = std::make_shared<bool>(false);
    const int count = int(command->files().size());
    const QString label = count == 0 ? tr("%1\u2026").arg(what)
        : undo ? tr("Undoing \u201c%1\u201d: %2\u2026").arg(what, counted(count, "file", "files"))
               : tr("%1: %2\u2026").arg(what, counted(count, "file", "files"));
    auto *job = new Job(what, [command, undo, proceed, label](JobControl &c) {
        c.setLabel(label);
        QList<FileProblem> problems;
        *proceed = undo ? command->undoFiles(&c, problems) : command->redoFiles(&c, problems);
        for (const FileProblem &p : problems)
            c.addProblem(p);
    }, this);
    m_job = job;
    connect(job, &Job::finished, this, [this, job, proceed, then, failed, command, owned] {
        m_job = nullptr;
        job->deleteLater();
        emit filesChanged(command->files());
        emit undoAvailabilityChanged();
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
    emit undoAvailabilityChanged();
}

bool Gallery::redoFilesNow(GalleryCommand *command, QList<FileProblem> &problems)
{
    if (m_readOnly) {
        problems.append({m_prefs.orvaneFolder(), tr("the gallery is open read-only")});
        return false;
    }
    const bool done = command->redoFiles(nullptr, problems);
    emit filesChanged(command->files());
    return done;
}

bool Gallery::canUndo() const
{
    return !isBusy() && m_stack.canUndo()
        && !static_cast<const GalleryCommand *>(m_stack.command(m_stack.index() - 1))->undoImpossible();
}

bool Gallery::canRedo() const
{
    return !isBusy() && m_stack.canRedo()
        && !static_cast<const GalleryCommand *>(m_stack.command(m_stack.index()))->redoImpossible();
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
    // Many files are looked at on the job's thread, which refuses the same way.
    const QList<FileProblem> blocked =
        command->filesInBackground() ? QList<FileProblem>() : back ? command->undoProblems() : command->redoProblems();
    if (!blocked.isEmpty()) {
        emit problems((back ? tr("\u201c%1\u201d cannot be undone: its files cannot be put back.")
                            : tr("\u201c%1\u201d cannot be redone: its files cannot be put back."))
                          .arg(command->text()),
                      blocked);
        emit undoAvailabilityChanged();
        return false;
    }
    runFiles(command, back, [this, back] {
        const QWriteLocker lock(&m_treeLock);
        back ? m_stack.undo() : m_stack.redo();
    }, false);
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
    if (m_readOnly) {
        if (why)
            *why = tr("The gallery is open read-only.");
        return nullptr;
    }
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
        thumb = newImgNames(thumbnailFileName).first();
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

bool Gallery::mayOverwrite(const QString &name, const void *owner) const
{
    const QString path = m_prefs.imgPath(name);
    if (path.isNull())
        return false;
    // Never through a link, nor over a picture that Undo could not put back
    // because it cannot be read.
    if (!FileWriter::refusal(path).isEmpty()
        || (QFileInfo::exists(path) && !FileReader::refusal(path, FileReader::kPictureLimit).isEmpty()))
        return false;
    // Nor may it be one that something else shows (a thumbnail shared through
    // the chooser, a photo's small picture named as a thumbnail).
    return GalleryTrash(m_data, m_prefs).namedAmong({name}, {owner}).isEmpty();
}

WriteResult Gallery::setNodeThumbnail(TreeNode *node, const QByteArray &jpeg)
{
    if (!node)
        return {};
    QString name = node->thumbFile();
    if (name.isEmpty() || !mayOverwrite(name, node))
        name = newImgNames(thumbnailFileName).first();
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
    // An editor closed without a change changes nothing, and leaves Undo alone.
    if (!item || fieldOf(*item, field) == value)
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
    bool changes = false;
    for (int i = 0; i < album->items().size(); ++i) {
        if (i != row) {
            old.append({album->items().at(i), fieldOf(*album->items().at(i), field)});
            changes = changes || old.last().second != value;
        }
    }
    if (!changes)
        return;
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
    // A drop that leaves the order as it was is no change.
    if (after == before)
        return;
    const NodePtr held = album->shared_from_this();
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
        *this, text, files, false, Removal::TrashOrForGood,
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
    const QWriteLocker lock(&m_gallery->m_treeLock);
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
            *this, text, import->m_files, false, Removal::TrashOrForGood,
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
                             files, false, Removal::TrashOrForGood, [set, after] { set(after); }, [set, before] { set(before); }));
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
        Removal::TrashOrForGood, [this, held, stream] {
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
    if (name.isEmpty() || !mayOverwrite(name, video))
        name = newImgNames(videoThumbFileName).first();
    return writeThumbnail(nullptr, video->shared_from_this(), name, jpeg, tr("Make Video Thumbnail"));
}

void Gallery::removeNode(const NodePtr &node, Removal how)
{
    if (!node || isBusy())
        return;
    auto place = std::make_shared<std::pair<AlbumCollection *, int>>(node->parentCollection(), -1);
    auto *command = new TrashingCommand(
        *this, tr("Delete %1").arg(nodeKind(*node)), {}, true, how,
        [this, node, place] { *place = GalleryOps(*this).takeNode(node.get()); },
        [this, node, place] { GalleryOps(*this).insertNode(place->first, place->second, node); });
    // The walk over the whole gallery for files still in use runs on the job's thread.
    command->planWith([this, node, img = m_prefs.imgFolder(), xml = m_prefs.xmlFolder()] {
        const QReadLocker lock(&m_treeLock);
        return GalleryTrash(m_data, img, xml).planNode(*node);
    });
    runNew(command, [this, command] { emit filesReport(deletionText(command->trashed(), command->kept())); });
}

void Gallery::removeItems(Album *album, const QList<ItemPtr> &items, Removal how)
{
    if (!album || items.isEmpty() || isBusy())
        return;
    const NodePtr held = album->shared_from_this();
    const QList<std::pair<int, ItemPtr>> places = GalleryOps::placesOf(album, items);
    auto *command = new TrashingCommand(
        *this, itemsText("Delete", items), {}, true, how,
        [this, held, items] { GalleryOps(*this).removeItems(static_cast<Album *>(held.get()), items); },
        [this, held, places] { GalleryOps(*this).restoreItems(static_cast<Album *>(held.get()), places); });
    command->planWith([this, items, img = m_prefs.imgFolder(), xml = m_prefs.xmlFolder()] {
        const QReadLocker lock(&m_treeLock);
        return GalleryTrash(m_data, img, xml).planItems(items);
    });
    runNew(command, [this, command] { emit filesReport(deletionText(command->trashed(), command->kept())); });
}

void Gallery::trashFiles(const QStringList &paths)
{
    if (paths.isEmpty() || isBusy())
        return;
    const QString img = QDir::cleanPath(m_prefs.imgFolder()), xml = QDir::cleanPath(m_prefs.xmlFolder());
    auto *command = new TrashingCommand(*this, tr("Move %1 to the Trash").arg(counted(int(paths.size()), "File", "Files")),
                                        {}, true, Removal::Trash, [] {}, [] {});
    auto left = std::make_shared<QList<FileProblem>>();
    // Each file is looked at when its turn comes: the list was made earlier,
    // and since then an Undo or a choice may have made the gallery name it.
    command->planWith([this, paths, img, xml, left] {
        QList<std::pair<QString, QString>> candidates; // path, key for namedAmong
        QSet<QString> keys;
        for (const QString &path : paths) {
            const QString clean = QDir::cleanPath(path);
            const qsizetype slash = clean.lastIndexOf(QLatin1Char('/'));
            const QString folder = clean.left(slash), name = clean.mid(slash + 1);
            if (slash <= 0 || img.isEmpty() || (folder != img && folder != xml) || !isBareFileName(name)) {
                left->append({path, tr("it is not inside the gallery's img or xml folder")});
                continue;
            }
            // The trash takes files and links only; say so rather than report nothing moved.
            const QFileInfo info(clean);
            if (!info.isSymLink() && info.isDir()) {
                left->append({path, tr("it is a folder; folders are left where they are")});
                continue;
            }
            if (!info.isSymLink() && !info.exists()) {
                left->append({path, tr("it is no longer there")});
                continue;
            }
            const QString key = folder == xml ? QLatin1Char('/') + name : name;
            candidates.append({clean, key});
            keys.insert(key);
        }
        const QReadLocker lock(&m_treeLock);
        const QSet<QString> named = GalleryTrash(m_data, img, xml).namedAmong(keys);
        DeletePlan plan;
        for (const auto &[path, key] : candidates) {
            if (named.contains(key))
                left->append({path, tr("the gallery names it (again): it stays")});
            else
                plan.paths << path;
        }
        return plan;
    });
    runNew(command, [this, command, left] {
        if (!left->isEmpty())
            emit problems(tr("Some files were left where they are."), *left);
        emit filesReport(deletionText(command->trashed(), 0));
    }, [command] { return command->trashed().count() > 0; });
}

void Gallery::runNew(GalleryCommand *command, std::function<void()> after, std::function<bool()> keep)
{
    runFiles(command, false, [this, command, after, keep] {
        if (keep && !keep())
            delete command;
        else
            push(command);
        if (after)
            after();
    }, true);
}

} // namespace qm
