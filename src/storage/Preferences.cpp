#include "storage/Preferences.h"

#include "storage/Common.h"

#include <QFileInfo>
#include <QSettings>

namespace qm {

int Preferences::intValue(const char *key) const
{
    return m_defaults ? m_defaults->value(QLatin1String(key)).toInt() : 0;
}

void Preferences::setValue(const char *key, int value)
{
    if (m_defaults)
        m_defaults->setValue(QLatin1String(key), value);
}

QString Preferences::orvaneFolder() const
{
    if (!m_defaults)
        return QString();
    const QVariant v = m_defaults->value(QStringLiteral("OrvaneFolder"));
    return v.isValid() ? v.toString() : QString();
}

void Preferences::setOrvaneFolder(const QString &path)
{
    if (m_defaults)
        m_defaults->setValue(QStringLiteral("OrvaneFolder"), path);
}

int Preferences::importPhotosSmallWidth() const { return intValue("ImportPhotosSmallWidth"); }
int Preferences::importPhotosSmallHeight() const { return intValue("ImportPhotosSmallHeight"); }
void Preferences::setImportPhotosSmallWidth(int width, int height)
{
    setValue("ImportPhotosSmallWidth", width);
    setValue("ImportPhotosSmallHeight", height);
}

int Preferences::importPhotosWidth() const { return intValue("ImportPhotosWidth"); }
int Preferences::importPhotosHeight() const { return intValue("ImportPhotosHeight"); }
void Preferences::setImportPhotosWidth(int width, int height)
{
    setValue("ImportPhotosWidth", width);
    setValue("ImportPhotosHeight", height);
}

int Preferences::importPhotosLargeWidth() const { return intValue("ImportPhotosLargeWidth"); }
int Preferences::importPhotosLargeHeight() const { return intValue("ImportPhotosLargeHeight"); }
void Preferences::setImportPhotosLargeWidth(int width, int height)
{
    setValue("ImportPhotosLargeWidth", width);
    setValue("ImportPhotosLargeHeight", height);
}

int Preferences::importPhotosQuality() const { return intValue("ImportPhotosQuality"); }
void Preferences::setImportPhotosQuality(int quality) { setValue("ImportPhotosQuality", quality); }

bool Preferences::importPhotosCreateLarge() const
{
    return m_defaults && m_defaults->value(QStringLiteral("ImportPhotosCreateLarge")).toBool();
}

void Preferences::setImportPhotosCreateLarge(bool on)
{
    if (m_defaults)
        m_defaults->setValue(QStringLiteral("ImportPhotosCreateLarge"), on);
}

bool Preferences::importPhotosCameraDates() const
{
    return m_defaults && m_defaults->value(QStringLiteral("ImportPhotosCameraDates")).toBool();
}

void Preferences::setImportPhotosCameraDates(bool on)
{
    if (m_defaults)
        m_defaults->setValue(QStringLiteral("ImportPhotosCameraDates"), on);
}

int Preferences::videoThumbWidth() const { return intValue("VideoThumbWidth"); }
int Preferences::videoThumbHeight() const { return intValue("VideoThumbHeight"); }
void Preferences::setVideoThumbWidth(int width, int height)
{
    setValue("VideoThumbWidth", width);
    setValue("VideoThumbHeight", height);
}

int Preferences::videoThumbQuality() const { return intValue("VideoThumbQuality"); }
void Preferences::setVideoThumbQuality(int quality) { setValue("VideoThumbQuality", quality); }

// Without a gallery folder there are no gallery paths: never "/img" at the
// root of the file system.
QString Preferences::imgFolder() const
{
    const QString folder = orvaneFolder();
    return folder.isEmpty() ? QString() : QStringLiteral("%1/img").arg(folder);
}

QString Preferences::xmlFolder() const
{
    const QString folder = orvaneFolder();
    return folder.isEmpty() ? QString() : QStringLiteral("%1/xml").arg(folder);
}

QString Preferences::albumsXMLFile() const
{
    const QString folder = xmlFolder();
    return folder.isEmpty() ? QString() : QStringLiteral("%1/albums.xml").arg(folder);
}

QString Preferences::stateFolder() const
{
    const QString folder = orvaneFolder();
    return folder.isEmpty() ? QString() : QStringLiteral("%1/.quillmere").arg(folder);
}

QString Preferences::pathIn(const QString &folder, const QString &name)
{
    if (folder.isEmpty() || !isBareFileName(name))
        return QString();
    return QStringLiteral("%1/%2").arg(folder, name);
}

QString Preferences::imgPath(const QString &name) const
{
    return pathIn(imgFolder(), name);
}

QString Preferences::xmlPath(const QString &name) const
{
    return pathIn(xmlFolder(), name);
}

QString Preferences::statePath(const QString &name) const
{
    return pathIn(stateFolder(), name);
}

QStringList Preferences::freeImgNames(QString (*pattern)(quint64), int count) const
{
    QStringList names;
    quint64 key = timeKey();
    while (names.size() < count) {
        const QString name = pattern(key++);
        const QFileInfo info(imgPath(name));
        if (!info.exists() && !info.isSymLink())
            names << name;
    }
    return names;
}

} // namespace qm
