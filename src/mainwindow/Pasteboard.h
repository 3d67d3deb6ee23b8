#pragma once

#include "model/Album.h"
#include "model/Data.h"

#include <QList>
#include <QString>
#include <QStringList>

class QMimeData;

namespace qm {

// The drag formats of the main window. A reference names a node or item by
// its process-unique id together with this process's token, so a payload
// from another process, or one naming an object that is gone, resolves to
// nothing instead of to whatever now lives at some address.
namespace Pasteboard {

inline const QString PhotosType = QStringLiteral("PhotosPboardType");
inline const QString AlbumType = QStringLiteral("AlbumPboardType");
inline const QString CollectionType = QStringLiteral("CollectionPboardType");

// Items in row order.
QMimeData *writeItems(const QList<const Item *> &items);
// One album or collection, under its own type.
QMimeData *writeNode(const TreeNode &node);

bool hasItems(const QMimeData *mime);
bool hasAlbum(const QMimeData *mime);
bool hasCollection(const QMimeData *mime);

// How many references the items payload holds (0 when it is not ours).
int itemCount(const QMimeData *mime);
// The dragged items, resolved among `album`'s items. Empty when the payload
// is foreign or any entry no longer names an item of that album: a drop
// that cannot be carried out whole is not carried out at all.
QList<ItemPtr> readItems(const QMimeData *mime, const Album *album);
// The first referenced item wherever it lives, or null.
ItemPtr readFirstItem(const QMimeData *mime, const Data &data, const Album *likely = nullptr);
// The dragged album or collection, if it is still in the tree.
NodePtr readNode(const QMimeData *mime, const QString &type, const Data &data);

// Local files of a drop from outside, in order. Empty when there are none
// or when any URL is not a local file (nothing remote is fetched).
QStringList localFiles(const QMimeData *mime);
bool hasFiles(const QMimeData *mime);

// A file for the video import: every movie the converter reads (FLV that
// Flash plays is taken as it is), and sound files, which it refuses with
// the reason rather than with a bare "no entry".
bool isMovieFile(const QString &path);

// Whether every dropped file is a picture. A drag asks on every move;
// the files are looked at once per drag.
class ImageFilesCheck
{
public:
    bool all(const QMimeData *mime, const QStringList &files) const;

private:
    mutable const QMimeData *m_mime = nullptr;
    mutable QStringList m_files;
    mutable bool m_all = false;
};

} // namespace Pasteboard
} // namespace qm
