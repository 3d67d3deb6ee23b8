// Drives the real main window through imports, drops, deletion, the
// thumbnail chooser and the photo viewer, and checks the gallery on disk.

#include "common/GuiHelpers.h"
#include "common/TestFiles.h"
#include "import/ImportPhotosController.h"
#include "import/ImportingPhotosController.h"
#include "mainwindow/AlbumTreeModel.h"
#include "mainwindow/ChangeAlbumThumbController.h"
#include "mainwindow/ItemListModel.h"
#include "mainwindow/ImageWells.h"
#include "mainwindow/MainController.h"
#include "storage/JobSheet.h"

#include <QProgressBar>
#include "mainwindow/Pasteboard.h"
#include "mainwindow/PhotoWindowController.h"
#include "model/Photo.h"
#include "storage/FolderChooser.h"
#include "storage/NewOrvaneFolderController.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeView>
#include <QUrl>
#include <QtTest>

using namespace qm;
using testing::answerMessageBox;
using testing::filesMime;
using testing::readFile;
using testing::whenShown;

class TestGalleryGui : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void importFromTheMenuAndByDrop();
    void rearrangeDeleteAndSave();
    void thumbnailChooserAndViewer();
    void deletingABigAlbum();

private:
    // A window on a fresh gallery with two albums, the first selected.
    std::unique_ptr<MainController> openGallery();
    QStringList pictures(int count, QSize size = {1200, 900});
    // Runs the import dialog (already open or about to open) to its end.
    void importWith(MainController &w, const std::function<void(ImportPhotosController *)> &adjust);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    QString m_gallery;
    QStringList m_filesAnswer;
};

void TestGalleryGui::initTestCase()
{
    static QTemporaryDir home;
    QDir(home.path()).mkpath("share");
    qputenv("XDG_DATA_HOME", home.filePath("share").toLocal8Bit());
}

void TestGalleryGui::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_settings = std::make_unique<QSettings>(m_dir->filePath("settings.ini"), QSettings::IniFormat);
    QString error;
    m_gallery = NewOrvaneFolderController::createGalleryFolder(m_dir->path(), QStringLiteral("gallery"), &error);
    QVERIFY2(!m_gallery.isEmpty(), qPrintable(error));
    m_settings->setValue("OrvaneFolder", m_gallery);
    FolderChooser::setFilesOverrideForTesting([this](const QString &) { return m_filesAnswer; });
}

void TestGalleryGui::cleanup()
{
    testing::cancelPendingWatchers();
    FolderChooser::setFilesOverrideForTesting(nullptr);
}

std::unique_ptr<MainController> TestGalleryGui::openGallery()
{
    auto w = std::make_unique<MainController>(m_settings.get());
    w->show();
    [&] { QTRY_VERIFY(w->windowTitle().startsWith("Quillmere - ")); }();
    w->action("miNewAlbum")->trigger();
    w->action("miNewAlbum")->trigger();
    w->ovAlbums()->setCurrentIndex(w->treeModel()->index(0, 0));
    return w;
}

QStringList TestGalleryGui::pictures(int count, QSize size)
{
    QStringList files;
    for (int i = 0; i < count; ++i) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(QColor::fromHsv(i * 40 % 360, 180, 200));
        const QString path = m_dir->filePath(QStringLiteral("pic%1.%2").arg(i).arg(i % 2 ? "png" : "jpg"));
        image.save(path);
        files << path;
    }
    return files;
}

void TestGalleryGui::importWith(MainController &w, const std::function<void(ImportPhotosController *)> &adjust)
{
    int finished = 0;
    auto conn = connect(w.importingPhotosController(), &ImportingPhotosController::importFinished, this,
                        [&finished] { ++finished; });
    auto shown = whenShown<ImportPhotosController>([&](ImportPhotosController *d) {
        adjust(d);
        QTest::mouseClick(d->btnImport(), Qt::LeftButton);
    });
    QTRY_VERIFY(*shown);
    QTRY_COMPARE_WITH_TIMEOUT(finished, 1, 30000);
    disconnect(conn);
    QVERIFY(!w.findChild<JobSheet *>());
}

