#pragma once

#include "mainwindow/DropHandler.h"
#include "mainwindow/Pasteboard.h"
#include "model/Album.h"
#include "storage/Gallery.h"

#include <QAbstractTableModel>

namespace qm {

// The items of the album selected in the tree, straight over the model.
// Changes go to the gallery document; its signals come back as row signals.
class ThumbnailCache;

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

    // Shows another album (or none); the views reset.
    void setAlbum(Album *album);
    Album *album() const { return m_album; }
    Item *itemAt(int row) const;
    ItemPtr itemPtrAt(int row) const;

signals:
    // The rows were rearranged by a drop; no row stays selected.
    void itemsReordered();

private:
    void connectGallery();
    void rowsChanged(int first, int last);

    QString picturePath(const Item &item) const;

    Gallery *m_gallery;
    DropHandler *m_dropHandler = nullptr;
    ThumbnailCache *m_thumbnails = nullptr;
    Pasteboard::ImageFilesCheck m_imageFiles;
    Album *m_album = nullptr;
    // Items under persistent indexes while the album is put in another order.
    QList<std::pair<QPersistentModelIndex, const Item *>> m_reordering;
};

} // namespace qm
