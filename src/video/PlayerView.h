#pragma once

#include "video/Orientation.h"

#include <QImage>
#include <QVideoFrame>
#include <QUrl>
#include <QWidget>

class QAudioOutput;
class QLabel;
class QMediaPlayer;
class QSlider;
class QToolButton;
class QVideoSink;

namespace qm {

// "m:ss", or "h:mm:ss" from an hour on.
QString playerClock(qint64 ms);

// Shows a prepared player page: reads the movie the page names, plays it
// with its sound and paints each frame itself at the frame's own pixel size
// in the player area (so that what is on screen can be read back exactly),
// or, for a movie looked at before it is converted, fitted into the area and
// turned upright. The strip below the area holds the controls: play/pause,
// the position with the time (a click on the track goes there), a frame
// step back and forward from the frame on show, and mute with the volume.
// Space plays or pauses, the arrow keys step a frame.
//
// Once the movie's size and bitrate are known it sends the metadata message
// "w|h|bitrate", tagged with the load that produced it: 0 x 0 for a movie
// of sound only, and a bitrate worked out from the file's size and length
// where the file names none.
class PlayerView : public QWidget
{
    Q_OBJECT
public:
    explicit PlayerView(QWidget *parent = nullptr);
    ~PlayerView() override;

    // Loads a page; returns the load's number, which its message carries.
    // The movie starts at `startMs`, and waits there when `paused`.
    int load(const QUrl &page, qint64 startMs = 0, bool paused = false);
    // How the next movies are shown: at their own size, or fitted and upright.
    void setFitted(bool fitted, Orientation orientation = Orientation::Upright);
    // Shown in the empty area while no movie is loaded.
    void setNotice(const QString &text);
    // The empty page: stops the movie and shows nothing.
    void loadEmpty();
    int currentLoad() const { return m_load; }
    QString moviePath() const { return m_movie; }
    const QImage &frame() const { return m_frame; }
    bool isPlaying() const;
    qint64 position() const;
    // Where the frame on show starts (the player's position runs ahead of it).
    qint64 shownPosition() const;

    void togglePlaying();
    // Frames forward or back (negative) from the frame on show, pausing first.
    void stepFrame(int frames);
    void pause();

    // The pixels of a rectangle of the view as it paints itself.
    QImage capture(const QRect &rect);

    QMediaPlayer *player() const { return m_player; }
    QAudioOutput *audioOutput() const { return m_audio; }
    QToolButton *btnPlay() const { return m_btnPlay; }
    QToolButton *btnStepBack() const { return m_btnStepBack; }
    QToolButton *btnStepForward() const { return m_btnStepForward; }
    QToolButton *btnMute() const { return m_btnMute; }
    QSlider *sldPosition() const { return m_sldPosition; }
    QSlider *sldVolume() const { return m_sldVolume; }
    QLabel *lblTime() const { return m_lblTime; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void metadataMessage(const QString &message, int load);
    void frameShown();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildControls();
    void updateControls();
    void frameChanged(const QVideoFrame &frame);
    void showPendingFrame();
    void maybeSendMetadata();
    void seekFromSlider();
    void startWhereAsked();
    double frameMs() const;

    QMediaPlayer *m_player;
    QVideoSink *m_sink = nullptr;
    QAudioOutput *m_audio;
    QWidget *m_controls = nullptr;
    QToolButton *m_btnPlay = nullptr;
    QToolButton *m_btnStepBack = nullptr;
    QToolButton *m_btnStepForward = nullptr;
    QToolButton *m_btnMute = nullptr;
    QSlider *m_sldPosition = nullptr;
    QSlider *m_sldVolume = nullptr;
    QLabel *m_lblTime = nullptr;
    QImage m_frame;
    QVideoFrame m_pendingFrame;
    qint64 m_frameStartMs = -1; // of the frame on show; -1 unknown
    qint64 m_frameEndMs = -1;
    qint64 m_stepTargetMs = -1; // a frame step not shown yet
    qint64 m_startMs = -1;      // where a loaded movie is to start
    bool m_playAfterStart = false;
    bool m_fitted = false;
    Orientation m_orientation = Orientation::Upright;
    QString m_notice;
    QString m_movie;
    int m_load = 0;
    int m_tagBitrate = -1; // kbit/s from the file's own metadata tag
    bool m_sent = false;
    bool m_sentSoundOnly = false;
};

} // namespace qm
