#include "storage/FileReader.h"

#include "storage/FileWriter.h"

#include <QFile>
#include <QLocale>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

QString kindRefusal(const QByteArray &path, mode_t mode)
{
    const char *what = S_ISFIFO(mode) ? "a named pipe (FIFO)"
        : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
        : S_ISSOCK(mode)                  ? "a socket"
        : S_ISDIR(mode)                   ? "a folder"
                                          : "something other than a file";
    struct stat own;
    const bool link = ::lstat(path.constData(), &own) == 0 && S_ISLNK(own.st_mode);
    return link ? QStringLiteral("it is a symbolic link to %1, not to a plain file").arg(QLatin1String(what))
                : QStringLiteral("it is %1, not a plain file").arg(QLatin1String(what));
}

QString sizeRefusal(qint64 size, qint64 limit)
{
    const QLocale locale;
    return QStringLiteral("it is larger (%1) than any such file Quillmere reads (at most %2)")
        .arg(locale.formattedDataSize(size), locale.formattedDataSize(limit));
}

// The plain file's descriptor, or -1 with the reason. The kind is looked at
// before opening (opening a pipe blocks; opening some devices does things)
// and again on what was opened, in case the name changed hands between.
int openPlain(const QString &path, qint64 limit, QString *reason, qint64 *size)
{
    auto refuse = [reason](const QString &why) {
        if (reason)
            *reason = why;
        return -1;
    };
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty())
        return refuse(QStringLiteral("no file name"));
    struct stat st;
    if (::stat(name.constData(), &st) != 0)
        return refuse(systemReason(errno));
    if (!S_ISREG(st.st_mode))
        return refuse(kindRefusal(name, st.st_mode));
    if (limit >= 0 && st.st_size > limit)
        return refuse(sizeRefusal(st.st_size, limit));
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return refuse(systemReason(errno));
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (limit >= 0 && st.st_size > limit)) {
        const QString why = !S_ISREG(st.st_mode) ? kindRefusal(name, st.st_mode) : sizeRefusal(st.st_size, limit);
        ::close(fd);
        return refuse(why);
    }
    // Plain files ignore it, but reads should block as usual.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (size)
        *size = st.st_size;
    return fd;
}

} // namespace

QString FileReader::refusal(const QString &path, qint64 limit)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (name.isEmpty())
        return QStringLiteral("no file name");
    if (::stat(name.constData(), &st) != 0)
        return systemReason(errno);
    if (!S_ISREG(st.st_mode))
        return kindRefusal(name, st.st_mode);
    if (limit >= 0 && st.st_size > limit)
        return sizeRefusal(st.st_size, limit);
    return QString();
}

bool FileReader::open(QFile &file, const QString &path, qint64 limit, QString *reason)
{
    if (path.startsWith(QLatin1String(":/"))) {
        // The program's own resources, built into it.
        file.setFileName(path);
        if (file.open(QIODevice::ReadOnly))
            return true;
        if (reason)
            *reason = file.errorString();
        return false;
    }
    const int fd = openPlain(path, limit, reason, nullptr);
    if (fd < 0)
        return false;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (reason)
            *reason = file.errorString();
        return false;
    }
    return true;
}

ReadResult FileReader::readFile(const QString &path, qint64 limit)
{
    ReadResult result{path, {}, {}};
    if (path.startsWith(QLatin1String(":/"))) {
        QFile resource;
        if (open(resource, path, limit, &result.reason))
            result.bytes = resource.readAll();
        return result;
    }
    qint64 size = 0;
    const int fd = openPlain(path, limit, &result.reason, &size);
    if (fd < 0)
        return result;
    // The size said now; a file that grows meanwhile is read up to the limit.
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    qint64 done = 0;
    for (;;) {
        if (done == bytes.size()) {
            if (limit >= 0 && done >= limit + 1)
                break;
            qint64 more = done + std::max<qint64>(4096, done / 2);
            if (limit >= 0)
                more = std::min(more, limit + 1);
            bytes.resize(qsizetype(more));
        }
        const ssize_t n = ::read(fd, bytes.data() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result.reason = systemReason(errno);
            ::close(fd);
            return result;
        }
        if (n == 0)
            break;
        done += n;
    }
    ::close(fd);
    if (limit >= 0 && done > limit) {
        result.reason = sizeRefusal(done, limit);
        return result;
    }
    bytes.resize(done);
    result.bytes = std::move(bytes);
    return result;
}

} // namespace qm
