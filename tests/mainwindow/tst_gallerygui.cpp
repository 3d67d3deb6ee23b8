// Drives the real main window through imports, deletion, the wells, the
// thumbnail chooser and the photo viewer, and checks the gallery on disk.

#include "common/GuiHelpers.h"
#include "common/TestFiles.h"
#include "import/ImportPhotosController.h"
#include "import/ImportingPhotosController.h"
#include "mainwindow/AlbumTreeModel.h"
#include "mainwindow/ChangeAlbumThumbController.h"
#include "mainwindow/ImageWells.h"
#include "mainwindow/ItemListModel.h"
#include "mainwindow/MainController.h"
#include "mainwindow/PhotoWindowController.h"
#include "model/Photo.h"
#include "storage/FolderChooser.h"
#include "storage/JobSheet.h"
#include "storage/NewOrvaneFolderController.h"

#include <QCheckBox>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

using namespace qm;
using testing::answerMessageBox;
using testing::filesMime;
using testing::whenShown;

class TestGalleryGui : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void importFromTheMenuAndByDrop();
    void deleteCommandAndTrashWell();
    void thumbnailChooserAndViewer();
    void deletingABigAlbum();

private:
    // A window on a fresh gallery with two albums, the first selected.
    std::unique_ptr<MainController> openGallery();
    QStringList pictures(int count, QSize size = {1200, 900});
    // Photos whose files are there (empty unless `size` is given), added to the album.
    QStringList addPhotos(MainController &w, Album *album, int count, QSize size = {});
    // Runs the import dialog (already open or about to open) to its end.
    void importWith(MainController &w, const std::function<void(ImportPhotosController *)> &adjust);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    QString m_gallery;
    QStringList m_filesAnswer;
    int m_photos = 0;
};

void TestGalleryGui::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_settings = std::make_unique<QSettings>(m_dir->filePath("settings.ini"), QSettings::IniFormat);
    QString error;
    m_gallery = NewOrvaneFolderController::createGalleryFolder(m_dir->path(), QStringLiteral("gallery"), &error);
    QVERIFY2(!m_gallery.isEmpty(), qPrintable(error));
    m_settings->setValue("OrvaneFolder", m_gallery);
    qputenv("XDG_DATA_HOME", m_dir->filePath("share").toLocal8Bit()); // a trash of the test's own
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
    for (int i = 0; i < count; ++i)
        files << testing::picture(m_dir->filePath(QStringLiteral("pic%1.%2").arg(i).arg(i % 2 ? "png" : "jpg")), size,
                                  QColor::fromHsv(i * 40 % 360, 180, 200));
    return files;
}

QStringList TestGalleryGui::addPhotos(MainController &w, Album *album, int count, QSize size)
{
    QStringList paths;
    QList<ItemPtr> photos;
    for (int i = m_photos; i < m_photos + count; ++i) {
        auto p = std::make_shared<Photo>();
        p->setTitle(QStringLiteral("p%1").arg(i));
        p->setImageFile(QStringLiteral("img_big%1.jpg").arg(i));
        p->setSmallImageFile(QStringLiteral("img_big%1_sm.jpg").arg(i));
        photos << p;
        for (const QString &name : {p->imageFile(), p->smallImageFile()}) {
            paths << m_gallery + "/img/" + name;
            if (size.isEmpty())
                testing::writeBytes(paths.last(), "");
            else
                testing::picture(paths.last(), size);
        }
    }
    m_photos += count;
    w.gallery().addItems(album, photos, {}, "Add");
    return paths;
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

    // From the command: other sizes and quality, no large size; what is no picture is left out.
    m_filesAnswer = pictures(2);
    m_filesAnswer << m_dir->filePath("notes.txt");
    QVERIFY(testing::writeBytes(m_filesAnswer.last(), "text"));
    QTimer::singleShot(0, w->action("miImportPhotos"), &QAction::trigger);
    importWith(*w, [](ImportPhotosController *d) {
        QCOMPARE(d->tvFiles()->model()->rowCount(), 2);
        QCOMPARE(d->tvFiles()->model()->index(0, 0).data().toString(), QStringLiteral("pic0.jpg"));
        d->txtWidth()->setText("640");
        d->txtHeight()->setText("480");
        d->txtSmallWidth()->setText("90");
        d->txtSmallHeight()->setText("90");
        d->chkCreateLarge()->setChecked(false);
        d->sliderQuality()->setValue(70);
        QCOMPARE(d->lblQuality()->text(), QStringLiteral("70"));
    });
    QCOMPARE(w->itemModel()->rowCount(), 2);
    QCOMPARE(w->treeModel()->index(0, AlbumTreeModel::NumberColumn).data().toString(), QStringLiteral("2"));
    QVERIFY(w->data().needsToSaveChanges());
    QVERIFY(m_settings->value("ImportPhotosSmallHeight").toInt() == 90 && !m_settings->value("ImportPhotosCreateLarge").toBool());
    auto *first = static_cast<Photo *>(album->items().at(0).get());
    QCOMPARE(first->title(), QStringLiteral("pic0"));
    QVERIFY(first->largeImageFile().isNull());
    QCOMPARE(QImageReader(m_gallery + "/img/" + first->smallImageFile()).size(), QSize(90, 67));

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
    QCOMPARE(album->items().size(), 2); // the list still shows the first album
    QCOMPARE(w->itemModel()->rowCount(), 2);
    auto *large = static_cast<Photo *>(other->items().at(0).get());
    QCOMPARE(QImageReader(m_gallery + "/img/" + large->largeImageFile()).size(), QSize(1000, 500));
}

