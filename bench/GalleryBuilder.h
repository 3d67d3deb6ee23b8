#pragma once

// The generated gallery the benchmarks open: ten years of ten trips of ten
// albums, a hundred items each, every twentieth a video with two streams.

#include "model/Album.h"
#include "model/AlbumCollection.h"
#include "model/Data.h"
#include "model/Photo.h"
#include "model/Video.h"
#include "model/VideoStream.h"
#include "storage/Preferences.h"

#include <QDir>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>

namespace bench {

using namespace qm;

inline constexpr int kAlbums = 1000;
inline constexpr int kItemsPerAlbum = 100;

// An empty gallery folder "g" in a temporary folder, with its settings.
struct Folder
{
    QTemporaryDir dir;
    QSettings settings{dir.filePath("prefs.ini"), QSettings::IniFormat};
    Preferences prefs{&settings};

    Folder()
    {
        QDir(dir.path()).mkpath("g/xml");
        QDir(dir.path()).mkpath("g/img");
        prefs.setOrvaneFolder(dir.filePath("g"));
    }
};

// The i-th item of an album, its files named from `base`: every twentieth
// a video with two streams (base_vthumb.jpg, base_800.flv, base_400.flv),
// the others photos (base.jpg, base_small.jpg, base_large.jpg).
inline ItemPtr makeItem(const QString &base, int i, int albumSerial)
{
    if (i % 20 == 19) {
        auto v = std::make_shared<Video>();
        v->setTitle(QStringLiteral("Clip %1").arg(i));
        v->setThumbFile(base + "_vthumb.jpg");
        for (int rate : {800, 400}) {
            auto st = std::make_shared<VideoStream>();
            st->setBitrate(rate);
            st->setFile(base + QStringLiteral("_%1.flv").arg(rate));
            v->addStream(st);
        }
        return v;
    }
    auto p = std::make_shared<Photo>();
    p->setTitle(QStringLiteral("Photo %1 of album %2").arg(i).arg(albumSerial));
    p->setDate(QStringLiteral("2026-06-%1").arg(1 + i % 28));
    p->setLocation(QStringLiteral("Z\u00fcrich"));
    p->setDescription(QStringLiteral("A short & sweet caption"));
    p->setImageFile(base + ".jpg");
    p->setSmallImageFile(base + "_small.jpg");
    p->setLargeImageFile(base + "_large.jpg");
    return p;
}

inline void buildGallery(Data &data)
{
    int serial = 0;
    // Ten top collections of ten sub-collections, each holding ten albums.
    for (int c = 0; c < 10; ++c) {
        auto top = std::make_shared<AlbumCollection>();
        top->setTitle(QStringLiteral("Year %1").arg(2000 + c));
        for (int s = 0; s < 10; ++s) {
            auto sub = std::make_shared<AlbumCollection>();
            sub->setTitle(QStringLiteral("Trip %1 \u00e9t\u00e9 & friends").arg(s));
            sub->setParentCollection(top.get());
            for (int a = 0; a < kAlbums / 100; ++a) {
                auto album = std::make_shared<Album>();
                album->setTitle(QStringLiteral("Album %1").arg(serial));
                album->setDescription(QStringLiteral("Pictures of day %1 <by the sea>\nwith notes").arg(serial));
                album->setXMLFile(QStringLiteral("album_%1.xml").arg(serial));
                album->setThumbFile(QStringLiteral("athumb_%1.jpg").arg(serial));
                album->setParentCollection(sub.get());
                for (int i = 0; i < kItemsPerAlbum; ++i)
                    album->addItem(makeItem(QStringLiteral("img_%1_%2").arg(serial).arg(i), i, serial));
                sub->addItem(album);
                ++serial;
            }
            top->addItem(sub);
        }
        data.albums().append(top);
    }
}


} // namespace bench
