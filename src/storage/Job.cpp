#include "storage/Job.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QThread>

#include <atomic>

namespace qm {

namespace {

// Progress reaches the GUI at most this often: enough for a smooth bar,
// few enough events for a run of 100,000 small steps.
constexpr qint64 kReportEveryMs = 40;

std::atomic_int stepDelay{0};

} // namespace

bool JobControl::stopRequested() const
{
    if (!m_job->m_stop)
        return false;
    m_job->m_sawStop = true;
    return true;
}

void JobControl::setTotal(qint64 total)
{
    m_job->m_total = total;
    m_job->reportProgress(true);
}

void JobControl::setStepDelayForTesting(int microseconds)
{
    stepDelay = microseconds;
}

void JobControl::advance(qint64 steps)
{
    if (const int delay = stepDelay.load())
        QThread::usleep(ulong(delay));
    m_job->m_done += steps;
    m_job->reportProgress(false);
}

void JobControl::setDone(qint64 done)
{
    qint64 now = m_job->m_done;
    while (done > now && !m_job->m_done.compare_exchange_weak(now, done)) {
    }
    m_job->reportProgress(false);
}

void JobControl::setLabel(const QString &text)
{
    {
        std::lock_guard lock(m_job->m_mutex);
        m_job->m_label = text;
    }
    m_job->reportProgress(true);
}

void JobControl::addProblem(const FileProblem &problem)
{
    std::lock_guard lock(m_job->m_mutex);
    m_job->m_result.problems.append(problem);
}

void JobControl::post(std::function<void()> call)
{
    QMetaObject::invokeMethod(m_job, std::move(call), Qt::QueuedConnection);
}

Job::Job(QString title, Work work, QObject *parent)
    : QObject(parent)
    , m_title(std::move(title))
    , m_work(std::move(work))
{
}

Job::~Job()
{
    if (m_thread) {
        m_stop = true;
        m_thread->wait();
        delete m_thread;
    }
}

QString Job::label() const
{
    std::lock_guard lock(m_mutex);
    return m_label;
}

void Job::start()
{
    if (m_thread)
        return;
    m_thread = QThread::create([this] {
        JobControl control(this);
        m_work(control);
    });
    m_thread->setObjectName(m_title);
    // Queued behind every call the work posted from its thread.
    connect(m_thread, &QThread::finished, this, &Job::workReturned, Qt::QueuedConnection);
    m_thread->start();
}

void Job::stop()
{
    if (m_finished || m_stop)
        return;
    m_stop = true;
    emit progressChanged();
}

void Job::waitForFinished()
{
    if (!m_thread || m_finished)
        return;
    m_thread->wait();
    // Delivers what the work posted, then workReturned itself.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    workReturned();
}

void Job::reportProgress(bool force)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    qint64 last = m_lastReport;
    if (!force && now - last < kReportEveryMs)
        return;
    if (!m_lastReport.compare_exchange_strong(last, now) && !force)
        return;
    QMetaObject::invokeMethod(this, &Job::progressChanged, Qt::QueuedConnection);
}

void Job::workReturned()
{
    if (m_finished)
        return;
    m_thread->wait();
    m_finished = true;
    {
        std::lock_guard lock(m_mutex);
        m_result.stopped = m_sawStop;
    }
    emit progressChanged();
    emit finished();
}

} // namespace qm
