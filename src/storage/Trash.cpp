#include "storage/Trash.h"

#include "storage/FileWriter.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace qm {

namespace {

QByteArray parentOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash > 0 ? path.left(slash) : QByteArray("/");
}

QByteArray baseOf(const QByteArray &path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

QByteArray realPath(const QByteArray &path)
{
    char buffer[PATH_MAX];
    return ::realpath(path.constData(), buffer) ? QByteArray(buffer) : QByteArray();
}

// A folder of the trash: made when asked and missing; it must be a real
// folder of ours (not a link someone put there).
bool trashDir(const QByteArray &path, bool create, QString *reason)
{
    struct stat st;
    if (::lstat(path.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode) && st.st_uid == ::getuid())
            return true;
        *reason = QStringLiteral("%1 is not a trash folder of this user").arg(QFile::decodeName(path));
        return false;
    }
    if (errno != ENOENT) {
        *reason = systemReason(errno);
        return false;
    }
    if (!create)
        return true;
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        *reason = QStringLiteral("%1 cannot be made (%2)").arg(QFile::decodeName(path), systemReason(errno));
        return false;
    }
    return true;
}

bool trashWithParts(const QByteArray &path, bool create, QString *reason)
{
    return trashDir(path, create, reason) && trashDir(path + "/files", create, reason)
        && trashDir(path + "/info", create, reason);
}

// Whether a trash could be made in `top` without making it.
bool canMakeIn(const QByteArray &top, QString *reason)
{
    struct statvfs vfs;
    if (::statvfs(top.constData(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY)) {
        *reason = systemReason(EROFS);
        return false;
    }
    if (::access(top.constData(), W_OK | X_OK) != 0) {
        *reason = systemReason(errno);
        return false;
    }
    return true;
}

bool isSystemVolume(const QByteArray &top)
{
    if (top == "/")
        return true;
    struct statfs fs;
    if (::statfs(top.constData(), &fs) != 0)
        return false;
    switch (quint64(fs.f_type)) {
    case TMPFS_MAGIC:
    case RAMFS_MAGIC:
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEVPTS_SUPER_MAGIC:
        return true;
    default:
        return false;
    }
}

// The top folder of the volume that holds `folder` (a real path).
QByteArray volumeTop(const QByteArray &folder, dev_t device)
{
    QByteArray top = folder;
    while (top != "/") {
        const QByteArray up = parentOf(top);
        struct stat st;
        if (::stat(up.constData(), &st) != 0 || st.st_dev != device)
            break;
        top = up;
    }
    return top;
}

QByteArray homeData()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        return QByteArray();
    // A fresh account may not have it yet; the trash lives in it.
    QDir().mkpath(data);
    return QFile::encodeName(data);
}

struct Where
{
    TrashFolder folder;
    QByteArray original; // the file's path as the trash record names it, before escaping
};

Where whereFor(const QString &path, bool create)
{
    Where out;
    auto none = [&](const QString &reason) {
        out.folder.reason = reason;
        return out;
    };
    const QByteArray name = QFile::encodeName(path);
    const QByteArray parent = realPath(parentOf(name.startsWith('/') ? name : QFile::encodeName(QDir::currentPath()) + '/' + name));
    if (parent.isEmpty())
        return none(systemReason(errno));
    const QByteArray absolute = (parent == "/" ? QByteArray() : parent) + '/' + baseOf(name);
    struct stat st;
    if (::stat(parent.constData(), &st) != 0)
        return none(systemReason(errno));

    const QByteArray data = homeData();
    struct stat home;
    if (!data.isEmpty() && ::stat(data.constData(), &home) == 0 && home.st_dev == st.st_dev) {
        QString reason;
        if (!trashWithParts(data + "/Trash", create, &reason))
            return none(QStringLiteral("the home trash cannot be used: %1").arg(reason));
        out.folder.path = QFile::decodeName(data + "/Trash");
        out.original = absolute;
        return out;
    }

    const QByteArray top = volumeTop(parent, st.st_dev);
    if (isSystemVolume(top))
        return none(QStringLiteral("the folder is on a system or memory volume (%1), which has no trash")
                        .arg(QFile::decodeName(top)));
    const QByteArray uid = QByteArray::number(::getuid());
    const QByteArray base = top == "/" ? QByteArray() : top;
    // A shared ".Trash" that the administrator made for everyone.
    struct stat shared;
    QString reason;
    if (::lstat((base + "/.Trash").constData(), &shared) == 0 && S_ISDIR(shared.st_mode) && (shared.st_mode & S_ISVTX)
        && trashWithParts(base + "/.Trash/" + uid, create, &reason)) {
        out.folder.path = QFile::decodeName(base + "/.Trash/" + uid);
    } else {
        const QByteArray own = base + "/.Trash-" + uid;
        struct stat ownSt;
        const bool missing = ::lstat(own.constData(), &ownSt) != 0;
        if (missing && !create && !canMakeIn(top, &reason))
            return none(QStringLiteral("no trash can be made on the volume %1 (%2)").arg(QFile::decodeName(top), reason));
        if (!trashWithParts(own, create, &reason))
            return none(QStringLiteral("no trash can be made on the volume %1 (%2)").arg(QFile::decodeName(top), reason));
        out.folder.path = QFile::decodeName(own);
    }
    out.folder.top = QFile::decodeName(top);
    // A volume's trash names its files from the volume's top, so that the
    // volume may be mounted elsewhere.
    out.original = absolute.mid(base.size() + 1);
    return out;
}

