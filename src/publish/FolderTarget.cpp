#include "publish/FolderTarget.h"

#include "publish/UploadSource.h"
#include "storage/FileWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("FolderTarget", text);
}

constexpr qint64 kPiece = 1 << 20;
constexpr qint64 kSmallFileLimit = 64 << 20;

} // namespace

FolderTarget::FolderTarget(QString folder) : m_folder(QDir::cleanPath(folder)) {}

QString FolderTarget::pathOf(const QString &name) const
{
    return m_folder + QLatin1Char('/') + name;
}

QString FolderTarget::connect(PublishPrompts *)
{
    struct stat st;
    if (::stat(QFile::encodeName(m_folder).constData(), &st) != 0)
        return errno == ENOENT ? tr("The folder %1 does not exist (is the share mounted?).").arg(QDir::toNativeSeparators(m_folder))
                               : tr("The folder %1 cannot be used: %2.").arg(QDir::toNativeSeparators(m_folder), systemReason(errno));
    if (!S_ISDIR(st.st_mode))
        return tr("%1 is not a folder.").arg(QDir::toNativeSeparators(m_folder));
    return QString();
}

QString FolderTarget::makeFolders(const QStringList &folders)
{
    for (const QString &folder : folders) {
        const QByteArray path = QFile::encodeName(pathOf(folder));
        if (::mkdir(path.constData(), 0755) == 0 || errno == EEXIST) {
            struct stat st;
            if (::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode))
                continue;
            return tr("%1 is in the way of a folder of the gallery.").arg(QDir::toNativeSeparators(pathOf(folder)));
        }
        return tr("The folder %1 could not be made: %2.").arg(QDir::toNativeSeparators(pathOf(folder)), systemReason(errno));
    }
    return QString();
}

QString FolderTarget::sendOne(const Upload &upload, const TransferHooks &hooks, QByteArray &hash)
{
    UploadSource source(upload);
    QString error = source.open();
    if (!error.isEmpty())
        return error;
    FileWriter out(pathOf(upload.name));
    if (!out.open())
        return out.errorString();
    QByteArray piece;
    do {
        if (!source.next(kPiece, piece, &error))
            return error;
        if (!out.write(piece))
            return out.errorString();
        if (hooks.sentBytes)
            hooks.sentBytes(piece.size());
    } while (!piece.isEmpty());
    if (!out.commit())
        return out.errorString();
    const timespec times[2] = {{upload.mtime, 0}, {upload.mtime, 0}};
    ::utimensat(AT_FDCWD, QFile::encodeName(pathOf(upload.name)).constData(), times, AT_SYMLINK_NOFOLLOW);
    hash = source.hash();
    return QString();
}

QString FolderTarget::send(const QList<Upload> &files, const TransferHooks &hooks)
{
    for (int i = 0; i < files.size(); ++i) {
        if (hooks.stopRequested && hooks.stopRequested())
            break;
        if (const int delay = sendDelayForTesting())
            QThread::msleep(delay);
        QByteArray hash;
        const QString reason = sendOne(files[i], hooks, hash);
        hooks.done(i, reason, hash);
    }
    return QString();
}

QString FolderTarget::remove(const QStringList &names, const std::function<void(int, const QString &)> &done)
{
    for (int i = 0; i < names.size(); ++i) {
        const QByteArray path = QFile::encodeName(pathOf(names[i]));
        struct stat st;
        if (::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            done(i, tr("it is a folder"));
        else if (::unlink(path.constData()) == 0 || errno == ENOENT)
            done(i, QString());
        else
            done(i, systemReason(errno));
    }
    return QString();
}

QString FolderTarget::removeTemporaries(const QStringList &names)
{
    // FileWriter names its temporary files ".<name>.tmp-<random>".
    QHash<QString, QSet<QString>> byFolder;
    for (const QString &name : names) {
        const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
        byFolder[name.left(std::max<qsizetype>(slash, 0))].insert(name.mid(slash + 1));
    }
    for (auto it = byFolder.cbegin(); it != byFolder.cend(); ++it) {
        const QString folder = it.key().isEmpty() ? m_folder : pathOf(it.key());
        const QStringList entries = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
        for (const QString &entry : entries) {
            if (!FileWriter::isTemporaryName(entry))
                continue;
            const QString base = entry.mid(1, entry.lastIndexOf(QLatin1String(".tmp-")) - 1);
            if (it->contains(base))
                ::unlink(QFile::encodeName(folder + QLatin1Char('/') + entry).constData());
        }
    }
    return QString();
}

QString FolderTarget::list(const QString &folder, QHash<QString, RemoteFile> &out)
{
    const QString path = pathOf(folder);
    DIR *dir = ::opendir(QFile::encodeName(path).constData());
    if (!dir)
        return errno == ENOENT ? QString() : tr("The folder %1 could not be read: %2.").arg(QDir::toNativeSeparators(path), systemReason(errno));
    QStringList folders;
    while (dirent *e = ::readdir(dir)) {
        const QString name = QFile::decodeName(e->d_name);
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        struct stat st;
        if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const QString rel = folder + QLatin1Char('/') + name;
        if (S_ISDIR(st.st_mode))
            folders << rel;
        out.insert(rel, RemoteFile{S_ISREG(st.st_mode) ? qint64(st.st_size) : -1, qint64(st.st_mtim.tv_sec), bool(S_ISDIR(st.st_mode))});
    }
    ::closedir(dir);
    for (const QString &sub : folders) {
        const QString error = list(sub, out);
        if (!error.isEmpty())
            return error;
    }
    return QString();
}

QString FolderTarget::stat(const QString &name, std::optional<RemoteFile> &out)
{
    struct stat st;
    out.reset();
    if (::lstat(QFile::encodeName(pathOf(name)).constData(), &st) != 0)
        return errno == ENOENT ? QString() : systemReason(errno);
    out = RemoteFile{S_ISREG(st.st_mode) ? qint64(st.st_size) : -1, qint64(st.st_mtim.tv_sec), bool(S_ISDIR(st.st_mode))};
    return QString();
}

QString FolderTarget::read(const QString &name, QByteArray &out)
{
    out = QByteArray();
    std::optional<RemoteFile> file;
    QString error = stat(name, file);
    if (!error.isEmpty() || !file)
        return error;
    if (file->size < 0 || file->size > kSmallFileLimit)
        return tr("%1 is not a plain file of a reasonable size.").arg(name);
    Upload upload{name, pathOf(name), QByteArray(), file->size, 0};
    UploadSource source(upload);
    error = source.open();
    QByteArray piece;
    out = QByteArray("");
    while (error.isEmpty() && source.next(kPiece, piece, &error) && !piece.isEmpty())
        out += piece;
    if (!error.isEmpty())
        out = QByteArray();
    return error;
}

QString FolderTarget::write(const QString &name, const QByteArray &bytes)
{
    const WriteResult result = FileWriter::writeFile(pathOf(name), bytes);
    return result.ok() ? QString() : tr("%1 could not be written: %2.").arg(QDir::toNativeSeparators(result.path), result.reason);
}

} // namespace qm
