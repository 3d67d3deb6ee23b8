#include "common/TestFiles.h"
#include "model/Data.h"
#include "model/Photo.h"
#include "model/Video.h"
#include "storage/GalleryCheck.h"
#include "storage/Job.h"
#include "storage/RecentGalleries.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace qm;
using testing::writeBytes;

namespace {

QStringList names(const QList<CheckedFile> &files)
{
    QStringList out;
    for (const CheckedFile &f : files)
        out << (f.xml ? "xml/" : "img/") + f.name;
    out.sort();
    return out;
}

} // namespace

class TestGalleryCheck : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void findsWhatIsMissingAndWhatNothingNames();
    void neverLeavesTheGallery();
    void stopsAndScales();
    void recentGalleries();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_img, m_xml;
    Data m_data;
};

void TestGalleryCheck::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_img = m_dir->filePath("gallery/img");
    m_xml = m_dir->filePath("gallery/xml");
    QDir().mkpath(m_img);
    QDir().mkpath(m_xml);
    // The trash on the same disk as the gallery.
    qputenv("XDG_DATA_HOME", m_dir->filePath("share").toLocal8Bit());

    m_data.albums().clear();
    auto coll = std::make_shared<AlbumCollection>();
    coll->setTitle("Travel");
    coll->setThumbFile("albthumb_c.jpg");
    auto album = std::make_shared<Album>();
    album->setTitle("Harbour");
    album->setXMLFile("album_11.xml");
    album->setThumbFile("albthumb_a.jpg");
    album->setParentCollection(coll.get());
    coll->addItem(album);
    m_data.albums().append(coll);
    auto photo = std::make_shared<Photo>();
    photo->setTitle("Boats");
    photo->setImageFile("img_k_0001.jpg");
    photo->setSmallImageFile("img_k_0001_sm.jpg");
    album->addItem(photo);
    auto video = std::make_shared<Video>();
    video->setTitle("Waves");
    video->setThumbFile("vthumb_v.jpg");
    auto stream = std::make_shared<VideoStream>();
    stream->setFile("vstream_v.flv");
    video->addStream(stream);
    album->addItem(video);
    for (const char *name : {"albthumb_c.jpg", "albthumb_a.jpg", "img_k_0001.jpg", "img_k_0001_sm.jpg",
                             "vthumb_v.jpg", "vstream_v.flv"})
        QVERIFY(writeBytes(m_img + "/" + name, "x"));
    for (const char *name : {"albums.xml", "album_11.xml"})
        QVERIFY(writeBytes(m_xml + "/" + name, "<x/>"));
}

void TestGalleryCheck::findsWhatIsMissingAndWhatNothingNames()
{
    const GalleryCheckReport clean = GalleryCheck::run(GalleryNames::of(m_data), m_img, m_xml);
    QVERIFY2(clean.clean(), qPrintable(names(clean.orphans).join(' ') + names(clean.missing).join(' ')));
    QCOMPARE(clean.namedFiles, 8);
    QCOMPARE(clean.entries, 8);

    // Planted: two missing files, and what other tools and interrupted work leave.
    QFile::remove(m_img + "/img_k_0001_sm.jpg");
    QFile::remove(m_xml + "/album_11.xml");
    QVERIFY(writeBytes(m_img + "/stray.jpg", QByteArray(1234, 'j')));
    QVERIFY(writeBytes(m_img + "/.img_k_0002.jpg.tmp-3k9", QByteArray(10, 't')));
    QVERIFY(writeBytes(m_xml + "/albums.xml.unreadable-20240101", "<broken"));
    QVERIFY(QFile::link("/etc/passwd", m_img + "/elsewhere.jpg"));
    QDir().mkpath(m_img + "/subfolder");
    auto &album = static_cast<Album &>(*static_cast<AlbumCollection &>(*m_data.albums()[0]).items()[0]);
    album.addItem(album.items()[0]); // the same photo twice: its missing file is listed once

    const GalleryCheckReport r = GalleryCheck::run(GalleryNames::of(m_data), m_img, m_xml);
    QCOMPARE(names(r.missing), (QStringList{"img/img_k_0001_sm.jpg", "xml/album_11.xml"}));
    QCOMPARE(names(r.orphans), (QStringList{"img/.img_k_0002.jpg.tmp-3k9", "img/elsewhere.jpg", "img/stray.jpg",
                                            "img/subfolder", "xml/albums.xml.unreadable-20240101"}));
    QVERIFY(r.notPlain.isEmpty() && r.problems.isEmpty());
    const auto missingSmall = std::find_if(r.missing.begin(), r.missing.end(),
                                           [](const CheckedFile &f) { return !f.xml; });
    QCOMPARE(missingSmall->owner, QStringLiteral("photo \u201cBoats\u201d in \u201cHarbour\u201d"));
    QCOMPARE(missingSmall->path, m_img + "/img_k_0001_sm.jpg");
    for (const CheckedFile &f : r.orphans) {
        if (f.name == "stray.jpg")
            QVERIFY(f.size == 1234 && f.kind == CheckedFile::File && f.note.isEmpty());
        if (f.name == "elsewhere.jpg") // the link's own size, not that of what it points to
            QVERIFY(f.kind == CheckedFile::Link && f.size == qint64(strlen("/etc/passwd")));
        if (f.name == "subfolder")
            QVERIFY(f.kind == CheckedFile::Folder && f.size == -1);
        if (f.name.startsWith('.') || f.name.contains("unreadable"))
            QVERIFY2(!f.note.isEmpty(), qPrintable(f.name));
    }
    QCOMPARE(r.orphanBytes, 1234 + 10 + 7 + qint64(strlen("/etc/passwd")));
}

