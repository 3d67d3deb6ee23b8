#include "mainwindow/ThumbnailCache.h"

#include "imaging/ImageProc.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>
#include <QThread>
#include <QTimer>

namespace qm {

namespace {

// What a picture costs besides its pixels, and what a placeholder entry costs.
constexpr qint64 kEntryOverhead = 256;

} // namespace

ThumbnailCache::ThumbnailCache(QObject *parent)
    : QObject(parent)
{
    // One core is left to the GUI thread where there are few.
    m_pool.setMaxThreadCount(std::clamp(QThread::idealThreadCount() - 1, 1, 4));
    m_pool.setObjectName(QStringLiteral("thumbnails"));
    m_clock.start();
    if (qGuiApp)
        m_dpr = qGuiApp->devicePixelRatio();
}

ThumbnailCache::~ThumbnailCache()
{
    m_queue.clear();
    m_queued.clear();
    m_pool.clear();
    // Results posted after this are dropped with the object.
    m_pool.waitForDone();
}

void ThumbnailCache::setMaxBytes(qint64 bytes)
{
    m_maxBytes = std::max<qint64>(0, bytes);
    trim();
}

void ThumbnailCache::setMaxQueued(int n)
{
    m_maxQueued = std::max(1, n);
    while (int(m_queue.size()) > m_maxQueued) {
        m_queued.remove(m_queue.back());
        m_queue.pop_back();
    }
}

void ThumbnailCache::setThreadCount(int n)
{
    m_pool.setMaxThreadCount(std::max(1, n));
}

QPixmap ThumbnailCache::thumbnail(const QString &path, QSize size)
{
    if (size.isEmpty())
        return QPixmap();
    if (path.isEmpty())
        return placeholderPixmap(size, Status::Missing);
    const Key key{path, size};
    auto it = m_entries.find(key);
    if (it != m_entries.end()) {
        m_uses.splice(m_uses.begin(), m_uses, it->use);
        if (it->status == Status::Ready)
            return it->pixmap;
        if (m_clock.elapsed() - it->readAt > m_retryAfterMs)
            enqueue(key); // the placeholder stays until the file is read again
        return placeholderPixmap(size, it->status);
    }
    enqueue(key);
    return placeholderPixmap(size, Status::Loading);
}

void ThumbnailCache::setDevicePixelRatio(qreal ratio)
{
    if (ratio <= 0 || ratio == m_dpr)
        return;
    m_dpr = ratio;
    clear();
    m_placeholders.clear();
}

QSize ThumbnailCache::sourceSize(const QString &path, QSize size) const
{
    const auto it = m_entries.constFind(Key{path, size});
    return it == m_entries.constEnd() ? QSize() : it->source;
}

ThumbnailCache::Status ThumbnailCache::status(const QString &path, QSize size) const
{
    if (path.isEmpty())
        return Status::Missing;
    const auto it = m_entries.constFind(Key{path, size});
    return it == m_entries.constEnd() ? Status::Loading : it->status;
}

void ThumbnailCache::enqueue(const Key &key)
{
    if (m_running.contains(key))
        return;
    if (m_queued.contains(key)) {
        // Asked again: it is on screen now, so it goes first.
        auto at = std::find(m_queue.begin(), m_queue.end(), key);
        if (at != m_queue.begin()) {
            m_queue.erase(at);
            m_queue.push_front(key);
        }
    } else {
        m_queue.push_front(key);
        m_queued.insert(key);
        if (int(m_queue.size()) > m_maxQueued) {
            m_queued.remove(m_queue.back());
            m_queue.pop_back();
        }
    }
    startQueued();
}

void ThumbnailCache::startQueued()
{
    while (!m_queue.empty() && m_running.size() < m_pool.maxThreadCount()) {
        const Key key = m_queue.front();
        m_queue.pop_front();
        m_queued.remove(key);
        m_running.insert(key);
        const QSize pixels = (QSizeF(key.size) * m_dpr).toSize();
        m_pool.start([this, key, pixels] {
            Status status;
            QSize source;
            const QImage image = load(key.path, pixels, &status, &source);
            QMetaObject::invokeMethod(
                this, [this, key, image, status, source] { delivered(key, image, status, source); },
                Qt::QueuedConnection);
        });
    }
}

void ThumbnailCache::delivered(const Key &key, const QImage &image, Status status, QSize source)
{
    m_running.remove(key);
    // A file replaced while it was read is read again on the next ask.
    if (!m_stale.remove(key)) {
        Entry entry;
        entry.status = status;
        entry.source = source;
        if (status == Status::Ready) {
            entry.pixmap = QPixmap::fromImage(image);
            entry.pixmap.setDevicePixelRatio(m_dpr);
            entry.cost = image.sizeInBytes();
        }
        entry.cost += kEntryOverhead;
        entry.readAt = m_clock.elapsed();
        insert(key, std::move(entry));
    }
    startQueued();
    m_ready.append(key.path);
    if (!m_readySignalPending) {
        m_readySignalPending = true;
        QTimer::singleShot(0, this, [this] {
            m_readySignalPending = false;
            QStringList paths;
            paths.swap(m_ready);
            paths.removeDuplicates();
            emit thumbnailsReady(paths);
        });
    }
}

void ThumbnailCache::insert(const Key &key, Entry entry)
{
    auto old = m_entries.find(key);
    if (old != m_entries.end())
        erase(old);
    m_uses.push_front(key);
    entry.use = m_uses.begin();
    m_bytes += entry.cost;
    m_entries.insert(key, std::move(entry));
    trim();
}

void ThumbnailCache::erase(QHash<Key, Entry>::iterator it)
{
    m_bytes -= it->cost;
    m_uses.erase(it->use);
    m_entries.erase(it);
}

void ThumbnailCache::trim()
{
    // The newest picture always stays, however small the bound.
    while (m_bytes > m_maxBytes && m_entries.size() > 1)
        erase(m_entries.find(m_uses.back()));
}

void ThumbnailCache::invalidate(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    // Whole albums change at once (a delete, its undo): one pass, however many files.
    const QSet<QString> changed(paths.begin(), paths.end());
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (changed.contains(it.key().path)) {
            m_bytes -= it->cost;
            m_uses.erase(it->use);
            it = m_entries.erase(it);
        } else {
            ++it;
        }
    }
    for (const Key &key : std::as_const(m_running))
        if (changed.contains(key.path))
            m_stale.insert(key);
}

