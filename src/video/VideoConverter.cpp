// GStreamer's headers first: GLib uses names that Qt defines as macros.
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>
#include <gst/video/video.h>

#include "video/VideoConverter.h"

#include "storage/FileWriter.h"
#include "storage/Job.h"
#include "video/FLVStreamWriter.h"
#include "video/SparkEncoder.h"
#include "video/VideoThumbnail.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>

namespace qm {

namespace {

std::atomic_int conversionDelay{0};

QString gstInitError()
{
    static QString error;
    static std::once_flag once;
    std::call_once(once, [] {
        GError *err = nullptr;
        if (!gst_init_check(nullptr, nullptr, &err)) {
            error = QStringLiteral("GStreamer could not start: %1").arg(err ? QString::fromUtf8(err->message) : QString());
            g_clear_error(&err);
        }
    });
    return error;
}

// GStreamer's words, without the full stop: they go inside our sentences.
QString takeError(GError *&err)
{
    QString text = err ? QString::fromUtf8(err->message).trimmed() : QStringLiteral("no reason given");
    g_clear_error(&err);
    while (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

// The part of an installer detail that names what is missing
// ("gstreamer|1.0|app|H.265 (Main Profile) decoder|decoder-video/x-h265").
QString missingDescription(const char *detail)
{
    const QStringList parts = QString::fromUtf8(detail).split(QLatin1Char('|'));
    return parts.size() > 3 ? parts.at(3) : QString::fromUtf8(detail);
}

struct Element
{
    const char *name;
    const char *package;
};

QString orientationTagOf(const GstTagList *tags)
{
    gchar *value = nullptr;
    if (!tags || !gst_tag_list_get_string(tags, GST_TAG_IMAGE_ORIENTATION, &value))
        return QString();
    const QString text = QString::fromUtf8(value);
    g_free(value);
    return text;
}

// The demuxer's part of a stream id ("<upstream hash>/001"): the same for
// the discoverer and for our own pipeline over the same file.
QString streamKey(const gchar *id)
{
    const QString text = QString::fromUtf8(id ? id : "");
    const qsizetype slash = text.indexOf(QLatin1Char('/'));
    return slash < 0 ? text : text.mid(slash + 1);
}

// The time a buffer plays at, from the segment its pad last saw: a camera's
// transport stream starts its clock anywhere.
struct StreamClock
{
    GstSegment segment;
    StreamClock() { gst_segment_init(&segment, GST_FORMAT_TIME); }
    // The end of the buffer in milliseconds; -1 when it carries no time.
    qint64 endMs(GstBuffer *buffer) const
    {
        GstClockTime pts = GST_BUFFER_PTS(buffer);
        if (!GST_CLOCK_TIME_IS_VALID(pts))
            return -1;
        if (GST_BUFFER_DURATION_IS_VALID(buffer))
            pts += GST_BUFFER_DURATION(buffer);
        const guint64 running = gst_segment_to_running_time(&segment, GST_FORMAT_TIME, pts);
        return GST_CLOCK_TIME_IS_VALID(running) ? qint64(running / GST_MSECOND) : -1;
    }
    // Keeps the segment; true for a buffer, whose end is then in `ms`.
    bool see(GstPadProbeInfo *info, qint64 *ms)
    {
        if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
            GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
            if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT)
                gst_event_copy_segment(event, &segment);
            return false;
        }
        GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        *ms = buffer ? endMs(buffer) : -1;
        return buffer != nullptr;
    }
};

constexpr auto kBuffersAndEvents = GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM);

// One FLV being written: the muxer's output goes through here.
struct Output
{
    Output(const QString &path, const FLVStreamWriter::Header &header)
        : file(path, FileWriter::Mode::CreateNew)
        , flv(file, header)
    {
    }
    FileWriter file;
    FLVStreamWriter flv;
    std::atomic_bool failed{false};
    // The size of the pictures the encoder was given.
    std::atomic_int width{0};
    std::atomic_int height{0};
    // Sorenson Spark: our encoder between the scaled pictures and the muxer.
    SparkEncoder::Settings sparkSettings;
    std::unique_ptr<SparkEncoder> spark;
    GstAppSrc *sparkOut = nullptr;
    qint64 lastFrame = -1;
    QString sparkError;
};

GstFlowReturn outputSample(GstAppSink *sink, gpointer data)
{
    auto *out = static_cast<Output *>(data);
    GstSample *sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_EOS;
    bool ok = !out->failed;
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (ok && buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        ok = out->flv.append(QByteArrayView(reinterpret_cast<const char *>(map.data), qsizetype(map.size)));
        gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
    if (!ok) {
        out->failed = true;
        return GST_FLOW_ERROR;
    }
    return GST_FLOW_OK;
}

// The picture size an encoder is given, from its input's caps.
GstPadProbeReturn encoderCaps(GstPad *, GstPadProbeInfo *info, gpointer data)
{
    GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
    if (event && GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
        GstCaps *caps = nullptr;
        gst_event_parse_caps(event, &caps);
        GstVideoInfo video;
        if (caps && gst_video_info_from_caps(&video, caps)) {
            auto *out = static_cast<Output *>(data);
            out->width = video.width;
            out->height = video.height;
        }
    }
    return GST_PAD_PROBE_OK;
}

void pushSparkPackets(Output *out, const QList<SparkEncoder::Packet> &packets)
{
    const SparkEncoder::Settings &s = out->sparkSettings;
    for (const SparkEncoder::Packet &p : packets) {
        GstBuffer *b = gst_buffer_new_memdup(p.data.constData(), gsize(p.data.size()));
        GST_BUFFER_PTS(b) = GST_BUFFER_DTS(b) = gst_util_uint64_scale(guint64(p.frame), guint64(s.rateDen) * GST_SECOND,
                                                                      guint64(s.rateNum));
        GST_BUFFER_DURATION(b) = gst_util_uint64_scale(1, guint64(s.rateDen) * GST_SECOND, guint64(s.rateNum));
        if (!p.key)
            GST_BUFFER_FLAG_SET(b, GST_BUFFER_FLAG_DELTA_UNIT);
        gst_app_src_push_buffer(out->sparkOut, b);
    }
}

GstFlowReturn sparkFail(Output *out, const QString &why)
{
    if (out->sparkError.isEmpty())
        out->sparkError = why;
    out->failed = true;
    gst_app_src_end_of_stream(out->sparkOut);
    return GST_FLOW_ERROR;
}

GstFlowReturn sparkSample(GstAppSink *sink, gpointer data)
{
    auto *out = static_cast<Output *>(data);
    GstSample *sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_EOS;
    if (out->failed) {
        gst_sample_unref(sample);
        return GST_FLOW_ERROR;
    }
    GstVideoInfo info;
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    GstVideoFrame frame;
    if (!buffer || !gst_video_info_from_caps(&info, gst_sample_get_caps(sample))
        || !gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
        gst_sample_unref(sample);
        return sparkFail(out, QStringLiteral("a picture could not be read"));
    }
    if (!out->spark) {
        out->sparkSettings.size = QSize(info.width, info.height);
        out->width = info.width;
        out->height = info.height;
        out->spark = std::make_unique<SparkEncoder>();
        if (!out->spark->open(out->sparkSettings)) {
            gst_video_frame_unmap(&frame);
            gst_sample_unref(sample);
            return sparkFail(out, out->spark->error());
        }
    }
    // Frames count on from the picture's running time (a movie's first
    // picture may carry any time), as the muxer counts the sound's; never
    // twice the same.
    const SparkEncoder::Settings &s = out->sparkSettings;
    const GstClockTime pts = gst_segment_to_running_time(gst_sample_get_segment(sample), GST_FORMAT_TIME,
                                                         GST_BUFFER_PTS(buffer));
    qint64 index = out->lastFrame + 1;
    if (GST_CLOCK_TIME_IS_VALID(pts))
        index = std::max(index, qint64(gst_util_uint64_scale_round(pts, guint64(s.rateNum), guint64(s.rateDen) * GST_SECOND)));
    out->lastFrame = index;
    const uchar *planes[3];
    int strides[3];
    for (int i = 0; i < 3; ++i) {
        planes[i] = static_cast<const uchar *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, i));
        strides[i] = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, i);
    }
    QList<SparkEncoder::Packet> packets;
    const bool ok = out->spark->encode(planes, strides, index, &packets);
    gst_video_frame_unmap(&frame);
    gst_sample_unref(sample);
    if (!ok)
        return sparkFail(out, out->spark->error());
    pushSparkPackets(out, packets);
    return GST_FLOW_OK;
}

