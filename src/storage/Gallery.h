#pragma once

#include "model/Data.h"
#include "model/Video.h"
#include "storage/FileWriter.h"
#include "storage/GalleryFile.h"
#include "storage/GalleryLock.h"
#include "storage/GalleryTrash.h"
#include "storage/Job.h"
#include "storage/MoveJournal.h"

#include <QObject>
#include <QPointer>
#include <QReadWriteLock>
#include <QUndoStack>

#include <memory>

namespace qm {

class GalleryCommand;
class Preferences;

enum class ItemField { Title, Date, Location, Description };

// The name of a step on items: "Move 300 Photos", "Delete Video", "Move 2 Items".
QString itemsText(const char *verb, const QList<ItemPtr> &items);

// A whole file as a step changes it: a null `before` means the step makes
// the file, a null `after` that it removes it.
struct FileChange
{
    QString path;
    QByteArray before;
    QByteArray after;
};

// The gallery document: it owns the tree and is the only code that changes
// it. Every change is a command on the undo stack; the dirty flag follows
// the stack (unsaved means the stack is away from its clean index). The
// item models listen to the signals below and turn them into row signals.
//
// GUI thread only. A change that moves many files does its file work as a
// Job first (jobStarted() lets the window show it) and changes the model
// when the job has ended; a stopped or failed job changes nothing. A job
// may read the tree under treeLock() for reading; the tree changes only
// under it for writing.
class Gallery : public QObject
{
    Q_OBJECT
public:
    explicit Gallery(Preferences &prefs, QObject *parent = nullptr);
    ~Gallery() override;

    const Data &data() const { return m_data; }
    // Whether the node is in the tree (not deleted, nor only held by Undo).
    bool holds(const TreeNode *node) const;
    Preferences &prefs() const { return m_prefs; }
    GalleryFile &galleryFile() { return m_file; }
    QUndoStack *undoStack() { return &m_stack; }

    // The selection of the main window, mirrored here for the commands
    // that act on "the selected album"; not a change of the gallery.
    void setSelection(Album *album, AlbumCollection *collection);
    void setSelectedItem(Item *item);

    struct OpenReport
    {
        GalleryLock::State lock = GalleryLock::State::Unlocked;
        LoadReport load;
        // What an interrupted save or other work left and could not be put right.
        QList<FileProblem> tidying;
        int leftoversRemoved = 0;
    };
    // Opens the gallery the settings name: takes its lock, puts right what
    // interrupted work left, and loads it. When another process holds the
    // lock (or none can be taken) the tree is left empty and read-only, and
    // lock() says why. With `readOnly` it is loaded without the lock, and
    // nothing can be changed.
    OpenReport open(bool readOnly = false);
    bool isReadOnly() const { return m_readOnly; }
    const GalleryLock &lock() const { return m_lock; }

    // Reads the gallery named by the settings (open() does this after the
    // lock), then puts right the files an interrupted session left
    // (MoveJournal); what was done is reported through problems().
    LoadReport load();
    SaveReport save(GalleryFile::OnChangedFiles onChanged = GalleryFile::OnChangedFiles::Stop);
    // A tree made in memory (a benchmark, a test) replaces the gallery's,
    // as a load would; the parent links are taken as they are.
    void adoptTree(const QList<NodePtr> &nodes);
    bool needsToSaveChanges() const { return m_data.needsToSaveChanges(); }

    // False (with problems()) when the step's files cannot be put back or
    // taken away again; the model then stays as it is.
    bool undo();
    bool redo();
    // False also for a step known never to be possible again (its files
    // removed for good, or gone from the trash).
    bool canUndo() const;
    bool canRedo() const;
    // Steps kept for Undo; older ones are dropped.
    static constexpr int kUndoLimit = 100;
    // A change is running as a job: further changes wait for it.
    bool isBusy() const { return !m_job.isNull(); }
    Job *currentJob() const { return m_job; }

    // --- the tree
    // "Untitled" nodes placed by the selection rule: at the top level with
    // nothing selected, last among a selected album's siblings, last in a
    // selected collection. Null (with `why`) when it cannot be made.
    NodePtr newAlbum(TreeNode *selected, QString *why = nullptr);
    NodePtr newCollection(TreeNode *selected, QString *why = nullptr);
    // `to` null is the top level; `childIndex` -1 appends, else the position
    // before the node leaves its place. Refused: into itself or below, or
    // deeper than the index file can hold.
    bool moveNode(const NodePtr &node, AlbumCollection *to, int childIndex, QString *why = nullptr);
    void setTitle(TreeNode *node, const QString &title);
    // Empty when taken; otherwise why the name was refused.
    QString setAlbumFile(Album *album, const QString &name);
    // A run of typing in one album's description is one step.
    void setAlbumDescription(Album *album, const QString &text);
    // A thumbnail the gallery already has (the chooser).
    void setThumbFile(TreeNode *node, const QString &name);
    // A picture (the 60 x 40 JPEG made from a drop) becomes the node's
    // thumbnail: under its name when it has one that nothing else names and
    // whose picture can be kept for Undo, else under a fresh one.
    WriteResult setNodeThumbnail(TreeNode *node, const QByteArray &jpeg);
    // Deepest nesting of collections the index file keeps.
    int depthOf(const TreeNode *node) const;

