#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QSet>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <deque>
#include <list>

namespace qm {

// The sizes the item views show pictures at.
inline constexpr QSize kListThumbnailSize(40, 40);
inline constexpr QSize kGridThumbnailSize(128, 128);
inline constexpr QSize kTreeThumbnailSize(36, 24); // album thumbnails are 60 x 40
// The item model's role for the grid's larger picture (a QPixmap of
// kGridThumbnailSize); Qt::DecorationRole carries the list's.
inline constexpr int GridThumbnailRole = Qt::UserRole + 40;

// Small pictures for the item list and the album tree. A model asks from
// data() with the file's path and the size it shows; the answer comes at
// once, from memory, and is the picture when it has been read or a
// placeholder while it is being read or when it cannot be. Files are read
// on threads of the cache's own, most recently asked first, so the rows on
// screen come before rows scrolled past; asks that have waited behind too
// many newer ones are dropped (their rows are long off screen, and a row
// that shows again asks again). What was read is kept up to a memory bound,
// the least recently shown going first.
//
// Every picture is a canvas of exactly the size asked for, the picture
// fitted and centred on it (never enlarged), so rows line up. Sizes are
// the views' own; the pictures are read for the screen's pixels (twice as
// many on a screen of scale 2), so they are sharp at any scale. A file that
// was missing or broken is looked at again when asked for a few seconds
// later (it may have come back); a file replaced under its name needs
// invalidate().
class ThumbnailCache : public QObject
{
    Q_OBJECT
public:
    enum class Status { Loading, Ready, Missing, Broken };

    explicit ThumbnailCache(QObject *parent = nullptr);
    ~ThumbnailCache() override; // drops queued work, waits for pictures being read

    // Never blocks. A null or empty path answers with the missing-file placeholder.
    QPixmap thumbnail(const QString &path, QSize size);
    Status status(const QString &path, QSize size) const;
    // The pixel size of the file a ready picture was read from.
    QSize sourceSize(const QString &path, QSize size) const;
    // Screen pixels per view pixel; set from the application at first.
    void setDevicePixelRatio(qreal ratio);
    qreal devicePixelRatio() const { return m_dpr; }

    // The files were replaced: their pictures are read again when next asked
    // for. Reads of other files carry on.
    void invalidate(const QStringList &paths);
    void invalidate(const QString &path) { invalidate(QStringList{path}); }
    // Drops every ask not yet started.
    void cancelPending();
    // Drops the asks not yet started for pictures of these sizes only: one
    // view moves on (another album is shown) while the others keep theirs.
    void cancelPending(const QList<QSize> &sizes);
    // Forgets everything (another gallery is opened).
    void clear();

    void setMaxBytes(qint64 bytes);
    qint64 maxBytes() const { return m_maxBytes; }
    qint64 bytes() const { return m_bytes; }
    int count() const { return int(m_entries.size()); }
    // How many asks may wait; older ones are dropped.
    void setMaxQueued(int n);
    int queuedCount() const { return int(m_queue.size()); }
    void setThreadCount(int n);
    // How long a missing or broken file's answer stands before it is looked at again.
    void setRetryAfter(int ms) { m_retryAfterMs = ms; }

    // Lets events run until every ask was answered: for tests and benchmarks.
    bool waitForIdle(int timeoutMs = 30000);

    // The reading itself, on any thread: the picture as the import decodes
    // it, fitted and centred on the canvas.
    static QImage load(const QString &path, QSize size, Status *status, QSize *source = nullptr);
    // What a picture that cannot be shown looks like (Missing, Broken), and
    // the faint frame shown while it is read (Loading).
    static QImage placeholder(QSize size, Status status);

signals:
    // Pictures became ready (or turned out missing or broken) since the last
    // signal; sent at most once per turn of the event loop.
    void thumbnailsReady(const QStringList &paths);

private:
    struct Key
    {
        QString path;
        QSize size;
        bool operator==(const Key &o) const { return size == o.size && path == o.path; }
    };
    friend size_t qHash(const Key &k, size_t seed) { return qHashMulti(seed, k.path, k.size.width(), k.size.height()); }
    struct Entry
    {
        QPixmap pixmap; // null unless Ready
        Status status = Status::Loading;
        qint64 cost = 0;
        qint64 readAt = 0; // m_clock milliseconds
        QSize source;
        std::list<Key>::iterator use;
    };

    QPixmap placeholderPixmap(QSize size, Status status);
    void enqueue(const Key &key);
    void startQueued();
    void delivered(const Key &key, const QImage &image, Status status, QSize source);
    void insert(const Key &key, Entry entry);
    void erase(QHash<Key, Entry>::iterator it);
    void trim();

    QHash<Key, Entry> m_entries;
    std::list<Key> m_uses; // front: most recently shown
    qint64 m_bytes = 0;
    qint64 m_maxBytes = 48ll << 20;

    std::deque<Key> m_queue; // front: most recently asked
    QSet<Key> m_queued;
    QSet<Key> m_running;
    int m_maxQueued = 300;
    int m_retryAfterMs = 3000;
    QSet<Key> m_stale; // running reads whose file changed under them: their result is dropped

    QStringList m_ready;
    bool m_readySignalPending = false;
    QHash<quint64, QPixmap> m_placeholders;
    qreal m_dpr = 1;
    QElapsedTimer m_clock;
    QThreadPool m_pool;
};

} // namespace qm
