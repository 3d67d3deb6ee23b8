#include "publish/Publisher.h"

#include "publish/FolderTarget.h"
#include "publish/PublishRecord.h"
#include "publish/SftpTarget.h"
#include "publish/UploadSource.h"
#include "storage/Common.h"
#include "storage/GalleryCheck.h"
#include "storage/Job.h"
#include "storage/Preferences.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QUuid>
#include <QXmlStreamReader>
#include <QtConcurrent/QtConcurrentMap>

#include <cerrno>
#include <future>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("Publisher", text);
}

// The order files take the stage in.
enum Phase { Media, Albums, Index, kPhases };

constexpr int kViewerDepth = 16;
constexpr int kViewerFiles = 20000;
constexpr qint64 kXmlLimit = 64 << 20;
constexpr qint64 kSaveRecordEveryMs = 10000;

struct LocalFile
{
    Upload upload;
    qint64 mtimeNs = 0;
    Phase phase = Media;
};

// The gallery as saved on disk: every file to publish, in its phase.
struct SavedGallery
{
    QList<LocalFile> files;
    QSet<QString> named; // every name the gallery owns, there or not,
    QStringList unsorted; // but these, kept apart until asked for: often nobody asks
    bool owns(const QString &name)
    {
        for (const QString &n : std::as_const(unsorted))
            named.insert(n);
        unsorted.clear();
        return named.contains(name);
    }
    QStringList folders; // on the destination
    int viewerFiles = 0;
};

