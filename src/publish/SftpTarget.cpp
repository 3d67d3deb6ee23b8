#include "publish/SftpTarget.h"

#include "publish/SftpClient.h"
#include "publish/UploadSource.h"
#include "storage/FileWriter.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QThread>

#include <libssh/libssh.h>

#include <list>

namespace qm {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("SftpTarget", text);
}

// Files, requests and bytes of file data in flight: enough to keep the
// server busy on a slow link, few enough for its limits on open files.
constexpr int kFilesInFlight = 48;
constexpr int kRequestsInFlight = 400;
constexpr qint64 kBytesInFlight = 4 << 20;
constexpr qint64 kPiece = 60 * 1024;
// Free space below this after a failed write means the disk is full.
constexpr qint64 kFullBelow = 4 << 20;

QString sshError(ssh_session session)
{
    return QString::fromUtf8(ssh_get_error(session));
}

QString folderOf(const QString &name)
{
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : name.left(slash);
}

} // namespace

SftpTarget::SftpTarget(Destination destination, QString sshDir)
    : m_destination(std::move(destination))
    , m_sshDir(sshDir.isEmpty() ? QDir::homePath() + QStringLiteral("/.ssh") : std::move(sshDir))
{
}

SftpTarget::~SftpTarget()
{
    m_sftp.reset();
    if (m_session) {
        ssh_disconnect(m_session);
        ssh_free(m_session);
    }
}

QString SftpTarget::temporaryName(const QString &name)
{
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    // The shape of FileWriter's temporary files, which Check Gallery knows.
    return name.left(slash + 1) + QLatin1Char('.') + name.mid(slash + 1) + QStringLiteral(".tmp-publish");
}

QByteArray SftpTarget::remotePath(const QString &name) const
{
    QString root = m_destination.remoteFolder;
    while (root.size() > 1 && root.endsWith(QLatin1Char('/')))
        root.chop(1);
    return (name.isEmpty() ? root : root + QLatin1Char('/') + name).toUtf8();
}

QString SftpTarget::lost() const
{
    return m_sftp ? m_sftp->error() : QString();
}

QString SftpTarget::connect(PublishPrompts *prompts)
{
    const QString where = m_destination.port == 22 ? m_destination.host
                                                    : QStringLiteral("%1:%2").arg(m_destination.host).arg(m_destination.port);
    m_session = ssh_new();
    if (!m_session)
        return tr("The SSH library could not be started.");
    const QByteArray host = m_destination.host.toUtf8(), user = m_destination.user.toUtf8();
    const QByteArray dir = QFile::encodeName(m_sshDir), knownHosts = QFile::encodeName(m_sshDir + QStringLiteral("/known_hosts"));
    const unsigned int port = unsigned(m_destination.port);
    const long timeout = 20;
    const int no = 0;
    ssh_options_set(m_session, SSH_OPTIONS_HOST, host.constData());
    ssh_options_set(m_session, SSH_OPTIONS_PORT, &port);
    ssh_options_set(m_session, SSH_OPTIONS_USER, user.constData());
    ssh_options_set(m_session, SSH_OPTIONS_TIMEOUT, &timeout);
    // Everything the connection needs is in the destination.
    ssh_options_set(m_session, SSH_OPTIONS_PROCESS_CONFIG, &no);
    ssh_options_set(m_session, SSH_OPTIONS_SSH_DIR, dir.constData());
    ssh_options_set(m_session, SSH_OPTIONS_KNOWNHOSTS, knownHosts.constData());
    if (ssh_connect(m_session) != SSH_OK)
        return tr("Could not connect to %1: %2.").arg(where, sshError(m_session));
    QString error = checkHostKey(prompts);
    if (error.isEmpty())
        error = logIn(prompts);
    if (!error.isEmpty())
        return error;
    m_sftp = std::make_unique<SftpClient>(m_session);
    error = m_sftp->start();
    if (!error.isEmpty())
        return error;
    return QString();
}

