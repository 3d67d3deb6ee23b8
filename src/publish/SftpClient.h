#pragma once

#include "publish/PublishTarget.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <functional>

struct ssh_session_struct;
struct ssh_channel_struct;

namespace qm {

// The SFTP protocol (version 3) over one channel of an SSH session,
// pipelined: requests are queued and sent in large writes, and replies are
// matched to them as they come, so that thousands of small files cost no
// round trip each. One thread only.
class SftpClient
{
public:
    enum Status : quint32 {
        Ok = 0, Eof = 1, NoSuchFile = 2, PermissionDenied = 3, Failure = 4,
        BadMessage = 5, NoConnection = 6, ConnectionLost = 7, Unsupported = 8,
    };
    enum OpenFlag : quint32 { Read = 1, Write = 2, Create = 8, Truncate = 0x10 };

    struct Reply
    {
        quint8 type = 0;
        quint32 status = Ok;  // a status reply's code
        QString message;      // and its text
        QByteArray data;      // a handle, read data or an extension's reply
        RemoteFile attrs;
        QList<std::pair<QByteArray, RemoteFile>> names;
        bool isStatus() const;
        bool ok() const { return !isStatus() || status == Ok; }
    };
    using Callback = std::function<void(const Reply &)>;

    explicit SftpClient(ssh_session_struct *session);
    ~SftpClient();
    SftpClient(const SftpClient &) = delete;
    SftpClient &operator=(const SftpClient &) = delete;

    // Opens the channel and agrees on the protocol. Empty, or why not.
    QString start();
    bool hasPosixRename() const { return m_posixRename; }
    bool hasStatvfs() const { return m_statvfs; }

    void open(const QByteArray &path, quint32 flags, Callback cb);
    void write(const QByteArray &handle, quint64 offset, const QByteArray &data, Callback cb);
    void read(const QByteArray &handle, quint64 offset, quint32 length, Callback cb);
    void setTimes(const QByteArray &handle, qint64 mtime, Callback cb);
    void close(const QByteArray &handle, Callback cb);
    // Replaces `to` in one step where the server can.
    void rename(const QByteArray &from, const QByteArray &to, Callback cb);
    void remove(const QByteArray &path, Callback cb);
    void mkdir(const QByteArray &path, Callback cb);
    void lstat(const QByteArray &path, Callback cb);
    void openDir(const QByteArray &path, Callback cb);
    void readDir(const QByteArray &handle, Callback cb);
    // Free bytes for an unprivileged user, in the reply's attrs.size.
    void freeSpace(const QByteArray &path, Callback cb);

    int pending() const { return int(m_callbacks.size()); }
    // Sends what is queued, then handles replies: at least one when `wait`
    // and some are outstanding. False once the connection has failed.
    bool pump(bool wait);
    // Until every reply is in.
    bool drain();
    const QString &error() const { return m_error; }

    // The user's words for a failed reply.
    static QString reason(const Reply &reply);
    // How long a server may stay silent while replies are due.
    static void setTimeoutForTesting(int milliseconds);

private:
    quint32 begin(quint8 type, Callback cb);
    void end(quint32 start);
    void putString(QByteArrayView bytes);
    void putU32(quint32 v);
    void putU64(quint64 v);
    bool flush();
    bool fail(const QString &reason);
    void parse();
    void dispatch(quint8 type, QByteArrayView body);

    ssh_session_struct *m_session;
    ssh_channel_struct *m_channel = nullptr;
    QByteArray m_out;
    qsizetype m_packetStart = 0;
    QByteArray m_in;
    QHash<quint32, Callback> m_callbacks;
    quint32 m_nextId = 1;
    quint64 m_replies = 0;
    bool m_posixRename = false;
    bool m_statvfs = false;
    QString m_error;
};

} // namespace qm
