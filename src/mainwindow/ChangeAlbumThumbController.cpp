#include "mainwindow/ChangeAlbumThumbController.h"

#include "mainwindow/MyImageView.h"
#include "mainwindow/ThumbnailCache.h"
#include "model/Album.h"
#include "model/AlbumCollection.h"
#include "storage/Gallery.h"
#include "storage/Preferences.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListView>
#include <QPixmap>
#include <QPushButton>
#include <QSet>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

namespace qm {

QStringList thumbnailCandidates(const QString &imgFolder)
{
    QStringList found;
    if (imgFolder.isEmpty())
        return found;
    const QStringList names = QDir(imgFolder).entryList(QDir::Files | QDir::Readable, QDir::Name);
    for (const QString &name : names) {
        if (name.startsWith(QLatin1String("albthumb")) && QFileInfo(name).suffix() == QLatin1String("jpg"))
            found.append(name);
    }
    return found;
}

ThumbListModel::ThumbListModel(ThumbnailCache *thumbnails, QObject *parent)
    : QAbstractListModel(parent)
    , m_thumbnails(thumbnails)
{
    connect(thumbnails, &ThumbnailCache::thumbnailsReady, this, [this](const QStringList &paths) {
        const QSet<QString> ready(paths.begin(), paths.end());
        for (int row = 0; row < m_files.size(); ++row) {
            if (ready.contains(m_folder + QLatin1Char('/') + m_files.at(row)))
                emit dataChanged(index(row), index(row), {Qt::DecorationRole});
        }
    });
}

void ThumbListModel::setFiles(const QString &folder, const QStringList &files)
{
    beginResetModel();
    m_folder = folder;
    m_files = files;
    endResetModel();
}

int ThumbListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_files.size());
}

QVariant ThumbListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_files.size())
        return {};
    const QString &name = m_files.at(index.row());
    if (role == Qt::DecorationRole)
        return m_thumbnails->thumbnail(m_folder + QLatin1Char('/') + name, QSize(60, 40));
    if (role == Qt::ToolTipRole || role == Qt::AccessibleTextRole)
        return name;
    return {};
}

ChangeAlbumThumbController::ChangeAlbumThumbController(Gallery *gallery, ThumbnailCache *thumbnails, QWidget *parent)
    : QDialog(parent)
    , m_gallery(gallery)
    , m_prefs(&gallery->prefs())
{
    setObjectName(QStringLiteral("pnlChangeAlbumThumb"));
    setWindowTitle(tr("Choose Thumbnail"));
    setWindowModality(Qt::WindowModal);
    m_model = new ThumbListModel(thumbnails, this);
    connect(&m_scan, &QFutureWatcherBase::finished, this, &ChangeAlbumThumbController::scanDone);
    m_tvThumbs = new QListView;
    m_tvThumbs->setObjectName(QStringLiteral("tvThumbs"));
    m_tvThumbs->setAccessibleName(tr("Thumbnails"));
    m_tvThumbs->setModel(m_model);
    m_tvThumbs->setViewMode(QListView::IconMode);
    m_tvThumbs->setIconSize(QSize(60, 40));
    m_tvThumbs->setGridSize(QSize(76, 56));
    m_tvThumbs->setResizeMode(QListView::Adjust);
    m_tvThumbs->setMovement(QListView::Static);
    m_tvThumbs->setUniformItemSizes(true);
    m_tvThumbs->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(m_tvThumbs->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ChangeAlbumThumbController::tableViewSelectionDidChange);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("btnCancel"));
    connect(buttons, &QDialogButtonBox::rejected, this, &ChangeAlbumThumbController::clickedCancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Click a picture to make it the thumbnail:")));
    layout->addWidget(m_tvThumbs, 1);
    layout->addWidget(buttons);
    resize(420, 320);
}

void ChangeAlbumThumbController::scanForThumbs()
{
    m_activateSelection = false;
    clearList();
    const QString folder = m_prefs->imgFolder();
    m_scan.setFuture(QtConcurrent::run([folder] { return thumbnailCandidates(folder); }));
}

void ChangeAlbumThumbController::scanDone()
{
    if (m_scan.isCanceled())
        return;
    m_model->setFiles(m_prefs->imgFolder(), m_scan.result());
    const Data &data = m_gallery->data();
    const TreeNode *node = data.selectedAlbum() ? static_cast<const TreeNode *>(data.selectedAlbum())
                                                : data.selectedCollection();
    if (node) {
        const int row = int(m_model->files().indexOf(node->thumbFile()));
        if (row >= 0) {
            const QModelIndex index = m_model->index(row);
            m_tvThumbs->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect);
            m_tvThumbs->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
            m_tvThumbs->scrollTo(index);
        }
    }
    m_activateSelection = true;
    emit scanned();
}

void ChangeAlbumThumbController::tableViewSelectionDidChange()
{
    const QModelIndexList rows = m_tvThumbs->selectionModel()->selectedIndexes();
    if (!m_activateSelection || rows.isEmpty())
        return;
    m_activateSelection = false;
    const QString file = m_model->files().at(rows.first().row());
    accept();
    // The thumbnail well follows the node through the gallery's signal.
    const Data &data = m_gallery->data();
    if (data.selectedAlbum())
        m_gallery->setThumbFile(data.selectedAlbum(), file);
    if (data.selectedCollection())
        m_gallery->setThumbFile(data.selectedCollection(), file);
    clearList();
    emit thumbnailChosen(file);
}

void ChangeAlbumThumbController::clickedCancel()
{
    m_scan.cancel();
    m_activateSelection = false;
    clearList();
    reject();
}

void ChangeAlbumThumbController::clearList()
{
    m_model->setFiles(QString(), {});
}

} // namespace qm
