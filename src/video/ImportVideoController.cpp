#include "video/ImportVideoController.h"

#include "model/Album.h"
#include "model/Video.h"
#include "model/VideoStream.h"
#include "storage/Common.h"
#include "storage/FileWriter.h"
#include "storage/Gallery.h"
#include "storage/Job.h"
#include "storage/JobSheet.h"
#include "storage/Preferences.h"
#include "storage/Resources.h"
#include "video/ConversionPanel.h"
#include "video/FLVMetadata.h"
#include "video/MetadataMessage.h"
#include "video/PlayerPage.h"
#include "video/PlayerView.h"

#include <QDir>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace qm {

namespace {

// Finds a video among all albums' items by id.
Video *findVideo(const Data &data, quint64 id)
{
    const ItemPtr item = data.findItem(id);
    return item && item->isVideo() ? static_cast<Video *>(item.get()) : nullptr;
}

} // namespace

ImportVideoController::ImportVideoController(Gallery *gallery, QWidget *parent)
    : QDialog(parent)
    , m_gallery(gallery)
    , m_prefs(&gallery->prefs())
{
    setObjectName(QStringLiteral("winImportVideo"));
    setWindowModality(Qt::WindowModal);
    m_webView = new PlayerView;
    m_lblMovieSize = new QLabel;
    m_lblMovieSize->setObjectName(QStringLiteral("lblMovieSize"));
    m_lblMovieBitrate = new QLabel;
    m_lblMovieBitrate->setObjectName(QStringLiteral("lblMovieBitrate"));
    connect(m_webView, &PlayerView::metadataMessage, this, &ImportVideoController::runJavaScriptAlertPanelWithMessage);
    m_conversion = new ConversionPanel;
    m_conversion->hide();
    connect(m_conversion, &ConversionPanel::changed, this, &ImportVideoController::updateImportButton);

    auto *buttons = new QDialogButtonBox;
    m_btnImport = buttons->addButton(tr("Import"), QDialogButtonBox::AcceptRole);
    m_btnImport->setObjectName(QStringLiteral("btnImport"));
    m_btnImport->setDefault(true);
    buttons->addButton(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("btnCancel"));
    connect(m_btnImport, &QPushButton::clicked, this, &ImportVideoController::clickedImport);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *info = new QFormLayout;
    info->addRow(tr("Size:"), m_lblMovieSize);
    info->addRow(tr("Bitrate:"), m_lblMovieBitrate);
    // Beside the player, so that the window fits a 1024 x 768 screen.
    auto *side = new QVBoxLayout;
    side->setContentsMargins(12, 12, 12, 0);
    side->addLayout(info);
    side->addWidget(m_conversion, 1);
    side->addStretch();
    auto *top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->addWidget(m_webView);
    top->addLayout(side, 1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 8);
    layout->addLayout(top, 1);
    auto *lower = new QVBoxLayout;
    lower->setContentsMargins(12, 0, 12, 0);
    lower->addWidget(buttons);
    layout->addLayout(lower);
    setAddingStream(false);
}

void ImportVideoController::setAddingStream(bool adding)
{
    m_addingStream = adding;
    setWindowTitle(adding ? QStringLiteral("Add Video Stream") : QStringLiteral("Import Video"));
    m_btnImport->setText(adding ? QStringLiteral("Add stream") : QStringLiteral("Import"));
}

void ImportVideoController::setVideo(Video *video)
{
    m_videoId = video ? video->id() : 0;
}

void ImportVideoController::setFile(const QString &file, Album *album, bool convert)
{
    m_lblMovieSize->clear();
    m_lblMovieBitrate->clear();
    m_file = file;
    m_albumId = album ? album->id() : 0;
    m_webView->load(preparePlayerPage(file).url);
    m_converting = convert || !isFLVMovie(file);
    m_conversion->setVisible(m_converting);
    // The previous movie's size must not stand for this one's: the player's
    // message brings it where the file does not say.
    m_movieWidth = m_movieHeight = 0;
    if (m_converting) {
        m_probe = probeMovie(file);
        m_conversion->setMovie(m_probe.movie, m_probe.error);
        m_movieWidth = m_probe.movie.frameSize.width();
        m_movieHeight = m_probe.movie.frameSize.height();
        // Lengths beyond any real movie count as unknown (and NaN fails both tests).
        const double seconds = m_probe.movie.seconds;
        const qint64 ms = seconds > 0 && seconds < 1e9 ? qint64(std::llround(seconds * 1000)) : 0;
        m_movieBitrate = bitrateFromSize(QFileInfo(file).size(), ms);
    } else {
        readFLVMetadata(file, m_movieWidth, m_movieHeight, m_movieBitrate);
        // A file whose metadata gives no rates (a plain muxer's output).
        if (m_movieBitrate == 0)
            m_movieBitrate = estimatedFLVBitrate(file);
    }
    showMetadata();
    updateImportButton();
}

void ImportVideoController::updateImportButton()
{
    m_btnImport->setEnabled(!m_converting || m_conversion->canConvert());
}

void ImportVideoController::showMetadata()
{
    m_lblMovieSize->setText(QStringLiteral("%1 x %2").arg(m_movieWidth).arg(m_movieHeight));
    m_lblMovieBitrate->setText(QStringLiteral("%1 kbps").arg(m_movieBitrate));
}

