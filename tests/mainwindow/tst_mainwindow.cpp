// The main window on real galleries: first run, quitting, switching
// galleries, the details of the selection, the keyboard, undo, drops.

#include "common/GuiHelpers.h"
#include "common/TestFiles.h"
#include "import/ImportPhotosController.h"
#include "mainwindow/AlbumTreeModel.h"
#include "mainwindow/ChangeAlbumThumbController.h"
#include "mainwindow/ItemListModel.h"
#include "mainwindow/MainController.h"
#include "mainwindow/MyImageView.h"
#include "model/Photo.h"
#include "model/Video.h"
#include "storage/FirstRunController.h"
#include "storage/FolderChooser.h"
#include "storage/NewOrvaneFolderController.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

using namespace qm;
using testing::readFile;
using testing::answerMessageBox;
using testing::whenShown;

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void firstRunAndRestart();
    void createRefusesExistingGallery();
    void firstRunCancelAndQuit();
    void failedSaveAtQuitAsks();
    void switchingGalleriesSavesFirst();
    void unreadableIndexIsReportedAndKept();
    void selectionShowsDetails();
    void keyboardAndAccessibility();
    void undoAndOpenEditors();
    void dropsFromAnotherProgramAreCopies();

private:
    QSettings *settings() { return m_settings.get(); }
    // A window open on a new gallery of that name (its path in `gallery`).
    std::unique_ptr<MainController> openNew(const QString &name, QString *gallery = nullptr);
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    QString m_chooserAnswer;
    QStringList m_chooserTitles;
};

void TestMainWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_settings = std::make_unique<QSettings>(m_dir->filePath("settings.ini"), QSettings::IniFormat);
    m_chooserAnswer = m_dir->path();
    m_chooserTitles.clear();
    FolderChooser::setOverrideForTesting([this](const QString &title) {
        m_chooserTitles << title;
        return m_chooserAnswer;
    });
}

void TestMainWindow::cleanup()
{
    testing::cancelPendingWatchers();
    FolderChooser::setOverrideForTesting(nullptr);
}

std::unique_ptr<MainController> TestMainWindow::openNew(const QString &name, QString *gallery)
{
    QString error;
    const QString path = NewOrvaneFolderController::createGalleryFolder(m_dir->path(), name, &error);
    settings()->setValue("OrvaneFolder", path);
    auto w = std::make_unique<MainController>(settings());
    w->resize(1000, 700);
    w->show();
    [&] { QTRY_COMPARE(w->windowTitle(), QStringLiteral("Quillmere - %1").arg(path)); }();
    if (gallery)
        *gallery = path;
    return w;
}

