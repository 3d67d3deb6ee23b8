#pragma once

#include "model/Data.h"
#include "model/Foreign.h"

#include <QHash>
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
    // partly understood; before a save replaces one of them, the file is
    // kept under a second name.
    QList<FileProblem> unreadable;
    bool ok() const { return unreadable.isEmpty(); }
};

struct SaveReport
{
    // What stopped the save. Unless tookEffect, no file was changed.
    QList<FileProblem> failed;
    // Things done to keep data safe (copies kept, album files renamed).
    QList<FileProblem> notes;
    // Files another program changed since they were read; nothing was
    // written. Saving again with KeepTheirsAside writes over them after
    // keeping each as a copy.
    QList<FileProblem> changedOnDisk;
    // The files that now have their new content.
    QStringList written;
    // The save holds even though `failed` says what is not in place yet:
    // the next open completes it.
    bool tookEffect = false;
    bool ok() const { return failed.isEmpty() && changedOnDisk.isEmpty(); }
};

// Reads and writes the index file "albums.xml" and the album files.
//
// A save takes effect in one step (FileBatch): the files whose content
// changes are written in full under temporary names, a journal in the
// gallery's state folder records them, and only then do they take their
// names, the index last. Files whose content stays the same are not
// touched at all.
//
// What other tools put into the files is kept with the objects read from
// them (ForeignXml) and written back where it stood. A file that would
// lose something a save cannot write back (it could not be read wholly,
// or held content of objects now gone), or that another program changed,
// is kept under a second name (a hard link, never a copy of the bytes)
// before it is replaced. Nothing is written through a symbolic link.
class GalleryFile
{
public:
    enum class OnChangedFiles {
        Stop,            // report them and write nothing
        KeepTheirsAside, // keep their version beside, then write ours
    };

    explicit GalleryFile(Preferences &prefs) : m_prefs(prefs) {}

    // Whether a bare file name has the shape of a copy kept before a save
    // replaced a file, in any case.
    static bool isKeptCopyName(const QString &name);

    // Empties the tree and fills it again from the index file; the dirty
    // flag is not touched.
    LoadReport loadData(Data &data);
    // Writes the album files and the index whose content changed, in one
    // step. Clears the dirty flag when the save took effect. A tree nested
    // deeper than kMaxDepth is not written.
    SaveReport saveData(Data &data, OnChangedFiles onChanged = OnChangedFiles::Stop);

    // Appends the items of the album's file to the album.
    void loadAlbumData(Album &album, LoadReport &report);

    // The bytes a save would write now for the index and for one album
    // (Preview in Browser serves them as they are), other tools' content
    // included. GUI thread.
    QByteArray indexBytes(const Data &data) const;
    QByteArray albumBytes(const Album &album) const;

    // A save that took effect and was cut short completes here (at open,
    // by the one who holds the gallery's lock); failures name the file.
    static QList<FileProblem> finishInterruptedSave(const Preferences &prefs);
    // The record a save keeps while it takes effect.
    static QString journalName() { return QStringLiteral("save-journal"); }

    // Deeper nesting of collections than this makes an index file unreadable.
    static constexpr int kMaxDepth = 256;

private:
    struct Stamp
    {
        bool exists = false;
        quint64 device = 0, inode = 0;
        qint64 size = 0, modified = 0, changed = 0;
        bool operator==(const Stamp &) const = default;
    };
    // What the program knows of one file: as it last read or wrote it.
    struct FileState
    {
        Stamp stamp;
        QByteArray diskHash; // of its bytes
        // Of the bytes a save would have written then: the index's, and an
        // album file's once the program wrote it.
        QByteArray baseline;
        QByteArray fingerprint; // of the album, for an album file
        QList<ForeignXmlPtr> records; // other tools' content in it
        QString unreadable; // why it could not be read wholly
    };
    struct Read;
    struct AlbumFileRead;
    static Read readFile(const QString &path);
    static Stamp stampOf(const QString &path);
    void remember(const QString &path, const Stamp &stamp, const QByteArray &diskHash, const QByteArray &baseline,
                  QList<ForeignXmlPtr> records, const QString &unreadable);
    // Whether the file at `path` is not what the program last read or wrote there.
    bool changedOnDisk(const QString &path);
    // The album's file in the xml folder; a null string (reported) for a name outside it.
    QString albumFilePath(const QString &name, LoadReport &report) const;
    void settleAlbumFiles(Data &data, SaveReport &report, QList<const Album *> &albums);

    Preferences &m_prefs;
    QHash<QString, FileState> m_files;
    ForeignXmlPtr m_indexForeign;
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
// kept copy or of a file being written, a name longer than a folder takes.
// Letter case is not told apart.
QString albumFileNameRefusal(const QString &name, const Data &data, const Album *self);

} // namespace qm
