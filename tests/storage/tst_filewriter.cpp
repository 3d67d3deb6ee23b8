#include "common/FullDisk.h"
#include "common/TestFiles.h"
#include "imaging/ExifDate.h"
#include "imaging/ImageProc.h"
#include "storage/FileReader.h"
#include "storage/FileWriter.h"
#include "storage/GalleryFile.h"
#include "storage/Preferences.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace qm;
using testing::readBytes;
using testing::writeBytes;

namespace {

QByteArray noise(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator rng(7);
    for (char &c : bytes)
        c = char(rng.bounded(256));
    return bytes;
}

QStringList listing(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

} // namespace

class TestFileWriter : public QObject
{
    Q_OBJECT
private slots:
    void writesWholeOrNothing();
    void neverWritesThroughLinks();
    void copiesInPieces();
    void readsOnlyPlainFilesOfASensibleSize();

private:
    QTemporaryDir m_dir;
};

void TestFileWriter::writesWholeOrNothing()
{
    const QString target = m_dir.filePath("index.xml");
    QVERIFY(writeBytes(target, "old content"));
    ::chmod(QFile::encodeName(target).constData(), 0640);
    const QByteArray big = noise(256 * 1024);

    // A replaced file keeps its permissions.
    QVERIFY(FileWriter::writeFile(target, "new content").ok());
    QCOMPARE(readBytes(target), QByteArray("new content"));
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(target).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0640u);
    QVERIFY(writeBytes(target, "old content"));

    // A file system that takes only part of the bytes: nothing changes, the
    // system's own reason comes back, no temporary file stays.
    QVERIFY(writeBytes(m_dir.filePath("movie.flv"), big));
    const QString limited = testing::withFileSizeLimit(64 * 1024, [&] {
        return FileWriter::writeFile(target, big).reason + "|"
            + FileWriter::copyFile(m_dir.filePath("movie.flv"), m_dir.filePath("copy.flv")).reason;
    });
    QCOMPARE(limited, QStringLiteral("File too large|File too large"));
    QCOMPARE(readBytes(target), QByteArray("old content"));
    QCOMPARE(listing(m_dir.path()), (QStringList{"index.xml", "movie.flv"}));

    // A real full disk, where the test may mount one.
    testing::TinyDisk disk(128 * 1024);
    if (!disk.ok())
        QSKIP("no tmpfs can be mounted here (needs root)");
    const QString onDisk = disk.filePath("albums.xml");
    QVERIFY(writeBytes(onDisk, "old"));
    disk.fill();
    const WriteResult full = FileWriter::writeFile(onDisk, big);
    QCOMPARE(full.reason, systemReason(ENOSPC));
    QCOMPARE(full.path, onDisk);
    QCOMPARE(FileWriter::copyFile(m_dir.filePath("movie.flv"), disk.filePath("m.flv")).reason, systemReason(ENOSPC));
    QCOMPARE(readBytes(onDisk), QByteArray("old"));
    QCOMPARE(listing(disk.path()), (QStringList{".filler", "albums.xml"}));
}

void TestFileWriter::neverWritesThroughLinks()
{
    QTemporaryDir outside;
    const QString victim = outside.filePath("victim.jpg");
    QVERIFY(writeBytes(victim, "precious"));
    const QString img = m_dir.filePath("links");
    QDir().mkpath(img + "/folder.jpg");
    QVERIFY(QFile::link(victim, img + "/link.jpg"));
    QVERIFY(QFile::link(outside.filePath("none.jpg"), img + "/dangling.jpg"));
    for (const char *name : {"link.jpg", "dangling.jpg", "folder.jpg"}) {
        const QString path = img + "/" + name;
        QVERIFY2(!FileWriter::writeFile(path, "evil").ok(), name);
        QVERIFY2(!FileWriter::copyFile(victim, path, FileWriter::Mode::Replace).ok(), name);
        QVERIFY2(!FileWriter::refusal(path).isEmpty(), name);
    }
    QCOMPARE(readBytes(victim), QByteArray("precious"));
    QCOMPARE(QDir(outside.path()).entryList(QDir::Files), QStringList{"victim.jpg"});
    QVERIFY(QFileInfo(img + "/link.jpg").isSymLink());

    // A name taken is never replaced by CreateNew; a free one is taken.
    const QString taken = img + "/taken.jpg";
    QVERIFY(writeBytes(taken, "mine"));
    QCOMPARE(FileWriter::writeFile(taken, "other", FileWriter::Mode::CreateNew).reason, systemReason(EEXIST));
    QCOMPARE(readBytes(taken), QByteArray("mine"));
    QVERIFY(FileWriter::writeFile(img + "/free.jpg", "new", FileWriter::Mode::CreateNew).ok());

    // Temporary files have the shape isTemporaryName knows; nothing else does.
    FileWriter writer(img + "/album_1.xml");
    QVERIFY(writer.open());
    const QStringList during = listing(img);
    writer.cancel();
    QCOMPARE(during.size(), listing(img).size() + 1);
    for (const QString &name : during)
        QCOMPARE(FileWriter::isTemporaryName(name), name.startsWith(".album_1.xml"));
    for (const char *name : {"albums.xml", "album_1.xml", ".hidden.xml", "a.tmp-1"})
        QVERIFY2(!FileWriter::isTemporaryName(name), name);
}

