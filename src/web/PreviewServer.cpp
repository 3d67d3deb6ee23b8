#include "web/PreviewServer.h"

#include "storage/Common.h"
#include "storage/Gallery.h"
#include "storage/Preferences.h"
#include "web/Http.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QMutex>
#include <QPointer>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

constexpr qsizetype kMaxHead = 16 * 1024;
constexpr qint64 kPiece = 64 * 1024;
constexpr qint64 kQueued = 512 * 1024; // bytes waiting in the socket before more are read
constexpr int kIdleMs = 30000;
constexpr int kMaxConnections = 64;

// What the server shows, set on the GUI thread and read by the server's.
struct Site
{
    QString img;
    QString viewer;
    QString mount; // the gallery folder's name: the first segment of every address
};

// A plain file opened without following a link and without waiting on a
// FIFO or a device; -1 otherwise.
int openPlainFile(const QString &folder, const QString &name, struct stat &st)
{
    const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0)
        return -1;
    const int fd = ::openat(dir, QFile::encodeName(name).constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    ::close(dir);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

QByteArray entityTag(const struct stat &st)
{
    return QByteArray("\"") + QByteArray::number(qint64(st.st_size), 16) + '-'
        + QByteArray::number(qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, 16) + '"';
}

QByteArray httpDate(qint64 secondsSinceEpoch)
{
    return QLocale::c()
        .toString(QDateTime::fromSecsSinceEpoch(secondsSinceEpoch, Qt::UTC), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"))
        .toLatin1();
}

} // namespace

class PreviewWorker;

// One client connection, on the server's thread: requests one after the
// other, each answer sent in pieces as the socket takes them.
class PreviewConnection : public QObject
{
public:
    PreviewConnection(QTcpSocket *socket, PreviewWorker *worker, quint64 id);
    ~PreviewConnection() override { closeFile(); }

    quint64 id() const { return m_id; }
    void deliverXml(quint64 serial, const std::optional<QByteArray> &bytes);

private:
    void readRequests();
    void handle(const http::Request &request);
    void respond(int status, const QList<std::pair<QByteArray, QByteArray>> &headers, const QByteArray &body = {});
    void respondError(int status);
    void respondBytes(const QByteArray &bytes, const QByteArray &type, const QByteArray &cache);
    void respondFile(const QString &folder, const QString &name);
    void pump();
    void finished();
    void closeFile();
    QList<std::pair<QByteArray, QByteArray>> common() const;

    QTcpSocket *m_socket;
    PreviewWorker *m_worker;
    quint64 m_id;
    QByteArray m_in;
    QTimer m_idle;
    http::Request m_request;
    bool m_busy = false;       // an answer is being sent or awaited
    bool m_head = false;       // HEAD: headers only
    bool m_keepAlive = true;
    quint64 m_serial = 0;      // of the request whose XML is awaited
    int m_fd = -1;
    qint64 m_offset = 0;
    qint64 m_remaining = 0;
};

class PreviewWorker : public QObject
{
public:
    PreviewWorker(PreviewServer *gui, QMutex *mutex, Site *site) : m_gui(gui), m_mutex(mutex), m_site(site)
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                if (m_connections.size() >= kMaxConnections) {
                    socket->abort();
                    socket->deleteLater();
                    continue;
                }
                const quint64 id = ++m_lastId;
                m_connections.insert(id, new PreviewConnection(socket, this, id));
            }
        });
    }
    ~PreviewWorker() override { qDeleteAll(m_connections); }

    bool listen(QString *error)
    {
        if (m_server.listen(QHostAddress::LocalHost, 0))
            return true;
        *error = m_server.errorString();
        return false;
    }
    quint16 port() const { return m_server.serverPort(); }

    Site site() const
    {
        QMutexLocker lock(m_mutex);
        return *m_site;
    }

    void gone(quint64 id)
    {
        if (PreviewConnection *c = m_connections.take(id))
            c->deleteLater();
    }

    // The GUI thread makes the bytes; the answer comes back here.
    void requestXml(quint64 connection, quint64 serial, const QString &name)
    {
        PreviewServer *gui = m_gui;
        QMetaObject::invokeMethod(gui, [gui, worker = this, connection, serial, name] {
            if (!gui->isCurrent(worker))
                return;
            const std::optional<QByteArray> bytes = gui->xmlBytes(name);
            QMetaObject::invokeMethod(worker, [worker, connection, serial, bytes] {
                if (PreviewConnection *c = worker->m_connections.value(connection))
                    c->deliverXml(serial, bytes);
            });
        });
    }

