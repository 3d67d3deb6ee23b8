// The window and the gallery as one thing with one writer: a second copy
// is told who holds it and may only look; files another program changed
// are never written over unasked; a signal to quit saves as Quit does;
// a folder whose name Qt cannot hold is refused, not shown empty.

#include "common/FullDisk.h"
#include "common/GuiHelpers.h"
#include "common/TestFiles.h"
#include "mainwindow/AlbumTreeModel.h"
#include "mainwindow/MainController.h"
#include "mainwindow/QuitSignals.h"
#include "storage/FirstRunController.h"
#include "storage/NewOrvaneFolderController.h"

#include <QPlainTextEdit>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <csignal>

#include <sys/stat.h>

using namespace qm;
using testing::answerMessageBox;
using testing::readBytes;
using testing::writeBytes;

class TestOneWriter : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void secondCopyOpensReadOnly();
    void filesChangedByAnotherProgramAsk();
    void signalsQuitAsQuitDoes();
    void terminatedProcessSavesAndLetsGo();
    void folderNamesQtCannotHoldAreRefused();

private:
    // A gallery with one album "A", named by the settings.
    QString makeGallery();
    std::unique_ptr<MainController> open();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    QString m_gallery;
};

void TestOneWriter::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_settings = std::make_unique<QSettings>(m_dir->filePath("settings.ini"), QSettings::IniFormat);
    qputenv("XDG_DATA_HOME", m_dir->filePath("share").toLocal8Bit());
    makeGallery();
}

void TestOneWriter::cleanup()
{
    testing::cancelPendingWatchers();
}

QString TestOneWriter::makeGallery()
{
    QString error;
    m_gallery = NewOrvaneFolderController::createGalleryFolder(m_dir->path(), QStringLiteral("g"), &error);
    writeBytes(m_gallery + "/xml/albums.xml",
               "<orvane version=\"2.1\"><collection><album><title>A</title><description/><contentnumber>0"
               "</contentnumber><contentxmlurl>album_a.xml</contentxmlurl></album></collection></orvane>");
    writeBytes(m_gallery + "/xml/album_a.xml", "<orvane version=\"2.1\"/>");
    m_settings->setValue("OrvaneFolder", m_gallery);
    return m_gallery;
}

std::unique_ptr<MainController> TestOneWriter::open()
{
    auto w = std::make_unique<MainController>(m_settings.get());
    w->resize(900, 600);
    w->show();
    [&] { QTRY_VERIFY(w->treeModel()->rowCount() == 1); }();
    return w;
}

void TestOneWriter::secondCopyOpensReadOnly()
{
    Preferences prefs(m_settings.get());
    auto gallery = std::make_shared<std::unique_ptr<Gallery>>();
    testing::ChildStaying other([&] {
        *gallery = std::make_unique<Gallery>(prefs);
        return (*gallery)->open().lock == GalleryLock::State::Locked;
    });
    QVERIFY(other.started());

    // Who holds it is said, and it opens read-only on request.
    auto said = answerMessageBox(QStringLiteral("Open Read-Only"));
    auto w = open();
    QVERIFY2(said->contains(QString::number(other.pid())) && said->contains(QSysInfo::machineHostName()),
             qPrintable(*said));
    QCOMPARE(w->windowTitle(), QStringLiteral("Quillmere - %1 (read-only)").arg(m_gallery));
    w->ovAlbums()->setCurrentIndex(w->treeModel()->index(0, 0));
    for (const char *name : {"miSave", "miNewAlbum", "miNewCollection", "miDelete", "miRename", "miImportPhotos",
                             "miImportVideo", "miChangeAlbumThumb", "miCheckGallery", "miUndo"})
        QVERIFY2(!w->action(name)->isEnabled(), name);
    QVERIFY(!(w->treeModel()->flags(w->treeModel()->index(0, 0)) & Qt::ItemIsEditable));
    QVERIFY(w->txtAlbumDesc()->isReadOnly());
    const std::unique_ptr<QMimeData> files(testing::filesMime({testing::picture(m_dir->filePath("p.jpg"), {40, 30})}));
    QCOMPARE(w->treeModel()->validateDrop(files.get(), w->data().albums().first().get(), -1), Qt::IgnoreAction);
    const QByteArray index = readBytes(m_gallery + "/xml/albums.xml");
    w->close();
    QCOMPARE(readBytes(m_gallery + "/xml/albums.xml"), index);
    w.reset();

    // Declined: nothing of it is shown, and the first-run panel offers another.
    answerMessageBox(QStringLiteral("Cancel"));
    auto firstRun = testing::whenShown<FirstRunController>([](FirstRunController *panel) { panel->reject(); });
    MainController declined(m_settings.get());
    declined.show();
    QTRY_VERIFY(*firstRun);
    QCOMPARE(declined.treeModel()->rowCount(), 0);
    QVERIFY(!declined.action("miSave")->isEnabled());
}

