#include "storage/Common.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <atomic>
#include <mutex>

namespace qm {

namespace {

constexpr qint64 kReferenceDateMSecs = 978307200000LL; // 2001-01-01T00:00:00Z

std::mutex clockMutex;
std::function<qint64()> &clockFunction()
{
    static std::function<qint64()> clock;
    return clock;
}

std::atomic<int> albumCounter{1};

} // namespace

QString Common::paddedStringFromNumber(qint32 number, int digits)
{
    QString s = QString::number(number);
    while (s.size() < digits)
        s.prepend(QLatin1Char('0'));
    return s;
}

QString Common::lowerExtension(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString last = path.mid(slash + 1);
    const qsizetype dot = last.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return QString();
    return last.mid(dot + 1).toLower();
}

bool Common::isValidImageFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        return false;
    const QString ext = lowerExtension(path);
    for (const char *e : {"tiff", "tif", "jpg", "jpeg", "png"}) {
        if (ext == QLatin1String(e))
            return true;
    }
    return false;
}

void setClockForTesting(std::function<qint64()> clock)
{
    std::lock_guard lock(clockMutex);
    clockFunction() = std::move(clock);
}

quint64 timeKey()
{
    qint64 now;
    {
        std::lock_guard lock(clockMutex);
        now = clockFunction() ? clockFunction()() : QDateTime::currentMSecsSinceEpoch();
    }
    const double seconds = double(now - kReferenceDateMSecs) / 1000.0;
    const double hundredths = seconds * 100.0;
    if (!(hundredths > 0.0))
        return 0;
    return quint64(hundredths);
}

QString timeKeyString(quint64 key)
{
    return QString::number(key, 16);
}

QString timeKeyString()
{
    return timeKeyString(timeKey());
}

int AlbumCounter::takeDigit()
{
    const int value = albumCounter.fetch_add(1);
    return ((value % 10) + 10) % 10;
}

void AlbumCounter::resetForTesting()
{
    albumCounter = 1;
}

QString albumFileName(quint64 key, int counterDigit)
{
    return QStringLiteral("album_%1%2.xml").arg(timeKeyString(key)).arg(counterDigit);
}

quint64 freePhotoKey(const QString &imgFolder)
{
    // A run in the same hundredth as an earlier one, or after the clock was
    // set back, moves on to the next key whose names are all free.
    quint64 key = timeKey();
    const QDir dir(imgFolder);
    const auto all = QDir::Files | QDir::Dirs | QDir::System | QDir::Hidden;
    while (!dir.entryList({QStringLiteral("img_%1_*").arg(timeKeyString(key))}, all).isEmpty())
        ++key;
    return key;
}

QString photoBaseName(quint64 key, qint32 position)
{
    return QStringLiteral("%1_%2").arg(timeKeyString(key), Common::paddedStringFromNumber(position, 4));
}

QString photoFileName(const QString &base)
{
    return QStringLiteral("img_%1.jpg").arg(base);
}

QString photoSmallFileName(const QString &base)
{
    return QStringLiteral("img_%1_sm.jpg").arg(base);
}

QString photoLargeFileName(const QString &base)
{
    return QStringLiteral("img_%1_lg.jpg").arg(base);
}

QString thumbnailFileName(quint64 key)
{
    return QStringLiteral("albthumb_%1.jpg").arg(timeKeyString(key));
}

QString videoStreamFileName(quint64 key)
{
    return QStringLiteral("vstream_%1.flv").arg(timeKeyString(key));
}

QString videoThumbFileName(quint64 key)
{
    return QStringLiteral("vthumb_%1.jpg").arg(timeKeyString(key));
}

bool isBareFileName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QChar(0))
            return false;
    }
    return true;
}

} // namespace qm
