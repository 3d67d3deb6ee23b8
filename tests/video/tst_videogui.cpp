// Plays generated movies in the real player and drives the video windows
// from the main window, checking the gallery on disk.

#include "common/GuiHelpers.h"
#include "common/TestFiles.h"
#include "common/VideoFixtures.h"
#include "mainwindow/AlbumTreeModel.h"
#include "mainwindow/ItemListModel.h"
#include "mainwindow/MainController.h"
#include "mainwindow/MyImageView.h"
#include "model/Album.h"
#include "model/Data.h"
#include "model/Video.h"
#include "model/VideoStream.h"
#include "storage/FileWriter.h"
#include "storage/Gallery.h"
#include "storage/JobSheet.h"
#include "storage/NewOrvaneFolderController.h"
#include "storage/Preferences.h"
#include "video/CaptureGeometry.h"
#include "video/CreateVideoThumbController.h"
#include "storage/Resources.h"
#include "video/ConversionPanel.h"
#include "video/CroppingImageView.h"
#include "video/FLVMetadata.h"
#include "video/ImportVideoController.h"
#include "video/VideoConverter.h"
#include "video/MetadataMessage.h"
#include "video/PlayerPage.h"
#include "video/PlayerView.h"
#include "video/VideoPreviewController.h"

#include <QAction>
#include <QAudioOutput>
#include <QComboBox>
#include <QMediaPlayer>
#include <QProgressBar>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QTableWidget>
#include <QToolButton>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTableView>
#include <QTreeView>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

using namespace qm;
using testing::readBytes;
using testing::readFile;
using testing::answerMessageBox;
using testing::whenShown;

namespace {

// A new gallery open in the main window, with one new album selected.
struct AlbumWindow
{
    QSettings settings;
    QString gallery;
    std::unique_ptr<MainController> w;
    Album *album = nullptr;

    AlbumWindow(const QTemporaryDir &dir, const QString &name)
        : settings(dir.filePath(name + ".ini"), QSettings::IniFormat)
    {
        QString error;
        gallery = NewOrvaneFolderController::createGalleryFolder(dir.path(), name, &error);
        settings.setValue("OrvaneFolder", gallery);
        w = std::make_unique<MainController>(&settings);
        w->show();
        if (!QTest::qWaitFor([&] { return w->windowTitle().startsWith("Quillmere - "); }))
            return;
        w->action("miNewAlbum")->trigger();
        w->ovAlbums()->setCurrentIndex(w->treeModel()->index(0, 0));
        album = static_cast<Album *>(w->data().albums().first().get());
    }
};

// Average brightness and the number of clearly different colours.
void describe(const QImage &image, double &brightness, int &colours)
{
    QSet<QRgb> seen;
    double sum = 0;
    for (int y = 0; y < image.height(); y += 4) {
        for (int x = 0; x < image.width(); x += 4) {
            const QRgb p = image.pixel(x, y);
            sum += qGray(p);
            seen.insert(qRgb(qRed(p) & 0xC0, qGreen(p) & 0xC0, qBlue(p) & 0xC0));
        }
    }
    brightness = sum / ((image.width() / 4 + 1) * (image.height() / 4 + 1));
    colours = int(seen.size());
}


} // namespace

class TestVideoGui : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void playCaptureAndThumbnail();
    void staleMessagesAreDropped();
    void importStreamsAndThumbnailFromTheMainWindow();
    void bigMoviesCopyInTheBackground();
    void moviesWithoutRatesOrPicture();
    void playerControls();
    void thumbnailWindowShowsTheWholeFrame();
    void convertFromTheMainWindow();
    void cleanup() { testing::cancelPendingWatchers(); }

private:
    QTemporaryDir m_dir;
    QString m_spark;
    QString m_h264;
    QString m_low;
    QString m_bare;  // no metadata, so no data rates
    QString m_sound; // sound only
};

