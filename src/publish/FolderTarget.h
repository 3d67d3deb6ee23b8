#pragma once

#include "publish/PublishTarget.h"

namespace qm {

// A folder on this computer or a mounted share. Every file is written by
// FileWriter: a temporary file beside its place, renamed into place.
class FolderTarget : public PublishTarget
{
public:
    explicit FolderTarget(QString folder);

    QString connect(PublishPrompts *prompts) override;
    QString makeFolders(const QStringList &folders) override;
    QString send(const QList<Upload> &files, const TransferHooks &hooks) override;
    QString remove(const QStringList &names, const std::function<void(int, const QString &)> &done) override;
    QString removeTemporaries(const QStringList &names) override;
    QString list(const QString &folder, QHash<QString, RemoteFile> &out) override;
    QString stat(const QString &name, std::optional<RemoteFile> &out) override;
    QString read(const QString &name, QByteArray &out) override;
    QString write(const QString &name, const QByteArray &bytes) override;

private:
    QString pathOf(const QString &name) const;
    QString sendOne(const Upload &upload, const TransferHooks &hooks, QByteArray &hash);

    QString m_folder;
};

} // namespace qm
