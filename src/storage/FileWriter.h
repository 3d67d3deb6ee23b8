#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <vector>

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
    // Like commit(), but the file keeps its temporary name (temporaryPath())
    // for a FileBatch to rename later: everything is on the disk already.
    bool stage();
    void cancel();

    const QString &path() const { return m_path; }
    QString temporaryPath() const;
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

    // `name` cut short, without splitting a character, so that `room` more
    // bytes still make a name `folder` takes.
    static QString cutToFit(const QString &folder, const QString &name, int room);

    // Whether a bare file name has the shape of this class's temporary files.
    static bool isTemporaryName(const QString &name);

    // The reason copyFile gives when it was stopped.
    static QString stoppedReason();

    // Slows copies down so that tests can stop one in the middle.
    static void setCopyPieceDelayForTesting(int milliseconds);
    // Ends the process at once, as a kill would, when the program has made
    // this many more changes to the disk (a file created, written, flushed,
    // renamed, linked or removed); 0 turns it off. For tests, in a child.
    static void exitAfterDiskChangesForTesting(int changes);
    static constexpr int kTestExitCode = 77;

private:
    bool fail(const QString &reason);
    bool finish(bool rename);
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

// Files that must change together (a save). Each is written in full under
// a temporary name beside its destination. Then one record of which file
// takes which name, the journal, is written in one step: from that moment
// the batch has taken effect. Only then do the files take their names, in
// the order they were added; the journal goes last. Killed before the
// journal is in place, no destination has changed and the temporary files
// are leftovers; killed after, finish() completes the renames at the next
// open. Paths in the journal are relative to `root`, so that a moved
// folder still finishes.
class FileBatch
{
public:
    FileBatch(QString root, QString journal);
    ~FileBatch(); // cancels unless committed
    FileBatch(const FileBatch &) = delete;
    FileBatch &operator=(const FileBatch &) = delete;

    // `bytes` as the new content of `path`, a file inside `root`. When
    // `aside` is given, the file now at `path` keeps that name too: a hard
    // link made before the batch takes effect, or where the file system
    // has none, a rename just before the new file takes its place.
    bool add(const QString &path, QByteArrayView bytes, const QString &aside = QString());
    bool commit();
    void cancel();

    // The first failure; empty while none.
    const WriteResult &failure() const { return m_failure; }
    // After a commit that failed: whether the batch took effect (the journal
    // is in place; the rest follows at the next open), and the destinations
    // that have their new content already.
    bool tookEffect() const { return m_tookEffect; }
    QStringList placed() const;

    // Completes a batch that took effect and was interrupted: the files
    // still under their temporary names take their places and the journal
    // goes. Failures (the journal then stays for another try) name the file.
    // Nothing to do, or done: an empty list.
    static QList<WriteResult> finish(const QString &root, const QString &journal);

private:
    struct Entry
    {
        QString path;
        QString temp;
        QString aside;
        bool linked = false;
        bool placed = false;
    };
    bool fail(const QString &path, const QString &reason);

    QString m_root;
    QString m_journal;
    std::vector<Entry> m_entries;
    WriteResult m_failure;
    bool m_tookEffect = false;
    bool m_done = false;
};

// The system's words for an errno value.
QString systemReason(int error);

// Gives the entry `from` the name `to` only if that is free (0), else the
// errno; where the file system has no such rename, the name is checked just
// before an ordinary one.
int renameNoReplace(const QByteArray &from, const QByteArray &to);

} // namespace qm
