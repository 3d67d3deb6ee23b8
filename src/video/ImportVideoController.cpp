#include "video/ImportVideoController.h"

#include "model/Album.h"
#include "model/Data.h"
#include "model/Video.h"
#include "model/VideoStream.h"
#include "storage/BackgroundTask.h"
#include "storage/Common.h"
#include "storage/Preferences.h"
#include "storage/Resources.h"
#include "video/FLVMetadata.h"
#include "video/MetadataMessage.h"
#include "video/PlayerPage.h"
#include "video/PlayerView.h"

#include <QCloseEvent>
#include <QDir>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace qm {

namespace {

// A name of the pattern that is free in the img folder.
QString freeName(const Preferences &prefs, QString (*pattern)(quint64))
{
    quint64 key = timeKey();
    QString name = pattern(key);
    while (QFileInfo::exists(prefs.imgPath(name)))
        name = pattern(++key);
    return name;
}

// Finds a video among all albums' items by id.
Video *findVideo(const Data &data, quint64 id)
{
    const ItemPtr item = data.findItem(id);
    return item && item->isVideo() ? static_cast<Video *>(item.get()) : nullptr;
}

} // namespace

ImportVideoController::ImportVideoController(Data *data, Preferences *prefs, QWidget *parent)
    : QDialog(parent)
    , m_data(data)
    , m_prefs(prefs)
{
    setObjectName(QStringLiteral("winImportVideo"));
    setWindowModality(Qt::WindowModal);
    m_webView = new PlayerView;
    m_lblMovieSize = new QLabel;
    m_lblMovieSize->setObjectName(QStringLiteral("lblMovieSize"));
    m_lblMovieBitrate = new QLabel;
    m_lblMovieBitrate->setObjectName(QStringLiteral("lblMovieBitrate"));
    connect(m_webView, &PlayerView::metadataMessage, this, &ImportVideoController::runJavaScriptAlertPanelWithMessage);

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
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 8);
    layout->addWidget(m_webView, 1);
    auto *lower = new QVBoxLayout;
    lower->setContentsMargins(12, 0, 12, 0);
    lower->addLayout(info);
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

void ImportVideoController::setFile(const QString &file, Album *album)
{
    m_lblMovieSize->clear();
    m_lblMovieBitrate->clear();
    m_file = file;
    m_albumId = album ? album->id() : 0;
    m_webView->load(preparePlayerPage(file).url);
    // Width and height stay when the file does not name them.
    readFLVMetadata(file, m_movieWidth, m_movieHeight, m_movieBitrate);
    showMetadata();
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
    // A late message from an earlier movie must not replace this one's figures.
    if (load != m_webView->currentLoad())
        return;
    if (parseMetadataMessage(message, m_movieWidth, m_movieHeight, m_movieBitrate))
        showMetadata();
}

Album *ImportVideoController::liveAlbum() const
{
    const NodePtr node = m_data->findNode(m_albumId);
    return node && node->isAlbum() ? static_cast<Album *>(node.get()) : nullptr;
}

Video *ImportVideoController::liveVideo() const
{
    return m_videoId ? findVideo(*m_data, m_videoId) : nullptr;
}

void ImportVideoController::insertStreamByBitrate(Video &video, const std::shared_ptr<VideoStream> &stream)
{
    QList<StreamPtr> &streams = video.streams();
    for (qsizetype i = 0; i < streams.size(); ++i) {
        if (streams[i]->bitrate() < stream->bitrate()) {
            streams.insert(i, stream);
            return;
        }
    }
    video.addStream(stream);
}

WriteResult ImportVideoController::copyMovie(const QString &from, const QString &to)
{
    // A few seconds of movie copy in a moment; anything longer is shown
    // and can be stopped.
    constexpr qint64 kBytesInBackground = 32 << 20;
    const qint64 size = QFileInfo(from).size();
    if (size < kBytesInBackground)
        return FileWriter::copyFile(from, to);
    WriteResult result{to, tr("the copy did not start")};
    BackgroundTask::run(this, windowTitle(),
                        tr("Copying \u201c%1\u201d into the gallery\u2026").arg(QFileInfo(from).fileName()),
                        tr("Stopping\u2026"), size, [&](const std::atomic_bool &stop, std::atomic<qint64> &done) {
                            result = FileWriter::copyFile(from, to, FileWriter::Mode::CreateNew, &stop, &done);
                        });
    return result;
}

void ImportVideoController::clickedImport()
{
    Album *album = liveAlbum();
    Video *video = m_addingStream ? liveVideo() : nullptr;
    if ((!m_addingStream && !album) || (m_addingStream && !video)) {
        reject();
        return;
    }
    auto fail = [this](const QString &what, const QString &why) {
        QMessageBox box(QMessageBox::Warning, windowTitle(), what, QMessageBox::Ok, this);
        box.setInformativeText(why);
        box.exec();
    };
    const QString streamName = freeName(*m_prefs, videoStreamFileName);
    const QString streamPath = m_prefs->imgPath(streamName);
    const WriteResult copied = copyMovie(m_file, streamPath);
    if (copied.reason == FileWriter::stoppedReason())
        return; // the window stays, for another try or Cancel
    if (!copied) {
        // Nothing is recorded that is not on disk.
        fail(tr("The video could not be copied into the gallery."),
             QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(copied.path), copied.reason));
        return;
    }
    // The main window stays usable during a long copy: the album or video
    // may have gone meanwhile (another gallery opened).
    album = liveAlbum();
    video = m_addingStream ? liveVideo() : nullptr;
    if ((!m_addingStream && !album) || (m_addingStream && !video)) {
        QFile::remove(streamPath);
        reject();
        return;
    }
    auto stream = std::make_shared<VideoStream>();
    stream->setBitrate(m_movieBitrate);
    stream->setFile(streamName);

    if (m_addingStream) {
        insertStreamByBitrate(*video, stream);
    } else {
        auto newVideo = std::make_shared<Video>();
        newVideo->setTitle(QFileInfo(m_file).completeBaseName());
        newVideo->addStream(stream);
        const QString thumbName = freeName(*m_prefs, videoThumbFileName);
        QString why;
        if (!copyResource(QStringLiteral("videothumb.jpg"), m_prefs->imgPath(thumbName), &why)) {
            QFile::remove(streamPath);
            fail(tr("The video's placeholder thumbnail could not be written."), why);
            return;
        }
        newVideo->setThumbFile(thumbName);
        album->addItem(newVideo);
        video = newVideo.get();
    }
    m_data->setNeedsToSaveChanges(true);
    emit videoImported(album, video);
    accept();
}

void ImportVideoController::done(int result)
{
    m_webView->loadEmpty(); // stops the movie
    QDialog::done(result);
}

void ImportVideoController::closeEvent(QCloseEvent *event)
{
    m_webView->loadEmpty();
    QDialog::closeEvent(event);
}

} // namespace qm