void sparkEnd(GstAppSink *, gpointer data)
{
    auto *out = static_cast<Output *>(data);
    QList<SparkEncoder::Packet> packets;
    if (out->spark && !out->failed) {
        if (out->spark->finish(&packets))
            pushSparkPackets(out, packets);
        else
            sparkFail(out, out->spark->error());
    }
    gst_app_src_end_of_stream(out->sparkOut);
}

// The frame for the thumbnail, taken as it passes: the first a third of the
// way in or, for a movie that ends before (one frame, a cut-off file), the
// last one before.
struct ThumbnailFrame
{
    GstClockTime target = 0;
    std::atomic_bool passed{false};
    StreamClock clock;
    GstSample *before = nullptr; // the latest picture short of the target
    std::mutex mutex;
    QImage image;
    ~ThumbnailFrame()
    {
        if (before)
            gst_sample_unref(before);
    }
};

GstPadProbeReturn thumbnailGate(GstPad *pad, GstPadProbeInfo *info, gpointer data)
{
    auto *frame = static_cast<ThumbnailFrame *>(data);
    qint64 endMs = -1;
    if (!frame->clock.see(info, &endMs))
        return GST_PAD_PROBE_OK;
    if (frame->passed)
        return GST_PAD_PROBE_DROP;
    GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const guint64 start = gst_segment_to_running_time(&frame->clock.segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
    if (GST_CLOCK_TIME_IS_VALID(start) && start < frame->target) {
        GstCaps *caps = gst_pad_get_current_caps(pad);
        if (frame->before)
            gst_sample_unref(frame->before);
        frame->before = gst_sample_new(buffer, caps, nullptr, nullptr);
        if (caps)
            gst_caps_unref(caps);
        return GST_PAD_PROBE_DROP;
    }
    frame->passed = true;
    // Not needed now; a decoder's pool wants its pictures back.
    if (frame->before)
        gst_sample_unref(std::exchange(frame->before, nullptr));
    return GST_PAD_PROBE_OK;
}

QImage imageOf(GstSample *sample)
{
    QImage image;
    GstVideoInfo info;
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    GstVideoFrame video;
    if (buffer && gst_video_info_from_caps(&info, gst_sample_get_caps(sample))
        && gst_video_frame_map(&video, &info, buffer, GST_MAP_READ)) {
        const QImage view(static_cast<const uchar *>(GST_VIDEO_FRAME_PLANE_DATA(&video, 0)), info.width, info.height,
                          GST_VIDEO_FRAME_PLANE_STRIDE(&video, 0), QImage::Format_RGB32);
        image = view.copy();
        gst_video_frame_unmap(&video);
    }
    return image;
}

GstFlowReturn thumbnailSample(GstAppSink *sink, gpointer data)
{
    auto *frame = static_cast<ThumbnailFrame *>(data);
    GstSample *sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_EOS;
    QImage image = imageOf(sample);
    gst_sample_unref(sample);
    std::lock_guard lock(frame->mutex);
    frame->image = std::move(image);
    return GST_FLOW_OK;
}

// The picture short of the target, for a movie that never reached it.
QImage thumbnailBefore(ThumbnailFrame &frame)
{
    if (!frame.before)
        return {};
    GstCaps *rgb = gst_caps_from_string("video/x-raw,format=BGRx");
    GError *err = nullptr;
    GstSample *converted = gst_video_convert_sample(frame.before, rgb, 10 * GST_SECOND, &err);
    gst_caps_unref(rgb);
    g_clear_error(&err);
    if (!converted)
        return {};
    QImage image = imageOf(converted);
    gst_sample_unref(converted);
    return image;
}

// How far the pictures and the sound have got, for the progress bar and
// to tell a movie that ends before its stated length.
struct Progress
{
    StreamClock videoClock;
    StreamClock audioClock;
    std::atomic<qint64> videoMs{0};
    std::atomic<qint64> audioMs{0};
};

GstPadProbeReturn videoProgress(GstPad *, GstPadProbeInfo *info, gpointer data)
{
    auto *p = static_cast<Progress *>(data);
    qint64 ms = -1;
    if (p->videoClock.see(info, &ms)) {
        if (ms > p->videoMs)
            p->videoMs = ms;
        if (const int delay = conversionDelay)
            QThread::msleep(delay);
    }
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn audioProgress(GstPad *, GstPadProbeInfo *info, gpointer data)
{
    auto *p = static_cast<Progress *>(data);
    // A decoder's last sound frame reaches past the container's stated end;
    // outside its segment the muxer would give it the time of whatever it
    // wrote last. The segment is left open at the end instead.
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
            GstSegment segment;
            gst_event_copy_segment(event, &segment);
            if (segment.format == GST_FORMAT_TIME && GST_CLOCK_TIME_IS_VALID(segment.stop) && segment.rate > 0) {
                segment.stop = GST_CLOCK_TIME_NONE;
                GstEvent *open = gst_event_new_segment(&segment);
                gst_event_set_seqnum(open, gst_event_get_seqnum(event));
                gst_event_unref(event);
                GST_PAD_PROBE_INFO_DATA(info) = open;
            }
        }
    }
    qint64 ms = -1;
    if (p->audioClock.see(info, &ms) && ms > p->audioMs)
        p->audioMs = ms;
    return GST_PAD_PROBE_OK;
}