void TestFileWriter::copiesInPieces()
{
    const QString from = m_dir.filePath("movie.flv");
    const QByteArray bytes = noise(9 * 1024 * 1024 + 123); // three pieces and a bit
    QVERIFY(writeBytes(from, bytes));
    const QString img = m_dir.filePath("copies");
    QDir().mkpath(img);

    qint64 copied = 0;
    auto count = [&](qint64 n) {
        copied = n;
        return true;
    };
    QVERIFY(FileWriter::copyFile(from, img + "/a.flv", FileWriter::Mode::CreateNew, count).ok());
    QCOMPARE(readBytes(img + "/a.flv"), bytes);
    QCOMPARE(copied, qint64(bytes.size()));

    // Stopped after the first piece, unreadable or unwritable: nothing is left behind.
    const WriteResult stopped = FileWriter::copyFile(from, img + "/b.flv", FileWriter::Mode::CreateNew, [&](qint64 n) {
        copied = n;
        return false;
    });
    QCOMPARE(stopped.reason, FileWriter::stoppedReason());
    QVERIFY(copied > 0 && copied < bytes.size());
    QVERIFY(!FileWriter::copyFile(m_dir.filePath("missing.flv"), img + "/d.flv").ok());
    QVERIFY(!FileWriter::copyFile(from, img + "/no/such/folder/e.flv").ok());
    QVERIFY(!FileWriter::copyFile(m_dir.path(), img + "/f.flv").ok()); // a folder
    QCOMPARE(listing(img), QStringList{"a.flv"});
}

void TestFileWriter::readsOnlyPlainFilesOfASensibleSize()
{
    // What may lie in a gallery or be dropped: every read of it ends at
    // once, with the reason, and nothing is read that has no end.
    const testing::Watchdog watchdog("a read of a pipe or a device");
    QTemporaryDir dir;
    const QString pipe = dir.filePath("pipe.jpg"), zero = dir.filePath("zero.jpg"), folder = dir.filePath("folder.jpg");
    const QString socket = dir.filePath("socket.jpg"), huge = dir.filePath("huge.jpg"), plain = dir.filePath("plain.jpg");
    QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0644) == 0);
    QVERIFY(QFile::link("/dev/zero", zero));
    QVERIFY(QDir().mkpath(folder));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(socket).constData(), sizeof address.sun_path);
    QVERIFY(fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
    QFile sparse(huge);
    QVERIFY(sparse.open(QIODevice::WriteOnly) && sparse.resize(FileReader::kPictureLimit + 1));
    sparse.close();
    QVERIFY(testing::picture(plain, {64, 48}) == plain);
    const QString link = dir.filePath("link.jpg");
    QVERIFY(QFile::link(plain, link));

    const QList<std::pair<QString, const char *>> refused{{pipe, "named pipe"}, {zero, "symbolic link to a device"},
                                                          {folder, "folder"}, {socket, "socket"}, {huge, "larger"}};
    for (const auto &[path, why] : refused) {
        const ReadResult read = FileReader::readFile(path, FileReader::kPictureLimit);
        QVERIFY2(!read && read.reason.contains(QLatin1String(why)), qPrintable(path + ": " + read.reason));
        QString reason;
        QVERIFY(ImageProc::loadPicture(path, {}, &reason).isNull());
        QCOMPARE(reason, read.reason);
        QCOMPARE(ImageProc::sizeOfJPEG(path), QSize(0, 0));
        QVERIFY(!ExifDate::dateTaken(path).isValid());
        // A movie may be as large as it likes; only its kind counts for a copy.
        if (path != huge) {
            const WriteResult copy = FileWriter::copyFile(path, dir.filePath("copy.jpg"));
            QVERIFY(!copy && copy.path == path);
        }
    }
    QVERIFY(!QFile::exists(dir.filePath("copy.jpg")));
    QCOMPARE(FileReader::readFile(link, FileReader::kPictureLimit).bytes, readBytes(plain));
    QCOMPARE(ImageProc::loadPicture(link).size, QSize(64, 48));
    ::close(fd);

    // The index and an album file as a pipe, an album file larger than any
    // real one: the gallery opens, and says which file and why.
    QSettings settings(dir.filePath("prefs.ini"), QSettings::IniFormat);
    Preferences prefs(&settings);
    prefs.setOrvaneFolder(dir.filePath("g"));
    QDir().mkpath(prefs.xmlFolder());
    QVERIFY(::mkfifo(QFile::encodeName(prefs.albumsXMLFile()).constData(), 0644) == 0);
    Data data;
    GalleryFile files(prefs);
    LoadReport report = files.loadData(data);
    QVERIFY(report.unreadable.size() == 1 && report.unreadable.first().reason.contains("named pipe"));
    QVERIFY(QFile::remove(prefs.albumsXMLFile()));
    QVERIFY(writeBytes(prefs.albumsXMLFile(), "<orvane version=\"2.1\"><collection><album><contentxmlurl>a.xml"
                                              "</contentxmlurl></album><album><contentxmlurl>b.xml</contentxmlurl>"
                                              "</album></collection></orvane>"));
    QVERIFY(::mkfifo(QFile::encodeName(prefs.xmlPath("a.xml")).constData(), 0644) == 0);
    QFile big(prefs.xmlPath("b.xml"));
    QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(FileReader::kXmlLimit + 1));
    big.close();
    report = files.loadData(data);
    QCOMPARE(data.albums().size(), 2);
    QCOMPARE(report.unreadable.size(), 2);
    QVERIFY(report.unreadable[0].path == prefs.xmlPath("a.xml") && report.unreadable[0].reason.contains("named pipe"));
    QVERIFY(report.unreadable[1].path == prefs.xmlPath("b.xml") && report.unreadable[1].reason.contains("larger"));
}

QTEST_GUILESS_MAIN(TestFileWriter)
#include "tst_filewriter.moc"
