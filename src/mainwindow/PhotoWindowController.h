#pragma once

#include <QWidget>

class QScrollArea;

namespace qm {

class MyImageView;
class Photo;
class Preferences;

// A window of its own showing one photo at its normal or large size, pixel
// for pixel. The window takes the picture's size and keeps the lower left
// corner of its frame where it was, as far as the screen allows: it never
// reaches past the screen's edges, and a picture larger than the screen
// scrolls.
class PhotoWindowController : public QWidget
{
    Q_OBJECT
public:
    explicit PhotoWindowController(Preferences *prefs, QWidget *parent = nullptr);

    void showPhoto(const Photo &photo);
    // Does nothing when the photo has no large file on disk.
    void showLargePhoto(const Photo &photo);
    MyImageView *ivPhoto() const { return m_ivPhoto; }
    QScrollArea *scrollArea() const { return m_scroll; }

private:
    bool showFile(const QString &path, const QString &title);
    void placeOnScreen(const QRect &oldFrame);

    Preferences *m_prefs;
    QScrollArea *m_scroll;
    MyImageView *m_ivPhoto;
};

} // namespace qm