QString SftpTarget::checkHostKey(PublishPrompts *prompts)
{
    ssh_key key = nullptr;
    if (ssh_get_server_publickey(m_session, &key) != SSH_OK)
        return tr("The server sent no key: %1.").arg(sshError(m_session));
    unsigned char *hash = nullptr;
    size_t length = 0;
    PublishPrompts::HostKey shown;
    shown.type = QString::fromUtf8(ssh_key_type_to_char(ssh_key_type(key)));
    if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &length) == SSH_OK) {
        char *text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length);
        shown.fingerprint = QString::fromUtf8(text);
        ssh_string_free_char(text);
        ssh_clean_pubkey_hash(&hash);
    }
    ssh_key_free(key);
    shown.host = m_destination.port == 22 ? m_destination.host
                                          : QStringLiteral("[%1]:%2").arg(m_destination.host).arg(m_destination.port);
    const QString knownHosts = QDir::toNativeSeparators(m_sshDir + QStringLiteral("/known_hosts"));
    switch (ssh_session_is_known_server(m_session)) {
    case SSH_KNOWN_HOSTS_OK:
        return QString();
    case SSH_KNOWN_HOSTS_CHANGED:
    case SSH_KNOWN_HOSTS_OTHER:
        return tr("WARNING: the key of %1 has changed. The server now shows the %2 key %3, which is not the one "
                  "recorded for it in %4. Someone may be listening in on the connection, or the server was set up "
                  "anew. Nothing was published. If the change is expected, remove the old key from %4.")
            .arg(shown.host, shown.type, shown.fingerprint, knownHosts);
    case SSH_KNOWN_HOSTS_UNKNOWN:
    case SSH_KNOWN_HOSTS_NOT_FOUND:
        if (!prompts || !prompts->acceptHostKey(shown))
            return tr("The key of %1 was not accepted; nothing was published.").arg(shown.host);
        QDir().mkpath(m_sshDir);
        QFile::setPermissions(m_sshDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (ssh_session_update_known_hosts(m_session) != SSH_OK)
            return tr("The key of %1 could not be added to %2: %3.").arg(shown.host, knownHosts, sshError(m_session));
        return QString();
    case SSH_KNOWN_HOSTS_ERROR:
        break;
    }
    return tr("The known hosts in %1 could not be read: %2.").arg(knownHosts, sshError(m_session));
}

QString SftpTarget::logIn(PublishPrompts *prompts)
{
    int rc = ssh_userauth_none(m_session, nullptr);
    if (rc == SSH_AUTH_SUCCESS)
        return QString();
    if (rc == SSH_AUTH_ERROR)
        return tr("Logging in failed: %1.").arg(sshError(m_session));
    const int methods = ssh_userauth_list(m_session, nullptr);
    QStringList tried;
    if (methods & SSH_AUTH_METHOD_PUBLICKEY) {
        if (!m_destination.keyFile.isEmpty()) {
            tried << tr("the key %1").arg(QDir::toNativeSeparators(m_destination.keyFile));
            const QByteArray path = QFile::encodeName(m_destination.keyFile);
            ssh_key key = nullptr;
            if (ssh_pki_import_privkey_file(path.constData(), nullptr, nullptr, nullptr, &key) != SSH_OK) {
                // Perhaps it has a passphrase.
                const std::optional<QString> phrase =
                    prompts ? prompts->secret(tr("Passphrase for the key %1:").arg(QDir::toNativeSeparators(m_destination.keyFile)))
                            : std::nullopt;
                if (phrase && ssh_pki_import_privkey_file(path.constData(), phrase->toUtf8().constData(), nullptr, nullptr, &key) != SSH_OK)
                    return tr("The key %1 could not be read (wrong passphrase, or not a private key).")
                        .arg(QDir::toNativeSeparators(m_destination.keyFile));
            }
            if (key) {
                rc = ssh_userauth_publickey(m_session, nullptr, key);
                ssh_key_free(key);
                if (rc == SSH_AUTH_SUCCESS)
                    return QString();
            }
        }
        tried << tr("the SSH agent and the usual keys");
        if (ssh_userauth_publickey_auto(m_session, nullptr, nullptr) == SSH_AUTH_SUCCESS)
            return QString();
    }
    const bool password = methods & SSH_AUTH_METHOD_PASSWORD, interactive = methods & SSH_AUTH_METHOD_INTERACTIVE;
    if ((password || interactive) && prompts) {
        tried << tr("a password");
        const QString question = tr("Password for %1 on %2:").arg(m_destination.user, m_destination.host);
        for (int attempt = 0; attempt < 3; ++attempt) {
            const std::optional<QString> secret =
                prompts->secret(attempt == 0 ? question : tr("The password was not accepted.") + QLatin1Char('\n') + question);
            if (!secret)
                return tr("No password was given; nothing was published.");
            const QByteArray bytes = secret->toUtf8();
            if (password) {
                rc = ssh_userauth_password(m_session, nullptr, bytes.constData());
            } else {
                rc = ssh_userauth_kbdint(m_session, nullptr, nullptr);
                while (rc == SSH_AUTH_INFO) {
                    for (int i = 0, n = ssh_userauth_kbdint_getnprompts(m_session); i < n; ++i)
                        ssh_userauth_kbdint_setanswer(m_session, unsigned(i), bytes.constData());
                    rc = ssh_userauth_kbdint(m_session, nullptr, nullptr);
                }
            }
            if (rc == SSH_AUTH_SUCCESS)
                return QString();
            if (rc == SSH_AUTH_ERROR)
                return tr("Logging in failed: %1.").arg(sshError(m_session));
        }
    }
    return tr("The server did not let %1 log in (tried %2).")
        .arg(m_destination.user, tried.isEmpty() ? tr("nothing it accepts") : tried.join(tr(", ")));
}

