#pragma once

#include "model/Data.h"

#include <QList>
#include <QSet>
#include <QString>

namespace qm {

class Preferences;

// One file and what went wrong with it (or what was done about it).
struct FileProblem
{
    QString path;
    QString reason;
};

struct LoadReport
{
    // Files that exist (or are named) but could not be used, or were only
    // partly understood; what the model lacks of them is kept aside before
    // a save replaces them.
    QList<FileProblem> unreadable;
    bool ok() const { return unreadable.isEmpty(); }
};

struct SaveReport
{
    // Files that could not be written; the dirty flag stays set.
    QList<FileProblem> failed;
    // Things done to keep data safe (backups made, album files renamed).
    QList<FileProblem> notes;
    bool ok() const { return failed.isEmpty(); }
};

// Reads and writes the index file "albums.xml" and the album files.
//
// Files that could not be read, or not wholly, are remembered: before a
// save replaces one of them, its content is copied aside to
// "<name>.unreadable-<time>", so nothing the program could not understand
// is ever lost. Nothing is written through a symbolic link.
class GalleryFile
{
public:
    explicit GalleryFile(Preferences &prefs) : m_prefs(prefs) {}

    // Whether a bare file name has the shape of such a copy, in any case.
    static bool isUnreadableCopyName(const QString &name);

    // Empties the tree and fills it again from the index file; the dirty
    // flag is not touched.
    LoadReport loadData(Data &data);
    // Writes every album file (depth first, each before its entry) and then
    // the index file, each atomically. Clears the dirty flag only when all
    // were written. A tree nested deeper than kMaxDepth is not written.
    SaveReport saveData(Data &data);

    // Appends the items of the album's file to the album.
    void loadAlbumData(Album &album, LoadReport &report);
    // Writes the album's file; false when it could not be written.
    bool saveAlbumData(const Album &album, SaveReport &report);

    // The bytes a save would write now for the index and for one album
    // (Preview in Browser serves them as they are). GUI thread.
    QByteArray indexBytes(const Data &data) const;
    QByteArray albumBytes(const Album &album) const;

    // Deeper nesting of collections than this makes an index file unreadable.
    static constexpr int kMaxDepth = 256;

private:
    bool keepUnreadableCopy(const QString &path, SaveReport &report);
    bool writeFile(const QString &path, const QByteArray &bytes, SaveReport &report);
    bool saveAlbumBytes(const Album &album, const QByteArray &bytes, SaveReport &report);
    // The album's file in the xml folder; a null string (reported) for a name outside it.
    QString albumFilePath(const QString &name, LoadReport &report) const;
    void takeAlbumFile(Album &album, const QString &path, const struct AlbumFileRead &read, LoadReport &report);

    Preferences &m_prefs;
    QSet<QString> m_unreadable;
};

// Serialised forms, exposed for tests and benchmarks.
QByteArray serializeIndex(const Data &data);
QByteArray serializeAlbum(const Album &album);

// The first index file of a new gallery: version "2.2", one empty collection.
// Never replaces a file.
bool writeNewIndexFile(const QString &path, QString *error);

// Why `name` may not become the album file name of `self` (the user's
// words, one sentence); empty when it may. Refused: anything but a bare file
// name, the index file's name, a name another album uses, the name of a
// kept copy or of a file being written. Letter case is not told apart.
QString albumFileNameRefusal(const QString &name, const Data &data, const Album *self);

} // namespace qm
