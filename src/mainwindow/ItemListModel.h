#pragma once

#include "model/Album.h"

#include <QAbstractTableModel>

namespace qm {

class Data;
class DropHandler;

// The items of the selected album. The row count is cached so that items
// appended to the album from elsewhere (an import) can be announced to the
// views afterwards with sync(), instead of leaving them out of step.
class ItemListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { IndexColumn = 0, TitleColumn, DateColumn, LocationColumn, KindColumn, ColumnCount };
    enum Field { Title, Date, Location };

    explicit ItemListModel(Data *data, QObject *parent = nullptr);

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
    bool acceptDrop(const QMimeData *mime, int row, bool on);
    void setDropHandler(DropHandler *handler) { m_dropHandler = handler; }

    // Moves the items to `row` (a position between rows before the move).
    void reorder(const QList<ItemPtr> &items, int row);
    // Takes the items out of the album (files are the caller's business).
    void removeItems(const QList<ItemPtr> &items);

    // Shows another album (or none); the views reset.
    void setAlbum(Album *album);
    Album *album() const { return m_album; }
    Item *itemAt(int row) const;
    ItemPtr itemPtrAt(int row) const;

    // Re-reads the album after it changed behind the model's back: appended
    // rows are inserted, anything else resets.
    void sync();
    // One item's fields changed.
    void itemChanged(const Item *item);

    // Copies one field of the item at `row` to every other item of the album.
    void applyToRest(int row, Field field);

signals:
    // The rows were rearranged by a drop; no row stays selected.
    void itemsReordered();

private:
    Data *m_data;
    DropHandler *m_dropHandler = nullptr;
    mutable const QMimeData *m_checkedMime = nullptr;
    mutable QStringList m_checkedFiles;
    mutable bool m_checkedAllImages = false;
    Album *m_album = nullptr;
    int m_rows = 0;
};

} // namespace qm
