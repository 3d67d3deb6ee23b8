#pragma once

#include <QString>

namespace qm {

// What tells one file from another that later takes its name: its place on
// the volume, its size and its modification time (a rename keeps them all).
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1; // -1: there was nothing
    qint64 mtimeNs = 0;

    bool exists() const { return size >= 0; }
    // The entry itself; a link is not followed.
    static FileIdentity of(const QString &path);
    bool sameFile(const FileIdentity &other) const
    {
        return exists() && device == other.device && inode == other.inode && size == other.size
            && mtimeNs == other.mtimeNs;
    }
};

// The trash that takes files from a folder, after the freedesktop.org Trash
// rules: the home trash for files on its volume; on another volume
// the volume's own, "$top/.Trash/$uid" where the volume offers a shared
// ".Trash" (sticky, not a link), else "$top/.Trash-$uid". Volumes of the
// system (the root folder of another volume than home, memory file systems)
// have none, as on the desktop.
struct TrashFolder
{
    QString path;   // holds "files" and "info"; empty when there is none
    QString top;    // the volume's top folder for a volume trash; empty for the home trash
    QString reason; // why there is none
    bool exists() const { return !path.isEmpty(); }
};

// With `create`, the folders are made as needed; without, a trash that
// could be made counts as there (its `path` is where it would be).
TrashFolder trashFolderFor(const QString &path, bool create);

// Moves the entry at `path` (a link is moved itself) to its trash, with the
// record other tools read. False, with the reason, leaves it where it was.
bool moveFileToTrash(const QString &path, QString *inTrash = nullptr, QString *reason = nullptr);

// Undoes moveFileToTrash: the file goes back to `original` (never over
// another), its trash record goes.
bool putBackFromTrash(const QString &original, const QString &inTrash, QString *reason = nullptr);

// The entry of the trash `original` would go to that is the file `identity`
// describes; empty when it is not there.
QString findInTrash(const QString &original, const FileIdentity &identity);

} // namespace qm
