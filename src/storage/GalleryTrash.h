#pragma once

#include "model/Data.h"
#include "storage/GalleryFile.h"
#include "storage/Trash.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

namespace qm {

class JobControl;
class Preferences;

// The files a deletion takes, worked out on the GUI thread while the
// gallery cannot change; moving them touches only the disk.
struct DeletePlan
{
    QStringList paths;
    int kept = 0; // still named by something left in the gallery
};

class MoveJournal;

// Which files belong to photos, videos, albums and collections. A file that
// something left in the gallery still names (a thumbnail shared through the
// chooser) is kept. Reads the tree only: a job may use it under the
// gallery's read lock, with the folders taken on the GUI thread.
class GalleryTrash
{
public:
    GalleryTrash(const Data &data, const Preferences &prefs);
    GalleryTrash(const Data &data, QString imgFolder, QString xmlFolder)
        : m_data(data), m_img(std::move(imgFolder)), m_xml(std::move(xmlFolder))
    {
    }

    // In the order they go: for a photo its normal, small and large image;
    // for a video its thumbnail and streams; for an album its thumbnail,
    // its items' files and its album file; for a collection its thumbnail
    // and then its children.
    DeletePlan planNode(const TreeNode &node) const;
    DeletePlan planItems(const QList<ItemPtr> &items) const;

    // Which of `names` something in the gallery names, leaving out the
    // objects in `going`. Image names as they are; album file names with a
    // leading "/", as the two folders are apart.
    QSet<QString> namedAmong(const QSet<QString> &names, const QSet<const void *> &going = {}) const;

    // What deleting would touch, for the confirmation text.
    struct Counts
    {
        int albums = 0;
        int collections = 0;
        int photos = 0;
        int videos = 0;
    };
    static Counts countNode(const TreeNode &node);

private:
    struct FileRef
    {
        bool xml = false;
        QString name;
    };
    static void collectItem(const Item &item, QList<FileRef> &out);
    static void collectNode(const TreeNode &node, QList<FileRef> &out);
    DeletePlan plan(const QList<FileRef> &files, const QSet<const void *> &going) const;

    const Data &m_data;
    QString m_img;
    QString m_xml;
};

// How files leave the gallery.
enum class Removal {
    Trash,          // to the desktop's trash, or not at all
    ForGood,        // removed, the user having agreed
    TrashOrForGood, // files the program made itself: for good where there is no trash
};

// Files a change has moved to the desktop's trash (or removed), and how to
// bring them back. Safe on any thread; `control` (may be null) gives Stop
// and progress. Each move is recorded in the gallery's journal first.
class TrashedFiles
{
public:
    void setJournal(MoveJournal *journal) { m_journal = journal; }

    // Moves each file that exists, all or nothing: when one cannot go the
    // way `how` allows, or on Stop, the ones already moved come back and it
    // returns false. Only when something cannot come back does it go on
    // and return true, so that the model follows the disk.
    bool trash(const QStringList &paths, Removal how, JobControl *control, QList<FileProblem> &problems);
    // Puts every file back, all or nothing; a file the user has already put
    // back by hand counts as back. On failure or Stop the ones already back
    // go to the trash again.
    bool restore(JobControl *control, QList<FileProblem> &problems);
    // Why restore() would fail now (a file removed for good, gone from the
    // trash, or its place taken by another); empty when it would not.
    QList<FileProblem> restoreProblems() const;
    // Known without looking at the disk: restore() can never succeed.
    bool restoreImpossible() const { return m_lost || removedForGood() > 0; }

    int count() const { return int(m_entries.size()); }
    int removedForGood() const;

private:
    struct Entry
    {
        QString original;
        QString inTrash; // empty: removed for good
        FileIdentity identity;
    };
    // Puts back entries from `from` on, last first; false when one stays in the trash.
    bool putBack(qsizetype from, QList<FileProblem> &problems);
    // Sends entries from `from` on back to the trash (after a failed or stopped restore).
    void sendAgain(qsizetype from, QList<FileProblem> &problems);

    QList<Entry> m_entries;
    MoveJournal *m_journal = nullptr;
    mutable bool m_lost = false;
};

// "1 file", "2 files": English plurals without a translation loaded.
QString counted(int n, const char *one, const char *many);

} // namespace qm
