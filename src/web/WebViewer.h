#pragma once

#include "storage/Gallery.h"

#include <QList>
#include <QString>

namespace qm {

// The program's own viewer files: installed beside the program
// (share/quillmere/web), else those of the build. Empty when neither is there.
QString viewerSourceFolder();

// The folder inside a gallery that holds a copy of the viewer, and the
// file in it that says which of its files are the program's own.
inline constexpr char kViewerFolder[] = "viewer";
inline constexpr char kViewerManifest[] = "quillmere-viewer.json";

// What Add Web Viewer would do to a gallery folder now. The viewer's files
// are written into its "viewer" folder, with the manifest naming each one
// the program wrote and its SHA-256. A file there that the manifest does
// not name with its present content is not the program's (the user's,
// another tool's) and is never replaced or removed. An older viewer of
// ours is brought up to date, files it had and this one has not are
// removed; a newer one (from a later program) is left as it is.
struct ViewerPlan
{
    QString folder;            // <gallery>/viewer
    QList<FileChange> changes; // what the step writes; empty when up to date
    QList<FileProblem> kept;   // files that are not ours, left as they are
    QString refusal;           // why nothing is written at all
    bool update = false;       // a viewer of ours was there already
    bool ok() const { return refusal.isEmpty(); }
};

// This program's version, which the manifest records.
QString programVersion();

// Reads the source and the gallery's viewer folder: not on the GUI thread.
ViewerPlan planWebViewer(const QString &sourceFolder, const QString &galleryFolder,
                         const QString &version = programVersion());

} // namespace qm