bool hasControl(const QString &name)
{
    return std::any_of(name.begin(), name.end(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

// A plain file's size and time, never through a link; else why not. `path`
// is relative to the open folder `dir`.
QString look(int dir, const QString &path, Upload &upload, qint64 &mtimeNs)
{
    struct stat st;
    if (dir == -1 || ::fstatat(dir, QFile::encodeName(path).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return dir == -1 || errno == ENOENT ? tr("it is missing from the gallery's folder") : systemReason(errno);
    if (S_ISLNK(st.st_mode))
        return tr("it is a symbolic link, which is never published");
    if (!S_ISREG(st.st_mode))
        return tr("it is not a plain file");
    upload.size = st.st_size;
    upload.mtime = st.st_mtim.tv_sec;
    mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return QString();
}

// An index or album file is sent as read once, and as it was looked at,
// so that it agrees with the names taken from it.
QString readWhole(LocalFile &f)
{
    if (f.upload.size > kXmlLimit)
        return tr("it is too large for a file of the gallery's index");
    UploadSource source(f.upload);
    QString error = source.open();
    QByteArray piece;
    QByteArray bytes("");
    while (error.isEmpty() && source.next(1 << 20, piece, &error) && !piece.isEmpty())
        bytes += piece;
    Upload now;
    qint64 mtimeNs = 0;
    if (error.isEmpty() && look(AT_FDCWD, f.upload.localPath, now, mtimeNs).isEmpty() && mtimeNs != f.mtimeNs)
        error = tr("it changed while it was being published");
    if (!error.isEmpty())
        return error;
    f.upload.bytes = bytes;
    f.upload.localPath.clear();
    return QString();
}

void addViewer(const QString &path, const QString &rel, int depth, SavedGallery &out, PublishReport &report)
{
    DIR *dir = ::opendir(QFile::encodeName(path).constData());
    if (!dir) {
        if (errno != ENOENT)
            report.refused.append({rel, systemReason(errno)});
        return;
    }
    out.folders << rel;
    QStringList names;
    while (dirent *e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names << QFile::decodeName(e->d_name);
    }
    ::closedir(dir);
    names.sort();
    for (const QString &name : names) {
        const QString childRel = rel + QLatin1Char('/') + name, childPath = path + QLatin1Char('/') + name;
        struct stat st;
        if (::lstat(QFile::encodeName(childPath).constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
            if (depth < kViewerDepth)
                addViewer(childPath, childRel, depth + 1, out, report);
            continue;
        }
        if (++out.viewerFiles > kViewerFiles) {
            report.refused.append({childRel, tr("the viewer holds more than %1 files").arg(kViewerFiles)});
            continue;
        }
        LocalFile f;
        f.upload.name = childRel;
        f.upload.localPath = childPath;
        const QString why = hasControl(name) ? tr("its name holds a control character") : look(AT_FDCWD, childPath, f.upload, f.mtimeNs);
        if (!why.isEmpty()) {
            report.refused.append({childRel, why});
            continue;
        }
        out.named.insert(childRel);
        out.files.append(std::move(f));
    }
}

// The size and time of every entry of a folder, before its files are read.
QHash<QString, PublishedNames::Source> stampsOf(int dir)
{
    QHash<QString, PublishedNames::Source> out;
    const int copy = dir < 0 ? -1 : ::dup(dir);
    DIR *d = copy < 0 ? nullptr : ::fdopendir(copy);
    if (!d) {
        if (copy >= 0)
            ::close(copy);
        return out;
    }
    ::rewinddir(d);
    while (dirent *e = ::readdir(d)) {
        struct stat st;
        if (::fstatat(dir, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            out.insert(QFile::decodeName(e->d_name), {st.st_size, qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec});
    }
    ::closedir(d);
    return out;
}

// Reads the saved index and album files as the application would; false
// (with the failure) when the gallery cannot be read wholly, since then
// files the server still needs would look unnamed. What they named is taken
// from the last reading while none of them changed since.
bool readSavedGallery(const QString &folder, SavedGallery &out, PublishReport &report, bool useKnownNames = true)
{
    const QString prefixes[2] = {QStringLiteral("img/"), QStringLiteral("xml/")};
    struct Candidate
    {
        LocalFile file;
        QString bare;
        int folder = 0;
        QString why;
    };
    QList<Candidate> candidates;
    auto candidate = [&](const QString &rel, int x, QString bare) {
        Candidate &c = candidates.emplace_back();
        c.file.upload.name = rel;
        c.file.phase = x == 0 ? Media : bare == QLatin1String("albums.xml") ? Index : Albums;
        c.bare = std::move(bare);
        c.folder = x;
    };
    // Looked up beside an open folder: a hundred thousand names cost little.
    struct Folders
    {
        int fd[2] = {-1, -1};
        ~Folders()
        {
            for (int f : fd) {
                if (f >= 0)
                    ::close(f);
            }
        }
    } dirs;
    for (int x = 0; x < 2; ++x)
        dirs.fd[x] = ::open(QFile::encodeName(folder + QLatin1Char('/') + prefixes[x].chopped(1)).constData(),
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const QString namesPath = PublishedNames::path(folder);
    const PublishedNames known = useKnownNames ? PublishedNames::load(namesPath) : PublishedNames();
    bool trusted = !known.sources.isEmpty();
    for (auto it = known.sources.cbegin(); trusted && it != known.sources.cend(); ++it) {
        struct stat st;
        trusted = ::fstatat(dirs.fd[1], QFile::encodeName(it.key().mid(4)).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0
                  && st.st_size == it->size && qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec == it->mtimeNs;
    }
    QHash<QString, PublishedNames::Source> before; // the xml files as they were when read
    bool wholeNames = true;                         // every name the gallery gives is a file name in its folder
    if (trusted) {
        candidates.reserve(known.names.size());
        for (const QString &rel : known.names) {
            const int x = rel.startsWith(prefixes[1]) ? 1 : 0;
            const QString bare = rel.mid(4);
            if (!rel.startsWith(prefixes[x]) || !isBareFileName(bare) || hasControl(bare))
                return readSavedGallery(folder, out = SavedGallery(), report, false);
            candidate(rel, x, bare);
        }
        out.unsorted = known.names;
    } else {
        before = stampsOf(dirs.fd[1]);
        QTemporaryDir scratch;
        QSettings settings(scratch.filePath(QStringLiteral("gallery.ini")), QSettings::IniFormat);
        Preferences prefs(&settings);
        prefs.setOrvaneFolder(folder);
        Data data;
        GalleryFile file(prefs);
        const LoadReport load = file.loadData(data);
        if (!load.ok()) {
            QStringList lines;
            for (const FileProblem &p : load.unreadable)
                lines << QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(p.path), p.reason);
            report.failure = tr("The saved gallery could not be read wholly, so publishing it could take files off the "
                                "server that it still needs. Nothing was published.\n%1").arg(lines.join(QLatin1Char('\n')));
            return false;
        }
        const GalleryNames names = GalleryNames::of(data);
        out.named.reserve(names.names.size() + 16);
        candidates.reserve(names.names.size());
        for (const GalleryNames::Name &n : names.names) {
            const int x = n.xml ? 1 : 0;
            const QString rel = prefixes[x] + n.name;
            const qsizetype size = out.named.size();
            out.named.insert(rel);
            if (out.named.size() == size)
                continue;
            if (!isBareFileName(n.name) || hasControl(n.name)) {
                out.named.remove(rel);
                wholeNames = false;
                report.refused.append({n.name, tr("named by %1, but not a file name inside the %2 folder")
                                                   .arg(GalleryCheck::describe(names.owners.value(n.owner)), prefixes[x].chopped(1))});
                continue;
            }
            candidate(rel, x, n.name);
        }
    }
    // Both cores look: a hundred thousand files are a second's work for one.
    QtConcurrent::blockingMap(candidates, [&dirs](Candidate &c) {
        c.why = look(dirs.fd[c.folder], c.bare, c.file.upload, c.file.mtimeNs);
    });
    PublishedNames learnt;
    for (const Candidate &c : std::as_const(candidates)) {
        if (c.folder != 1)
            continue;
        const PublishedNames::Source now{c.file.upload.size, c.file.mtimeNs};
        const auto then = trusted ? known.sources.constFind(c.file.upload.name) : before.constFind(c.bare);
        if (!c.why.isEmpty() || then == (trusted ? known.sources.cend() : before.cend()) || then->size != now.size
            || then->mtimeNs != now.mtimeNs) {
            // An index or album file changed while it was read or looked at.
            if (trusted)
                return readSavedGallery(folder, out = SavedGallery(), report, false);
            wholeNames = false;
            break;
        }
        learnt.sources.insert(c.file.upload.name, now);
    }
    if (!trusted && wholeNames && learnt.sources.contains(QStringLiteral("xml/albums.xml"))) {
        for (const Candidate &c : std::as_const(candidates))
            learnt.names << c.file.upload.name;
        QDir(folder).mkpath(QStringLiteral(".quillmere"));
        learnt.save(namesPath); // a cache: the next publish reads the gallery if this failed
    }
    out.folders = {QStringLiteral("img"), QStringLiteral("xml")};
    out.files.reserve(candidates.size() + 16);
    for (Candidate &c : candidates) {
        LocalFile &f = c.file;
        const QString &rel = f.upload.name;
        if (!c.why.isEmpty()) {
            report.refused.append({rel, c.why});
            continue;
        }
        f.upload.localPath = folder + QLatin1Char('/') + rel;
        out.files.append(std::move(f));
    }
    addViewer(folder + QStringLiteral("/viewer"), QStringLiteral("viewer"), 0, out, report);
    return true;
}

// Every file an index or album file names, by name relative to the destination.
void namesIn(const QByteArray &xml, QSet<QString> &img, QStringList &albums)
{
    QXmlStreamReader r(xml);
    while (r.readNextStartElement() || !r.atEnd()) {
        if (!r.isStartElement())
            continue;
        if (r.name() == u"url") {
            const QString name = r.readElementText(QXmlStreamReader::IncludeChildElements);
            if (isBareFileName(name))
                img.insert(QStringLiteral("img/") + name);
        } else if (r.name() == u"contentxmlurl") {
            const QString name = r.readElementText(QXmlStreamReader::IncludeChildElements);
            if (isBareFileName(name))
                albums << QStringLiteral("xml/") + name;
        }
    }
}

QString sizeText(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes, 1);
}

QString timeLeft(double seconds)
{
    if (seconds < 60)
        return tr("about %1 s left").arg(std::max(1, int(seconds + 0.5)));
    if (seconds < 3600)
        return tr("about %1 min left").arg(int(seconds / 60 + 0.5));
    return tr("about %1 h %2 min left").arg(int(seconds / 3600)).arg(int(seconds / 60) % 60);
}

// Progress of the sending, in files and bytes, with the rate and the time left.
class Progress
{
public:
    Progress(JobControl *control, int files, qint64 bytes) : m_control(control), m_files(files), m_bytes(bytes)
    {
        m_clock.start();
        if (m_control)
            m_control->setTotal(std::max<qint64>(bytes, 1));
        show(true);
    }
    void bytes(qint64 n)
    {
        m_sentBytes += n;
        if (m_control)
            m_control->setDone(m_sentBytes);
        show(false);
    }
    void file()
    {
        ++m_sentFiles;
        show(false);
    }

private:
    void show(bool force)
    {
        if (!m_control || (!force && m_clock.elapsed() - m_shown < 200))
            return;
        m_shown = m_clock.elapsed();
        const QLocale locale;
        QString text = tr("Sending %1 of %2 files (%3 of %4)")
                           .arg(locale.toString(std::min(m_sentFiles + 1, m_files)), locale.toString(m_files),
                                sizeText(m_sentBytes), sizeText(m_bytes));
        const double seconds = m_clock.elapsed() / 1000.0;
        if (seconds > 1 && m_sentBytes > 0) {
            const double rate = m_sentBytes / seconds;
            text += QStringLiteral("\n") + tr("%1/s, %2").arg(sizeText(qint64(rate)), timeLeft((m_bytes - m_sentBytes) / rate));
        }
        m_control->setLabel(text);
    }

    JobControl *m_control;
    int m_files;
    qint64 m_bytes;
    int m_sentFiles = 0;
    qint64 m_sentBytes = 0;
    QElapsedTimer m_clock;
    qint64 m_shown = -1000;
};

} // namespace

Publisher::Publisher(QString galleryFolder, Destination destination, PublishOptions options)
    : m_gallery(QDir::cleanPath(galleryFolder))
    , m_destination(std::move(destination))
    , m_options(std::move(options))
{
}

QString Publisher::markerName()
{
    return QStringLiteral(".quillmere-published");
}

QString Publisher::recordPath(const QString &galleryFolder, const Destination &destination)
{
    return QStringLiteral("%1/.quillmere/publish-%2.txt").arg(QDir::cleanPath(galleryFolder), destination.key());
}

std::unique_ptr<PublishTarget> Publisher::targetFor(const Destination &destination, const QString &sshDir)
{
    if (destination.kind == Destination::Folder)
        return std::make_unique<FolderTarget>(destination.folder);
    return std::make_unique<SftpTarget>(destination, sshDir);
}

PublishReport Publisher::run(JobControl *control, PublishPrompts *prompts)
{
    PublishReport report;
    report.dryRun = m_options.dryRun;
    auto label = [control](const QString &text) {
        if (control)
            control->setLabel(text);
    };
    auto stopRequested = [control] { return control && control->stopRequested(); };

    const QString refusal = m_destination.refusal();
    if (!refusal.isEmpty()) {
        report.failure = refusal;
        return report;
    }
    if (m_destination.kind == Destination::Folder) {
        const QString to = QDir::cleanPath(QFileInfo(m_destination.folder).absoluteFilePath()) + QLatin1Char('/');
        const QString from = m_gallery + QLatin1Char('/');
        if (to.startsWith(from) || from.startsWith(to)) {
            report.failure = tr("The gallery cannot be published into its own folder or a folder that holds it.");
            return report;
        }
    }

    // The destination is reached, and the record read, while the gallery is
    // read: each takes a while for a large gallery (or a slow server), and
    // they do not meet.
    const QString recordFile = recordPath(m_gallery, m_destination);
    const std::unique_ptr<PublishTarget> target = targetFor(m_destination, m_options.sshDir);
    PublishRecord record;
    QByteArray marker;
    std::optional<RemoteFile> remoteIndex;
    auto recordRead = std::async(std::launch::async, [&] {
        QString recordError; // a damaged record is no record: the destination is compared instead
        record = PublishRecord::load(recordFile, &recordError);
    });
    auto farSide = std::async(std::launch::async, [&]() -> QString {
        QString error = target->connect(prompts);
        if (error.isEmpty())
            error = target->read(markerName(), marker);
        if (error.isEmpty())
            error = target->stat(QStringLiteral("xml/albums.xml"), remoteIndex);
        return error;
    });
    label(tr("Reading the saved gallery and connecting to %1...").arg(m_destination.displayName()));
    SavedGallery local;
    const bool readable = readSavedGallery(m_gallery, local, report);
    recordRead.get();
    const QString unreachable = farSide.get();
    if (!readable)
        return report;
    report.failure = unreachable;
    if (!report.failure.isEmpty())
        return report;
    if (stopRequested()) {
        report.stopped = true;
        return report;
    }

    // What the destination holds: the record, unless it may be stale.
    label(tr("Comparing with %1...").arg(m_destination.displayName()));
    const auto indexRecord = record.files.constFind(QStringLiteral("xml/albums.xml"));
    const bool indexAsRecorded = indexRecord == record.files.cend()
                                     ? !remoteIndex
                                     : remoteIndex && remoteIndex->size == indexRecord->size && remoteIndex->mtime == indexRecord->remoteMtime;
    const bool stale = m_options.checkServer || record.publishId.isEmpty() || record.files.isEmpty()
                       || QString::fromUtf8(marker.trimmed()) != record.publishId || !indexAsRecorded;
    QSet<QString> removable; // from the record, unless the destination was compared
    if (stale) {
        report.comparedServer = true;
        QHash<QString, RemoteFile> remote;
        for (const QString &folder : {QStringLiteral("img"), QStringLiteral("xml"), QStringLiteral("viewer")}) {
            if (!(report.failure = target->list(folder, remote)).isEmpty())
                return report;
        }
        // Only what the server shows counts; a file it holds as the gallery has it needs no sending.
        QHash<QString, PublishRecord::File> known;
        for (const LocalFile &f : local.files) {
            const auto r = remote.constFind(f.upload.name);
            if (r == remote.cend() || r->folder || r->size != f.upload.size)
                continue;
            // Sent before with these bytes, and still as it was left there.
            const auto old = record.files.constFind(f.upload.name);
            const bool same = old != record.files.cend() && old->size == f.upload.size && old->localMtime == f.mtimeNs
                              && old->remoteMtime == r->mtime && !old->hash.isEmpty();
            if (same || r->mtime == f.upload.mtime)
                known.insert(f.upload.name, PublishRecord::File{f.upload.size, f.mtimeNs, r->mtime, same ? old->hash : QByteArray()});
        }
        // The gallery on the server owns what its own index names, besides what we put there.
        QSet<QString> ownedThere;
        QByteArray xml;
        if (remote.contains(QStringLiteral("xml/albums.xml"))
            && (report.failure = target->read(QStringLiteral("xml/albums.xml"), xml)).isEmpty()) {
            QStringList albums;
            namesIn(xml, ownedThere, albums);
            for (const QString &album : std::as_const(albums)) {
                ownedThere.insert(album);
                if (!remote.contains(album) || stopRequested())
                    continue;
                if (!(report.failure = target->read(album, xml)).isEmpty())
                    return report;
                QStringList none;
                namesIn(xml, ownedThere, none);
            }
        }
        if (!report.failure.isEmpty())
            return report;
        removable.clear();
        for (auto it = remote.cbegin(); it != remote.cend(); ++it) {
            if (it->folder || local.owns(it.key()))
                continue;
            const QString base = it.key().section(QLatin1Char('/'), -1);
            if (record.files.contains(it.key()) || ownedThere.contains(it.key()) || FileWriter::isTemporaryName(base))
                removable.insert(it.key());
        }
        record.files = known;
    }

    // What to send: new files, and changed ones, told by size and time and, when only the time changed, by content.
    QList<Upload> sends[kPhases];
    QList<qint64> sendMtimes[kPhases]; // nanoseconds, beside each upload
    qint64 totalBytes = 0;
    int totalFiles = 0;
    bool refreshed = false; // the record learnt new times of unchanged files
    // Gallery files are named by their place only once they are to be read.
    auto place = [this](Upload &u) {
        if (u.bytes.isNull() && u.localPath.isEmpty())
            u.localPath = m_gallery + QLatin1Char('/') + u.name;
    };
    // Recorded files the gallery no longer names go; when every recorded
    // file is still named, none need looking for.
    qsizetype recorded = 0; // names of the gallery in the record
    for (const FileProblem &p : std::as_const(report.refused))
        recorded += local.owns(p.path) && record.files.contains(p.path);
    for (LocalFile &f : local.files) {
        auto rec = record.files.find(f.upload.name);
        recorded += rec != record.files.end();
        bool unchanged = false;
        if (rec != record.files.end() && rec->size == f.upload.size && rec->localMtime == f.mtimeNs) {
            unchanged = true;
        } else if (f.phase != Media) {
            if (const QString why = readWhole(f); !why.isEmpty()) {
                report.refused.append({f.upload.name, why});
                continue;
            }
        }
        if (!unchanged && rec != record.files.end() && rec->size == f.upload.size) {
            if (!rec->hash.isEmpty()) {
                place(f.upload);
                QString error;
                const QByteArray hash = f.upload.localPath.isEmpty() ? UploadSource::hashOf(f.upload.bytes)
                                                                     : UploadSource::hashFile(f.upload.localPath, &error);
                unchanged = hash == rec->hash;
                if (unchanged && !m_options.dryRun) {
                    rec->localMtime = f.mtimeNs;
                    refreshed = true;
                }
            }
        }
        if (unchanged) {
            ++report.unchanged;
            continue;
        }
        place(f.upload);
        sends[f.phase].append(f.upload);
        sendMtimes[f.phase].append(f.mtimeNs);
        totalBytes += f.upload.size;
        ++totalFiles;
    }
    if (!stale && recorded != record.files.size()) {
        for (auto it = record.files.cbegin(); it != record.files.cend(); ++it) {
            if (!local.owns(it.key()))
                removable.insert(it.key());
        }
    }
    QStringList removals(removable.cbegin(), removable.cend());
    removals.sort();

    if (m_options.dryRun) {
        for (const auto &phase : sends) {
            for (const Upload &u : phase)
                report.sent << u.name;
        }
        report.removed = removals;
        report.bytes = totalBytes;
        return report;
    }

    // Leftovers of a publish that did not end go first; then this one is written down as begun.
    const QStringList leftovers = PublishRecord::loadUnfinished(recordFile);
    if (!leftovers.isEmpty()) {
        label(tr("Clearing up after the last publish..."));
        if (!(report.failure = target->removeTemporaries(leftovers)).isEmpty())
            return report;
    }
    QDir(m_gallery).mkpath(QStringLiteral(".quillmere"));
    auto problem = [&](const WriteResult &written) {
        if (!written.ok() && report.failure.isEmpty())
            report.failure = tr("The record of what was published could not be written to %1: %2.")
                                 .arg(QDir::toNativeSeparators(written.path), written.reason);
        return !written.ok();
    };
    QStringList sending = leftovers;
    for (const auto &phase : sends) {
        for (const Upload &u : phase)
            sending << u.name;
    }
    sending.removeDuplicates();
    if (problem(PublishRecord::saveUnfinished(recordFile, sending)))
        return report;
    // The whole record is written now and then while much is sent, and at the end.
    QElapsedTimer sinceSaved;
    sinceSaved.start();
    bool recordChanged = stale || refreshed;
    auto saveRecord = [&](bool always) {
        if (!recordChanged || (!always && sinceSaved.elapsed() < kSaveRecordEveryMs))
            return;
        sinceSaved.restart();
        recordChanged = false;
        problem(record.save(recordFile));
    };

    QStringList folders = local.folders;
    if (!(report.failure = target->makeFolders(folders)).isEmpty()) {
        saveRecord(true);
        return report;
    }

    Progress progress(control, totalFiles, totalBytes);
    for (int phase = 0; phase < kPhases; ++phase) {
        const QList<Upload> &files = sends[phase];
        bool failed = false;
        TransferHooks hooks;
        hooks.stopRequested = stopRequested;
        hooks.sentBytes = [&](qint64 n) {
            report.bytes += n;
            progress.bytes(n);
        };
        hooks.done = [&](int index, const QString &reason, const QByteArray &hash) {
            const Upload &u = files[index];
            if (reason == FileWriter::stoppedReason())
                return;
            if (!reason.isEmpty()) {
                failed = true;
                report.refused.append({u.name, reason});
                return;
            }
            progress.file();
            report.sent << u.name;
            record.files.insert(u.name, PublishRecord::File{u.size, sendMtimes[phase][index], u.mtime, hash});
            recordChanged = true;
            saveRecord(false);
        };
        report.failure = target->send(files, hooks);
        if (!report.failure.isEmpty() || stopRequested() || failed) {
            report.stopped = report.failure.isEmpty() && !failed;
            if (failed && report.failure.isEmpty())
                report.failure = phase == Index ? tr("The gallery's index could not be put in place.")
                                                : tr("Some files could not be sent, so the gallery's index on the "
                                                     "server was left as it was: it names only files that are there.");
            saveRecord(true);
            return report;
        }
    }

    // Only now does nothing name these any more.
    label(tr("Removing files the gallery no longer names..."));
    report.failure = target->remove(removals, [&](int index, const QString &reason) {
        if (reason.isEmpty()) {
            report.removed << removals[index];
            record.files.remove(removals[index]);
        } else {
            report.refused.append({removals[index], tr("could not be removed: %1").arg(reason)});
        }
    });
    if (!report.removed.isEmpty())
        recordChanged = true;
    // A new mark on the destination tells other computers (and a later
    // check) that it changed; nothing changed, nothing to tell.
    if (report.failure.isEmpty() && (stale || !report.sent.isEmpty() || !report.removed.isEmpty())) {
        const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        report.failure = target->write(markerName(), id.toUtf8() + '\n');
        if (report.failure.isEmpty()) {
            record.publishId = id;
            recordChanged = true;
        }
    }
    saveRecord(true);
    if (report.failure.isEmpty())
        problem(PublishRecord::saveUnfinished(recordFile, {}));
    return report;
}

} // namespace qm