    // --- items
    void setItemField(Item *item, ItemField field, const QString &value);
    void applyToRest(Album *album, int row, ItemField field);
    // Items of `from` go to `to` in the given order, at `row` of `to`
    // (counted before the move), or at its end.
    void moveItems(Album *from, const QList<ItemPtr> &items, Album *to, int row = -1);
    // The items go to `row` (a position between rows before the move).
    void reorderItems(Album *album, const QList<ItemPtr> &items, int row);
    // New items whose files are written already, appended to the album;
    // undo sends the files to the trash, redo brings them back.
    void addItems(Album *album, const QList<ItemPtr> &items, const QStringList &files, const QString &text);
    // Each before the first stream of lower bitrate; one step.
    void addStreams(Video *video, const QList<StreamPtr> &streams, const QStringList &files);
    bool removeStream(Video *video, int index, QString *why = nullptr);
    WriteResult setVideoThumbnail(Video *video, const QByteArray &jpeg);

    // --- files beside the tree (the web viewer): written now as one step,
    // all or none; `folder` is made first when missing, and goes again
    // with the undo when the step made it.
    WriteResult changeFiles(const QString &text, const QList<FileChange> &changes, const QString &folder = QString());

    // A long import adds its items as they are ready, and becomes one step
    // when it ends.
    class Import
    {
    public:
        void add(const ItemPtr &item, const QStringList &files);
        // The first photo's picture (a thumbnail JPEG) for `nodes`, the
        // album and collections above it that still show the picture they
        // were made with; they take it in the import's step.
        void setFirstPicture(const QByteArray &jpeg, const QList<NodePtr> &nodes);
        int count() const { return int(m_items.size()); }
        Album *album() const { return m_album.get(); }

    private:
        friend class Gallery;
        Gallery *m_gallery = nullptr;
        std::shared_ptr<Album> m_album;
        QList<ItemPtr> m_items;
        QStringList m_files;
        QString m_kind;
        QByteArray m_firstPicture;
        QList<NodePtr> m_placeholders;
    };
    std::shared_ptr<Import> beginImport(Album *album, const QString &kind);
    void endImport(const std::shared_ptr<Import> &import);

    // --- deletion: the files go to the desktop's trash (or, where there is
    // none and the user agreed, away for good). Always a job: which files go
    // is worked out on its thread. A deletion that cannot move every file
    // changes nothing.
    void removeNode(const NodePtr &node, Removal how = Removal::Trash);
    void removeItems(Album *album, const QList<ItemPtr> &items, Removal how = Removal::Trash);
    // Files in the gallery's folders that nothing names; each is looked at
    // again when its turn comes, and left when the gallery names it by then.
    void trashFiles(const QStringList &paths);

    // --- new files: recorded before they are written, so that the next
    // open after a crash finds the ones no save named.
    // `count` free names of the img folder by `pattern`.
    QStringList newImgNames(QString (*pattern)(quint64), int count = 1);
    bool filesWillBeWritten(const QStringList &paths, QString *reason = nullptr);
    MoveJournal &journal() { return m_journal; }
    QReadWriteLock &treeLock() const { return m_treeLock; }

    // --- many items at once (GalleryEdits.cpp)
    // The album's own items in another order, one step; false, and no
    // step, when that is the order they are in.
    bool setItemOrder(Album *album, const QList<ItemPtr> &order, const QString &text);
    struct FieldChange
    {
        ItemPtr item;
        ItemField field;
        QString value;
    };
    // All of them in one step, leaving out what would change nothing;
    // returns how many fields changed.
    int setItemFields(const QList<FieldChange> &changes, const QString &text);

