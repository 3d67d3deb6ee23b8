#pragma once

// Runs the real application binary on an X server of its own (Xvfb) with a
// fresh home folder, and drives it with the keyboard and mouse as a person
// would (xdotool). Every step names itself, so a failure says where it was.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <csignal>

namespace journey {

class XServer
{
public:
    bool start()
    {
        // Xvfb takes a free display itself and says which: two tests starting
        // at once never share one (and lose it when the other ends). Without
        // -noreset it starts afresh whenever its last client (each xdotool
        // call) leaves, and a program connecting meanwhile is turned away.
        m_process.start(QStringLiteral("Xvfb"),
                        {"-displayfd", "1", "-noreset", "-screen", "0", "1280x900x24", "-nolisten", "tcp"});
        if (!m_process.waitForStarted(5000))
            return false;
        QByteArray said;
        while (!said.contains('\n') && m_process.state() == QProcess::Running && m_process.waitForReadyRead(60000))
            said += m_process.readAllStandardOutput();
        bool ok = false;
        const int n = said.trimmed().toInt(&ok);
        if (!ok) {
            m_process.kill();
            m_process.waitForFinished();
            return false;
        }
        m_display = QStringLiteral(":%1").arg(n);
        return true;
    }
    ~XServer()
    {
        m_process.terminate();
        m_process.waitForFinished(3000);
    }
    const QString &display() const { return m_display; }

private:
    QProcess m_process;
    QString m_display;
};

class App
{
public:
    App(const QString &binary, const QString &display, const QString &home)
        : m_binary(binary), m_display(display), m_home(home)
    {
    }
    ~App()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", m_display);
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("HOME", m_home);
        env.insert("XDG_CONFIG_HOME", m_home + "/.config");
        env.insert("XDG_DATA_HOME", m_home + "/.local/share");
        env.insert("XDG_CACHE_HOME", m_home + "/.cache");
        env.insert("XDG_RUNTIME_DIR", m_home + "/.run");
        env.remove("SESSION_MANAGER");
        // On a real X server the GL driver is loaded and unloaded behind Qt's back, and its
        // allocations are reported from an unloaded module that no suppression can name.
        // Memory errors still abort the app; leaks are checked by the in-process tests.
        if (env.contains("ASAN_OPTIONS"))
            env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
        return env;
    }

    bool start()
    {
        QDir().mkpath(m_home + "/.run");
        QFile::setPermissions(m_home + "/.run", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        m_process.setProcessEnvironment(environment());
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(m_binary, {});
        return m_process.waitForStarted(10000);
    }

    // xdotool with the app's display; returns its output.
    QString tool(const QStringList &args, bool *ok = nullptr) const
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", m_display);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("xdotool"), args);
        const bool done = p.waitForFinished(20000) && p.exitCode() == 0;
        if (ok)
            *ok = done;
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }

    // The id of the last visible window whose title matches, waiting for one
    // (minutes: a sanitizer build starting on a machine with both cores busy
    // is slow; a window that is there ends the wait at once).
    QString window(const QString &title, int timeoutMs = 240000) const { return wait(title, true, timeoutMs); }
    bool gone(const QString &title, int timeoutMs = 120000) const { return wait(title, false, timeoutMs) == "gone"; }
    // Presses `keys` in the window `id` until the window titled `until` is
    // shown (or, with `shown` false, is gone): for windows that take the key
    // only once they are ready (a movie read, a frame captured).
    bool pressUntil(const QString &id, const QString &keys, const QString &until, bool shown = true,
                    int timeoutMs = 240000) const
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            focus(id);
            key(keys);
            const QString seen = wait(until, shown, 3000);
            if (shown ? !seen.isEmpty() : seen == QStringLiteral("gone"))
                return true;
        }
        return false;
    }
    QString wait(const QString &title, bool shown, int timeoutMs) const
    {
        QString seen;
        static_cast<void>(QTest::qWaitFor([&] {
            const QString ids = tool({"search", "--onlyvisible", "--name", title});
            if (shown && !ids.isEmpty())
                seen = ids.split('\n').last();
            else if (!shown && ids.isEmpty())
                seen = QStringLiteral("gone");
            return !seen.isEmpty();
        }, timeoutMs));
        return seen;
    }

    // Picks files in the chooser titled `chooser` as a user types them: the
    // path (a folder when `names` are given, else the file), then the names
    // quoted. Returns the window titled `next` that opens then; `failed`
    // says which of the two did not appear.
    QString choose(const QString &chooser, const QString &path, const QStringList &names, const QString &next,
                   QString *failed) const
    {
        const QString id = window(chooser);
        if (id.isEmpty()) {
            *failed = QStringLiteral("the chooser \"%1\" does not open").arg(chooser);
            return {};
        }
        focus(id);
        type(path);
        key("Return");
        if (!names.isEmpty()) {
            QStringList quoted;
            for (const QString &n : names)
                quoted << '"' + n + '"';
            type(quoted.join(' '));
            key("Return");
        }
        const QString result = window(next);
        if (result.isEmpty())
            *failed = QStringLiteral("the window \"%1\" does not open").arg(next);
        return result;
    }
    void focus(const QString &id) const
    {
        tool({"windowfocus", "--sync", id});
        QThread::msleep(150);
    }
    void key(const QString &keys) const
    {
        tool({"key", "--delay", "60", keys});
        QThread::msleep(200);
    }
    void type(const QString &text) const
    {
        tool({"type", "--delay", "8", text});
        QThread::msleep(150);
    }
    // A click or a drag at window-relative positions.
    void click(const QString &window, QPoint at, int clicks = 1) const
    {
        tool({"mousemove", "--window", window, QString::number(at.x()), QString::number(at.y())});
        QThread::msleep(100);
        tool({"click", "--repeat", QString::number(clicks), "1"});
        QThread::msleep(250);
    }
    void drag(const QString &window, QPoint from, QPoint to) const
    {
        tool({"mousemove", "--window", window, QString::number(from.x()), QString::number(from.y())});
        QThread::msleep(150);
        tool({"mousedown", "1"});
        QThread::msleep(150);
        // In steps, so that the drag starts and the target hears it move.
        for (int i = 1; i <= 12; ++i) {
            const QPoint p = from + (to - from) * i / 12;
            tool({"mousemove", "--window", window, QString::number(p.x()), QString::number(p.y())});
            QThread::msleep(60);
        }
        QThread::msleep(300);
        tool({"mouseup", "1"});
        QThread::msleep(500);
    }

    bool waitForExit(int timeoutMs = 20000)
    {
        return m_process.waitForFinished(timeoutMs);
    }
    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    void kill()
    {
        ::kill(pid_t(m_process.processId()), SIGKILL);
        m_process.waitForFinished(10000);
    }
    QString output() { return QString::fromUtf8(m_process.readAll()); }

private:
    QString m_binary;
    QString m_display;
    QString m_home;
    QProcess m_process;
};

} // namespace journey