// Which decoded streams go on: the chosen tracks, or the first of each kind.
struct Links
{
    GstElement *pipeline;
    QString videoKey;
    QString audioKey;
};

void linkDecoded(GstElement *, GstPad *pad, gpointer data)
{
    auto *links = static_cast<Links *>(data);
    GstCaps *caps = gst_pad_get_current_caps(pad);
    if (!caps)
        caps = gst_pad_query_caps(pad, nullptr);
    const gchar *kind = gst_structure_get_name(gst_caps_get_structure(caps, 0));
    const bool video = g_str_has_prefix(kind, "video/x-raw"), audio = g_str_has_prefix(kind, "audio/x-raw");
    gst_caps_unref(caps);
    if (!video && !audio)
        return;
    const QString &wanted = video ? links->videoKey : links->audioKey;
    if (!wanted.isEmpty()) {
        gchar *id = gst_pad_get_stream_id(pad);
        const bool match = streamKey(id) == wanted;
        g_free(id);
        if (!match)
            return; // a cover picture, a second sound track
    }
    GstElement *queue = gst_bin_get_by_name(GST_BIN(links->pipeline), video ? "vq" : "aq");
    if (!queue)
        return;
    GstPad *sink = gst_element_get_static_pad(queue, "sink");
    if (!gst_pad_is_linked(sink))
        gst_pad_link(pad, sink);
    gst_object_unref(sink);
    gst_object_unref(queue);
}