void TestGalleryGui::importFromTheMenuAndByDrop()
{
    auto w = openGallery();
    auto *album = static_cast<Album *>(w->data().albums().at(0).get());
    QCOMPARE(w->data().selectedAlbum(), album);
    w->gallery().undoStack()->setClean();

    // From the command: four pictures, other sizes and quality, no large size.
    m_filesAnswer = pictures(4);
    m_filesAnswer << m_dir->filePath("notes.txt"); // not a picture: left out before the dialog
    QFile(m_filesAnswer.last()).open(QIODevice::WriteOnly);
    QTimer::singleShot(0, w->action("miImportPhotos"), &QAction::trigger);
    importWith(*w, [](ImportPhotosController *d) {
        QCOMPARE(d->tvFiles()->model()->rowCount(), 4);
        QCOMPARE(d->tvFiles()->model()->index(0, 0).data().toString(), QStringLiteral("pic0.jpg"));
        d->txtWidth()->setText("640");
        d->txtHeight()->setText("480");
        d->txtSmallWidth()->setText("90");
        d->txtSmallHeight()->setText("90");
        d->chkCreateLarge()->setChecked(false);
        d->sliderQuality()->setValue(70);
        QCOMPARE(d->lblQuality()->text(), QStringLiteral("70"));
    });
    QCOMPARE(w->itemModel()->rowCount(), 4);
    QCOMPARE(album->items().size(), 4);
    QCOMPARE(w->treeModel()->index(0, AlbumTreeModel::NumberColumn).data().toString(), QStringLiteral("4"));
    QVERIFY(w->data().needsToSaveChanges());
    QCOMPARE(m_settings->value("ImportPhotosWidth").toInt(), 640);
    QCOMPARE(m_settings->value("ImportPhotosSmallHeight").toInt(), 90);
    QCOMPARE(m_settings->value("ImportPhotosQuality").toInt(), 70);
    QCOMPARE(m_settings->value("ImportPhotosCreateLarge").toBool(), false);
    auto *first = static_cast<Photo *>(album->items().at(0).get());
    QCOMPARE(first->title(), QStringLiteral("pic0"));
    QVERIFY(first->largeImageFile().isNull());
    QCOMPARE(QImageReader(m_gallery + "/img/" + first->imageFile()).size(), QSize(640, 480));
    QCOMPARE(QImageReader(m_gallery + "/img/" + first->smallImageFile()).size(), QSize(90, 67));

    // Selecting a new row shows the sizes of its files.
    w->tvPhotos()->selectRow(1);
    QCOMPARE(w->lblImageSize()->text(), QStringLiteral("640 x 480"));
    QCOMPARE(w->lblSmallImageSize()->text(), QStringLiteral("90 x 67"));
    QCOMPARE(w->lblLargeImageSize()->text(), QString());

    // Files dropped onto the other album of the tree: the dialog remembers
    // the last values, the large size goes back on, with a copyright line.
    auto *other = static_cast<Album *>(w->data().albums().at(1).get());
    std::unique_ptr<QMimeData> drop(filesMime(pictures(3, {2000, 1000})));
    const QModelIndex target = w->treeModel()->index(1, 0);
    QVERIFY(w->treeModel()->canDropMimeData(drop.get(), Qt::CopyAction, -1, 0, target));
    QTimer::singleShot(0, this, [&] { w->treeModel()->dropMimeData(drop.get(), Qt::CopyAction, -1, 0, target); });
    importWith(*w, [](ImportPhotosController *d) {
        QCOMPARE(d->txtWidth()->text(), QStringLiteral("640"));
        QCOMPARE(d->sliderQuality()->value(), 70);
        d->chkCreateLarge()->setChecked(true);
        d->txtLargeWidth()->setText("1000");
        d->txtLargeHeight()->setText("1000");
        QVERIFY(!d->txtCopyright()->isEnabled());
        QTest::mouseClick(d->chkInsertCopyright(), Qt::LeftButton);
        QVERIFY(d->txtCopyright()->isEnabled() && d->btnFont()->isEnabled());
        d->txtCopyright()->setText(QStringLiteral("\u00a9 Tester"));
    });
    QCOMPARE(other->items().size(), 3);
    QCOMPARE(album->items().size(), 4);      // the list still shows the first album
    QCOMPARE(w->itemModel()->rowCount(), 4);
    auto *large = static_cast<Photo *>(other->items().at(0).get());
    QCOMPARE(QImageReader(m_gallery + "/img/" + large->largeImageFile()).size(), QSize(1000, 500));

    // A picture that cannot be read is reported and left out.
    QStringList mixed = pictures(2);
    const QString broken = m_dir->filePath("broken.jpg");
    QFile b(broken);
    QVERIFY(b.open(QIODevice::WriteOnly));
    b.write("no picture");
    b.close();
    mixed.insert(1, broken);
    auto report = answerMessageBox();
    drop.reset(filesMime(mixed));
    QTimer::singleShot(0, this, [&] { w->itemModel()->dropMimeData(drop.get(), Qt::CopyAction, 0, 0, {}); });
    importWith(*w, [](ImportPhotosController *) {});
    QTRY_VERIFY(report->contains("broken.jpg"));
    QCOMPARE(album->items().size(), 6);
    QCOMPARE(w->itemModel()->rowCount(), 6);

    // Saved: the album file lists every photo with its files.
    w->action("miSave")->trigger();
    QVERIFY(!w->data().needsToSaveChanges());
    const QString xml = readFile(m_gallery + "/xml/" + album->XMLFile());
    QCOMPARE(xml.count("<picture>"), 6);
    QVERIFY(xml.contains("<title>pic0</title>"));
    QVERIFY(xml.contains(first->smallImageFile()));
    for (const ItemPtr &item : album->items()) {
        auto *p = static_cast<Photo *>(item.get());
        QVERIFY(QFile::exists(m_gallery + "/img/" + p->imageFile()));
        QVERIFY(QFile::exists(m_gallery + "/img/" + p->smallImageFile()));
    }
}

