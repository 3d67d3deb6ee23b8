#pragma once

// A volume of its own for the tests: an ext4 image mounted through a loop
// device, where the test may (root, loop devices, mkfs). The desktop gives
// such a volume a trash of its own, unlike a tmpfs.

#include <QDir>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <sys/mount.h>

namespace testing {

class LoopDisk
{
public:
    explicit LoopDisk(qint64 bytes = 16 << 20)
    {
        const QString image = m_dir.filePath("volume.img");
        QDir().mkpath(mountPoint());
        QFile file(image);
        if (!m_dir.isValid() || !file.open(QIODevice::WriteOnly) || !file.resize(bytes))
            return;
        file.close();
        auto run = [](const QString &program, const QStringList &args) {
            QProcess p;
            p.start(program, args);
            return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        };
        m_mounted = run("mkfs.ext4", {"-q", "-F", image}) && run("mount", {"-o", "loop", image, mountPoint()});
    }
    ~LoopDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(mountPoint()).constData(), MNT_DETACH);
    }
    LoopDisk(const LoopDisk &) = delete;
    LoopDisk &operator=(const LoopDisk &) = delete;

    bool ok() const { return m_mounted; }
    QString path() const { return mountPoint(); }

private:
    QString mountPoint() const { return m_dir.filePath("volume"); }

    QTemporaryDir m_dir;
    bool m_mounted = false;
};

} // namespace testing
