#pragma once

#include "model/Data.h"
#include "storage/GalleryFile.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace qm {

class JobControl;
class Preferences;

// Who names a file: shown beside a missing one.
struct FileOwner
{
    enum Kind { Index, Collection, Album, Photo, Video };
    Kind kind = Index;
    QString title;
    QString album; // the album an item is in
};

// Every file name the gallery holds, taken on the GUI thread so that the
// check itself can run anywhere while the user goes on working.
struct GalleryNames
{
    struct Name
    {
        QString name;
        bool xml = false;
        int owner = 0; // index into owners
    };
    QList<Name> names;
    QList<FileOwner> owners;

    static GalleryNames of(const Data &data);
};

struct CheckedFile
{
    enum Kind { File, Link, Folder, Other };
    QString path;
    QString name;
    bool xml = false;
    Kind kind = File;
    qint64 size = -1;  // bytes of the entry itself (a link's own size); -1 when not known
    QString owner;     // for a named file: what names it
    QString note;      // for an orphan: where it likely came from
};

struct GalleryCheckReport
{
    QList<CheckedFile> missing;   // named by the gallery, absent from its folder
    QList<CheckedFile> orphans;   // in img or xml, named by nothing
    QList<CheckedFile> notPlain;  // named, but a link, folder or device: never read through
    QList<FileProblem> problems;  // folders that could not be read; names that would leave their folder
    int namedFiles = 0;           // distinct names
    int entries = 0;              // entries of the two folders
    qint64 orphanBytes = 0;
    bool stopped = false;
    bool clean() const { return missing.isEmpty() && orphans.isEmpty() && notPlain.isEmpty() && problems.isEmpty(); }
};

// Compares the files the gallery names with the entries of its img and xml
// folders. Only names are read: one pass over each folder, and the size of
// each orphan from its own entry (a link is never followed, a folder never
// entered, and no picture opened). The folders themselves must be real
// folders, not links to elsewhere.
class GalleryCheck
{
public:
    static GalleryCheckReport run(const GalleryNames &names, const QString &imgFolder, const QString &xmlFolder,
                                  JobControl *control = nullptr);

    // "Photo “Beach” in “Holiday”".
    static QString describe(const FileOwner &owner);
};

} // namespace qm
