#pragma once

#include <QAbstractListModel>
#include <QDialog>
#include <QFutureWatcher>
#include <QStringList>

class QListView;

namespace qm {

class Gallery;
class Preferences;
class ThumbnailCache;

// Thumbnail files of the img folder ("albthumb*.jpg", the extension in
// lower case), sorted by name.
QStringList thumbnailCandidates(const QString &imgFolder);

// The candidates as pictures, read off the GUI thread by the thumbnail
// cache and shown as they come.
class ThumbListModel : public QAbstractListModel
{
    Q_OBJECT
public:
    ThumbListModel(ThumbnailCache *thumbnails, QObject *parent = nullptr);
    void setFiles(const QString &folder, const QStringList &files);
    const QStringList &files() const { return m_files; }
    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    ThumbnailCache *m_thumbnails;
    QString m_folder;
    QStringList m_files;
};

// Lets the user give the selected album or collection one of the gallery's
// thumbnail files, also one another node uses. Picking a row is the choice.
class ChangeAlbumThumbController : public QDialog
{
    Q_OBJECT
public:
    ChangeAlbumThumbController(Gallery *gallery, ThumbnailCache *thumbnails, QWidget *parent = nullptr);

    // Fills the list and marks the current thumbnail without choosing it;
    // the folder is read off the GUI thread, and scanned() tells when.
    void scanForThumbs();
    bool isScanning() const { return m_scan.isRunning(); }
    QListView *tvThumbs() const { return m_tvThumbs; }
    const QStringList &files() const { return m_model->files(); }

public slots:
    void clickedCancel();

signals:
    void thumbnailChosen(const QString &file);
    void scanned();

private:
    void scanDone();
    void tableViewSelectionDidChange();
    void clearList();

    Gallery *m_gallery;
    Preferences *m_prefs;
    QListView *m_tvThumbs;
    ThumbListModel *m_model;
    QFutureWatcher<QStringList> m_scan;
    bool m_activateSelection = false;
};

} // namespace qm
