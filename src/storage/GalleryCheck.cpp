#include "storage/GalleryCheck.h"

#include "model/Photo.h"
#include "model/Video.h"
#include "storage/Common.h"
#include "storage/FileWriter.h"
#include "storage/GalleryFile.h"
#include "storage/Job.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("GalleryCheck", text);
}

struct Entry
{
    CheckedFile::Kind kind = CheckedFile::File;
    bool named = false;
};

CheckedFile::Kind kindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return CheckedFile::File;
    if (S_ISLNK(mode))
        return CheckedFile::Link;
    if (S_ISDIR(mode))
        return CheckedFile::Folder;
    return CheckedFile::Other;
}

// What an entry nothing names most likely is.
QString noteFor(const QString &name)
{
    if (FileWriter::isTemporaryName(name)) {
        // Named after the file that was being written.
        if (name.contains(QLatin1String(".flv.tmp-"), Qt::CaseInsensitive))
            return tr("left by a movie import or conversion that was interrupted");
        if (name.contains(QLatin1String(".xml.tmp-"), Qt::CaseInsensitive))
            return tr("left by a save that was interrupted");
        return tr("left by writing a picture that was interrupted (an import or a thumbnail)");
    }
    if (GalleryFile::isKeptCopyName(name))
        return tr("copy kept of an earlier version of a file");
    return QString();
}

