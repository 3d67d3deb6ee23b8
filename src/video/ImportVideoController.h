#pragma once

#include "storage/Job.h"
#include "video/VideoConverter.h"

#include <QDialog>
#include <QPointer>

#include <memory>

class QLabel;
class QPushButton;

namespace qm {

class Album;
class ConversionPanel;
class Gallery;
class PlayerView;
class Preferences;
struct WriteResult;
class Video;
class VideoStream;

// The video import window: shows a dropped FLV file with its size and
// bitrate and, on confirmation, copies it into the img folder as a new
// video of an album or as a further stream of a video. A movie of another
// kind (MP4, MOV, ...) is converted instead, into the streams the window's
// conversion panel lists, in the background with progress and Stop.
class ImportVideoController : public QDialog
{
    Q_OBJECT
public:
    explicit ImportVideoController(Gallery *gallery, QWidget *parent = nullptr);

    void setAddingStream(bool adding);
    bool addingStream() const { return m_addingStream; }
    void setVideo(Video *video);
    // `convert`: an FLV file too is converted rather than copied (a stream
    // in another codec for a video that has one already).
    void setFile(const QString &file, Album *album, bool convert = false);
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
    ConversionPanel *conversionPanel() const { return m_conversion; }
    // True for a movie that is converted rather than copied.
    bool converting() const { return m_converting; }
    Job *conversionJob() const { return m_job; }

public slots:
    void clickedImport();
    // The page's "w|h|bitrate"; messages of an earlier load are dropped.
    void runJavaScriptAlertPanelWithMessage(const QString &message, int load);

protected:
    void done(int result) override;

private:
    void showMetadata();
    void copied(const QString &streamName, const WriteResult &written);
    // A warning over the window; `name` is the box's object name.
    void fail(const QString &what, const QString &why, const QString &name = QString());
    void updateImportButton();
    void startConversion();
    void conversionFinished();
    // The gallery's steps: a new video with its files, or further streams.
    void addVideoToAlbum(Album *album, const std::shared_ptr<Video> &video);
    void addStreamsToVideo(Video *video, const QList<std::shared_ptr<VideoStream>> &streams);
    Album *liveAlbum() const;
    Video *liveVideo() const;

    Gallery *m_gallery;
    Preferences *m_prefs;
    QPointer<Job> m_copy;
    PlayerView *m_webView;
    ConversionPanel *m_conversion;
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
    bool m_converting = false;
    MovieProbe m_probe;
    QPointer<Job> m_job;
    std::shared_ptr<ConversionOutcome> m_outcome;
    bool m_closing = false;
};

} // namespace qm
