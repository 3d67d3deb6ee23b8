#include "common/GalleryFixture.h"
#include "common/FullDisk.h"
#include "common/SshServer.h"
#include "publish/PublishRecord.h"
#include "publish/Publisher.h"
#include "publish/SftpClient.h"
#include "publish/SftpTarget.h"
#include "storage/GalleryCheck.h"
#include "storage/Job.h"

#include <QDirIterator>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <thread>

using namespace qm;
using testing::readBytes;
using testing::writeBytes;

namespace {

// Answers as a user would, and remembers what was asked.
struct Prompts : PublishPrompts
{
    bool accept = true;
    QList<HostKey> asked;
    bool acceptHostKey(const HostKey &key) override
    {
        asked << key;
        return accept;
    }
    std::optional<QString> secret(const QString &) override { return std::nullopt; }
};

// A saved gallery: a collection with two albums of photos, a video, a
// viewer, and files the gallery does not own beside them.
struct Fixture : testing::GalleryFixture
{
    QString folder = prefs.orvaneFolder();
    std::shared_ptr<AlbumCollection> travel = collection("Travel");
    std::shared_ptr<Album> harbour = album("Harbour", travel.get());
    std::shared_ptr<Album> hills = album("Hills");

    explicit Fixture(int photos = 3)
    {
        for (int i = 0; i < photos; ++i)
            photo(i % 2 ? *hills : *harbour, QStringLiteral("p%1").arg(i));
        video(*harbour, "Waves", {800, 400})->setThumbFile("vthumb_w.jpg");
        file("vthumb_w.jpg");
        QDir(folder).mkpath("viewer/js");
        writeBytes(folder + "/viewer/index.html", "<html></html>");
        writeBytes(folder + "/viewer/js/app.js", "app()");
        // Not the gallery's: never published.
        file("stray.jpg");
        QDir(folder).mkpath(".quillmere");
        writeBytes(folder + "/.quillmere/lock", "mine");
        qputenv("XDG_DATA_HOME", dir.filePath("share").toLocal8Bit());
        ready();
        save();
    }
    void save() { QVERIFY(gallery.save().ok()); }

    // What the destination must hold: every file the gallery names, and the viewer.
    QStringList published() const
    {
        QStringList names = {"xml/albums.xml", "viewer/index.html", "viewer/js/app.js"};
        for (const GalleryNames::Name &n : GalleryNames::of(data).names)
            names << (n.xml ? "xml/" : "img/") + n.name;
        names.removeDuplicates();
        names.sort();
        return names;
    }
};

// Every file below `root`, by relative name.
QStringList filesBelow(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(root).relativeFilePath(it.next());
    out.sort();
    return out;
}

// The destination holds exactly the gallery's files, each with the gallery's bytes.
void expectMirror(const Fixture &f, const QString &remote)
{
    QStringList expected = f.published();
    expected << Publisher::markerName();
    expected.sort();
    QCOMPARE(filesBelow(remote), expected);
    for (const QString &name : f.published())
        QVERIFY2(readBytes(remote + "/" + name) == readBytes(f.folder + "/" + name), qPrintable(name));
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

// Reads the published gallery as a visitor's browser would, over and over:
// an index must never name a file that is not there.
class Visitor
{
public:
    explicit Visitor(QString root) : m_root(std::move(root)), m_thread([this] { run(); }) {}
    ~Visitor() { finish(); }
    void finish()
    {
        m_done = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    int looks() const { return m_looks; }
    QString broken() const { return m_broken; }

private:
    void run()
    {
        while (!m_done && m_broken.isEmpty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1)); // leaves the machine to the publish
            const QByteArray index = readBytes(m_root + "/xml/albums.xml");
            if (index.isEmpty())
                continue;
            QStringList missing;
            for (const QString &album : urls(index, "contentxmlurl")) {
                const QByteArray bytes = readBytes(m_root + "/xml/" + album);
                if (bytes.isEmpty())
                    missing << "xml/" + album;
                for (const QString &name : urls(bytes, "url") + urls(index, "url")) {
                    if (!QFile::exists(m_root + "/img/" + name))
                        missing << "img/" + name;
                }
            }
            // Only a view of one index counts: it may have been replaced meanwhile.
            if (readBytes(m_root + "/xml/albums.xml") != index)
                continue;
            ++m_looks;
            if (!missing.isEmpty())
                m_broken = missing.join(", ");
        }
    }
    static QStringList urls(const QByteArray &xml, const char *element)
    {
        QStringList out;
        QXmlStreamReader r(xml);
        while (!r.atEnd()) {
            if (r.readNext() == QXmlStreamReader::StartElement && r.name() == QLatin1String(element))
                out << r.readElementText();
        }
        return out;
    }

    QString m_root;
    std::atomic_bool m_done{false};
    std::atomic_int m_looks{0};
    QString m_broken;
    std::thread m_thread;
};

} // namespace

