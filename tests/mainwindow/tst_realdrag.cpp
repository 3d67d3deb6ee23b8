// Drags between the real views of the main window, made on an X server of
// the test's own by the pointer itself (xdotool): the drag's source offers
// what it offers, the target answers what it answers, and the drop only
// happens when the two agree, as for a user.

#include "common/TestFiles.h"
#include "journeys/AppDriver.h"
#include "mainwindow/AlbumTreeModel.h"
#include "mainwindow/ItemGridView.h"
#include "mainwindow/ItemListModel.h"
#include "mainwindow/ItemListView.h"
#include "mainwindow/ItemTableView.h"
#include "mainwindow/MainController.h"
#include "mainwindow/MyImageView.h"
#include "model/Photo.h"
#include "storage/NewOrvaneFolderController.h"

#include <QApplication>
#include <QImageReader>
#include <QSettings>
#include <QTreeView>

using namespace qm;

class TestRealDrag : public QObject
{
    Q_OBJECT
private slots:
    void photosGiveThumbnailsByDrag();

private:
    // Presses at `from` in `source`, moves in steps to `to` in `target` and lets go.
    bool drag(QWidget *source, QPoint from, QWidget *target, QPoint to);
};

bool TestRealDrag::drag(QWidget *source, QPoint from, QWidget *target, QPoint to)
{
    const QString window = QString::number(source->window()->winId());
    const QPoint start = source->mapTo(source->window(), from);
    const QPoint end = target->mapTo(target->window(), to);
    QStringList args{"mousemove", "--sync", "--window", window, QString::number(start.x()), QString::number(start.y()),
                     "mousedown", "1"};
    for (int i = 1; i <= 10; ++i) {
        const QPoint p = start + (end - start) * i / 10;
        args << "sleep" << "0.08" << "mousemove" << "--window" << window << QString::number(p.x()) << QString::number(p.y());
    }
    args << "sleep" << "0.3" << "mouseup" << "1";
    QProcess xdotool;
    xdotool.start("xdotool", args);
    // The drag runs in this process's event loop while the pointer moves.
    if (!xdotool.waitForStarted())
        return false;
    QElapsedTimer clock;
    clock.start();
    while (xdotool.state() != QProcess::NotRunning && clock.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return xdotool.exitStatus() == QProcess::NormalExit && xdotool.exitCode() == 0;
}

void TestRealDrag::photosGiveThumbnailsByDrag()
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath("settings.ini"), QSettings::IniFormat);
    QString error;
    const QString gallery = NewOrvaneFolderController::createGalleryFolder(dir.path(), "g", &error);
    settings.setValue("OrvaneFolder", gallery);
    MainController w(&settings);
    w.move(0, 0);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_VERIFY(w.windowTitle().contains(gallery));

    // A collection holding an album of two photos, red and blue.
    const NodePtr trips = w.gallery().newCollection(nullptr);
    const NodePtr node = w.gallery().newAlbum(trips.get());
    auto *album = static_cast<Album *>(node.get());
    QList<ItemPtr> photos;
    for (const QColor colour : {QColor(220, 30, 30), QColor(30, 30, 220)}) {
        auto p = std::make_shared<Photo>();
        const QString base = QStringLiteral("img_%1").arg(colour.name().mid(1));
        p->setTitle(base);
        p->setImageFile(base + ".jpg");
        p->setSmallImageFile(base + "_sm.jpg");
        QVERIFY(!testing::picture(gallery + "/img/" + p->imageFile(), {600, 400}, colour).isEmpty());
        QVERIFY(!testing::picture(gallery + "/img/" + p->smallImageFile(), {150, 100}, colour).isEmpty());
        photos << p;
    }
    w.gallery().addItems(album, photos, {}, "Add");
    QTreeView *tree = w.ovAlbums();
    tree->expandAll();
    tree->setCurrentIndex(w.treeModel()->indexForNode(album));
    auto thumbRed = [&](const TreeNode *n) {
        const QImage thumb(gallery + "/img/" + n->thumbFile());
        return thumb.size() == QSize(60, 40) && qRed(thumb.pixel(30, 20)) > 180 && qBlue(thumb.pixel(30, 20)) < 80;
    };
    auto thumbBlue = [&](const TreeNode *n) {
        const QImage thumb(gallery + "/img/" + n->thumbFile());
        return thumb.size() == QSize(60, 40) && qBlue(thumb.pixel(30, 20)) > 180 && qRed(thumb.pixel(30, 20)) < 80;
    };

    // From the list onto the album's thumbnail well.
    QTableView *table = w.tvPhotos();
    const QPoint red = table->visualRect(w.itemModel()->index(0, ItemListModel::TitleColumn)).center();
    QVERIFY(drag(table->viewport(), red, w.ivAlbumThumb(), w.ivAlbumThumb()->rect().center()));
    QTRY_VERIFY(thumbRed(album));
    QCOMPARE(album->items().size(), 2); // the photo stays where it was
    QVERIFY(QImageReader(gallery + "/img/" + album->thumbFile()).canRead());

    // From the grid: the blue one.
    w.action("miShowAsGrid")->trigger();
    ItemGridView *grid = w.itemViews()->grid();
    QTRY_VERIFY(grid->isVisible());
    QVERIFY(drag(grid->viewport(), grid->cellRect(1).center(), w.ivAlbumThumb(), w.ivAlbumThumb()->rect().center()));
    QTRY_VERIFY(thumbBlue(album));

    // Onto a collection of the tree: its picture, and the item still in its album.
    const QPoint collection = tree->visualRect(w.treeModel()->indexForNode(trips.get())).center();
    QVERIFY(drag(grid->viewport(), grid->cellRect(0).center(), tree->viewport(), collection));
    QTRY_VERIFY(thumbRed(trips.get()));
    QCOMPARE(album->items().size(), 2);
    QVERIFY(w.close());
}

int main(int argc, char **argv)
{
    // An X server of the test's own: the offscreen platform has no drag and drop.
    journey::XServer x;
    if (!x.start()) {
        qWarning("Xvfb did not start");
        return 1;
    }
    qputenv("DISPLAY", x.display().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    TestRealDrag test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_realdrag.moc"
