#include "mainwindow/FileChecks.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

namespace qm {

namespace {

constexpr qint64 kStandsMs = 4000;

} // namespace

FileChecks::FileChecks(QObject *parent)
    : QObject(parent)
{
    m_pool.setMaxThreadCount(1);
    m_clock.start();
}

FileChecks::~FileChecks()
{
    m_pool.waitForDone();
}

FileChecks::State FileChecks::state(const QString &path)
{
    if (path.isEmpty())
        return State::Missing;
    const auto it = m_known.constFind(path);
    const bool fresh = it != m_known.constEnd() && m_clock.elapsed() - it->at < kStandsMs;
    if (!fresh && !m_asked.contains(path)) {
        m_asked.insert(path);
        m_pending.append(path);
        if (!m_looking)
            QTimer::singleShot(0, this, &FileChecks::look);
        m_looking = true;
    }
    return it == m_known.constEnd() ? State::Unknown : it->state;
}

void FileChecks::look()
{
    QStringList paths;
    paths.swap(m_pending);
    if (paths.isEmpty()) {
        m_looking = false;
        return;
    }
    m_pool.start([this, paths] {
        QList<bool> there;
        there.reserve(paths.size());
        for (const QString &p : paths)
            there << QFileInfo(p).isFile();
        QMetaObject::invokeMethod(this, [this, paths, there] {
            for (qsizetype i = 0; i < paths.size(); ++i) {
                m_known.insert(paths[i], {there[i] ? State::Present : State::Missing, m_clock.elapsed()});
                m_asked.remove(paths[i]);
            }
            emit checked();
            look();
        }, Qt::QueuedConnection);
    });
}

void FileChecks::invalidate(const QStringList &paths)
{
    for (const QString &p : paths)
        m_known.remove(p);
}

void FileChecks::clear()
{
    m_known.clear();
}

bool FileChecks::waitForIdle(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (m_looking) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
    return true;
}

} // namespace qm