struct PipelineDeleter
{
    void operator()(GstElement *p) const
    {
        gst_element_set_state(p, GST_STATE_NULL);
        gst_object_unref(p);
    }
};

// The frame rate Sorenson Spark counts in: the stream's, or 25 where the
// source's is unknown (pictures then keep their own times).
FrameRate sparkRate(const FrameRate &rate)
{
    return rate.num > 0 ? rate : FrameRate{25, 1};
}

int keyIntervalFor(const FrameRate &rate)
{
    return rate.num > 0 ? std::max(1, int(std::lround(2 * rate.value()))) : 50;
}

QString describePipeline(const ConversionRequest &r, const FrameRate &rate)
{
    const SourceMovie &m = r.movie;
    const ConversionSettings &s = r.settings;
    const bool h264 = s.codec == VideoCodec::H264;
    const int keyInterval = keyIntervalFor(rate);
    // The encoders hold a second or two of frames before the first comes
    // out, and each muxer waits for both picture and sound: queues bounded
    // by time would fill up on one side and stop the other. Bounded by
    // memory instead (a few seconds of pictures, minutes of sound).
    const QString videoQueue = QStringLiteral("queue max-size-time=0 max-size-buffers=0 max-size-bytes=%1 ").arg(64 << 20);
    const QString soundQueue = QStringLiteral("queue max-size-time=0 max-size-buffers=0 max-size-bytes=%1 ").arg(32 << 20);
    QString d = QStringLiteral("filesrc name=src ! decodebin name=dec ");
    // Camcorders film in fields: one field of each frame (the streams are
    // far smaller than a frame) before anything is scaled.
    d += QStringLiteral("queue name=vq ! deinterlace fields=top ");
    if (rate.num > 0)
        d += QStringLiteral("! videorate drop-only=true ! video/x-raw,framerate=%1/%2 ").arg(rate.num).arg(rate.den);
    // One scale from the decoded picture to the largest stream, the smaller
    // streams from that: the big picture is read once. The turn comes after
    // the scale, where the picture is small.
    const QSize top = s.rungs.first().size;
    const QSize stored = swapsSides(m.orientation) ? top.transposed() : top;
    d += QStringLiteral("! videoconvertscale n-threads=2 add-borders=false "
                        "! video/x-raw,format=I420,width=%1,height=%2,pixel-aspect-ratio=1/1 ")
             .arg(stored.width())
             .arg(stored.height());
    if (m.orientation != Orientation::Upright)
        d += QStringLiteral("! videoflip video-direction=%1 ").arg(QLatin1String(videoDirection(m.orientation)));
    d += QStringLiteral("! tee name=vt ");
    for (int i = 0; i < s.rungs.size(); ++i) {
        const StreamRung &rung = s.rungs.at(i);
        d += QStringLiteral("vt. ! ") + videoQueue;
        if (rung.size != top)
            d += QStringLiteral("! videoconvertscale add-borders=false "
                                "! video/x-raw,format=I420,width=%1,height=%2,pixel-aspect-ratio=1/1 ")
                     .arg(rung.size.width())
                     .arg(rung.size.height());
        if (h264) {
            d += QStringLiteral("! x264enc name=enc%1 bitrate=%2 key-int-max=%3 speed-preset=medium "
                                "! video/x-h264,profile=main ! h264parse ! mux%1. ")
                     .arg(i)
                     .arg(rung.videoKbps)
                     .arg(keyInterval);
        } else {
            d += QStringLiteral("! appsink name=raw%1 sync=false ").arg(i);
            // Its caps are set in code: the parser takes a caps string's
            // slash for a link to an element.
            d += QStringLiteral("appsrc name=spark%1 format=time max-bytes=0 ! mux%1. ").arg(i);
        }
        // Not waiting to preroll: Spark's pictures reach the muxer only once
        // the pipeline plays.
        d += QStringLiteral("flvmux name=mux%1 streamable=true ! appsink name=out%1 sync=false async=false ").arg(i);
    }
    if (!r.thumbnail.isEmpty())
        d += QStringLiteral("vt. ! ") + videoQueue
             + QStringLiteral("name=tq ! videoconvert ! video/x-raw,format=BGRx ! appsink name=thumb sync=false async=false ");
    if (m.hasAudio) {
        d += QStringLiteral("queue name=aq ! audioconvert ! audioresample ! audio/x-raw,rate=%1,channels=2 ")
                 .arg(s.audioRate);
        if (h264)
            d += QStringLiteral("! avenc_aac bitrate=%1 ! aacparse ").arg(s.audioKbps * 1000);
        else
            // LAME would pick a rate of its own for the bitrate; FLV takes 44.1 kHz.
            d += QStringLiteral("! lamemp3enc target=bitrate bitrate=%1 cbr=true ! audio/mpeg,rate=%2 ! mpegaudioparse ")
                     .arg(s.audioKbps)
                     .arg(s.audioRate);
        d += QStringLiteral("! tee name=at ");
        for (int i = 0; i < s.rungs.size(); ++i)
            d += QStringLiteral("at. ! ") + soundQueue + QStringLiteral("! mux%1. ").arg(i);
    }
    return d;
}

