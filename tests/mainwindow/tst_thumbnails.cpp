// The thumbnail cache: fitted pictures and placeholders, answers at once,
// memory and queue bounded, replaced files read again.

#include "common/TestFiles.h"
#include "mainwindow/ThumbnailCache.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace qm;

namespace {

bool near(QRgb a, QColor b)
{
    return std::abs(qRed(a) - b.red()) < 12 && std::abs(qGreen(a) - b.green()) < 12 && std::abs(qBlue(a) - b.blue()) < 12;
}

} // namespace

class TestThumbnails : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void picturesAndPlaceholders();
    void boundedNewestFirstAndReplaced();
    void neverWaitsForAFile();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestThumbnails::picturesAndPlaceholders()
{
    const QSize box(40, 40);
    const QString wide = testing::picture(m_dir->filePath("wide_sm.jpg"), {150, 50}, QColor(200, 30, 30));
    const QString broken = m_dir->filePath("broken_sm.jpg");
    QVERIFY(testing::writeBytes(broken, QByteArray("\xFF\xD8\xFF\xE0 not really a picture", 26)));
    const QString missing = m_dir->filePath("gone_sm.jpg");
    // Cut short by an interrupted copy: it decodes, with a grey band, but is not the picture.
    const QString cut = m_dir->filePath("cut_sm.jpg");
    QCOMPARE(QProcess::execute("convert", {"-size", "150x100", "gradient:red-blue", cut}), 0);
    const QByteArray whole = testing::readBytes(cut);
    QVERIFY(testing::writeBytes(cut, whole.left(whole.size() / 2)));
    // A portrait taken with the camera turned: stored wide, shown upright.
    const QString turned = testing::picture(m_dir->filePath("turned_sm.jpg"), {120, 60}, QColor(30, 30, 200));
    QCOMPARE(QProcess::execute("exiftool", {"-q", "-overwrite_original", "-Orientation#=6", turned}), 0);

    ThumbnailCache cache;
    QSignalSpy ready(&cache, &ThumbnailCache::thumbnailsReady);
    const QList<QString> paths{wide, broken, missing, turned, cut};
    for (const QString &p : paths) {
        const QPixmap first = cache.thumbnail(p, box);
        QCOMPARE(first.size(), box);
        QCOMPARE(cache.status(p, box), ThumbnailCache::Status::Loading);
    }
    QVERIFY(cache.waitForIdle());
    QStringList told;
    for (const QList<QVariant> &signal : ready)
        told += signal.at(0).toStringList();
    for (const QString &p : paths)
        QVERIFY2(told.contains(p), qPrintable(p));

    // Fitted and centred on a canvas of the size asked for, never enlarged.
    QImage w = cache.thumbnail(wide, box).toImage();
    QCOMPARE(cache.status(wide, box), ThumbnailCache::Status::Ready);
    QCOMPARE(w.size(), box);
    QVERIFY(near(w.pixel(20, 20), QColor(200, 30, 30)));
    QCOMPARE(qAlpha(w.pixel(20, 2)), 0); // above the picture
    const QImage t = cache.thumbnail(turned, box).toImage();
    QVERIFY(near(t.pixel(20, 20), QColor(30, 30, 200)));
    QCOMPARE(qAlpha(t.pixel(20, 2)), 255); // upright: tall, so it reaches the top
    QCOMPARE(qAlpha(t.pixel(2, 20)), 0);

    // What cannot be shown shows as such, at once the next time.
    QCOMPARE(cache.status(broken, box), ThumbnailCache::Status::Broken);
    QCOMPARE(cache.status(missing, box), ThumbnailCache::Status::Missing);
    QCOMPARE(cache.status(cut, box), ThumbnailCache::Status::Broken);
    QCOMPARE(cache.thumbnail(broken, box).toImage(), ThumbnailCache::placeholder(box, ThumbnailCache::Status::Broken));
    QCOMPARE(cache.thumbnail(missing, box).toImage(), ThumbnailCache::placeholder(box, ThumbnailCache::Status::Missing));
    QVERIFY(ThumbnailCache::placeholder(box, ThumbnailCache::Status::Broken)
            != ThumbnailCache::placeholder(box, ThumbnailCache::Status::Loading));
    QCOMPARE(cache.thumbnail(QString(), box).toImage(), ThumbnailCache::placeholder(box, ThumbnailCache::Status::Missing));
    QCOMPARE(cache.queuedCount(), 0);
    // A missing file that comes back (put back from the trash) shows once looked at again.
    QVERIFY(QFile::copy(wide, missing));
    cache.setRetryAfter(-1); // looked at again whenever it is asked for
    QCOMPARE(cache.thumbnail(missing, box).toImage(), ThumbnailCache::placeholder(box, ThumbnailCache::Status::Missing));
    QVERIFY(cache.waitForIdle());
    QCOMPARE(cache.status(missing, box), ThumbnailCache::Status::Ready);
}

