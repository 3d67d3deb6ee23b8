#pragma once

#include <QByteArray>
#include <QList>
#include <QSize>
#include <QString>

#include <memory>

namespace qm {

// Sorenson Spark (FLV1) through libavcodec's own rate control. GStreamer's
// wrapper of the same encoder (avenc_flv, 1.22) hands it a time base of
// nanoseconds, so its rate control spends a millionth of the bits it should
// and every stream comes out at the coarsest quantizer, whatever rate is
// asked; here the time base is the frame rate's.
class SparkEncoder
{
public:
    struct Settings
    {
        QSize size;
        int rateNum = 25; // frames per second, as a fraction
        int rateDen = 1;
        int kbps = 500;
        int keyInterval = 50; // frames
    };
    struct Packet
    {
        QByteArray data;
        qint64 frame = 0; // presentation time in frames
        bool key = false;
    };

    SparkEncoder();
    ~SparkEncoder();
    SparkEncoder(const SparkEncoder &) = delete;
    SparkEncoder &operator=(const SparkEncoder &) = delete;

    bool open(const Settings &settings);
    // One I420 picture shown at `frame` (counted in frames; must grow).
    bool encode(const uchar *const planes[3], const int strides[3], qint64 frame, QList<Packet> *out);
    // The pictures the encoder still holds.
    bool finish(QList<Packet> *out);
    const QString &error() const { return m_error; }

private:
    bool drain(QList<Packet> *out);
    bool fail(int code);

    struct Codec;
    std::unique_ptr<Codec> m_codec;
    QString m_error;
};

} // namespace qm
