#include "mainwindow/Pasteboard.h"

#include "model/AlbumCollection.h"
#include "storage/Common.h"
#include "video/ConversionLadder.h"

#include <QDataStream>
#include <QSet>

#include <optional>
#include <QFileInfo>
#include <QHash>
#include <QMimeData>
#include <QRandomGenerator>
#include <QUrl>

namespace qm::Pasteboard {

namespace {

constexpr quint32 kMagic = 0x514d5246; // "QMRF"
constexpr qsizetype kMaxReferences = 10'000'000;

quint64 processToken()
{
    static const quint64 token = QRandomGenerator::global()->generate64() | 1;
    return token;
}

QByteArray encode(const QList<quint64> &ids)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << kMagic << processToken() << quint32(ids.size());
    for (quint64 id : ids)
        out << id;
    return bytes;
}

// Null optional for anything that is not a payload of this process.
std::optional<QList<quint64>> decode(const QByteArray &bytes)
{
    QDataStream in(bytes);
    quint32 magic = 0, count = 0;
    quint64 token = 0;
    in >> magic >> token >> count;
    if (in.status() != QDataStream::Ok || magic != kMagic || token != processToken())
        return std::nullopt;
    // The count must fit the bytes actually there.
    if (qsizetype(count) > kMaxReferences || qsizetype(count) * 8 != bytes.size() - 16)
        return std::nullopt;
    QList<quint64> ids;
    ids.reserve(count);
    for (quint32 i = 0; i < count; ++i) {
        quint64 id = 0;
        in >> id;
        ids.append(id);
    }
    if (in.status() != QDataStream::Ok)
        return std::nullopt;
    return ids;
}

std::optional<QList<quint64>> decode(const QMimeData *mime, const QString &type)
{
    if (!mime || !mime->hasFormat(type))
        return std::nullopt;
    return decode(mime->data(type));
}

} // namespace

QMimeData *writeItems(const QList<const Item *> &items)
{
    QList<quint64> ids;
    for (const Item *item : items)
        ids.append(item->id());
    auto *mime = new QMimeData;
    mime->setData(PhotosType, encode(ids));
    return mime;
}

QMimeData *writeNode(const TreeNode &node)
{
    auto *mime = new QMimeData;
    mime->setData(node.isAlbum() ? AlbumType : CollectionType, encode({node.id()}));
    return mime;
}

bool hasItems(const QMimeData *mime)
{
    return mime && mime->hasFormat(PhotosType);
}

bool hasAlbum(const QMimeData *mime)
{
    return mime && mime->hasFormat(AlbumType);
}

bool hasCollection(const QMimeData *mime)
{
    return mime && mime->hasFormat(CollectionType);
}

int itemCount(const QMimeData *mime)
{
    const auto ids = decode(mime, PhotosType);
    return ids ? int(ids->size()) : 0;
}

QList<ItemPtr> readItems(const QMimeData *mime, const Album *album)
{
    const auto ids = decode(mime, PhotosType);
    if (!ids || !album || ids->isEmpty())
        return {};
    QHash<quint64, ItemPtr> live;
    live.reserve(album->items().size());
    for (const ItemPtr &item : album->items())
        live.insert(item->id(), item);
    QList<ItemPtr> items;
    QSet<quint64> seen;
    for (quint64 id : *ids) {
        const ItemPtr item = live.value(id);
        if (!item)
            return {};
        if (!seen.contains(id)) { // a doubled reference moves the item once
            seen.insert(id);
            items.append(item);
        }
    }
    return items;
}

ItemPtr readFirstItem(const QMimeData *mime, const Data &data, const Album *likely)
{
    const auto ids = decode(mime, PhotosType);
    if (!ids || ids->isEmpty())
        return nullptr;
    if (likely) {
        for (const ItemPtr &item : likely->items()) {
            if (item->id() == ids->first())
                return item;
        }
    }
    return data.findItem(ids->first());
}

NodePtr readNode(const QMimeData *mime, const QString &type, const Data &data)
{
    const auto ids = decode(mime, type);
    if (!ids || ids->size() != 1)
        return nullptr;
    NodePtr node = data.findNode(ids->first());
    if (!node || node->isAlbum() != (type == AlbumType))
        return nullptr;
    return node;
}

QStringList localFiles(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls())
        return {};
    QStringList files;
    for (const QUrl &url : mime->urls()) {
        if (!url.isLocalFile())
            return {};
        files.append(QFileInfo(url.toLocalFile()).absoluteFilePath());
    }
    return files;
}

bool hasFiles(const QMimeData *mime)
{
    return !localFiles(mime).isEmpty();
}

bool isMovieFile(const QString &path)
{
    return hasMovieExtension(path) || hasSoundExtension(path);
}

bool ImageFilesCheck::all(const QMimeData *mime, const QStringList &files) const
{
    if (mime != m_mime || files != m_files) {
        m_mime = mime;
        m_files = files;
        m_all = std::all_of(files.begin(), files.end(), Common::isValidImageFile);
    }
    return m_all;
}

} // namespace qm::Pasteboard
