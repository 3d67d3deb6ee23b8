#pragma once

#include <QByteArray>
#include <QString>

class QFile;

namespace qm {

// What a read came to: the bytes, or the file and the reason it was refused
// or failed.
struct ReadResult
{
    QString path;
    QByteArray bytes;
    QString reason; // empty on success
    bool ok() const { return reason.isEmpty(); }
    explicit operator bool() const { return ok(); }
};

// The one way the program reads a file from the gallery or from a drop:
// only a plain file is opened (a symbolic link to one is fine), so a named
// pipe cannot hang us and a device cannot feed us without end; a file
// larger than its kind ever is, is refused before a byte is read. Safe on
// any thread.
class FileReader
{
public:
    static constexpr qint64 kNoLimit = -1;
    // Larger than any real photo, well below what would exhaust memory.
    static constexpr qint64 kPictureLimit = qint64(1) << 30;
    // An index or album file of a gallery with hundreds of thousands of items.
    static constexpr qint64 kXmlLimit = qint64(256) << 20;

    // Why `path` may not be read: it is not a plain file (what a link points
    // to counts), it is larger than `limit`, or it cannot be looked at.
    // Empty when it may.
    static QString refusal(const QString &path, qint64 limit = kNoLimit);
    // Opens `file` (given any name) on the plain file at `path` for reading;
    // false with the reason otherwise. Paths of the program's own resources
    // (":/...") are opened as they are.
    static bool open(QFile &file, const QString &path, qint64 limit, QString *reason = nullptr);
    // The whole file.
    static ReadResult readFile(const QString &path, qint64 limit);
};

} // namespace qm