void TestGalleryGui::rearrangeDeleteAndSave()
{
    auto w = openGallery();
    auto *album = static_cast<Album *>(w->data().albums().at(0).get());
    m_filesAnswer = pictures(5, {300, 200});
    QTimer::singleShot(0, w->action("miImportPhotos"), &QAction::trigger);
    importWith(*w, [](ImportPhotosController *d) { d->chkCreateLarge()->setChecked(true); });
    QCOMPARE(album->items().size(), 5);
    QStringList files;
    for (const ItemPtr &item : album->items())
        files << static_cast<Photo *>(item.get())->imageFile();

    // Reorder: rows 1 and 3 dragged above row 0.
    w->tvPhotos()->selectionModel()->select(QItemSelection(w->itemModel()->index(1, 0), w->itemModel()->index(1, 4)),
                                            QItemSelectionModel::Select);
    std::unique_ptr<QMimeData> drag(w->itemModel()->mimeData({w->itemModel()->index(1, 1), w->itemModel()->index(3, 1)}));
    QVERIFY(w->itemModel()->dropMimeData(drag.get(), Qt::MoveAction, 0, 0, {}));
    QCOMPARE(album->items().at(0)->title(), QStringLiteral("pic1"));
    QCOMPARE(album->items().at(1)->title(), QStringLiteral("pic3"));
    QVERIFY(w->tvPhotos()->selectionModel()->selectedRows().isEmpty());

    // Two items onto the second album of the tree.
    auto *other = static_cast<Album *>(w->data().albums().at(1).get());
    drag.reset(w->itemModel()->mimeData({w->itemModel()->index(0, 0), w->itemModel()->index(1, 0)}));
    QVERIFY(w->treeModel()->dropMimeData(drag.get(), Qt::MoveAction, -1, 0, w->treeModel()->index(1, 0)));
    QCOMPARE(other->items().size(), 2);
    QCOMPARE(w->itemModel()->rowCount(), 3);
    QCOMPARE(w->treeModel()->index(1, AlbumTreeModel::NumberColumn).data().toString(), QStringLiteral("2"));

    // One item to the trash well: the picture turns full while over it, the files go.
    w->tvPhotos()->selectRow(0);
    auto *doomed = static_cast<Photo *>(album->items().at(0).get());
    const QString doomedFile = m_gallery + "/img/" + doomed->imageFile();
    QVERIFY(QFile::exists(doomedFile));
    drag.reset(w->itemModel()->mimeData({w->itemModel()->index(0, 0)}));
    QCOMPARE(w->wells()->validateDrop(w->ivTrash(), drag.get()), Qt::MoveAction);
    const QImage full = w->ivTrash()->image();
    w->wells()->dragHasLeft(w->ivTrash());
    QVERIFY(w->ivTrash()->image() != full);
    std::unique_ptr<QMimeData> outside(filesMime({m_filesAnswer[0]}));
    QCOMPARE(w->wells()->validateDrop(w->ivTrash(), outside.get()), Qt::IgnoreAction);
    QVERIFY(w->wells()->acceptDrop(w->ivTrash(), drag.get()));
    QCOMPARE(album->items().size(), 2);
    QVERIFY(!QFile::exists(doomedFile));
    QCOMPARE(w->data().selectedItem(), nullptr);

    // The Delete command asks first and names what goes; Cancel keeps it.
    w->ovAlbums()->setCurrentIndex(w->treeModel()->index(1, 0));
    w->ovAlbums()->setFocus();
    auto question = answerMessageBox(QStringLiteral("Cancel"));
    w->action("miDelete")->trigger();
    QVERIFY(question->contains("2 photos"));
    QCOMPARE(w->data().albums().size(), 2);
    const QString otherXml = m_gallery + "/xml/" + other->XMLFile();
    w->action("miSave")->trigger();
    QVERIFY(QFile::exists(otherXml));
    auto yes = answerMessageBox(QStringLiteral("&Delete"));
    w->action("miDelete")->trigger();
    QVERIFY(yes->contains("\u201cUntitled\u201d"));
    QCOMPARE(w->data().albums().size(), 1);
    QCOMPARE(w->data().selectedAlbum(), nullptr);
    QVERIFY(!QFile::exists(otherXml));
    QVERIFY(w->data().needsToSaveChanges());

    // What is saved names only files that exist.
    w->action("miSave")->trigger();
    const QString index = readFile(m_gallery + "/xml/albums.xml");
    QCOMPARE(index.count("<album>"), 1);
    const QString xml = readFile(m_gallery + "/xml/" + album->XMLFile());
    QCOMPARE(xml.count("<picture>"), 2);
    QRegularExpression url("<url>([^<]+)</url>");
    auto it = url.globalMatch(xml);
    int named = 0;
    while (it.hasNext()) {
        const QString name = it.next().captured(1);
        QVERIFY2(QFile::exists(m_gallery + "/img/" + name), qPrintable(name));
        ++named;
    }
    QCOMPARE(named, 6);
}

