// The main window on real galleries: first run, quitting, switching
// galleries, the details of the selection, the keyboard, undo, drops from
// other programs, imports, deletion, the wells, the thumbnail chooser and
// the photo viewer; the gallery checked on disk.

#include "common/FullDisk.h"
#include "common/GuiHelpers.h"
#include "common/TestFiles.h"
#include "import/ImportPhotosController.h"
#include "import/ImportingPhotosController.h"
#include "mainwindow/AlbumTreeModel.h"
#include "mainwindow/ChangeAlbumThumbController.h"
#include "mainwindow/ImageWells.h"
#include "mainwindow/ItemListModel.h"
#include "mainwindow/ItemListView.h"
#include "mainwindow/MainController.h"
#include "mainwindow/MyImageView.h"
#include "mainwindow/PhotoWindowController.h"
#include "model/Photo.h"
#include "model/Video.h"
#include "storage/FirstRunController.h"
#include "storage/FolderChooser.h"
#include "storage/Job.h"
#include "storage/JobSheet.h"
#include "storage/NewOrvaneFolderController.h"

#include <QCheckBox>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSemaphore>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <sys/stat.h>

using namespace qm;
using testing::answerMessageBox;
using testing::filesMime;
using testing::readFile;
using testing::whenShown;

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void collectionsShowTheirAlbums();
    void createRefusesExistingGallery();
    void firstRunCancelAndQuit();
    void failedSaveAtQuitAsks();
    void switchingGalleriesSavesFirst();
    void unreadableIndexIsReportedAndKept();
    void selectionShowsDetails();
    void keyboardAndAccessibility();
    void undoAndOpenEditors();
    void dropsFromAnotherProgramAreCopies();
    void importFromTheMenuAndByDrop();
    void deleteCommandAndTrashWell();
    void thumbnailChooserAndViewer();
    void deletingABigAlbum();
    void deletingWhereThereIsNoTrash();
    void inputWaitsForAJob();
    void filesThatNeverEndAreRefused();

private:
    QSettings *settings() { return m_settings.get(); }
    // A window open on a new gallery of that name (its path in `gallery`).
    std::unique_ptr<MainController> openNew(const QString &name, QString *gallery = nullptr);
    // The same with two albums, the first selected.
    std::unique_ptr<MainController> openWithTwoAlbums();
    QStringList pictures(int count, QSize size = {1200, 900});
    // Photos whose files are there (empty unless `size` is given), added to the album.
    QStringList addPhotos(MainController &w, Album *album, int count, QSize size = {});
    // Runs the import dialog (already open or about to open) to its end.
    void importWith(MainController &w, const std::function<void(ImportPhotosController *)> &adjust);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    QString m_chooserAnswer;
    QStringList m_chooserTitles;
    QStringList m_filesAnswer;
    QString m_gallery;
    int m_photos = 0;
};

void TestMainWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_settings = std::make_unique<QSettings>(m_dir->filePath("settings.ini"), QSettings::IniFormat);
    qputenv("XDG_DATA_HOME", m_dir->filePath("share").toLocal8Bit()); // a trash of the test's own
    m_chooserAnswer = m_dir->path();
    m_chooserTitles.clear();
    FolderChooser::setOverrideForTesting([this](const QString &title) {
        m_chooserTitles << title;
        return m_chooserAnswer;
    });
    FolderChooser::setFilesOverrideForTesting([this](const QString &) { return m_filesAnswer; });
}

void TestMainWindow::cleanup()
{
    testing::cancelPendingWatchers();
    FolderChooser::setOverrideForTesting(nullptr);
    FolderChooser::setFilesOverrideForTesting(nullptr);
}

std::unique_ptr<MainController> TestMainWindow::openNew(const QString &name, QString *gallery)
{
    QString error;
    const QString path = NewOrvaneFolderController::createGalleryFolder(m_dir->path(), name, &error);
    settings()->setValue("OrvaneFolder", path);
    auto w = std::make_unique<MainController>(settings());
    w->resize(1000, 700);
    w->show();
    [&] { QTRY_COMPARE_WITH_TIMEOUT(w->windowTitle(), QStringLiteral("Quillmere - %1[*]").arg(path), testing::kPatience); }();
    if (gallery)
        *gallery = path;
    return w;
}

std::unique_ptr<MainController> TestMainWindow::openWithTwoAlbums()
{
    auto w = openNew("gallery", &m_gallery);
    w->action("miNewAlbum")->trigger();
    w->action("miNewAlbum")->trigger();
    w->ovAlbums()->setCurrentIndex(w->treeModel()->index(0, 0));
    return w;
}

QStringList TestMainWindow::pictures(int count, QSize size)
{
    QStringList files;
    for (int i = 0; i < count; ++i)
        files << testing::picture(m_dir->filePath(QStringLiteral("pic%1.%2").arg(i).arg(i % 2 ? "png" : "jpg")), size,
                                  QColor::fromHsv(i * 40 % 360, 180, 200));
    return files;
}

QStringList TestMainWindow::addPhotos(MainController &w, Album *album, int count, QSize size)
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