void TestVideoGui::initTestCase()
{
    if (!testing::haveFFmpeg())
        QSKIP("ffmpeg is not installed");
    qputenv("XDG_CACHE_HOME", m_dir.filePath("cache").toLocal8Bit());
    QDir(m_dir.path()).mkpath("share");
    qputenv("XDG_DATA_HOME", m_dir.filePath("share").toLocal8Bit());
    m_spark = m_dir.filePath("Holiday Trip \u00e9t\u00e9.flv");
    m_h264 = m_dir.filePath("h264 clip.flv");
    m_low = m_dir.filePath("low.FLV");
    QVERIFY(testing::makeFLV(m_spark, {320, 240}, 600));
    QVERIFY(testing::makeFLV(m_h264, {320, 240}, 300, true));
    QVERIFY(testing::makeFLV(m_low, {320, 240}, 150));
    m_bare = m_dir.filePath("bare.flv");
    QVERIFY(testing::ffmpeg({"-f", "lavfi", "-i", "testsrc=size=320x240:rate=15", "-t", "2", "-c:v", "flv1", "-b:v",
                             "300k", "-an", "-flvflags", "no_metadata", m_bare}));
    m_sound = m_dir.filePath("sound only.flv");
    QVERIFY(testing::ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=22050", "-t", "2", "-c:a",
                             "libmp3lame", "-b:a", "64k", m_sound}));
}

void TestVideoGui::playCaptureAndThumbnail()
{
    for (const QString &movie : {m_spark, m_h264}) {
        PlayerView player;
        player.resize(player.sizeHint());
        player.show();
        QSignalSpy messages(&player, &PlayerView::metadataMessage);
        const int load = player.load(preparePlayerPage(movie).url);
        QCOMPARE(player.moviePath(), movie);
        QVERIFY2(messages.wait(20000) || !messages.isEmpty(), qPrintable(movie));
        QCOMPARE(messages.first().at(1).toInt(), load);
        int w = 0, h = 0, rate = 0;
        QVERIFY(parseMetadataMessage(messages.first().at(0).toString(), w, h, rate));
        QCOMPARE(QSize(w, h), QSize(320, 240));
        QVERIFY2(rate > 100, qPrintable(messages.first().at(0).toString()));

        // What the capture reads is the frame on show: the test pattern, not black.
        const QImage shot = player.capture(captureRectInView(player.size(), w, h));
        QCOMPARE(shot.size(), QSize(320, 240));
        double brightness = 0;
        int colours = 0;
        describe(shot, brightness, colours);
        QVERIFY2(brightness > 40 && colours >= 6, qPrintable(QStringLiteral("%1 %2").arg(brightness).arg(colours)));
        QCOMPARE(shot.pixel(10, 10), player.frame().pixel(10, 10));

        player.loadEmpty();
        QVERIFY(!player.isPlaying());
        QVERIFY(player.frame().isNull());
    }
}

void TestVideoGui::staleMessagesAreDropped()
{
    QSettings settings(m_dir.filePath("stale.ini"), QSettings::IniFormat);
    Preferences prefs(&settings);
    Gallery doc(prefs);
    ImportVideoController window(&doc);
    window.setFile(m_low, nullptr);
    const int first = window.webView()->currentLoad();
    window.setFile(m_spark, nullptr);
    const int rate = window.movieBitrate();
    QVERIFY(rate > 0);
    // A message of the earlier movie arrives late: ignored.
    window.runJavaScriptAlertPanelWithMessage(QStringLiteral("111|222|3"), first);
    QCOMPARE(window.movieBitrate(), rate);
    QCOMPARE(window.lblMovieSize()->text(), QStringLiteral("320 x 240"));
    window.runJavaScriptAlertPanelWithMessage(QStringLiteral("640|480|700"), window.webView()->currentLoad());
    QCOMPARE(window.lblMovieSize()->text(), QStringLiteral("640 x 480"));
    QCOMPARE(window.lblMovieBitrate()->text(), QStringLiteral("700 kbps"));

    // Streams go before the first of lower bitrate; equal ones stay ahead.
    Video video;
    for (int r : {800, 400}) {
        auto s = std::make_shared<VideoStream>();
        s->setBitrate(r);
        s->setFile(QString::number(r));
        video.addStream(s);
    }
    for (int r : {500, 500, 100, 900}) {
        auto s = std::make_shared<VideoStream>();
        s->setBitrate(r);
        s->setFile(QStringLiteral("%1new").arg(r));
        video.streams().insert(Video::streamIndexForBitrate(video.streams(), r), s);
    }
    QStringList order;
    for (const StreamPtr &s : video.streams())
        order << s->file();
    QCOMPARE(order, (QStringList{"900new", "800", "500new", "500new", "400", "100new"}));
}