void ImportVideoController::showWindow()
{
    show();
    raise();
    activateWindow();
}

void ImportVideoController::runJavaScriptAlertPanelWithMessage(const QString &message, int load)
{
    // A late message from an earlier movie must not replace this one's
    // figures; a movie to convert is described by what the converter read.
    if (load != m_webView->currentLoad() || m_converting)
        return;
    if (parseMetadataMessage(message, m_movieWidth, m_movieHeight, m_movieBitrate))
        showMetadata();
}

Album *ImportVideoController::liveAlbum() const
{
    const NodePtr node = m_gallery->data().findNode(m_albumId);
    return node && node->isAlbum() ? static_cast<Album *>(node.get()) : nullptr;
}

Video *ImportVideoController::liveVideo() const
{
    return m_videoId ? findVideo(m_gallery->data(), m_videoId) : nullptr;
}

void ImportVideoController::fail(const QString &what, const QString &why, const QString &name)
{
    QMessageBox box(QMessageBox::Warning, windowTitle(), what, QMessageBox::Ok, this);
    box.setObjectName(name);
    box.setInformativeText(why);
    box.exec();
}

void ImportVideoController::addVideoToAlbum(Album *album, const std::shared_ptr<Video> &video)
{
    // Undo sends the video's files to the trash, redo brings them back.
    QStringList files{m_prefs->imgPath(video->thumbFile())};
    for (const StreamPtr &stream : video->streams())
        files << m_prefs->imgPath(stream->file());
    m_gallery->addItems(album, {video}, files, tr("Import Video"));
}

void ImportVideoController::addStreamsToVideo(Video *video, const QList<StreamPtr> &streams)
{
    QStringList files;
    for (const StreamPtr &stream : streams)
        files << m_prefs->imgPath(stream->file());
    m_gallery->addStreams(video, streams, files);
}

void ImportVideoController::clickedImport()
{
    if ((!m_addingStream && !liveAlbum()) || (m_addingStream && !liveVideo())) {
        reject();
        return;
    }
    if (m_converting) {
        startConversion();
        return;
    }
    if (m_copy)
        return;
    const QString streamName = m_prefs->freeImgNames(videoStreamFileName).first();
    const QString streamPath = m_prefs->imgPath(streamName);
    // A few seconds of movie copy in a moment; anything longer is shown
    // and can be stopped.
    constexpr qint64 kBytesInBackground = 32 << 20;
    const qint64 size = QFileInfo(m_file).size();
    if (size < kBytesInBackground) {
        copied(streamName, FileWriter::copyFile(m_file, streamPath));
        return;
    }
    auto written = std::make_shared<WriteResult>();
    const QString from = m_file;
    auto *job = new Job(windowTitle(), [from, streamPath, size, written](JobControl &control) {
        control.setTotal(size);
        control.setLabel(tr("Copying \u201c%1\u201d into the gallery\u2026").arg(QFileInfo(from).fileName()));
        *written = FileWriter::copyFile(from, streamPath, FileWriter::Mode::CreateNew, [&](qint64 copied) {
            control.setDone(copied);
            return !control.stopRequested();
        });
    }, this);
    m_copy = job;
    connect(job, &Job::finished, this, [this, job, streamName, written] {
        job->deleteLater();
        if (!job->result().stopped)
            copied(streamName, *written);
    });
    JobSheet::run(this, job);
}

void ImportVideoController::copied(const QString &streamName, const WriteResult &written)
{
    const QString streamPath = m_prefs->imgPath(streamName);
    if (!written.ok()) {
        // Nothing is recorded that is not on disk. The file named is the one
        // that failed: the movie when it cannot be read, the gallery's copy
        // when it cannot be written.
        fail(tr("The video could not be copied into the gallery."),
             QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(written.path), written.reason));
        return;
    }
    // The album or video may have gone during a long copy.
    Album *album = liveAlbum();
    Video *video = m_addingStream ? liveVideo() : nullptr;
    if ((!m_addingStream && !album) || (m_addingStream && !video)) {
        QFile::remove(streamPath);
        reject();
        return;
    }
    auto stream = std::make_shared<VideoStream>();
    stream->setBitrate(m_movieBitrate);
    stream->setFile(streamName);
    if (m_addingStream) {
        addStreamsToVideo(video, {stream});
    } else {
        auto newVideo = std::make_shared<Video>();
        newVideo->setTitle(QFileInfo(m_file).completeBaseName());
        newVideo->addStream(stream);
        const QString thumbName = m_prefs->freeImgNames(videoThumbFileName).first();
        QString why;
        if (!copyResource(QStringLiteral("videothumb.jpg"), m_prefs->imgPath(thumbName), &why)) {
            QFile::remove(streamPath);
            fail(tr("The video's placeholder thumbnail could not be written."), why);
            return;
        }
        newVideo->setThumbFile(thumbName);
        addVideoToAlbum(album, newVideo);
    }
    accept();
}

void ImportVideoController::done(int result)
{
    // Every way out (Cancel, Escape, the close box, quitting) comes here.
    // Closing in the middle of a conversion stops it and adds nothing, even
    // if it was just done.
    if (m_job && !m_job->isFinished()) {
        m_closing = true;
        m_job->stop();
        m_job->waitForFinished();
        m_closing = false;
    }
    m_webView->loadEmpty(); // stops the movie
    QDialog::done(result);
}

} // namespace qm