class TestPublish : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void publishesOnlyWhatChanged_data();
    void publishesOnlyWhatChanged();
    void finishesWhatWasStoppedOrCut();
    void pipelinedRequestsStayInOrder();
    void saysTheServersDiskIsFull();
    void refusesWhatItMustNot(); // last: the server's key changes

private:
    Destination sftp(const QString &folder) const
    {
        Destination d;
        d.host = "127.0.0.1";
        d.port = m_server.port();
        d.user = m_server.user();
        d.keyFile = m_server.userKey();
        d.remoteFolder = folder;
        return d;
    }
    PublishReport publish(const Fixture &f, const Destination &d, PublishOptions options = {})
    {
        options.sshDir = m_server.clientDir();
        Prompts prompts;
        return Publisher(f.folder, d, options).run(nullptr, &prompts);
    }
    void requireServer()
    {
        if (!m_serverError.isEmpty())
            QSKIP(qPrintable("sshd cannot be started here: " + m_serverError));
    }

    testing::SshServer m_server;
    QString m_serverError;
};

void TestPublish::initTestCase()
{
    // Tests must not use the agent or keys of whoever runs them.
    qunsetenv("SSH_AUTH_SOCK");
    m_serverError = m_server.start();
    if (m_serverError.isEmpty()) {
        // The server's key is known to this test's client from here on.
        Prompts yes;
        Fixture f(1);
        QVERIFY(Publisher(f.folder, sftp(m_server.path("first")), {true, false, m_server.clientDir()}).run(nullptr, &yes).failure.isEmpty());
        QCOMPARE(yes.asked.size(), 1);
    }
}

void TestPublish::cleanup()
{
    PublishTarget::setSendDelayForTesting(0);
}

void TestPublish::publishesOnlyWhatChanged_data()
{
    QTest::addColumn<bool>("server");
    QTest::newRow("sftp") << true;
    QTest::newRow("folder") << false;
}

