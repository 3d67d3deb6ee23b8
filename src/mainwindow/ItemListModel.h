#pragma once

#include "model/Album.h"

#include <QAbstractTableModel>

namespace qm {

class Data;

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

private:
    Data *m_data;
    Album *m_album = nullptr;
    int m_rows = 0;
};

} // namespace qm
