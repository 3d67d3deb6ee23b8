#include "publish/SftpClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <libssh/libssh.h>

#include <atomic>

namespace qm {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("SftpClient", text);
}

enum : quint8 {
    kInit = 1, kVersion = 2, kOpen = 3, kClose = 4, kRead = 5, kWrite = 6, kLstat = 7, kFsetstat = 10,
    kOpendir = 11, kReaddir = 12, kRemove = 13, kMkdir = 14, kRename = 18, kExtended = 200,
    kStatus = 101, kHandle = 102, kData = 103, kName = 104, kAttrs = 105, kExtendedReply = 201,
};
enum : quint32 { kAttrSize = 1, kAttrUidGid = 2, kAttrPermissions = 4, kAttrTimes = 8, kAttrExtended = 0x80000000 };

// Well above any reply we ask for; a larger length means the stream is garbled.
constexpr quint32 kMaxPacket = 1 << 20;
constexpr qsizetype kFlushAbove = 256 * 1024;
std::atomic_int timeoutMs{60000};

// Reads the fields of one reply, refusing to run past its end.
struct Cursor
{
    QByteArrayView bytes;
    bool bad = false;

    quint32 u32()
    {
        if (bytes.size() < 4) {
            bad = true;
            return 0;
        }
        const auto *p = reinterpret_cast<const uchar *>(bytes.data());
        bytes = bytes.sliced(4);
        return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
    }
    quint64 u64()
    {
        const quint64 high = u32();
        return high << 32 | u32();
    }
    QByteArrayView string()
    {
        const quint32 n = u32();
        if (bad || bytes.size() < qsizetype(n)) {
            bad = true;
            return {};
        }
        QByteArrayView s = bytes.first(n);
        bytes = bytes.sliced(n);
        return s;
    }
    RemoteFile attrs()
    {
        RemoteFile a;
        const quint32 flags = u32();
        if (flags & kAttrSize)
            a.size = qint64(u64());
        if (flags & kAttrUidGid) {
            u32();
            u32();
        }
        if (flags & kAttrPermissions)
            a.folder = (u32() & 0170000) == 0040000;
        if (flags & kAttrTimes) {
            u32();
            a.mtime = u32();
        }
        if (flags & kAttrExtended) {
            for (quint32 n = u32(); n > 0 && !bad; --n) {
                string();
                string();
            }
        }
        return a;
    }
};

} // namespace

bool SftpClient::Reply::isStatus() const
{
    return type == kStatus;
}

void SftpClient::setTimeoutForTesting(int milliseconds)
{
    timeoutMs = milliseconds;
}

SftpClient::SftpClient(ssh_session_struct *session) : m_session(session) {}

SftpClient::~SftpClient()
{
    if (m_channel) {
        if (ssh_channel_is_open(m_channel))
            ssh_channel_close(m_channel);
        ssh_channel_free(m_channel);
    }
}

QString SftpClient::start()
{
    m_channel = ssh_channel_new(m_session);
    if (!m_channel || ssh_channel_open_session(m_channel) != SSH_OK)
        return tr("The server did not open a session: %1").arg(QString::fromUtf8(ssh_get_error(m_session)));
    if (ssh_channel_request_subsystem(m_channel, "sftp") != SSH_OK)
        return tr("The server does not offer SFTP: %1").arg(QString::fromUtf8(ssh_get_error(m_session)));
    // INIT has no request id; its reply is VERSION.
    m_packetStart = m_out.size();
    putU32(0);
    m_out.append(char(kInit));
    putU32(3);
    end(quint32(m_packetStart));
    bool versioned = false;
    m_callbacks.insert(0, [&](const Reply &) { versioned = true; });
    while (!versioned) {
        if (!pump(true))
            return m_error;
    }
    return QString();
}

quint32 SftpClient::begin(quint8 type, Callback cb)
{
    m_packetStart = m_out.size();
    putU32(0); // length, filled in by end()
    m_out.append(char(type));
    const quint32 id = m_nextId++;
    putU32(id);
    m_callbacks.insert(id, std::move(cb));
    return quint32(m_packetStart);
}

void SftpClient::end(quint32 start)
{
    const quint32 length = quint32(m_out.size() - start - 4);
    uchar *p = reinterpret_cast<uchar *>(m_out.data() + start);
    p[0] = uchar(length >> 24);
    p[1] = uchar(length >> 16);
    p[2] = uchar(length >> 8);
    p[3] = uchar(length);
}

