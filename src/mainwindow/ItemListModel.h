#pragma once

#include "mainwindow/DropHandler.h"
#include "mainwindow/Pasteboard.h"
#include "mainwindow/ThumbnailCache.h"
#include "model/Album.h"
#include "storage/Gallery.h"

#include <QAbstractTableModel>
#include <QPalette>

namespace qm {

// The items of the album selected in the tree, straight over the model.
// Changes go to the gallery document; its signals come back as row signals.
class FileChecks;
class ThumbnailCache;

// The files of an item that are not there ("img_1_sm.jpg (small)"), for the
// grid's mark; empty when all are, or not known yet.
inline constexpr int MissingFilesRole = Qt::UserRole + 41;

class ItemListModel : public QAbstractTableModel, public DropDecision
{
    Q_OBJECT
public:
    // The title comes first: it is what a view of one column (the grid)
    // shows, and the row number beside it is derived, not held. The table
    // shows the number first.
    enum Column { TitleColumn = 0, IndexColumn, DateColumn, LocationColumn, KindColumn, ColumnCount };
    explicit ItemListModel(Gallery *gallery, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Drag and drop: items are dragged in row order; validateDrop() may
    // move the proposed position (`row`, `on` a row or above it).
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    bool canDropMimeData(const QMimeData *mime, Qt::DropAction action, int row, int column,
                         const QModelIndex &parent) const override;
    bool dropMimeData(const QMimeData *mime, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;
    Qt::DropAction validateDrop(const QMimeData *mime, int &row, bool &on) const;
    Qt::DropAction dropAction(const QMimeData *mime, int row, const QModelIndex &parent) const override;
    bool acceptDrop(const QMimeData *mime, int row, bool on);
    void setDropHandler(DropHandler *handler) { m_dropHandler = handler; }
    // Pictures for the title column (the list's and the grid's sizes).
    void setThumbnails(ThumbnailCache *thumbnails);
    // The grid's picture size. Where a photo's small file is smaller than
    // that, the grid shows its normal file.
    void setGridThumbnailSize(QSize size);
    QSize gridThumbnailSize() const { return m_gridSize; }
    // Which files are there: items whose files are missing are marked.
    void setFileChecks(FileChecks *checks);
    QStringList missingFiles(const Item &item) const;
    // The index column's colour: quieter than the text, still easy to read.
    static QColor indexColor(const QPalette &palette);

    // Shows another album (or none); the views reset.
    void setAlbum(Album *album);
    Album *album() const { return m_album; }
    Item *itemAt(int row) const;
    ItemPtr itemPtrAt(int row) const;

private:
    void connectGallery();
    void rowsChanged(int first, int last);

    QString picturePath(const Item &item) const;
    QPixmap gridPicture(const Item &item) const;

    Gallery *m_gallery;
    DropHandler *m_dropHandler = nullptr;
    ThumbnailCache *m_thumbnails = nullptr;
    FileChecks *m_checks = nullptr;
    QSize m_gridSize = kGridThumbnailSize;
    Pasteboard::ImageFilesCheck m_imageFiles;
    Album *m_album = nullptr;
    // Items under persistent indexes while the album is put in another order.
    QList<std::pair<QPersistentModelIndex, const Item *>> m_reordering;
};

} // namespace qm
