#pragma once

#include <QString>

class QSettings;

namespace qm {

// Where a gallery is published: an SFTP server or a folder (a mounted share,
// a local web root). Remembered per gallery in the settings; a password
// never is.
struct Destination
{
    enum Kind { Sftp, Folder };
    Kind kind = Sftp;
    QString host;
    int port = 22;
    QString user;
    QString remoteFolder; // on the server; relative to the login folder unless it starts with "/"
    QString keyFile;      // optional; the agent and the usual keys are tried as well
    QString folder;       // Kind Folder: a local path

    bool operator==(const Destination &) const = default;

    // Why it cannot be published to as it stands (the user's words); empty when it can.
    QString refusal() const;
    // "user@host:folder" or the folder's path.
    QString displayName() const;
    // Stable for one destination; names its record of what was published.
    QString key() const;

    static Destination load(QSettings &settings, const QString &galleryFolder);
    void save(QSettings &settings, const QString &galleryFolder) const;
};

} // namespace qm