void SftpClient::putU32(quint32 v)
{
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    m_out.append(b, 4);
}

void SftpClient::putU64(quint64 v)
{
    putU32(quint32(v >> 32));
    putU32(quint32(v));
}

void SftpClient::putString(QByteArrayView bytes)
{
    putU32(quint32(bytes.size()));
    m_out.append(bytes);
}

void SftpClient::open(const QByteArray &path, quint32 flags, Callback cb)
{
    const quint32 s = begin(kOpen, std::move(cb));
    putString(path);
    putU32(flags);
    putU32(kAttrPermissions);
    putU32(0644);
    end(s);
}

void SftpClient::write(const QByteArray &handle, quint64 offset, const QByteArray &data, Callback cb)
{
    const quint32 s = begin(kWrite, std::move(cb));
    putString(handle);
    putU64(offset);
    putString(data);
    end(s);
}

void SftpClient::read(const QByteArray &handle, quint64 offset, quint32 length, Callback cb)
{
    const quint32 s = begin(kRead, std::move(cb));
    putString(handle);
    putU64(offset);
    putU32(length);
    end(s);
}

void SftpClient::setTimes(const QByteArray &handle, qint64 mtime, Callback cb)
{
    const quint32 s = begin(kFsetstat, std::move(cb));
    putString(handle);
    putU32(kAttrTimes);
    putU32(quint32(mtime));
    putU32(quint32(mtime));
    end(s);
}

void SftpClient::close(const QByteArray &handle, Callback cb)
{
    const quint32 s = begin(kClose, std::move(cb));
    putString(handle);
    end(s);
}

void SftpClient::rename(const QByteArray &from, const QByteArray &to, Callback cb)
{
    if (m_posixRename) {
        const quint32 s = begin(kExtended, std::move(cb));
        putString("posix-rename@openssh.com");
        putString(from);
        putString(to);
        end(s);
        return;
    }
    // A plain rename refuses an existing name: the old file goes first.
    remove(to, [this, from, to, cb = std::move(cb)](const Reply &) mutable {
        const quint32 s = begin(kRename, std::move(cb));
        putString(from);
        putString(to);
        end(s);
    });
}

void SftpClient::remove(const QByteArray &path, Callback cb)
{
    const quint32 s = begin(kRemove, std::move(cb));
    putString(path);
    end(s);
}

void SftpClient::mkdir(const QByteArray &path, Callback cb)
{
    const quint32 s = begin(kMkdir, std::move(cb));
    putString(path);
    putU32(kAttrPermissions);
    putU32(0755);
    end(s);
}

void SftpClient::lstat(const QByteArray &path, Callback cb)
{
    const quint32 s = begin(kLstat, std::move(cb));
    putString(path);
    end(s);
}

void SftpClient::openDir(const QByteArray &path, Callback cb)
{
    const quint32 s = begin(kOpendir, std::move(cb));
    putString(path);
    end(s);
}

void SftpClient::readDir(const QByteArray &handle, Callback cb)
{
    const quint32 s = begin(kReaddir, std::move(cb));
    putString(handle);
    end(s);
}

void SftpClient::freeSpace(const QByteArray &path, Callback cb)
{
    const quint32 s = begin(kExtended, [cb = std::move(cb)](const Reply &reply) {
        if (reply.type != kExtendedReply)
            return cb(reply);
        Cursor c{reply.data};
        c.u64(); // block size
        const quint64 fragment = c.u64();
        c.u64(); // blocks
        c.u64(); // free
        const quint64 available = c.u64();
        Reply out = reply;
        out.attrs.size = c.bad ? -1 : qint64(fragment * available);
        cb(out);
    });
    putString("statvfs@openssh.com");
    putString(path);
    end(s);
}

bool SftpClient::fail(const QString &reason)
{
    if (m_error.isEmpty())
        m_error = reason;
    return false;
}

bool SftpClient::flush()
{
    qsizetype sent = 0;
    while (sent < m_out.size()) {
        const int n = ssh_channel_write(m_channel, m_out.constData() + sent,
                                        uint32_t(std::min<qsizetype>(m_out.size() - sent, 1 << 20)));
        if (n == SSH_ERROR)
            return fail(tr("The connection to the server was lost (%1).").arg(QString::fromUtf8(ssh_get_error(m_session))));
        sent += n;
    }
    m_out.clear();
    return true;
}

