// Loads and saves a large generated gallery and compares with the floor:
// a bare XML read pass and a bare write of the same bytes. Then deletes an
// album of 5,000 photos with real files, as the trash well does.

#include "model/Album.h"
#include "model/AlbumCollection.h"
#include "model/Data.h"
#include "model/Photo.h"
#include "model/Video.h"
#include "model/VideoStream.h"
#include "storage/GalleryFile.h"
#include "storage/GalleryTrash.h"
#include "storage/Preferences.h"

#include "GalleryBuilder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QXmlStreamReader>
#include <QtConcurrent/QtConcurrentMap>

#include <cstdio>
#include <numeric>

using namespace qm;
using namespace bench;

namespace {

double msSince(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    bench::Folder folder;
    QTemporaryDir &dir = folder.dir;
    Preferences &prefs = folder.prefs;

    Data data;
    buildGallery(data);
    GalleryFile files(prefs);
    files.saveData(data); // warm the folder

    // Every file changes: all are written, in one step.
    data.forEachNode([](const NodePtr &n) {
        if (n->isAlbum() && !static_cast<Album &>(*n).items().isEmpty())
            static_cast<Album &>(*n).items().first()->setTitle(QStringLiteral("changed"));
        n->setTitle(n->title() + QStringLiteral(" (changed)"));
        return true;
    });
    QElapsedTimer t;
    t.start();
    const SaveReport saved = files.saveData(data);
    const double saveMs = msSince(t);
    if (!saved.ok() || saved.written.size() != kAlbums + 1) {
        std::fprintf(stderr, "save failed\n");
        return 1;
    }
    // Nothing changed: nothing is written, but every album's text is made and compared.
    t.restart();
    const SaveReport unchanged = files.saveData(data);
    const double unchangedMs = msSince(t);
    if (!unchanged.ok() || !unchanged.written.isEmpty())
        return 1;

    Data loaded;
    t.restart();
    const LoadReport report = files.loadData(loaded);
    const double loadMs = msSince(t);
    if (!report.ok()) {
        std::fprintf(stderr, "load failed\n");
        return 1;
    }

    // The floor: every file read through a bare reader pass ...
    QStringList paths{prefs.albumsXMLFile()};
    for (int i = 0; i < kAlbums; ++i)
        paths << prefs.xmlPath(QStringLiteral("album_%1.xml").arg(i));
    t.restart();
    qint64 tokens = 0;
    for (const QString &path : paths) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return 1;
        QXmlStreamReader r(&f);
        while (!r.atEnd()) {
            r.readNext();
            if (r.isCharacters())
                tokens += r.text().size();
        }
    }
    const double floorLoadMs = msSince(t);
    // ... and the same pass on every core, as loadData reads album files.
    t.restart();
    const QList<qint64> counts = QtConcurrent::blockingMapped(paths, [](const QString &path) {
        qint64 n = 0;
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return n;
        QXmlStreamReader r(&f);
        while (!r.atEnd()) {
            r.readNext();
            if (r.isCharacters())
                n += r.text().size();
        }
        return n;
    });
    const double floorParallelLoadMs = msSince(t);
    if (std::accumulate(counts.begin(), counts.end(), qint64(0)) != tokens)
        return 1;

    // ... and the same bytes written back the same safe way.
    QList<QByteArray> contents;
    qint64 bytes = 0;
    for (const QString &path : paths) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return 1;
        contents << f.readAll();
        bytes += contents.last().size();
    }
    t.restart();
    for (qsizetype i = 0; i < paths.size(); ++i) {
        QSaveFile f(paths[i]);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write(contents[i]);
        if (!f.commit())
            return 1;
    }
    const double floorSaveMs = msSince(t);

    // Deleting a big album from the loaded gallery: every file goes to the
    // trash (a private one under the temporary folder) after the in-use scan.
    qputenv("XDG_DATA_HOME", dir.filePath("share").toUtf8());
    QDir(dir.path()).mkpath("share");
    constexpr int kBigAlbum = 5000;
    auto big = std::make_shared<Album>();
    big->setTitle(QStringLiteral("Everything"));
    big->setXMLFile(QStringLiteral("album_big.xml"));
    int bigFiles = 0;
    auto touch = [&](const QString &name) {
        QFile f(prefs.imgPath(name));
        bigFiles += f.open(QIODevice::WriteOnly) ? 1 : 0;
    };
    for (int i = 0; i < kBigAlbum; ++i) {
        auto p = std::make_shared<Photo>();
        const QString base = QStringLiteral("big_%1").arg(i);
        p->setImageFile(base + ".jpg");
        p->setSmallImageFile(base + "_sm.jpg");
        p->setLargeImageFile(base + "_lg.jpg");
        for (const QString &n : {p->imageFile(), p->smallImageFile(), p->largeImageFile()})
            touch(n);
        big->addItem(p);
    }
    QFile(prefs.xmlPath(big->XMLFile())).open(QIODevice::WriteOnly);
    loaded.albums().append(big);
    t.restart();
    const DeletePlan plan = GalleryTrash(loaded, prefs).planNode(*big);
    TrashedFiles deleted;
    QList<FileProblem> problems;
    deleted.trash(plan.paths, Removal::Trash, nullptr, problems);
    const double deleteMs = msSince(t);
    if (!problems.isEmpty() || deleted.count() != bigFiles + 1) {
        std::fprintf(stderr, "delete failed: %d moved, %d failed\n", deleted.count(), int(problems.size()));
        return 1;
    }

    std::printf("gallery: %d albums, %d items, %d files, %.1f MB (%lld text chars)\n", kAlbums,
                kAlbums * kItemsPerAlbum, int(paths.size()), double(bytes) / 1e6, (long long)tokens);
    std::printf("loadData:          %8.1f ms\n", loadMs);
    std::printf("bare reader pass:  %8.1f ms (on %d cores: %.1f ms)\n", floorLoadMs, QThread::idealThreadCount(),
                floorParallelLoadMs);
    std::printf("saveData:          %8.1f ms (every file changed)\n", saveMs);
    std::printf("  nothing changed: %8.1f ms (nothing written)\n", unchangedMs);
    std::printf("bare write:        %8.1f ms\n", floorSaveMs);
    std::printf("load / floor:      %8.2f (%.2f against the pass on every core)\n", loadMs / floorLoadMs,
                loadMs / floorParallelLoadMs);
    std::printf("save / floor:      %8.2f\n", saveMs / floorSaveMs);
    std::printf("delete album of %d photos (%d files, %s): %.1f ms\n", kBigAlbum, bigFiles + 1,
                deleted.removedForGood() ? "removed" : "to the trash", deleteMs);
    return 0;
}
