// The web viewer in headless Chromium, served by the preview server, for the
// 1,000-album gallery with one album of 5,000 items: time to the first album
// shown, to the first photo shown and to a video's first frame, beside a
// bare page that only fetches and parses the same XML files.

#include "GalleryBuilder.h"
#include "common/NodeScript.h"
#include "common/TestFiles.h"
#include "common/VideoFixtures.h"
#include "storage/Gallery.h"
#include "web/PreviewServer.h"
#include "web/WebViewer.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

using namespace bench;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::printf("viewer_bench: 1,000 albums, the first of them with 5,000 items, in headless Chromium\n");
    if (!testing::chromiumInstalled()) {
        std::printf("  skipped: chromium is not installed\n");
        return 0;
    }
    if (qm::viewerSourceFolder().isEmpty()) {
        std::printf("  skipped: the viewer is not built\n");
        return 1;
    }
    Folder folder;
    qm::Gallery gallery(folder.prefs);
    Data data;
    buildGallery(data);

    // The first album gets 5,000 items, a video every twentieth as in the rest.
    auto *big = static_cast<Album *>(static_cast<AlbumCollection &>(
        *static_cast<AlbumCollection &>(*data.albums().first()).items().first()).items().first().get());
    big->items().clear();
    for (int i = 0; i < 5000; ++i)
        big->addItem(makeItem(QStringLiteral("big_%1").arg(i), i, 0));
    gallery.adoptTree(data.albums());

    // The files the views show: every small picture and album thumbnail,
    // the first photo's sizes, the first video's streams.
    const QString img = folder.prefs.imgFolder();
    QByteArray small, thumb;
    testing::picture(img + "/small.jpg", {150, 100}, QColor(60, 110, 160));
    testing::picture(img + "/thumb.jpg", {60, 40}, QColor(160, 110, 60));
    small = testing::readBytes(img + "/small.jpg");
    thumb = testing::readBytes(img + "/thumb.jpg");
    for (int i = 0; i < 5000; ++i)
        testing::writeBytes(img + QStringLiteral("/big_%1_%2.jpg").arg(i).arg(i % 20 == 19 ? "vthumb" : "small"), small);
    for (int a = 0; a < kAlbums; ++a)
        testing::writeBytes(img + QStringLiteral("/athumb_%1.jpg").arg(a), thumb);
    testing::picture(img + "/big_0.jpg", {800, 600}, QColor(90, 140, 90));
    testing::picture(img + "/big_0_large.jpg", {1600, 1200}, QColor(90, 140, 90));
    const QStringList seek{"-g", "25", "-flvflags", "add_keyframe_index"};
    if (!testing::makeFLV(img + "/big_19_800.flv", {640, 480}, 800, true, 10.0, seek)
        || !testing::makeFLV(img + "/big_19_400.flv", {320, 240}, 400, true, 10.0, seek)) {
        std::printf("  skipped: ffmpeg could not make the video\n");
        return 1;
    }

    qm::PreviewServer server(qm::galleryXmlSource(gallery));
    QString why;
    if (!server.serve(folder.prefs, qm::viewerSourceFolder(), &why)) {
        std::printf("  the preview server did not start: %s\n", qPrintable(why));
        return 1;
    }
    bool ok = false;
    const QString out = testing::runNodeScript(QStringLiteral("test/viewer.bench.mjs"),
                                               {server.viewerUrl().toString(), big->XMLFile(), QStringLiteral("20")}, &ok);
    std::printf("%s", qPrintable(out));
    return ok ? 0 : 1;
}
