#pragma once

#include "publish/Destination.h"
#include "publish/PublishTarget.h"
#include "storage/GalleryFile.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

namespace qm {

class JobControl;

struct PublishOptions
{
    bool dryRun = false;      // only list what would change
    bool checkServer = false; // compare every file with the server, whatever the record says
    QString sshDir;           // known hosts and keys; ~/.ssh when empty
};

// What a publish did, or in a dry run would do.
struct PublishReport
{
    QStringList sent;          // names relative to the destination
    QStringList removed;
    QList<FileProblem> refused; // files not published or not removed, and why
    QString failure;           // what ended the publish early; empty when it ran to its end
    qint64 bytes = 0;
    int unchanged = 0;
    bool dryRun = false;
    bool stopped = false;
    bool comparedServer = false; // the server's folders were listed
    bool ok() const { return failure.isEmpty() && refused.isEmpty() && !stopped; }
};

// Publishes the gallery as saved on disk to one destination, in the order
// that never shows a visitor an index naming a file the destination lacks:
// pictures, videos and the viewer first, then album files, then
// albums.xml, and only then removals. Each file arrives under a temporary
// name and is renamed into place. A publish that did not end is finished by
// the next one. Runs on a job's thread.
class Publisher
{
public:
    Publisher(QString galleryFolder, Destination destination, PublishOptions options = {});

    PublishReport run(JobControl *control, PublishPrompts *prompts);

    // The file on the destination that names the last publish.
    static QString markerName();
    // The record of what was published there, in the gallery's state folder.
    static QString recordPath(const QString &galleryFolder, const Destination &destination);
    static std::unique_ptr<PublishTarget> targetFor(const Destination &destination, const QString &sshDir);

private:
    QString m_gallery;
    Destination m_destination;
    PublishOptions m_options;
};

} // namespace qm
