#pragma once

#include <QStringList>

class QSettings;

namespace qm {

// The galleries opened last, newest first, kept in the settings under
// "RecentGalleries" for File > Open Recent.
class RecentGalleries
{
public:
    static constexpr int kMax = 5;

    explicit RecentGalleries(QSettings *settings) : m_settings(settings) {}

    QStringList galleries() const;
    // `folder` moves to the front; the oldest beyond kMax go.
    void add(const QString &folder);
    void remove(const QString &folder);
    void clear();

private:
    void store(const QStringList &list);

    QSettings *m_settings;
};

} // namespace qm
