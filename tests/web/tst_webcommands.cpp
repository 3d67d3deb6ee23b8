// The main window's web commands: Preview in Browser, Add Web Viewer, and
// Check Gallery's videos that no browser plays.

#include "RawHttp.h"
#include "common/GuiHelpers.h"
#include "common/TestFiles.h"
#include "common/VideoFixtures.h"
#include "mainwindow/AlbumTreeModel.h"
#include "mainwindow/CheckGalleryController.h"
#include "mainwindow/MainController.h"
#include "model/Video.h"
#include "storage/NewOrvaneFolderController.h"
#include "video/ConversionPanel.h"
#include "video/ImportVideoController.h"
#include "web/PreviewServer.h"

#include <QComboBox>
#include <QLabel>
#include <QDesktopServices>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

using namespace qm;
using namespace testing;

// Stands in for the desktop's browser.
class Browser : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void openUrl(const QUrl &url) { opened << url; }
};

class TestWebCommands : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    QString m_gallery;
    Browser m_browser;

    std::unique_ptr<MainController> openWithAlbum()
    {
        QString error;
        m_gallery = NewOrvaneFolderController::createGalleryFolder(m_dir->path(), "Photos", &error);
        m_settings->setValue("OrvaneFolder", m_gallery);
        auto w = std::make_unique<MainController>(m_settings.get());
        w->show();
        [&] { QTRY_COMPARE(w->windowTitle(), QStringLiteral("Quillmere - %1[*]").arg(m_gallery)); }();
        w->action("miNewAlbum")->trigger();
        w->ovAlbums()->setCurrentIndex(w->treeModel()->index(0, 0));
        return w;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_settings = std::make_unique<QSettings>(m_dir->filePath("settings.ini"), QSettings::IniFormat);
        qputenv("XDG_DATA_HOME", m_dir->filePath("share").toLocal8Bit());
        QDesktopServices::setUrlHandler("http", &m_browser, "openUrl");
        m_browser.opened.clear();
    }
    void cleanup()
    {
        QDesktopServices::unsetUrlHandler("http");
        cancelPendingWatchers();
    }

    // The browser opens on the selected album, served with the changes not yet saved; quitting stops the server.
    void previewInBrowser()
    {
        auto w = openWithAlbum();
        Album *album = w->data().selectedAlbum();
        QVERIFY(album);
        w->gallery().setTitle(album, "Not saved yet");
        w->action("miPreviewInBrowser")->trigger();
        QCOMPARE(m_browser.opened.size(), 1);
        const QUrl url = m_browser.opened.first();
        const quint16 port = w->previewServer()->port();
        QCOMPARE(url.toString(QUrl::RemoveFragment), QStringLiteral("http://127.0.0.1:%1/Photos/viewer/").arg(port));
        QCOMPARE(url.fragment(), "/a/" + album->XMLFile());
        QVERIFY(fetch(port, "/Photos/xml/albums.xml").body.contains("<title>Not saved yet</title>"));
        QCOMPARE(fetch(port, "/Photos/viewer/").status, 200);
        // Again: the same server, the browser opened once more.
        w->action("miPreviewInBrowser")->trigger();
        QCOMPARE(m_browser.opened.size(), 2);
        QCOMPARE(w->previewServer()->port(), port);
        QVERIFY(w->close());
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        QVERIFY(!socket.waitForConnected(3000));
    }

    void addWebViewer()
    {
        auto w = openWithAlbum();
        const QString index = m_gallery + "/viewer/index.html";
        w->action("miAddWebViewer")->trigger();
        QTRY_VERIFY(QFileInfo::exists(index));
        QTRY_VERIFY(w->statusBar()->currentMessage().contains("The web viewer was added"));
        QCOMPARE(w->gallery().undoStack()->undoText(), QStringLiteral("Add Web Viewer"));
        QVERIFY(QFileInfo::exists(m_gallery + "/viewer/quillmere-viewer.json"));
        // A second time there is nothing to do, and no step.
        const int steps = w->gallery().undoStack()->count();
        w->action("miAddWebViewer")->trigger();
        QTRY_VERIFY(w->statusBar()->currentMessage().contains("is up to date"));
        QCOMPARE(w->gallery().undoStack()->count(), steps);
        w->action("miUndo")->trigger();
        QTRY_VERIFY(!QFileInfo::exists(m_gallery + "/viewer"));
        // A file of the user's own there is kept, and the user told so.
        QDir().mkpath(m_gallery + "/viewer");
        writeBytes(index, "mine");
        const auto told = answerMessageBox();
        w->action("miAddWebViewer")->trigger();
        QTRY_VERIFY(told->contains("not Quillmere's"));
        QCOMPARE(readBytes(index), QByteArray("mine"));
        QVERIFY(QFileInfo::exists(m_gallery + "/viewer/viewer.js"));
    }

    // A Spark-only video is reported, and the conversion into H.264 offered for it.
    void checkGalleryOffersH264()
    {
        auto w = openWithAlbum();
        QVERIFY(makeFLV(m_gallery + "/img/vstream_spark.flv", {160, 120}, 200, false, 1.0));
        QVERIFY(makeFLV(m_gallery + "/img/vstream_h264.flv", {160, 120}, 200, true, 1.0));
        auto spark = std::make_shared<Video>();
        spark->setTitle("Old clip");
        auto both = std::make_shared<Video>();
        both->setTitle("Converted clip");
        for (auto [video, file] : {std::pair{spark, "vstream_spark.flv"}, {both, "vstream_spark.flv"}, {both, "vstream_h264.flv"}}) {
            auto s = std::make_shared<VideoStream>();
            s->setBitrate(200);
            s->setFile(file);
            video->addStream(s);
        }
        w->gallery().addItems(w->data().selectedAlbum(), {spark, both}, {}, "Add");
        QVERIFY(w->saveData());
        w->action("miCheckGallery")->trigger();
        CheckGalleryController *check = w->checkGalleryController();
        QTRY_VERIFY(!check->isChecking());
        QCOMPARE(check->unplayable().size(), 1);
        QCOMPARE(check->unplayable().first().title, QStringLiteral("Old clip"));
        QVERIFY(check->lblSummary()->text().contains("1 video has no stream that web browsers play"));
        QCOMPARE(check->tabs()->currentWidget(), check->tvUnplayable());
        QVERIFY(!check->btnAddBrowserStream()->isEnabled());
        check->tvUnplayable()->setCurrentItem(check->tvUnplayable()->topLevelItem(0));
        QVERIFY(check->btnAddBrowserStream()->isEnabled());
        check->btnAddBrowserStream()->click();
        ImportVideoController *import = w->importVideoController();
        QTRY_VERIFY(import->isVisible());
        QVERIFY(import->addingStream() && import->converting());
        QCOMPARE(import->file(), m_gallery + "/img/vstream_spark.flv");
        QCOMPARE(VideoCodec(import->conversionPanel()->cmbCodec()->currentData().toInt()), VideoCodec::H264);
        import->reject();
    }
};

QTEST_MAIN(TestWebCommands)

#include "tst_webcommands.moc"