void TestGalleryCheck::neverLeavesTheGallery()
{
    auto &album = static_cast<Album &>(*static_cast<AlbumCollection &>(*m_data.albums()[0]).items()[0]);
    auto &photo = static_cast<Photo &>(*album.items()[0]);
    // A name that climbs out, with a file waiting there; and a named file that is a link out.
    QVERIFY(writeBytes(m_dir->filePath("gallery/escape.jpg"), "x"));
    photo.setSmallImageFile("../escape.jpg");
    QFile::remove(m_img + "/img_k_0001_sm.jpg");
    QFile::remove(m_img + "/img_k_0001.jpg");
    QVERIFY(QFile::link("/etc/passwd", m_img + "/img_k_0001.jpg"));
    GalleryCheckReport r = GalleryCheck::run(GalleryNames::of(m_data), m_img, m_xml);
    QVERIFY(r.missing.isEmpty() && r.orphans.isEmpty());
    QCOMPARE(names(r.notPlain), QStringList{"img/img_k_0001.jpg"});
    QCOMPARE(r.notPlain[0].kind, CheckedFile::Link);
    QCOMPARE(r.problems.size(), 1);
    QCOMPARE(r.problems[0].path, QStringLiteral("../escape.jpg"));

    // A folder that is itself a link to elsewhere is not read at all.
    const QString real = m_dir->filePath("elsewhere");
    QVERIFY(QDir().rename(m_img, real));
    QVERIFY(QFile::link(real, m_img));
    r = GalleryCheck::run(GalleryNames::of(m_data), m_img, m_xml);
    QVERIFY(r.missing.isEmpty() && r.orphans.isEmpty());
    QCOMPARE(r.problems.size(), 2);
    QCOMPARE(r.problems[0].path, QDir::toNativeSeparators(m_img));
}

void TestGalleryCheck::stopsAndScales()
{
    // Names in the tens of thousands: one listing per folder, sizes only for orphans.
    auto &album = static_cast<Album &>(*static_cast<AlbumCollection &>(*m_data.albums()[0]).items()[0]);
    for (int i = 0; i < 20000; ++i) {
        auto p = std::make_shared<Photo>();
        p->setImageFile(QStringLiteral("img_%1.jpg").arg(i));
        album.addItem(p);
        QFile f(m_img + QStringLiteral("/img_%1.jpg").arg(i + 1));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    const GalleryNames names = GalleryNames::of(m_data);
    QElapsedTimer clock;
    clock.start();
    const GalleryCheckReport r = GalleryCheck::run(names, m_img, m_xml);
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(r.missing.size(), 1);
    QCOMPARE(r.missing[0].name, QStringLiteral("img_0.jpg"));
    QCOMPARE(r.orphans.size(), 1);
    QCOMPARE(r.orphans[0].name, QStringLiteral("img_20000.jpg"));

    // As a job, stopped: it says so and lists nothing half-done.
    auto result = std::make_shared<GalleryCheckReport>();
    Job job("check", [&](JobControl &c) { *result = GalleryCheck::run(names, m_img, m_xml, &c); });
    QSignalSpy finished(&job, &Job::finished);
    job.stop();
    job.start();
    QVERIFY(finished.wait(10000));
    QVERIFY(result->stopped && job.result().stopped);
    QVERIFY(result->missing.isEmpty() && result->orphans.isEmpty());
}

void TestGalleryCheck::recentGalleries()
{
    QSettings settings(m_dir->filePath("recent.ini"), QSettings::IniFormat);
    RecentGalleries recent(&settings);
    QVERIFY(recent.galleries().isEmpty());
    for (int i = 1; i <= 7; ++i)
        recent.add(QStringLiteral("/g/%1").arg(i));
    QCOMPARE(recent.galleries(), (QStringList{"/g/7", "/g/6", "/g/5", "/g/4", "/g/3"}));
    recent.add("/g/4/"); // the same folder moves up, once
    recent.add("");
    QCOMPARE(recent.galleries(), (QStringList{"/g/4", "/g/7", "/g/6", "/g/5", "/g/3"}));
    recent.remove("/g/7");
    QCOMPARE(recent.galleries(), (QStringList{"/g/4", "/g/6", "/g/5", "/g/3"}));
    QCOMPARE(settings.value("RecentGalleries").toStringList(), recent.galleries());
    recent.clear();
    QVERIFY(recent.galleries().isEmpty());
}

QTEST_GUILESS_MAIN(TestGalleryCheck)
#include "tst_gallerycheck.moc"