// One folder of the gallery, opened without following a link.
class Folder
{
public:
    explicit Folder(const QString &path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (m_fd < 0)
            m_error = errno == ELOOP || errno == ENOTDIR ? tr("it is not a folder of the gallery but a link or a file")
                                                         : systemReason(errno);
    }
    ~Folder()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Folder(const Folder &) = delete;
    Folder &operator=(const Folder &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    const QString &error() const { return m_error; }

    // Every entry's name and kind; the kind from the listing itself where
    // the file system gives it. False when stopped.
    bool read(QHash<QString, Entry> &out, JobControl *control)
    {
        const int fd = ::dup(m_fd);
        DIR *dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
        if (!dir) {
            if (fd >= 0)
                ::close(fd);
            m_error = systemReason(errno);
            return true;
        }
        int n = 0;
        errno = 0;
        while (dirent *e = ::readdir(dir)) {
            const char *name = e->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            Entry entry;
            switch (e->d_type) {
            case DT_REG:
                entry.kind = CheckedFile::File;
                break;
            case DT_LNK:
                entry.kind = CheckedFile::Link;
                break;
            case DT_DIR:
                entry.kind = CheckedFile::Folder;
                break;
            case DT_UNKNOWN: {
                struct stat st;
                entry.kind = ::fstatat(m_fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 ? kindOf(st.st_mode)
                                                                                    : CheckedFile::Other;
                break;
            }
            default:
                entry.kind = CheckedFile::Other;
            }
            out.insert(QFile::decodeName(name), entry);
            if (control && (++n & 4095) == 0) {
                control->advance(4096);
                if (control->stopRequested()) {
                    ::closedir(dir);
                    return false;
                }
            }
            errno = 0;
        }
        if (errno != 0)
            m_error = systemReason(errno);
        ::closedir(dir);
        if (control)
            control->advance(n & 4095);
        return true;
    }

    // The entry's own size; a link is not followed.
    qint64 size(const QString &name) const
    {
        struct stat st;
        if (::fstatat(m_fd, QFile::encodeName(name).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return -1;
        return S_ISDIR(st.st_mode) ? -1 : qint64(st.st_size);
    }

private:
    int m_fd = -1;
    QString m_error;
};

bool byName(const CheckedFile &a, const CheckedFile &b)
{
    if (a.xml != b.xml)
        return a.xml; // the xml folder first: it holds few files, and they matter most
    return a.name < b.name;
}

} // namespace

GalleryNames GalleryNames::of(const Data &data)
{
    GalleryNames out;
    out.owners.append({FileOwner::Index, QString(), QString()});
    out.names.append({QStringLiteral("albums.xml"), true, 0});
    auto add = [&](const QString &name, bool xml, int owner) {
        if (!name.isEmpty())
            out.names.append({name, xml, owner});
    };
    data.forEachNode([&](const NodePtr &node) {
        const int owner = int(out.owners.size());
        out.owners.append({node->isAlbum() ? FileOwner::Album : FileOwner::Collection, node->title(), QString()});
        add(node->thumbFile(), false, owner);
        if (!node->isAlbum())
            return true;
        const auto &album = static_cast<const Album &>(*node);
        add(album.XMLFile(), true, owner);
        for (const ItemPtr &item : album.items()) {
            const int itemOwner = int(out.owners.size());
            out.owners.append({item->isPhoto() ? FileOwner::Photo : FileOwner::Video, item->title(), album.title()});
            if (item->isPhoto()) {
                const auto &p = static_cast<const Photo &>(*item);
                add(p.imageFile(), false, itemOwner);
                add(p.smallImageFile(), false, itemOwner);
                add(p.largeImageFile(), false, itemOwner);
            } else {
                const auto &v = static_cast<const Video &>(*item);
                add(v.thumbFile(), false, itemOwner);
                for (const StreamPtr &s : v.streams())
                    add(s->file(), false, itemOwner);
            }
        }
        return true;
    });
    return out;
}

QString GalleryCheck::describe(const FileOwner &owner)
{
    switch (owner.kind) {
    case FileOwner::Index:
        return tr("the gallery's index");
    case FileOwner::Collection:
        return tr("collection \u201c%1\u201d").arg(owner.title);
    case FileOwner::Album:
        return tr("album \u201c%1\u201d").arg(owner.title);
    case FileOwner::Photo:
        return tr("photo \u201c%1\u201d in \u201c%2\u201d").arg(owner.title, owner.album);
    case FileOwner::Video:
        return tr("video \u201c%1\u201d in \u201c%2\u201d").arg(owner.title, owner.album);
    }
    return QString();
}

GalleryCheckReport GalleryCheck::run(const GalleryNames &names, const QString &imgFolder, const QString &xmlFolder,
                                     JobControl *control)
{
    GalleryCheckReport report;
    const QString folders[2] = {imgFolder, xmlFolder};
    QHash<QString, Entry> entries[2];
    std::unique_ptr<Folder> open[2];
    if (control) {
        control->setTotal(0);
        control->setLabel(tr("Reading the gallery's folders..."));
    }
    for (int f = 0; f < 2; ++f) {
        open[f] = std::make_unique<Folder>(folders[f]);
        if (open[f]->isOpen()) {
            entries[f].reserve(f == 0 ? names.names.size() + 1024 : 256);
            if (!open[f]->read(entries[f], control)) {
                report.stopped = true;
                return report;
            }
        }
        if (!open[f]->error().isEmpty())
            report.problems.append({QDir::toNativeSeparators(folders[f]), open[f]->error()});
        report.entries += int(entries[f].size());
    }

    // Named files: present, missing, or present but not a plain file.
    if (control)
        control->setLabel(tr("Comparing with the gallery..."));
    QSet<QString> reported[2];
    for (const GalleryNames::Name &n : names.names) {
        const int f = n.xml ? 1 : 0;
        if (!isBareFileName(n.name)) {
            // Never looked up: it would lead out of the folder.
            report.problems.append({n.name, tr("named by %1, but not a file name inside the %2 folder")
                                                .arg(describe(names.owners.value(n.owner)),
                                                     n.xml ? QStringLiteral("xml") : QStringLiteral("img"))});
            continue;
        }
        auto it = entries[f].find(n.name);
        if (it != entries[f].end()) {
            if (!it->named && it->kind != CheckedFile::File)
                report.notPlain.append({QStringLiteral("%1/%2").arg(folders[f], n.name), n.name, n.xml, it->kind, -1,
                                        describe(names.owners.value(n.owner)), QString()});
            it->named = true;
        } else if (open[f]->isOpen() && open[f]->error().isEmpty() && !reported[f].contains(n.name)) {
            reported[f].insert(n.name);
            report.missing.append({QStringLiteral("%1/%2").arg(folders[f], n.name), n.name, n.xml, CheckedFile::File,
                                   -1, describe(names.owners.value(n.owner)), QString()});
        }
    }

    // Entries nothing names, with their sizes.
    for (int f = 0; f < 2; ++f) {
        for (auto it = entries[f].cbegin(); it != entries[f].cend(); ++it) {
            if (it->named)
                continue;
            CheckedFile file{QStringLiteral("%1/%2").arg(folders[f], it.key()), it.key(), f == 1, it->kind,
                             open[f]->size(it.key()), QString(), noteFor(it.key())};
            if (file.size > 0)
                report.orphanBytes += file.size;
            report.orphans.append(std::move(file));
            if (control && (report.orphans.size() & 1023) == 0 && control->stopRequested()) {
                report.stopped = true;
                return report;
            }
        }
    }
    QSet<QString> distinct[2];
    for (const GalleryNames::Name &n : names.names)
        distinct[n.xml ? 1 : 0].insert(n.name);
    report.namedFiles = int(distinct[0].size() + distinct[1].size());
    std::sort(report.missing.begin(), report.missing.end(), byName);
    std::sort(report.orphans.begin(), report.orphans.end(), byName);
    std::sort(report.notPlain.begin(), report.notPlain.end(), byName);
    return report;
}

} // namespace qm