void TestPublish::publishesOnlyWhatChanged()
{
    QFETCH(bool, server);
    if (server)
        requireServer();
    Fixture f;
    const QString remote = server ? m_server.remote() + "/web" : f.dir.filePath("share/www");
    QDir().mkpath(server ? m_server.remote() : remote);
    Destination d = server ? sftp(remote) : Destination{Destination::Folder, {}, 22, {}, {}, {}, remote};

    // First: everything, nothing the gallery does not own.
    PublishReport r = publish(f, d);
    QVERIFY2(r.ok(), qPrintable(r.failure));
    QVERIFY(r.comparedServer);
    QCOMPARE(sorted(r.sent), f.published());
    expectMirror(f, remote);

    // A rename, an album file renamed, an import, a deletion and a changed photo.
    f.gallery.setTitle(f.hills.get(), "Mountains");
    QVERIFY(f.gallery.setAlbumFile(f.harbour.get(), "album_port.xml").isEmpty());
    auto imported = std::make_shared<Photo>();
    imported->setImageFile("img_new.jpg");
    imported->setSmallImageFile("img_new_sm.jpg");
    f.gallery.addItems(f.hills.get(), {imported}, {f.file("img_new.jpg"), f.file("img_new_sm.jpg")}, "Import");
    f.gallery.removeItems(f.hills.get(), {f.hills->items().first()});
    QTRY_VERIFY_WITH_TIMEOUT(!f.gallery.isBusy(), 60000); // a deletion is a job
    writeBytes(f.img("img_p0.jpg"), "a brighter picture");
    f.save();

    // A dry run lists what the publish then does, and changes nothing.
    const QStringList before = filesBelow(remote);
    PublishOptions dry;
    dry.dryRun = true;
    const PublishReport plan = publish(f, d, dry);
    QVERIFY2(plan.failure.isEmpty(), qPrintable(plan.failure));
    QCOMPARE(filesBelow(remote), before);
    const QStringList sent = {"img/img_new.jpg", "img/img_new_sm.jpg", "img/img_p0.jpg", "xml/album_Hills.xml",
                              "xml/album_port.xml", "xml/albums.xml"};
    const QStringList removed = {"img/img_p1.jpg", "img/img_p1_sm.jpg", "xml/album_Harbour.xml"};
    QCOMPARE(sorted(plan.sent), sent);
    QCOMPARE(sorted(plan.removed), removed);
    QVERIFY(!plan.comparedServer);

    r = publish(f, d);
    QVERIFY2(r.ok(), qPrintable(r.failure));
    QCOMPARE(sorted(r.sent), sent);
    QCOMPARE(sorted(r.removed), removed);
    expectMirror(f, remote);

    // Saved again unchanged: the album files are new on disk, their bytes are not.
    f.gallery.setTitle(f.hills.get(), "Mountains!");
    f.gallery.setTitle(f.hills.get(), "Mountains");
    f.save();
    r = publish(f, d);
    QVERIFY2(r.ok(), qPrintable(r.failure));
    QCOMPARE(r.sent, QStringList());
    QCOMPARE(r.removed, QStringList());

    // The names kept from the last reading of the gallery lead nowhere outside it.
    const QString names = PublishedNames::path(f.folder);
    QByteArray kept = readBytes(names);
    QVERIFY(kept.contains("\nx\t") && kept.endsWith("\nend\n"));
    writeBytes(names, kept.insert(kept.size() - 4, "n\timg/../../outside.jpg\n"));
    writeBytes(f.folder + "/../outside.jpg", "not the gallery's");
    r = publish(f, d);
    QVERIFY2(r.ok(), qPrintable(r.failure));
    QCOMPARE(r.sent, QStringList());
    QVERIFY(!readBytes(names).contains("outside"));

    // Someone else took a picture off the server: only Check Server looks at every file.
    QVERIFY(QFile::remove(remote + "/img/img_p2.jpg"));
    QVERIFY(publish(f, d).sent.isEmpty());
    PublishOptions check;
    check.checkServer = true;
    r = publish(f, d, check);
    QVERIFY(r.comparedServer);
    QCOMPARE(r.sent, QStringList{"img/img_p2.jpg"});

    // Another computer published (the mark on the server differs): compared in full.
    writeBytes(remote + "/" + Publisher::markerName(), "elsewhere\n");
    writeBytes(remote + "/img/img_p2_sm.jpg", "changed on the server");
    r = publish(f, d);
    QVERIFY(r.comparedServer);
    QCOMPARE(r.sent, QStringList{"img/img_p2_sm.jpg"});
    expectMirror(f, remote);
}