void TestOneWriter::filesChangedByAnotherProgramAsk()
{
    auto w = open();
    const QString index = m_gallery + "/xml/albums.xml";
    auto theirVersion = [&](const char *title) {
        QByteArray bytes = readBytes(index);
        bytes.replace("</collection>", QByteArray("<album><title>") + title + "</title><description/><contentnumber>0"
                                                    "</contentnumber><contentxmlurl>album_t.xml</contentxmlurl></album></collection>");
        writeBytes(m_gallery + "/xml/album_t.xml", "<orvane version=\"2.1\"/>");
        return writeBytes(index, bytes) ? bytes : QByteArray();
    };
    const QByteArray theirs = theirVersion("Theirs");
    w->action("miNewAlbum")->trigger();

    // Cancel: nothing written, still unsaved.
    auto asked = answerMessageBox(QStringLiteral("Cancel"));
    w->action("miSave")->trigger();
    QVERIFY2(asked->contains(index), qPrintable(*asked));
    QCOMPARE(readBytes(index), theirs);
    QVERIFY(w->data().needsToSaveChanges());

    // Keep Mine: theirs is kept beside, ours written, and the copy named.
    answerMessageBox(QStringLiteral("Keep Mine"));
    auto note = answerMessageBox();
    w->action("miSave")->trigger();
    QVERIFY2(note->contains("albums.xml.theirs-"), qPrintable(*note));
    QVERIFY(!w->data().needsToSaveChanges());
    QVERIFY(readBytes(index).contains("Untitled"));
    const QStringList kept = QDir(m_gallery + "/xml").entryList({"albums.xml.theirs-*"});
    QCOMPARE(kept.size(), 1);
    QCOMPARE(readBytes(m_gallery + "/xml/" + kept[0]), theirs);

    // Reload Theirs: the gallery as it is on disk, our change let go.
    theirVersion("Second of theirs");
    w->ovAlbums()->setCurrentIndex(w->treeModel()->index(0, 0));
    w->gallery().setTitle(w->data().albums().first().get(), QStringLiteral("Ours"));
    answerMessageBox(QStringLiteral("Reload Theirs"));
    w->action("miSave")->trigger();
    QVERIFY(!w->data().needsToSaveChanges());
    QStringList shown;
    for (const NodePtr &n : w->data().albums())
        shown << n->title();
    QCOMPARE(shown, (QStringList{"A", "Untitled", "Second of theirs"}));
}

void TestOneWriter::signalsQuitAsQuitDoes()
{
    auto w = open();
    const QuitSignals quitSignals(w.get());
    w->action("miNewAlbum")->trigger();
    QVERIFY(w->data().needsToSaveChanges());
    ::raise(SIGTERM);
    QTRY_VERIFY(!w->isVisible());
    QVERIFY(readBytes(m_gallery + "/xml/albums.xml").contains("Untitled"));
}

void TestOneWriter::terminatedProcessSavesAndLetsGo()
{
    // The program itself, ended by the system: it lets go of the gallery
    // and ends normally, rather than dying with its lock in place.
    const QString home = m_dir->filePath("home");
    QSettings(home + "/.config/Quillmere/Quillmere.conf", QSettings::NativeFormat).setValue("OrvaneFolder", m_gallery);
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/.config");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(QUILLMERE_BINARY, {});
    QVERIFY(app.waitForStarted());
    const QString lock = m_gallery + "/.quillmere/lock";
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(lock), 60000);
    ::kill(pid_t(app.processId()), SIGTERM);
    QVERIFY(app.waitForFinished(60000));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);
    QVERIFY(!QFile::exists(lock));
}

void TestOneWriter::folderNamesQtCannotHoldAreRefused()
{
    auto w = open();
    // "Galérie" in Latin-1: bytes no UTF-8 name has.
    const QByteArray raw = QFile::encodeName(m_dir->path()) + "/Gal\xe9rie";
    QCOMPARE(::mkdir(raw.constData(), 0755), 0);
    auto said = answerMessageBox();
    QVERIFY(!w->openGallery(QFile::decodeName(raw)));
    QVERIFY2(said->contains("not valid UTF-8"), qPrintable(*said));
    QCOMPARE(w->windowTitle(), QStringLiteral("Quillmere - %1[*]").arg(m_gallery));
    QCOMPARE(w->treeModel()->rowCount(), 1);
    ::rmdir(raw.constData()); // a name the temporary folder cannot remove
}

QTEST_MAIN(TestOneWriter)
#include "tst_onewriter.moc"
