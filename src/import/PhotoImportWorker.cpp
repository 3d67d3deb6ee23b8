#include "import/PhotoImportWorker.h"

#include "imaging/ExifDate.h"
#include "imaging/ImageProc.h"
#include "storage/Common.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QtConcurrent>

#include <deque>

namespace qm {

namespace {

struct Outcome
{
    ImportedPhoto photo;
    QString failure; // empty when every file was written
};

} // namespace

QString importTitle(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

int writePhotoSizes(const Picture &picture, const PhotoImportSettings &settings, const QString &small,
                    const QString &normal, const QString &large, QString *failure, const std::function<void()> &stepDone)
{
    const float q = float(settings.quality) / 100.0f;
    QStringList written;
    auto write = [&](const QString &path, QSize box, bool copyright) {
        QString why;
        const bool ok = copyright
            ? ImageProc::scaleImageAndSaveAsJPEG(picture, box.width(), box.height(), q, path, settings.copyrightText,
                                                 settings.copyrightFont, settings.copyrightColor, &why)
            : ImageProc::scaleImageAndSaveAsJPEG(picture, box.width(), box.height(), q, path, &why);
        if (stepDone)
            stepDone();
        if (ok)
            written << path;
        else
            *failure = QObject::tr("%1 could not be written: %2").arg(QDir::toNativeSeparators(path), why);
        return ok;
    };
    const bool ok = write(small, settings.small, false) && write(normal, settings.normal, settings.renderCopyright)
        && (large.isEmpty() || write(large, settings.large, settings.renderCopyright));
    if (ok)
        return int(written.size());
    // No photo with missing files: take back what was written.
    for (const QString &path : std::as_const(written))
        QFile::remove(path);
    return int(written.size());
}

PhotoImportWorker::PhotoImportWorker(QStringList files, QString imgFolder, PhotoImportSettings settings,
                                     QObject *parent)
    : QObject(parent)
    , m_files(std::move(files))
    , m_imgFolder(std::move(imgFolder))
    , m_settings(std::move(settings))
{
    qRegisterMetaType<ImportedPhoto>();
    qRegisterMetaType<QList<ImportFailure>>();
    m_jobs = std::clamp(QThread::idealThreadCount(), 1, 4);
    m_key = freePhotoKey(m_imgFolder);
}

void PhotoImportWorker::run()
{
    const int n = int(m_files.size());
    const int s = stepsPerFile();
    const PhotoImportSettings settings = m_settings;
    const QString folder = m_imgFolder;
    const quint64 key = m_key;
    std::atomic_int stepsDone{0};
    // Each size written counts, on whichever thread wrote it.
    auto step = [&](int steps) { emit this->stepsDone(stepsDone += steps); };

    auto work = [&, settings, folder, key](int i) -> Outcome {
        Outcome out;
        ImportedPhoto &photo = out.photo;
        photo.index = i;
        photo.source = m_files.at(i);
        photo.title = importTitle(photo.source);
        const QString base = photoBaseName(key, i + 1);
        photo.imageFile = photoFileName(base);
        photo.smallImageFile = photoSmallFileName(base);
        if (settings.createLarge)
            photo.largeImageFile = photoLargeFileName(base);
        if (settings.cameraDates)
            photo.date = settings.dateForm.format(ExifDate::dateTaken(photo.source).date());

        QList<QSize> boxes{settings.small, settings.normal};
        if (settings.createLarge)
            boxes << settings.large;
        QString error;
        const Picture picture = ImageProc::loadPicture(photo.source, boxes, &error);
        if (picture.isNull()) {
            out.failure = error;
            step(s);
            return out;
        }
        QString failure;
        const int written = writePhotoSizes(picture, settings, folder + QLatin1Char('/') + photo.smallImageFile,
                                            folder + QLatin1Char('/') + photo.imageFile,
                                            settings.createLarge ? folder + QLatin1Char('/') + photo.largeImageFile : QString(),
                                            &failure, [&] { step(1); });
        if (!failure.isEmpty()) {
            out.failure = failure;
            step(s - written - 1);
        }
        return out;
    };

    // A few files at a time on the pool, taken back in list order.
    QList<ImportFailure> failures;
    std::deque<QFuture<Outcome>> inFlight;
    int next = 0;
    QThreadPool pool;
    pool.setMaxThreadCount(m_jobs);
    while (true) {
        while (!m_done && next < n && int(inFlight.size()) < m_jobs)
            inFlight.push_back(QtConcurrent::run(&pool, work, next++));
        if (inFlight.empty())
            break;
        const Outcome out = inFlight.front().result();
        inFlight.pop_front();
        if (out.failure.isEmpty())
            emit photoReady(out.photo);
        else
            failures.append({out.photo.source, out.failure});
    }
    emit finished(failures, m_done && next < n);
}

} // namespace qm
