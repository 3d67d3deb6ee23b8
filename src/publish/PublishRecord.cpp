#include "publish/PublishRecord.h"

#include <QFile>

namespace qm {

namespace {

const char kHeader[] = "quillmere-publish-record 1";

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
    if (file.readLine().trimmed() != kHeader) {
        *error = QStringLiteral("not a record of a publish");
        return record;
    }
    record.files.reserve(1024);
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        const QList<QByteArray> f = line.left(line.size() - (line.endsWith('\n') ? 1 : 0)).split('\t');
        if (f.size() == 6 && f[0] == "f") {
            record.files.insert(QString::fromUtf8(f[5]),
                                File{f[1].toLongLong(), f[2].toLongLong(), f[3].toLongLong(), QByteArray::fromHex(f[4])});
        } else if (f.size() == 2 && f[0] == "u") {
            record.unfinished << QString::fromUtf8(f[1]);
        } else if (f.size() == 2 && f[0] == "id") {
            record.publishId = QString::fromUtf8(f[1]);
        } else {
            // A record we cannot trust is no record: the server is compared instead.
            *error = QStringLiteral("the record of the last publish is damaged");
            return PublishRecord{QString(), record.unfinished, {}};
        }
    }
    return record;
}

WriteResult PublishRecord::save(const QString &path) const
{
    QByteArray out;
    out.reserve(64 + files.size() * 96);
    out += kHeader;
    out += '\n';
    if (!publishId.isEmpty())
        out += "id\t" + publishId.toUtf8() + '\n';
    for (const QString &name : unfinished)
        out += "u\t" + name.toUtf8() + '\n';
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        out += "f\t" + QByteArray::number(it->size) + '\t' + QByteArray::number(it->localMtime) + '\t'
               + QByteArray::number(it->remoteMtime) + '\t' + it->hash.toHex() + '\t' + it.key().toUtf8() + '\n';
    }
    return FileWriter::writeFile(path, out);
}

} // namespace qm