// How a movie's video track is chosen: not a still picture (the cover of an
// album or a film), then the largest.
bool betterMovieTrack(GstDiscovererVideoInfo *candidate, GstDiscovererVideoInfo *best)
{
    auto still = [](GstDiscovererVideoInfo *v) {
        GstCaps *caps = gst_discoverer_stream_info_get_caps(GST_DISCOVERER_STREAM_INFO(v));
        const bool image = caps && g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "image/");
        if (caps)
            gst_caps_unref(caps);
        return image;
    };
    if (!best)
        return true;
    if (still(candidate) != still(best))
        return still(best);
    auto area = [](GstDiscovererVideoInfo *v) {
        return qint64(gst_discoverer_video_info_get_width(v)) * gst_discoverer_video_info_get_height(v);
    };
    return area(candidate) > area(best);
}

} // namespace

MovieProbe probeMovie(const QString &path)
{
    MovieProbe probe;
    if (const QString e = gstInitError(); !e.isEmpty()) {
        probe.error = e;
        return probe;
    }
    if (!QFileInfo(path).isFile()) {
        probe.error = QStringLiteral("the file cannot be found");
        return probe;
    }
    GError *err = nullptr;
    GstDiscoverer *discoverer = gst_discoverer_new(15 * GST_SECOND, &err);
    if (!discoverer) {
        probe.error = takeError(err);
        return probe;
    }
    gchar *uri = gst_filename_to_uri(QFile::encodeName(path).constData(), &err);
    GstDiscovererInfo *info = uri ? gst_discoverer_discover_uri(discoverer, uri, &err) : nullptr;
    g_free(uri);
    const GstDiscovererResult result = info ? gst_discoverer_info_get_result(info) : GST_DISCOVERER_ERROR;
    if (result == GST_DISCOVERER_MISSING_PLUGINS) {
        QStringList missing;
        if (const gchar **details = gst_discoverer_info_get_missing_elements_installer_details(info))
            for (; *details; ++details)
                missing << missingDescription(*details);
        probe.error = QStringLiteral("it needs a GStreamer plug-in that is not installed (%1)")
                          .arg(missing.isEmpty() ? QStringLiteral("unknown") : missing.join(QStringLiteral(", ")));
    } else if (result == GST_DISCOVERER_TIMEOUT) {
        probe.error = QStringLiteral("reading it took too long");
    } else if (result != GST_DISCOVERER_OK) {
        probe.error = QStringLiteral("it cannot be read as a movie (%1)").arg(takeError(err));
    }
    g_clear_error(&err);
    if (probe.ok()) {
        SourceMovie &m = probe.movie;
        const GstClockTime duration = gst_discoverer_info_get_duration(info);
        m.seconds = GST_CLOCK_TIME_IS_VALID(duration) ? double(duration) / GST_SECOND : 0.0;
        GList *audio = gst_discoverer_info_get_audio_streams(info);
        m.hasAudio = audio != nullptr;
        if (audio)
            m.audioStreamId = streamKey(gst_discoverer_stream_info_get_stream_id(GST_DISCOVERER_STREAM_INFO(audio->data)));
        gst_discoverer_stream_info_list_free(audio);
        GList *videos = gst_discoverer_info_get_video_streams(info);
        GstDiscovererVideoInfo *best = nullptr;
        for (GList *l = videos; l; l = l->next) {
            auto *v = GST_DISCOVERER_VIDEO_INFO(l->data);
            if (!gst_discoverer_video_info_is_image(v) && betterMovieTrack(v, best))
                best = v;
        }
        if (GstDiscovererVideoInfo *v = best) {
            auto *stream = GST_DISCOVERER_STREAM_INFO(v);
            int width = int(gst_discoverer_video_info_get_width(v));
            const int height = int(gst_discoverer_video_info_get_height(v));
            const guint parN = gst_discoverer_video_info_get_par_num(v);
            const guint parD = gst_discoverer_video_info_get_par_denom(v);
            if (parN > 0 && parD > 0 && parN != parD)
                width = int(std::lround(double(width) * parN / parD));
            m.videoStreamId = streamKey(gst_discoverer_stream_info_get_stream_id(stream));
            // An ISO movie's display matrix read exactly (GStreamer 1.22 does
            // not name every mirror), else what the demuxer tags.
            const quint32 track = m.videoStreamId.section(QLatin1Char(':'), 0, 0).toUInt();
            std::optional<Orientation> turn = readTrackOrientation(path, track);
            if (!turn) {
                QString tag = orientationTagOf(gst_discoverer_stream_info_get_tags(stream));
                if (tag.isEmpty())
                    tag = orientationTagOf(gst_discoverer_info_get_tags(info));
                turn = orientationFromTag(tag);
            }
            m.orientation = turn.value_or(Orientation::Upright);
            m.frameSize = swapsSides(m.orientation) ? QSize(height, width) : QSize(width, height);
            m.frameRateNum = int(gst_discoverer_video_info_get_framerate_num(v));
            m.frameRateDen = std::max(1, int(gst_discoverer_video_info_get_framerate_denom(v)));
            m.interlaced = gst_discoverer_video_info_is_interlaced(v);
            m.hasVideo = !m.frameSize.isEmpty();
        }
        gst_discoverer_stream_info_list_free(videos);
        if (!m.hasVideo)
            probe.error = m.hasAudio ? QStringLiteral("it holds sound only, no picture")
                                     : QStringLiteral("it holds no picture");
    }
    if (info)
        g_object_unref(info);
    g_object_unref(discoverer);
    return probe;
}

