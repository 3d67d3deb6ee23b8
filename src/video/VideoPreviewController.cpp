#include "video/VideoPreviewController.h"

#include "model/Video.h"
#include "model/VideoStream.h"
#include "storage/Gallery.h"
#include "storage/Preferences.h"
#include "video/CaptureGeometry.h"
#include "video/CreateVideoThumbController.h"
#include "video/FLVMetadata.h"
#include "video/MetadataMessage.h"
#include "video/PlayerPage.h"
#include "video/PlayerView.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFutureWatcher>
#include <QtConcurrent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace qm {

VideoPreviewController::VideoPreviewController(Gallery *gallery, CreateVideoThumbController *thumbs, QWidget *parent)
    : QDialog(parent)
    , m_gallery(gallery)
    , m_prefs(&gallery->prefs())
    , m_ctlCreateVideoThumb(thumbs)
{
    setObjectName(QStringLiteral("pnlVideoPreview"));
    setWindowTitle(tr("Video Preview"));
    setWindowModality(Qt::WindowModal);
    m_webView = new PlayerView;
    connect(m_webView, &PlayerView::metadataMessage, this, &VideoPreviewController::runJavaScriptAlertPanelWithMessage);
    m_cmbStreams = new QComboBox;
    m_cmbStreams->setObjectName(QStringLiteral("cmbStreams"));
    m_cmbStreams->setAccessibleName(tr("Stream"));
    connect(m_cmbStreams, &QComboBox::activated, this, &VideoPreviewController::changedVideoStream);
    m_btnRemoveStream = new QPushButton(tr("&Remove Stream"));
    m_btnRemoveStream->setObjectName(QStringLiteral("btnRemoveStream"));
    connect(m_btnRemoveStream, &QPushButton::clicked, this, &VideoPreviewController::clickedRemoveStream);
    m_btnCaptureThumbnail = new QPushButton(tr("&Capture Thumbnail..."));
    m_btnCaptureThumbnail->setObjectName(QStringLiteral("btnCaptureThumbnail"));
    connect(m_btnCaptureThumbnail, &QPushButton::clicked, this, &VideoPreviewController::clickedCaptureThumbnail);
    auto *close = new QPushButton(tr("Close"));
    // Return closes; removing a stream deletes a file and is never the default.
    m_btnRemoveStream->setAutoDefault(false);
    m_btnCaptureThumbnail->setAutoDefault(false);
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto *controls = new QHBoxLayout;
    controls->setContentsMargins(12, 0, 12, 0);
    controls->addWidget(new QLabel(tr("Stream:")));
    controls->addWidget(m_cmbStreams);
    controls->addWidget(m_btnRemoveStream);
    controls->addStretch();
    controls->addWidget(m_btnCaptureThumbnail);
    controls->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 8);
    layout->addWidget(m_webView, 1);
    layout->addLayout(controls);
}

QString VideoPreviewController::streamTitle(int bitrate, QSize size)
{
    return size.isEmpty() ? QStringLiteral("%1 kbps").arg(bitrate)
                          : QStringLiteral("%1 \u00d7 %2, %3 kbps").arg(size.width()).arg(size.height()).arg(bitrate);
}

void VideoPreviewController::fillStreams()
{
    m_cmbStreams->clear();
    if (!m_video)
        return;
    QStringList paths;
    for (const StreamPtr &s : m_video->streams()) {
        m_cmbStreams->addItem(streamTitle(s->bitrate(), {}));
        paths << m_prefs->imgPath(s->file());
    }
    m_cmbStreams->setCurrentIndex(0);
    // The sizes come from the files, read away from the window.
    auto *watcher = new QFutureWatcher<QList<QSize>>(this);
    const int generation = ++m_streamsRead;
    connect(watcher, &QFutureWatcher<QList<QSize>>::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        const QList<QSize> sizes = watcher->result();
        if (generation != m_streamsRead || !m_video || sizes.size() != m_cmbStreams->count())
            return;
        for (int i = 0; i < sizes.size(); ++i)
            m_cmbStreams->setItemText(i, streamTitle(m_video->streams().at(i)->bitrate(), sizes.at(i)));
    });
    watcher->setFuture(QtConcurrent::run([paths] {
        QList<QSize> sizes;
        for (const QString &path : paths) {
            const FLVTagMetadata tag = path.isNull() ? FLVTagMetadata() : readFLVTagMetadata(path);
            sizes << QSize(tag.width, tag.height);
        }
        return sizes;
    }));
}

