#include "storage/Resources.h"

#include <QFile>

namespace qm {

QString resourcePath(const QString &name)
{
    return QStringLiteral(":/resources/") + name;
}

bool copyResource(const QString &name, const QString &destination, QString *error)
{
    QFile source(resourcePath(name));
    if (QFile::exists(destination)) {
        if (error)
            *error = QStringLiteral("%1 already exists").arg(destination);
        return false;
    }
    if (!source.copy(destination)) {
        if (error)
            *error = source.errorString();
        return false;
    }
    // Copies from the resource system come out read-only.
    QFile::setPermissions(destination, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    return true;
}

} // namespace qm
