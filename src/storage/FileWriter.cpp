#include "storage/FileWriter.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

std::atomic_int copyPieceDelay{0};

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

// Makes the directory entry of a rename or link last through a power cut.
void syncFolderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray dir = slash > 0 ? path.left(slash) : QByteArray(slash == 0 ? "/" : ".");
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Gives `temp` the name `dest` only if that is free, in one step. Some file
// systems (FAT, exFAT, some network shares) have neither hard links nor an
// exclusive rename; there the name is checked just before the rename.
int takeFreeName(const QByteArray &temp, const QByteArray &dest)
{
    if (::link(temp.constData(), dest.constData()) == 0) {
        ::unlink(temp.constData());
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK)
        return errno;
    if (::renameat2(AT_FDCWD, temp.constData(), AT_FDCWD, dest.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    struct stat st;
    if (::lstat(dest.constData(), &st) == 0)
        return EEXIST;
    return ::rename(temp.constData(), dest.constData()) == 0 ? 0 : errno;
}

const char kTempMark[] = ".tmp-";

} // namespace

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString FileWriter::stoppedReason()
{
    return QStringLiteral("stopped");
}

void FileWriter::setCopyPieceDelayForTesting(int milliseconds)
{
    copyPieceDelay = milliseconds;
}

QString FileWriter::refusal(const QString &path)
{
    struct stat st;
    if (::lstat(encoded(path).constData(), &st) != 0)
        return errno == ENOENT ? QString() : systemReason(errno);
    if (S_ISREG(st.st_mode))
        return QString();
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("it is a symbolic link, which is never written through");
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("it is a folder");
    return QStringLiteral("it is not a plain file");
}

bool FileWriter::isTemporaryName(const QString &name)
{
    static const QRegularExpression shape(QStringLiteral("^\\..+\\.tmp-[0-9a-z]+$"));
    return shape.match(name).hasMatch();
}

FileWriter::FileWriter(QString path, Mode mode)
    : m_path(std::move(path))
    , m_mode(mode)
{
}

FileWriter::~FileWriter()
{
    if (!m_committed)
        cancel();
}

bool FileWriter::fail(const QString &reason)
{
    if (m_error.isEmpty())
        m_error = reason;
    cancel();
    return false;
}

bool FileWriter::open()
{
    if (m_fd >= 0 || !m_error.isEmpty())
        return m_fd >= 0;
    if (m_path.isEmpty())
        return fail(QStringLiteral("no file name"));
    const QString refused = refusal(m_path);
    if (!refused.isEmpty())
        return fail(refused);
    struct stat st;
    const bool exists = ::lstat(encoded(m_path).constData(), &st) == 0;
    if (m_mode == Mode::CreateNew && exists)
        return fail(systemReason(EEXIST));
    // A replaced file keeps its permissions (a gallery shared with a group stays so).
    if (exists)
        m_keepMode = int(st.st_mode & 07777);
    const QFileInfo info(m_path);
    const QString base = QStringLiteral("%1/.%2%3").arg(info.path(), info.fileName(), QLatin1String(kTempMark));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray temp = encoded(base + QString::number(QRandomGenerator::global()->generate(), 36));
        // 0666 less the umask: the web server must be able to read what we write.
        m_fd = ::open(temp.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_tempPath = temp;
            if (m_keepMode >= 0 && ::fchmod(m_fd, mode_t(m_keepMode)) != 0)
                return fail(systemReason(errno));
            return true;
        }
        if (errno != EEXIST)
            return fail(systemReason(errno));
    }
    return fail(systemReason(EEXIST));
}

bool FileWriter::writeAll(QByteArrayView bytes, qint64 offset)
{
    // Every byte or a failure: a short write is written on, never taken as done.
    const char *p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = offset < 0 ? ::write(m_fd, p, size_t(left)) : ::pwrite(m_fd, p, size_t(left), off_t(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(systemReason(errno));
        }
        if (n == 0)
            return fail(systemReason(EIO));
        p += n;
        left -= n;
        if (offset < 0)
            m_written += n;
        else
            offset += n;
    }
    return true;
}

bool FileWriter::write(QByteArrayView bytes)
{
    if (m_fd < 0)
        return fail(QStringLiteral("the file was not opened for writing"));
    return writeAll(bytes, -1);
}

bool FileWriter::writeAt(qint64 offset, QByteArrayView bytes)
{
    if (m_fd < 0)
        return false;
    if (offset < 0 || offset + bytes.size() > m_written)
        return fail(QStringLiteral("a header rewrite past the written bytes"));
    return writeAll(bytes, offset);
}

QByteArray FileWriter::readAt(qint64 offset, qint64 size)
{
    QByteArray bytes;
    if (m_fd < 0 || offset < 0 || size < 0 || offset + size > m_written) {
        fail(QStringLiteral("a read past the written bytes"));
        return bytes;
    }
    bytes.resize(size);
    for (qint64 done = 0; done < size;) {
        const ssize_t n = ::pread(m_fd, bytes.data() + done, size_t(size - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            fail(systemReason(n < 0 ? errno : EIO));
            return {};
        }
        done += n;
    }
    return bytes;
}

bool FileWriter::commit()
{
    if (m_fd < 0)
        return fail(QStringLiteral("the file was not opened for writing"));
    if (::fsync(m_fd) != 0)
        return fail(systemReason(errno));
    struct stat st;
    if (::fstat(m_fd, &st) != 0)
        return fail(systemReason(errno));
    if (st.st_size != m_written)
        return fail(QStringLiteral("only %1 of %2 bytes reached the disk").arg(st.st_size).arg(m_written));
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        return fail(systemReason(errno));
    const QByteArray dest = encoded(m_path);
    if (m_mode == Mode::CreateNew) {
        if (const int error = takeFreeName(m_tempPath, dest))
            return fail(systemReason(error));
    } else {
        // A link put in place meanwhile is replaced, not followed: rename
        // works on the entry itself. Refuse it all the same, as open() would.
        const QString refused = refusal(m_path);
        if (!refused.isEmpty())
            return fail(refused);
        if (::rename(m_tempPath.constData(), dest.constData()) != 0)
            return fail(systemReason(errno));
    }
    m_tempPath.clear();
    m_committed = true;
    syncFolderOf(dest);
    return true;
}

void FileWriter::cancel()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_tempPath.isEmpty()) {
        ::unlink(m_tempPath.constData());
        m_tempPath.clear();
    }
}

WriteResult FileWriter::writeFile(const QString &path, QByteArrayView bytes, Mode mode)
{
    FileWriter writer(path, mode);
    if (writer.open() && writer.write(bytes))
        writer.commit();
    return writer.result();
}

WriteResult FileWriter::copyFile(const QString &from, const QString &to, Mode mode,
                                 const std::function<bool(qint64)> &piece)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        return {from, source.errorString()};
    FileWriter writer(to, mode);
    if (!writer.open())
        return writer.result();
    constexpr qint64 kPiece = 4 << 20;
    const auto buffer = std::make_unique<char[]>(kPiece);
    qint64 copied = 0;
    for (;;) {
        const qint64 n = source.read(buffer.get(), kPiece);
        if (n < 0)
            return {from, source.errorString()};
        if (n == 0)
            break;
        if (!writer.write(QByteArrayView(buffer.get(), n)))
            return writer.result();
        copied += n;
        if (copyPieceDelay > 0)
            QThread::msleep(copyPieceDelay);
        if (piece && !piece(copied)) {
            writer.cancel();
            return {to, stoppedReason()};
        }
    }
    writer.commit();
    return writer.result();
}

} // namespace qm
