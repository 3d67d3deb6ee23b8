#include "mainwindow/ItemListModel.h"

#include "mainwindow/DropHandler.h"
#include "mainwindow/Pasteboard.h"
#include "model/Data.h"
#include "model/Video.h"
#include "storage/Common.h"
#include "storage/Resources.h"

#include <QBrush>
#include <QColor>
#include <QIcon>
#include <QMimeData>
#include <QSet>

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
    if (!index.isValid())
        return Qt::ItemIsDropEnabled; // below the last row
    if (!itemAt(index.row()))
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren | Qt::ItemIsDragEnabled
                      | Qt::ItemIsDropEnabled;
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

Qt::DropActions ItemListModel::supportedDropActions() const
{
    return Qt::CopyAction | Qt::MoveAction;
}

Qt::DropActions ItemListModel::supportedDragActions() const
{
    return Qt::MoveAction;
}

QStringList ItemListModel::mimeTypes() const
{
    return {Pasteboard::PhotosType, QStringLiteral("text/uri-list")};
}

QMimeData *ItemListModel::mimeData(const QModelIndexList &indexes) const
{
    QList<int> rows;
    for (const QModelIndex &i : indexes) {
        if (i.isValid() && itemAt(i.row()))
            rows.append(i.row());
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QList<const Item *> items;
    for (int row : rows)
        items.append(itemAt(row));
    return Pasteboard::writeItems(items);
}

Qt::DropAction ItemListModel::validateDrop(const QMimeData *mime, int &row, bool &on) const
{
    if (!mime)
        return Qt::IgnoreAction;
    const QStringList files = Pasteboard::localFiles(mime);
    if (m_album && !files.isEmpty()) {
        if (mime != m_checkedMime || files != m_checkedFiles) {
            m_checkedMime = mime;
            m_checkedFiles = files;
            m_checkedAllImages = std::all_of(files.begin(), files.end(), Common::isValidImageFile);
        }
        if (m_checkedAllImages) {
            row = m_rows;
            on = false;
            return Qt::CopyAction;
        }
        if (files.size() == 1 && Pasteboard::isMovieFile(files.first())) {
            const Item *item = on ? itemAt(row) : nullptr;
            if (!item || !item->isVideo()) {
                row = m_rows;
                on = false;
            }
            return Qt::CopyAction;
        }
    }
    // Only items of the album shown here can be put in another order.
    if (Pasteboard::hasItems(mime) && !Pasteboard::readItems(mime, m_album).isEmpty()) {
        if (row < 0 || row > m_rows)
            row = m_rows;
        on = false;
        return Qt::MoveAction;
    }
    return Qt::IgnoreAction;
}

// Qt's drop positions: on a row (parent is that row), between rows (row),
// or on the empty area below them (neither).
static void dropPosition(int row, const QModelIndex &parent, int &r, bool &on)
{
    if (parent.isValid()) {
        r = parent.row();
        on = true;
    } else {
        r = row;
        on = false;
    }
}

bool ItemListModel::canDropMimeData(const QMimeData *mime, Qt::DropAction, int row, int,
                                    const QModelIndex &parent) const
{
    int r;
    bool on;
    dropPosition(row, parent, r, on);
    return validateDrop(mime, r, on) != Qt::IgnoreAction;
}

bool ItemListModel::dropMimeData(const QMimeData *mime, Qt::DropAction, int row, int, const QModelIndex &parent)
{
    int r;
    bool on;
    dropPosition(row, parent, r, on);
    if (validateDrop(mime, r, on) == Qt::IgnoreAction)
        return false;
    return acceptDrop(mime, r, on);
}

bool ItemListModel::acceptDrop(const QMimeData *mime, int row, bool on)
{
    if (!m_album)
        return false;
    const QStringList files = Pasteboard::localFiles(mime);
    if (!files.isEmpty()) {
        if (!m_dropHandler)
            return true;
        if (files.size() == 1 && Pasteboard::isMovieFile(files.first())) {
            Item *item = on && row >= 0 ? itemAt(row) : nullptr;
            m_dropHandler->importVideo(files.first(), m_album,
                                       item && item->isVideo() ? static_cast<Video *>(item) : nullptr);
        } else {
            m_dropHandler->importPhotos(files, m_album);
        }
        return true;
    }
    const QList<ItemPtr> items = Pasteboard::readItems(mime, m_album);
    if (items.isEmpty())
        return false;
    reorder(items, row < 0 ? m_rows : row);
    return true;
}

void ItemListModel::reorder(const QList<ItemPtr> &items, int row)
{
    if (!m_album)
        return;
    int r = row;
    for (const ItemPtr &item : items) {
        const int at = m_album->indexOfItem(item.get());
        if (at >= 0 && at < row)
            --r;
    }
    beginResetModel();
    for (const ItemPtr &item : items) // the list holds them while they are out
        m_album->removeItem(item.get());
    r = std::clamp(r, 0, int(m_album->items().size()));
    for (const ItemPtr &item : items)
        m_album->insertItem(item, r++);
    m_rows = int(m_album->items().size());
    endResetModel();
    m_data->setNeedsToSaveChanges(true);
    emit itemsReordered();
}

void ItemListModel::removeItems(const QList<ItemPtr> &items)
{
    if (!m_album)
        return;
    beginResetModel();
    for (const ItemPtr &item : items)
        m_album->removeItem(item.get());
    m_rows = int(m_album->items().size());
    endResetModel();
}

} // namespace qm
