#include "web/Http.h"

#include <QHash>
#include <QStringDecoder>

#include <limits>

namespace qm::http {

namespace {

bool isToken(const QByteArray &s)
{
    if (s.isEmpty())
        return false;
    for (char c : s) {
        if (c <= 32 || c >= 127 || QByteArrayView("()<>@,;:\\\"/[]?={}").contains(c))
            return false;
    }
    return true;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<QString> decodeSegment(const QByteArray &raw)
{
    QByteArray bytes;
    bytes.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] != '%') {
            bytes += raw[i];
            continue;
        }
        if (i + 2 >= raw.size())
            return std::nullopt;
        const int hi = hexValue(raw[i + 1]), lo = hexValue(raw[i + 2]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        bytes += char(hi * 16 + lo);
        i += 2;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (utf8.hasError() || text.contains(QChar(0)) || text.contains(u'/') || text.contains(u'\\'))
        return std::nullopt;
    return text;
}

// A decimal number of at most 18 digits (no sign, no space).
std::optional<qint64> number(QByteArrayView s)
{
    if (s.isEmpty() || s.size() > 18)
        return std::nullopt;
    qint64 v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

} // namespace

QByteArray Request::header(const QByteArray &lowerName) const
{
    for (const auto &[name, value] : headers) {
        if (name == lowerName)
            return value;
    }
    return QByteArray();
}

bool Request::keepAlive() const
{
    const QByteArray connection = header("connection").toLower();
    if (minorVersion == 0)
        return connection.contains("keep-alive");
    return !connection.contains("close");
}

std::optional<Request> parseHead(const QByteArray &head)
{
    QList<QByteArray> lines = head.split('\n');
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (lines.isEmpty())
        return std::nullopt;
    const QList<QByteArray> parts = lines.first().split(' ');
    if (parts.size() != 3 || !isToken(parts[0]) || parts[1].isEmpty())
        return std::nullopt;
    Request r;
    r.method = parts[0];
    r.target = parts[1];
    if (parts[2] == "HTTP/1.1")
        r.minorVersion = 1;
    else if (parts[2] == "HTTP/1.0")
        r.minorVersion = 0;
    else
        return std::nullopt;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines[i];
        const qsizetype colon = line.indexOf(':');
        // Folded lines and names with white space are refused, as the protocol asks.
        if (colon <= 0 || !isToken(line.left(colon)))
            return std::nullopt;
        r.headers.append({line.left(colon).toLower(), line.mid(colon + 1).trimmed()});
    }
    return r;
}

std::optional<QStringList> pathSegments(const QByteArray &target)
{
    if (!target.startsWith('/'))
        return std::nullopt;
    QByteArray path = target;
    const qsizetype query = path.indexOf('?');
    if (query >= 0)
        path.truncate(query);
    if (path.contains('#'))
        return std::nullopt;
    QStringList out;
    const QList<QByteArray> raw = path.mid(1).split('/');
    for (const QByteArray &segment : raw) {
        const std::optional<QString> decoded = decodeSegment(segment);
        if (!decoded)
            return std::nullopt;
        out << *decoded;
    }
    return out;
}

Range parseRange(const QByteArray &header, qint64 size)
{
    Range whole{Range::Whole, 0, size - 1};
    const QByteArray h = header.trimmed();
    if (!h.startsWith("bytes="))
        return whole;
    const QByteArray asked = h.mid(6).trimmed();
    if (asked.contains(','))
        return whole;
    const qsizetype dash = asked.indexOf('-');
    if (dash < 0)
        return whole;
    const QByteArray from = asked.left(dash).trimmed();
    const QByteArray to = asked.mid(dash + 1).trimmed();
    if (from.isEmpty()) {
        // The last n bytes.
        const std::optional<qint64> n = number(to);
        if (!n)
            return whole;
        if (*n == 0 || size == 0)
            return {Range::Unsatisfiable, 0, -1};
        return {Range::Part, std::max<qint64>(0, size - *n), size - 1};
    }
    const std::optional<qint64> first = number(from);
    if (!first)
        return whole;
    const std::optional<qint64> last = to.isEmpty() ? std::optional<qint64>(std::numeric_limits<qint64>::max()) : number(to);
    if (!last || *last < *first)
        return whole;
    if (*first >= size)
        return {Range::Unsatisfiable, 0, -1};
    return {Range::Part, *first, std::min(*last, size - 1)};
}

QByteArray contentType(const QString &name)
{
    static const QHash<QString, QByteArray> types{
        {QStringLiteral("html"), "text/html; charset=utf-8"},
        {QStringLiteral("htm"), "text/html; charset=utf-8"},
        {QStringLiteral("js"), "text/javascript; charset=utf-8"},
        {QStringLiteral("mjs"), "text/javascript; charset=utf-8"},
        {QStringLiteral("css"), "text/css; charset=utf-8"},
        {QStringLiteral("json"), "application/json"},
        {QStringLiteral("xml"), "application/xml"},
        {QStringLiteral("txt"), "text/plain; charset=utf-8"},
        {QStringLiteral("jpg"), "image/jpeg"},
        {QStringLiteral("jpeg"), "image/jpeg"},
        {QStringLiteral("png"), "image/png"},
        {QStringLiteral("gif"), "image/gif"},
        {QStringLiteral("webp"), "image/webp"},
        {QStringLiteral("svg"), "image/svg+xml"},
        {QStringLiteral("ico"), "image/vnd.microsoft.icon"},
        {QStringLiteral("flv"), "video/x-flv"},
        {QStringLiteral("mp4"), "video/mp4"},
        {QStringLiteral("m4v"), "video/mp4"},
        {QStringLiteral("webm"), "video/webm"},
        {QStringLiteral("map"), "application/json"},
    };
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? QByteArray("application/octet-stream")
                   : types.value(name.mid(dot + 1).toLower(), QByteArray("application/octet-stream"));
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 413: return "Content Too Large";
    case 416: return "Range Not Satisfiable";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    }
    return "Unknown";
}

} // namespace qm::http
