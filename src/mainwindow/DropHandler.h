#pragma once

#include <QDropEvent>
#include <QModelIndex>
#include <QString>
#include <QStringList>

class QMimeData;

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

// What a drop at a view position would do, as the model decides it: the
// action the view reports back to the drag's source. Files from another
// program are always copied, whatever the source proposes.
class DropDecision
{
public:
    virtual ~DropDecision() = default;
    virtual Qt::DropAction dropAction(const QMimeData *mime, int row, const QModelIndex &parent) const = 0;
};

// Whether the model's decision is one the drag's source allows.
inline bool dropAllowed(const QDropEvent *event, Qt::DropAction decided)
{
    return decided != Qt::IgnoreAction && (event->possibleActions() & decided);
}

} // namespace qm