// "img_1.jpg", "img_1.2.jpg", "img_1.3.jpg", ...
QByteArray numbered(const QByteArray &name, int n)
{
    if (n == 1)
        return name;
    const qsizetype dot = name.lastIndexOf('.');
    if (dot <= 0)
        return name + '.' + QByteArray::number(n);
    return name.left(dot) + '.' + QByteArray::number(n) + name.mid(dot);
}

} // namespace

FileIdentity FileIdentity::of(const QString &path)
{
    FileIdentity id;
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return id;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = st.st_size;
    id.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return id;
}

TrashFolder trashFolderFor(const QString &path, bool create)
{
    return whereFor(path, create).folder;
}

bool moveFileToTrash(const QString &path, QString *inTrash, QString *reason)
{
    auto fail = [reason](const QString &why) {
        if (reason)
            *reason = why;
        return false;
    };
    const Where where = whereFor(path, true);
    if (!where.folder.exists())
        return fail(where.folder.reason);
    const QByteArray trash = QFile::encodeName(where.folder.path);
    const QByteArray source = QFile::encodeName(path);
    const QByteArray record = "[Trash Info]\nPath=" + where.original.toPercentEncoding("/")
        + "\nDeletionDate=" + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1()
        + "\n";
    for (int n = 1; n < 10000; ++n) {
        const QByteArray name = numbered(baseOf(source), n);
        const QByteArray info = trash + "/info/" + name + ".trashinfo";
        const QByteArray target = trash + "/files/" + name;
        // The record is made first and takes the name, as the desktop's tools expect.
        const int fd = ::open(info.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return fail(QStringLiteral("the trash record cannot be written (%1)").arg(systemReason(errno)));
        }
        const bool written = ::write(fd, record.constData(), size_t(record.size())) == ssize_t(record.size());
        const int writeError = errno;
        ::close(fd);
        if (!written) {
            ::unlink(info.constData());
            return fail(QStringLiteral("the trash record cannot be written (%1)").arg(systemReason(writeError)));
        }
        const int error = renameNoReplace(source, target);
        if (error == EEXIST) {
            ::unlink(info.constData());
            continue;
        }
        if (error != 0) {
            ::unlink(info.constData());
            return fail(systemReason(error));
        }
        if (inTrash)
            *inTrash = QFile::decodeName(target);
        return true;
    }
    return fail(systemReason(EEXIST));
}

bool putBackFromTrash(const QString &original, const QString &inTrash, QString *reason)
{
    const QByteArray from = QFile::encodeName(inTrash);
    if (const int error = renameNoReplace(from, QFile::encodeName(original))) {
        if (reason)
            *reason = systemReason(error);
        return false;
    }
    // ".../Trash/files/name" has its record in ".../Trash/info/name.trashinfo".
    ::unlink((parentOf(parentOf(from)) + "/info/" + baseOf(from) + ".trashinfo").constData());
    return true;
}

QString findInTrash(const QString &original, const FileIdentity &identity)
{
    const TrashFolder folder = trashFolderFor(original, false);
    if (!folder.exists() || !identity.exists())
        return QString();
    const QByteArray files = QFile::encodeName(folder.path) + "/files";
    DIR *dir = ::opendir(files.constData());
    if (!dir)
        return QString();
    QString found;
    while (dirent *e = ::readdir(dir)) {
        if (e->d_ino != identity.inode)
            continue;
        const QString candidate = QFile::decodeName(files + '/' + e->d_name);
        if (FileIdentity::of(candidate).sameFile(identity)) {
            found = candidate;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

} // namespace qm
