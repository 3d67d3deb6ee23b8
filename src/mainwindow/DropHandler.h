#pragma once

#include <QString>
#include <QStringList>

namespace qm {

class Album;
class Video;

// What a drop of outside files hands over to: the import windows. The
// models decide whether a drop fits; the windows belong to the controller.
class DropHandler
{
public:
    virtual ~DropHandler() = default;
    virtual void importPhotos(const QStringList &files, Album *album) = 0;
    // `addStreamTo` set: the file becomes a further stream of that video.
    virtual void importVideo(const QString &file, Album *album, Video *addStreamTo) = 0;
};

} // namespace qm
