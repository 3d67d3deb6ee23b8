#include "storage/BackgroundTask.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>

#include <memory>

namespace qm {

namespace {

int running = 0;

} // namespace

bool BackgroundTask::isRunning()
{
    return running > 0;
}

void BackgroundTask::run(QWidget *parent, const QString &title, const QString &label, const QString &stoppingLabel,
                         qint64 total, const Work &work)
{
    ++running;
    std::atomic_bool stop{false};
    std::atomic<qint64> done{0};
    // The bar counts in thousandths, so that byte counts fit its int range.
    constexpr int kScale = 1000;
    QProgressDialog progress(label, QProgressDialog::tr("&Stop"), 0, kScale, parent);
    progress.setObjectName(QStringLiteral("backgroundProgress"));
    progress.setWindowTitle(title);
    progress.setWindowModality(Qt::WindowModal);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setMinimumDuration(0);
    QObject::connect(&progress, &QProgressDialog::canceled, &progress, [&] {
        stop = true;
        progress.setLabelText(stoppingLabel);
    });
    std::unique_ptr<QThread> worker(QThread::create([&] { work(stop, done); }));
    QEventLoop loop;
    QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &progress, [&] {
        if (!stop && total > 0)
            progress.setValue(int(kScale * std::min(done.load(), total) / total));
    });
    tick.start(50);
    progress.show();
    worker->start();
    loop.exec();
    worker->wait();
    --running;
}

} // namespace qm
