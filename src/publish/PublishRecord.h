#pragma once

#include "storage/FileWriter.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

namespace qm {

// What the last publish to one destination put there, kept in the
// gallery's state folder: a second publish sends only new and changed
// files and finds the ones to remove without listing the server.
struct PublishRecord
{
    struct File
    {
        qint64 size = 0;
        qint64 localMtime = 0;  // nanoseconds, as the gallery's copy had it when sent
        qint64 remoteMtime = 0; // seconds, as the copy on the destination has it
        QByteArray hash;        // of the bytes sent; empty when only the server was compared
    };
    QString publishId;          // the last publish that ended; also left on the destination
    QHash<QString, File> files; // by name relative to the destination ("img/a.jpg")

    // A missing file is an empty record; an unreadable one too, with the reason.
    static PublishRecord load(const QString &path, QString *error);
    WriteResult save(const QString &path) const;

    // Beside the record: the files a publish is sending, written before it
    // sends and removed when it has ended, so that the next one can take
    // away what a killed one left half-sent.
    static QString unfinishedPath(const QString &recordPath);
    static QStringList loadUnfinished(const QString &recordPath);
    static WriteResult saveUnfinished(const QString &recordPath, const QStringList &names);
};

// The names a saved gallery gives its files, as read from its index and
// album files, kept with the size and time each of those had when read:
// while none of them changed, a publish need not read the whole gallery
// again to know what it names. Only a cache: anything amiss and it is not used.
struct PublishedNames
{
    struct Source
    {
        qint64 size = 0;
        qint64 mtimeNs = 0;
    };
    QStringList names;            // relative to the gallery ("img/a.jpg"), in the gallery's order
    QHash<QString, Source> sources; // the xml files among them

    static QString path(const QString &galleryFolder);
    // Empty when missing or not whole.
    static PublishedNames load(const QString &path);
    WriteResult save(const QString &path) const;
};

} // namespace qm
