#include "storage/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace qm {

namespace {

// A per-volume trash (".Trash/<uid>", ".Trash-<uid>") or the home trash under `data`.
bool isTrashFolder(const QString &folder, const QString &data)
{
    const QFileInfo info(folder);
#ifdef Q_OS_UNIX
    const QString uid = QString::number(::getuid());
    if (info.fileName() == QStringLiteral(".Trash-") + uid)
        return true;
    if (info.fileName() == uid && QFileInfo(info.absolutePath()).fileName() == QStringLiteral(".Trash"))
        return true;
#endif
    if (data.isEmpty())
        return false;
    const QString home = QDir(data).filePath(QStringLiteral("Trash"));
    if (QDir::cleanPath(folder) == QDir::cleanPath(home))
        return true;
    // Resolve links only when the names differ.
    const QString canonical = info.canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(home).canonicalFilePath();
}

} // namespace

bool moveFileToTrash(const QString &path, QString *inTrash)
{
    // Qt will not make a missing data folder, and without a trash it uses
    // "files" and "info" in the working folder instead. Make the folder the
    // home trash lives in, and refuse anything that is not a trash.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!data.isEmpty())
        QDir().mkpath(data);
    const QDir here = QDir::current();
    const bool hadFiles = here.exists(QStringLiteral("files"));
    const bool hadInfo = here.exists(QStringLiteral("info"));

    QFile file(path);
    if (!file.moveToTrash())
        return false;
    const QString moved = file.fileName();
    const QFileInfo where(QFileInfo(moved).absolutePath());
    if (where.fileName() == QStringLiteral("files") && isTrashFolder(where.absolutePath(), data)) {
        if (inTrash)
            *inTrash = moved;
        return true;
    }
    putBackFromTrash(path, moved);
    if (QFileInfo(where.absolutePath()).canonicalFilePath() == here.canonicalPath()) {
        if (!hadFiles)
            here.rmdir(QStringLiteral("files"));
        if (!hadInfo)
            here.rmdir(QStringLiteral("info"));
    }
    return false;
}

bool putBackFromTrash(const QString &original, const QString &inTrash)
{
    if (QFile::exists(original) || !QFile::rename(inTrash, original))
        return false;
    const QFileInfo trashed(inTrash);
    QFile::remove(QStringLiteral("%1/../info/%2.trashinfo").arg(trashed.absolutePath(), trashed.fileName()));
    return true;
}

} // namespace qm