QString SftpTarget::makeFolders(const QStringList &folders)
{
    // The destination itself, each part of its path in turn.
    const QByteArray root = remotePath(QString());
    QList<QByteArray> paths;
    for (qsizetype at = root.indexOf('/', 1); at > 0; at = root.indexOf('/', at + 1))
        paths << root.left(at);
    paths << root;
    for (const QString &folder : folders)
        paths << remotePath(folder);
    QList<QString> refused(paths.size());
    QList<std::optional<RemoteFile>> found(paths.size());
    for (int i = 0; i < paths.size(); ++i) {
        m_sftp->mkdir(paths[i], [&refused, i](const SftpClient::Reply &r) { refused[i] = SftpClient::reason(r); });
        m_sftp->lstat(paths[i], [&found, i](const SftpClient::Reply &r) {
            if (r.ok())
                found[i] = r.attrs;
        });
    }
    if (!m_sftp->drain())
        return lost();
    for (int i = 0; i < paths.size(); ++i) {
        if (found[i] && found[i]->folder)
            continue;
        const QString shown = QString::fromUtf8(paths[i]);
        if (found[i])
            return tr("%1 on the server is a file, where the gallery needs a folder.").arg(shown);
        return tr("The folder %1 could not be made on the server: %2.").arg(shown, refused[i]);
    }
    return QString();
}

