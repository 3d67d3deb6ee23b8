#include "mainwindow/ItemListModel.h"

#include "mainwindow/DropHandler.h"
#include "mainwindow/FileChecks.h"
#include "mainwindow/Pasteboard.h"
#include "mainwindow/ThumbnailCache.h"
#include "model/Photo.h"
#include "model/Data.h"
#include "model/Video.h"
#include "storage/Preferences.h"
#include "storage/Resources.h"

#include <QBrush>
#include <QColor>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QMimeData>
#include <QSet>

#include <cmath>

namespace qm {

namespace {

// A red disc with an exclamation mark: something of this item is missing.
QIcon missingMark()
{
    static const QIcon icon = [] {
        QIcon out;
        for (int side : {16, 32, 64}) {
            QPixmap pixmap(side, side);
            pixmap.fill(Qt::transparent);
            QPainter p(&pixmap);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0xc8, 0x32, 0x32));
            p.drawEllipse(QRectF(0.5, 0.5, side - 1, side - 1));
            p.setPen(QPen(Qt::white, side / 8.0, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(side / 2.0, side * 0.22), QPointF(side / 2.0, side * 0.58));
            p.drawPoint(QPointF(side / 2.0, side * 0.76));
            out.addPixmap(pixmap);
        }
        return out;
    }();
    return icon;
}

} // namespace

ItemListModel::ItemListModel(Gallery *gallery, QObject *parent)
    : QAbstractTableModel(parent)
    , m_gallery(gallery)
{
    connectGallery();
}

void ItemListModel::connectGallery()
{
    Gallery *g = m_gallery;
    connect(g, &Gallery::aboutToReset, this, [this] { setAlbum(nullptr); });
    connect(g, &Gallery::nodeAboutToBeRemoved, this, [this](TreeNode *node) {
        const bool shown = m_album
            && (m_album == node
                || (node->isCollection() && m_album->isCollectionAncestor(static_cast<AlbumCollection *>(node))));
        if (shown)
            setAlbum(nullptr);
    });
    connect(g, &Gallery::itemsAboutToBeInserted, this, [this](Album *album, int first, int last) {
        if (album == m_album)
            beginInsertRows({}, first, last);
    });
    connect(g, &Gallery::itemsInserted, this, [this](Album *album) {
        if (album == m_album)
            endInsertRows();
    });
    connect(g, &Gallery::itemsAboutToBeRemoved, this, [this](Album *album, int first, int last) {
        if (album == m_album)
            beginRemoveRows({}, first, last);
    });
    connect(g, &Gallery::itemsRemoved, this, [this](Album *album) {
        if (album == m_album)
            endRemoveRows();
    });
    connect(g, &Gallery::itemsAboutToBeReordered, this, [this](Album *album) {
        if (album != m_album)
            return;
        emit layoutAboutToBeChanged();
        m_reordering.clear();
        for (const QModelIndex &i : persistentIndexList())
            m_reordering.append({QPersistentModelIndex(i), itemAt(i.row())});
    });
    connect(g, &Gallery::itemsReordered, this, [this](Album *album) {
        if (album != m_album)
            return;
        // Persistent indexes (the selection, the current row) follow their items.
        for (const auto &[index, item] : std::as_const(m_reordering)) {
            const int row = m_album->indexOfItem(item);
            changePersistentIndex(index, row < 0 ? QModelIndex() : this->index(row, index.column()));
        }
        m_reordering.clear();
        emit layoutChanged();
    });
    connect(g, &Gallery::itemChanged, this, [this](Item *item) {
        if (!m_album)
            return;
        const int row = m_album->indexOfItem(item);
        if (row >= 0)
            rowsChanged(row, row);
    });
}

void ItemListModel::setThumbnails(ThumbnailCache *thumbnails)
{
    m_thumbnails = thumbnails;
    // Pictures come in a few at a time; the views repaint what they show.
    connect(thumbnails, &ThumbnailCache::thumbnailsReady, this, [this] {
        if (rowCount() > 0)
            emit dataChanged(index(0, TitleColumn), index(rowCount() - 1, TitleColumn),
                             {Qt::DecorationRole, GridThumbnailRole});
    });
}

