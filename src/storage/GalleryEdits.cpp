// Changes of many items at once: orders, fields, and new pictures for
// photos; and the thumbnails an import gives the nodes still showing the
// picture they were made with.

#include "storage/Gallery.h"

#include "model/Photo.h"
#include "storage/Common.h"
#include "storage/FileReader.h"
#include "storage/GalleryCommands.h"
#include "storage/Preferences.h"
#include "storage/Resources.h"

#include <QFile>
#include <QFileInfo>

namespace qm {

namespace {

// Steps made of parts, done in order and undone in reverse. Files a part
// could not handle take back what the earlier parts did.
class StepsCommand : public GalleryCommand
{
public:
    StepsCommand(Gallery &g, const QString &text) : GalleryCommand(g, text) {}
    void add(GalleryCommand *part) { m_parts.emplace_back(part); }

    QStringList files() const override
    {
        QStringList all;
        for (const auto &p : m_parts)
            all += p->files();
        return all;
    }
    QList<FileProblem> undoProblems() const override
    {
        QList<FileProblem> all;
        for (const auto &p : m_parts)
            all += p->undoProblems();
        return all;
    }
    QList<FileProblem> redoProblems() const override
    {
        QList<FileProblem> all;
        for (const auto &p : m_parts)
            all += p->redoProblems();
        return all;
    }
    bool redoFiles(JobControl *control, QList<FileProblem> &problems) override
    {
        for (size_t i = 0; i < m_parts.size(); ++i) {
            if (!m_parts[i]->redoFiles(control, problems)) {
                for (size_t j = i; j-- > 0;)
                    m_parts[j]->undoFiles(nullptr, problems);
                return false;
            }
        }
        return true;
    }
    bool undoFiles(JobControl *control, QList<FileProblem> &problems) override
    {
        for (size_t i = m_parts.size(); i-- > 0;) {
            if (!m_parts[i]->undoFiles(control, problems)) {
                for (size_t j = i + 1; j < m_parts.size(); ++j)
                    m_parts[j]->redoFiles(nullptr, problems);
                return false;
            }
        }
        return true;
    }
    void redo() override
    {
        for (const auto &p : m_parts)
            p->redo();
    }
    void undo() override
    {
        for (auto it = m_parts.rbegin(); it != m_parts.rend(); ++it)
            (*it)->undo();
    }

private:
    std::vector<std::unique_ptr<GalleryCommand>> m_parts;
};

// Photos with new files: the names switch, the files go to and come back
// from the trash. The job that made the new files fills it before it is
// pushed; the first redo changes only the model.
class PicturesCommand : public GalleryCommand
{
public:
    struct Change
    {
        ItemPtr photo;
        Gallery::PictureFiles before, after; // bare names
    };
    PicturesCommand(Gallery &g, const QString &text) : GalleryCommand(g, text), m_journal(&g.journal())
    {
        oldFiles.setJournal(m_journal);
        newFiles.setJournal(m_journal);
    }

    QList<Change> changes;
    QStringList oldPaths, newPaths;
    TrashedFiles oldFiles, newFiles;

