#pragma once

// A gallery folder in a temporary folder, with its settings and document.
// The tree is built in `staged` and handed to the gallery by ready().

#include "common/TestFiles.h"
#include "model/Photo.h"
#include "model/Video.h"
#include "storage/Gallery.h"
#include "storage/Preferences.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

namespace testing {

struct GalleryFixture
{
    QTemporaryDir dir;
    QSettings settings{dir.filePath("prefs.ini"), QSettings::IniFormat};
    qm::Preferences prefs{&settings};
    qm::Data staged;
    qm::Gallery gallery{prefs};
    const qm::Data &data = gallery.data();

    // The folder "g" in the temporary folder, or in `root` (a tiny disk).
    explicit GalleryFixture(const QString &root = QString())
    {
        const QString folder = (root.isEmpty() ? dir.path() : root) + "/g";
        QDir().mkpath(folder + "/img");
        QDir().mkpath(folder + "/xml");
        prefs.setOrvaneFolder(folder);
    }
    std::shared_ptr<qm::Album> album(const QString &title, qm::AlbumCollection *parent = nullptr)
    {
        auto a = std::make_shared<qm::Album>();
        a->setTitle(title);
        a->setXMLFile("album_" + title + ".xml");
        return add(a, parent);
    }
    std::shared_ptr<qm::AlbumCollection> collection(const QString &title, qm::AlbumCollection *parent = nullptr)
    {
        auto c = std::make_shared<qm::AlbumCollection>();
        c->setTitle(title);
        return add(c, parent);
    }
    // A photo with its two files on disk, each holding its own name.
    std::shared_ptr<qm::Photo> photo(qm::Album &album, const QString &title)
    {
        auto p = std::make_shared<qm::Photo>();
        p->setTitle(title);
        p->setImageFile("img_" + title + ".jpg");
        p->setSmallImageFile("img_" + title + "_sm.jpg");
        file(p->imageFile());
        file(p->smallImageFile());
        album.addItem(p);
        return p;
    }
    std::shared_ptr<qm::Video> video(qm::Album &album, const QString &title, const QList<int> &bitrates = {})
    {
        auto v = std::make_shared<qm::Video>();
        v->setTitle(title);
        for (int rate : bitrates) {
            auto s = std::make_shared<qm::VideoStream>();
            s->setBitrate(rate);
            s->setFile(QStringLiteral("vstream_%1.flv").arg(rate));
            file(s->file());
            v->addStream(s);
        }
        album.addItem(v);
        return v;
    }
    // A file in the img folder holding its own name.
    QString file(const QString &name)
    {
        writeBytes(img(name), name.toUtf8());
        return img(name);
    }
    QString img(const QString &name) const { return prefs.imgPath(name); }
    QString xml(const QString &name) const { return prefs.xmlPath(name); }
    QStringList imgFiles() const { return QDir(prefs.imgFolder()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name); }
    void ready() { gallery.adoptTree(staged.albums()); }
    // Until the change under way has done its file work (a deletion always
    // runs as a job); false when it took longer than any should.
    bool settled(int timeoutMs = 60000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (gallery.isBusy() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return !gallery.isBusy();
    }

private:
    template<typename T>
    std::shared_ptr<T> add(const std::shared_ptr<T> &node, qm::AlbumCollection *parent)
    {
        node->setParentCollection(parent);
        (parent ? parent->items() : staged.albums()).append(node);
        return node;
    }
};

// Everything the files would hold: the index and each album's file, in order.
inline QByteArray snapshot(const qm::Data &data)
{
    QByteArray all = qm::serializeIndex(data);
    data.forEachNode([&](const qm::NodePtr &n) {
        if (n->isAlbum())
            all += qm::serializeAlbum(static_cast<const qm::Album &>(*n));
        return true;
    });
    return all;
}

inline qm::Album *albumTitled(const qm::Data &data, const QString &title)
{
    qm::Album *found = nullptr;
    data.forEachNode([&](const qm::NodePtr &n) {
        if (n->isAlbum() && n->title() == title)
            found = static_cast<qm::Album *>(n.get());
        return !found;
    });
    return found;
}

inline QStringList titles(const QList<qm::NodePtr> &nodes)
{
    QStringList t;
    for (const qm::NodePtr &n : nodes)
        t << n->title();
    return t;
}

inline QStringList titles(const qm::Album &album)
{
    QStringList t;
    for (const qm::ItemPtr &i : album.items())
        t << i->title();
    return t;
}

} // namespace testing