void TestPublish::finishesWhatWasStoppedOrCut()
{
    requireServer();
    Fixture f(40);
    const QString remote = m_server.remote() + "/cut";
    const Destination d = sftp(remote);
    PublishReport r;
    auto runJob = [&](auto whileRunning) {
        auto report = std::make_shared<PublishReport>();
        Job job("Publish", [&, report](JobControl &control) {
            Prompts prompts;
            *report = Publisher(f.folder, d, {false, false, m_server.clientDir()}).run(&control, &prompts);
        });
        Visitor visitor(remote);
        job.start();
        whileRunning(job);
        QTRY_VERIFY_WITH_TIMEOUT(job.isFinished(), 120000);
        visitor.finish();
        if (!visitor.broken().isEmpty())
            qFatal("a visitor saw an index naming missing files: %s", qPrintable(visitor.broken()));
        r = *report;
    };
    // Nothing incomplete under a real name; no index before its pictures.
    auto expectNoPartialFiles = [&] {
        for (const QString &name : filesBelow(remote)) {
            if (!name.section('/', -1).startsWith('.'))
                QVERIFY2(readBytes(remote + "/" + name) == readBytes(f.folder + "/" + name), qPrintable(name));
        }
        QVERIFY(!QFile::exists(remote + "/xml/albums.xml"));
    };
    PublishTarget::setSendDelayForTesting(15);
    runJob([&](Job &job) {
        QTRY_VERIFY_WITH_TIMEOUT(filesBelow(remote + "/img").size() >= 8, 60000);
        job.stop();
    });
    QVERIFY2(r.stopped && r.failure.isEmpty(), qPrintable(r.failure + r.sent.join(",")));
    expectNoPartialFiles();

    runJob([&](Job &) {
        QTRY_VERIFY_WITH_TIMEOUT(filesBelow(remote + "/img").size() >= 20, 60000);
        QVERIFY(m_server.killSessions() > 0);
    });
    QVERIFY2(r.failure.contains("connection to the server was lost"), qPrintable(r.failure));
    QVERIFY(!r.sent.isEmpty());
    expectNoPartialFiles();

    // The next publish ends the work, and leaves nothing of the others behind.
    PublishTarget::setSendDelayForTesting(2);
    runJob([](Job &) {});
    QVERIFY2(r.ok(), qPrintable(r.failure));
    expectMirror(f, remote);

    // A visitor watching a publish that renames and removes sees no gap either.
    f.gallery.removeItems(f.hills.get(), f.hills->items().mid(0, 5));
    QTRY_VERIFY_WITH_TIMEOUT(!f.gallery.isBusy(), 60000); // a deletion is a job
    QVERIFY(f.gallery.setAlbumFile(f.harbour.get(), "album_moved.xml").isEmpty());
    f.save();
    runJob([](Job &) {});
    QVERIFY2(r.ok(), qPrintable(r.failure));
    QCOMPARE(r.removed.size(), 11);
    expectMirror(f, remote);
}

