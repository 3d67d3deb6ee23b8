#pragma once

#include "storage/GalleryFile.h"

#include <QDateTime>
#include <QString>

#include <memory>

class QLockFile;

namespace qm {

class Preferences;

// One writer at a time. The lock is a file in the gallery's own folder
// (".quillmere/lock", a QLockFile): it names the process, the host and the
// program that hold it. The lock of a process that is gone (on this host)
// is taken over; one held elsewhere is only reported, and the gallery may
// then be opened read-only.
class GalleryLock
{
public:
    enum class State { Unlocked, Locked, HeldElsewhere, Failed };
    struct Holder
    {
        qint64 pid = 0;
        QString host;
        QString program;
        QDateTime since;
    };

    GalleryLock();
    ~GalleryLock();
    GalleryLock(const GalleryLock &) = delete;
    GalleryLock &operator=(const GalleryLock &) = delete;

    // For the gallery the settings name; any lock held before is let go.
    State lock(const Preferences &prefs);
    void unlock();
    State state() const { return m_state; }
    // Who holds it, when HeldElsewhere; why it could not be taken, when Failed.
    const Holder &holder() const { return m_holder; }
    const QString &error() const { return m_error; }

    // What interrupted work left, put right by the one holding the lock: a
    // save that took effect is completed, then the temporary files of
    // writes that never finished (saves, imports, conversions, thumbnails)
    // are removed from the gallery's folders. Problems name the file.
    static QList<FileProblem> tidy(const Preferences &prefs, int *removed = nullptr);

    static QString fileName() { return QStringLiteral("lock"); }

private:
    std::unique_ptr<QLockFile> m_file;
    State m_state = State::Unlocked;
    Holder m_holder;
    QString m_error;
};

} // namespace qm