void VideoPreviewController::setVideo(Video *video)
{
    m_video = video;
    m_currentStreamIndex = 0;
    if (video && !video->streams().isEmpty())
        loadStream(*video->streams().first());
    else
        m_webView->loadEmpty();
    fillStreams();
}

void VideoPreviewController::showWindow()
{
    show();
    raise();
    activateWindow();
}

void VideoPreviewController::loadStream(const VideoStream &stream, qint64 startMs, bool paused)
{
    m_movieBitrate = 0;
    const QString path = m_prefs->imgPath(stream.file());
    if (path.isNull()) {
        m_webView->loadEmpty();
        return;
    }
    m_webView->load(preparePlayerPage(path).url, startMs, paused);
    // The previous stream's size must not stand for this one's (a stream of
    // sound only names none): the player's message brings the real one.
    m_movieWidth = m_movieHeight = 0;
    readFLVMetadata(path, m_movieWidth, m_movieHeight, m_movieBitrate);
}

void VideoPreviewController::runJavaScriptAlertPanelWithMessage(const QString &message, int load)
{
    if (load == m_webView->currentLoad())
        parseMetadataMessage(message, m_movieWidth, m_movieHeight, m_movieBitrate);
}

void VideoPreviewController::changedVideoStream()
{
    const int index = m_cmbStreams->currentIndex();
    if (!m_video || index < 0 || index >= m_video->streams().size() || index == m_currentStreamIndex)
        return;
    m_currentStreamIndex = index;
    // The same moment of the movie, playing or waiting as it was.
    const bool paused = !m_webView->isPlaying();
    loadStream(*m_video->streams().at(index), m_webView->shownPosition(), paused);
}

void VideoPreviewController::clickedRemoveStream()
{
    if (!m_video)
        return;
    // The file goes to the trash (Undo brings it back) unless another stream
    // names it. The gallery refuses to take a video's last stream.
    const int index = m_cmbStreams->currentIndex();
    QString why;
    if (!m_gallery->removeStream(m_video, index, &why)) {
        if (!why.isEmpty()) {
            QMessageBox box(QMessageBox::Warning, QStringLiteral("Single stream"), QStringLiteral("Single stream"),
                            QMessageBox::Ok, this);
            box.setObjectName(QStringLiteral("singleStreamAlert"));
            box.setInformativeText(why);
            box.exec();
        }
        return;
    }
    // Stopped only now, so that a refusal leaves the movie playing; the
    // player still holds the moved file open.
    m_webView->loadEmpty();
    m_cmbStreams->removeItem(index);
    m_cmbStreams->setCurrentIndex(0);
    m_currentStreamIndex = 0;
    loadStream(*m_video->streams().first());
}

QRect VideoPreviewController::captureRect() const
{
    return captureRectInView(m_webView->size(), m_movieWidth, m_movieHeight);
}

QString VideoPreviewController::captureRefusal() const
{
    if (!m_video || m_webView->moviePath().isEmpty())
        return tr("No stream is playing.");
    if (m_movieBitrate == 0 && m_webView->frame().isNull())
        return tr("The movie has not been read yet. Try again in a moment.");
    if (m_movieWidth <= 0 || m_movieHeight <= 0)
        return tr("This stream has sound only: there is no picture to capture.");
    return QString();
}

void VideoPreviewController::clickedCaptureThumbnail()
{
    const QString refusal = captureRefusal();
    const QImage image = refusal.isEmpty() ? m_webView->capture(captureRect()) : QImage();
    if (image.isNull()) {
        QMessageBox box(QMessageBox::Information, windowTitle(), tr("No thumbnail can be captured now."),
                        QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("captureRefusedAlert"));
        box.setInformativeText(refusal.isEmpty() ? tr("The player shows no picture.") : refusal);
        box.exec();
        return;
    }
    m_ctlCreateVideoThumb->setImage(image);
    m_ctlCreateVideoThumb->setVideo(m_video);
    m_ctlCreateVideoThumb->showWindow();
}

void VideoPreviewController::done(int result)
{
    m_webView->loadEmpty();
    QDialog::done(result);
}

void VideoPreviewController::closeEvent(QCloseEvent *event)
{
    m_webView->loadEmpty();
    QDialog::closeEvent(event);
}

} // namespace qm
