#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace qm {

// What the user is asked while connecting; answered on the GUI thread in
// the application, by a script in tests. Both may be asked from the job's
// thread and must return when the job is stopped.
class PublishPrompts
{
public:
    struct HostKey
    {
        QString host;        // "host" or "[host]:port"
        QString type;        // "ssh-ed25519"
        QString fingerprint; // "SHA256:..."
    };
    virtual ~PublishPrompts() = default;
    // A server never met: true trusts its key from now on.
    virtual bool acceptHostKey(const HostKey &key) = 0;
    // A password or a key's passphrase; nothing when the user declined.
    virtual std::optional<QString> secret(const QString &question) = 0;
};

// A file as the destination has it.
struct RemoteFile
{
    qint64 size = -1;
    qint64 mtime = 0; // seconds since the epoch
    bool folder = false;
};

// One file to put in place. Names are relative to the destination's
// folder ("img/a.jpg"), with "/" between parts.
struct Upload
{
    QString name;
    QString localPath; // read from here, as a plain file only,
    QByteArray bytes;  // or, when localPath is empty, these bytes
    qint64 size = 0;
    qint64 mtime = 0; // seconds since the epoch, given to the copy
};

// What the sending side of a target reports, on the job's thread.
struct TransferHooks
{
    std::function<bool()> stopRequested;
    std::function<void(qint64 bytes)> sentBytes;
    // Once per file: an empty reason when it is in place; the hash of what was sent.
    std::function<void(int index, const QString &reason, const QByteArray &hash)> done;
};

// The far side of a publish. Every file arrives under a temporary name
// beside its place and is renamed into place, so that nothing incomplete
// ever carries a real name. Calls return a reason only for a failure that
// ends the publish (a lost connection); failures of single files go to
// `done`.
class PublishTarget
{
public:
    virtual ~PublishTarget() = default;

    virtual QString connect(PublishPrompts *prompts) = 0;
    // Makes the destination and these folders in it, parents first; folders that exist are fine.
    virtual QString makeFolders(const QStringList &folders) = 0;
    virtual QString send(const QList<Upload> &files, const TransferHooks &hooks) = 0;
    // A name already gone counts as removed.
    virtual QString remove(const QStringList &names, const std::function<void(int index, const QString &reason)> &done) = 0;
    // Leftovers of a publish that did not end: the temporary files of these names.
    virtual QString removeTemporaries(const QStringList &names) = 0;
    // Every file below `folder`, by name relative to the destination; an absent folder is empty.
    virtual QString list(const QString &folder, QHash<QString, RemoteFile> &out) = 0;
    // Nothing when the file is not there.
    virtual QString stat(const QString &name, std::optional<RemoteFile> &out) = 0;
    // A small file whole; a null array when it is not there.
    virtual QString read(const QString &name, QByteArray &out) = 0;
    virtual QString write(const QString &name, const QByteArray &bytes) = 0;

    // A wait before each file, one file at a time: tests stop or cut a publish in the middle.
    static void setSendDelayForTesting(int millisecondsPerFile);
    static int sendDelayForTesting();
};

} // namespace qm
