#pragma once

#include <QWidget>

namespace qm {

class MyImageView;
class Photo;
class Preferences;

// A window of its own showing one photo at its normal or large size,
// sized to the picture.
class PhotoWindowController : public QWidget
{
    Q_OBJECT
public:
    explicit PhotoWindowController(Preferences *prefs, QWidget *parent = nullptr);

    void showPhoto(const Photo &photo);
    // Does nothing when the photo has no large file on disk.
    void showLargePhoto(const Photo &photo);
    MyImageView *ivPhoto() const { return m_ivPhoto; }

private:
    bool showFile(const QString &path, const QString &title);

    Preferences *m_prefs;
    MyImageView *m_ivPhoto;
};

} // namespace qm