void TestVideoGui::importStreamsAndThumbnailFromTheMainWindow()
{
    AlbumWindow aw(m_dir, "gallery");
    QVERIFY(aw.album);
    MainController &w = *aw.w;
    Album *album = aw.album;
    QSettings &settings = aw.settings;
    const QString gallery = aw.gallery;
    w.gallery().undoStack()->setClean();

    // One FLV dropped onto the album in the tree: the import window, new-video mode.
    QMimeData drop;
    drop.setUrls({QUrl::fromLocalFile(m_spark)});
    QVERIFY(w.treeModel()->dropMimeData(&drop, Qt::CopyAction, -1, 0, w.treeModel()->index(0, 0)));
    ImportVideoController *import = w.importVideoController();
    QTRY_VERIFY(import->isVisible());
    QCOMPARE(import->windowTitle(), QStringLiteral("Import Video"));
    QCOMPARE(import->btnImport()->text(), QStringLiteral("Import"));
    QCOMPARE(import->lblMovieSize()->text(), QStringLiteral("320 x 240"));
    QTRY_VERIFY_WITH_TIMEOUT(import->webView()->isPlaying(), 20000);
    const int highRate = import->movieBitrate();
    QVERIFY(highRate > 300);
    QTest::mouseClick(import->btnImport(), Qt::LeftButton);
    QVERIFY(!import->isVisible());
    QCOMPARE(album->items().size(), 1);
    QCOMPARE(w.itemModel()->rowCount(), 1);
    auto *video = static_cast<Video *>(album->items().first().get());
    QCOMPARE(video->title(), QStringLiteral("Holiday Trip \u00e9t\u00e9"));
    QVERIFY(video->thumbFile().startsWith("vthumb_"));
    QVERIFY(QFile::exists(gallery + "/img/" + video->thumbFile()));
    QCOMPARE(video->numberOfStreams(), 1);
    QVERIFY(video->streams().first()->file().startsWith("vstream_"));
    QVERIFY(QFile::exists(gallery + "/img/" + video->streams().first()->file()));
    QVERIFY(w.data().needsToSaveChanges());

    // A second, lower-rate stream dropped onto the video's row.
    QMimeData second;
    second.setUrls({QUrl::fromLocalFile(m_low)});
    QVERIFY(w.itemModel()->dropMimeData(&second, Qt::CopyAction, -1, 0, w.itemModel()->index(0, 0)));
    QTRY_VERIFY(import->isVisible());
    QCOMPARE(import->windowTitle(), QStringLiteral("Add Video Stream"));
    QCOMPARE(import->btnImport()->text(), QStringLiteral("Add stream"));
    QTest::mouseClick(import->btnImport(), Qt::LeftButton);
    QCOMPARE(video->numberOfStreams(), 2);
    QCOMPARE(video->streams().at(0)->bitrate(), highRate);
    QVERIFY(video->streams().at(1)->bitrate() < highRate);
    QCOMPARE(album->items().size(), 1);

    // The preview: two streams; remove the first, then the last is refused.
    w.tvPhotos()->selectRow(0);
    QVERIFY(w.btnShowVideo()->isEnabled());
    QTest::mouseClick(w.btnShowVideo(), Qt::LeftButton);
    VideoPreviewController *preview = w.videoPreviewController();
    QTRY_VERIFY(preview->isVisible());
    QCOMPARE(preview->cmbStreams()->count(), 2);
    QCOMPARE(preview->cmbStreams()->itemText(0), QStringLiteral("%1 kbps").arg(highRate));
    const QString removedFile = gallery + "/img/" + video->streams().at(0)->file();
    QTest::mouseClick(preview->btnRemoveStream(), Qt::LeftButton);
    QCOMPARE(video->numberOfStreams(), 1);
    QCOMPARE(preview->cmbStreams()->count(), 1);
    QVERIFY(!QFile::exists(removedFile));
    auto alert = answerMessageBox(QStringLiteral("OK"));
    QTest::mouseClick(preview->btnRemoveStream(), Qt::LeftButton);
    QVERIFY(alert->contains("You cannot remove a stream if it is the only stream in a video."));
    QCOMPARE(video->numberOfStreams(), 1);

    // Capture once the player knows the movie, crop in the thumbnail window, write it.
    QTRY_VERIFY_WITH_TIMEOUT(preview->webView()->isPlaying() && !preview->webView()->frame().isNull(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(preview->movieBitrate() > 0, 20000);
    auto made = whenShown<CreateVideoThumbController>([&](CreateVideoThumbController *t) {
        QCOMPARE(t->imgCapture()->image().size(), QSize(320, 240));
        t->txtThumbWidth()->setText("160");
        t->txtThumbHeight()->setText("90");
        t->changedThumbSize();
        QCOMPARE(t->imgCapture()->croppingRect().h, 180.0f);
        QVERIFY(t->lblThumbFileSize()->text().endsWith(" KB"));
        QTest::mouseClick(t->findChild<QPushButton *>("btnCreateThumb"), Qt::LeftButton);
    });
    QTest::mouseClick(preview->btnCaptureThumbnail(), Qt::LeftButton);
    QVERIFY(*made);
    QCOMPARE(QImageReader(gallery + "/img/" + video->thumbFile()).size(), QSize(160, 90));
    QCOMPARE(w.lblSmallImageSize()->text(), QStringLiteral("160 x 90"));
    QCOMPARE(w.ivPhoto()->image().size(), QSize(160, 90));
    QCOMPARE(settings.value("VideoThumbWidth").toInt(), 160);
    double brightness = 0;
    int colours = 0;
    describe(QImage(gallery + "/img/" + video->thumbFile()), brightness, colours);
    QVERIFY(brightness > 40 && colours >= 4);
    preview->close();
    QVERIFY(!preview->webView()->isPlaying());

    // Saved: one video with its stream and thumbnail in the album file.
    w.action("miSave")->trigger();
    const QString xml = readFile(gallery + "/xml/" + album->XMLFile());
    QCOMPARE(xml.count("<stream "), 1);
    QVERIFY(xml.contains(QStringLiteral("<url>%1</url>").arg(video->thumbFile())));
    QVERIFY(xml.contains(QStringLiteral("<url>%1</url>").arg(video->streams().first()->file())));
    QVERIFY(xml.contains(QStringLiteral("bitrate=\"%1\"").arg(video->streams().first()->bitrate())));
}

void TestVideoGui::bigMoviesCopyInTheBackground()
{
    QString error;
    const QString gallery = NewOrvaneFolderController::createGalleryFolder(m_dir.path(), "big", &error);
    QVERIFY(!gallery.isEmpty());
    QSettings settings(m_dir.filePath("big.ini"), QSettings::IniFormat);
    Preferences prefs(&settings);
    prefs.setOrvaneFolder(gallery);
    Gallery doc(prefs);
    const NodePtr node = doc.newAlbum(nullptr);
    auto *album = static_cast<Album *>(node.get());
    // A real movie with 40 MB of padding: its header still tells its size.
    const QString big = m_dir.filePath("long evening.flv");
    {
        QFile in(m_low), out(big);
        QVERIFY(in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly));
        out.write(in.readAll());
        out.write(QByteArray(40 << 20, '\0'));
    }
    const qint64 size = QFileInfo(big).size();
    auto imgFiles = [&] { return QDir(gallery + "/img").entryList(QDir::Files | QDir::Hidden); };
    const QStringList before = imgFiles();

    ImportVideoController window(&doc);
    window.setFile(big, album);
    window.showWindow();
    QCOMPARE(window.lblMovieSize()->text(), QStringLiteral("320 x 240"));
    auto sheet = [&] { return window.findChild<JobSheet *>(); };

    // Stopped: no video, no file, and the window stays for another try.
    FileWriter::setCopyPieceDelayForTesting(50); // so that the stop lands in the middle
    QTest::mouseClick(window.btnImport(), Qt::LeftButton);
    QVERIFY2(sheet(), "a copy of this size shows its progress");
    sheet()->btnStop()->click();
    QTRY_VERIFY(!sheet());
    QVERIFY(album->items().isEmpty());
    QCOMPARE(imgFiles(), before);
    QVERIFY(window.isVisible());

    // Left to run: the whole movie and its placeholder thumbnail.
    QTest::mouseClick(window.btnImport(), Qt::LeftButton);
    QVERIFY(sheet());
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 20000);
    QCOMPARE(album->items().size(), 1);
    auto *video = static_cast<Video *>(album->items().first().get());
    QCOMPARE(QFileInfo(gallery + "/img/" + video->streams().first()->file()).size(), size);
    QVERIFY(QFile::exists(gallery + "/img/" + video->thumbFile()));
    QCOMPARE(imgFiles().size(), before.size() + 2);

    // The album goes while its movie copies: no stray file.
    const QStringList withVideo = imgFiles();
    window.setFile(big, album);
    window.showWindow();
    QTest::mouseClick(window.btnImport(), Qt::LeftButton);
    QVERIFY(sheet());
    doc.removeNode(node);
    QStringList gone = imgFiles();
    gone.removeIf([](const QString &name) { return name.contains(".tmp-"); }); // the copy under way
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 20000);
    QCOMPARE(imgFiles(), gone);
    FileWriter::setCopyPieceDelayForTesting(0);
}

