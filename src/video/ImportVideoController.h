#pragma once

#include "storage/FileWriter.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace qm {

class Album;
class Data;
class PlayerView;
class Preferences;
class Video;
class VideoStream;

// The video import window: shows a dropped FLV file with its size and
// bitrate and, on confirmation, copies it into the img folder as a new
// video of an album or as a further stream of a video.
class ImportVideoController : public QDialog
{
    Q_OBJECT
public:
    ImportVideoController(Data *data, Preferences *prefs, QWidget *parent = nullptr);

    void setAddingStream(bool adding);
    bool addingStream() const { return m_addingStream; }
    void setVideo(Video *video);
    void setFile(const QString &file, Album *album);
    // Shows the window and returns at once.
    void showWindow();

    int movieWidth() const { return m_movieWidth; }
    int movieHeight() const { return m_movieHeight; }
    int movieBitrate() const { return m_movieBitrate; }
    const QString &file() const { return m_file; }
    PlayerView *webView() const { return m_webView; }
    QLabel *lblMovieSize() const { return m_lblMovieSize; }
    QLabel *lblMovieBitrate() const { return m_lblMovieBitrate; }
    QPushButton *btnImport() const { return m_btnImport; }

    // Inserts before the first stream of lower bitrate (equal ones stay ahead).
    static void insertStreamByBitrate(Video &video, const std::shared_ptr<VideoStream> &stream);

public slots:
    void clickedImport();
    // The page's "w|h|bitrate"; messages of an earlier load are dropped.
    void runJavaScriptAlertPanelWithMessage(const QString &message, int load);

signals:
    // A new video was appended to `album`, or a stream added to a video of it.
    void videoImported(qm::Album *album, qm::Video *video);

protected:
    void closeEvent(QCloseEvent *event) override;
    void done(int result) override;

private:
    void showMetadata();
    WriteResult copyMovie(const QString &from, const QString &to);
    Album *liveAlbum() const;
    Video *liveVideo() const;

    Data *m_data;
    Preferences *m_prefs;
    PlayerView *m_webView;
    QLabel *m_lblMovieSize;
    QLabel *m_lblMovieBitrate;
    QPushButton *m_btnImport;
    QString m_file;
    int m_movieWidth = 0;
    int m_movieHeight = 0;
    int m_movieBitrate = 0;
    quint64 m_albumId = 0;
    quint64 m_videoId = 0;
    bool m_addingStream = false;
};

} // namespace qm