void TestMainWindow::collectionsShowTheirAlbums()
{
    // An album made inside a collection shows at once, and after a restart.
    auto w = openNew("g");
    w->action("miNewCollection")->trigger();
    w->ovAlbums()->setCurrentIndex(w->treeModel()->index(0, 0));
    w->action("miNewAlbum")->trigger();
    QCOMPARE(w->treeModel()->rowCount(w->treeModel()->index(0, 0)), 1);
    QVERIFY(w->ovAlbums()->isExpanded(w->treeModel()->index(0, 0)));
    w->close();
    w = std::make_unique<MainController>(settings());
    w->show();
    QTRY_COMPARE_WITH_TIMEOUT(w->treeModel()->rowCount(), 1, testing::kPatience);
    QVERIFY(w->ovAlbums()->isExpanded(w->treeModel()->index(0, 0)));
}

void TestMainWindow::createRefusesExistingGallery()
{
    const QString gallery = m_dir->filePath("photos");
    QVERIFY(QDir().mkpath(gallery + "/xml"));
    const QByteArray original = "<?xml version=\"1.0\"?><orvane version=\"2.1\"><collection><album><title>Keep</title>"
                                "<description/><contentnumber>0</contentnumber><contentxmlurl>album_1.xml</contentxmlurl>"
                                "</album></collection></orvane>";
    QVERIFY(testing::writeBytes(gallery + "/xml/albums.xml", original));

    MainController w(settings());
    settings()->setValue("OrvaneFolder", gallery);
    auto refused = std::make_shared<QString>();
    whenShown<NewOrvaneFolderController>([refused](NewOrvaneFolderController *d) {
        QTest::keyClicks(d->txtFolder(), QStringLiteral("photos"));
        d->findChild<QPushButton *>("btnCreate")->click();
        // Still open, saying why.
        for (QLabel *l : d->findChildren<QLabel *>()) {
            if (l->isVisible() && l->text().contains(QStringLiteral("already holds a gallery")))
                *refused = l->text();
        }
        d->reject();
    });
    w.clickedFileNew();
    QVERIFY2(refused->contains(gallery), qPrintable(*refused));
    QCOMPARE(testing::readBytes(gallery + "/xml/albums.xml"), original);

    // Names that are not one folder name are refused as well.
    QString error;
    QVERIFY(NewOrvaneFolderController::createGalleryFolder(m_dir->path(), QStringLiteral("a/b"), &error).isNull());
    QVERIFY(NewOrvaneFolderController::createGalleryFolder(m_dir->path(), QString(), &error).isNull());
    QVERIFY(!QFileInfo::exists(m_dir->filePath("a")));
}

void TestMainWindow::firstRunCancelAndQuit()
{
    MainController w(settings());
    m_chooserAnswer.clear(); // the chooser is cancelled
    auto stillOpen = std::make_shared<bool>(false);
    whenShown<FirstRunController>([stillOpen](FirstRunController *d) {
        d->findChild<QPushButton *>("btnOpen")->click();
        d->findChild<QPushButton *>("btnCreateNew")->click();
        *stillOpen = d->isVisible();
        QTest::keyClick(d, Qt::Key_Escape); // means Quit: there is no gallery to work on
    });
    w.show();
    QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), testing::kPatience);
    QVERIFY(*stillOpen);
    QVERIFY(!settings()->contains("OrvaneFolder"));
    for (const char *name : {"miNewAlbum", "miSave", "miCheckGallery", "miImportPhotos"})
        QVERIFY2(!w.action(name)->isEnabled(), name);
    QVERIFY(w.prefs().imgPath("x.jpg").isNull()); // never "/img/x.jpg"
    QCOMPARE(m_chooserTitles, (QStringList{QStringLiteral("Open a Gallery Folder"), QStringLiteral("Choose Where the New Gallery Goes")}));
}

void TestMainWindow::failedSaveAtQuitAsks()
{
    QString gallery;
    auto w = openNew("g", &gallery);
    w->action("miNewCollection")->trigger();
    // Make every write into the xml folder fail.
    QVERIFY(QDir(gallery + "/xml").removeRecursively());
    QVERIFY(testing::writeBytes(gallery + "/xml", ""));

    auto quitButton = [](const QString &text) {
        whenShown<QMessageBox>([text](QMessageBox *box) {
            for (QAbstractButton *b : box->buttons())
                if (b->text() == text)
                    b->click();
        }, [](QMessageBox *box) { return box->text().contains(QStringLiteral("quit now")); });
    };
    auto first = answerMessageBox(); // what failed
    quitButton(QStringLiteral("Don't Quit"));
    w->close();
    QVERIFY(w->isVisible());
    QVERIFY(w->data().needsToSaveChanges());
    QVERIFY2(first->contains(gallery + "/xml"), qPrintable(*first));

    answerMessageBox();
    quitButton(QStringLiteral("Quit Anyway"));
    w->close();
    QVERIFY(!w->isVisible());
}

