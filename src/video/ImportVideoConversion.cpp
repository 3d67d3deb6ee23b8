// The import window's conversion of a movie that is not FLV: one decode
// into every stream of the ladder, as a background job.

#include "video/ImportVideoController.h"

#include "model/Album.h"
#include "model/Video.h"
#include "model/VideoStream.h"
#include "storage/Common.h"
#include "storage/Job.h"
#include "storage/Gallery.h"
#include "storage/JobSheet.h"
#include "storage/Preferences.h"
#include "storage/Resources.h"
#include "video/ConversionPanel.h"
#include "video/PlayerView.h"
#include "video/VideoThumbnail.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

namespace qm {

namespace {
const QString kConversionAlert = QStringLiteral("conversionAlert");
} // namespace

void ImportVideoController::startConversion()
{
    if (m_job || !m_probe.ok())
        return;
    ConversionRequest request;
    request.source = m_file;
    request.movie = m_probe.movie;
    request.settings = m_conversion->settings();
    if (request.settings.rungs.isEmpty())
        return;
    const QStringList missing = missingPlugins(request.settings.codec, request.movie.hasAudio);
    if (!missing.isEmpty()) {
        fail(tr("The movie cannot be converted: parts of GStreamer are not installed."),
             tr("Install the packages named here, then try again:\n%1").arg(missing.join(QLatin1Char('\n'))),
             kConversionAlert);
        return;
    }
    const QStringList names = m_gallery->newImgNames(videoStreamFileName, int(request.settings.rungs.size()));
    for (const QString &name : names)
        request.outputs << m_prefs->imgPath(name);
    if (!m_addingStream) {
        request.thumbnail = m_prefs->imgPath(m_gallery->newImgNames(videoThumbFileName).first());
        request.thumbnailSize = QSize(m_prefs->videoThumbWidth() > 0 ? m_prefs->videoThumbWidth() : kDefaultVideoThumbWidth,
                                      m_prefs->videoThumbHeight() > 0 ? m_prefs->videoThumbHeight()
                                                                      : kDefaultVideoThumbHeight);
        request.thumbnailQuality = m_prefs->videoThumbQuality() > 0 ? m_prefs->videoThumbQuality()
                                                                    : kDefaultVideoThumbQuality;
    }

    // The movie waits while it is converted.
    m_webView->pause();
    auto outcome = std::make_shared<ConversionOutcome>();
    m_outcome = outcome;
    const QString label = tr("Converting \u201c%1\u201d into %n stream(s)\u2026", nullptr, int(names.size()))
                              .arg(QFileInfo(m_file).fileName());
    m_job = new Job(
        tr("Converting a Movie"),
        [request, outcome, label](JobControl &control) {
            control.setLabel(label);
            *outcome = convertMovie(request, control);
        },
        this);
    connect(m_job, &Job::finished, this, &ImportVideoController::conversionFinished);
    JobSheet::run(this, m_job, tr("Stopping: the files made so far are removed\u2026"));
}

bool ImportVideoController::keepWhatPlays(const ConversionOutcome &outcome)
{
    QMessageBox box(QMessageBox::Warning, windowTitle(),
                    tr("The movie ends at %1 of %2.").arg(playerClock(outcome.endsAtMs), playerClock(outcome.statedMs)),
                    QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("endsEarlyAlert"));
    box.setInformativeText(tr("The rest of \u201c%1\u201d is missing or damaged. Convert what plays, or cancel "
                              "and add nothing?")
                               .arg(QFileInfo(m_file).fileName()));
    QPushButton *keep = box.addButton(tr("Convert What Plays"), QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(keep);
    box.exec();
    return box.clickedButton() == keep;
}

void ImportVideoController::conversionFinished()
{
    Job *job = m_job;
    m_job = nullptr;
    if (job)
        job->deleteLater();
    const std::shared_ptr<ConversionOutcome> outcome = std::move(m_outcome);
    if (!outcome || outcome->stopped)
        return; // nothing was kept; the window stays for another try
    if (m_closing) {
        outcome->removeFiles(); // closed or quit as it ended: nothing is added
        return;
    }
    if (!outcome->ok()) {
        fail(tr("The movie could not be converted."),
             QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(outcome->errorPath), outcome->error), kConversionAlert);
        return;
    }
    if (outcome->endsEarly() && !keepWhatPlays(*outcome)) {
        outcome->removeFiles();
        return; // the window stays, as after Stop
    }
    // The album went meanwhile (another gallery opened): the files are
    // taken back and nothing is added.
    Album *album = liveAlbum();
    Video *video = m_addingStream ? liveVideo() : nullptr;
    if (!album || (m_addingStream && !video)) {
        outcome->removeFiles();
        reject();
        return;
    }
    QList<StreamPtr> streams;
    for (const ConvertedStream &made : outcome->streams) {
        auto stream = std::make_shared<VideoStream>();
        stream->setBitrate(made.bitrate);
        stream->setFile(QFileInfo(made.path).fileName());
        streams << stream;
    }
    if (m_addingStream) {
        addStreamsToVideo(video, streams);
        accept();
        return;
    }
    auto newVideo = std::make_shared<Video>();
    newVideo->setTitle(QFileInfo(m_file).completeBaseName());
    for (const StreamPtr &stream : streams)
        newVideo->addStream(stream);
    QString thumbName = QFileInfo(outcome->thumbnail).fileName();
    if (thumbName.isEmpty()) {
        // No frame came from the movie: the placeholder, as for an FLV file.
        thumbName = m_gallery->newImgNames(videoThumbFileName).first();
        QString why;
        if (!copyResource(QStringLiteral("videothumb.jpg"), m_prefs->imgPath(thumbName), &why)) {
            outcome->removeFiles();
            fail(tr("The video's placeholder thumbnail could not be written."), why);
            return;
        }
    }
    newVideo->setThumbFile(thumbName);
    addVideoToAlbum(album, newVideo);
    accept();
}

} // namespace qm
