#include "storage/RecentGalleries.h"

#include <QDir>
#include <QSettings>

namespace qm {

namespace {

const QString kKey = QStringLiteral("RecentGalleries");

// One folder, one entry: "/a/b/" and "/a/b" are the same gallery.
QString normalized(const QString &folder)
{
    return folder.isEmpty() ? QString() : QDir::cleanPath(QDir(folder).absolutePath());
}

} // namespace

QStringList RecentGalleries::galleries() const
{
    if (!m_settings)
        return {};
    QStringList list;
    for (const QString &f : m_settings->value(kKey).toStringList()) {
        const QString n = normalized(f);
        if (!n.isEmpty() && !list.contains(n))
            list.append(n);
    }
    return list.mid(0, kMax);
}

void RecentGalleries::add(const QString &folder)
{
    const QString n = normalized(folder);
    if (n.isEmpty())
        return;
    QStringList list = galleries();
    list.removeAll(n);
    list.prepend(n);
    store(list.mid(0, kMax));
}

void RecentGalleries::remove(const QString &folder)
{
    QStringList list = galleries();
    if (list.removeAll(normalized(folder)) > 0)
        store(list);
}

void RecentGalleries::clear()
{
    if (m_settings)
        m_settings->remove(kKey);
}

void RecentGalleries::store(const QStringList &list)
{
    if (m_settings)
        m_settings->setValue(kKey, list);
}

} // namespace qm
