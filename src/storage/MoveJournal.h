#pragma once

#include "storage/GalleryFile.h"

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

namespace qm {

class Preferences;
struct GalleryNames;

// Files of the gallery's img and xml folders that moved since the last save
// took effect: into the trash (a deletion, an undone import) or into the
// folders (an import, a new thumbnail, an undone deletion). Each record is
// on the disk, in the gallery's own state folder, before the move it
// announces; a save that took effect makes them all moot.
//
// When a session ends without such a save (a crash, a kill, a power cut),
// the next open compares the records with what the saved gallery names: a
// named file that went to the trash comes back, and a file that came in but
// is named by nothing goes to the trash. So the folders always agree with
// the saved XML, and nothing the saved gallery names is silently missing.
//
// Safe on any thread.
class MoveJournal
{
public:
    // The gallery's folders, taken on the GUI thread when a gallery is opened.
    void setGallery(const Preferences &prefs);

    // Files about to leave for the trash (or for good), with what identifies
    // them there. False, with the reason, when the record cannot be kept:
    // the move must not happen then.
    bool leaving(const QStringList &paths, QString *reason);
    // Files about to be written into the folders or brought back to them.
    bool entering(const QStringList &paths, QString *reason = nullptr);
    // A save took effect: the folders agree with it.
    void saveCommitted();

    struct Recovery
    {
        QList<FileProblem> done;   // put right: the path and what was done
        QList<FileProblem> failed; // could not be put right, and why
        bool isEmpty() const { return done.isEmpty() && failed.isEmpty(); }
    };
    // Puts right what an interrupted session left, against the gallery as
    // it was loaded. Records of another session that is still running are
    // left alone.
    Recovery recover(const GalleryNames &names);

    // The record file's name in the state folder.
    static QString fileName() { return QStringLiteral("file-moves"); }

private:
    bool append(const QByteArray &lines, QString *reason);
    // "img <name>" or "xml <name>", or empty for a path outside the folders.
    QByteArray recordName(const QString &path) const;

    QString path() const;

    mutable QMutex m_mutex;
    QString m_gallery;
    QString m_img;
    QString m_xml;
    QString m_state;
};

} // namespace qm
