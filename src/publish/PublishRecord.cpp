#include "publish/PublishRecord.h"

#include <QFile>

#include <charconv>

namespace qm {

namespace {

const char kHeader[] = "quillmere-publish-record 1";
const char kNamesHeader[] = "quillmere-published-names 1";

// The next tab-separated field of `line`, from `at` on.
QByteArrayView field(QByteArrayView line, qsizetype &at)
{
    const qsizetype end = line.indexOf('\t', at);
    const QByteArrayView f = line.sliced(at, (end < 0 ? line.size() : end) - at);
    at = end < 0 ? line.size() + 1 : end + 1;
    return f;
}

} // namespace

PublishRecord PublishRecord::load(const QString &path, QString *error)
{
    PublishRecord record;
    QFile file(path);
    if (!file.exists())
        return record;
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return record;
    }
    const QByteArray bytes = file.readAll();
    QByteArrayView rest(bytes);
    if (!rest.startsWith(kHeader)) {
        *error = QStringLiteral("not a record of a publish");
        return record;
    }
    record.files.reserve(bytes.count('\n'));
    bool damaged = false;
    for (qsizetype start = rest.indexOf('\n') + 1; start > 0 && start < rest.size();) {
        const qsizetype end = rest.indexOf('\n', start);
        const QByteArrayView line = rest.sliced(start, (end < 0 ? rest.size() : end) - start);
        start = end < 0 ? rest.size() : end + 1;
        qsizetype at = 0;
        const QByteArrayView kind = field(line, at);
        if (kind == "id") {
            record.publishId = QString::fromUtf8(field(line, at));
            continue;
        }
        File f;
        bool ok[3] = {false, false, false};
        f.size = field(line, at).toLongLong(&ok[0]);
        f.localMtime = field(line, at).toLongLong(&ok[1]);
        f.remoteMtime = field(line, at).toLongLong(&ok[2]);
        f.hash = QByteArray::fromHex(field(line, at).toByteArray());
        const QByteArrayView name = at <= line.size() ? line.sliced(at) : QByteArrayView();
        if (kind != "f" || !ok[0] || !ok[1] || !ok[2] || name.isEmpty()) {
            damaged = true;
            break;
        }
        record.files.insert(QString::fromUtf8(name), std::move(f));
    }
    if (damaged) {
        // A record we cannot trust is no record: the server is compared instead.
        *error = QStringLiteral("the record of the last publish is damaged");
        return PublishRecord{};
    }
    return record;
}

WriteResult PublishRecord::save(const QString &path) const
{
    // Written whole after every publish: a few hundred thousand lines, made without a copy each.
    QByteArray out;
    out.reserve(64 + files.size() * 128);
    out += kHeader;
    out += '\n';
    if (!publishId.isEmpty())
        out += "id\t" + publishId.toUtf8() + '\n';
    char line[192]; // three numbers and a hash of at most 32 bytes
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        char *p = line, *end = line + sizeof line;
        *p++ = 'f';
        for (const qint64 n : {it->size, it->localMtime, it->remoteMtime}) {
            *p++ = '\t';
            p = std::to_chars(p, end, n).ptr;
        }
        *p++ = '\t';
        static const char digits[] = "0123456789abcdef";
        for (const char byte : it->hash.first(std::min<qsizetype>(it->hash.size(), 32))) {
            *p++ = digits[uchar(byte) >> 4];
            *p++ = digits[uchar(byte) & 15];
        }
        *p++ = '\t';
        out.append(line, p - line);
        out += it.key().toUtf8();
        out += '\n';
    }
    return FileWriter::writeFile(path, out);
}

QString PublishRecord::unfinishedPath(const QString &recordPath)
{
    return recordPath + QStringLiteral(".unfinished");
}

QStringList PublishRecord::loadUnfinished(const QString &recordPath)
{
    QFile file(unfinishedPath(recordPath));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

WriteResult PublishRecord::saveUnfinished(const QString &recordPath, const QStringList &names)
{
    const QString path = unfinishedPath(recordPath);
    if (names.isEmpty()) {
        if (QFile::exists(path) && !QFile::remove(path))
            return {path, QStringLiteral("it could not be removed")};
        return {path, QString()};
    }
    return FileWriter::writeFile(path, names.join(QLatin1Char('\n')).toUtf8() + '\n');
}

QString PublishedNames::path(const QString &galleryFolder)
{
    return galleryFolder + QStringLiteral("/.quillmere/publish-names.txt");
}

PublishedNames PublishedNames::load(const QString &path)
{
    PublishedNames out;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return out;
    const QByteArray bytes = file.readAll();
    QByteArrayView rest(bytes);
    // The last line ends the file: one cut short is not whole.
    if (!rest.startsWith(kNamesHeader) || !rest.endsWith("\nend\n"))
        return out;
    rest.chop(4);
    out.names.reserve(bytes.count('\n'));
    for (qsizetype start = rest.indexOf('\n') + 1; start > 0 && start < rest.size();) {
        const qsizetype end = rest.indexOf('\n', start);
        const QByteArrayView line = rest.sliced(start, end - start);
        start = end + 1;
        qsizetype at = 0;
        const QByteArrayView kind = field(line, at);
        if (kind == "x") {
            Source s;
            bool ok[2] = {false, false};
            s.size = field(line, at).toLongLong(&ok[0]);
            s.mtimeNs = field(line, at).toLongLong(&ok[1]);
            if (!ok[0] || !ok[1] || at > line.size())
                return {};
            out.names << QString::fromUtf8(line.sliced(at));
            out.sources.insert(out.names.last(), s);
        } else if (kind == "n" && at < line.size()) {
            out.names << QString::fromUtf8(line.sliced(at));
        } else {
            return {};
        }
    }
    return out;
}

WriteResult PublishedNames::save(const QString &path) const
{
    QByteArray out;
    out.reserve(64 + names.size() * 32);
    out += kNamesHeader;
    out += '\n';
    for (const QString &name : names) {
        const auto s = sources.constFind(name);
        if (s == sources.cend()) {
            out += "n\t";
        } else {
            out += "x\t";
            out += QByteArray::number(s->size);
            out += '\t';
            out += QByteArray::number(s->mtimeNs);
            out += '\t';
        }
        out += name.toUtf8();
        out += '\n';
    }
    out += "end\n";
    return FileWriter::writeFile(path, out);
}

} // namespace qm