void TestMainWindow::switchingGalleriesSavesFirst()
{
    QString error, a;
    const QString b = NewOrvaneFolderController::createGalleryFolder(m_dir->path(), QStringLiteral("b"), &error);
    auto w = openNew("a", &a);
    w->action("miNewAlbum")->trigger();
    QVERIFY(w->data().needsToSaveChanges());

    m_chooserAnswer = b;
    w->action("miFileOpen")->trigger();
    QCOMPARE(w->windowTitle(), QStringLiteral("Quillmere - %1[*]").arg(b));
    QVERIFY(!w->data().needsToSaveChanges());
    QCOMPARE(w->treeModel()->rowCount(), 0);
    QVERIFY(readFile(a + "/xml/albums.xml").contains(QStringLiteral("Untitled")));
    QVERIFY(!readFile(b + "/xml/albums.xml").contains(QStringLiteral("Untitled")));

    // File > Open Recent offers the gallery opened before; the open one cannot be chosen.
    auto *recent = w->findChild<QMenu *>("miOpenRecent");
    recent->popup(w->mapToGlobal(QPoint(10, 10)));
    QStringList offered;
    for (QAction *entry : recent->actions())
        if (entry->isEnabled() && !entry->isSeparator())
            offered << entry->text();
    recent->hide();
    QCOMPARE(offered, (QStringList{a, QStringLiteral("&Clear Menu")}));
}

void TestMainWindow::unreadableIndexIsReportedAndKept()
{
    QString error;
    const QString gallery = NewOrvaneFolderController::createGalleryFolder(m_dir->path(), QStringLiteral("g"), &error);
    const QByteArray garbage = "<orvane version=\"2.1\"><collection><album><title>Half";
    QVERIFY(testing::writeBytes(gallery + "/xml/albums.xml", garbage));
    settings()->setValue("OrvaneFolder", gallery);
    MainController w(settings());
    auto message = answerMessageBox();
    w.show();
    QTRY_VERIFY_WITH_TIMEOUT(!message->isEmpty(), testing::kPatience);
    QVERIFY2(message->contains(QStringLiteral("albums.xml")), qPrintable(*message));

    // The save says what it did to keep the old content, which survives beside the new index.
    w.action("miNewAlbum")->trigger();
    auto note = answerMessageBox();
    w.action("miSave")->trigger();
    QVERIFY2(note->contains(QStringLiteral("kept as")), qPrintable(*note));
    const QStringList kept = QDir(gallery + "/xml").entryList({"albums.xml.unreadable-*"});
    QCOMPARE(kept.size(), 1);
    QCOMPARE(testing::readBytes(gallery + "/xml/" + kept[0]), garbage);
}

