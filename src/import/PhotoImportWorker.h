#pragma once

#include "imaging/ImageProc.h"
#include "import/DateForm.h"

#include <QColor>
#include <QFont>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QSize>
#include <QStringList>

#include <atomic>
#include <functional>

namespace qm {

struct PhotoImportSettings
{
    QSize small;
    QSize normal;
    QSize large;
    int quality = 80; // percent
    bool createLarge = false;
    bool renderCopyright = false;
    QString copyrightText;
    QFont copyrightFont;
    QColor copyrightColor;
    // Each photo's date from the camera's record, written in `dateForm`.
    bool cameraDates = false;
    DateForm dateForm;
};

// One imported picture: its files are all written when this is sent.
struct ImportedPhoto
{
    int index = 0; // position in the run's file list
    QString source;
    QString title;
    QString imageFile;
    QString smallImageFile;
    QString largeImageFile; // null when no large size was made
    QString date;           // empty unless camera dates were asked for and found
};

struct ImportFailure
{
    QString path;
    QString reason;
};

// Writes the JPEG files of a list of pictures into the img folder. Meant to
// run on a thread of its own: run() works through the list and reports each
// finished photo, in list order, with photoReady(); the receiver adds them
// to the model. Pictures are decoded once each and processed a few at a
// time on the machine's cores; memory stays bounded by that number.
class PhotoImportWorker : public QObject
{
    Q_OBJECT
public:
    PhotoImportWorker(QStringList files, QString imgFolder, PhotoImportSettings settings, QObject *parent = nullptr);

    // The run's time key: the first one from now whose names are all free.
    quint64 timeKey() const { return m_key; }
    int stepsPerFile() const { return m_settings.createLarge ? 3 : 2; }
    // Safe from any thread; the files in hand are finished, no new one begun.
    void stop() { m_done = true; }
    void setParallelism(int jobs) { m_jobs = std::max(1, jobs); }

public slots:
    void run();

signals:
    // Sizes written so far (failed files count whole), out of steps per
    // file x files; sent from the thread that did the step.
    void stepsDone(int steps);
    void photoReady(const qm::ImportedPhoto &photo);
    void finished(const QList<qm::ImportFailure> &failures, bool stopped);

private:
    QStringList m_files;
    QString m_imgFolder;
    PhotoImportSettings m_settings;
    quint64 m_key = 0;
    int m_jobs = 1;
    std::atomic_bool m_done{false};
};

// Writes the small, normal and (with a path) large JPEG of a decoded
// picture by the settings' boxes, quality and copyright line; `stepDone`
// after each. On a failure (its reason in `failure`) the files already
// written are taken back. Returns how many were written (or attempted
// before the failure).
int writePhotoSizes(const Picture &picture, const PhotoImportSettings &settings, const QString &small,
                    const QString &normal, const QString &large, QString *failure,
                    const std::function<void()> &stepDone = nullptr);

// The title a source file gives its photo: the name without its last extension.
QString importTitle(const QString &path);

} // namespace qm

Q_DECLARE_METATYPE(qm::ImportedPhoto)
Q_DECLARE_METATYPE(qm::ImportFailure)
