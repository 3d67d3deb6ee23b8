#include "import/ImportingPhotosController.h"

#include "imaging/ExifDate.h"
#include "imaging/ImageProc.h"
#include "import/DateForm.h"
#include "import/ImportPhotosController.h"
#include "model/Album.h"
#include "model/Photo.h"
#include "storage/Common.h"
#include "storage/Gallery.h"
#include "storage/Job.h"
#include "storage/JobSheet.h"
#include "storage/Preferences.h"

namespace qm {

ImportingPhotosController::ImportingPhotosController(Gallery *gallery, QWidget *window)
    : QObject(window)
    , m_gallery(gallery)
    , m_window(window)
{
}

ImportingPhotosController::~ImportingPhotosController()
{
    stopAndWait();
}

bool ImportingPhotosController::isRunning() const
{
    return m_job && !m_job->isFinished();
}

PhotoImportSettings importSettings(const PhotoImportRequest &r)
{
    PhotoImportSettings settings;
    settings.small = QSize(r.smallWidth, r.smallHeight);
    settings.normal = QSize(r.width, r.height);
    settings.large = QSize(r.largeWidth, r.largeHeight);
    settings.quality = r.quality;
    settings.createLarge = r.createLarge;
    settings.renderCopyright = r.renderCopyright;
    settings.copyrightText = r.copyrightText;
    settings.copyrightFont = r.copyrightFont;
    settings.copyrightColor = r.copyrightColor;
    settings.cameraDates = r.cameraDates;
    return settings;
}

QStringList inOrderTaken(const QStringList &files)
{
    QList<std::pair<QDateTime, QString>> taken;
    for (const QString &f : files)
        taken.append({ExifDate::dateTaken(f), f});
    // Those without a date after the dated ones, in the order they came.
    std::stable_sort(taken.begin(), taken.end(), [](const auto &a, const auto &b) {
        return a.first.isValid() && (!b.first.isValid() || a.first < b.first);
    });
    QStringList out;
    for (const auto &[when, file] : taken)
        out << file;
    return out;
}

void ImportingPhotosController::start(const PhotoImportRequest &r)
{
    if (isRunning() || !r.album)
        return;
    PhotoImportSettings settings = importSettings(r);
    // Dates are written the way the gallery already writes most of its own.
    if (r.cameraDates)
        settings.dateForm = DateForm::ofGallery(m_gallery->data());
    // The album and collections above it, for those still on the picture they were made with.
    const QList<std::pair<NodePtr, QString>> thumbnails = m_gallery->thumbnailChain(r.album);

    const std::shared_ptr<Gallery::Import> import = m_gallery->beginImport(r.album, tr("Photos"));
    auto failures = std::make_shared<QList<ImportFailure>>();
    // The worker's own word: a Stop during the last file stops nothing.
    auto stopped = std::make_shared<bool>(false);
    const int total = int(r.files.size());
    const QString albumTitle = r.album->title();
    const QStringList files = r.files;
    const QString folder = m_gallery->prefs().imgFolder();
    auto *job = new Job(tr("Importing Photos"), [=, gallery = m_gallery](JobControl &control) {
        // With the camera's dates the photos come in the order they were taken.
        PhotoImportWorker worker(settings.cameraDates ? inOrderTaken(files) : files, folder, settings);
        bool first = true;
        // Every file the run may write is recorded first: after a crash the
        // next open finds the ones no save named.
        QStringList planned;
        for (int i = 0; i < total; ++i) {
            const QString base = photoBaseName(worker.timeKey(), i + 1);
            planned << folder + QLatin1Char('/') + photoFileName(base) << folder + QLatin1Char('/') + photoSmallFileName(base);
            if (settings.createLarge)
                planned << folder + QLatin1Char('/') + photoLargeFileName(base);
        }
        QString unrecorded;
        if (!gallery->filesWillBeWritten(planned, &unrecorded)) {
            for (const QString &file : files)
                failures->append({file, unrecorded});
            return;
        }
        control.setTotal(qint64(worker.stepsPerFile()) * total);
        control.setLabel(total == 1 ? tr("Importing 1 picture into \u201c%1\u201d\u2026").arg(albumTitle)
                                    : tr("Importing %1 pictures into \u201c%2\u201d\u2026").arg(total).arg(albumTitle));
        // The worker reports on this thread; the photos reach the gallery on the GUI thread.
        QObject::connect(&worker, &PhotoImportWorker::stepsDone, &worker, [&](int steps) {
            control.setDone(steps);
            if (control.stopRequested())
                worker.stop();
        }, Qt::DirectConnection);
        QObject::connect(&worker, &PhotoImportWorker::photoReady, &worker, [&, import](const ImportedPhoto &imported) {
            QByteArray picture;
            QList<NodePtr> placeholders;
            if (std::exchange(first, false)) {
                for (const auto &[node, path] : thumbnails)
                    if (Gallery::isPlaceholderFile(path))
                        placeholders << node;
                if (!placeholders.isEmpty())
                    picture = ImageProc::scaleToJPEG(folder + QLatin1Char('/') + imported.imageFile, 60, 40, 80.0f);
            }
            control.post([import, imported, folder, picture, placeholders] {
                auto photo = std::make_shared<Photo>();
                photo->setTitle(imported.title);
                photo->setImageFile(imported.imageFile);
                photo->setSmallImageFile(imported.smallImageFile);
                if (!imported.date.isEmpty())
                    photo->setDate(imported.date);
                QStringList written{folder + QLatin1Char('/') + imported.imageFile,
                                    folder + QLatin1Char('/') + imported.smallImageFile};
                if (!imported.largeImageFile.isNull()) {
                    photo->setLargeImageFile(imported.largeImageFile);
                    written << folder + QLatin1Char('/') + imported.largeImageFile;
                }
                import->add(photo, written);
                import->setFirstPicture(picture, placeholders);
            });
            control.setLabel(tr("Imported: %1").arg(imported.title));
        }, Qt::DirectConnection);
        QObject::connect(&worker, &PhotoImportWorker::finished, &worker,
                         [&](const QList<ImportFailure> &failed, bool wasStopped) {
                             *failures = failed;
                             *stopped = wasStopped;
                         }, Qt::DirectConnection);
        worker.run();
    }, this);
    m_job = job;
    connect(job, &Job::finished, this, [this, job, import, failures, stopped] {
        const int added = import->count();
        Album *album = import->album();
        m_gallery->endImport(import);
        job->deleteLater();
        emit importFinished(album, added, *failures, *stopped);
    });
    JobSheet::run(m_window, job, tr("Stopping after the pictures in hand\u2026"));
}

void ImportingPhotosController::stopAndWait()
{
    if (!isRunning())
        return;
    m_job->stop();
    m_job->waitForFinished();
}

} // namespace qm
