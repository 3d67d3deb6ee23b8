// Plays generated movies in the real player and drives the video windows
// from the main window, checking the gallery on disk.

#include "common/FullDisk.h"
#include "common/GalleryFixture.h"
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
#include "storage/FolderChooser.h"
#include "storage/NewOrvaneFolderController.h"
#include "storage/Preferences.h"
#include "storage/Resources.h"
#include "video/CaptureGeometry.h"
#include "video/ConversionPanel.h"
#include "video/CreateVideoThumbController.h"
#include "video/CroppingImageView.h"
#include "video/FLVMetadata.h"
#include "video/ImportVideoController.h"
#include "video/MetadataMessage.h"
#include "video/PlayerPage.h"
#include "video/PlayerView.h"
#include "video/VideoConverter.h"
#include "video/VideoPreviewController.h"

#include <QAction>
#include <QAudioDevice>
#include <QAudioOutput>
#include <QComboBox>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>

using namespace qm;
using testing::answerMessageBox;
using testing::readBytes;
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
    QString img(const QString &name = QString()) const { return gallery + "/img/" + name; }
    QStringList imgFiles() const { return QDir(img()).entryList(QDir::Files | QDir::Hidden); }
    // Drops `movie` onto the album in the tree, as a file manager does.
    bool dropOnAlbum(const QString &movie)
    {
        QMimeData drop;
        drop.setUrls({QUrl::fromLocalFile(movie)});
        return w->treeModel()->dropMimeData(&drop, Qt::CopyAction, -1, 0, w->treeModel()->index(0, 0));
    }
};

// Frames of the numbered movie carry their number in their grey.
int frameNumber(const QImage &frame)
{
    return frame.isNull() ? -1 : qRound(testing::look(frame.copy(frame.rect().adjusted(20, 20, -20, -20))).brightness / (7 * 255.0 / 219));
}

bool makeNumberedFLV(const QString &path, QSize size, int kbps)
{
    return testing::ffmpeg({"-f", "lavfi", "-i",
                            QStringLiteral("color=c=black:s=%1x%2:r=10,geq=lum='16+N*7':cb=128:cr=128")
                                .arg(size.width())
                                .arg(size.height()),
                            "-t", "3", "-c:v", "flv1", "-b:v", QStringLiteral("%1k").arg(kbps), path});
}

// The player's metadata message for that load, or nothing after 20 s.
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

class TestVideoGui : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void playerMessagesAndCapture_data();
    void playerMessagesAndCapture();
    void playerControls();
    void moviesWithoutRatesOrPicture();
    void switchingStreamsKeepsThePlace();
    void importWindowReadsTheFileFirst();
    void importStreamsAndThumbnailFromTheMainWindow();
    void bigMoviesCopyInTheBackground();
    void convertFromTheMainWindow();
    void everyMovieKindAndCutOffMovies();
    void cleanup() { testing::cancelPendingWatchers(); }

private:
    QTemporaryDir m_dir;
    QString m_spark;
    QString m_low;
    QString m_bare;  // no metadata, so no data rates; the whole capture area
    QString m_sound; // sound only
    QString m_numbered; // ten frames a second, each as grey as its number
};

void TestVideoGui::initTestCase()
{
    qputenv("XDG_CACHE_HOME", m_dir.filePath("cache").toLocal8Bit());
    QDir(m_dir.path()).mkpath("share");
    qputenv("XDG_DATA_HOME", m_dir.filePath("share").toLocal8Bit());
    m_spark = m_dir.filePath("Holiday Trip \u00e9t\u00e9.flv");
    m_low = m_dir.filePath("low.FLV");
    m_bare = m_dir.filePath("bare.flv");
    m_sound = m_dir.filePath("sound only.flv");
    m_numbered = m_dir.filePath("numbered.flv");
    QVERIFY(makeNumberedFLV(m_numbered, {320, 240}, 400));
    QVERIFY(testing::makeFLV(m_spark, {320, 240}, 600) && testing::makeFLV(m_low, {320, 240}, 150)
            && testing::makeFLV(m_bare, {600, 400}, 300, false, 2, {"-an", "-flvflags", "no_metadata"})
            && testing::makeFLV(m_sound, {320, 240}, 300, false, 2, {"-vn"}));
}

