#pragma once

// Small file helpers shared by the tests.

#include <QColor>
#include <QFile>
#include <QImage>
#include <QList>
#include <QMimeData>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace testing {

// How long a test waits for what the program shows or writes: a wait ends
// as soon as it is there, so only a machine with every core busy ever needs
// all of it.
inline constexpr int kPatience = 60000;

// The whole file as text; an empty string when it cannot be read.
inline QString readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

inline QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A picture of one colour, in the format the suffix names unless `format` says.
inline QString picture(const QString &path, QSize size, QColor colour = QColor(40, 120, 200),
                       const char *format = nullptr)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image.save(path, format) ? path : QString();
}

// Local files as a file manager drags them: URLs only.
inline QMimeData *filesMime(const QStringList &paths)
{
    auto *mime = new QMimeData;
    QList<QUrl> urls;
    for (const QString &p : paths)
        urls << QUrl::fromLocalFile(p);
    mime->setUrls(urls);
    return mime;
}

} // namespace testing

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace testing {

// Ends the test run with `what` when the thread that made it is not back
// within `seconds`: a read that hangs (a pipe) would otherwise never fail.
class Watchdog
{
public:
    Watchdog(const char *what, int seconds = 60)
        : m_thread([this, what, seconds] {
            std::unique_lock lock(m_mutex);
            if (!m_ended.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_done; }))
                qFatal("hung: %s", what);
        })
    {
    }
    ~Watchdog()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_ended.notify_one();
        m_thread.join();
    }
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_done = false;
    std::thread m_thread;
};

} // namespace testing
