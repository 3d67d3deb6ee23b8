#include "storage/GalleryLock.h"

#include "storage/FileWriter.h"
#include "storage/Preferences.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#include <cerrno>

#include <unistd.h>

namespace qm {

GalleryLock::GalleryLock() = default;

GalleryLock::~GalleryLock() = default;

GalleryLock::State GalleryLock::lock(const Preferences &prefs)
{
    unlock();
    const QString path = prefs.statePath(fileName());
    if (path.isEmpty()) {
        m_error = QStringLiteral("no gallery folder is set");
        return m_state = State::Failed;
    }
    if (!QFileInfo(prefs.orvaneFolder()).isDir()) {
        m_error = QStringLiteral("there is no such folder");
        return m_state = State::Failed;
    }
    // Never made along the way: a gallery folder that is gone stays gone.
    if (!QFileInfo(prefs.stateFolder()).isDir() && !QDir().mkdir(prefs.stateFolder())) {
        m_error = QStringLiteral("the folder %1 cannot be made in it").arg(prefs.stateFolder());
        return m_state = State::Failed;
    }
    m_file = std::make_unique<QLockFile>(path);
    // Never stale by age: a gallery stays open for days. A dead holder is
    // recognised by its process instead.
    m_file->setStaleLockTime(0);
    if (m_file->tryLock(0))
        return m_state = State::Locked;
    if (m_file->error() == QLockFile::LockFailedError) {
        QString host, program;
        qint64 pid = 0;
        m_file->getLockInfo(&pid, &host, &program);
        m_holder = {pid, host, program, QFileInfo(path).lastModified()};
        m_file.reset();
        return m_state = State::HeldElsewhere;
    }
    m_error = m_file->error() == QLockFile::PermissionError ? QStringLiteral("the gallery folder may not be written to")
                                                            : QStringLiteral("the lock file cannot be made");
    m_file.reset();
    return m_state = State::Failed;
}

void GalleryLock::unlock()
{
    m_file.reset(); // QLockFile removes its file
    m_state = State::Unlocked;
    m_holder = {};
    m_error.clear();
}

QList<FileProblem> GalleryLock::tidy(const Preferences &prefs, int *removed)
{
    QList<FileProblem> problems = GalleryFile::finishInterruptedSave(prefs);
    int count = 0;
    if (removed)
        *removed = 0;
    // Files still under their temporary names are what that save is made of.
    if (!problems.isEmpty())
        return problems;
    for (const QString &folder : {prefs.imgFolder(), prefs.xmlFolder(), prefs.stateFolder()}) {
        const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
        for (const QString &name : names) {
            if (!FileWriter::isTemporaryName(name))
                continue;
            const QString path = folder + QLatin1Char('/') + name;
            if (::unlink(QFile::encodeName(path).constData()) == 0)
                ++count;
            else
                problems.append({path, systemReason(errno)});
        }
    }
    if (removed)
        *removed = count;
    return problems;
}

} // namespace qm
