#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace qm::http {

// The head of one HTTP/1.x request.
struct Request
{
    QByteArray method;
    QByteArray target;
    int minorVersion = 1;
    QList<std::pair<QByteArray, QByteArray>> headers; // names lower-cased

    QByteArray header(const QByteArray &lowerName) const;
    // HTTP/1.1 keeps the connection unless told not to; 1.0 only when asked.
    bool keepAlive() const;
};

// Parses a head that ends with an empty line (CRLF or LF). Nothing for a
// malformed one.
std::optional<Request> parseHead(const QByteArray &head);

// The path's segments, each percent-decoded as UTF-8; the query is dropped.
// Nothing for a target that is not an absolute path, holds an invalid
// escape or invalid UTF-8, or a segment with a NUL or a path separator once
// decoded (an encoded "/" never joins two segments).
std::optional<QStringList> pathSegments(const QByteArray &target);

// What a Range header asks of a file of `size` bytes. One range only;
// several, or a header that is not "bytes=...", are answered with the
// whole file, as the protocol allows.
struct Range
{
    enum Kind { Whole, Part, Unsatisfiable } kind = Whole;
    qint64 first = 0;
    qint64 last = -1; // inclusive
    qint64 length() const { return last - first + 1; }
};
Range parseRange(const QByteArray &header, qint64 size);

// By the name's extension, lower-cased; "application/octet-stream" when unknown.
QByteArray contentType(const QString &name);

QByteArray reasonPhrase(int status);

} // namespace qm::http
