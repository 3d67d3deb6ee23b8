#pragma once

#include <QDialog>
#include <QSize>

class QComboBox;
class QPushButton;

namespace qm {

class CreateVideoThumbController;
class Gallery;
class PlayerView;
class Preferences;
class Video;
class VideoStream;

// Plays one stream of a video, switches between its streams, removes one
// with its file, and captures the frame shown for a new thumbnail.
class VideoPreviewController : public QDialog
{
    Q_OBJECT
public:
    VideoPreviewController(Gallery *gallery, CreateVideoThumbController *thumbs, QWidget *parent = nullptr);

    void setVideo(Video *video);
    // Shows the window and returns at once.
    void showWindow();
    void loadStream(const VideoStream &stream, qint64 startMs = 0, bool paused = false);
    // "600 × 336, 797 kbps"; the rate alone while the size is not known.
    static QString streamTitle(int bitrate, QSize size);

    int currentStreamIndex() const { return m_currentStreamIndex; }
    int movieWidth() const { return m_movieWidth; }
    int movieHeight() const { return m_movieHeight; }
    int movieBitrate() const { return m_movieBitrate; }
    QComboBox *cmbStreams() const { return m_cmbStreams; }
    PlayerView *webView() const { return m_webView; }
    QPushButton *btnRemoveStream() const { return m_btnRemoveStream; }
    QPushButton *btnCaptureThumbnail() const { return m_btnCaptureThumbnail; }
    // The rectangle of the player that a capture reads now.
    QRect captureRect() const;
    // Why a capture cannot be made now; empty when it can.
    QString captureRefusal() const;

public slots:
    void changedVideoStream();
    void clickedRemoveStream();
    void clickedCaptureThumbnail();
    void runJavaScriptAlertPanelWithMessage(const QString &message, int load);

protected:
    void done(int result) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void fillStreams();

    Gallery *m_gallery;
    Preferences *m_prefs;
    CreateVideoThumbController *m_ctlCreateVideoThumb;
    PlayerView *m_webView;
    QComboBox *m_cmbStreams;
    QPushButton *m_btnRemoveStream;
    QPushButton *m_btnCaptureThumbnail;
    Video *m_video = nullptr;
    int m_movieWidth = 0;
    int m_movieHeight = 0;
    int m_movieBitrate = 0;
    int m_currentStreamIndex = 0;
    int m_streamsRead = 0; // the latest reading of the streams' sizes
};

} // namespace qm
