#pragma once

#include <QString>

#include <atomic>
#include <functional>

class QWidget;

namespace qm {

// Runs work that only touches the disk on a worker thread, behind a
// window-modal progress dialog with a Stop button, and waits for it while
// the window keeps painting. The work reads `stop` between steps and counts
// its progress in `done` (out of `total`).
class BackgroundTask
{
public:
    using Work = std::function<void(const std::atomic_bool &stop, std::atomic<qint64> &done)>;

    static void run(QWidget *parent, const QString &title, const QString &label, const QString &stoppingLabel,
                    qint64 total, const Work &work);

    // True while a task runs: quitting then would pull the gallery from
    // under the worker.
    static bool isRunning();
};

} // namespace qm
