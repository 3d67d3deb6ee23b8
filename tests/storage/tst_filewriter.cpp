#include "common/FullDisk.h"
#include "common/TestFiles.h"
#include "storage/FileWriter.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>



#include <sys/stat.h>

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

QTEST_GUILESS_MAIN(TestFileWriter)
#include "tst_filewriter.moc"