void TestThumbnails::boundedNewestFirstAndReplaced()
{
    const QSize box(40, 40);
    QStringList files;
    for (int i = 0; i < 30; ++i)
        files << testing::picture(m_dir->filePath(QStringLiteral("p%1_sm.jpg").arg(i)), {80, 60}, QColor::fromHsv(i * 12, 200, 200));

    // Memory: about ten pictures' worth, however many are shown.
    ThumbnailCache cache;
    const qint64 one = 40 * 40 * 4;
    cache.setMaxBytes(10 * one + 10 * 256);
    for (const QString &f : files) {
        cache.thumbnail(f, box);
        QVERIFY(cache.waitForIdle());
    }
    QCOMPARE(cache.count(), 10);
    QVERIFY(cache.bytes() <= cache.maxBytes());
    QCOMPARE(cache.status(files.last(), box), ThumbnailCache::Status::Ready);
    QCOMPARE(cache.status(files.first(), box), ThumbnailCache::Status::Loading); // let go
    // Shown again, a picture becomes the newest and stays.
    cache.thumbnail(files[22], box);
    for (int i = 0; i < 9; ++i) {
        cache.thumbnail(files[i], box);
        QVERIFY(cache.waitForIdle());
    }
    QCOMPARE(cache.status(files[22], box), ThumbnailCache::Status::Ready);

    // Scrolled past quickly: the rows asked for last are read, the oldest
    // asks are dropped unread.
    ThumbnailCache queue;
    queue.setThreadCount(1);
    queue.setMaxQueued(5);
    for (const QString &f : files)
        queue.thumbnail(f, box);
    QVERIFY(queue.queuedCount() <= 5);
    QVERIFY(queue.waitForIdle());
    for (int i = 25; i < 30; ++i)
        QCOMPARE(queue.status(files[i], box), ThumbnailCache::Status::Ready);
    QVERIFY(queue.count() <= 6); // the last five and the one begun first
    // Another album: nothing waiting is read.
    for (int i = 5; i < 15; ++i)
        queue.thumbnail(files[i], box);
    queue.cancelPending();
    QCOMPARE(queue.queuedCount(), 0);
    QVERIFY(queue.waitForIdle());
    QVERIFY(queue.count() <= 7);

    // A replaced file is read again once the cache is told.
    const QString p = files.last();
    QVERIFY(!testing::picture(p, {80, 60}, Qt::white).isEmpty());
    QVERIFY(!near(queue.thumbnail(p, box).toImage().pixel(20, 20), Qt::white));
    queue.invalidate(p);
    queue.thumbnail(p, box);
    QVERIFY(queue.waitForIdle());
    QVERIFY(near(queue.thumbnail(p, box).toImage().pixel(20, 20), Qt::white));
    // Many files changed at once (an album deleted, its undo): the reads of
    // those files start over, the reads of others are kept.
    queue.clear();
    queue.setThreadCount(2);
    queue.thumbnail(files[0], box);
    queue.thumbnail(files[1], box);
    queue.invalidate(QStringList{files[1], files[2]});
    QVERIFY(queue.waitForIdle());
    QCOMPARE(queue.status(files[0], box), ThumbnailCache::Status::Ready);
    QCOMPARE(queue.status(files[1], box), ThumbnailCache::Status::Loading);
}

void TestThumbnails::neverWaitsForAFile()
{
    // A "small" file that is not small: asking costs nothing on this thread.
    const QString path = testing::picture(m_dir->filePath("big_sm.jpg"), {4000, 3000}, QColor(90, 120, 30));
    auto cache = std::make_unique<ThumbnailCache>();
    QElapsedTimer clock;
    clock.start();
    cache->thumbnail(path, kGridThumbnailSize);
    for (int i = 0; i < 200; ++i)
        cache->thumbnail(m_dir->filePath(QStringLiteral("none%1.jpg").arg(i)), kListThumbnailSize);
    QVERIFY2(clock.elapsed() < 50, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(cache->waitForIdle());
    QVERIFY(near(cache->thumbnail(path, kGridThumbnailSize).toImage().pixel(64, 64), QColor(90, 120, 30)));
    // Going away while files are being read is safe.
    for (int i = 0; i < 20; ++i)
        cache->thumbnail(path, QSize(10 + i, 10 + i));
    cache.reset();
}

QTEST_MAIN(TestThumbnails)
#include "tst_thumbnails.moc"
