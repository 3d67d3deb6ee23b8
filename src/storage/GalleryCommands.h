#pragma once

// The undoable changes of the gallery document. Internal to Gallery: the
// commands' undo()/redo() change only the model, through GalleryOps; the
// work on files comes before, in undoFiles()/redoFiles(), which may run on
// a job's thread and touch nothing but the disk and the command itself.

#include "storage/Gallery.h"
#include "storage/GalleryTrash.h"

#include <QUndoCommand>

namespace qm {

class JobControl;

QString fieldOf(const Item &item, ItemField field);
void setFieldOf(Item &item, ItemField field, const QString &value);

// The primitive changes, each announced to the item models.
class GalleryOps
{
public:
    explicit GalleryOps(Gallery &g) : m_g(g) {}

    QList<NodePtr> &childrenOf(AlbumCollection *parent);
    void insertNode(AlbumCollection *parent, int row, const NodePtr &node);
    // Returns where it was.
    std::pair<AlbumCollection *, int> takeNode(const TreeNode *node);
    // `row` counts before the node leaves its place; -1 appends.
    void moveNode(const NodePtr &node, AlbumCollection *to, int row);
    void nodeChanged(TreeNode *node) { emit m_g.nodeChanged(node); }

    void insertItems(Album *album, int row, const QList<ItemPtr> &items);
    // Puts items back where they were: (index, item) in ascending order,
    // neighbours in one go.
    void restoreItems(Album *album, const QList<std::pair<int, ItemPtr>> &places);
    // Where each of the items is in the album, in album order.
    static QList<std::pair<int, ItemPtr>> placesOf(const Album *album, const QList<ItemPtr> &items);
    // Takes the items out wherever they are in the album.
    void removeItems(Album *album, const QList<ItemPtr> &items);
    void setOrder(Album *album, const QList<ItemPtr> &order);
    void itemChanged(Item *item) { emit m_g.itemChanged(item); }

private:
    Gallery &m_g;
};

class GalleryCommand : public QUndoCommand
{
public:
    GalleryCommand(Gallery &g, const QString &text) : QUndoCommand(text), m_ops(g) {}

    // The files the file work touches: many go to a job.
    virtual QStringList files() const { return {}; }
    // Why the step's files cannot be put back or taken away again.
    virtual QList<FileProblem> undoProblems() const { return {}; }
    virtual QList<FileProblem> redoProblems() const { return {}; }
    // False: nothing was changed (stopped, or rolled back after a failure).
    virtual bool undoFiles(JobControl *, QList<FileProblem> &) { return true; }
    virtual bool redoFiles(JobControl *, QList<FileProblem> &) { return true; }

protected:
    GalleryOps m_ops;
};

// Makes a command from two lambdas for changes without files.
class FunctionCommand : public GalleryCommand
{
public:
    FunctionCommand(Gallery &g, const QString &text, std::function<void()> redo, std::function<void()> undo)
        : GalleryCommand(g, text)
        , m_redo(std::move(redo))
        , m_undo(std::move(undo))
    {
    }
    void redo() override { m_redo(); }
    void undo() override { m_undo(); }

private:
    std::function<void()> m_redo;
    std::function<void()> m_undo;
};

// One text field of a node or an item. Typing runs merge.
class SetTextCommand : public GalleryCommand
{
public:
    enum class Target { NodeTitle, AlbumFile, AlbumDescription, ItemField };
    SetTextCommand(Gallery &g, const QString &text, Target target, std::shared_ptr<void> object, ItemField field,
                   QString value, bool merges);
    void redo() override;
    void undo() override;
    int id() const override { return m_merges ? 0x51 : -1; }
    bool mergeWith(const QUndoCommand *other) override;

private:
    void apply(const QString &value);
    QString current() const;

    Target m_target;
    std::shared_ptr<void> m_object;
    ItemField m_field;
    QString m_old;
    QString m_new;
    bool m_merges;
};

// Whole files the program wrote (thumbnails, the web viewer): their bytes
// before and after. Either side is put in place whole: when one file fails,
// those already written get their other side back.
class FileContentsCommand : public GalleryCommand
{
public:
    using Content = FileChange;
    FileContentsCommand(Gallery &g, const QString &text, QList<Content> contents, std::function<void()> redoModel,
                        std::function<void()> undoModel);
    // A folder the files go into: made when missing, removed again by the
    // undo when this step made it (and nothing else is in it).
    void setFolder(const QString &folder) { m_folder = folder; }
    QStringList files() const override;
    bool undoFiles(JobControl *, QList<FileProblem> &problems) override { return put(true, problems); }
    bool redoFiles(JobControl *, QList<FileProblem> &problems) override { return put(false, problems); }
    void redo() override { m_redoModel(); }
    void undo() override { m_undoModel(); }

private:
    bool put(bool before, QList<FileProblem> &problems);

    bool putOne(const Content &c, bool before, QList<FileProblem> &problems);

    QList<Content> m_contents;
    QString m_folder;
    bool m_madeFolder = false;
    std::function<void()> m_redoModel;
    std::function<void()> m_undoModel;
};

// Files that go to the trash with the change and come back with its undo
// (deletions), or the other way round (imports: the files are there first).
class TrashingCommand : public GalleryCommand
{
public:
    // `trashOnRedo`: redo sends the files away (a deletion); otherwise undo does (an addition).
    TrashingCommand(Gallery &g, const QString &text, QStringList paths, bool trashOnRedo,
                    std::function<void()> redoModel, std::function<void()> undoModel);
    QStringList files() const override { return m_paths; }
    QList<FileProblem> undoProblems() const override;
    QList<FileProblem> redoProblems() const override;
    bool undoFiles(JobControl *control, QList<FileProblem> &problems) override;
    bool redoFiles(JobControl *control, QList<FileProblem> &problems) override;
    void redo() override { m_redoModel(); }
    void undo() override { m_undoModel(); }
    const TrashedFiles &trashed() const { return m_trashed; }

private:
    bool send(JobControl *control, QList<FileProblem> &problems);
    bool bringBack(JobControl *control, QList<FileProblem> &problems);

    QStringList m_paths;
    bool m_trashOnRedo;
    TrashedFiles m_trashed;
    std::function<void()> m_redoModel;
    std::function<void()> m_undoModel;
};

} // namespace qm
