#pragma once

#include <QString>
#include <QStringList>

class QSettings;

namespace qm {

// The settings store. Every getter reads its key afresh (nothing cached), so
// the derived folder paths follow a change of the gallery folder at once.
// Absent keys read as 0, false or a null string.
class Preferences
{
public:
    explicit Preferences(QSettings *defaults = nullptr) : m_defaults(defaults) {}

    void setDefaults(QSettings *defaults) { m_defaults = defaults; }
    QSettings *defaults() const { return m_defaults; }

    QString orvaneFolder() const;
    void setOrvaneFolder(const QString &path);

    int importPhotosSmallWidth() const;
    int importPhotosSmallHeight() const;
    void setImportPhotosSmallWidth(int width, int height);
    int importPhotosWidth() const;
    int importPhotosHeight() const;
    void setImportPhotosWidth(int width, int height);
    int importPhotosLargeWidth() const;
    int importPhotosLargeHeight() const;
    void setImportPhotosLargeWidth(int width, int height);
    int importPhotosQuality() const;
    void setImportPhotosQuality(int quality);
    bool importPhotosCreateLarge() const;
    void setImportPhotosCreateLarge(bool on);
    // Photo dates from the camera's record; off until the user turns it on.
    bool importPhotosCameraDates() const;
    void setImportPhotosCameraDates(bool on);

    int videoThumbWidth() const;
    int videoThumbHeight() const;
    void setVideoThumbWidth(int width, int height);
    int videoThumbQuality() const;
    void setVideoThumbQuality(int quality);

    QString imgFolder() const;     // %@/img
    QString xmlFolder() const;     // %@/xml
    QString albumsXMLFile() const; // %@/albums.xml inside xmlFolder
    // The program's own folder inside the gallery (lock, records of work in
    // progress); never read by a web viewer and never published.
    QString stateFolder() const;   // %@/.quillmere

    // Full paths for stored bare names; a null string when the name could
    // reach outside its folder (or is empty), so callers touch no file.
    QString imgPath(const QString &name) const;
    QString xmlPath(const QString &name) const;
    QString statePath(const QString &name) const;
    // The same for a folder taken earlier: for threads, which must not read
    // the settings store while the GUI thread does.
    static QString pathIn(const QString &folder, const QString &name);
    // `count` names made by `pattern` from time keys (now or a little
    // later), distinct and naming nothing in the img folder, links included.
    QStringList freeImgNames(QString (*pattern)(quint64), int count = 1) const;

private:
    int intValue(const char *key) const;
    void setValue(const char *key, int value);

    QSettings *m_defaults;
};

} // namespace qm
