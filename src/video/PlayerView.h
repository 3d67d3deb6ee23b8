#pragma once

#include <QImage>
#include <QUrl>
#include <QWidget>

class QMediaPlayer;
class QVideoFrame;
class QVideoSink;

namespace qm {

// Shows a prepared player page: reads the movie the page names, plays it
// without sound and paints each frame itself at the frame's own pixel size
// in the player area (so that what is on screen can be read back exactly).
// Once the movie's size and bitrate are known it sends the metadata message
// "w|h|bitrate", tagged with the load that produced it.
class PlayerView : public QWidget
{
    Q_OBJECT
public:
    explicit PlayerView(QWidget *parent = nullptr);
    ~PlayerView() override;

    // Loads a page; returns the load's number, which its message carries.
    int load(const QUrl &page);
    // The empty page: stops the movie and shows nothing.
    void loadEmpty();
    int currentLoad() const { return m_load; }
    QString moviePath() const { return m_movie; }
    const QImage &frame() const { return m_frame; }
    bool isPlaying() const;

    // The pixels of a rectangle of the view as it paints itself.
    QImage capture(const QRect &rect);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void metadataMessage(const QString &message, int load);
    void frameShown();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void frameChanged(const QVideoFrame &frame);
    void maybeSendMetadata();

    QMediaPlayer *m_player;
    QVideoSink *m_sink;
    QImage m_frame;
    QString m_movie;
    int m_load = 0;
    int m_tagBitrate = -1; // kbit/s from the file's own metadata tag
    bool m_sent = false;
};

} // namespace qm