QString SftpTarget::send(const QList<Upload> &files, const TransferHooks &hooks)
{
    struct Slot
    {
        int index = 0;
        std::unique_ptr<UploadSource> source;
        QByteArray temp, real, handle;
        int inFlight = 0; // writes and the setting of its time, not yet answered
        bool closing = false, closed = false, finished = false;
        QString reason;
    };
    std::list<Slot> active;
    qint64 bytesInFlight = 0;
    int next = 0;
    const int delay = sendDelayForTesting();
    const int filesInFlight = delay ? 1 : kFilesInFlight;

    auto finish = [&](Slot &s) {
        s.finished = true;
        hooks.done(s.index, s.reason, s.reason.isEmpty() ? s.source->hash() : QByteArray());
    };
    auto setReason = [](Slot &s, const QString &reason) {
        if (s.reason.isEmpty())
            s.reason = reason;
    };
    // A file that failed or was stopped leaves nothing behind.
    auto discard = [&](Slot &s) {
        m_sftp->remove(s.temp, [&s, finish](const SftpClient::Reply &) { finish(s); });
    };
    // The close is asked for right behind the last write, but the file takes
    // its real name only once every write and the close have been answered.
    auto settle = [&](Slot &s) {
        if (!s.closed || s.inFlight > 0)
            return;
        if (!s.reason.isEmpty())
            return discard(s);
        m_sftp->rename(s.temp, s.real, [&s, finish, setReason](const SftpClient::Reply &r) {
            if (!r.ok())
                setReason(s, SftpClient::reason(r));
            finish(s);
        });
    };
    auto closeFile = [&](Slot &s) {
        s.closing = true;
        if (s.reason.isEmpty()) {
            ++s.inFlight;
            m_sftp->setTimes(s.handle, files[s.index].mtime, [&s, setReason, settle](const SftpClient::Reply &r) {
                --s.inFlight;
                if (!r.ok())
                    setReason(s, SftpClient::reason(r));
                settle(s);
            });
        }
        m_sftp->close(s.handle, [&s, setReason, settle](const SftpClient::Reply &r) {
            s.closed = true;
            if (!r.ok())
                setReason(s, SftpClient::reason(r));
            settle(s);
        });
    };
    auto start = [&](int index) {
        if (delay)
            QThread::msleep(delay);
        Slot &s = active.emplace_back();
        s.index = index;
        s.source = std::make_unique<UploadSource>(files[index]);
        s.real = remotePath(files[index].name);
        s.temp = remotePath(temporaryName(files[index].name));
        s.reason = s.source->open();
        if (!s.reason.isEmpty())
            return finish(s);
        m_sftp->open(s.temp, SftpClient::Write | SftpClient::Create | SftpClient::Truncate, [&s, setReason](const SftpClient::Reply &r) {
            if (r.type == 102)
                s.handle = r.data;
            else
                setReason(s, SftpClient::reason(r));
        });
    };
    auto feed = [&](Slot &s) {
        while (s.reason.isEmpty() && !s.source->atEnd() && bytesInFlight < kBytesInFlight
               && m_sftp->pending() < kRequestsInFlight) {
            QByteArray piece;
            QString error;
            const qint64 offset = s.source->offset();
            if (!s.source->next(kPiece, piece, &error)) {
                s.reason = error;
                break;
            }
            bytesInFlight += piece.size();
            ++s.inFlight;
            const qint64 size = piece.size();
            m_sftp->write(s.handle, quint64(offset), piece, [&, size](const SftpClient::Reply &r) {
                bytesInFlight -= size;
                --s.inFlight;
                if (r.ok()) {
                    if (hooks.sentBytes)
                        hooks.sentBytes(size);
                    return settle(s);
                }
                setReason(s, SftpClient::reason(r));
                if (r.status == SftpClient::Failure && m_sftp->hasStatvfs()) {
                    // Asked before the file is taken away, so answered before it is finished.
                    m_sftp->freeSpace(remotePath(folderOf(files[s.index].name)), [&s](const SftpClient::Reply &f) {
                        if (f.ok() && f.attrs.size >= 0 && f.attrs.size < kFullBelow)
                            s.reason = tr("the server's disk is full");
                    });
                }
                settle(s);
            });
        }
    };

    bool stopped = false;
    while (true) {
        stopped = stopped || (hooks.stopRequested && hooks.stopRequested());
        while (!stopped && next < files.size() && int(active.size()) < filesInFlight
               && m_sftp->pending() < kRequestsInFlight)
            start(next++);
        for (Slot &s : active) {
            if (s.finished || s.closing || s.handle.isEmpty())
                continue;
            if (stopped)
                setReason(s, FileWriter::stoppedReason());
            feed(s);
            if (s.source->atEnd() || !s.reason.isEmpty())
                closeFile(s);
        }
        // A file whose open failed has no handle and nothing to close.
        for (Slot &s : active) {
            if (!s.finished && s.handle.isEmpty() && !s.reason.isEmpty() && !s.closing) {
                s.closing = true;
                discard(s);
            }
        }
        active.remove_if([](const Slot &s) { return s.finished; });
        if (active.empty() && (stopped || next >= files.size()))
            break;
        if (!m_sftp->pump(true))
            return lost();
    }
    return QString();
}

QString SftpTarget::remove(const QStringList &names, const std::function<void(int, const QString &)> &done)
{
    for (int i = 0; i < names.size(); ++i) {
        m_sftp->remove(remotePath(names[i]), [&done, i](const SftpClient::Reply &r) {
            done(i, r.ok() || r.status == SftpClient::NoSuchFile ? QString() : SftpClient::reason(r));
        });
        if (m_sftp->pending() >= kRequestsInFlight && !m_sftp->pump(true))
            return lost();
    }
    return m_sftp->drain() ? QString() : lost();
}

