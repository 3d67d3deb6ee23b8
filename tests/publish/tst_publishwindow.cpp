#include "common/GuiHelpers.h"
#include "common/SshServer.h"
#include "common/TestFiles.h"
#include "mainwindow/MainController.h"
#include "publish/PublishController.h"
#include "storage/NewOrvaneFolderController.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

using namespace qm;

class TestPublishWindow : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { testing::cancelPendingWatchers(); }
    void publishesFromTheWindow();
};

// Gallery > Publish... from the running application: unsaved changes are
// saved first, then a folder and a server receive the gallery, and the
// window remembers where it went.
void TestPublishWindow::publishesFromTheWindow()
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath("settings.ini"), QSettings::IniFormat);
    QString error;
    const QString gallery = NewOrvaneFolderController::createGalleryFolder(dir.path(), "g", &error);
    settings.setValue("OrvaneFolder", gallery);
    MainController w(&settings);
    w.show();
    QTRY_COMPARE(w.windowTitle(), "Quillmere - " + gallery + "[*]");
    w.action("miNewAlbum")->trigger();
    QVERIFY(w.gallery().needsToSaveChanges());

    const auto asked = testing::answerMessageBox("&Save and Publish");
    w.action("miPublish")->trigger();
    QVERIFY(asked->contains("Save your changes"));
    QVERIFY(!w.gallery().needsToSaveChanges());
    PublishController *publish = w.publishController();
    QTRY_VERIFY(publish->isVisible());

    // To a folder.
    const QString www = dir.filePath("www");
    QDir().mkpath(www);
    publish->cmbKind()->setCurrentIndex(1);
    publish->txtFolder()->setText(www);
    publish->btnPublish()->click();
    QTRY_VERIFY_WITH_TIMEOUT(publish->resultDialog()->isVisible(), 60000);
    QVERIFY2(publish->report().ok(), qPrintable(publish->report().failure));
    const QString albumFile = static_cast<const Album &>(*w.data().albums().first()).XMLFile();
    QVERIFY(QFile::exists(www + "/xml/albums.xml"));
    QVERIFY(QFile::exists(www + "/xml/" + albumFile));
    QCOMPARE(publish->resultDialog()->lstSent()->count(), 3); // the index, the album file, its thumbnail
    publish->resultDialog()->reject();

    // Nothing changed since: Show Changes says so.
    publish->btnDryRun()->click();
    QTRY_VERIFY_WITH_TIMEOUT(publish->resultDialog()->isVisible(), 60000);
    QVERIFY(publish->resultDialog()->lblSummary()->text().contains("up to date"));
    publish->resultDialog()->reject();
    publish->reject();

    testing::SshServer server;
    const QString serverError = server.start();
    if (!serverError.isEmpty())
        QSKIP(qPrintable("sshd cannot be started here: " + serverError));
    qunsetenv("SSH_AUTH_SOCK");

    // To a server met for the first time: its key is shown before anything is sent.
    w.action("miPublish")->trigger();
    QTRY_VERIFY(publish->isVisible());
    QCOMPARE(publish->txtFolder()->text(), www);
    publish->setSshDirForTesting(server.clientDir());
    publish->cmbKind()->setCurrentIndex(0);
    publish->txtHost()->setText("127.0.0.1");
    publish->spnPort()->setValue(server.port());
    publish->txtUser()->setText(server.user());
    publish->txtRemoteFolder()->setText(server.remote() + "/site");
    publish->txtKeyFile()->setText(server.userKey());
    QString shown;
    testing::whenShown<QMessageBox>([&](QMessageBox *box) {
        shown = box->informativeText();
        box->findChild<QPushButton *>("btnTrust")->click();
    }, [](QMessageBox *box) { return box->objectName() == "msgHostKey"; }, 60000);
    publish->btnPublish()->click();
    QTRY_VERIFY_WITH_TIMEOUT(publish->resultDialog()->isVisible(), 60000);
    QVERIFY(shown.contains("SHA256:"));
    QVERIFY2(publish->report().ok(), qPrintable(publish->report().failure));
    QVERIFY(QFile::exists(server.remote() + "/site/xml/" + albumFile));
    publish->resultDialog()->reject();
    publish->reject();

    // Remembered for this gallery; no password anywhere in the settings.
    const Destination kept = Destination::load(settings, gallery);
    QCOMPARE(kept.kind, Destination::Sftp);
    QCOMPARE(kept.port, server.port());
    QCOMPARE(kept.remoteFolder, server.remote() + "/site");
    QVERIFY(!QString::fromUtf8(testing::readBytes(dir.filePath("settings.ini"))).contains("assword", Qt::CaseInsensitive));
}

QTEST_MAIN(TestPublishWindow)
#include "tst_publishwindow.moc"
