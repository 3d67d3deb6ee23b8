#include "storage/Resources.h"

#include "storage/FileWriter.h"

namespace qm {

QString resourcePath(const QString &name)
{
    return QStringLiteral(":/resources/") + name;
}

bool copyResource(const QString &name, const QString &destination, QString *error)
{
    const WriteResult copied = FileWriter::copyFile(resourcePath(name), destination, FileWriter::Mode::CreateNew);
    if (!copied && error)
        *error = copied.reason;
    return bool(copied);
}

} // namespace qm
