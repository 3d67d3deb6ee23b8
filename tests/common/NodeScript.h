#pragma once

// Runs a script of web/test with Node while this thread's event loop keeps
// turning (the preview server asks it for the gallery's XML): for the
// browser tests and the viewer benchmark.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace testing {

inline bool chromiumInstalled()
{
    return !QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty();
}

// The script's output (stdout and stderr); `ok` tells whether it ended with 0.
inline QString runNodeScript(const QString &script, const QStringList &args, bool *ok = nullptr,
                             int timeoutMs = 600000)
{
    QProcess node;
    node.setWorkingDirectory(QStringLiteral(QM_WEB_SOURCE_DIR));
    node.setProcessChannelMode(QProcess::MergedChannels);
    node.start(QStringLiteral(QM_NODE), QStringList{script} + args);
    const QDeadlineTimer deadline(timeoutMs);
    while (node.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        node.waitForFinished(20);
    }
    if (node.state() != QProcess::NotRunning) {
        node.kill();
        node.waitForFinished();
    }
    if (ok)
        *ok = node.exitStatus() == QProcess::NormalExit && node.exitCode() == 0;
    return QString::fromUtf8(node.readAll());
}

} // namespace testing
