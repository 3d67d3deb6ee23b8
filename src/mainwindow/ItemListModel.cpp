#include "mainwindow/ItemListModel.h"

#include "model/Data.h"
#include "storage/Resources.h"

#include <QBrush>
#include <QColor>
#include <QIcon>

namespace qm {

ItemListModel::ItemListModel(Data *data, QObject *parent)
    : QAbstractTableModel(parent)
    , m_data(data)
{
}

int ItemListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int ItemListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

Item *ItemListModel::itemAt(int row) const
{
    if (!m_album || row < 0 || row >= m_rows || row >= m_album->items().size())
        return nullptr;
    return m_album->items().at(row).get();
}

ItemPtr ItemListModel::itemPtrAt(int row) const
{
    if (!itemAt(row))
        return nullptr;
    return m_album->items().at(row);
}

QVariant ItemListModel::data(const QModelIndex &index, int role) const
{
    const Item *item = itemAt(index.row());
    if (!item)
        return {};
    const int column = index.column();
    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        switch (column) {
        case IndexColumn:
            return QString::number(index.row() + 1);
        case TitleColumn:
            return item->title();
        case DateColumn:
            return item->date();
        case LocationColumn:
            return item->location();
        default:
            return QString();
        }
    }
    if (role == Qt::DecorationRole && column == KindColumn) {
        static const QIcon photo(resourcePath(QStringLiteral("photokind.png")));
        static const QIcon video(resourcePath(QStringLiteral("videokind.png")));
        return item->isPhoto() ? photo : video;
    }
    if (role == Qt::ToolTipRole && column == KindColumn)
        return item->isPhoto() ? tr("Photo") : tr("Video");
    if (role == Qt::ForegroundRole && column == IndexColumn)
        return QBrush(QColor(Qt::lightGray));
    if (role == Qt::TextAlignmentRole && column == IndexColumn)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

bool ItemListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    Item *item = itemAt(index.row());
    if (!item || role != Qt::EditRole)
        return false;
    const QString text = value.toString();
    switch (index.column()) {
    case TitleColumn:
        item->setTitle(text);
        break;
    case DateColumn:
        item->setDate(text);
        break;
    case LocationColumn:
        item->setLocation(text);
        break;
    default:
        return false;
    }
    m_data->setNeedsToSaveChanges(true);
    emit dataChanged(index, index);
    return true;
}

Qt::ItemFlags ItemListModel::flags(const QModelIndex &index) const
{
    if (!itemAt(index.row()))
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    const int c = index.column();
    if (c == TitleColumn || c == DateColumn || c == LocationColumn)
        f |= Qt::ItemIsEditable;
    return f;
}

QVariant ItemListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case IndexColumn:
        return tr("#");
    case TitleColumn:
        return tr("Title");
    case DateColumn:
        return tr("Date");
    case LocationColumn:
        return tr("Location");
    case KindColumn:
        return tr("Kind");
    }
    return {};
}

void ItemListModel::setAlbum(Album *album)
{
    beginResetModel();
    m_album = album;
    m_rows = album ? int(album->items().size()) : 0;
    endResetModel();
}

void ItemListModel::sync()
{
    const int now = m_album ? int(m_album->items().size()) : 0;
    if (now > m_rows) {
        beginInsertRows({}, m_rows, now - 1);
        m_rows = now;
        endInsertRows();
    } else if (now != m_rows) {
        beginResetModel();
        m_rows = now;
        endResetModel();
    } else if (m_rows > 0) {
        emit dataChanged(index(0, 0), index(m_rows - 1, ColumnCount - 1));
    }
}

void ItemListModel::itemChanged(const Item *item)
{
    if (!m_album)
        return;
    const int row = m_album->indexOfItem(item);
    if (row >= 0 && row < m_rows)
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void ItemListModel::applyToRest(int row, Field field)
{
    const Item *source = itemAt(row);
    if (!source || m_rows < 2)
        return;
    const QString value = field == Title ? source->title() : field == Date ? source->date() : source->location();
    const QList<ItemPtr> &items = m_album->items();
    for (int i = 0; i < items.size(); ++i) {
        if (i == row)
            continue;
        Item *item = items[i].get();
        if (field == Title)
            item->setTitle(value);
        else if (field == Date)
            item->setDate(value);
        else
            item->setLocation(value);
    }
    // Losing a bulk edit at quit would be worse than an extra save.
    m_data->setNeedsToSaveChanges(true);
    emit dataChanged(index(0, 0), index(m_rows - 1, ColumnCount - 1));
}

} // namespace qm