namespace {

// A gallery whose videos each have one stream, copied from a movie.
struct StreamGallery
{
    StreamGallery(const QString &root, const QString &name)
        : settings(root + "/" + name + ".ini", QSettings::IniFormat)
        , prefs(&settings)
    {
        QString error;
        prefs.setOrvaneFolder(NewOrvaneFolderController::createGalleryFolder(root, name, &error));
    }
    Video *add(const QString &movie)
    {
        const QString name = QStringLiteral("vstream_%1.flv").arg(videos.size());
        QFile::copy(movie, prefs.imgPath(name));
        auto stream = std::make_shared<VideoStream>();
        stream->setFile(name);
        videos.append(std::make_shared<Video>());
        videos.last()->addStream(stream);
        return videos.last().get();
    }
    QSettings settings;
    Preferences prefs;
    Gallery gallery{prefs};
    QList<std::shared_ptr<Video>> videos;
};

QString waitForMessage(PlayerView &player, int load)
{
    QSignalSpy spy(&player, &PlayerView::metadataMessage);
    for (int i = 0; i < 200 && spy.isEmpty(); ++i)
        spy.wait(100);
    for (const QList<QVariant> &m : spy)
        if (m.at(1).toInt() == load)
            return m.at(0).toString();
    return {};
}

} // namespace