QString SftpTarget::removeTemporaries(const QStringList &names)
{
    QStringList temps;
    for (const QString &name : names)
        temps << temporaryName(name);
    return remove(temps, [](int, const QString &) {});
}

QString SftpTarget::list(const QString &folder, QHash<QString, RemoteFile> &out)
{
    QByteArray handle;
    QString refused;
    bool absent = false;
    m_sftp->openDir(remotePath(folder), [&](const SftpClient::Reply &r) {
        if (r.ok())
            handle = r.data;
        else if (r.status == SftpClient::NoSuchFile)
            absent = true;
        else
            refused = SftpClient::reason(r);
    });
    if (!m_sftp->drain())
        return lost();
    if (absent)
        return QString();
    if (handle.isEmpty())
        return tr("The folder %1 on the server could not be read: %2.").arg(QString::fromUtf8(remotePath(folder)), refused);
    QStringList folders;
    bool end = false;
    while (!end) {
        m_sftp->readDir(handle, [&](const SftpClient::Reply &r) {
            if (!r.ok()) {
                end = true;
                if (r.status != SftpClient::Eof)
                    refused = SftpClient::reason(r);
                return;
            }
            for (const auto &[bytes, attrs] : r.names) {
                if (bytes == "." || bytes == "..")
                    continue;
                const QString name = folder + QLatin1Char('/') + QString::fromUtf8(bytes);
                if (attrs.folder)
                    folders << name;
                out.insert(name, attrs);
            }
        });
        if (!m_sftp->drain())
            return lost();
    }
    m_sftp->close(handle, nullptr);
    if (!refused.isEmpty())
        return tr("The folder %1 on the server could not be read: %2.").arg(QString::fromUtf8(remotePath(folder)), refused);
    for (const QString &sub : folders) {
        const QString error = list(sub, out);
        if (!error.isEmpty())
            return error;
    }
    return QString();
}

QString SftpTarget::stat(const QString &name, std::optional<RemoteFile> &out)
{
    out.reset();
    QString refused;
    m_sftp->lstat(remotePath(name), [&](const SftpClient::Reply &r) {
        if (r.ok())
            out = r.attrs;
        else if (r.status != SftpClient::NoSuchFile)
            refused = SftpClient::reason(r);
    });
    if (!m_sftp->drain())
        return lost();
    return refused.isEmpty() ? QString() : tr("%1 on the server could not be looked at: %2.").arg(name, refused);
}

QString SftpTarget::read(const QString &name, QByteArray &out)
{
    out = QByteArray();
    QByteArray handle;
    QString refused;
    m_sftp->open(remotePath(name), SftpClient::Read, [&](const SftpClient::Reply &r) {
        if (r.ok())
            handle = r.data;
        else if (r.status != SftpClient::NoSuchFile)
            refused = SftpClient::reason(r);
    });
    if (!m_sftp->drain())
        return lost();
    if (handle.isEmpty())
        return refused.isEmpty() ? QString() : tr("%1 on the server could not be read: %2.").arg(name, refused);
    QByteArray bytes("");
    bool end = false;
    while (!end && refused.isEmpty()) {
        m_sftp->read(handle, quint64(bytes.size()), 32768, [&](const SftpClient::Reply &r) {
            if (r.ok() && !r.data.isEmpty())
                bytes += r.data;
            else if (r.ok() || r.status == SftpClient::Eof)
                end = true;
            else
                refused = SftpClient::reason(r);
        });
        if (!m_sftp->drain())
            return lost();
        if (bytes.size() > (16 << 20))
            refused = tr("it is too large");
    }
    m_sftp->close(handle, nullptr);
    if (!refused.isEmpty())
        return tr("%1 on the server could not be read: %2.").arg(name, refused);
    out = bytes;
    return QString();
}

QString SftpTarget::write(const QString &name, const QByteArray &bytes)
{
    const QList<Upload> one{Upload{name, QString(), bytes, bytes.size(), QDateTime::currentSecsSinceEpoch()}};
    QString reason;
    const QString error = send(one, {nullptr, nullptr, [&](int, const QString &r, const QByteArray &) { reason = r; }});
    if (!error.isEmpty())
        return error;
    return reason.isEmpty() ? QString() : tr("%1 could not be written on the server: %2.").arg(name, reason);
}

} // namespace qm