void TestMainWindow::firstRunAndRestart()
{
    const QString gallery = m_dir->filePath("photos");
    {
        MainController w(settings());
        whenShown<FirstRunController>([](FirstRunController *d) { d->findChild<QPushButton *>("btnCreateNew")->click(); });
        whenShown<NewOrvaneFolderController>([](NewOrvaneFolderController *d) {
            QTest::keyClicks(d->txtFolder(), QStringLiteral("photos"));
            QTest::keyClick(d->txtFolder(), Qt::Key_Return); // Return creates, Cancel is not the default
        });
        w.show();
        QTRY_COMPARE(w.windowTitle(), QStringLiteral("Quillmere - %1").arg(gallery));
        QCOMPARE(m_chooserTitles, QStringList{QStringLiteral("Select location for orvane folder")});
        QCOMPARE(settings()->value("OrvaneFolder").toString(), gallery);
        QVERIFY(!w.data().needsToSaveChanges());

        // An album made inside a collection shows at once.
        w.action("miNewCollection")->trigger();
        w.ovAlbums()->setCurrentIndex(w.treeModel()->index(0, 0));
        w.action("miNewAlbum")->trigger();
        QCOMPARE(w.treeModel()->rowCount(w.treeModel()->index(0, 0)), 1);
        QVERIFY(w.ovAlbums()->isExpanded(w.treeModel()->index(0, 0)));
        w.close();
    }
    // Start again: the same tree, expanded.
    MainController w(settings());
    w.show();
    QTRY_COMPARE(w.treeModel()->rowCount(), 1);
    QVERIFY(w.ovAlbums()->isExpanded(w.treeModel()->index(0, 0)));
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
    QTRY_VERIFY(!w.isVisible());
    QVERIFY(*stillOpen);
    QVERIFY(!settings()->contains("OrvaneFolder"));
    for (const char *name : {"miNewAlbum", "miSave", "miCheckGallery", "miImportPhotos"})
        QVERIFY2(!w.action(name)->isEnabled(), name);
    QVERIFY(w.prefs().imgPath("x.jpg").isNull()); // never "/img/x.jpg"
    QCOMPARE(m_chooserTitles, (QStringList{QStringLiteral("Select orvane folder"), QStringLiteral("Select location for orvane folder")}));
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
    QCOMPARE(w->windowTitle(), QStringLiteral("Quillmere - %1").arg(b));
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
    QTRY_VERIFY(!message->isEmpty());
    QVERIFY2(message->contains(QStringLiteral("albums.xml")), qPrintable(*message));

    // The save says what it did to keep the old content, which survives beside the new index.
    w.action("miNewAlbum")->trigger();
    auto note = answerMessageBox();
    w.action("miSave")->trigger();
    QVERIFY2(note->contains(QStringLiteral("was kept as")), qPrintable(*note));
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

    // An album: its description, editable, without marking anything changed.
    w.ovAlbums()->setCurrentIndex(w.treeModel()->index(1, 0));
    QCOMPARE(w.data().selectedAlbum(), album);
    QCOMPARE(w.txtAlbumDesc()->toPlainText(), QStringLiteral("Line one\nLine two"));
    QVERIFY(!w.txtAlbumDesc()->isReadOnly());
    QVERIFY(!w.ivAlbumThumb()->image().isNull());
    QVERIFY(w.btnChangeAlbumThumb()->isEnabled());
    QVERIFY(!w.data().needsToSaveChanges());
    QCOMPARE(w.itemModel()->rowCount(), 2);

    // A photo: sizes width first, no large label, show-video off.
    w.tvPhotos()->selectRow(0);
    QCOMPARE(w.data().selectedItem(), photo.get());
    QCOMPARE(w.lblSmallImageSize()->text(), QStringLiteral("120 x 80"));
    QCOMPARE(w.lblImageSize()->text(), QStringLiteral("640 x 426"));
    QCOMPARE(w.lblLargeImageSize()->text(), QString());
    QCOMPARE(w.ivPhoto()->image().size(), QSize(120, 80));
    QCOMPARE(w.txtPhotoDesc()->toPlainText(), QStringLiteral("A photo"));
    QVERIFY(!w.btnShowVideo()->isEnabled());
    QVERIFY(w.miApplyDateToRest()->isEnabled());
    QVERIFY(w.action("miShowPhoto")->isEnabled() && !w.action("miShowLargePhoto")->isEnabled());
    QVERIFY(!w.data().needsToSaveChanges());

    // Typing marks the change.
    w.txtPhotoDesc()->setFocus();
    w.txtPhotoDesc()->moveCursor(QTextCursor::End);
    QTest::keyClicks(w.txtPhotoDesc(), QStringLiteral("!"));
    QCOMPARE(photo->description(), QStringLiteral("A photo!"));
    QVERIFY(w.data().needsToSaveChanges());

    // A video: thumbnail size, show-video on.
    w.tvPhotos()->selectRow(1);
    QCOMPARE(w.lblSmallImageSize()->text(), QStringLiteral("160 x 120"));
    QCOMPARE(w.lblImageSize()->text(), QString());
    QVERIFY(w.btnShowVideo()->isEnabled());

    // Two rows: nothing.
    w.tvPhotos()->selectAll();
    QCOMPARE(w.data().selectedItem(), nullptr);
    QCOMPARE(w.lblSmallImageSize()->text(), QString());
    QVERIFY(!w.btnShowVideo()->isEnabled());
    QVERIFY(!w.miApplyTitleToRest()->isEnabled());
    QVERIFY(w.txtPhotoDesc()->isReadOnly());

    // A collection: description emptied and read-only; the item list empties.
    w.ovAlbums()->setCurrentIndex(w.treeModel()->index(0, 0));
    QCOMPARE(w.data().selectedCollection(), w.data().albums().at(0).get());
    QCOMPARE(w.data().selectedAlbum(), nullptr);
    QVERIFY(w.txtAlbumDesc()->toPlainText().isEmpty());
    QVERIFY(w.txtAlbumDesc()->isReadOnly());
    QCOMPARE(w.itemModel()->rowCount(), 0);

    // Nothing: no thumbnail, nothing to act on.
    w.ovAlbums()->selectionModel()->clearSelection();
    QVERIFY(w.ivAlbumThumb()->image().isNull());
    QVERIFY(!w.btnChangeAlbumThumb()->isEnabled());
    for (const char *name : {"miChangeAlbumThumb", "miShowPhoto", "miShowLargePhoto", "miImportPhotos"})
        QVERIFY2(!w.action(name)->isEnabled(), name);
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
    QTRY_VERIFY(w.changeAlbumThumbController()->isVisible());
    w.changeAlbumThumbController()->reject();
}

void TestMainWindow::undoAndOpenEditors()
{
    QString gallery;
    auto w = openNew("g", &gallery);
    w->action("miNewAlbum")->trigger();
    w->action("miSave")->trigger();
    const QModelIndex album = w->treeModel()->index(0, 0);
    QVERIFY(!w->action("miUndo")->isEnabled() || w->action("miUndo")->text().contains("New Album"));

    // Undo and Redo name the step and move the dirty flag with it.
    w->ovAlbums()->setCurrentIndex(album);
    w->ovAlbums()->edit(album);
    auto *editor = qobject_cast<QLineEdit *>(w->ovAlbums()->indexWidget(album));
    QVERIFY(editor);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("Harbour"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(album.data().toString(), QStringLiteral("Harbour")); // the delegate commits on a queued call
    QCOMPARE(w->action("miUndo")->text(), QStringLiteral("&Undo Rename Album"));
    w->action("miUndo")->trigger();
    QCOMPARE(album.data().toString(), QStringLiteral("Untitled"));
    QVERIFY(!w->data().needsToSaveChanges());
    QCOMPARE(w->action("miRedo")->text(), QStringLiteral("&Redo Rename Album"));
    w->action("miRedo")->trigger();
    QCOMPARE(album.data().toString(), QStringLiteral("Harbour"));

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
    QTRY_COMPARE(*sheets, 1);
    QCOMPARE(drop(w.tvPhotos()->viewport(), {20, 20}, Qt::CopyAction | Qt::MoveAction), Qt::CopyAction);
    QTRY_COMPARE(*sheets, 2);
    QCOMPARE(drop(w.ivAlbumThumb(), {10, 10}, Qt::CopyAction | Qt::MoveAction), Qt::CopyAction);
    // A source that offers only Move is not taken up: it might delete its files.
    for (QWidget *target : {w.ovAlbums()->viewport(), w.tvPhotos()->viewport(), static_cast<QWidget *>(w.ivAlbumThumb())})
        QCOMPARE(drop(target, target == w.ovAlbums()->viewport() ? onAlbum : QPoint(10, 10), Qt::MoveAction), Qt::IgnoreAction);
    QVERIFY(QFile::exists(picture));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
