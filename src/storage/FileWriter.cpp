#include "storage/FileWriter.h"

#include "storage/FileReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>

#include <climits>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

std::atomic_int copyPieceDelay{0};
std::atomic_int diskChangesLeft{0};

// One change made to the disk; the test hook ends the process after the
// last one it allows, as a kill at that moment would.
void changedDisk()
{
    if (diskChangesLeft.load() > 0 && diskChangesLeft.fetch_sub(1) == 1)
        ::_exit(FileWriter::kTestExitCode);
}

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash > 0 ? path.left(slash) : QByteArray(slash == 0 ? "/" : ".");
}

// Makes the directory entry of a rename or link last through a power cut.
void syncFolderOf(const QByteArray &path)
{
    const QByteArray dir = folderOf(path);
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// 0 or the errno of the rename.
int renamed(const QByteArray &from, const QByteArray &to)
{
    if (::rename(from.constData(), to.constData()) != 0)
        return errno;
    changedDisk();
    return 0;
}

// The longest name a folder takes, in bytes.
qsizetype nameMax(const QByteArray &folder)
{
    const long max = ::pathconf(folder.constData(), _PC_NAME_MAX);
    return max > 0 ? qsizetype(max) : qsizetype(NAME_MAX);
}

// `name` cut to at most `bytes` bytes of UTF-8 without splitting a character.
QByteArray cutName(const QByteArray &name, qsizetype bytes)
{
    if (name.size() <= bytes)
        return name;
    qsizetype end = std::max<qsizetype>(bytes, 0);
    while (end > 0 && (uchar(name[end]) & 0xC0) == 0x80)
        --end;
    return name.left(end);
}

// Gives `temp` the name `dest` only if that is free, in one step. Some file
// systems (FAT, exFAT, some network shares) have neither hard links nor an
// exclusive rename; there the name is checked just before the rename.
int takeFreeName(const QByteArray &temp, const QByteArray &dest)
{
    if (::link(temp.constData(), dest.constData()) == 0) {
        changedDisk();
        ::unlink(temp.constData());
        changedDisk();
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK)
        return errno;
    return renameNoReplace(temp, dest);
}

const char kTempMark[] = ".tmp-";

} // namespace

int renameNoReplace(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) {
        changedDisk();
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    struct stat st;
    if (::lstat(to.constData(), &st) == 0)
        return EEXIST;
    return renamed(from, to);
}

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

void FileWriter::exitAfterDiskChangesForTesting(int changes)
{
    diskChangesLeft = std::max(changes, 0);
}

QString FileWriter::cutToFit(const QString &folder, const QString &name, int room)
{
    return QFile::decodeName(cutName(encoded(name), nameMax(encoded(folder.isEmpty() ? QStringLiteral("/") : folder)) - room));
}

