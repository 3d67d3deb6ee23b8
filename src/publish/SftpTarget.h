#pragma once

#include "publish/Destination.h"
#include "publish/PublishTarget.h"

#include <memory>

struct ssh_session_struct;

namespace qm {

class SftpClient;

// An SFTP server reached through libssh. The server's key is checked
// against the user's known hosts; the user logs in with the SSH agent, a
// key file or a password asked for when needed.
class SftpTarget : public PublishTarget
{
public:
    // `sshDir` holds known_hosts and the usual keys: ~/.ssh unless given.
    explicit SftpTarget(Destination destination, QString sshDir = QString());
    ~SftpTarget() override;

    QString connect(PublishPrompts *prompts) override;
    QString makeFolders(const QStringList &folders) override;
    QString send(const QList<Upload> &files, const TransferHooks &hooks) override;
    QString remove(const QStringList &names, const std::function<void(int, const QString &)> &done) override;
    QString removeTemporaries(const QStringList &names) override;
    QString list(const QString &folder, QHash<QString, RemoteFile> &out) override;
    QString stat(const QString &name, std::optional<RemoteFile> &out) override;
    QString read(const QString &name, QByteArray &out) override;
    QString write(const QString &name, const QByteArray &bytes) override;

    // The temporary name a file is sent under, beside its place.
    static QString temporaryName(const QString &name);

private:
    QString checkHostKey(PublishPrompts *prompts);
    QString logIn(PublishPrompts *prompts);
    QByteArray remotePath(const QString &name) const;
    QString lost() const;

    Destination m_destination;
    QString m_sshDir;
    ssh_session_struct *m_session = nullptr;
    std::unique_ptr<SftpClient> m_sftp;
};

} // namespace qm