    // New pictures for photos (turned, replaced, made in other sizes). On a
    // job's thread `make` is given each photo's current files and the paths
    // its new ones are to have, writes them and says which it wrote. The
    // photos take the new names and their old files go to the trash, in
    // one step: Undo brings the old files back and sends the new ones
    // away. Stop keeps the photos done so far.
    struct PictureFiles
    {
        QString normal, small, large; // large empty when there is none
    };
    struct MadePicture
    {
        PictureFiles written; // full paths of what was written; empty when nothing
        QString problem;      // why nothing was made
        QString note;         // made, with something to tell
    };
    using PictureMaker = std::function<MadePicture(const PictureFiles &current, const PictureFiles &target, JobControl &)>;
    struct PictureReport
    {
        int changed = 0;
        bool stopped = false;
        QList<FileProblem> problems;
        QList<FileProblem> notes;
    };
    void changePictures(const QList<ItemPtr> &photos, const QString &text, PictureMaker make,
                        std::function<void(const PictureReport &)> done);

    // The album and the collections above it that still show the picture
    // they were made with (or none), each with its thumbnail's path.
    QList<std::pair<NodePtr, QString>> thumbnailChain(const Album *album) const;
    // Whether a thumbnail file holds one of the pictures new nodes are given
    // (or is missing); safe on any thread.
    static bool isPlaceholderFile(const QString &path);

    // Below this many files, file work runs at once on the GUI thread.
    static constexpr int kFilesInBackground = 300;

signals:
    void aboutToReset();
    void reset();
    void nodeAboutToBeInserted(qm::AlbumCollection *parent, int row);
    void nodeInserted(qm::TreeNode *node);
    void nodeAboutToBeRemoved(qm::TreeNode *node);
    void nodeRemoved(qm::AlbumCollection *parent, int row);
    // `row`: where the node goes, counted before it leaves its place.
    void nodeAboutToBeMoved(qm::TreeNode *node, qm::AlbumCollection *to, int row);
    void nodeMoved(qm::TreeNode *node);
    // Title, file, description, thumbnail or item count.
    void nodeChanged(qm::TreeNode *node);
    void itemsAboutToBeInserted(qm::Album *album, int first, int last);
    void itemsInserted(qm::Album *album, int first, int last);
    void itemsAboutToBeRemoved(qm::Album *album, int first, int last);
    void itemsRemoved(qm::Album *album, int first, int last);
    void itemsAboutToBeReordered(qm::Album *album);
    void itemsReordered(qm::Album *album);
    // Fields, thumbnail or streams.
    void itemChanged(qm::Item *item);
    // Files a step wrote, removed or brought back (pictures to read again).
    void filesChanged(const QStringList &paths);
    // A change moves files in the background; the window shows the job.
    void jobStarted(qm::Job *job);
    // What a change could not do, or a step that could not be undone.
    void problems(const QString &message, const QList<qm::FileProblem> &problems);
    // A deletion or restore finished; `text` says what happened to the files.
    void filesReport(const QString &text);
    // canUndo() or canRedo() may say otherwise now (a job began or ended, a
    // step turned out impossible).
    void undoAvailabilityChanged();

private:
    friend class GalleryCommand;
    friend class GalleryOps;

    void push(GalleryCommand *command);
    // The save took effect: the files agree with the saved XML.
    void saveCommitted();
    // File work of a step, at once or as a job; `then` changes the model
    // when it went through. An `owned` command not yet on the stack is
    // deleted when it did not.
    bool step(bool back);
    void runFiles(GalleryCommand *command, bool undo, std::function<void()> then, bool owned);
    // The file work of a step on this thread, for steps that need its result.
    bool redoFilesNow(GalleryCommand *command, QList<FileProblem> &problems);
    // A new step whose files move first; `keep` may still decline it once
    // they have (nothing moved, and the step would change nothing).
    void runNew(GalleryCommand *command, std::function<void()> after, std::function<bool()> keep = {});
    // True (and said) when the gallery is open read-only.
    bool refusedReadOnly();
    void updateDirty();
    void forgetSelectionIn(const TreeNode *node);
    void forgetSelectedItems(const QList<ItemPtr> &items);
    WriteResult writeThumbnail(const NodePtr &node, const ItemPtr &video, const QString &name, const QByteArray &jpeg,
                               const QString &text);
    // Whether a new picture may replace the file `name` of `owner`.
    bool mayOverwrite(const QString &name, const void *owner) const;
    NodePtr insertNewNode(const NodePtr &node, TreeNode *selected, const QString &thumbResource, QString *why);
    // The import's step, with the thumbnails its first picture gives.
    GalleryCommand *withFirstPicture(GalleryCommand *import, const Import &from);

    Preferences &m_prefs;
    Data m_data;
    GalleryFile m_file;
    QUndoStack m_stack;
    QPointer<Job> m_job;
    int m_openImports = 0;
    GalleryLock m_lock;
    bool m_readOnly = false;
    MoveJournal m_journal;
    mutable QReadWriteLock m_treeLock{QReadWriteLock::Recursive};
};

} // namespace qm
