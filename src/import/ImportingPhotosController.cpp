#include "import/ImportingPhotosController.h"

#include "import/ImportPhotosController.h"
#include "model/Album.h"
#include "model/Data.h"
#include "model/Photo.h"
#include "storage/Preferences.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

namespace qm {

ImportingPhotosController::ImportingPhotosController(Data *data, Preferences *prefs, QWidget *parent)
    : QDialog(parent)
    , m_data(data)
    , m_prefs(prefs)
{
    setObjectName(QStringLiteral("pnlImportingPhotos"));
    setWindowTitle(tr("Importing Photos"));
    setWindowModality(Qt::WindowModal);
    m_lblStatus = new QLabel;
    m_lblStatus->setObjectName(QStringLiteral("lblStatus"));
    m_lblStatus->setMinimumWidth(360);
    m_progress = new QProgressBar;
    m_progress->setObjectName(QStringLiteral("progindImporting"));
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(false);
    m_btnStop = new QPushButton(tr("Stop"));
    m_btnStop->setObjectName(QStringLiteral("btnStop"));
    connect(m_btnStop, &QPushButton::clicked, this, &ImportingPhotosController::clickedStop);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_lblStatus);
    layout->addWidget(m_progress);
    layout->addWidget(m_btnStop, 0, Qt::AlignRight);
}

ImportingPhotosController::~ImportingPhotosController()
{
    stopAndWait();
}

Album *ImportingPhotosController::liveAlbum() const
{
    // The sheet covers the window, but an album could still go (a gallery
    // switch at quit); never add to one that is no longer in the tree.
    const NodePtr node = m_data->findNode(m_albumId);
    return node && node->isAlbum() ? static_cast<Album *>(node.get()) : nullptr;
}

void ImportingPhotosController::start(const PhotoImportRequest &r)
{
    if (m_thread || !r.album)
        return;
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
    settings.dateForm = r.dateForm;

    m_albumId = r.album->id();
    m_total = int(r.files.size());
    m_added = 0;
    m_progress->setValue(0);
    m_lblStatus->setText(m_total == 1
                             ? tr("Importing 1 picture into \u201c%1\u201d...").arg(r.album->title())
                             : tr("Importing %1 pictures into \u201c%2\u201d...").arg(m_total).arg(r.album->title()));
    m_btnStop->setEnabled(true);

    m_thread = new QThread;
    m_worker = new PhotoImportWorker(r.files, m_prefs->imgFolder(), settings);
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::started, m_worker, &PhotoImportWorker::run);
    connect(m_worker, &PhotoImportWorker::progress, this, [this](double p) { m_progress->setValue(int(p * 10)); },
            Qt::QueuedConnection);
    connect(m_worker, &PhotoImportWorker::photoReady, this, &ImportingPhotosController::photoReady,
            Qt::QueuedConnection);
    connect(m_worker, &PhotoImportWorker::finished, this, &ImportingPhotosController::runFinished,
            Qt::QueuedConnection);
    open();
    m_thread->start();
}

void ImportingPhotosController::photoReady(const ImportedPhoto &imported)
{
    Album *album = liveAlbum();
    if (!album)
        return;
    auto photo = std::make_shared<Photo>();
    photo->setTitle(imported.title);
    photo->setImageFile(imported.imageFile);
    photo->setSmallImageFile(imported.smallImageFile);
    if (!imported.date.isEmpty())
        photo->setDate(imported.date);
    if (!imported.largeImageFile.isNull())
        photo->setLargeImageFile(imported.largeImageFile);
    album->addItem(photo);
    ++m_added;
    m_lblStatus->setText(tr("Imported %1 of %2: %3").arg(m_added).arg(m_total).arg(imported.title));
}

void ImportingPhotosController::runFinished(const QList<ImportFailure> &failures, bool stopped)
{
    if (!m_thread)
        return;
    m_thread->quit();
    m_thread->wait();
    delete m_worker;
    m_worker = nullptr;
    delete m_thread;
    m_thread = nullptr;
    accept();
    emit importFinished(liveAlbum(), m_added, failures, stopped);
}

void ImportingPhotosController::clickedStop()
{
    if (m_worker)
        m_worker->stop();
    m_btnStop->setEnabled(false);
    m_lblStatus->setText(tr("Stopping after the pictures in hand..."));
}

void ImportingPhotosController::reject()
{
    if (m_thread)
        clickedStop();
    else
        QDialog::reject();
}

void ImportingPhotosController::stopAndWait()
{
    if (!m_thread)
        return;
    m_worker->stop();
    m_thread->quit(); // run() returns first: quit takes effect after it
    m_thread->wait();
    // Photos finished meanwhile are in the queue; take them in before the end.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

} // namespace qm