bool SftpClient::pump(bool wait)
{
    if (!m_error.isEmpty())
        return false;
    if (!m_out.isEmpty() && (wait || m_out.size() > kFlushAbove) && !flush())
        return false;
    char buffer[64 * 1024];
    QElapsedTimer silent;
    silent.start();
    const quint64 repliesBefore = m_replies;
    while (true) {
        // A reply's callback may queue the next request: only a flush sends it.
        const bool gotReply = m_replies != repliesBefore;
        int n = ssh_channel_read_nonblocking(m_channel, buffer, sizeof buffer, 0);
        if (n == SSH_AGAIN)
            n = 0;
        if (n == 0 && wait && !gotReply && !m_callbacks.isEmpty()) {
            if (ssh_channel_is_eof(m_channel) || ssh_channel_is_closed(m_channel))
                return fail(tr("The connection to the server was lost (the server ended the session)."));
            if (silent.elapsed() > timeoutMs)
                return fail(tr("The server did not answer for %1 seconds.").arg(timeoutMs / 1000));
            n = ssh_channel_read_timeout(m_channel, buffer, sizeof buffer, 0, 1000);
            if (n == SSH_AGAIN)
                n = 0;
            if (n == 0)
                continue;
        }
        // SSH_ERROR, or the end of a channel that closed under us.
        if (n < 0)
            return fail(tr("The connection to the server was lost (%1).").arg(QString::fromUtf8(ssh_get_error(m_session))));
        if (n == 0)
            return true;
        m_in.append(buffer, n);
        parse();
        if (!m_error.isEmpty())
            return false;
    }
}

bool SftpClient::drain()
{
    while (!m_callbacks.isEmpty() || !m_out.isEmpty()) {
        if (!pump(true))
            return false;
    }
    return true;
}

void SftpClient::parse()
{
    qsizetype at = 0;
    while (m_in.size() - at >= 5) {
        Cursor head{QByteArrayView(m_in).sliced(at, 4)};
        const quint32 length = head.u32();
        if (length < 1 || length > kMaxPacket) {
            fail(tr("The server's SFTP replies could not be understood."));
            return;
        }
        if (m_in.size() - at - 4 < qsizetype(length))
            break;
        const quint8 type = quint8(m_in.at(at + 4));
        dispatch(type, QByteArrayView(m_in).sliced(at + 5, length - 1));
        at += 4 + length;
    }
    m_in.remove(0, at);
}

void SftpClient::dispatch(quint8 type, QByteArrayView body)
{
    Cursor c{body};
    Reply reply;
    reply.type = type;
    quint32 id = 0;
    if (type == kVersion) {
        c.u32();
        while (!c.bad && !c.bytes.isEmpty()) {
            const QByteArrayView name = c.string();
            c.string();
            if (name == "posix-rename@openssh.com")
                m_posixRename = true;
            else if (name == "statvfs@openssh.com")
                m_statvfs = true;
        }
    } else {
        id = c.u32();
        switch (type) {
        case kStatus:
            reply.status = c.u32();
            reply.message = QString::fromUtf8(c.string());
            break;
        case kHandle:
        case kData:
            reply.data = c.string().toByteArray();
            break;
        case kExtendedReply:
            reply.data = c.bytes.toByteArray();
            break;
        case kAttrs:
            reply.attrs = c.attrs();
            break;
        case kName:
            for (quint32 n = c.u32(); n > 0 && !c.bad; --n) {
                const QByteArray name = c.string().toByteArray();
                c.string(); // the long form, for people
                reply.names.append({name, c.attrs()});
            }
            break;
        default:
            c.bad = true;
        }
    }
    if (c.bad && type != kStatus) {
        fail(tr("The server's SFTP replies could not be understood."));
        return;
    }
    const auto it = m_callbacks.find(id);
    if (it == m_callbacks.end())
        return;
    const Callback cb = std::move(*it);
    m_callbacks.erase(it);
    ++m_replies;
    if (cb)
        cb(reply);
}

QString SftpClient::reason(const Reply &reply)
{
    switch (reply.status) {
    case Ok:
        return QString();
    case NoSuchFile:
        return tr("no such file or folder on the server");
    case PermissionDenied:
        return tr("permission denied on the server");
    case Unsupported:
        return tr("the server does not support this");
    case NoConnection:
    case ConnectionLost:
        return tr("the connection to the server was lost");
    default:
        break;
    }
    if (reply.message.isEmpty() || reply.message == QLatin1String("Failure"))
        return tr("the server refused it");
    return tr("the server refused it (%1)").arg(reply.message);
}

} // namespace qm