void TestGalleryGui::thumbnailChooserAndViewer()
{
    auto w = openGallery();
    auto *first = w->data().albums().at(0).get();
    auto *second = w->data().albums().at(1).get();
    QVERIFY(first->thumbFile() != second->thumbFile());

    // A picture dropped on the album thumbnail well: 60 x 40 at most, the name kept.
    const QString picture = pictures(1, {1024, 768}).first();
    std::unique_ptr<QMimeData> drop(filesMime({picture}));
    QCOMPARE(w->wells()->validateDrop(w->ivAlbumThumb(), drop.get()), Qt::CopyAction);
    const QString before = first->thumbFile();
    QVERIFY(w->wells()->acceptDrop(w->ivAlbumThumb(), drop.get()));
    QCOMPARE(first->thumbFile(), before);
    QCOMPARE(QImageReader(m_gallery + "/img/" + before).size(), QSize(53, 40));
    QCOMPARE(w->ivAlbumThumb()->image().size(), QSize(53, 40));
    std::unique_ptr<QMimeData> two(filesMime({picture, picture}));
    QCOMPARE(w->wells()->validateDrop(w->ivAlbumThumb(), two.get()), Qt::IgnoreAction);

    // The chooser lists the gallery's thumbnails with the current one marked;
    // picking another makes the two albums share it.
    QFile::copy(picture, m_gallery + "/img/albthumb_big.JPG"); // upper-case extension: not listed
    w->gallery().undoStack()->setClean();
    auto chosen = whenShown<ChangeAlbumThumbController>([&](ChangeAlbumThumbController *d) {
        QCOMPARE(d->files().size(), 2);
        QVERIFY(!d->files().contains("albthumb_big.JPG"));
        const QModelIndexList marked = d->tvThumbs()->selectionModel()->selectedIndexes();
        QCOMPARE(marked.size(), 1);
        QCOMPARE(d->files().at(marked.first().row()), before);
        QVERIFY(d->isVisible());
        const int other = d->files().indexOf(second->thumbFile());
        d->tvThumbs()->selectionModel()->select(d->tvThumbs()->model()->index(other, 0),
                                                QItemSelectionModel::ClearAndSelect);
    });
    QTest::mouseClick(w->btnChangeAlbumThumb(), Qt::LeftButton);
    QTRY_VERIFY(*chosen);
    QTRY_VERIFY(!w->changeAlbumThumbController()->isVisible());
    QCOMPARE(first->thumbFile(), second->thumbFile());
    QVERIFY(w->data().needsToSaveChanges());

    // Double-clicking the photo well opens the viewer at the picture's size;
    // Ctrl asks for the large file, which this photo does not have.
    m_filesAnswer = pictures(1, {640, 480});
    QTimer::singleShot(0, w->action("miImportPhotos"), &QAction::trigger);
    importWith(*w, [](ImportPhotosController *d) {
        d->chkCreateLarge()->setChecked(false);
        d->txtWidth()->setText("800");
        d->txtHeight()->setText("600");
    });
    w->tvPhotos()->selectRow(0);
    QTest::mouseDClick(w->ivPhoto(), Qt::LeftButton, Qt::ControlModifier);
    QVERIFY(!w->photoWindowController()->isVisible());
    QTest::mouseDClick(w->ivPhoto(), Qt::LeftButton);
    QTRY_VERIFY(w->photoWindowController()->isVisible());
    QCOMPARE(w->photoWindowController()->windowTitle(), QStringLiteral("Photo - pic0"));
    QCOMPARE(w->photoWindowController()->size(), QSize(640, 480));
}

