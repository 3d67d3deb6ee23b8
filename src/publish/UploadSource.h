#pragma once

#include "publish/PublishTarget.h"

#include <QCryptographicHash>

namespace qm {

// The bytes of one upload, read in pieces and hashed on the way. A local
// file is read only when it is a plain file (never through a link), and
// must hold as many bytes as when the publish looked at it.
class UploadSource
{
public:
    explicit UploadSource(const Upload &upload);
    ~UploadSource();
    UploadSource(const UploadSource &) = delete;
    UploadSource &operator=(const UploadSource &) = delete;

    // Empty when it can be read, else why not.
    QString open();
    // The next piece of at most `max` bytes; an empty piece at the end.
    // False (with the reason) on failure.
    bool next(qint64 max, QByteArray &piece, QString *error);
    qint64 offset() const { return m_offset; }
    bool atEnd() const { return m_offset >= m_upload.size; }
    // The first 128 bits of SHA-256: plenty to tell two versions of a file apart.
    QByteArray hash() { return m_hash.result().first(16); }

    static QByteArray hashOf(QByteArrayView bytes);
    // The hash of a local file's bytes; null (with the reason) when it cannot be read.
    static QByteArray hashFile(const QString &path, QString *error);

private:
    const Upload &m_upload;
    int m_fd = -1;
    qint64 m_offset = 0;
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
};

} // namespace qm
