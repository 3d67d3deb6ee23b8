#include "publish/Destination.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QSettings>

namespace qm {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("Destination", text);
}

// One settings group per gallery, named after its folder.
QString groupFor(const QString &galleryFolder)
{
    const QByteArray hash = QCryptographicHash::hash(QDir::cleanPath(galleryFolder).toUtf8(), QCryptographicHash::Sha1);
    return QStringLiteral("Publish/") + QString::fromLatin1(hash.toHex().left(16));
}

} // namespace

QString Destination::refusal() const
{
    if (kind == Folder) {
        if (folder.trimmed().isEmpty())
            return tr("Choose the folder to publish to.");
        if (!QDir::isAbsolutePath(folder))
            return tr("The folder to publish to must be a full path.");
        return QString();
    }
    if (host.trimmed().isEmpty())
        return tr("Enter the server's name.");
    if (port < 1 || port > 65535)
        return tr("The port must be a number from 1 to 65535.");
    if (user.trimmed().isEmpty())
        return tr("Enter the user name on the server.");
    if (remoteFolder.trimmed().isEmpty())
        return tr("Enter the folder on the server.");
    return QString();
}

QString Destination::displayName() const
{
    if (kind == Folder)
        return QDir::toNativeSeparators(folder);
    const QString where = port == 22 ? host : QStringLiteral("%1:%2").arg(host).arg(port);
    return QStringLiteral("%1@%2:%3").arg(user, where, remoteFolder);
}

QString Destination::key() const
{
    const QString text = kind == Folder ? QStringLiteral("folder:") + QDir::cleanPath(folder)
                                        : QStringLiteral("sftp:%1@%2:%3:%4").arg(user, host.toLower()).arg(port).arg(remoteFolder);
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
}

Destination Destination::load(QSettings &settings, const QString &galleryFolder)
{
    Destination d;
    settings.beginGroup(groupFor(galleryFolder));
    d.kind = settings.value(QStringLiteral("Kind")).toString() == QLatin1String("folder") ? Folder : Sftp;
    d.host = settings.value(QStringLiteral("Host")).toString();
    d.port = settings.value(QStringLiteral("Port"), 22).toInt();
    d.user = settings.value(QStringLiteral("User")).toString();
    d.remoteFolder = settings.value(QStringLiteral("RemoteFolder")).toString();
    d.keyFile = settings.value(QStringLiteral("KeyFile")).toString();
    d.folder = settings.value(QStringLiteral("Folder")).toString();
    settings.endGroup();
    return d;
}

void Destination::save(QSettings &settings, const QString &galleryFolder) const
{
    settings.beginGroup(groupFor(galleryFolder));
    settings.setValue(QStringLiteral("Kind"), kind == Folder ? QStringLiteral("folder") : QStringLiteral("sftp"));
    settings.setValue(QStringLiteral("Host"), host);
    settings.setValue(QStringLiteral("Port"), port);
    settings.setValue(QStringLiteral("User"), user);
    settings.setValue(QStringLiteral("RemoteFolder"), remoteFolder);
    settings.setValue(QStringLiteral("KeyFile"), keyFile);
    settings.setValue(QStringLiteral("Folder"), folder);
    settings.endGroup();
}

} // namespace qm