    QStringList files() const override { return oldPaths + newPaths; }
    QList<FileProblem> undoProblems() const override { return oldFiles.restoreProblems(); }
    QList<FileProblem> redoProblems() const override { return newFiles.restoreProblems(); }
    bool undoFiles(JobControl *control, QList<FileProblem> &problems) override
    {
        // The new files are ours: gone for good where there is no trash.
        return swap(newFiles, newPaths, Removal::TrashOrForGood, oldFiles, control, problems);
    }
    bool redoFiles(JobControl *control, QList<FileProblem> &problems) override
    {
        return swap(oldFiles, oldPaths, Removal::Trash, newFiles, control, problems);
    }
    void redo() override { apply(false); }
    void undo() override { apply(true); }

private:
    bool swap(TrashedFiles &away, const QStringList &paths, Removal how, TrashedFiles &back, JobControl *control,
              QList<FileProblem> &problems)
    {
        away = TrashedFiles();
        away.setJournal(m_journal);
        if (!away.trash(paths, how, control, problems))
            return false;
        if (back.restore(control, problems))
            return true;
        away.restore(nullptr, problems);
        return false;
    }
    void apply(bool undo)
    {
        for (const Change &c : std::as_const(changes)) {
            auto &photo = static_cast<Photo &>(*c.photo);
            const Gallery::PictureFiles &names = undo ? c.before : c.after;
            photo.setImageFile(names.normal);
            photo.setSmallImageFile(names.small);
            photo.setLargeImageFile(names.large);
            m_ops.itemChanged(&photo);
        }
    }
    MoveJournal *m_journal;
};

// A small file's bytes; null when it cannot be read (or is larger).
QByteArray fileBytes(const QString &path, qint64 limit)
{
    const ReadResult read = FileReader::readFile(path, limit);
    if (!read)
        return QByteArray();
    return read.bytes.isNull() ? QByteArray("") : read.bytes;
}

QString bareName(const QString &path)
{
    return path.isEmpty() ? QString() : QFileInfo(path).fileName();
}

} // namespace

bool Gallery::setItemOrder(Album *album, const QList<ItemPtr> &order, const QString &text)
{
    if (!album || order == album->items() || order.size() != album->items().size())
        return false;
    const NodePtr held = album->shared_from_this();
    const QList<ItemPtr> before = album->items();
    push(new FunctionCommand(*this, text,
                             [this, held, order] { GalleryOps(*this).setOrder(static_cast<Album *>(held.get()), order); },
                             [this, held, before] { GalleryOps(*this).setOrder(static_cast<Album *>(held.get()), before); }));
    return true;
}

int Gallery::setItemFields(const QList<FieldChange> &changes, const QString &text)
{
    struct Edit
    {
        ItemPtr item;
        ItemField field;
        QString before, after;
    };
    QList<Edit> edits;
    for (const FieldChange &c : changes) {
        const QString before = fieldOf(*c.item, c.field);
        if (c.item && before != c.value)
            edits.append({c.item, c.field, before, c.value});
    }
    if (edits.isEmpty())
        return 0;
    auto set = [this, edits](bool undo) {
        // Each item is redrawn once, however many of its fields change.
        const Item *last = nullptr;
        for (const Edit &e : edits) {
            setFieldOf(*e.item, e.field, undo ? e.before : e.after);
            if (last && last != e.item.get())
                GalleryOps(*this).itemChanged(const_cast<Item *>(last));
            last = e.item.get();
        }
        if (last)
            GalleryOps(*this).itemChanged(const_cast<Item *>(last));
    };
    push(new FunctionCommand(*this, text, [set] { set(false); }, [set] { set(true); }));
    return int(edits.size());
}

void Gallery::changePictures(const QList<ItemPtr> &photos, const QString &text, PictureMaker make,
                             std::function<void(const PictureReport &)> done)
{
    if (photos.isEmpty() || isBusy())
        return;
    struct Work
    {
        ItemPtr photo;
        PictureFiles current; // full paths
        PictureFiles names;   // bare names
    };
    QList<Work> work;
    for (const ItemPtr &item : photos) {
        if (!item->isPhoto())
            continue;
        const auto &p = static_cast<const Photo &>(*item);
        work.append({item,
                     {m_prefs.imgPath(p.imageFile()), m_prefs.imgPath(p.smallImageFile()), m_prefs.imgPath(p.largeImageFile())},
                     {p.imageFile(), p.smallImageFile(), p.largeImageFile()}});
    }
    if (work.isEmpty())
        return;
    // A file another item still names stays where it is.
    QList<ItemPtr> items;
    for (const Work &w : work)
        items << w.photo;
    const QStringList trashable = GalleryTrash(m_data, m_prefs).planItems(items).paths;
    const QSet<QString> mayGo(trashable.begin(), trashable.end());
    const QString folder = m_prefs.imgFolder();

    auto *command = new PicturesCommand(*this, text);
    auto report = std::make_shared<PictureReport>();
    auto *job = new Job(text, [this, work, make, mayGo, folder, command, report](JobControl &control) {
        control.setTotal(work.size());
        const quint64 key = freePhotoKey(folder);
        for (qsizetype i = 0; i < work.size() && !control.stopRequested(); ++i) {
            const Work &w = work[i];
            control.setLabel(QStringLiteral("%1 (%2 of %3)").arg(w.photo->title()).arg(i + 1).arg(work.size()));
            const QString base = photoBaseName(key, qint32(i + 1));
            const QString dir = folder + QLatin1Char('/');
            const PictureFiles target{dir + photoFileName(base), dir + photoSmallFileName(base), dir + photoLargeFileName(base)};
            // Recorded first: after a crash the next open finds what no save named.
            QString unrecorded;
            if (!filesWillBeWritten({target.normal, target.small, target.large}, &unrecorded)) {
                report->problems.append({w.current.normal, unrecorded});
                control.advance();
                continue;
            }
            const MadePicture made = make(w.current, target, control);
            control.advance();
            if (made.written.normal.isEmpty() || made.written.small.isEmpty()) {
                report->problems.append({w.current.normal, made.problem});
                continue;
            }
            if (!made.note.isEmpty())
                report->notes.append({w.current.normal, made.note});
            command->changes.append({w.photo, w.names,
                                     {bareName(made.written.normal), bareName(made.written.small), bareName(made.written.large)}});
            for (const QString &path : {made.written.normal, made.written.small, made.written.large})
                if (!path.isEmpty())
                    command->newPaths << path;
            for (const QString &path : {w.current.normal, w.current.small, w.current.large})
                if (!path.isEmpty() && mayGo.contains(path) && !command->oldPaths.contains(path))
                    command->oldPaths << path;
        }
        report->stopped = control.stopRequested();
        if (command->changes.isEmpty())
            return;
        control.setLabel(tr("Moving the old files to the trash\u2026"));
        QList<FileProblem> problems;
        // Where no trash takes the old files, the photos stay as they were:
        // an Undo could not bring them back.
        if (!command->oldFiles.trash(command->oldPaths, Removal::Trash, nullptr, problems)) {
            QList<FileProblem> ignored;
            command->newFiles.trash(command->newPaths, Removal::TrashOrForGood, nullptr, ignored);
            command->changes.clear();
        }
        report->problems += problems;
    }, this);
    m_job = job;
    connect(job, &Job::finished, this, [this, job, command, report, done] {
        m_job = nullptr;
        job->deleteLater();
        emit filesChanged(command->files());
        report->changed = int(command->changes.size());
        if (command->changes.isEmpty())
            delete command;
        else
            push(command);
        if (done)
            done(*report);
    });
    job->start();
    emit jobStarted(job);
}

bool Gallery::isPlaceholderFile(const QString &path)
{
    if (path.isEmpty())
        return true;
    static const QList<QByteArray> pictures = [] {
        QList<QByteArray> out;
        for (const char *name : {"albumthumb.jpg", "collthumb.jpg"})
            out << fileBytes(resourcePath(QLatin1String(name)), 1 << 20);
        return out;
    }();
    if (!QFileInfo(path).isFile())
        return !QFileInfo(path).exists();
    return pictures.contains(fileBytes(path, 1 << 20));
}

QList<std::pair<NodePtr, QString>> Gallery::thumbnailChain(const Album *album) const
{
    QList<std::pair<NodePtr, QString>> chain;
    for (const TreeNode *n = album; n; n = n->parentCollection())
        chain.append({const_cast<TreeNode *>(n)->shared_from_this(), m_prefs.imgPath(n->thumbFile())});
    return chain;
}

void Gallery::Import::setFirstPicture(const QByteArray &jpeg, const QList<NodePtr> &nodes)
{
    if (m_firstPicture.isEmpty() && !jpeg.isEmpty()) {
        m_firstPicture = jpeg;
        m_placeholders = nodes;
    }
}

GalleryCommand *Gallery::withFirstPicture(GalleryCommand *import, const Import &from)
{
    if (from.m_firstPicture.isEmpty() || from.m_placeholders.isEmpty())
        return import;
    // Each node keeps its own file: one another node shares is not written over.
    QHash<QString, int> users;
    m_data.forEachNode([&](const NodePtr &n) {
        ++users[n->thumbFile()];
        return true;
    });
    QList<FileContentsCommand::Content> contents;
    QList<std::pair<NodePtr, QString>> names;
    QStringList fresh = newImgNames(thumbnailFileName, int(from.m_placeholders.size()));
    for (const NodePtr &node : from.m_placeholders) {
        QString name = node->thumbFile();
        if (name.isEmpty() || users.value(name) > 1 || m_prefs.imgPath(name).isNull())
            name = fresh.takeFirst();
        const QString path = m_prefs.imgPath(name);
        const QByteArray before = QFileInfo(path).isFile() ? fileBytes(path, 1 << 20) : QByteArray();
        if (QFileInfo(path).isFile() && before.isNull())
            continue; // what cannot be put back is not replaced
        contents.append({path, before, from.m_firstPicture});
        names.append({node, name});
    }
    auto set = [this](const QList<std::pair<NodePtr, QString>> &values) {
        for (const auto &[node, name] : values) {
            node->setThumbFile(name);
            GalleryOps(*this).nodeChanged(node.get());
        }
    };
    QList<std::pair<NodePtr, QString>> old;
    for (const auto &[node, name] : names)
        old.append({node, node->thumbFile()});
    auto *pictures = new FileContentsCommand(*this, import->text(), contents, [set, names] { set(names); },
                                             [set, old] { set(old); });
    QList<FileProblem> problems;
    if (!redoFilesNow(pictures, problems)) {
        // The photos are in all the same; the thumbnails stay as they were.
        delete pictures;
        emit this->problems(tr("The album's thumbnail could not be made from its first photo."), problems);
        return import;
    }
    auto *steps = new StepsCommand(*this, import->text());
    steps->add(import);
    steps->add(pictures);
    return steps;
}

} // namespace qm
