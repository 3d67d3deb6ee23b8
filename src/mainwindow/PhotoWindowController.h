#pragma once

#include <QWidget>

class QScrollArea;

namespace qm {

class MyImageView;
class Photo;
class Preferences;

// A window of its own showing one photo at its normal or large size. At
// first pixel for pixel, one picture pixel on one pixel of the screen also
// on a high-resolution screen: the window takes the picture's size and keeps
// the lower left corner of its frame where it was, as far as the screen
// allows (it never reaches past the screen's edges, and a picture larger
// than the screen scrolls). From the keyboard: Left and Right for the
// previous and next photo of the album, + and - to zoom, F to fit the
// window, 1 (or Ctrl+0) for the picture's own size, F11 or a double click
// for the full screen, Escape or Ctrl+W to close.
class PhotoWindowController : public QWidget
{
    Q_OBJECT
public:
    explicit PhotoWindowController(Preferences *prefs, QWidget *parent = nullptr);

    void showPhoto(const Photo &photo);
    // Does nothing when the photo has no large file on disk.
    void showLargePhoto(const Photo &photo);
    // Whether the large size is shown (the next photo is shown the same way).
    bool showsLarge() const { return m_large; }
    MyImageView *ivPhoto() const { return m_ivPhoto; }
    QScrollArea *scrollArea() const { return m_scroll; }

    // Picture pixels per pixel of the screen: 1 is the picture's own size.
    qreal zoom() const;
    bool fitsWindow() const { return m_fit; }
    void setZoom(qreal zoom);
    void fitToWindow();
    void toggleFullScreen();

signals:
    // Left or Right: the photo before or after this one in the album.
    void stepRequested(int step);
    // A photo's file that cannot be shown, and why.
    void cannotShow(const QString &path, const QString &why);

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool showFile(const QString &path, const QString &title);
    void placeOnScreen(const QRect &oldFrame);
    void updateTitle();
    void applyZoom();

    Preferences *m_prefs;
    QScrollArea *m_scroll;
    MyImageView *m_ivPhoto;
    QString m_title;
    bool m_large = false;
    bool m_fit = false;
    qreal m_zoom = 1;
};

} // namespace qm