void TestVideoGui::playerMessagesAndCapture_data()
{
    QTest::addColumn<QString>("movie");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("minRate");
    QTest::addColumn<int>("maxRate");
    QTest::newRow("Spark with MP3") << m_spark << QSize(320, 240) << 300 << 2000;
    // No rates in the file: worked out from its size and length, never 0.
    QTest::newRow("no data rates") << m_bare << QSize(600, 400) << 200 << 1000;
    // Sound only: the message comes all the same, with no picture.
    QTest::newRow("sound only") << m_sound << QSize(0, 0) << 1 << 200;
}

void TestVideoGui::playerMessagesAndCapture()
{
    QFETCH(QString, movie);
    QFETCH(QSize, size);
    QFETCH(int, minRate);
    QFETCH(int, maxRate);
    PlayerView player;
    player.resize(player.sizeHint());
    player.show();
    const int load = player.load(preparePlayerPage(movie).url);
    QCOMPARE(player.moviePath(), movie);
    const QString message = waitForMessage(player, load);
    int w = 0, h = 0, rate = 0;
    QVERIFY2(parseMetadataMessage(message, w, h, rate), qPrintable(message));
    QCOMPARE(QSize(w, h), size);
    QVERIFY2(rate >= minRate && rate <= maxRate, qPrintable(message));
    if (!size.isEmpty()) {
        // What the capture reads is the frame on show: the test pattern, not black.
        const QImage shot = player.capture(captureRectInView(player.size(), w, h));
        QCOMPARE(shot.size(), size);
        const testing::Look look = testing::look(shot);
        QVERIFY2(look.brightness > 40 && look.colours >= 6,
                 qPrintable(QStringLiteral("%1 %2").arg(look.brightness).arg(look.colours)));
        QCOMPARE(shot.pixel(10, 10), player.frame().pixel(10, 10));
    }
    player.loadEmpty();
    QVERIFY(!player.isPlaying());
    QVERIFY(player.frame().isNull());
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
    player.load(preparePlayerPage(m_numbered).url);
    QTRY_VERIFY_WITH_TIMEOUT(player.isPlaying() && !player.frame().isNull(), 20000);
    disconnect(slow);
    QVERIFY(player.btnPlay()->isEnabled());
    // The controls lie in the strip under the picture, not over it.
    const QRect area = playerAreaInView(player.size());
    for (QWidget *c : {static_cast<QWidget *>(player.btnPlay()), static_cast<QWidget *>(player.sldPosition())})
        QVERIFY(!area.intersects(QRect(c->mapTo(&player, QPoint()), c->size())));
    QTRY_VERIFY_WITH_TIMEOUT(player.sldPosition()->maximum() >= 2900, 10000);
    // The picture moves on by itself, sound device or not, and well past
    // where the slow first frame left the clock.
    QTRY_VERIFY_WITH_TIMEOUT(frameNumber(player.frame()) >= 8, 10000);

    // Paused while playing: each step is one frame from the frame on show,
    // forward and back, the first one too.
    QTest::keyClick(&player, Qt::Key_Space);
    QTRY_VERIFY(!player.isPlaying());
    QCOMPARE(player.btnPlay()->accessibleName(), QStringLiteral("Play"));
    int shown = frameNumber(player.frame());
    for (const int step : {1, 1, -1, 1, -1, -1}) {
        QSignalSpy frames(&player, &PlayerView::frameShown);
        if (step > 0)
            QTest::keyClick(&player, Qt::Key_Right);
        else
            QTest::mouseClick(player.btnStepBack(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!frames.isEmpty() && frameNumber(player.frame()) != shown, 20000);
        QCOMPARE(frameNumber(player.frame()), shown + step);
        shown += step;
        QVERIFY(!player.isPlaying());
    }

    // A click on the slider's track, three quarters along: the movie goes there.
    QSlider *slider = player.sldPosition();
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(slider->width() * 3 / 4, slider->height() / 2));
    QTRY_VERIFY_WITH_TIMEOUT(qAbs(player.position() - 2250) < 400, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(qAbs(frameNumber(player.frame()) - 22) <= 4, 20000);
    QTRY_VERIFY(player.lblTime()->text().startsWith("0:02 / 0:03"));

    // Sound goes to a device wherever there is one, through the output the
    // controls work on; without one they say why they do nothing.
    QCOMPARE(player.player()->audioOutput() != nullptr, !QMediaDevices::audioOutputs().isEmpty());
    if (player.player()->audioOutput()) {
        QCOMPARE(player.player()->audioOutput(), player.audioOutput());
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

void TestVideoGui::moviesWithoutRatesOrPicture()
{
    // The import window: each movie's own figures, whatever came before.
    testing::GalleryFixture f;
    ImportVideoController window(&f.gallery);
    window.setFile(m_low, nullptr);
    const int first = window.webView()->currentLoad();
    // No rates in the file: a bitrate all the same, at once.
    window.setFile(m_bare, nullptr);
    QVERIFY2(window.movieBitrate() > 200, qPrintable(window.lblMovieBitrate()->text()));
    QTRY_COMPARE_WITH_TIMEOUT(window.lblMovieSize()->text(), QStringLiteral("600 x 400"), 20000);
    const int rate = window.movieBitrate();
    // A message of the earlier movie arrives late: ignored.
    window.runJavaScriptAlertPanelWithMessage(QStringLiteral("111|222|3"), first);
    QCOMPARE(window.movieBitrate(), rate);
    QCOMPARE(window.lblMovieSize()->text(), QStringLiteral("600 x 400"));
    window.runJavaScriptAlertPanelWithMessage(QStringLiteral("640|480|700"), window.webView()->currentLoad());
    QCOMPARE(window.lblMovieSize()->text(), QStringLiteral("640 x 480"));
    QCOMPARE(window.lblMovieBitrate()->text(), QStringLiteral("700 kbps"));
    // Sound only: a rate, and no size left from the movie before.
    window.setFile(m_sound, nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(window.lblMovieSize()->text(), QStringLiteral("0 x 0"), 20000);
    QVERIFY(window.movieBitrate() > 0);
    window.setFile(QString(), nullptr);

    CreateVideoThumbController thumbs(&f.gallery);
    VideoPreviewController preview(&f.gallery, &thumbs);
    auto album = f.album("a");
    auto bare = f.video(*album, "bare", {300}), sound = f.video(*album, "sound", {64});
    QVERIFY(testing::writeBytes(f.img("vstream_300.flv"), readBytes(m_bare))
            && testing::writeBytes(f.img("vstream_64.flv"), readBytes(m_sound)));
    // The preview: with no rates in the file and nothing played yet there is
    // no knowing what to capture, and the refusal says why.
    preview.setVideo(bare.get());
    preview.showWindow();
    auto early = answerMessageBox();
    QTest::mouseClick(preview.btnCaptureThumbnail(), Qt::LeftButton);
    QVERIFY2(early->contains("not been read yet"), qPrintable(*early));
    // Once the player has read it, the whole frame: on a 1024 x 768 screen the
    // thumbnail window shows all of it at its own size, the rectangle's sides
    // and resize handle included.
    QTRY_VERIFY_WITH_TIMEOUT(!preview.webView()->frame().isNull() && preview.movieBitrate() > 0, 20000);
    QSize frame, shown, outer;
    QRegion hidden;
    auto opened = whenShown<CreateVideoThumbController>([&](CreateVideoThumbController *t) {
        QVERIFY(QTest::qWaitForWindowExposed(t));
        CroppingImageView *view = t->imgCapture();
        const QRectF image = view->rectCoveredByImage();
        const QRect inWidget(int(image.x()), int(view->height() - image.y() - image.height()), int(image.width()),
                             int(image.height()));
        frame = view->image().size();
        shown = inWidget.size();
        hidden = QRegion(inWidget) - view->visibleRegion();
        outer = t->frameGeometry().size();
        t->reject();
    });
    auto noAlert = answerMessageBox();
    QTest::mouseClick(preview.btnCaptureThumbnail(), Qt::LeftButton);
    QVERIFY2(*opened, qPrintable(*noAlert));
    QCOMPARE(frame, QSize(600, 400));
    QCOMPARE(shown, frame);
    QVERIFY2(hidden.isEmpty(), "the whole frame is visible");
    QVERIFY(outer.width() <= 1024 && outer.height() <= 768);
    preview.close();

    // Sound only: refused with the reason.
    testing::cancelPendingWatchers();
    preview.setVideo(sound.get());
    preview.showWindow();
    QTRY_VERIFY_WITH_TIMEOUT(preview.movieBitrate() > 0, 20000);
    auto refused = answerMessageBox();
    QTest::mouseClick(preview.btnCaptureThumbnail(), Qt::LeftButton);
    QVERIFY2(refused->contains("sound only"), qPrintable(*refused));
    preview.close();
}

void TestVideoGui::switchingStreamsKeepsThePlace()
{
    testing::GalleryFixture f;
    CreateVideoThumbController thumbs(&f.gallery);
    VideoPreviewController preview(&f.gallery, &thumbs);
    auto album = f.album("a");
    auto video = f.video(*album, "numbered", {400, 150});
    QVERIFY(testing::writeBytes(f.img("vstream_400.flv"), readBytes(m_numbered))
            && makeNumberedFLV(m_dir.filePath("small numbered.flv"), {160, 120}, 150)
            && testing::writeBytes(f.img("vstream_150.flv"), readBytes(m_dir.filePath("small numbered.flv"))));
    preview.setVideo(video.get());
    preview.showWindow();
    // The list says what each stream is: its size and its rate.
    QTRY_COMPARE(preview.cmbStreams()->itemText(0), QStringLiteral("320 \u00d7 240, 400 kbps"));
    QCOMPARE(preview.cmbStreams()->itemText(1), QStringLiteral("160 \u00d7 120, 150 kbps"));

    // Paused at a frame: the other stream shows that frame, still paused.
    PlayerView *player = preview.webView();
    QTRY_VERIFY_WITH_TIMEOUT(frameNumber(player->frame()) >= 5, 20000);
    player->togglePlaying();
    QTRY_VERIFY(!player->isPlaying());
    player->stepFrame(1);
    QTRY_VERIFY_WITH_TIMEOUT(frameNumber(player->frame()) >= 6, 20000);
    const int at = frameNumber(player->frame());
    preview.cmbStreams()->setCurrentIndex(1);
    preview.changedVideoStream();
    QTRY_VERIFY_WITH_TIMEOUT(player->frame().size() == QSize(160, 120), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(frameNumber(player->frame()), at, 20000);
    QVERIFY(!player->isPlaying());
    QTest::qWait(300);
    QVERIFY(!player->isPlaying());

    // Playing: it plays on from about where it was.
    player->togglePlaying();
    QTRY_VERIFY_WITH_TIMEOUT(frameNumber(player->frame()) >= at + 2, 20000);
    preview.cmbStreams()->setCurrentIndex(0);
    preview.changedVideoStream();
    QTRY_VERIFY_WITH_TIMEOUT(player->frame().size() == QSize(320, 240), 20000);
    QVERIFY(frameNumber(player->frame()) >= at);
    QTRY_VERIFY(player->isPlaying());
    preview.close();
}

void TestVideoGui::importWindowReadsTheFileFirst()
{
    testing::GalleryFixture f;
    const auto album = f.album("a");
    f.ready();
    ImportVideoController window(&f.gallery);
    window.showWindow();

    // Bytes named .flv: refused with the reason, nothing shown or played.
    const QString noise = m_dir.filePath("noise.flv");
    QVERIFY(testing::writeBytes(noise, QByteArray("FLV is what this is not.").repeated(200)));
    window.setFile(noise, album.get());
    QVERIFY(!window.refusal().isEmpty());
    QVERIFY2(window.refusal().startsWith("This file cannot be imported: ") && !window.refusal().contains(".."),
             qPrintable(window.refusal()));
    QVERIFY(window.conversionPanel()->lblProblem()->isVisibleTo(&window));
    QCOMPARE(window.conversionPanel()->lblProblem()->text(), window.refusal());
    QCOMPARE(window.lblMovieSize()->text(), QStringLiteral("\u2014"));
    QVERIFY(!window.btnImport()->isEnabled());
    QVERIFY(window.webView()->moviePath().isEmpty());

    // An MP4 named .flv is no Flash video: converted, not copied.
    const QString renamed = m_dir.filePath("renamed.flv");
    QVERIFY(testing::makeMovie(renamed, {320, 240}, 1, true, {"-f", "mp4"}));
    window.setFile(renamed, album.get());
    QVERIFY(window.converting() && window.refusal().isEmpty());
    QCOMPARE(window.lblMovieSize()->text(), QStringLiteral("320 x 240"));
    QVERIFY(window.btnImport()->isEnabled());

    // A phone's movie is looked at whole and upright: in the player's area,
    // red top right and blue bottom right of the picture shown.
    const QString phone = m_dir.filePath("phone.mp4");
    QVERIFY(testing::makeMarkerMovie(phone, {160, 96}, 3));
    QVERIFY(testing::setDisplayMatrix(phone, 0, 1, -1, 0));
    window.setFile(phone, album.get());
    QCOMPARE(window.lblMovieSize()->text(), QStringLiteral("96 x 160"));
    PlayerView *player = window.webView();
    QTRY_VERIFY_WITH_TIMEOUT(!player->frame().isNull(), 20000);
    QRect shown(QPoint(0, 0), QSize(96, 160));
    shown.moveCenter(playerAreaInView(player->size()).center());
    QCOMPARE(testing::markerCorners(player->grab(shown).toImage()), QStringLiteral(".R.B"));
    // The whole of a big one, fitted.
    const QString big = m_dir.filePath("big.mp4");
    QVERIFY(testing::makeMarkerMovie(big, {1280, 720}, 3));
    window.setFile(big, album.get());
    QTRY_VERIFY_WITH_TIMEOUT(!player->frame().isNull(), 20000);
    shown = QRect(QPoint(0, 0), QSize(600, 338));
    shown.moveCenter(playerAreaInView(player->size()).center());
    QCOMPARE(testing::markerCorners(player->grab(shown.adjusted(2, 2, -2, -2)).toImage()), QStringLiteral("RB.."));

    // Rates typed stay when the codec changes; the others follow the codec.
    QTableWidget *rows = window.conversionPanel()->tvStreams();
    auto box = [rows](int row) { return static_cast<QSpinBox *>(rows->cellWidget(row, 2)); };
    auto rate = [box](int row) { return box(row)->value(); };
    const int defaultSmall = rate(2);
    box(0)->setValue(1234);
    window.conversionPanel()->cmbCodec()->setCurrentIndex(1);
    QCOMPARE(rate(0), 1234);
    QVERIFY(rate(2) != defaultSmall);

    // The movie waits while it is converted.
    QTRY_VERIFY_WITH_TIMEOUT(player->isPlaying(), 20000);
    setConversionDelayForTesting(40);
    auto stop = whenShown<QDialog>(
        [player](QDialog *sheet) {
            QTRY_VERIFY(!player->isPlaying());
            sheet->findChild<QPushButton *>("btnStop")->click();
        },
        [](QDialog *d) { return d->objectName() == "jobSheet"; });
    QTest::mouseClick(window.btnImport(), Qt::LeftButton);
    QTRY_VERIFY(*stop);
    QTRY_VERIFY_WITH_TIMEOUT(!window.conversionJob(), 20000);
    setConversionDelayForTesting(0);
    QVERIFY(!player->isPlaying());
    QVERIFY(album->items().isEmpty());
    window.close();
}

void TestVideoGui::importStreamsAndThumbnailFromTheMainWindow()
{
    AlbumWindow aw(m_dir, "gallery");
    QVERIFY(aw.album);
    MainController &w = *aw.w;
    Album *album = aw.album;
    w.gallery().undoStack()->setClean();

    // One FLV dropped onto the album in the tree: the import window, new-video mode.
    QVERIFY(aw.dropOnAlbum(m_spark));
    ImportVideoController *import = w.importVideoController();
    QTRY_VERIFY(import->isVisible());
    QCOMPARE(import->windowTitle(), QStringLiteral("Import Video"));
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
    QVERIFY(QFile::exists(aw.img(video->thumbFile())));
    QCOMPARE(video->numberOfStreams(), 1);
    QVERIFY(video->streams().first()->file().startsWith("vstream_"));
    QVERIFY(QFile::exists(aw.img(video->streams().first()->file())));
    QVERIFY(w.data().needsToSaveChanges());

    // A second, lower-rate stream dropped onto the video's row goes after the first.
    QMimeData second;
    second.setUrls({QUrl::fromLocalFile(m_low)});
    QVERIFY(w.itemModel()->dropMimeData(&second, Qt::CopyAction, -1, 0, w.itemModel()->index(0, 0)));
    QTRY_VERIFY(import->isVisible());
    QCOMPARE(import->windowTitle(), QStringLiteral("Add Video Stream"));
    QTest::mouseClick(import->btnImport(), Qt::LeftButton);
    QCOMPARE(video->numberOfStreams(), 2);
    QCOMPARE(video->streams().at(0)->bitrate(), highRate);
    QVERIFY(video->streams().at(1)->bitrate() < highRate);
    QCOMPARE(album->items().size(), 1);

    // The preview: two streams; remove the first, then the last is refused.
    w.tvPhotos()->selectRow(0);
    QTest::mouseClick(w.btnShowVideo(), Qt::LeftButton);
    VideoPreviewController *preview = w.videoPreviewController();
    QTRY_VERIFY(preview->isVisible());
    QCOMPARE(preview->cmbStreams()->count(), 2);
    const QString removedFile = aw.img(video->streams().at(0)->file());
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
    auto made = whenShown<CreateVideoThumbController>([&](CreateVideoThumbController *t) {
        QCOMPARE(t->imgCapture()->image().size(), QSize(320, 240));
        t->txtThumbWidth()->setText("160");
        t->txtThumbHeight()->setText("90");
        t->changedThumbSize();
        QCOMPARE(t->imgCapture()->croppingRect().h, 180.0f);
        QTest::mouseClick(t->findChild<QPushButton *>("btnCreateThumb"), Qt::LeftButton);
    });
    QTest::mouseClick(preview->btnCaptureThumbnail(), Qt::LeftButton);
    QVERIFY(*made);
    const QString thumb = aw.img(video->thumbFile());
    QCOMPARE(QImageReader(thumb).size(), QSize(160, 90));
    QTRY_COMPARE(w.lblSmallImageSize()->text(), QStringLiteral("160 x 90"));
    QTRY_COMPARE(w.ivPhoto()->image().size(), QSize(160, 90));
    QCOMPARE(aw.settings.value("VideoThumbWidth").toInt(), 160);
    const testing::Look look = testing::look(QImage(thumb));
    QVERIFY(look.brightness > 40 && look.colours >= 4);
    preview->close();
    QVERIFY(!preview->webView()->isPlaying());

    // Saved: one video with its stream and thumbnail in the album file.
    w.action("miSave")->trigger();
    const QString xml = testing::readFile(aw.gallery + "/xml/" + album->XMLFile());
    QCOMPARE(xml.count("<stream "), 1);
    QVERIFY(xml.contains(QStringLiteral("<url>%1</url>").arg(video->thumbFile())));
    QVERIFY(xml.contains(QStringLiteral("<url>%1</url>").arg(video->streams().first()->file())));
    QVERIFY(xml.contains(QStringLiteral("bitrate=\"%1\"").arg(video->streams().first()->bitrate())));
}

void TestVideoGui::bigMoviesCopyInTheBackground()
{
    testing::GalleryFixture f;
    const auto album = f.album("big");
    f.ready();
    // A real movie with 40 MB of padding.
    const QString big = m_dir.filePath("long evening.flv");
    QVERIFY(testing::writeBytes(big, readBytes(m_low) + QByteArray(40 << 20, '\0')));
    const QStringList before = f.imgFiles();

    ImportVideoController window(&f.gallery);
    window.setFile(big, album.get());
    window.showWindow();
    auto sheet = [&] { return window.findChild<JobSheet *>(); };

    // Stopped: no video, no file, and the window stays for another try.
    FileWriter::setCopyPieceDelayForTesting(50); // so that the stop lands in the middle
    QTest::mouseClick(window.btnImport(), Qt::LeftButton);
    QVERIFY2(sheet(), "a copy of this size shows its progress");
    sheet()->btnStop()->click();
    QTRY_VERIFY(!sheet());
    QVERIFY(album->items().isEmpty());
    QCOMPARE(f.imgFiles(), before);
    QVERIFY(window.isVisible());

    // Left to run: the whole movie and its placeholder thumbnail.
    QTest::mouseClick(window.btnImport(), Qt::LeftButton);
    QVERIFY(sheet());
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 20000);
    QCOMPARE(album->items().size(), 1);
    auto *video = static_cast<Video *>(album->items().first().get());
    QCOMPARE(QFileInfo(f.img(video->streams().first()->file())).size(), QFileInfo(big).size());
    QVERIFY(QFile::exists(f.img(video->thumbFile())));
    QCOMPARE(f.imgFiles().size(), before.size() + 2);

    // The album goes while its movie copies: no stray file.
    window.setFile(big, album.get());
    window.showWindow();
    QTest::mouseClick(window.btnImport(), Qt::LeftButton);
    QVERIFY(sheet());
    f.gallery.removeNode(album);
    QVERIFY(f.settled());
    QStringList gone = f.imgFiles();
    gone.removeIf([](const QString &name) { return name.contains(".tmp-"); }); // the copy under way
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 20000);
    QCOMPARE(f.imgFiles(), gone);
    FileWriter::setCopyPieceDelayForTesting(0);

    // The gallery's disk is full: the alert names the gallery's file, not the
    // movie, which is fine, and nothing is added.
    testing::TinyDisk disk(256 * 1024);
    if (!disk.ok()) {
        qInfo("no tmpfs can be mounted here (needs root): the full-disk case is left out");
        return;
    }
    testing::GalleryFixture full(disk.path());
    const auto fullAlbum = full.album("full");
    full.ready();
    disk.fill();
    ImportVideoController fullWindow(&full.gallery);
    fullWindow.setFile(m_low, fullAlbum.get());
    fullWindow.showWindow();
    auto alert = answerMessageBox();
    QTest::mouseClick(fullWindow.btnImport(), Qt::LeftButton);
    QTRY_VERIFY(!alert->isEmpty());
    QVERIFY2(alert->contains(QDir::toNativeSeparators(full.prefs.imgFolder())) && !alert->contains(m_low),
             qPrintable(*alert));
    QVERIFY(fullAlbum->items().isEmpty());
    QVERIFY(full.imgFiles().isEmpty());
}

void TestVideoGui::convertFromTheMainWindow()
{
    const QString movie = m_dir.filePath("Beach Day.mp4");
    QVERIFY(testing::makeMovie(movie, {640, 360}, 2, true));
    AlbumWindow aw(m_dir, "converted");
    QVERIFY(aw.album);
    MainController &w = *aw.w;
    Album *album = aw.album;
    const QStringList before = aw.imgFiles();

    // Dropped onto the album: the import window offers the ladder.
    QVERIFY(aw.dropOnAlbum(movie));
    ImportVideoController *import = w.importVideoController();
    QTRY_VERIFY(import->isVisible());
    QVERIFY(import->converting());
    QCOMPARE(import->lblMovieSize()->text(), QStringLiteral("640 x 360"));
    QTableWidget *rows = import->conversionPanel()->tvStreams();
    QCOMPARE(rows->rowCount(), 3);
    QCOMPARE(rows->item(0, 1)->text(), QStringLiteral("600 × 336"));

    // Stopped on its sheet: nothing made, nothing added, the window stays.
    setConversionDelayForTesting(40);
    auto stop = whenShown<QDialog>([](QDialog *sheet) { sheet->findChild<QPushButton *>("btnStop")->click(); },
                                   [](QDialog *d) { return d->objectName() == "jobSheet"; });
    QTest::mouseClick(import->btnImport(), Qt::LeftButton);
    QTRY_VERIFY(*stop);
    QTRY_VERIFY_WITH_TIMEOUT(!import->conversionJob(), 20000);
    QCOMPARE(aw.imgFiles(), before);
    QVERIFY(album->items().isEmpty());
    QVERIFY(import->isVisible());

    // Closed in the middle (as quitting does): the same.
    QTest::mouseClick(import->btnImport(), Qt::LeftButton);
    QTRY_VERIFY(import->conversionJob() && import->conversionJob()->done() > 0);
    import->close();
    QVERIFY(!import->isVisible());
    QCOMPARE(aw.imgFiles(), before);
    QVERIFY(album->items().isEmpty());
    setConversionDelayForTesting(0);

    // Two of the three streams, one rate edited, converted to the end.
    QVERIFY(aw.dropOnAlbum(movie));
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
    for (const StreamPtr &s : video->streams()) {
        QVERIFY(s->file().startsWith("vstream_") && s->file().endsWith(".flv"));
        int fw = 0, fh = 0, rate = 0;
        readFLVMetadata(aw.img(s->file()), fw, fh, rate);
        QCOMPARE(rate, s->bitrate());
    }
    // A frame of the movie, not the placeholder.
    const QString thumb = aw.img(video->thumbFile());
    QCOMPARE(QImageReader(thumb).size(), QSize(120, 90));
    QVERIFY(readBytes(thumb) != readBytes(resourcePath("videothumb.jpg")));
    QCOMPARE(aw.imgFiles().size(), before.size() + 3);

    // Our own player plays what was made.
    w.tvPhotos()->selectRow(0);
    QTest::mouseClick(w.btnShowVideo(), Qt::LeftButton);
    VideoPreviewController *preview = w.videoPreviewController();
    QTRY_VERIFY(preview->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(preview->movieWidth() == 600 && !preview->webView()->frame().isNull(), 20000);
    QCOMPARE(preview->webView()->frame().size(), QSize(600, 336));
    preview->close();
}

void TestVideoGui::everyMovieKindAndCutOffMovies()
{
    AlbumWindow aw(m_dir, "kinds");
    QVERIFY(aw.album);
    MainController &w = *aw.w;
    ImportVideoController *import = w.importVideoController();
    QStringList chosen;
    FolderChooser::setFilesOverrideForTesting([&chosen](const QString &) { return chosen; });
    auto choose = [&](const QString &file) {
        chosen = {file};
        w.action("miImportVideo")->trigger();
    };

    // Chosen in the file dialog or dropped: MPEG program and transport
    // streams and Windows Media are converted like any movie.
    const QList<std::pair<QString, QStringList>> kinds{{"clip.mpg", {"-c:v", "mpeg2video"}},
                                                       {"clip.ts", {}},
                                                       {"clip.wmv", {"-c:v", "wmv2"}}};
    for (const auto &[name, codec] : kinds) {
        const QString movie = m_dir.filePath(name);
        QVERIFY(testing::makeMovie(movie, {160, 120}, 1, false, codec));
        choose(movie);
        QTRY_VERIFY(import->isVisible());
        QVERIFY2(import->converting() && import->refusal().isEmpty(), qPrintable(import->refusal()));
        QVERIFY(import->btnImport()->isEnabled());
        import->close();
        QVERIFY(aw.dropOnAlbum(movie));
        QTRY_VERIFY(import->isVisible());
        QCOMPARE(import->file(), movie);
        import->close();
    }
    // Sound alone: refused with the reason, chosen or dropped.
    const QString song = m_dir.filePath("song.m4a");
    QVERIFY(testing::ffmpeg({"-f", "lavfi", "-i", "sine", "-t", "1", "-c:a", "aac", song}));
    for (const bool dropped : {false, true}) {
        auto alert = answerMessageBox();
        if (dropped)
            QVERIFY(aw.dropOnAlbum(song));
        else
            choose(song);
        QTRY_VERIFY(!alert->isEmpty());
        QVERIFY2(alert->contains("is a sound file"), qPrintable(*alert));
        QVERIFY(!import->isVisible());
    }
    FolderChooser::setFilesOverrideForTesting(nullptr);

    // Cut off halfway: the window says where the movie ends and asks.
    const QString whole = m_dir.filePath("whole.mkv"), cut = m_dir.filePath("Cut Short.mkv");
    QVERIFY(testing::makeMovie(whole, {160, 120}, 6, true));
    const QByteArray bytes = readBytes(whole);
    QVERIFY(testing::writeBytes(cut, bytes.left(bytes.size() / 2)));
    const QStringList before = aw.imgFiles();
    QVERIFY(aw.dropOnAlbum(cut));
    QTRY_VERIFY(import->isVisible());
    auto cancelled = answerMessageBox("Cancel");
    QTest::mouseClick(import->btnImport(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!cancelled->isEmpty(), 30000);
    QVERIFY2(cancelled->contains(QRegularExpression("^The movie ends at 0:0[1-4] of 0:06\\.")), qPrintable(*cancelled));
    QTRY_VERIFY(!import->conversionJob());
    QCOMPARE(aw.imgFiles(), before);
    QVERIFY(aw.album->items().isEmpty());
    QVERIFY(import->isVisible());
    auto kept = answerMessageBox("Convert What Plays");
    QTest::mouseClick(import->btnImport(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!import->isVisible(), 30000);
    QVERIFY(!kept->isEmpty());
    QCOMPARE(aw.album->items().size(), 1);
    auto *video = static_cast<Video *>(aw.album->items().first().get());
    QCOMPARE(video->title(), QStringLiteral("Cut Short"));
    for (const StreamPtr &s : video->streams())
        QVERIFY(QFile::exists(aw.img(s->file())));
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
