#pragma once

#include "model/Foreign.h"

#include <QString>

#include <memory>

namespace qm {

class VideoStream
{
public:
    const QString &file() const { return m_file; }
    void setFile(const QString &v) { m_file = v; }
    qint32 bitrate() const { return m_bitrate; }
    void setBitrate(qint32 v) { m_bitrate = v; }
    const ForeignXmlPtr &foreign() const { return m_foreign; }
    void setForeign(ForeignXmlPtr foreign) { m_foreign = std::move(foreign); }

private:
    QString m_file = QStringLiteral("");
    qint32 m_bitrate = 0;
    ForeignXmlPtr m_foreign;
};

using StreamPtr = std::shared_ptr<VideoStream>;

} // namespace qm
