#pragma once

#include "storage/GalleryFile.h"

#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class QThread;

namespace qm {

class Job;

// What the work of a job sees, on its own thread.
class JobControl
{
public:
    bool stopRequested() const;
    void setTotal(qint64 total);
    void advance(qint64 steps = 1);
    // Sets the count outright; a lower one than before (from a slower thread) is ignored.
    void setDone(qint64 done);
    void setLabel(const QString &text);
    void addProblem(const FileProblem &problem);
    // Runs `call` on the GUI thread, in the order posted and before the
    // job's finished(): how a job hands results to the gallery as it goes.
    void post(std::function<void()> call);

    // Each step of every job takes at least this long: tests that stop a job
    // part way are then not outrun by a fast disk.
    static void setStepDelayForTesting(int microseconds);

private:
    friend class Job;
    explicit JobControl(Job *job) : m_job(job) {}
    Job *m_job;
};

struct JobResult
{
    bool stopped = false; // the work saw Stop and ended early
    QList<FileProblem> problems;
    bool ok() const { return !stopped && problems.isEmpty(); }
};

// Long work off the GUI thread: start, progress, Stop, one result. The work
// is a function run once on a thread of its own; it reads stopRequested()
// between steps and leaves nothing half-done when it returns early. The job
// lives on the GUI thread and reports there.
class Job : public QObject
{
    Q_OBJECT
public:
    using Work = std::function<void(JobControl &)>;

    Job(QString title, Work work, QObject *parent = nullptr);
    ~Job() override; // stops and waits

    const QString &title() const { return m_title; }
    void start();
    // Asks the work to end at its next check.
    void stop();
    // Blocks until the work has returned and every posted call has run,
    // then finishes: for quitting in the middle.
    void waitForFinished();

    bool isRunning() const { return m_thread && !m_finished; }
    bool isStopping() const { return m_stop; }
    bool isFinished() const { return m_finished; }
    qint64 done() const { return m_done; }
    qint64 total() const { return m_total; }
    QString label() const;
    // Valid once finished() was sent.
    const JobResult &result() const { return m_result; }

signals:
    void progressChanged();
    void finished();

private:
    friend class JobControl;
    void workReturned();
    void reportProgress(bool force);

    QString m_title;
    Work m_work;
    QThread *m_thread = nullptr;
    std::atomic_bool m_stop{false};
    std::atomic_bool m_sawStop{false}; // the work noticed, and ended early
    std::atomic<qint64> m_done{0};
    std::atomic<qint64> m_total{0};
    std::atomic<qint64> m_lastReport{0};
    mutable std::mutex m_mutex; // label and problems
    QString m_label;
    JobResult m_result;
    bool m_finished = false;
};

} // namespace qm