QStringList missingPlugins(VideoCodec codec, bool withAudio)
{
    if (!gstInitError().isEmpty())
        return {QStringLiteral("gstreamer (libgstreamer1.0-0)")};
    QList<Element> needed{{"filesrc", "libgstreamer1.0-0"},
                          {"decodebin", "gstreamer1.0-plugins-base"},
                          {"videoconvertscale", "gstreamer1.0-plugins-base"},
                          {"videorate", "gstreamer1.0-plugins-base"},
                          {"appsink", "gstreamer1.0-plugins-base"},
                          {"videoflip", "gstreamer1.0-plugins-good"},
                          {"deinterlace", "gstreamer1.0-plugins-good"},
                          {"flvmux", "gstreamer1.0-plugins-good"}};
    if (codec == VideoCodec::H264)
        needed += QList<Element>{{"x264enc", "gstreamer1.0-plugins-ugly"}, {"h264parse", "gstreamer1.0-plugins-bad"}};
    else
        needed += QList<Element>{{"appsrc", "gstreamer1.0-plugins-base"}};
    if (withAudio) {
        needed += QList<Element>{{"audioconvert", "gstreamer1.0-plugins-base"},
                                 {"audioresample", "gstreamer1.0-plugins-base"}};
        if (codec == VideoCodec::H264)
            needed += QList<Element>{{"avenc_aac", "gstreamer1.0-libav"}, {"aacparse", "gstreamer1.0-plugins-good"}};
        else
            needed += QList<Element>{{"lamemp3enc", "gstreamer1.0-plugins-good"},
                                     {"mpegaudioparse", "gstreamer1.0-plugins-good"}};
    }
    QStringList missing;
    for (const Element &e : needed) {
        if (GstElementFactory *f = gst_element_factory_find(e.name))
            gst_object_unref(f);
        else
            missing << QStringLiteral("%1 (%2)").arg(QLatin1String(e.name), QLatin1String(e.package));
    }
    return missing;
}

void setConversionDelayForTesting(int millisecondsPerFrame)
{
    conversionDelay = millisecondsPerFrame;
}

void ConversionOutcome::removeFiles()
{
    for (const ConvertedStream &s : std::as_const(streams))
        QFile::remove(s.path);
    if (!thumbnail.isEmpty())
        QFile::remove(thumbnail);
    streams.clear();
    thumbnail.clear();
}