private:
    PreviewServer *m_gui;
    QMutex *m_mutex;
    Site *m_site;
    QTcpServer m_server;
    QHash<quint64, PreviewConnection *> m_connections;
    quint64 m_lastId = 0;
};

PreviewConnection::PreviewConnection(QTcpSocket *socket, PreviewWorker *worker, quint64 id)
    : m_socket(socket)
    , m_worker(worker)
    , m_id(id)
{
    m_socket->setParent(this);
    m_idle.setSingleShot(true);
    m_idle.setInterval(kIdleMs);
    connect(&m_idle, &QTimer::timeout, this, [this] { m_socket->abort(); });
    connect(m_socket, &QTcpSocket::readyRead, this, [this] {
        m_idle.start();
        m_in += m_socket->readAll();
        if (m_in.size() > 4 * kMaxHead) {
            m_socket->abort(); // far more than requests waiting their turn
            return;
        }
        readRequests();
    });
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
        m_idle.start();
        pump();
    });
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        closeFile();
        m_worker->gone(m_id);
    });
    m_idle.start();
    if (m_socket->bytesAvailable() > 0) {
        m_in += m_socket->readAll();
        readRequests();
    }
}

void PreviewConnection::readRequests()
{
    if (m_busy || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    qsizetype end = m_in.indexOf("\r\n\r\n");
    qsizetype skip = 4;
    const qsizetype bare = m_in.indexOf("\n\n");
    if (bare >= 0 && (end < 0 || bare < end)) {
        end = bare;
        skip = 2;
    }
    if (end < 0) {
        if (m_in.size() > kMaxHead) {
            m_keepAlive = false;
            respondError(431);
        }
        return;
    }
    const QByteArray head = m_in.left(end);
    m_in.remove(0, end + skip);
    const std::optional<http::Request> request = http::parseHead(head);
    if (!request) {
        m_keepAlive = false;
        respondError(400);
        return;
    }
    handle(*request);
}

QList<std::pair<QByteArray, QByteArray>> PreviewConnection::common() const
{
    return {{"Server", "Quillmere preview"},
            {"X-Content-Type-Options", "nosniff"},
            {"Referrer-Policy", "no-referrer"},
            {"Cross-Origin-Resource-Policy", "same-origin"},
            {"Connection", m_keepAlive ? "keep-alive" : "close"}};
}

void PreviewConnection::respond(int status, const QList<std::pair<QByteArray, QByteArray>> &headers,
                                const QByteArray &body)
{
    m_busy = true;
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + http::reasonPhrase(status) + "\r\n";
    out += "Date: " + httpDate(QDateTime::currentSecsSinceEpoch()) + "\r\n";
    bool length = false;
    for (const auto &[name, value] : common() + headers) {
        out += name + ": " + value + "\r\n";
        length = length || name == "Content-Length";
    }
    if (!length)
        out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    out += "\r\n";
    m_socket->write(out);
    if (!m_head)
        m_socket->write(body);
    pump();
}

void PreviewConnection::respondError(int status)
{
    const QByteArray body = QByteArray::number(status) + ' ' + http::reasonPhrase(status) + '\n';
    respond(status, {{"Content-Type", "text/plain; charset=utf-8"}, {"Cache-Control", "no-store"}}, body);
}

void PreviewConnection::respondBytes(const QByteArray &bytes, const QByteArray &type, const QByteArray &cache)
{
    const http::Range range = http::parseRange(m_request.header("range"), bytes.size());
    QList<std::pair<QByteArray, QByteArray>> headers{
        {"Content-Type", type}, {"Cache-Control", cache}, {"Accept-Ranges", "bytes"}};
    if (range.kind == http::Range::Unsatisfiable) {
        respond(416, headers + QList<std::pair<QByteArray, QByteArray>>{
                                   {"Content-Range", "bytes */" + QByteArray::number(bytes.size())}});
    } else if (range.kind == http::Range::Part) {
        headers.append({"Content-Range", QStringLiteral("bytes %1-%2/%3").arg(range.first).arg(range.last)
                                             .arg(bytes.size()).toLatin1()});
        respond(206, headers, bytes.mid(range.first, range.length()));
    } else {
        respond(200, headers, bytes);
    }
}

void PreviewConnection::respondFile(const QString &folder, const QString &name)
{
    struct stat st;
    const int fd = folder.isEmpty() ? -1 : openPlainFile(folder, name, st);
    if (fd < 0) {
        respondError(404);
        return;
    }
    const qint64 size = st.st_size;
    const QByteArray tag = entityTag(st);
    QList<std::pair<QByteArray, QByteArray>> headers{{"Content-Type", http::contentType(name)},
                                                     {"Cache-Control", "no-cache"},
                                                     {"Accept-Ranges", "bytes"},
                                                     {"ETag", tag},
                                                     {"Last-Modified", httpDate(st.st_mtim.tv_sec)}};
    const QByteArray ifRange = m_request.header("if-range");
    const bool rangeApplies = ifRange.isEmpty() || ifRange == tag;
    const http::Range range = rangeApplies ? http::parseRange(m_request.header("range"), size) : http::Range{};
    if (range.kind == http::Range::Whole && m_request.header("if-none-match") == tag) {
        ::close(fd);
        respond(304, headers.mid(1) + QList<std::pair<QByteArray, QByteArray>>{{"Content-Length", "0"}});
        return;
    }
    if (range.kind == http::Range::Unsatisfiable) {
        ::close(fd);
        respond(416, headers + QList<std::pair<QByteArray, QByteArray>>{{"Content-Range", "bytes */" + QByteArray::number(size)}});
        return;
    }
    const qint64 first = range.kind == http::Range::Part ? range.first : 0;
    const qint64 length = range.kind == http::Range::Part ? range.length() : size;
    if (range.kind == http::Range::Part)
        headers.append({"Content-Range", QStringLiteral("bytes %1-%2/%3").arg(range.first).arg(range.last).arg(size).toLatin1()});
    headers.append({"Content-Length", QByteArray::number(length)});
    if (!m_head) {
        m_fd = fd;
        m_offset = first;
        m_remaining = length;
    } else {
        ::close(fd);
    }
    respond(range.kind == http::Range::Part ? 206 : 200, headers);
}

void PreviewConnection::handle(const http::Request &request)
{
    m_request = request;
    m_head = request.method == "HEAD";
    m_keepAlive = request.keepAlive();
    ++m_serial;
    if (request.header("content-length").toLongLong() > 0 || !request.header("transfer-encoding").isEmpty()) {
        m_keepAlive = false; // a body we do not read would be taken for the next request
        respondError(413);
        return;
    }
    if (request.method != "GET" && !m_head) {
        respond(405, {{"Allow", "GET, HEAD"}, {"Content-Type", "text/plain; charset=utf-8"}}, "405 Method Not Allowed\n");
        return;
    }
    // Only our own names for this server: another site's name that leads
    // here (DNS rebinding) is refused.
    const QByteArray host = request.header("host");
    const QByteArray port = QByteArray::number(m_socket->localPort());
    if (host != "127.0.0.1:" + port && host != "localhost:" + port) {
        m_keepAlive = false;
        respondError(host.isEmpty() ? 400 : 403);
        return;
    }
    const Site site = m_worker->site();
    const std::optional<QStringList> segments = http::pathSegments(request.target);
    const QByteArray viewer = "/" + QUrl::toPercentEncoding(site.mount) + "/viewer/";
    if (!segments || site.mount.isEmpty()) {
        respondError(404);
        return;
    }
    const QStringList &s = *segments;
    // "/", "/<name>", "/<name>/" and "/<name>/viewer" lead to the viewer.
    if ((s.size() == 1 && s[0].isEmpty()) || (s.size() <= 2 && s[0] == site.mount && s.value(1).isEmpty())
        || (s.size() == 2 && s[0] == site.mount && s[1] == u"viewer")) {
        respond(302, {{"Location", viewer}, {"Cache-Control", "no-store"}});
        return;
    }
    if (s.size() != 3 || s[0] != site.mount) {
        respondError(404);
        return;
    }
    const QString &folder = s[1];
    const QString name = folder == u"viewer" && s[2].isEmpty() ? QStringLiteral("index.html") : s[2];
    if (!isBareFileName(name)) {
        respondError(404);
        return;
    }
    if (folder == u"viewer") {
        respondFile(site.viewer, name);
    } else if (folder == u"img") {
        respondFile(site.img, name);
    } else if (folder == u"xml") {
        m_worker->requestXml(m_id, m_serial, name);
        m_busy = true;
    } else {
        respondError(404);
    }
}

void PreviewConnection::deliverXml(quint64 serial, const std::optional<QByteArray> &bytes)
{
    if (serial != m_serial || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    if (!bytes) {
        respondError(404);
        return;
    }
    // Unsaved changes show on every reload.
    respondBytes(*bytes, "application/xml", "no-store");
}

void PreviewConnection::pump()
{
    if (!m_busy)
        return;
    QByteArray piece;
    while (m_remaining > 0 && m_socket->bytesToWrite() < kQueued) {
        piece.resize(std::min(kPiece, m_remaining));
        const ssize_t n = ::pread(m_fd, piece.data(), size_t(piece.size()), off_t(m_offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // The file shrank or failed under us: the length promised cannot be kept.
            closeFile();
            m_socket->abort();
            return;
        }
        m_socket->write(piece.constData(), n);
        m_offset += n;
        m_remaining -= n;
    }
    if (m_remaining == 0 && m_socket->bytesToWrite() == 0)
        finished();
}

void PreviewConnection::finished()
{
    closeFile();
    m_busy = false;
    if (!m_keepAlive) {
        m_socket->disconnectFromHost();
        return;
    }
    if (!m_in.isEmpty())
        QMetaObject::invokeMethod(this, [this] { readRequests(); }, Qt::QueuedConnection);
}

void PreviewConnection::closeFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_remaining = 0;
}

class PreviewServer::Thread : public QThread
{
public:
    Thread(PreviewServer *gui) : m_gui(gui) {}

    void run() override
    {
        PreviewWorker worker(m_gui, &m_mutex, &m_site);
        if (!worker.listen(&m_error)) {
            m_ready.release();
            return;
        }
        m_port = worker.port();
        m_worker = &worker;
        m_ready.release();
        exec();
        m_worker = nullptr;
        // Connections that closed are deleted later: that is now.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void setSite(const Site &site)
    {
        QMutexLocker lock(&m_mutex);
        m_site = site;
    }
    bool startListening(QString *error)
    {
        start();
        m_ready.acquire();
        if (m_worker)
            return true;
        wait();
        if (error)
            *error = m_error;
        return false;
    }

    PreviewServer *m_gui;
    QMutex m_mutex;
    Site m_site;
    QSemaphore m_ready;
    QString m_error;
    quint16 m_port = 0;
    std::atomic<PreviewWorker *> m_worker{nullptr};
};

PreviewServer::PreviewServer(XmlSource source, QObject *parent)
    : QObject(parent)
    , m_source(std::move(source))
{
}

PreviewServer::~PreviewServer()
{
    stop();
}

bool PreviewServer::isCurrent(const void *worker) const
{
    return m_thread && m_thread->m_worker.load() == worker;
}

bool PreviewServer::serve(const Preferences &prefs, const QString &viewerFolder, QString *error)
{
    Site site{prefs.imgFolder(), viewerFolder, QFileInfo(prefs.orvaneFolder()).fileName()};
    if (site.mount.isEmpty())
        site.mount = QStringLiteral("gallery");
    if (m_thread) {
        m_thread->setSite(site);
        return true;
    }
    auto thread = std::make_unique<Thread>(this);
    thread->setObjectName(QStringLiteral("Preview server"));
    thread->setSite(site);
    if (!thread->startListening(error))
        return false;
    m_thread = std::move(thread);
    return true;
}

void PreviewServer::stop()
{
    if (!m_thread)
        return;
    m_thread->quit();
    m_thread->wait();
    m_thread.reset();
}

bool PreviewServer::isServing() const
{
    return m_thread != nullptr;
}

quint16 PreviewServer::port() const
{
    return m_thread ? m_thread->m_port : 0;
}

QUrl PreviewServer::viewerUrl() const
{
    if (!m_thread)
        return QUrl();
    QString mount;
    {
        QMutexLocker lock(&m_thread->m_mutex);
        mount = m_thread->m_site.mount;
    }
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(m_thread->m_port);
    url.setPath(QStringLiteral("/%1/viewer/").arg(mount));
    return url;
}

} // namespace qm

namespace qm {

PreviewServer::XmlSource galleryXmlSource(Gallery &gallery)
{
    return [&gallery](const QString &name) -> std::optional<QByteArray> {
        if (name == QLatin1String("albums.xml"))
            return gallery.galleryFile().indexBytes(gallery.data());
        const Album *found = nullptr;
        gallery.data().forEachNode([&](const NodePtr &node) {
            if (node->isAlbum() && static_cast<const Album &>(*node).XMLFile() == name)
                found = static_cast<const Album *>(node.get());
            return !found;
        });
        if (!found)
            return std::nullopt;
        return gallery.galleryFile().albumBytes(*found);
    };
}

} // namespace qm
