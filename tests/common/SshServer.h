#pragma once

// A throw-away OpenSSH server on 127.0.0.1 at a free port: its own host
// key, a user key, a config and a folder to publish into, all in a
// temporary folder, stopped when it goes. It logs in the user running the
// tests (root logs in as root).

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>

#include <csignal>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testing {

class SshServer
{
public:
    SshServer()
    {
        QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                                | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
        QDir(m_dir.path()).mkpath("client");
        QDir(m_dir.path()).mkpath("remote");
    }
    ~SshServer() { stop(); }

    // Empty when running, else why sshd could not be started.
    QString start()
    {
        const QString sshd = QStandardPaths::findExecutable("sshd", {"/usr/sbin", "/usr/bin"});
        const QString keygen = QStandardPaths::findExecutable("ssh-keygen");
        if (sshd.isEmpty() || keygen.isEmpty())
            return "sshd or ssh-keygen is not installed";
        for (const char *key : {"userkey", "hostkey"}) {
            if (!QFile::exists(path(key)) && !makeKey(keygen, path(key)))
                return "ssh-keygen failed";
        }
        QFile::remove(path("authorized_keys"));
        QFile::copy(path("userkey.pub"), path("authorized_keys"));
        QFile::setPermissions(path("authorized_keys"), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::ReadGroup);
        if (::geteuid() == 0)
            QDir().mkpath("/run/sshd"); // its privilege separation needs it
        if (m_port == 0)
            m_port = freePort();
        QFile config(path("sshd_config"));
        if (!config.open(QIODevice::WriteOnly))
            return "the config could not be written";
        config.write(QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2\nAuthorizedKeysFile %3\nPidFile %4\n"
                                    "UsePAM no\nStrictModes no\nPermitRootLogin yes\nPasswordAuthentication no\n"
                                    "KbdInteractiveAuthentication no\nSubsystem sftp internal-sftp\n"
                                    "Match User nobody\n  ForceCommand internal-sftp\n")
                         .arg(m_port)
                         .arg(path("hostkey"), path("authorized_keys"), path("sshd.pid"))
                         .toUtf8());
        config.close();
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(sshd, {"-D", "-e", "-f", path("sshd_config")});
        QByteArray log;
        // Listening is what it says once it can take connections.
        while (!log.contains("Server listening")) {
            if (!m_process.waitForReadyRead(60000))
                return "sshd did not start: " + QString::fromUtf8(log + m_process.readAll()).trimmed();
            log += m_process.readAll();
        }
        return QString();
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(30000))
            m_process.kill();
        m_process.waitForFinished();
    }

    // The same port with a new host key: what a man in the middle would show.
    QString restartWithNewHostKey()
    {
        stop();
        QFile::remove(path("hostkey"));
        QFile::remove(path("hostkey.pub"));
        return start();
    }

    // Cuts every connection: kills the processes the server started for them.
    int killSessions()
    {
        return killChildren(m_process.processId());
    }

    int port() const { return m_port; }
    QString user() const
    {
        const passwd *pw = ::getpwuid(::geteuid());
        return pw ? QString::fromLocal8Bit(pw->pw_name) : QString();
    }
    QString userKey() const { return path("userkey"); }
    // The client's ~/.ssh: known_hosts lives here.
    QString clientDir() const { return path("client"); }
    QString remote() const { return path("remote"); }
    QString path(const QString &name) const { return m_dir.filePath(name); }

private:
    static bool makeKey(const QString &keygen, const QString &file)
    {
        QProcess p;
        p.start(keygen, {"-q", "-t", "ed25519", "-N", "", "-f", file});
        return p.waitForFinished(60000) && p.exitCode() == 0;
    }

    static int freePort()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &n);
        ::close(fd);
        return ntohs(a.sin_port);
    }

    static int killChildren(qint64 parent)
    {
        int killed = 0;
        for (const QString &entry : QDir("/proc").entryList(QDir::Dirs)) {
            bool number = false;
            const qint64 pid = entry.toLongLong(&number);
            if (!number)
                continue;
            QFile stat("/proc/" + entry + "/stat");
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            const QByteArray text = stat.readAll();
            const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
            if (fields.size() > 1 && fields[1].toLongLong() == parent) {
                killed += 1 + killChildren(pid);
                ::kill(pid_t(pid), SIGKILL);
            }
        }
        return killed;
    }

    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
};

} // namespace testing