void TestGalleryGui::deleteCommandAndTrashWell()
{
    auto w = openGallery();
    auto *album = static_cast<Album *>(w->data().albums().at(0).get());
    auto *other = static_cast<Album *>(w->data().albums().at(1).get());
    const QStringList files = addPhotos(*w, album, 3);
    addPhotos(*w, other, 2);

    // One item to the trash well: the picture turns full while over it, the files go.
    w->tvPhotos()->selectRow(0);
    std::unique_ptr<QMimeData> drag(w->itemModel()->mimeData({w->itemModel()->index(0, 0)}));
    QCOMPARE(w->wells()->validateDrop(w->ivTrash(), drag.get()), Qt::MoveAction);
    const QImage full = w->ivTrash()->image();
    w->wells()->dragHasLeft(w->ivTrash());
    QVERIFY(w->ivTrash()->image() != full);
    std::unique_ptr<QMimeData> outside(filesMime({pictures(1).first()}));
    QCOMPARE(w->wells()->validateDrop(w->ivTrash(), outside.get()), Qt::IgnoreAction);
    QVERIFY(w->wells()->acceptDrop(w->ivTrash(), drag.get()));
    QCOMPARE(album->items().size(), 2);
    QVERIFY(!QFile::exists(files[0]) && !QFile::exists(files[1]) && QFile::exists(files[2]));
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
    drop.reset(filesMime({picture, picture}));
    QCOMPARE(w->wells()->validateDrop(w->ivAlbumThumb(), drop.get()), Qt::IgnoreAction);

    // The chooser lists the gallery's thumbnails with the current one marked;
    // picking another makes the two albums share it.
    QFile::copy(picture, m_gallery + "/img/albthumb_big.JPG"); // upper-case extension: not listed
    w->gallery().undoStack()->setClean();
    auto chosen = whenShown<ChangeAlbumThumbController>([&](ChangeAlbumThumbController *d) {
        QCOMPARE(d->files().size(), 2);
        const QModelIndexList marked = d->tvThumbs()->selectionModel()->selectedIndexes();
        QCOMPARE(marked.size(), 1);
        QCOMPARE(d->files().at(marked.first().row()), before);
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
    addPhotos(*w, static_cast<Album *>(first), 1, {640, 480});
    w->tvPhotos()->selectRow(0);
    QTest::mouseDClick(w->ivPhoto(), Qt::LeftButton, Qt::ControlModifier);
    QVERIFY(!w->photoWindowController()->isVisible());
    QTest::mouseDClick(w->ivPhoto(), Qt::LeftButton);
    QTRY_VERIFY(w->photoWindowController()->isVisible());
    QCOMPARE(w->photoWindowController()->size(), QSize(640, 480));
}

void TestGalleryGui::deletingABigAlbum()
{
    auto w = openGallery();
    auto *album = static_cast<Album *>(w->data().albums().at(0).get());
    constexpr int kPhotos = 1500;
    const QStringList paths = addPhotos(*w, album, kPhotos);
    const QString trashFiles = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME")) + "/Trash/files";
    auto inTrash = [&] { return QDir(trashFiles).entryList({"img_big*"}, QDir::Files).size(); };
    auto existing = [&] { return std::count_if(paths.begin(), paths.end(), [](const QString &p) { return QFile::exists(p); }); };
    auto sheet = [&] { return w->findChild<JobSheet *>(); };
    w->ovAlbums()->setFocus();

    // Stopped while the files move: they all come back and the album stays
    // (the gallery's tests let such a job run, and undo it).
    answerMessageBox(QStringLiteral("&Delete"));
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
    QVERIFY(w->close());
}

QTEST_MAIN(TestGalleryGui)
#include "tst_gallerygui.moc"