void ThumbnailCache::cancelPending()
{
    m_queue.clear();
    m_queued.clear();
}

void ThumbnailCache::cancelPending(const QList<QSize> &sizes)
{
    std::erase_if(m_queue, [&](const Key &key) {
        if (!sizes.contains(key.size))
            return false;
        m_queued.remove(key);
        return true;
    });
}

void ThumbnailCache::clear()
{
    cancelPending();
    m_entries.clear();
    m_uses.clear();
    m_bytes = 0;
    m_stale = m_running;
}

bool ThumbnailCache::waitForIdle(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!m_queue.empty() || !m_running.isEmpty() || m_readySignalPending) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (!m_running.isEmpty())
            QThread::usleep(200);
    }
    return true;
}

QImage ThumbnailCache::load(const QString &path, QSize size, Status *status, QSize *source)
{
    // Decoded as the import decodes (upright, sRGB, a JPEG shrunk while it
    // decodes), so a file the import would refuse, one cut short above all,
    // shows as broken rather than as a picture with a grey band.
    const Picture picture = ImageProc::loadPicture(path, {size});
    if (picture.isNull()) {
        *status = QFileInfo::exists(path) ? Status::Broken : Status::Missing;
        return placeholder(size, *status);
    }
    if (source)
        *source = picture.size;
    QSize fitted = picture.size;
    if (fitted.width() > size.width() || fitted.height() > size.height())
        fitted = picture.size.scaled(size, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    QImage image = picture.image;
    if (image.size() != fitted)
        image = image.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter p(&canvas);
    p.drawImage(QPoint((size.width() - fitted.width()) / 2, (size.height() - fitted.height()) / 2), image);
    p.end();
    *status = Status::Ready;
    return canvas;
}

QImage ThumbnailCache::placeholder(QSize size, Status status)
{
    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    if (size.isEmpty())
        return canvas;
    QPainter p(&canvas);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(size.width(), size.height());
    QRectF frame(0, 0, side * 0.86, side * 0.66);
    frame.moveCenter(QRectF(QPointF(0, 0), QSizeF(size)).center());
    if (status == Status::Loading) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(128, 128, 128, 40));
        p.drawRoundedRect(frame, side * 0.06, side * 0.06);
        return canvas;
    }
    // A picture frame with a hill and a sun, crossed out: a picture that is not there.
    const qreal pen = std::max(1.0, side / 24);
    p.setPen(QPen(QColor(0x80, 0x80, 0x80), pen));
    p.setBrush(QColor(0xee, 0xee, 0xee));
    p.drawRoundedRect(frame, side * 0.06, side * 0.06);
    const QRectF inner = frame.adjusted(side * 0.12, side * 0.12, -side * 0.12, -side * 0.12);
    QPainterPath hill;
    hill.moveTo(inner.bottomLeft());
    hill.lineTo(inner.left() + inner.width() * 0.4, inner.top() + inner.height() * 0.45);
    hill.lineTo(inner.left() + inner.width() * 0.65, inner.top() + inner.height() * 0.75);
    hill.lineTo(inner.left() + inner.width() * 0.8, inner.top() + inner.height() * 0.6);
    hill.lineTo(inner.bottomRight());
    hill.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xa8, 0xa8, 0xa8));
    p.drawPath(hill);
    p.drawEllipse(QPointF(inner.left() + inner.width() * 0.78, inner.top() + inner.height() * 0.22),
                  inner.height() * 0.14, inner.height() * 0.14);
    // Broken is marked red: that file needs looking at. Missing stays grey.
    p.setPen(QPen(status == Status::Broken ? QColor(0xc8, 0x32, 0x32) : QColor(0x70, 0x70, 0x70), pen * 1.5,
                  Qt::SolidLine, Qt::RoundCap));
    p.drawLine(frame.bottomLeft() + QPointF(side * 0.08, -side * 0.08),
               frame.topRight() + QPointF(-side * 0.08, side * 0.08));
    return canvas;
}

QPixmap ThumbnailCache::placeholderPixmap(QSize size, Status status)
{
    const quint64 key = quint64(size.width()) << 40 | quint64(size.height()) << 8 | quint64(status);
    auto it = m_placeholders.find(key);
    if (it == m_placeholders.end()) {
        QPixmap pixmap = QPixmap::fromImage(placeholder((QSizeF(size) * m_dpr).toSize(), status));
        pixmap.setDevicePixelRatio(m_dpr);
        it = m_placeholders.insert(key, pixmap);
    }
    return *it;
}

} // namespace qm
