#pragma once

// HTTP spoken by hand, so that a test can send what a browser would never
// send ("..", encoded slashes) and see every header of the reply. The event
// loop runs while waiting: the preview server asks the GUI thread for the
// gallery's XML.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMap>
#include <QTcpSocket>

namespace testing {

struct HttpReply
{
    int status = 0; // 0: no reply
    QMap<QByteArray, QByteArray> headers; // names lower-cased
    QByteArray body;
    QByteArray header(const QByteArray &name) const { return headers.value(name); }
};

class HttpClient
{
public:
    explicit HttpClient(quint16 port)
    {
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        wait([&] { return m_socket.state() == QAbstractSocket::ConnectedState; });
    }

    bool connected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    void send(const QByteArray &bytes) { m_socket.write(bytes); }

    // One reply; `head`: the request was HEAD, so no body follows.
    HttpReply reply(bool head = false)
    {
        HttpReply r;
        qsizetype end = -1;
        wait([&] { return (end = m_buffer.indexOf("\r\n\r\n")) >= 0; });
        if (end < 0)
            return r;
        const QList<QByteArray> lines = m_buffer.left(end).split('\n');
        m_buffer.remove(0, end + 4);
        r.status = lines.value(0).split(' ').value(1).toInt();
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            r.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
        }
        const qsizetype length = head || r.status == 304 ? 0 : r.header("content-length").toLongLong();
        wait([&] { return m_buffer.size() >= length; });
        r.body = m_buffer.left(length);
        m_buffer.remove(0, r.body.size());
        return r;
    }

    // Whether the server closes the connection (waiting for it).
    bool closedByServer()
    {
        wait([&] { return m_socket.state() == QAbstractSocket::UnconnectedState; });
        return m_socket.state() == QAbstractSocket::UnconnectedState;
    }

private:
    template<typename Done>
    void wait(Done done)
    {
        const QDeadlineTimer deadline(30000);
        while (!done() && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            m_socket.waitForReadyRead(10);
            m_buffer += m_socket.readAll();
        }
    }

    QTcpSocket m_socket;
    QByteArray m_buffer;
};

inline QByteArray request(const QByteArray &target, quint16 port, const QByteArray &extra = {},
                          const QByteArray &method = "GET")
{
    return method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n" + extra + "\r\n";
}

// One request on a connection of its own.
inline HttpReply fetch(quint16 port, const QByteArray &target, const QByteArray &extra = {},
                       const QByteArray &method = "GET")
{
    HttpClient client(port);
    client.send(request(target, port, extra + "Connection: close\r\n", method));
    return client.reply(method == "HEAD");
}

} // namespace testing
