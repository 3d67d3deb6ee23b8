#include "video/SparkEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

#include <algorithm>
#include <climits>

namespace qm {

struct SparkEncoder::Codec
{
    AVCodecContext *context = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;
    ~Codec()
    {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    }
};

SparkEncoder::SparkEncoder() = default;
SparkEncoder::~SparkEncoder() = default;

bool SparkEncoder::fail(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    if (m_error.isEmpty())
        m_error = QStringLiteral("the Sorenson Spark encoder failed: %1").arg(QString::fromUtf8(text));
    return false;
}

bool SparkEncoder::open(const Settings &s)
{
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_FLV1);
    if (!codec) {
        m_error = QStringLiteral("this libavcodec has no Sorenson Spark encoder");
        return false;
    }
    m_codec = std::make_unique<Codec>();
    AVCodecContext *c = m_codec->context = avcodec_alloc_context3(codec);
    m_codec->frame = av_frame_alloc();
    m_codec->packet = av_packet_alloc();
    if (!c || !m_codec->frame || !m_codec->packet)
        return fail(AVERROR(ENOMEM));
    c->width = s.size.width();
    c->height = s.size.height();
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational{s.rateDen, s.rateNum};
    c->framerate = AVRational{s.rateNum, s.rateDen};
    c->gop_size = s.keyInterval;
    c->max_b_frames = 0;
    c->thread_count = 1; // the streams of a ladder already run side by side
    const int64_t rate = int64_t(s.kbps) * 1000;
    c->bit_rate = rate;
    // Without a tight tolerance the one-pass rate control drifts 10 to 35%
    // above the rate on short or busy movies; the buffer keeps a progressive
    // download's peaks within twice the rate.
    c->bit_rate_tolerance = int(std::max<int64_t>(rate / 10, 8000));
    c->rc_max_rate = 2 * rate;
    c->rc_buffer_size = int(std::min<int64_t>(2 * rate, INT_MAX));
    if (const int e = avcodec_open2(c, codec, nullptr); e < 0)
        return fail(e);
    AVFrame *f = m_codec->frame;
    f->format = c->pix_fmt;
    f->width = c->width;
    f->height = c->height;
    return true;
}

bool SparkEncoder::drain(QList<Packet> *out)
{
    for (;;) {
        const int e = avcodec_receive_packet(m_codec->context, m_codec->packet);
        if (e == AVERROR(EAGAIN) || e == AVERROR_EOF)
            return true;
        if (e < 0)
            return fail(e);
        AVPacket *p = m_codec->packet;
        out->append({QByteArray(reinterpret_cast<const char *>(p->data), p->size), p->pts,
                     (p->flags & AV_PKT_FLAG_KEY) != 0});
        av_packet_unref(p);
    }
}

bool SparkEncoder::encode(const uchar *const planes[3], const int strides[3], qint64 frame, QList<Packet> *out)
{
    if (!m_codec)
        return false;
    AVFrame *f = m_codec->frame;
    for (int i = 0; i < 3; ++i) {
        f->data[i] = const_cast<uchar *>(planes[i]);
        f->linesize[i] = strides[i];
    }
    f->pts = frame;
    // The encoder copies what it keeps of a picture it does not own.
    const int e = avcodec_send_frame(m_codec->context, f);
    for (auto &plane : f->data)
        plane = nullptr;
    return (e >= 0 || fail(e)) && drain(out);
}

bool SparkEncoder::finish(QList<Packet> *out)
{
    if (!m_codec)
        return false;
    const int e = avcodec_send_frame(m_codec->context, nullptr);
    return (e >= 0 || e == AVERROR_EOF || fail(e)) && drain(out);
}

} // namespace qm
