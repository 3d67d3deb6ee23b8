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
    m_key = chooseKey();
}

quint64 PhotoImportWorker::chooseKey() const
{
    // Photos already in the gallery are never overwritten: a run in the same
    // hundredth as an earlier one, or after the clock was set back, moves on
    // to the next key whose names are all free.
    quint64 key = qm::timeKey();
    const QDir dir(m_imgFolder);
    while (!dir.entryList({QStringLiteral("img_%1_*").arg(timeKeyString(key))}, QDir::Files | QDir::Dirs | QDir::System
                                                                                     | QDir::Hidden)
                .isEmpty())
        ++key;
    return key;
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
        const float q = float(settings.quality) / 100.0f;
        QStringList written;
        auto write = [&](const QString &name, QSize box, bool copyright) {
            const QString path = folder + QLatin1Char('/') + name;
            QString why;
            const bool ok = copyright
                ? ImageProc::scaleImageAndSaveAsJPEG(picture, box.width(), box.height(), q, path,
                                                     settings.copyrightText, settings.copyrightFont,
                                                     settings.copyrightColor, &why)
                : ImageProc::scaleImageAndSaveAsJPEG(picture, box.width(), box.height(), q, path, &why);
            step(1);
            if (ok)
                written << path;
            else
                out.failure = QObject::tr("%1 could not be written: %2").arg(QDir::toNativeSeparators(path), why);
            return ok;
        };
        bool ok = write(photo.smallImageFile, settings.small, false)
            && write(photo.imageFile, settings.normal, settings.renderCopyright)
            && (!settings.createLarge || write(photo.largeImageFile, settings.large, settings.renderCopyright));
        if (!ok) {
            // No photo with missing files: take back what was written.
            for (const QString &path : written)
                QFile::remove(path);
            step(s - int(written.size()) - 1);
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
