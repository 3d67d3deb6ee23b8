#pragma once

#include <QDialog>
#include <QImage>

class QLabel;
class QLineEdit;
class QScrollArea;
class QSlider;

namespace qm {

class CroppingImageView;
class Gallery;
class Preferences;
class Video;

// Cuts the video thumbnail out of a captured frame: a cropping rectangle
// of the thumbnail's shape, a live preview with its JPEG size, and on
// confirmation the JPEG in the img folder.
class CreateVideoThumbController : public QDialog
{
    Q_OBJECT
public:
    explicit CreateVideoThumbController(Gallery *gallery, QWidget *parent = nullptr);

    void setImage(const QImage &image);
    void setVideo(Video *video) { m_video = video; }
    // Runs the window; returns when it has closed.
    void showWindow();

    // The JPEG as it would be written now.
    QByteArray renderThumbnail() const;

    CroppingImageView *imgCapture() const { return m_imgCapture; }
    QLabel *imgThumb() const { return m_imgThumb; }
    QSlider *sldQuality() const { return m_sldQuality; }
    QLineEdit *txtThumbWidth() const { return m_txtThumbWidth; }
    QLineEdit *txtThumbHeight() const { return m_txtThumbHeight; }
    QLabel *lblThumbFileSize() const { return m_lblThumbFileSize; }
    QScrollArea *scrCapture() const { return m_scrCapture; }

public slots:
    void changedThumbSize();
    void changedQuality();
    void updateThumbnail();
    void clickedCreateThumb();

private:
    Gallery *m_gallery;
    Preferences *m_prefs;
    Video *m_video = nullptr;
    CroppingImageView *m_imgCapture;
    QScrollArea *m_scrCapture;
    QLabel *m_imgThumb;
    QSlider *m_sldQuality;
    QLineEdit *m_txtThumbWidth;
    QLineEdit *m_txtThumbHeight;
    QLabel *m_lblThumbFileSize;
};

} // namespace qm
