#include "publish/UploadSource.h"

#include "storage/FileWriter.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("UploadSource", text);
}

} // namespace

UploadSource::UploadSource(const Upload &upload) : m_upload(upload) {}

UploadSource::~UploadSource()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

QString UploadSource::open()
{
    if (m_upload.localPath.isEmpty())
        return QString();
    m_fd = ::open(QFile::encodeName(m_upload.localPath).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0)
        return errno == ELOOP ? tr("it is a symbolic link, which is never published") : systemReason(errno);
    struct stat st;
    if (::fstat(m_fd, &st) != 0)
        return systemReason(errno);
    if (!S_ISREG(st.st_mode))
        return tr("it is not a plain file");
    if (st.st_size != m_upload.size)
        return tr("it changed while it was being published");
    return QString();
}

bool UploadSource::next(qint64 max, QByteArray &piece, QString *error)
{
    const qint64 want = std::min(max, m_upload.size - m_offset);
    if (want <= 0) {
        piece.clear();
        return true;
    }
    if (m_upload.localPath.isEmpty()) {
        piece = m_upload.bytes.mid(m_offset, want);
    } else {
        piece.resize(want);
        qint64 got = 0;
        while (got < want) {
            const ssize_t n = ::read(m_fd, piece.data() + got, size_t(want - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                *error = systemReason(errno);
                return false;
            }
            if (n == 0) {
                *error = tr("it changed while it was being published");
                return false;
            }
            got += n;
        }
    }
    m_offset += piece.size();
    m_hash.addData(piece);
    return true;
}

QByteArray UploadSource::hashOf(QByteArrayView bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).first(16);
}

QByteArray UploadSource::hashFile(const QString &path, QString *error)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) {
        *error = systemReason(errno);
        return QByteArray();
    }
    Upload upload{QString(), path, QByteArray(), qint64(st.st_size), 0};
    UploadSource source(upload);
    *error = source.open();
    if (!error->isEmpty())
        return QByteArray();
    QByteArray piece;
    do {
        if (!source.next(1 << 20, piece, error))
            return QByteArray();
    } while (!piece.isEmpty());
    return source.hash();
}

} // namespace qm