void TestPublish::refusesWhatItMustNot()
{
    requireServer();
    Fixture f(1);

    // A folder the user may not write to.
    QDir().mkpath(m_server.remote() + "/locked");
    Destination d = sftp(m_server.remote() + "/locked");
    if (::geteuid() == 0)
        d.user = "nobody"; // root may write anywhere
    else
        QFile::setPermissions(m_server.remote() + "/locked", QFile::ReadOwner | QFile::ExeOwner);
    PublishReport r = publish(f, d);
    QVERIFY2(r.failure.contains("permission denied"), qPrintable(r.failure));
    QVERIFY(r.sent.isEmpty());

    // An unknown server shows its key; declined, nothing is published.
    const QString known = m_server.clientDir() + "/known_hosts";
    const QByteArray knownBefore = readBytes(known);
    QProcess keygen;
    keygen.start("ssh-keygen", {"-lf", m_server.path("hostkey.pub")});
    QVERIFY(keygen.waitForFinished());
    const QString fingerprint = QString::fromUtf8(keygen.readAll()).section(' ', 1, 1);
    PublishOptions options;
    options.sshDir = m_server.path("stranger");
    Prompts no;
    no.accept = false;
    r = Publisher(f.folder, sftp(m_server.remote() + "/new"), options).run(nullptr, &no);
    QCOMPARE(no.asked.size(), 1);
    QCOMPARE(no.asked[0].fingerprint, fingerprint);
    QCOMPARE(no.asked[0].host, QStringLiteral("[127.0.0.1]:%1").arg(m_server.port()));
    QVERIFY(r.failure.contains("not accepted"));
    QVERIFY(!QFile::exists(m_server.remote() + "/new"));

    // A server whose key changed is refused with a warning, and its old key stays known.
    QCOMPARE(m_server.restartWithNewHostKey(), QString());
    Prompts yes;
    options.sshDir = m_server.clientDir();
    r = Publisher(f.folder, sftp(m_server.remote() + "/new"), options).run(nullptr, &yes);
    QVERIFY2(r.failure.startsWith("WARNING: the key of") && r.failure.contains("has changed"), qPrintable(r.failure));
    QVERIFY(yes.asked.isEmpty());
    QVERIFY(!QFile::exists(m_server.remote() + "/new"));
    QCOMPARE(readBytes(known), knownBefore);
}

void TestPublish::saysTheServersDiskIsFull()
{
    requireServer();
    testing::TinyDisk disk(512 * 1024);
    if (!disk.ok())
        QSKIP("a small disk cannot be mounted here");
    Fixture f(2);
    writeBytes(f.img("img_p0.jpg"), QByteArray(1 << 20, 'p'));
    f.save();
    const PublishReport r = publish(f, sftp(disk.filePath("site")));
    QVERIFY2(r.failure.contains("index on the server was left as it was"), qPrintable(r.failure));
    QStringList refused;
    for (const FileProblem &p : r.refused) {
        QCOMPARE(p.reason, QStringLiteral("the server's disk is full"));
        refused << p.path;
    }
    QVERIFY(refused.contains("img/img_p0.jpg"));
    // Nothing half-sent stays, under any name.
    QVERIFY(!QFile::exists(disk.filePath("site/xml/albums.xml")));
    for (const QString &name : filesBelow(disk.filePath("site")))
        QVERIFY2(!name.contains(".tmp-") && readBytes(disk.filePath("site/" + name)) == readBytes(f.folder + "/" + name), qPrintable(name));
}

// Replies come back matched to their requests however many are in flight.
void TestPublish::pipelinedRequestsStayInOrder()
{
    requireServer();
    SftpTarget target(sftp(m_server.remote() + "/many"), m_server.clientDir());
    Prompts prompts;
    QCOMPARE(target.connect(&prompts), QString());
    QCOMPARE(target.makeFolders({"img"}), QString());
    QList<Upload> files;
    for (int i = 0; i < 2000; ++i) {
        const QByteArray bytes = QByteArray::number(i).repeated(1 + i % 97);
        files << Upload{QStringLiteral("img/f%1").arg(i), QString(), bytes, bytes.size(), 1700000000 + i};
    }
    files << Upload{"img/big", QString(), QByteArray(3 << 20, 'b'), 3 << 20, 1700000000};
    int done = 0;
    const QString error = target.send(files, {nullptr, nullptr, [&](int i, const QString &reason, const QByteArray &) {
                                                  QVERIFY2(reason.isEmpty(), qPrintable(reason));
                                                  QCOMPARE(i, done++); // each file in turn, none twice
                                              }});
    QCOMPARE(error, QString());
    QCOMPARE(done, files.size());
    for (const Upload &u : files) {
        const QString path = m_server.remote() + "/many/" + u.name;
        QVERIFY(readBytes(path) == u.bytes);
        QCOMPARE(QFileInfo(path).lastModified().toSecsSinceEpoch(), u.mtime);
    }
}

QTEST_GUILESS_MAIN(TestPublish)
#include "tst_publish.moc"
