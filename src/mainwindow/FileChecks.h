#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QThreadPool>

namespace qm {

// Whether files are there, for the item views to mark what is missing. A
// view asks from data() and is answered at once from what is known;
// unknown files are looked at on a thread of this object's own, a few at a
// time, and checked() says when answers came. An answer stands a few
// seconds (a file may come back), and goes at once with invalidate().
class FileChecks : public QObject
{
    Q_OBJECT
public:
    enum class State { Unknown, Present, Missing };

    explicit FileChecks(QObject *parent = nullptr);
    ~FileChecks() override;

    State state(const QString &path);
    void invalidate(const QStringList &paths);
    void clear();
    // Lets events run until every ask was answered: for tests.
    bool waitForIdle(int timeoutMs = 10000);

signals:
    void checked();

private:
    void look();

    struct Known
    {
        State state = State::Unknown;
        qint64 at = 0;
    };
    QHash<QString, Known> m_known;
    QStringList m_pending;
    QSet<QString> m_asked;
    bool m_looking = false;
    QElapsedTimer m_clock;
    QThreadPool m_pool;
};

} // namespace qm
