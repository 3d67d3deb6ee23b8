#pragma once

#include "model/Data.h"
#include "storage/GalleryFile.h"

#include <QList>
#include <QStringList>
#include <QSet>
#include <QString>

#include <atomic>

namespace qm {

class Preferences;

struct DeleteReport
{
    int trashed = 0;              // moved to the desktop's trash
    int removed = 0;              // removed for good (no trash there)
    int kept = 0;                 // still named by something left in the gallery
    QList<FileProblem> failed;    // could be neither trashed nor removed
    bool undone = false;          // stopped, and every file put back where it was
};

// The files a deletion will take, worked out on the GUI thread while the
// gallery cannot change; carrying it out touches only the disk.
struct DeletePlan
{
    QStringList paths;
    int kept = 0;
};

// Removes the files that belong to deleted photos, videos, albums and
// collections. Files go to the desktop's trash where there is one, so a
// mistaken delete can be undone there. A file that something left in the
// gallery still names (a thumbnail shared through the chooser) is kept.
class GalleryTrash
{
public:
    GalleryTrash(const Data &data, const Preferences &prefs) : m_data(data), m_prefs(prefs) {}

    // Files of the given objects, in the order they are removed: for a
    // photo its normal, small and large image; for a video its thumbnail
    // and streams; for an album its thumbnail, its items' files and its
    // album file; for a collection its thumbnail and then its children.
    // Call before the objects leave the model.
    DeleteReport deleteNode(const TreeNode &node) { return carryOut(planNode(node)); }
    DeleteReport deleteItems(const QList<ItemPtr> &items) { return carryOut(planItems(items)); }

    DeletePlan planNode(const TreeNode &node) const;
    DeletePlan planItems(const QList<ItemPtr> &items) const;

    // Safe on any thread. `done` counts the files handled. When `stop` is
    // set between files, the files already in the trash are put back and
    // the report says undone; if any cannot be put back (or had to be
    // removed for good), the deletion goes on to the end instead, so that
    // the model can always follow the disk.
    static DeleteReport carryOut(const DeletePlan &plan, const std::atomic_bool *stop = nullptr,
                                 std::atomic<qint64> *done = nullptr);

    // What deleting would touch, for the confirmation text.
    struct Counts
    {
        int albums = 0;
        int collections = 0;
        int photos = 0;
        int videos = 0;
    };
    static Counts countNode(const TreeNode &node);

    // Set by tests to check the fallback where no trash exists.
    static void setTrashDisabledForTesting(bool disabled);

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

} // namespace qm
