#include "storage/FileWriter.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
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
    if (m_mode == Mode::CreateNew && QFileInfo::exists(m_path))
        return fail(systemReason(EEXIST));
    const QFileInfo info(m_path);
    const QString base = QStringLiteral("%1/.%2.tmp-").arg(info.path(), info.fileName());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray temp = encoded(base + QString::number(QRandomGenerator::global()->generate(), 36));
        // 0666 less the umask: the web server must be able to read what we write.
        m_fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_tempPath = temp;
            return true;
        }
        if (errno != EEXIST)
            return fail(systemReason(errno));
    }
    return fail(systemReason(EEXIST));
}

bool FileWriter::write(QByteArrayView bytes)
{
    if (m_fd < 0)
        return false;
    const char *p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(systemReason(errno));
        }
        if (n == 0)
            return fail(systemReason(EIO));
        p += n;
        left -= n;
        m_written += n;
    }
    return true;
}

bool FileWriter::writeAt(qint64 offset, QByteArrayView bytes)
{
    if (m_fd < 0)
        return false;
    if (offset < 0 || offset + bytes.size() > m_written)
        return fail(QStringLiteral("a header rewrite past the written bytes"));
    const char *p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::pwrite(m_fd, p, size_t(left), off_t(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(systemReason(errno));
        }
        if (n == 0)
            return fail(systemReason(EIO));
        p += n;
        left -= n;
        offset += n;
    }
    return true;
}

bool FileWriter::commit()
{
    if (m_fd < 0)
        return false;
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
        // link() takes the name only if it is free, in one step.
        if (::link(m_tempPath.constData(), dest.constData()) != 0)
            return fail(systemReason(errno));
        ::unlink(m_tempPath.constData());
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

WriteResult FileWriter::copyFile(const QString &from, const QString &to, Mode mode, const std::atomic_bool *stop,
                                 std::atomic<qint64> *copied)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        return {from, source.errorString()};
    FileWriter writer(to, mode);
    if (!writer.open())
        return writer.result();
    constexpr qint64 kPiece = 4 << 20;
    const auto buffer = std::make_unique<char[]>(kPiece);
    for (;;) {
        if (stop && stop->load()) {
            writer.cancel();
            return {to, stoppedReason()};
        }
        const qint64 n = source.read(buffer.get(), kPiece);
        if (n < 0)
            return {from, source.errorString()};
        if (n == 0)
            break;
        if (!writer.write(QByteArrayView(buffer.get(), n)))
            return writer.result();
        if (copied)
            *copied += n;
        if (copyPieceDelay > 0)
            QThread::msleep(copyPieceDelay);
    }
    writer.commit();
    return writer.result();
}

} // namespace qm