void TestGalleryGui::deletingABigAlbum()
{
    auto w = openGallery();
    auto *album = static_cast<Album *>(w->data().albums().at(0).get());
    constexpr int kPhotos = 1500;
    QStringList paths;
    QList<ItemPtr> photos;
    for (int i = 0; i < kPhotos; ++i) {
        auto p = std::make_shared<Photo>();
        p->setTitle(QStringLiteral("p%1").arg(i));
        p->setImageFile(QStringLiteral("img_big%1.jpg").arg(i));
        p->setSmallImageFile(QStringLiteral("img_big%1_sm.jpg").arg(i));
        photos << p;
        for (const QString &name : {p->imageFile(), p->smallImageFile()}) {
            QFile f(m_gallery + "/img/" + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            paths << f.fileName();
        }
    }
    w->gallery().addItems(album, photos, {}, "Add");
    const QString trashFiles = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME")) + "/Trash/files";
    auto inTrash = [&] { return QDir(trashFiles).entryList({"img_big*"}, QDir::Files).size(); };
    auto existing = [&] { return std::count_if(paths.begin(), paths.end(), [](const QString &p) { return QFile::exists(p); }); };
    w->ovAlbums()->setCurrentIndex(w->treeModel()->index(0, 0));
    w->ovAlbums()->setFocus();

    // Stopped while the files move: they all come back and the album stays.
    auto sheet = [&] { return w->findChild<JobSheet *>(); };
    auto confirm = answerMessageBox(QStringLiteral("&Delete"));
    w->action("miDelete")->trigger();
    QVERIFY2(sheet(), "a deletion of this size shows its progress");
    QTRY_VERIFY(sheet()->progressBar()->value() >= 70);
    sheet()->btnStop()->click();
    QTRY_VERIFY(!sheet());
    QCOMPARE(w->data().albums().size(), 2);
    QCOMPARE(album->items().size(), kPhotos);
    QCOMPARE(existing(), 2 * kPhotos);
    QCOMPARE(inTrash(), 0);
    QVERIFY2(w->statusBar()->currentMessage().contains("nothing was changed"), qPrintable(w->statusBar()->currentMessage()));

    // Left to run, it takes every file and then the album.
    auto again = answerMessageBox(QStringLiteral("&Delete"));
    w->action("miDelete")->trigger();
    QVERIFY(sheet());
    QTRY_VERIFY_WITH_TIMEOUT(!sheet(), 60000);
    QCOMPARE(w->data().albums().size(), 1);
    QCOMPARE(existing(), 0);
    QCOMPARE(inTrash(), 2 * kPhotos);
    // The photos' files and the album's thumbnail.
    QVERIFY2(w->statusBar()->currentMessage().contains("3001 files moved to the trash"),
             qPrintable(w->statusBar()->currentMessage()));

    // Undo puts every file back, as a job too, and the album with them.
    w->action("miUndo")->trigger();
    QVERIFY(sheet());
    QTRY_VERIFY_WITH_TIMEOUT(!sheet(), 60000);
    QCOMPARE(w->data().albums().size(), 2);
    QCOMPARE(existing(), 2 * kPhotos);
    QCOMPARE(inTrash(), 0);
    QVERIFY(w->close());
}

QTEST_MAIN(TestGalleryGui)
#include "tst_gallerygui.moc"
