#include "video/MetadataMessage.h"

#include <QList>

#include <limits>

namespace qm {

int intValue(QStringView text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < n && (text.at(i) == u'+' || text.at(i) == u'-')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    // Accumulate in 64 bits and stop growing once past the int range.
    qint64 value = 0;
    constexpr qint64 limit = qint64(std::numeric_limits<int>::max()) + 1;
    for (; i < n; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9')
            break;
        if (value <= limit)
            value = value * 10 + (c - u'0');
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (value < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return int(value);
}

bool parseMetadataMessage(const QString &message, int &width, int &height, int &bitrate)
{
    const QList<QStringView> fields = QStringView(message).split(u'|');
    if (fields.size() < 3)
        return false;
    width = intValue(fields.at(0));
    height = intValue(fields.at(1));
    bitrate = intValue(fields.at(2));
    return true;
}

QString metadataMessage(int width, int height, int bitrate)
{
    return QStringLiteral("%1|%2|%3").arg(width).arg(height).arg(bitrate);
}

} // namespace qm