void ItemListModel::setGridThumbnailSize(QSize size)
{
    if (size == m_gridSize)
        return;
    if (m_thumbnails)
        m_thumbnails->cancelPending({m_gridSize});
    m_gridSize = size;
    if (rowCount() > 0)
        emit dataChanged(index(0, TitleColumn), index(rowCount() - 1, TitleColumn), {GridThumbnailRole});
}

void ItemListModel::setFileChecks(FileChecks *checks)
{
    m_checks = checks;
    connect(checks, &FileChecks::checked, this, [this] {
        if (rowCount() > 0)
            emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1),
                             {Qt::ForegroundRole, Qt::ToolTipRole, Qt::DecorationRole, MissingFilesRole});
    });
}

QStringList ItemListModel::missingFiles(const Item &item) const
{
    QStringList missing;
    if (!m_checks)
        return missing;
    const Preferences &prefs = m_gallery->prefs();
    auto check = [&](const QString &name, const QString &what) {
        if (!name.isNull() && m_checks->state(prefs.imgPath(name)) == FileChecks::State::Missing)
            missing << tr("%1 (%2)").arg(name.isEmpty() ? tr("no file") : name, what);
    };
    if (item.isPhoto()) {
        const auto &photo = static_cast<const Photo &>(item);
        check(photo.imageFile().isNull() ? QStringLiteral("") : photo.imageFile(), tr("normal size"));
        check(photo.smallImageFile().isNull() ? QStringLiteral("") : photo.smallImageFile(), tr("small size"));
        check(photo.largeImageFile(), tr("large size"));
    } else {
        const auto &video = static_cast<const Video &>(item);
        check(video.thumbFile(), tr("thumbnail"));
        for (const StreamPtr &stream : video.streams())
            check(stream->file(), tr("%1 kbps stream").arg(stream->bitrate()));
    }
    return missing;
}