void TestVideoGui::moviesWithoutRatesOrPicture()
{
    // A file without data rates: the message works the bitrate out.
    PlayerView player;
    player.resize(player.sizeHint());
    QString message = waitForMessage(player, player.load(preparePlayerPage(m_bare).url));
    int w = 0, h = 0, rate = 0;
    QVERIFY2(parseMetadataMessage(message, w, h, rate), qPrintable(message));
    QCOMPARE(QSize(w, h), QSize(320, 240));
    QVERIFY2(rate > 200 && rate < 500, qPrintable(message));
    // Sound only: the message comes all the same, with no picture.
    message = waitForMessage(player, player.load(preparePlayerPage(m_sound).url));
    QVERIFY2(parseMetadataMessage(message, w, h, rate), "a movie of sound only reports itself");
    QCOMPARE(QSize(w, h), QSize(0, 0));
    QVERIFY(rate > 0);

    // The import window: a rate at once, and no size left from the movie before.
    QSettings settings(m_dir.filePath("rates.ini"), QSettings::IniFormat);
    Preferences prefs(&settings);
    Gallery doc(prefs);
    ImportVideoController import(&doc);
    import.setFile(m_bare, nullptr);
    QVERIFY2(import.movieBitrate() > 200, qPrintable(import.lblMovieBitrate()->text()));
    QTRY_COMPARE_WITH_TIMEOUT(import.lblMovieSize()->text(), QStringLiteral("320 x 240"), 20000);
    import.setFile(m_sound, nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(import.lblMovieSize()->text(), QStringLiteral("0 x 0"), 20000);
    QVERIFY(import.movieBitrate() > 0);
    import.setFile(QString(), nullptr);

    // The preview: the file without rates gives a thumbnail; sound only is
    // refused with the reason.
    StreamGallery gallery(m_dir.path(), "streams");
    CreateVideoThumbController thumbs(&gallery.gallery);
    VideoPreviewController preview(&gallery.gallery, &thumbs);
    preview.setVideo(gallery.add(m_bare));
    preview.showWindow();
    QTRY_VERIFY_WITH_TIMEOUT(!preview.webView()->frame().isNull() && preview.movieBitrate() > 0, 20000);
    QSize captured;
    auto opened = whenShown<CreateVideoThumbController>([&](CreateVideoThumbController *t) {
        captured = t->imgCapture()->image().size();
        t->reject();
    });
    auto noAlert = answerMessageBox();
    QTest::mouseClick(preview.btnCaptureThumbnail(), Qt::LeftButton);
    QVERIFY2(*opened, qPrintable(*noAlert));
    QCOMPARE(captured, QSize(320, 240));
    preview.close();

    testing::cancelPendingWatchers();
    preview.setVideo(gallery.add(m_sound));
    preview.showWindow();
    QTRY_VERIFY_WITH_TIMEOUT(preview.movieBitrate() > 0, 20000);
    auto refused = answerMessageBox();
    QTest::mouseClick(preview.btnCaptureThumbnail(), Qt::LeftButton);
    QVERIFY2(refused->contains("sound only"), qPrintable(*refused));
    preview.close();
}

void TestVideoGui::playerControls()
{
    PlayerView player;
    player.resize(player.sizeHint());
    player.show();
    player.setFocus();
    QVERIFY(!player.btnPlay()->isEnabled());
    // A first frame slow to show (as on a display that offers GL) must not
    // stop the movie: the sink gives up on a frame after 300 ms.
    bool first = true;
    auto slow = connect(&player, &PlayerView::frameShown, [&first] {
        if (std::exchange(first, false))
            QThread::msleep(400);
    });
    player.load(preparePlayerPage(m_spark).url);
    QTRY_VERIFY_WITH_TIMEOUT(player.isPlaying() && !player.frame().isNull(), 20000);
    disconnect(slow);
    QVERIFY(player.btnPlay()->isEnabled());
    // The controls lie in the strip under the picture, not over it.
    const QRect area = playerAreaInView(player.size());
    for (QWidget *c : {static_cast<QWidget *>(player.btnPlay()), static_cast<QWidget *>(player.sldPosition())})
        QVERIFY(!area.intersects(QRect(c->mapTo(&player, QPoint()), c->size())));
    QTRY_VERIFY_WITH_TIMEOUT(player.sldPosition()->maximum() >= 1900, 10000);
    // The picture moves on by itself, sound device or not, and well past
    // where the slow first frame left the clock.
    QTRY_VERIFY_WITH_TIMEOUT(player.position() > 800, 10000);

    QTest::keyClick(&player, Qt::Key_Space);
    QTRY_VERIFY(!player.isPlaying());
    QVERIFY(player.btnPlay()->accessibleName() == QStringLiteral("Play"));
    player.player()->setPosition(1000);
    QTRY_VERIFY_WITH_TIMEOUT(qAbs(player.position() - 1000) < 70, 20000);
    QTRY_VERIFY(player.lblTime()->text().startsWith("0:01 / 0:02"));
    QTest::qWait(300);
    const QImage before = player.frame();
    const qint64 at = player.position();
    // One frame on at 15 frames a second, and back again: another picture each time.
    QTest::keyClick(&player, Qt::Key_Right);
    QTRY_VERIFY_WITH_TIMEOUT(qAbs(player.position() - (at + 67)) < 10, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(player.frame() != before, 20000);
    QVERIFY(!player.isPlaying());
    const QImage after = player.frame();
    QTest::mouseClick(player.btnStepBack(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(qAbs(player.position() - at) < 10, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(player.frame() != after, 20000);

    // Sound where there is a device to play it; without one the picture
    // plays (above) and the sound controls say why they do nothing.
    if (player.player()->audioOutput()) {
        QTest::mouseClick(player.btnMute(), Qt::LeftButton);
        QVERIFY(player.audioOutput()->isMuted());
        player.sldVolume()->setValue(40);
        QCOMPARE(player.audioOutput()->volume(), 0.4f);
    } else {
        QVERIFY(!player.btnMute()->isEnabled());
        QCOMPARE(player.btnMute()->toolTip(), QStringLiteral("No sound device"));
    }
    QTest::mouseClick(player.btnPlay(), Qt::LeftButton);
    QTRY_VERIFY(player.isPlaying());
    player.loadEmpty();
    QVERIFY(!player.btnPlay()->isEnabled());
}

void TestVideoGui::thumbnailWindowShowsTheWholeFrame()
{
    // On a 1024 x 768 screen the whole 600 x 400 frame is on view at its own
    // size, its rectangle's sides and resize handle included.
    QSettings settings(m_dir.filePath("thumb.ini"), QSettings::IniFormat);
    Preferences prefs(&settings);
    Gallery doc(prefs);
    auto video = std::make_shared<Video>();
    CreateVideoThumbController thumbs(&doc);
    QImage frame(600, 400, QImage::Format_RGB32);
    frame.fill(Qt::darkCyan);
    thumbs.setImage(frame);
    auto seen = whenShown<CreateVideoThumbController>([](CreateVideoThumbController *t) {
        QTest::qWait(50);
        CroppingImageView *view = t->imgCapture();
        const QRectF image = view->rectCoveredByImage();
        const QRect inWidget(int(image.x()), int(view->height() - image.y() - image.height()), int(image.width()),
                             int(image.height()));
        QCOMPARE(inWidget.size(), QSize(600, 400));
        QVERIFY2(view->visibleRegion().contains(inWidget), "the whole frame is visible");
        QVERIFY(t->frameGeometry().width() <= 1024 && t->frameGeometry().height() <= 768);
        t->reject();
    });
    thumbs.setVideo(video.get());
    thumbs.showWindow();
    QVERIFY(*seen);
}

void TestVideoGui::convertFromTheMainWindow()
{
    const QString movie = m_dir.filePath("Beach Day.mp4");
    QVERIFY(testing::makeMovie(movie, {640, 360}, 2, true));
    AlbumWindow aw(m_dir, "converted");
    QVERIFY(aw.album);
    MainController &w = *aw.w;
    Album *album = aw.album;
    const QString gallery = aw.gallery;
    auto imgFiles = [&] { return QDir(gallery + "/img").entryList(QDir::Files | QDir::Hidden); };
    const QStringList before = imgFiles();

    // Dropped onto the album: the import window offers the ladder.
    QMimeData drop;
    drop.setUrls({QUrl::fromLocalFile(movie)});
    QVERIFY(w.treeModel()->dropMimeData(&drop, Qt::CopyAction, -1, 0, w.treeModel()->index(0, 0)));
    ImportVideoController *import = w.importVideoController();
    QTRY_VERIFY(import->isVisible());
    QVERIFY(import->converting());
    QCOMPARE(import->lblMovieSize()->text(), QStringLiteral("640 x 360"));
    QTableWidget *rows = import->conversionPanel()->tvStreams();
    QCOMPARE(rows->rowCount(), 3);
    QCOMPARE(rows->item(0, 1)->text(), QStringLiteral("600 × 336"));
    QVERIFY(import->btnImport()->isEnabled());

    // Stopped on its sheet: nothing made, nothing added, the window stays.
    setConversionDelayForTesting(40);
    auto stop = whenShown<QDialog>([](QDialog *sheet) { sheet->findChild<QPushButton *>("btnStop")->click(); },
                                   [](QDialog *d) { return d->objectName() == "jobSheet"; });
    QTest::mouseClick(import->btnImport(), Qt::LeftButton);
    QTRY_VERIFY(*stop);
    QTRY_VERIFY_WITH_TIMEOUT(!import->conversionJob(), 20000);
    QCOMPARE(imgFiles(), before);
    QVERIFY(album->items().isEmpty());
    QVERIFY(import->isVisible());

    // Closed in the middle (as quitting does): the same.
    QTest::mouseClick(import->btnImport(), Qt::LeftButton);
    QTRY_VERIFY(import->conversionJob() && import->conversionJob()->done() > 0);
    import->close();
    QVERIFY(!import->isVisible());
    QCOMPARE(imgFiles(), before);
    QVERIFY(album->items().isEmpty());
    setConversionDelayForTesting(0);

    // Two of the three streams, one rate edited, converted to the end.
    QVERIFY(w.treeModel()->dropMimeData(&drop, Qt::CopyAction, -1, 0, w.treeModel()->index(0, 0)));
    QTRY_VERIFY(import->isVisible());
    rows->item(1, 0)->setCheckState(Qt::Unchecked);
    rows->findChild<QSpinBox *>("spnRate2")->setValue(150);
    auto alert = answerMessageBox();
    QTest::mouseClick(import->btnImport(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!import->isVisible() || !alert->isEmpty(), 30000);
    QVERIFY2(alert->isEmpty(), qPrintable(*alert));
    QCOMPARE(album->items().size(), 1);
    auto *video = static_cast<Video *>(album->items().first().get());
    QCOMPARE(video->title(), QStringLiteral("Beach Day"));
    QCOMPARE(video->numberOfStreams(), 2);
    QVERIFY(video->streams().at(0)->bitrate() > video->streams().at(1)->bitrate());
    QVERIFY(w.data().needsToSaveChanges());
    for (const StreamPtr &s : video->streams()) {
        QVERIFY(s->file().startsWith("vstream_") && s->file().endsWith(".flv"));
        int fw = 0, fh = 0, rate = 0;
        readFLVMetadata(gallery + "/img/" + s->file(), fw, fh, rate);
        QCOMPARE(rate, s->bitrate());
    }
    // A frame of the movie, not the placeholder.
    const QString thumb = gallery + "/img/" + video->thumbFile();
    QCOMPARE(QImageReader(thumb).size(), QSize(120, 90));
    QVERIFY(readBytes(thumb) != readBytes(resourcePath("videothumb.jpg")));
    QCOMPARE(imgFiles().size(), before.size() + 3);

    // Our own player plays what was made.
    w.tvPhotos()->selectRow(0);
    QTest::mouseClick(w.btnShowVideo(), Qt::LeftButton);
    VideoPreviewController *preview = w.videoPreviewController();
    QTRY_VERIFY(preview->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(preview->movieWidth() == 600 && !preview->webView()->frame().isNull(), 20000);
    QCOMPARE(preview->webView()->frame().size(), QSize(600, 336));
    preview->close();
}

int main(int argc, char **argv)
{
    // A 1024 x 768 screen: the smallest the windows are made for.
    QTemporaryDir config;
    const QString screen = config.filePath("screen.json");
    testing::writeBytes(screen, R"({"screens": [{"name": "small", "x": 0, "y": 0, "width": 1024, "height": 768,
                                    "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screen.toLocal8Bit());
    QApplication app(argc, argv);
    TestVideoGui test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_videogui.moc"
