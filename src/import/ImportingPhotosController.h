#pragma once

#include "import/PhotoImportWorker.h"

#include <QDialog>
#include <QPointer>

class QLabel;
class QProgressBar;
class QPushButton;
class QThread;

namespace qm {

class Album;
class Data;
class Preferences;
struct PhotoImportRequest;

// The progress sheet of a photo import and the hand-off between the worker
// thread and the model: photos reach the album here, on the GUI thread, in
// file order, once all their files are written.
class ImportingPhotosController : public QDialog
{
    Q_OBJECT
public:
    ImportingPhotosController(Data *data, Preferences *prefs, QWidget *parent = nullptr);
    ~ImportingPhotosController() override;

    void start(const PhotoImportRequest &request);
    bool isRunning() const { return m_thread != nullptr; }
    // Stops after the files in hand and waits for them: for quitting.
    void stopAndWait();

    QProgressBar *progindImporting() const { return m_progress; }
    QPushButton *btnStop() const { return m_btnStop; }

public slots:
    void clickedStop();

signals:
    // The run ended; `album` got `added` photos (it is null when the album
    // left the gallery meanwhile).
    void importFinished(qm::Album *album, int added, const QList<qm::ImportFailure> &failures, bool stopped);

protected:
    void reject() override; // Escape stops rather than hiding the sheet

private:
    void photoReady(const ImportedPhoto &photo);
    void runFinished(const QList<ImportFailure> &failures, bool stopped);
    Album *liveAlbum() const;

    Data *m_data;
    Preferences *m_prefs;
    QProgressBar *m_progress;
    QLabel *m_lblStatus;
    QPushButton *m_btnStop;
    QThread *m_thread = nullptr;
    PhotoImportWorker *m_worker = nullptr;
    quint64 m_albumId = 0;
    int m_total = 0;
    int m_added = 0;
};

} // namespace qm