QColor ItemListModel::indexColor(const QPalette &palette)
{
    // Half way from the text towards the background, as far as a contrast
    // of 4.5 to 1 allows.
    auto luminance = [](const QColor &c) {
        auto channel = [](qreal v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const QColor text = palette.color(QPalette::Text), base = palette.color(QPalette::Base);
    const qreal lb = luminance(base);
    for (qreal t = 0.5; t > 0; t -= 0.05) {
        const QColor c = QColor::fromRgbF(text.redF() + (base.redF() - text.redF()) * t,
                                          text.greenF() + (base.greenF() - text.greenF()) * t,
                                          text.blueF() + (base.blueF() - text.blueF()) * t);
        const qreal lc = luminance(c);
        if ((std::max(lc, lb) + 0.05) / (std::min(lc, lb) + 0.05) >= 4.5)
            return c;
    }
    return text;
}

QPixmap ItemListModel::gridPicture(const Item &item) const
{
    const QString small = picturePath(item);
    const QPixmap picture = m_thumbnails->thumbnail(small, m_gridSize);
    if (!item.isPhoto() || m_thumbnails->status(small, m_gridSize) != ThumbnailCache::Status::Ready)
        return picture;
    // A small file smaller than the cell: the normal one, once it is read.
    const QSize source = m_thumbnails->sourceSize(small, m_gridSize);
    const QSizeF wanted = QSizeF(m_gridSize) * m_thumbnails->devicePixelRatio();
    if (source.width() >= wanted.width() || source.height() >= wanted.height())
        return picture;
    const QString normal = m_gallery->prefs().imgPath(static_cast<const Photo &>(item).imageFile());
    const QPixmap larger = m_thumbnails->thumbnail(normal, m_gridSize);
    return m_thumbnails->status(normal, m_gridSize) == ThumbnailCache::Status::Ready ? larger : picture;
}

QString ItemListModel::picturePath(const Item &item) const
{
    const QString name = item.isPhoto() ? static_cast<const Photo &>(item).smallImageFile()
                                        : static_cast<const Video &>(item).thumbFile();
    return m_gallery->prefs().imgPath(name);
}

void ItemListModel::rowsChanged(int first, int last)
{
    emit dataChanged(index(first, 0), index(last, ColumnCount - 1));
}

int ItemListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_album ? 0 : int(m_album->items().size());
}

int ItemListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

Item *ItemListModel::itemAt(int row) const
{
    if (!m_album || row < 0 || row >= m_album->items().size())
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
    if (m_thumbnails && column == TitleColumn && role == GridThumbnailRole)
        return gridPicture(*item);
    if (m_thumbnails && column == TitleColumn && role == Qt::DecorationRole)
        return m_thumbnails->thumbnail(picturePath(*item), kListThumbnailSize);
    if (role == MissingFilesRole || ((role == Qt::ToolTipRole || role == Qt::ForegroundRole) && column == TitleColumn)
        || ((role == Qt::ToolTipRole || role == Qt::DecorationRole) && column == KindColumn)) {
        const QStringList missing = missingFiles(*item);
        if (role == MissingFilesRole)
            return missing.isEmpty() ? QVariant() : QVariant(missing);
        if (!missing.isEmpty()) {
            if (role == Qt::ForegroundRole)
                return QBrush(QColor(0xb0, 0x20, 0x20));
            if (role == Qt::DecorationRole)
                return missingMark();
            return tr("Missing: %1").arg(missing.join(tr(", ")));
        }
        if (role == Qt::ForegroundRole)
            return {};
    }
    if (role == Qt::DecorationRole && column == KindColumn) {
        static const QIcon photo(resourcePath(QStringLiteral("photokind.png")));
        static const QIcon video(resourcePath(QStringLiteral("videokind.png")));
        return item->isPhoto() ? photo : video;
    }
    if (role == Qt::ToolTipRole && column == KindColumn)
        return item->isPhoto() ? tr("Photo") : tr("Video");
    if (role == Qt::ForegroundRole && column == IndexColumn)
        return QBrush(indexColor(QGuiApplication::palette()));
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
        m_gallery->setItemField(item, ItemField::Title, text);
        return true;
    case DateColumn:
        m_gallery->setItemField(item, ItemField::Date, text);
        return true;
    case LocationColumn:
        m_gallery->setItemField(item, ItemField::Location, text);
        return true;
    default:
        return false;
    }
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
    if ((c == TitleColumn || c == DateColumn || c == LocationColumn) && !m_gallery->isReadOnly())
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
    // The rows of the album shown before are no longer wanted; the album
    // tree's pictures, from the same cache, still are.
    if (m_thumbnails)
        m_thumbnails->cancelPending({kListThumbnailSize, m_gridSize});
    beginResetModel();
    m_album = album;
    endResetModel();
}

Qt::DropActions ItemListModel::supportedDropActions() const
{
    return Qt::CopyAction | Qt::MoveAction;
}

Qt::DropActions ItemListModel::supportedDragActions() const
{
    // Copy too: a photo dropped on a thumbnail well or a collection gives
    // its picture and stays where it is.
    return Qt::MoveAction | Qt::CopyAction;
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
    if (!mime || m_gallery->isReadOnly())
        return Qt::IgnoreAction;
    const QStringList files = Pasteboard::localFiles(mime);
    if (m_album && !files.isEmpty()) {
        if (m_imageFiles.all(mime, files)) {
            row = rowCount();
            on = false;
            return Qt::CopyAction;
        }
        if (files.size() == 1 && Pasteboard::isMovieFile(files.first())) {
            const Item *item = on ? itemAt(row) : nullptr;
            if (!item || !item->isVideo()) {
                row = rowCount();
                on = false;
            }
            return Qt::CopyAction;
        }
    }
    // Only items of the album shown here can be put in another order.
    if (Pasteboard::hasItems(mime) && !Pasteboard::readItems(mime, m_album).isEmpty()) {
        if (row < 0 || row > rowCount())
            row = rowCount();
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

Qt::DropAction ItemListModel::dropAction(const QMimeData *mime, int row, const QModelIndex &parent) const
{
    int r;
    bool on;
    dropPosition(row, parent, r, on);
    return validateDrop(mime, r, on);
}

bool ItemListModel::canDropMimeData(const QMimeData *mime, Qt::DropAction, int row, int,
                                    const QModelIndex &parent) const
{
    return dropAction(mime, row, parent) != Qt::IgnoreAction;
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
    m_gallery->reorderItems(m_album, items, row < 0 ? rowCount() : row);
    return true;
}

} // namespace qm