bool ConversionOutcome::endsEarly() const
{
    // Sound and pictures seldom end on the same millisecond as the stated
    // length; a second (and a little of a long movie) is not a cut.
    return statedMs > 0 && endsAtMs < statedMs - std::max<qint64>(1000, statedMs / 50);
}

ConversionOutcome convertMovie(const ConversionRequest &request, JobControl &control)
{
    ConversionOutcome outcome;
    auto fail = [&](const QString &path, const QString &why) {
        outcome.error = why;
        outcome.errorPath = path;
        return outcome;
    };
    const ConversionSettings &s = request.settings;
    if (s.rungs.isEmpty() || s.rungs.size() != request.outputs.size())
        return fail(request.source, QStringLiteral("no streams were asked for"));
    if (!request.movie.hasVideo)
        return fail(request.source, QStringLiteral("the movie holds no picture"));
    if (const QString e = gstInitError(); !e.isEmpty())
        return fail(request.source, e);
    if (const QStringList missing = missingPlugins(s.codec, request.movie.hasAudio); !missing.isEmpty())
        return fail(request.source, QStringLiteral("GStreamer plug-ins are missing: %1").arg(missing.join(QStringLiteral(", "))));

    const FrameRate rate = streamFrameRate(request.movie);
    GError *err = nullptr;
    std::unique_ptr<GstElement, PipelineDeleter> pipeline(
        gst_parse_launch(describePipeline(request, rate).toUtf8().constData(), &err));
    if (!pipeline || err) {
        const QString why = takeError(err);
        return fail(request.source, QStringLiteral("the conversion could not be set up: %1").arg(why));
    }
    GstBin *bin = GST_BIN(pipeline.get());
    auto element = [bin](const QString &name) {
        GstElement *e = gst_bin_get_by_name(bin, name.toLatin1().constData());
        if (e)
            gst_object_unref(e); // the bin keeps it
        return e;
    };
    auto probe = [&](const QString &name, const char *padName, GstPadProbeType type, GstPadProbeCallback callback,
                     gpointer data) {
        GstPad *pad = gst_element_get_static_pad(element(name), padName);
        gst_pad_add_probe(pad, type, callback, data, nullptr);
        gst_object_unref(pad);
    };
    g_object_set(element("src"), "location", QFile::encodeName(request.source).constData(), nullptr);
    Links links{pipeline.get(), request.movie.videoStreamId, request.movie.audioStreamId};
    g_signal_connect(element("dec"), "pad-added", G_CALLBACK(linkDecoded), &links);

    // The outputs: temporary files until the whole run has succeeded.
    const bool h264 = s.codec == VideoCodec::H264;
    std::vector<std::unique_ptr<Output>> outputs;
    for (int i = 0; i < s.rungs.size(); ++i) {
        FLVStreamWriter::Header header;
        header.width = s.rungs.at(i).size.width();
        header.height = s.rungs.at(i).size.height();
        header.frameRate = rate.value();
        header.videoCodecId = h264 ? 7 : 2;
        header.hasAudio = request.movie.hasAudio;
        header.audioCodecId = h264 ? 10 : 2;
        header.audioRate = s.audioRate;
        outputs.push_back(std::make_unique<Output>(request.outputs.at(i), header));
        Output *out = outputs.back().get();
        if (!out->file.open())
            return fail(request.outputs.at(i), out->file.errorString());
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = outputSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(element(QStringLiteral("out%1").arg(i))), &callbacks, out, nullptr);
        if (h264) {
            probe(QStringLiteral("enc%1").arg(i), "sink", GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, encoderCaps, out);
            continue;
        }
        const FrameRate spark = sparkRate(rate);
        out->sparkSettings = {s.rungs.at(i).size, spark.num, spark.den, s.rungs.at(i).videoKbps, keyIntervalFor(rate)};
        out->sparkOut = GST_APP_SRC(element(QStringLiteral("spark%1").arg(i)));
        GstCaps *caps = gst_caps_new_simple("video/x-flash-video", "flvversion", G_TYPE_INT, 1, "width", G_TYPE_INT,
                                            s.rungs.at(i).size.width(), "height", G_TYPE_INT, s.rungs.at(i).size.height(),
                                            "framerate", GST_TYPE_FRACTION, spark.num, spark.den, nullptr);
        gst_app_src_set_caps(out->sparkOut, caps);
        gst_caps_unref(caps);
        GstAppSinkCallbacks raw{};
        raw.new_sample = sparkSample;
        raw.eos = sparkEnd;
        gst_app_sink_set_callbacks(GST_APP_SINK(element(QStringLiteral("raw%1").arg(i))), &raw, out, nullptr);
    }
    ThumbnailFrame frame;
    frame.target = GstClockTime(request.movie.seconds / 3.0 * GST_SECOND);
    if (!request.thumbnail.isEmpty()) {
        probe(QStringLiteral("tq"), "src", kBuffersAndEvents, thumbnailGate, &frame);
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = thumbnailSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(element("thumb")), &callbacks, &frame, nullptr);
    }
    Progress progress;
    probe(QStringLiteral("vq"), "src", kBuffersAndEvents, videoProgress, &progress);
    if (request.movie.hasAudio)
        probe(QStringLiteral("aq"), "src", kBuffersAndEvents, audioProgress, &progress);

    const qint64 total = qint64(request.movie.seconds * 1000);
    control.setTotal(total > 0 ? total : 0);
    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return fail(request.source, QStringLiteral("the conversion could not start"));

    GstBus *bus = gst_element_get_bus(pipeline.get());
    qint64 reported = 0;
    QString error;
    bool done = false;
    while (!done) {
        if (control.stopRequested()) {
            outcome.stopped = true;
            break;
        }
        GstMessage *msg = gst_bus_timed_pop_filtered(
            bus, 100 * GST_MSECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR | GST_MESSAGE_ELEMENT));
        const qint64 now = std::min(progress.videoMs.load(), total);
        if (now > reported) {
            control.advance(now - reported);
            reported = now;
        }
        if (!msg)
            continue;
        switch (GST_MESSAGE_TYPE(msg)) {
        case GST_MESSAGE_EOS:
            done = true;
            break;
        case GST_MESSAGE_ERROR: {
            GError *e = nullptr;
            gst_message_parse_error(msg, &e, nullptr);
            error = takeError(e);
            done = true;
            break;
        }
        default:
            if (gst_is_missing_plugin_message(msg)) {
                gchar *what = gst_missing_plugin_message_get_description(msg);
                error = QStringLiteral("a GStreamer plug-in is not installed: %1").arg(QString::fromUtf8(what));
                g_free(what);
                done = true;
            }
            break;
        }
        gst_message_unref(msg);
    }
    gst_object_unref(bus);
    // Nothing streams into the outputs after this.
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    if (outcome.stopped)
        return outcome; // the outputs' destructors take their temporary files away
    for (const auto &out : outputs) {
        // A write or an encoder that failed says more than the pipeline's error does.
        if (out->failed) {
            if (!out->sparkError.isEmpty())
                return fail(request.source, out->sparkError);
            const QString why = out->file.errorString().isEmpty() ? out->flv.error() : out->file.errorString();
            return fail(out->file.path(), why);
        }
    }
    if (!error.isEmpty())
        return fail(request.source, error);
    for (const auto &out : outputs) {
        out->flv.setPictureSize(QSize(out->width, out->height));
        if (!out->flv.finish())
            return fail(out->file.path(), out->flv.error());
        if (out->flv.frames() == 0)
            return fail(request.source, QStringLiteral("no picture came out of the movie"));
    }
    outcome.statedMs = total;
    outcome.endsAtMs = std::max(progress.videoMs.load(), progress.audioMs.load());
    // Stop still counts up to here; once the files take their names the
    // work is done.
    if (control.stopRequested()) {
        outcome.stopped = true;
        return outcome;
    }
    for (const auto &out : outputs) {
        if (!out->file.commit()) {
            outcome.removeFiles();
            return fail(out->file.path(), out->file.errorString());
        }
        outcome.streams.append({out->file.path(), out->flv.pictureSize(), out->flv.bitrate()});
    }
    std::stable_sort(outcome.streams.begin(), outcome.streams.end(),
                     [](const ConvertedStream &a, const ConvertedStream &b) { return a.bitrate > b.bitrate; });
    QImage thumbnail;
    {
        std::lock_guard lock(frame.mutex);
        thumbnail = frame.image;
    }
    if (thumbnail.isNull() && !request.thumbnail.isEmpty())
        thumbnail = thumbnailBefore(frame);
    // Without a frame the video gets the placeholder; a frame that cannot
    // be written fails the run, as the placeholder could not be written either.
    const QByteArray jpeg = request.thumbnail.isEmpty() ? QByteArray()
                                                        : videoThumbnailJPEG(thumbnail, request.thumbnailSize.width(),
                                                                             request.thumbnailSize.height(),
                                                                             request.thumbnailQuality);
    if (!jpeg.isEmpty()) {
        const WriteResult written = FileWriter::writeFile(request.thumbnail, jpeg, FileWriter::Mode::CreateNew);
        if (!written.ok()) {
            outcome.removeFiles();
            return fail(written.path, written.reason);
        }
        outcome.thumbnail = request.thumbnail;
    }
    return outcome;
}

} // namespace qm
