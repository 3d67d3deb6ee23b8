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

} // namespace qm
