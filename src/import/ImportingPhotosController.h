#pragma once

#include "import/PhotoImportWorker.h"

#include "storage/Job.h"

#include <QObject>
#include <QPointer>

class QWidget;

namespace qm {

class Album;
class Gallery;
struct PhotoImportRequest;

// The worker's settings for what the import sheet settled.
PhotoImportSettings importSettings(const PhotoImportRequest &request);
// The files in the order their cameras took them; those without a date last.
QStringList inOrderTaken(const QStringList &files);

// Runs a photo import as the application's background job behind the
// progress sheet, and hands the finished photos to the gallery: they reach
// the album on the GUI thread, in file order, once all their files are
// written, and the whole run becomes one step of Undo.
class ImportingPhotosController : public QObject
{
    Q_OBJECT
public:
    ImportingPhotosController(Gallery *gallery, QWidget *window);
    ~ImportingPhotosController() override;

    void start(const PhotoImportRequest &request);
    bool isRunning() const;
    Job *job() const { return m_job; }
    // Stops after the files in hand and waits for them: for quitting.
    void stopAndWait();

signals:
    // The run ended; `album` got `added` photos.
    void importFinished(qm::Album *album, int added, const QList<qm::ImportFailure> &failures, bool stopped);

private:
    Gallery *m_gallery;
    QWidget *m_window;
    QPointer<Job> m_job;
};

} // namespace qm