void TestMainWindow::selectionShowsDetails()
{
    QString gallery;
    auto window = openNew("g", &gallery);
    MainController &w = *window;
    testing::picture(gallery + "/img/s.jpg", {120, 80});
    testing::picture(gallery + "/img/n.jpg", {640, 426});
    testing::picture(gallery + "/img/t.jpg", {160, 120});

    w.action("miNewCollection")->trigger();
    w.ovAlbums()->selectionModel()->clearSelection(); // not into the new collection
    w.action("miNewAlbum")->trigger();
    auto *album = static_cast<Album *>(w.data().albums().at(1).get());
    w.gallery().setAlbumDescription(album, QStringLiteral("Line one\nLine two"));
    auto photo = std::make_shared<Photo>();
    photo->setImageFile("n.jpg");
    photo->setSmallImageFile("s.jpg");
    photo->setDescription(QStringLiteral("A photo"));
    auto video = std::make_shared<Video>();
    video->setThumbFile("t.jpg");
    w.gallery().addItems(album, {photo, video}, {}, "Add");
    w.gallery().undoStack()->setClean();

    // What the window shows and offers: the album's side, the item's side, what may be done.
    auto shown = [&] {
        auto text = [](const QPlainTextEdit *t) { return t->toPlainText().replace('\n', '/') + (t->isReadOnly() ? "(fixed)" : ""); };
        QStringList on;
        for (QAction *a : {w.action("miChangeAlbumThumb"), w.action("miImportPhotos"), w.action("miShowPhoto"),
                           w.action("miShowLargePhoto"), w.miApplyTitleToRest(), w.miApplyDateToRest()})
            if (a->isEnabled())
                on << a->objectName();
        if (w.btnChangeAlbumThumb()->isEnabled())
            on << "thumb button";
        if (w.btnShowVideo()->isEnabled())
            on << "video button";
        const QSize picture = w.ivPhoto()->image().size();
        return QStringList{text(w.txtAlbumDesc()), w.ivAlbumThumb()->image().isNull() ? "no thumb" : "thumb",
                           w.lblSmallImageSize()->text(), w.lblImageSize()->text(), w.lblLargeImageSize()->text(),
                           QStringLiteral("%1x%2").arg(picture.width()).arg(picture.height()), text(w.txtPhotoDesc()),
                           on.join(' '), w.data().needsToSaveChanges() ? "dirty" : "clean"}
            .join(" | ");
    };
    w.ovAlbums()->setCurrentIndex(w.treeModel()->index(1, 0));
    QCOMPARE(w.data().selectedAlbum(), album);
    QCOMPARE(w.itemModel()->rowCount(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(shown(), QStringLiteral("Line one/Line two | thumb |  |  |  | 0x0 | (fixed) | "
                                      "miChangeAlbumThumb miImportPhotos thumb button | clean"), testing::kPatience);

    // A photo: sizes width first, no large label.
    w.tvPhotos()->selectRow(0);
    QCOMPARE(w.data().selectedItem(), photo.get());
    QTRY_COMPARE_WITH_TIMEOUT(shown(), QStringLiteral("Line one/Line two | thumb | 120 x 80 | 640 x 426 |  | 120x80 | A photo | "
                                      "miChangeAlbumThumb miImportPhotos miShowPhoto miApplyTitleToRest miApplyDateToRest thumb button | clean"), testing::kPatience);
    // Typing marks the change.
    w.txtPhotoDesc()->setFocus();
    w.txtPhotoDesc()->moveCursor(QTextCursor::End);
    QTest::keyClicks(w.txtPhotoDesc(), QStringLiteral("!"));
    QCOMPARE(photo->description(), QStringLiteral("A photo!"));
    QVERIFY(w.data().needsToSaveChanges());
    w.gallery().undoStack()->setClean();

    // A video: its thumbnail's size.
    w.tvPhotos()->selectRow(1);
    QTRY_COMPARE_WITH_TIMEOUT(shown(), QStringLiteral("Line one/Line two | thumb | 160 x 120 |  |  | 160x120 |  | "
                                      "miChangeAlbumThumb miImportPhotos miApplyTitleToRest miApplyDateToRest thumb button video button | clean"), testing::kPatience);
    // Two rows: no item.
    w.tvPhotos()->selectAll();
    QCOMPARE(w.data().selectedItem(), nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(shown(), QStringLiteral("Line one/Line two | thumb |  |  |  | 0x0 | (fixed) | "
                                      "miChangeAlbumThumb miImportPhotos thumb button | clean"), testing::kPatience);
    // A collection: no description of its own; the item list empties.
    w.ovAlbums()->setCurrentIndex(w.treeModel()->index(0, 0));
    QCOMPARE(w.data().selectedCollection(), w.data().albums().at(0).get());
    QCOMPARE(w.itemModel()->rowCount(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(shown(), QStringLiteral("(fixed) | thumb |  |  |  | 0x0 | (fixed) | "
                                      "miChangeAlbumThumb thumb button | clean"), testing::kPatience);
    // Nothing: nothing to act on.
    w.ovAlbums()->selectionModel()->clearSelection();
    QTRY_COMPARE_WITH_TIMEOUT(shown(), QStringLiteral("(fixed) | no thumb |  |  |  | 0x0 | (fixed) |  | clean"), testing::kPatience);
}

void TestMainWindow::keyboardAndAccessibility()
{
    auto window = openNew("k");
    MainController &w = *window;

    // Every command is in a menu, with a shortcut of its own and a mnemonic
    // that no other entry of its menu uses.
    QStringList shortcuts;
    for (QAction *top : w.menuBar()->actions()) {
        QSet<QChar> mnemonics;
        for (QAction *a : top->menu()->actions()) {
            if (a->isSeparator())
                continue;
            const QString name = a->text();
            if (!a->menu()) { // a submenu is opened by its mnemonic
                QVERIFY2(!a->shortcut().isEmpty(), qPrintable(name + " has no shortcut"));
                QVERIFY2(!shortcuts.contains(a->shortcut().toString()), qPrintable(name + " shares its shortcut"));
                shortcuts << a->shortcut().toString();
            }
            const qsizetype amp = name.indexOf('&');
            QVERIFY2(amp >= 0 && amp + 1 < name.size(), qPrintable(name + " has no mnemonic"));
            const QChar key = name.at(amp + 1).toLower();
            QVERIFY2(!mnemonics.contains(key), qPrintable(name + " shares its mnemonic"));
            mnemonics.insert(key);
        }
    }

    // The wells, views and buttons say what they are to assistive tools.
    QWidgetList named{w.ovAlbums(), w.tvPhotos(), w.ivAlbumThumb(), w.ivTrash(), w.txtAlbumDesc(), w.txtPhotoDesc()};
    for (QAbstractButton *b : w.centralWidget()->findChildren<QAbstractButton *>()) {
        if (!qobject_cast<QAbstractItemView *>(b->parentWidget()))
            named << b;
    }
    for (QWidget *widget : named) {
        const auto *button = qobject_cast<QAbstractButton *>(widget);
        QVERIFY2(!widget->accessibleName().isEmpty() || (button && !button->text().isEmpty()),
                 qPrintable(widget->objectName()));
    }

    // Tab runs through the tree, the album's description, the list and the
    // item's description in that order.
    w.action("miNewAlbum")->trigger();
    auto *album = static_cast<Album *>(w.data().albums().first().get());
    w.gallery().addItems(album, {std::make_shared<Photo>(), std::make_shared<Photo>()}, {}, "Add");
    w.ovAlbums()->setCurrentIndex(w.treeModel()->index(0, 0));
    w.tvPhotos()->selectRow(0); // a current cell, which Tab must not walk through
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.ovAlbums()->setFocus();
    QWidgetList order;
    for (int i = 0; i < 12 && order.size() < 4; ++i) {
        QWidget *focus = QApplication::focusWidget();
        if (order.isEmpty() || order.last() != focus) {
            if (focus == w.ovAlbums() || focus == w.txtAlbumDesc() || focus == w.tvPhotos() || focus == w.txtPhotoDesc())
                order << focus;
        }
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    QCOMPARE(order, (QWidgetList{w.ovAlbums(), w.txtAlbumDesc(), w.tvPhotos(), w.txtPhotoDesc()}));

    // Ctrl+T opens the thumbnail chooser.
    w.ovAlbums()->setFocus();
    QTest::keyClick(&w, Qt::Key_T, Qt::ControlModifier);
    QTRY_VERIFY_WITH_TIMEOUT(w.changeAlbumThumbController()->isVisible(), testing::kPatience);
    w.changeAlbumThumbController()->reject();
}

void TestMainWindow::undoAndOpenEditors()
{
    QString gallery;
    auto w = openNew("g", &gallery);
    w->action("miNewAlbum")->trigger();
    w->action("miSave")->trigger();
    const QModelIndex album = w->treeModel()->index(0, 0);

    // Undo and Redo name the step and move the dirty flag with it.
    w->ovAlbums()->setCurrentIndex(album);
    w->ovAlbums()->edit(album);
    auto *editor = qobject_cast<QLineEdit *>(w->ovAlbums()->indexWidget(album));
    QVERIFY(editor);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("Harbour"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(album.data().toString(), QStringLiteral("Harbour"), testing::kPatience); // the delegate commits on a queued call
    QCOMPARE(w->action("miUndo")->text(), QStringLiteral("&Undo Rename Album"));
    w->action("miUndo")->trigger();
    QCOMPARE(album.data().toString(), QStringLiteral("Untitled"));
    QVERIFY(!w->data().needsToSaveChanges());
    QCOMPARE(w->action("miRedo")->text(), QStringLiteral("&Redo Rename Album"));
    w->action("miRedo")->trigger();
    QCOMPARE(album.data().toString(), QStringLiteral("Harbour"));

    // An editor closed without a change (F2, Enter) is no step and marks
    // nothing unsaved; with one left open, Undo does what its menu says.
    w->gallery().addItems(static_cast<Album *>(w->treeModel()->nodeForIndex(album)), {std::make_shared<Photo>()}, {},
                          "Add Photo");
    w->action("miSave")->trigger();
    const int steps = w->gallery().undoStack()->count();
    const QModelIndex itemTitle = w->itemModel()->index(0, ItemListModel::TitleColumn);
    for (QAbstractItemView *view : {static_cast<QAbstractItemView *>(w->ovAlbums()), static_cast<QAbstractItemView *>(w->tvPhotos())}) {
        const QModelIndex index = view == w->ovAlbums() ? album : itemTitle;
        view->edit(index);
        QTest::keyClick(qobject_cast<QLineEdit *>(view->indexWidget(index)), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(!view->indexWidget(index), testing::kPatience);
    }
    QCOMPARE(w->gallery().undoStack()->count(), steps);
    QVERIFY(!w->data().needsToSaveChanges());
    w->tvPhotos()->edit(itemTitle);
    QCOMPARE(w->action("miUndo")->text(), QStringLiteral("&Undo Add Photo"));
    w->action("miUndo")->trigger();
    QCOMPARE(w->itemModel()->rowCount(), 0);
    QCOMPARE(w->action("miRedo")->text(), QStringLiteral("&Redo Add Photo"));

    // A title typed but not confirmed still reaches the file at Save...
    w->ovAlbums()->edit(album);
    editor = qobject_cast<QLineEdit *>(w->ovAlbums()->indexWidget(album));
    QVERIFY(editor);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("Typed, not confirmed"));
    // A picture arriving for the row meanwhile leaves the typing alone.
    emit w->treeModel()->dataChanged(album, album, {Qt::DecorationRole});
    QCOMPARE(editor->text(), QStringLiteral("Typed, not confirmed"));
    w->action("miSave")->trigger();
    QVERIFY(readFile(gallery + "/xml/albums.xml").contains("<title>Typed, not confirmed</title>"));

    // ...and at quit, from the item list too.
    w->gallery().addItems(static_cast<Album *>(w->treeModel()->nodeForIndex(album)), {std::make_shared<Photo>()}, {}, "Add");
    const QModelIndex title = w->itemModel()->index(0, ItemListModel::TitleColumn);
    w->tvPhotos()->setCurrentIndex(title);
    w->tvPhotos()->edit(title);
    editor = qobject_cast<QLineEdit *>(w->tvPhotos()->indexWidget(title));
    QVERIFY(editor);
    QTest::keyClicks(editor, QStringLiteral("Left open"));
    QVERIFY(w->close());
    w.reset();
    QVERIFY(readFile(gallery + "/xml/" + QDir(gallery + "/xml").entryList({"album_*"}).first()).contains("<title>Left open</title>"));
}

void TestMainWindow::dropsFromAnotherProgramAreCopies()
{
    auto window = openNew("g");
    MainController &w = *window;
    w.action("miNewAlbum")->trigger();
    w.ovAlbums()->setCurrentIndex(w.treeModel()->index(0, 0));
    const QString picture = testing::picture(m_dir->filePath("pic.jpg"), {40, 30});
    std::unique_ptr<QMimeData> files(testing::filesMime({picture}));

    // Real drag events as a file manager sends them, Shift held: it proposes Move.
    auto drop = [&](QWidget *target, QPoint at, Qt::DropActions offered) {
        QDragEnterEvent enter(at, offered, files.get(), Qt::LeftButton, Qt::ShiftModifier);
        enter.setDropAction(Qt::MoveAction);
        QApplication::sendEvent(target, &enter);
        QDragMoveEvent move(at, offered, files.get(), Qt::LeftButton, Qt::ShiftModifier);
        move.setDropAction(Qt::MoveAction);
        QApplication::sendEvent(target, &move);
        if (!move.isAccepted())
            return Qt::IgnoreAction;
        QDropEvent dropped(at, offered, files.get(), Qt::LeftButton, Qt::ShiftModifier);
        dropped.setDropAction(Qt::MoveAction);
        QApplication::sendEvent(target, &dropped);
        return dropped.isAccepted() ? dropped.dropAction() : Qt::IgnoreAction;
    };
    auto sheets = std::make_shared<int>(0);
    for (int i = 0; i < 2; ++i)
        whenShown<ImportPhotosController>([sheets](ImportPhotosController *d) { ++*sheets, d->reject(); });
    const QPoint onAlbum = w.ovAlbums()->visualRect(w.treeModel()->index(0, 0)).center();
    QCOMPARE(drop(w.ovAlbums()->viewport(), onAlbum, Qt::CopyAction | Qt::MoveAction), Qt::CopyAction);
    QTRY_COMPARE_WITH_TIMEOUT(*sheets, 1, testing::kPatience);
    QCOMPARE(drop(w.tvPhotos()->viewport(), {20, 20}, Qt::CopyAction | Qt::MoveAction), Qt::CopyAction);
    QTRY_COMPARE_WITH_TIMEOUT(*sheets, 2, testing::kPatience);
    QCOMPARE(drop(w.ivAlbumThumb(), {10, 10}, Qt::CopyAction | Qt::MoveAction), Qt::CopyAction);
    // A source that offers only Move is not taken up: it might delete its files.
    for (QWidget *target : {w.ovAlbums()->viewport(), w.tvPhotos()->viewport(), static_cast<QWidget *>(w.ivAlbumThumb())})
        QCOMPARE(drop(target, target == w.ovAlbums()->viewport() ? onAlbum : QPoint(10, 10), Qt::MoveAction), Qt::IgnoreAction);
    QVERIFY(QFile::exists(picture));
}

void TestMainWindow::importWith(MainController &w, const std::function<void(ImportPhotosController *)> &adjust)
{
    int finished = 0;
    auto conn = connect(w.importingPhotosController(), &ImportingPhotosController::importFinished, this,
                        [&finished] { ++finished; });
    auto shown = whenShown<ImportPhotosController>([&](ImportPhotosController *d) {
        adjust(d);
        QTest::mouseClick(d->btnImport(), Qt::LeftButton);
    });
    QTRY_VERIFY_WITH_TIMEOUT(*shown, testing::kPatience);
    QTRY_COMPARE_WITH_TIMEOUT(finished, 1, 30000);
    disconnect(conn);
    QVERIFY(!w.findChild<JobSheet *>());
}

void TestMainWindow::importFromTheMenuAndByDrop()
{
    auto w = openWithTwoAlbums();
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

void TestMainWindow::deleteCommandAndTrashWell()
{
    auto w = openWithTwoAlbums();
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
    QTRY_COMPARE_WITH_TIMEOUT(album->items().size(), 2, testing::kPatience);
    QVERIFY(!QFile::exists(files[0]) && !QFile::exists(files[1]) && QFile::exists(files[2]));
    QCOMPARE(w->data().selectedItem(), nullptr);

    // The Delete command asks first and names what goes; Cancel keeps it.
    w->ovAlbums()->setCurrentIndex(w->treeModel()->index(1, 0));
    w->ovAlbums()->setFocus();
    auto question = answerMessageBox(QStringLiteral("Cancel"));
    w->action("miDelete")->trigger();
    QVERIFY(question->contains("2 photos"));
    QCOMPARE(w->data().albums().size(), 2);
    // In the grid, Delete and Rename mean the selected item, not its album.
    w->action("miShowAsGrid")->trigger();
    QAbstractItemView *grid = w->itemViews()->currentView();
    auto focusGrid = [&] {
        w->activateWindow();
        return QTest::qWaitForWindowActive(w.get()) && (grid->setFocus(), grid->hasFocus());
    };
    QVERIFY(focusGrid());
    w->tvPhotos()->selectRow(1);
    question = answerMessageBox(QStringLiteral("Cancel"));
    w->action("miDelete")->trigger();
    QVERIFY(question->startsWith(QStringLiteral("Delete \u201c%1\u201d?").arg(other->items().at(1)->title())));
    QVERIFY(focusGrid());
    w->action("miRename")->trigger();
    QVERIFY(qobject_cast<QLineEdit *>(QApplication::focusWidget())
            && grid->isAncestorOf(QApplication::focusWidget()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    w->action("miShowAsGrid")->trigger();
    w->ovAlbums()->setFocus();
    const QString otherXml = m_gallery + "/xml/" + other->XMLFile();
    w->action("miSave")->trigger();
    QVERIFY(QFile::exists(otherXml));
    auto yes = answerMessageBox(QStringLiteral("&Delete"));
    w->action("miDelete")->trigger();
    QVERIFY(yes->contains("\u201cUntitled\u201d"));
    QTRY_COMPARE_WITH_TIMEOUT(w->data().albums().size(), 1, testing::kPatience);
    QCOMPARE(w->data().selectedAlbum(), nullptr);
    QVERIFY(!QFile::exists(otherXml));
    QVERIFY(w->data().needsToSaveChanges());
}

void TestMainWindow::thumbnailChooserAndViewer()
{
    auto w = openWithTwoAlbums();
    auto *first = w->data().albums().at(0).get();
    auto *second = w->data().albums().at(1).get();
    QVERIFY(first->thumbFile() != second->thumbFile());

    // A picture dropped on the album thumbnail well: 60 x 40 at most, the name kept.
    const QString picture = pictures(1, {1024, 768}).first();
    std::unique_ptr<QMimeData> drop(filesMime({picture}));
    QCOMPARE(w->wells()->validateDrop(w->ivAlbumThumb(), drop.get()), Qt::CopyAction);
    const QString before = first->thumbFile();
    QVERIFY(w->wells()->acceptDrop(w->ivAlbumThumb(), drop.get()));
    QTRY_COMPARE_WITH_TIMEOUT(QImageReader(m_gallery + "/img/" + before).size(), QSize(53, 40), testing::kPatience);
    QCOMPARE(first->thumbFile(), before);
    QTRY_COMPARE_WITH_TIMEOUT(w->ivAlbumThumb()->image().size(), QSize(53, 40), testing::kPatience);
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
    }, [](ChangeAlbumThumbController *d) { return !d->files().isEmpty(); }); // the folder is read off the GUI thread
    QTest::mouseClick(w->btnChangeAlbumThumb(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(*chosen, testing::kPatience);
    QTRY_VERIFY_WITH_TIMEOUT(!w->changeAlbumThumbController()->isVisible(), testing::kPatience);
    QCOMPARE(first->thumbFile(), second->thumbFile());
    QVERIFY(w->data().needsToSaveChanges());

    // Double-clicking the photo well opens the viewer at the picture's size;
    // Ctrl asks for the large file, which this photo does not have.
    addPhotos(*w, static_cast<Album *>(first), 1, {640, 480});
    w->tvPhotos()->selectRow(0);
    QTest::mouseDClick(w->ivPhoto(), Qt::LeftButton, Qt::ControlModifier);
    QVERIFY(!w->photoWindowController()->isVisible());
    QTest::mouseDClick(w->ivPhoto(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(w->photoWindowController()->isVisible(), testing::kPatience);
    QCOMPARE(w->photoWindowController()->size(), QSize(640, 480));
}

void TestMainWindow::deletingABigAlbum()
{
    auto w = openWithTwoAlbums();
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
    QTRY_VERIFY_WITH_TIMEOUT(sheet()->progressBar()->value() >= 70, testing::kPatience);
    sheet()->btnStop()->click();
    QTRY_VERIFY_WITH_TIMEOUT(!sheet(), testing::kPatience);
    QCOMPARE(w->data().albums().size(), 2);
    QCOMPARE(album->items().size(), kPhotos);
    QCOMPARE(existing(), 2 * kPhotos);
    QCOMPARE(inTrash(), 0);
    QVERIFY2(w->statusBar()->currentMessage().contains("nothing was changed"), qPrintable(w->statusBar()->currentMessage()));
    QVERIFY(w->close());
}

void TestMainWindow::deletingWhereThereIsNoTrash()
{
    // A gallery on a volume without a trash (a tmpfs, as a /data disk whose
    // top folder belongs to root is for its users).
    testing::TinyDisk disk(8 << 20);
    if (!disk.ok())
        QSKIP("a tmpfs cannot be mounted here");
    QString error;
    m_gallery = NewOrvaneFolderController::createGalleryFolder(disk.path(), "g", &error);
    settings()->setValue("OrvaneFolder", m_gallery);
    auto w = std::make_unique<MainController>(settings());
    w->show();
    QTRY_COMPARE_WITH_TIMEOUT(w->windowTitle(), QStringLiteral("Quillmere - %1[*]").arg(m_gallery), testing::kPatience);
    w->action("miNewAlbum")->trigger();
    w->ovAlbums()->setCurrentIndex(w->treeModel()->index(0, 0));
    auto *album = static_cast<Album *>(w->data().albums().at(0).get());
    const QStringList files = addPhotos(*w, album, 2);

    // Even a drop on the trash well asks, says so, and offers only to delete for good.
    w->tvPhotos()->selectRow(0);
    std::unique_ptr<QMimeData> drag(w->itemModel()->mimeData({w->itemModel()->index(0, 0)}));
    auto question = answerMessageBox(QStringLiteral("Cancel"));
    QVERIFY(w->wells()->acceptDrop(w->ivTrash(), drag.get()));
    QVERIFY2(question->contains("no trash") && question->contains("cannot be undone") && !question->contains("Undo"),
             qPrintable(*question));
    QCOMPARE(album->items().size(), 2);
    QVERIFY(QFile::exists(files[0]));
    auto buttons = std::make_shared<QStringList>();
    whenShown<QMessageBox>([buttons](QMessageBox *box) {
        for (QAbstractButton *b : box->buttons())
            *buttons << b->text();
        for (QAbstractButton *b : box->buttons())
            if (b->text() == "Delete for Good")
                b->click();
    });
    QVERIFY(w->wells()->acceptDrop(w->ivTrash(), drag.get()));
    buttons->sort();
    QCOMPARE(*buttons, (QStringList{"Cancel", "Delete for Good"}));
    QTRY_COMPARE_WITH_TIMEOUT(album->items().size(), 1, testing::kPatience);
    QVERIFY(!QFile::exists(files[0]) && !QFile::exists(files[1]));
    QVERIFY(!w->action("miUndo")->isEnabled());
    QVERIFY(w->close());
}

void TestMainWindow::inputWaitsForAJob()
{
    // While a job runs the window takes no input; what was typed before its
    // sheet showed arrives when a quick job has ended, none once it showed.
    auto w = openWithTwoAlbums();
    auto *album = static_cast<Album *>(w->data().albums().at(0).get());
    auto run = [&](bool slow) {
        auto go = std::make_shared<QSemaphore>();
        auto *job = new Job("Work", [go](JobControl &) { go->acquire(); }, w.get());
        JobSheet *sheet = JobSheet::run(w.get(), job);
        const QString before = album->description();
        QTest::keyClicks(w->txtAlbumDesc(), slow ? "lost" : "kept");
        QCOMPARE(album->description(), before);
        if (slow)
            QTRY_VERIFY_WITH_TIMEOUT(sheet->isVisible(), testing::kPatience);
        go->release();
        QTRY_VERIFY_WITH_TIMEOUT(job->isFinished(), testing::kPatience);
        delete job;
    };
    run(false);
    QTRY_COMPARE_WITH_TIMEOUT(album->description(), QStringLiteral("kept"), testing::kPatience);
    run(true);
    QCOMPARE(album->description(), QStringLiteral("kept"));
}

void TestMainWindow::filesThatNeverEndAreRefused()
{
    // Pipes where the gallery's pictures should be, and dropped in: the
    // window never waits for one, and says what they are.
    const testing::Watchdog watchdog("the window waiting for a pipe");
    auto w = openWithTwoAlbums();
    auto *album = static_cast<Album *>(w->data().albums().at(0).get());
    const QStringList files = addPhotos(*w, album, 1);
    for (const QString &path : files + QStringList{m_gallery + "/img/" + album->thumbFile()}) {
        QVERIFY(QFile::remove(path));
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0644) == 0);
    }
    w->ovAlbums()->setCurrentIndex(w->treeModel()->index(1, 0));
    w->ovAlbums()->setCurrentIndex(w->treeModel()->index(0, 0));
    w->tvPhotos()->selectRow(0);
    QTRY_COMPARE_WITH_TIMEOUT(w->lblImageSize()->text(), QStringLiteral("cannot be read"), testing::kPatience);
    QVERIFY(w->ivPhoto()->image().isNull() && w->ivAlbumThumb()->image().isNull());
    auto refused = answerMessageBox();
    QTest::mouseDClick(w->ivPhoto(), Qt::LeftButton);
    QTRY_VERIFY2_WITH_TIMEOUT(refused->contains("named pipe"), qPrintable(*refused), testing::kPatience);
    QVERIFY(!w->photoWindowController()->isVisible());

    // On the thumbnail well, and for import.
    const QString pipe = m_dir->filePath("dropped.jpg");
    QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0644) == 0);
    std::unique_ptr<QMimeData> drop(filesMime({pipe}));
    QVERIFY(w->wells()->acceptDrop(w->ivAlbumThumb(), drop.get()));
    QTRY_VERIFY2_WITH_TIMEOUT(w->statusBar()->currentMessage().contains("named pipe"), qPrintable(w->statusBar()->currentMessage()), testing::kPatience);
    auto report = answerMessageBox();
    QTimer::singleShot(0, this, [&] { w->treeModel()->dropMimeData(drop.get(), Qt::CopyAction, -1, 0, w->treeModel()->index(0, 0)); });
    importWith(*w, [](ImportPhotosController *) {});
    QTRY_VERIFY2_WITH_TIMEOUT(report->contains("named pipe"), qPrintable(*report), testing::kPatience);
    QCOMPARE(album->items().size(), 1);
    QVERIFY(w->close());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
