#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>

namespace qm {

// What a write came to: the file it was for and, on failure, the system's
// own reason ("No space left on device").
struct WriteResult
{
    QString path;
    QString reason; // empty on success
    bool ok() const { return reason.isEmpty(); }
    explicit operator bool() const { return ok(); }
};

// The one way the program writes a file. The bytes go to a temporary file
// beside the destination; every write and the flush are checked, the size is
// compared with what was handed over, the data reaches the disk, and only
// then does the temporary file take the destination's name. On any failure
// the temporary file goes and the old file stays as it was.
//
// A destination that exists and is not a plain file (a symbolic link, a
// folder, a device) is refused: nothing is ever written through a link.
class FileWriter
{
public:
    enum class Mode {
        Replace,   // an existing plain file is replaced
        CreateNew, // fails when the name is taken, at the moment of taking it
    };

    explicit FileWriter(QString path, Mode mode = Mode::Replace);
    ~FileWriter(); // cancels unless committed
    FileWriter(const FileWriter &) = delete;
    FileWriter &operator=(const FileWriter &) = delete;

    bool open();
    bool write(QByteArrayView bytes);
    // Overwrites bytes already written (a header whose figures are known
    // only at the end); the file does not grow.
    bool writeAt(qint64 offset, QByteArrayView bytes);
    // Bytes already written (to move them when a header grows); empty on failure.
    QByteArray readAt(qint64 offset, qint64 size);
    bool commit();
    void cancel();

    const QString &path() const { return m_path; }
    qint64 written() const { return m_written; }
    // Empty while nothing failed.
    const QString &errorString() const { return m_error; }
    WriteResult result() const { return {m_path, m_error}; }

    // The whole of `bytes` as the file at `path`.
    static WriteResult writeFile(const QString &path, QByteArrayView bytes, Mode mode = Mode::Replace);

    // Copies a file in pieces (a movie may be gigabytes). `piece` hears the
    // bytes copied so far after each piece; when it answers false the copy
    // stops, leaves nothing and says "stopped".
    static WriteResult copyFile(const QString &from, const QString &to, Mode mode = Mode::CreateNew,
                                const std::function<bool(qint64 copied)> &piece = {});

    // Why `path` may not be written: it exists and is not a plain file. Empty when it may.
    static QString refusal(const QString &path);

    // Whether a bare file name has the shape of this class's temporary files.
    static bool isTemporaryName(const QString &name);

    // The reason copyFile gives when it was stopped.
    static QString stoppedReason();

    // Slows copies down so that tests can stop one in the middle.
    static void setCopyPieceDelayForTesting(int milliseconds);

private:
    bool fail(const QString &reason);
    // At `offset`, or appended when it is negative.
    bool writeAll(QByteArrayView bytes, qint64 offset);

    QString m_path;
    Mode m_mode;
    QByteArray m_tempPath;
    int m_fd = -1;
    qint64 m_written = 0;
    int m_keepMode = -1; // the replaced file's permissions
    bool m_committed = false;
    QString m_error;
};

// The system's words for an errno value.
QString systemReason(int error);

} // namespace qm
