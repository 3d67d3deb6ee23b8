#include "web/WebViewer.h"

#include "storage/Common.h"
#include "storage/FileWriter.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVersionNumber>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

constexpr qint64 kMaxViewerFile = 16 << 20;

QString tr(const char *text)
{
    return QCoreApplication::translate("WebViewer", text);
}

enum class Entry { Absent, Plain, Other };

// A plain file's bytes, read without following a link or waiting on a FIFO.
Entry readPlain(const QString &path, QByteArray &bytes, QString &why)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) {
        if (errno == ENOENT)
            return Entry::Absent;
        why = systemReason(errno);
        return Entry::Other;
    }
    if (!S_ISREG(st.st_mode)) {
        why = S_ISLNK(st.st_mode) ? tr("it is a symbolic link") : S_ISDIR(st.st_mode) ? tr("it is a folder")
                                                                                       : tr("it is not a plain file");
        return Entry::Other;
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        why = systemReason(errno);
        if (fd >= 0)
            ::close(fd);
        return Entry::Other;
    }
    if (file.size() > kMaxViewerFile) {
        why = tr("it is larger than any file of the viewer");
        return Entry::Other;
    }
    bytes = file.readAll();
    if (bytes.isNull())
        bytes = QByteArray("");
    return Entry::Plain;
}

QByteArray sha256(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

} // namespace

QString programVersion()
{
    return QStringLiteral(QM_VERSION);
}

QString viewerSourceFolder()
{
    const QString installed = QCoreApplication::applicationDirPath() + QStringLiteral("/../share/quillmere/web");
    if (QFileInfo(installed + QStringLiteral("/index.html")).isFile())
        return QDir(installed).canonicalPath();
#ifdef QM_WEB_BUILD_DIR
    if (QFileInfo(QStringLiteral(QM_WEB_BUILD_DIR "/index.html")).isFile())
        return QStringLiteral(QM_WEB_BUILD_DIR);
#endif
    return QString();
}

ViewerPlan planWebViewer(const QString &sourceFolder, const QString &galleryFolder, const QString &version)
{
    ViewerPlan plan;
    plan.folder = galleryFolder + QLatin1Char('/') + QLatin1String(kViewerFolder);
    const QStringList names = sourceFolder.isEmpty() ? QStringList()
                                                     : QDir(sourceFolder).entryList(QDir::Files, QDir::Name);
    if (!names.contains(QStringLiteral("index.html"))) {
        plan.refusal = tr("The web viewer's files are not installed with this program.");
        return plan;
    }
    QByteArray bytes;
    QString why;
    const QFileInfo folder(plan.folder);
    if (folder.isSymLink() || (folder.exists() && !folder.isDir())) {
        plan.refusal = tr("\u201c%1\u201d is not a folder of the gallery but %2; nothing was written.")
                           .arg(plan.folder, folder.isSymLink() ? tr("a symbolic link") : tr("a file"));
        return plan;
    }

    // Which files there are ours: those the manifest names with their content.
    const QString manifestPath = plan.folder + QLatin1Char('/') + QLatin1String(kViewerManifest);
    QJsonObject owned;
    QByteArray oldManifest;
    switch (readPlain(manifestPath, oldManifest, why)) {
    case Entry::Absent:
        oldManifest = QByteArray();
        break;
    case Entry::Other:
        plan.refusal = tr("\u201c%1\u201d cannot be read (%2); nothing was written.").arg(manifestPath, why);
        return plan;
    case Entry::Plain: {
        const QJsonObject manifest = QJsonDocument::fromJson(oldManifest).object();
        if (manifest.value(QStringLiteral("generator")).toString() != QLatin1String("Quillmere")) {
            plan.refusal = tr("\u201c%1\u201d was not written by Quillmere, so the folder is not its viewer; "
                              "nothing was written.").arg(manifestPath);
            return plan;
        }
        const QVersionNumber theirs = QVersionNumber::fromString(manifest.value(QStringLiteral("version")).toString());
        if (QVersionNumber::compare(theirs, QVersionNumber::fromString(version)) > 0) {
            plan.refusal = tr("The viewer in this gallery comes from a newer Quillmere (%1) and is left as it is.")
                               .arg(theirs.toString());
            return plan;
        }
        owned = manifest.value(QStringLiteral("files")).toObject();
        plan.update = true;
        break;
    }
    }

    QJsonObject files;
    for (const QString &name : names) {
        QByteArray source;
        if (name == QLatin1String(kViewerManifest) || readPlain(sourceFolder + QLatin1Char('/') + name, source, why) != Entry::Plain)
            continue;
        const QString path = plan.folder + QLatin1Char('/') + name;
        QByteArray present;
        switch (readPlain(path, present, why)) {
        case Entry::Absent:
            plan.changes.append({path, QByteArray(), source});
            break;
        case Entry::Other:
            plan.kept.append({path, why});
            continue;
        case Entry::Plain:
            if (present == source)
                break;
            if (owned.value(name).toString().toLatin1() != sha256(present)) {
                plan.kept.append({path, tr("it is not the viewer's own file (it was changed, or put there by "
                                           "someone else)")});
                continue;
            }
            plan.changes.append({path, present, source});
            break;
        }
        files.insert(name, QString::fromLatin1(sha256(source)));
    }
    // Files of an older viewer that this one does not have.
    for (auto it = owned.begin(); it != owned.end(); ++it) {
        const QString &name = it.key();
        if (files.contains(name) || !isBareFileName(name) || name == QLatin1String(kViewerManifest))
            continue;
        const QString path = plan.folder + QLatin1Char('/') + name;
        QByteArray present;
        if (readPlain(path, present, why) == Entry::Plain && sha256(present) == it.value().toString().toLatin1())
            plan.changes.append({path, present, QByteArray()});
    }
    if (plan.changes.isEmpty())
        return plan; // up to date
    QJsonObject manifest{{QStringLiteral("generator"), QStringLiteral("Quillmere")},
                         {QStringLiteral("version"), version},
                         {QStringLiteral("files"), files}};
    plan.changes.append({manifestPath, oldManifest, QJsonDocument(manifest).toJson(QJsonDocument::Indented)});
    return plan;
}

} // namespace qm