QString FileWriter::temporaryPath() const
{
    return QFile::decodeName(m_tempPath);
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
    const QByteArray folder = encoded(info.path());
    // ".<name>.tmp-<up to 7>": a name as long as the folder allows leaves
    // no room for that, so the temporary name takes only its beginning.
    const QByteArray name = cutName(encoded(info.fileName()), nameMax(folder) - 1 - qsizetype(sizeof kTempMark) - 6);
    const QByteArray base = folder + "/." + name + kTempMark;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray temp = base + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        // 0666 less the umask: the web server must be able to read what we write.
        m_fd = ::open(temp.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            changedDisk();
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
        changedDisk();
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
    return finish(true);
}

bool FileWriter::stage()
{
    return finish(false);
}

bool FileWriter::finish(bool rename)
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
    if (!rename) {
        m_committed = true;
        return true;
    }
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
        if (const int error = renamed(m_tempPath, dest))
            return fail(systemReason(error));
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
        if (::unlink(m_tempPath.constData()) == 0)
            changedDisk();
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
    // A pipe would never end the copy, a device never stop filling the disk.
    QFile source;
    QString refused;
    if (!FileReader::open(source, from, FileReader::kNoLimit, &refused))
        return {from, refused};
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

namespace {

const char kJournalHead[] = "quillmere file batch 1";

bool exists(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

bool cannotLink(int error)
{
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EMLINK;
}

// A relative path as one journal field: no tab, no line break.
QByteArray field(const QString &relative)
{
    return QUrl::toPercentEncoding(relative, "/");
}

void syncFolders(const QList<QByteArray> &paths)
{
    QSet<QByteArray> done;
    for (const QByteArray &path : paths) {
        if (!done.contains(folderOf(path))) {
            done.insert(folderOf(path));
            syncFolderOf(path);
        }
    }
}

// Puts one entry in place: the old file aside when asked (unless a link
// keeps it already), then the new content under its name. A temporary file
// no longer there was put in place before.
int place(const QByteArray &temp, const QByteArray &dest, const QByteArray &aside)
{
    if (!exists(temp))
        return 0;
    if (!aside.isEmpty() && !exists(aside) && exists(dest)) {
        if (const int error = renamed(dest, aside))
            return error;
    }
    return renamed(temp, dest);
}

} // namespace

FileBatch::FileBatch(QString root, QString journal)
    : m_root(std::move(root))
    , m_journal(std::move(journal))
{
}

FileBatch::~FileBatch()
{
    if (!m_done && !m_tookEffect)
        cancel();
}

bool FileBatch::fail(const QString &path, const QString &reason)
{
    if (m_failure.ok())
        m_failure = {path, reason};
    return false;
}

bool FileBatch::add(const QString &path, QByteArrayView bytes, const QString &aside)
{
    if (!m_failure.ok() || m_tookEffect)
        return false;
    if (!path.startsWith(m_root + QLatin1Char('/')) || (!aside.isEmpty() && !aside.startsWith(m_root + QLatin1Char('/'))))
        return fail(path, QStringLiteral("it is not inside the gallery folder"));
    FileWriter writer(path);
    if (!writer.open() || !writer.write(bytes) || !writer.stage())
        return fail(path, writer.errorString());
    m_entries.push_back({path, writer.temporaryPath(), aside});
    return true;
}

bool FileBatch::commit()
{
    if (!m_failure.ok() || m_done || m_tookEffect) {
        cancel();
        return false;
    }
    // The temporary files' names must last through a power cut before the
    // journal names them.
    QList<QByteArray> temps;
    for (const Entry &e : m_entries)
        temps << encoded(e.temp);
    syncFolders(temps);

    for (Entry &e : m_entries) {
        if (e.aside.isEmpty())
            continue;
        if (::link(encoded(e.path).constData(), encoded(e.aside).constData()) == 0) {
            changedDisk();
            e.linked = true;
        } else if (errno == ENOENT) {
            e.aside.clear(); // nothing there to keep
        } else if (!cannotLink(errno)) {
            fail(e.aside, systemReason(errno));
            cancel();
            return false;
        }
    }

    QByteArray text = QByteArray(kJournalHead) + '\n';
    const qsizetype skip = m_root.size() + 1;
    for (const Entry &e : m_entries)
        text += field(e.temp.mid(skip)) + '\t' + field(e.path.mid(skip)) + '\t'
              + (e.aside.isEmpty() ? QByteArray() : field(e.aside.mid(skip))) + '\n';
    text += "end\n";
    QDir().mkpath(QFileInfo(m_journal).path());
    const WriteResult journal = FileWriter::writeFile(m_journal, text);
    if (!journal) {
        fail(journal.path, journal.reason);
        cancel();
        return false;
    }
    m_tookEffect = true;

    QList<QByteArray> dests;
    for (Entry &e : m_entries) {
        if (const int error = place(encoded(e.temp), encoded(e.path), e.linked ? QByteArray() : encoded(e.aside)))
            return fail(e.path, systemReason(error));
        e.placed = true;
        dests << encoded(e.path);
    }
    syncFolders(dests);
    if (::unlink(encoded(m_journal).constData()) == 0)
        changedDisk();
    syncFolderOf(encoded(m_journal));
    m_done = true;
    return true;
}

void FileBatch::cancel()
{
    if (m_tookEffect)
        return; // the journal finishes it
    for (Entry &e : m_entries) {
        if (::unlink(encoded(e.temp).constData()) == 0)
            changedDisk();
        if (e.linked && ::unlink(encoded(e.aside).constData()) == 0)
            changedDisk();
    }
    m_entries.clear();
    m_done = true;
}

QStringList FileBatch::placed() const
{
    QStringList out;
    for (const Entry &e : m_entries) {
        if (e.placed)
            out << e.path;
    }
    return out;
}

QList<WriteResult> FileBatch::finish(const QString &root, const QString &journal)
{
    QFile file(journal);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        return {{journal, file.errorString()}};
    const QList<QByteArray> lines = file.readAll().split('\n');
    file.close();
    // Written in one step, so it is whole; anything else is not ours to follow.
    if (lines.size() < 3 || lines.first() != kJournalHead || lines.at(lines.size() - 2) != "end")
        return {{journal, QStringLiteral("it is not a record this program can follow")}};
    QList<QByteArray> dests;
    for (qsizetype i = 1; i < lines.size() - 2; ++i) {
        const QList<QByteArray> f = lines[i].split('\t');
        if (f.size() != 3 || f[0].isEmpty() || f[1].isEmpty())
            return {{journal, QStringLiteral("it is not a record this program can follow")}};
        auto path = [&](const QByteArray &relative) {
            return relative.isEmpty() ? QByteArray()
                                      : encoded(root + QLatin1Char('/') + QString::fromUtf8(QByteArray::fromPercentEncoding(relative)));
        };
        const QByteArray dest = path(f[1]);
        if (const int error = place(path(f[0]), dest, path(f[2])))
            return {{QFile::decodeName(dest), systemReason(error)}};
        dests << dest;
    }
    syncFolders(dests);
    if (::unlink(encoded(journal).constData()) != 0)
        return {{journal, systemReason(errno)}};
    changedDisk();
    syncFolderOf(encoded(journal));
    return {};
}

} // namespace qm
