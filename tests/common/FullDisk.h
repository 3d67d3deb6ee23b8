#pragma once

// Forked children for the tests, full disks (a file-size limit, and a tiny
// tmpfs where the test may mount one).

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>

#include <cerrno>
#include <functional>

#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing {

// Threads do not survive fork(), and one that was ending when the child was
// made may have held a lock of the C library or glib (its thread-local
// clean-up runs after QThread lets it go): the child would wait on that lock
// for ever. So the pools are emptied and their threads waited for until
// they are wholly gone.
inline void settleThreadsBeforeFork()
{
    QThreadPool::globalInstance()->waitForDone();
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 10000) {
        bool pooled = false;
        const QDir tasks(QStringLiteral("/proc/self/task"));
        for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
            if (comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith("Thread (pooled)"))
                pooled = true;
        }
        if (!pooled)
            return;
        QThread::yieldCurrentThread();
    }
}

// What a forked child said on its way out, and how it ended.
struct ChildEnd
{
    QString output;
    int status = 0; // as waitpid() gives it
    bool exitedWith(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
};

// Runs `work` in a forked child, after `setup` there; what it returns comes
// back through a pipe. A child that neither returns nor ends within two
// minutes is killed.
inline ChildEnd inChild(const std::function<QString()> &work, const std::function<void()> &setup = {})
{
    settleThreadsBeforeFork();
    ChildEnd end;
    int fds[2];
    if (::pipe(fds) != 0)
        return {QStringLiteral("no pipe"), -1};
    const pid_t pid = ::fork();
    if (pid < 0)
        return {QStringLiteral("no fork"), -1};
    if (pid == 0) {
        ::close(fds[0]);
        if (setup)
            setup();
        const QByteArray out = work().toUtf8();
        for (qsizetype done = 0; done < out.size();) {
            const ssize_t n = ::write(fds[1], out.constData() + done, size_t(out.size() - done));
            if (n <= 0)
                ::_exit(2);
            done += n;
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    QByteArray out;
    pollfd pfd{fds[0], POLLIN, 0};
    bool ended = false; // the child closed its end, in _exit or when it died
    while (::poll(&pfd, 1, 120000) > 0) {
        char buffer[4096];
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ended = true;
            break;
        }
        out.append(buffer, n);
    }
    ::close(fds[0]);
    // A child that closed its pipe may not be reapable yet; wait for it rather
    // than killing one that finished. Only a silent child is taken as hung.
    if (!ended)
        ::kill(pid, SIGKILL);
    while (::waitpid(pid, &end.status, 0) < 0 && errno == EINTR) {
    }
    end.output = QString::fromUtf8(out);
    return end;
}

// A forked child that runs `start` and then stays until told to go (it
// runs `stop` then, as a quit would) or killed: another copy of the
// program, say.
class ChildStaying
{
public:
    explicit ChildStaying(const std::function<bool()> &start, const std::function<void()> &stop = {})
    {
        settleThreadsBeforeFork();
        int ready[2], go[2];
        if (::pipe(ready) != 0 || ::pipe(go) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            const char said = start() ? 'y' : 'n';
            [[maybe_unused]] const auto w = ::write(ready[1], &said, 1);
            char c;
            if (::read(go[0], &c, 1) == 1 && stop)
                stop();
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(go[0]);
        m_go = go[1];
        char said = 0;
        m_started = ::read(ready[0], &said, 1) == 1 && said == 'y';
        ::close(ready[0]);
    }
    ~ChildStaying() { quit(); }
    ChildStaying(const ChildStaying &) = delete;
    ChildStaying &operator=(const ChildStaying &) = delete;

    // Whether `start` said yes.
    bool started() const { return m_started; }
    qint64 pid() const { return m_pid; }
    void quit() { end(false); }
    void kill() { end(true); }

private:
    void end(bool kill)
    {
        if (m_go < 0)
            return;
        if (kill)
            ::kill(pid_t(m_pid), SIGKILL);
        else
            [[maybe_unused]] const auto w = ::write(m_go, "g", 1);
        ::close(m_go);
        m_go = -1;
        int status = 0;
        while (::waitpid(pid_t(m_pid), &status, 0) < 0 && errno == EINTR) {
        }
    }
    qint64 m_pid = -1;
    int m_go = -1;
    bool m_started = false;
};

// Runs `work` while no file may grow past `limit` bytes. SIGXFSZ is
// ignored, so a write past the limit fails with EFBIG ("File too large") the
// way one on a full disk fails with ENOSPC. In this process, not a forked
// child: a child of a process with threads can hang on a lock one of them held.
inline QString withFileSizeLimit(qint64 limit, const std::function<QString()> &work)
{
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    const auto handler = ::signal(SIGXFSZ, SIG_IGN);
    const rlimit rl{rlim_t(limit), before.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &rl);
    QString out = work();
    ::setrlimit(RLIMIT_FSIZE, &before);
    ::signal(SIGXFSZ, handler);
    return out;
}

// A tmpfs of `bytes` mounted on a fresh folder, for as long as this lives.
// Mounting needs root; ok() is false where the test may not mount.
class TinyDisk
{
public:
    explicit TinyDisk(qint64 bytes)
    {
        const QByteArray where = QFile::encodeName(m_dir.path());
        const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0755";
        m_mounted = m_dir.isValid() && ::mount("tmpfs", where.constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~TinyDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    TinyDisk(const TinyDisk &) = delete;
    TinyDisk &operator=(const TinyDisk &) = delete;

    bool ok() const { return m_mounted; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

    // Takes up what is left, so that the next block written fails.
    void fill() const
    {
        QFile filler(filePath(QStringLiteral(".filler")));
        if (!filler.open(QIODevice::Append))
            return;
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        // Whatever fits of a smaller piece, too.
        while (filler.write("f", 1) == 1 && filler.flush()) {
        }
    }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
};

} // namespace testing
