#pragma once

#include "model/Data.h"
#include "storage/GalleryFile.h"

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

// Which files belong to photos, videos, albums and collections. A file that
// something left in the gallery still names (a thumbnail shared through the
// chooser) is kept.
class GalleryTrash
{
public:
    GalleryTrash(const Data &data, const Preferences &prefs) : m_data(data), m_prefs(prefs) {}

    // In the order they go: for a photo its normal, small and large image;
    // for a video its thumbnail and streams; for an album its thumbnail,
    // its items' files and its album file; for a collection its thumbnail
    // and then its children.
    DeletePlan planNode(const TreeNode &node) const;
    DeletePlan planItems(const QList<ItemPtr> &items) const;

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
    QSet<QString> namesStillInUse(const QSet<const void *> &going) const;
    DeletePlan plan(const QList<FileRef> &files, const QSet<const void *> &going) const;

    const Data &m_data;
    const Preferences &m_prefs;
};

// Files a change has moved to the desktop's trash, and how to bring them
// back. Safe on any thread; `control` (may be null) gives Stop and progress.
class TrashedFiles
{
public:
    // Moves each file that exists to the trash, or removes it for good where
    // there is no trash. Files that can be neither stay and are reported.
    // Stop puts every file back and returns false; if any cannot go back,
    // the rest are moved too and it returns true, so that the model can
    // follow the disk.
    bool trash(const QStringList &paths, JobControl *control, QList<FileProblem> &problems);
    // Puts every file back, all or nothing: on failure the ones already
    // back go to the trash again.
    bool restore(JobControl *control, QList<FileProblem> &problems);
    // Why restore() would fail now (a file removed for good, emptied from
    // the trash, or its place taken again); empty when it would not.
    QList<FileProblem> restoreProblems() const;

    int count() const { return int(m_entries.size()); }
    int removedForGood() const;

    // Set by tests to check the fallback where no trash exists.
    static void setTrashDisabledForTesting(bool disabled);

private:
    struct Entry
    {
        QString original;
        QString inTrash; // empty: removed for good
    };
    QList<Entry> m_entries;
};

// "1 file", "2 files": English plurals without a translation loaded.
QString counted(int n, const char *one, const char *many);

} // namespace qm
