#pragma once

#include "model/Item.h"
#include "model/VideoStream.h"

#include <QList>

namespace qm {

class Video : public Item
{
public:
    Video() : Item(Kind::Video) {}

    QList<StreamPtr> &streams() { return m_streams; }
    const QList<StreamPtr> &streams() const { return m_streams; }
    void addStream(StreamPtr stream) { m_streams.append(std::move(stream)); }
    int numberOfStreams() const { return int(m_streams.size()); }
    // Where a stream of `bitrate` goes in `streams`: before the first stream
    // of lower bitrate, so that equal ones keep their places ahead of it.
    static int streamIndexForBitrate(const QList<StreamPtr> &streams, qint32 bitrate)
    {
        for (int i = 0; i < streams.size(); ++i) {
            if (streams[i]->bitrate() < bitrate)
                return i;
        }
        return int(streams.size());
    }

    const QString &thumbFile() const { return m_thumbFile; }
    void setThumbFile(const QString &v) { m_thumbFile = v; }

private:
    QList<StreamPtr> m_streams;
    QString m_thumbFile;
};

} // namespace qm
