#include "storage/MoveJournal.h"

#include "storage/Common.h"
#include "storage/FileReader.h"
#include "storage/FileWriter.h"
#include "storage/GalleryCheck.h"
#include "storage/Preferences.h"
#include "storage/Trash.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QSysInfo>
#include <QUrl>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace qm {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("MoveJournal", text);
}

const char kHeader[] = "# quillmere file moves 1\n";

QByteArray sessionLine()
{
    return "session " + QByteArray::number(qint64(::getpid())) + ' '
        + QUrl::toPercentEncoding(QSysInfo::machineHostName()) + '\n';
}

// Whether the session that wrote the records is another one still running here.
bool otherSessionRunning(const QByteArray &records)
{
    for (const QByteArray &line : records.split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() != 3 || f[0] != "session")
            continue;
        const qint64 pid = f[1].toLongLong();
        if (QUrl::fromPercentEncoding(f[2]) != QSysInfo::machineHostName() || pid <= 0 || pid == ::getpid())
            return false;
        return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
    }
    return false;
}

void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

void MoveJournal::setGallery(const Preferences &prefs)
{
    QMutexLocker lock(&m_mutex);
    m_gallery = prefs.orvaneFolder();
    m_img = QDir::cleanPath(prefs.imgFolder());
    m_xml = QDir::cleanPath(prefs.xmlFolder());
    m_state = prefs.stateFolder();
}

QString MoveJournal::path() const
{
    QMutexLocker lock(&m_mutex);
    return Preferences::pathIn(m_state, fileName());
}

QByteArray MoveJournal::recordName(const QString &path) const
{
    QMutexLocker lock(&m_mutex);
    const QString clean = QDir::cleanPath(path);
    const qsizetype slash = clean.lastIndexOf(QLatin1Char('/'));
    const QString folder = clean.left(slash), name = clean.mid(slash + 1);
    if (slash <= 0 || !isBareFileName(name))
        return QByteArray();
    if (!m_img.isEmpty() && folder == m_img)
        return "img " + QUrl::toPercentEncoding(name);
    if (!m_xml.isEmpty() && folder == m_xml)
        return "xml " + QUrl::toPercentEncoding(name);
    return QByteArray();
}

bool MoveJournal::append(const QByteArray &lines, QString *reason)
{
    if (lines.isEmpty())
        return true;
    auto fail = [reason](const QString &why) {
        if (reason)
            *reason = tr("the record of the move could not be written in the gallery's folder (%1)").arg(why);
        return false;
    };
    QMutexLocker lock(&m_mutex);
    const QString folder = m_state;
    const QString path = Preferences::pathIn(m_state, fileName());
    if (path.isEmpty())
        return fail(tr("no gallery is open"));
    const bool madeFolder = !QFileInfo::exists(folder);
    if (madeFolder && !QDir().mkpath(folder))
        return fail(systemReason(errno));
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return fail(systemReason(errno));
    QByteArray bytes = lines;
    const off_t at = ::lseek(fd, 0, SEEK_END);
    if (at == 0)
        bytes.prepend(kHeader + sessionLine());
    int error = 0;
    for (qsizetype done = 0; !error && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            error = n < 0 ? errno : EIO;
        else
            done += n;
    }
    if (!error && ::fdatasync(fd) != 0)
        error = errno;
    ::close(fd);
    if (error)
        return fail(systemReason(error));
    if (at == 0) {
        syncFolder(folder);
        if (madeFolder)
            syncFolder(m_gallery);
    }
    return true;
}

bool MoveJournal::leaving(const QStringList &paths, QString *reason)
{
    QByteArray lines;
    for (const QString &path : paths) {
        const QByteArray name = recordName(path);
        const FileIdentity id = FileIdentity::of(path);
        if (name.isEmpty() || !id.exists())
            continue;
        lines += "out " + name + ' ' + QByteArray::number(id.device) + ' ' + QByteArray::number(id.inode) + ' '
            + QByteArray::number(id.size) + ' ' + QByteArray::number(id.mtimeNs) + '\n';
    }
    return append(lines, reason);
}

bool MoveJournal::entering(const QStringList &paths, QString *reason)
{
    QByteArray lines;
    for (const QString &path : paths) {
        const QByteArray name = recordName(path);
        if (!name.isEmpty())
            lines += "in " + name + '\n';
    }
    return append(lines, reason);
}

void MoveJournal::saveCommitted()
{
    QMutexLocker lock(&m_mutex);
    const QString file = Preferences::pathIn(m_state, fileName());
    if (!file.isEmpty())
        QFile::remove(file);
}

MoveJournal::Recovery MoveJournal::recover(const GalleryNames &names)
{
    Recovery out;
    const QString path = this->path();
    if (path.isEmpty() || !QFileInfo::exists(path))
        return out;
    const ReadResult read = FileReader::readFile(path, FileReader::kXmlLimit);
    if (!read) {
        out.failed.append({path, read.reason});
        return out;
    }
    if (otherSessionRunning(read.bytes))
        return out;

    // The last record of each file says where it went.
    struct Record
    {
        bool out = false;
        FileIdentity id;
    };
    QHash<QByteArray, Record> last;
    QList<QByteArray> order;
    for (const QByteArray &line : read.bytes.split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        Record r;
        if (f.size() == 7 && f[0] == "out") {
            r.out = true;
            r.id.device = f[3].toULongLong();
            r.id.inode = f[4].toULongLong();
            r.id.size = f[5].toLongLong();
            r.id.mtimeNs = f[6].toLongLong();
        } else if (f.size() != 3 || f[0] != "in") {
            continue;
        }
        if (f[1] != "img" && f[1] != "xml")
            continue;
        const QByteArray key = f[1] + ' ' + f[2];
        if (!last.contains(key))
            order.append(key);
        last.insert(key, r);
    }

    QSet<QString> named[2];
    for (const GalleryNames::Name &n : names.names)
        named[n.xml ? 1 : 0].insert(n.name);
    for (const QByteArray &key : order) {
        const Record &r = last.value(key);
        const bool xml = key.startsWith("xml ");
        const QString name = QUrl::fromPercentEncoding(key.mid(4));
        const QString file = Preferences::pathIn(xml ? m_xml : m_img, name);
        if (file.isEmpty())
            continue;
        const bool isNamed = named[xml ? 1 : 0].contains(name);
        const bool there = FileIdentity::of(file).exists();
        if (r.out && isNamed && !there) {
            const QString inTrash = findInTrash(file, r.id);
            QString why;
            if (inTrash.isEmpty())
                out.failed.append({file, tr("the saved gallery names it, but it is no longer in the trash")});
            else if (!putBackFromTrash(file, inTrash, &why))
                out.failed.append({file, tr("the saved gallery names it, but it could not be brought back from the "
                                            "trash (%1)").arg(why)});
            else
                out.done.append({file, tr("brought back from the trash: the saved gallery names it")});
        } else if (!r.out && !isNamed && there) {
            QString why;
            if (moveFileToTrash(file, nullptr, &why))
                out.done.append({file, tr("moved to the trash: it came in after the last save, which does not name it")});
            else
                out.failed.append({file, tr("nothing in the saved gallery names it, and it could not be moved to the "
                                            "trash (%1)").arg(why)});
        }
    }
    {
        QMutexLocker lock(&m_mutex);
        QFile::remove(path);
    }
    return out;
}

} // namespace qm
