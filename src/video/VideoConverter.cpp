// GStreamer's headers first: GLib uses names that Qt defines as macros.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>
#include <gst/video/video.h>

#include "video/VideoConverter.h"

#include "storage/FileWriter.h"
#include "storage/Job.h"
#include "video/FLVStreamWriter.h"
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

QString takeError(GError *&err)
{
    const QString text = err ? QString::fromUtf8(err->message) : QStringLiteral("no reason given");
    g_clear_error(&err);
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

QString flipFor(const QString &orientation, bool *quarter)
{
    // The tag names the turn that shows the picture upright.
    static const struct
    {
        const char *tag;
        const char *method;
        bool quarter;
    } turns[] = {{"rotate-90", "clockwise", true},
                 {"rotate-180", "rotate-180", false},
                 {"rotate-270", "counterclockwise", true},
                 {"flip-rotate-0", "horizontal-flip", false},
                 {"flip-rotate-90", "upper-left-diagonal", true},
                 {"flip-rotate-180", "vertical-flip", false},
                 {"flip-rotate-270", "upper-right-diagonal", true}};
    for (const auto &t : turns) {
        if (orientation == QLatin1String(t.tag)) {
            *quarter = t.quarter;
            return QString::fromLatin1(t.method);
        }
    }
    *quarter = false;
    return QString();
}

QString orientationOf(const GstTagList *tags)
{
    gchar *value = nullptr;
    if (!tags || !gst_tag_list_get_string(tags, GST_TAG_IMAGE_ORIENTATION, &value))
        return QString();
    const QString text = QString::fromUtf8(value);
    g_free(value);
    return text;
}

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

// The frame for the thumbnail, taken as it passes.
struct ThumbnailFrame
{
    GstClockTime target = 0;
    std::atomic_bool passed{false};
    std::mutex mutex;
    QImage image;
};

GstPadProbeReturn thumbnailGate(GstPad *, GstPadProbeInfo *info, gpointer data)
{
    auto *frame = static_cast<ThumbnailFrame *>(data);
    GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (frame->passed || !buffer)
        return GST_PAD_PROBE_DROP;
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    if (GST_CLOCK_TIME_IS_VALID(pts) && pts < frame->target)
        return GST_PAD_PROBE_DROP;
    frame->passed = true;
    return GST_PAD_PROBE_OK;
}

GstFlowReturn thumbnailSample(GstAppSink *sink, gpointer data)
{
    auto *frame = static_cast<ThumbnailFrame *>(data);
    GstSample *sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_EOS;
    GstVideoInfo info;
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    GstVideoFrame video;
    if (buffer && gst_video_info_from_caps(&info, gst_sample_get_caps(sample))
        && gst_video_frame_map(&video, &info, buffer, GST_MAP_READ)) {
        const QImage view(static_cast<const uchar *>(GST_VIDEO_FRAME_PLANE_DATA(&video, 0)), info.width, info.height,
                          GST_VIDEO_FRAME_PLANE_STRIDE(&video, 0), QImage::Format_RGB32);
        std::lock_guard lock(frame->mutex);
        frame->image = view.copy();
        gst_video_frame_unmap(&video);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

// Where the movie has got to, for the progress bar.
GstPadProbeReturn progressProbe(GstPad *, GstPadProbeInfo *info, gpointer data)
{
    GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (buffer && GST_CLOCK_TIME_IS_VALID(GST_BUFFER_PTS(buffer)))
        static_cast<std::atomic<qint64> *>(data)->store(qint64(GST_BUFFER_PTS(buffer) / GST_MSECOND));
    if (const int delay = conversionDelay)
        QThread::msleep(delay);
    return GST_PAD_PROBE_OK;
}

void linkDecoded(GstElement *, GstPad *pad, gpointer data)
{
    auto *pipeline = static_cast<GstElement *>(data);
    GstCaps *caps = gst_pad_get_current_caps(pad);
    if (!caps)
        caps = gst_pad_query_caps(pad, nullptr);
    const gchar *kind = gst_structure_get_name(gst_caps_get_structure(caps, 0));
    const char *target = g_str_has_prefix(kind, "video/x-raw") ? "vq" : g_str_has_prefix(kind, "audio/x-raw") ? "aq" : nullptr;
    gst_caps_unref(caps);
    if (!target)
        return;
    GstElement *queue = gst_bin_get_by_name(GST_BIN(pipeline), target);
    if (!queue)
        return;
    GstPad *sink = gst_element_get_static_pad(queue, "sink");
    // The first stream of each kind; a second sound track is left out.
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

QString describePipeline(const ConversionRequest &r, const FrameRate &rate)
{
    const SourceMovie &m = r.movie;
    const ConversionSettings &s = r.settings;
    const bool h264 = s.codec == VideoCodec::H264;
    const int keyInterval = rate.num > 0 ? std::max(1, int(std::lround(2 * rate.value()))) : 50;
    // The encoders hold a second or two of frames before the first comes
    // out, and each muxer waits for both picture and sound: queues bounded
    // by time would fill up on one side and stop the other. Bounded by
    // memory instead (a few seconds of pictures, minutes of sound).
    const QString videoQueue = QStringLiteral("queue max-size-time=0 max-size-buffers=0 max-size-bytes=%1 ").arg(64 << 20);
    const QString soundQueue = QStringLiteral("queue max-size-time=0 max-size-buffers=0 max-size-bytes=%1 ").arg(32 << 20);
    QString d = QStringLiteral("filesrc name=src ! decodebin name=dec ");
    // One scale from the decoded picture to the largest stream, the smaller
    // streams from that: the big picture is read once.
    const QSize top = s.rungs.first().size;
    const QSize stored = m.quarterTurn ? top.transposed() : top;
    d += QStringLiteral("queue name=vq ");
    if (rate.num > 0)
        d += QStringLiteral("! videorate drop-only=true ! video/x-raw,framerate=%1/%2 ").arg(rate.num).arg(rate.den);
    d += QStringLiteral("! videoconvertscale n-threads=2 add-borders=false "
                        "! video/x-raw,format=I420,width=%1,height=%2,pixel-aspect-ratio=1/1 ")
             .arg(stored.width())
             .arg(stored.height());
    if (!m.flipMethod.isEmpty())
        d += QStringLiteral("! videoflip method=%1 ").arg(m.flipMethod);
    d += QStringLiteral("! tee name=vt ");
    for (int i = 0; i < s.rungs.size(); ++i) {
        const StreamRung &rung = s.rungs.at(i);
        d += QStringLiteral("vt. ! ") + videoQueue;
        if (rung.size != top)
            d += QStringLiteral("! videoconvertscale add-borders=false ! video/x-raw,width=%1,height=%2,pixel-aspect-ratio=1/1 ")
                     .arg(rung.size.width())
                     .arg(rung.size.height());
        if (h264)
            d += QStringLiteral("! x264enc bitrate=%1 key-int-max=%2 speed-preset=medium ! video/x-h264,profile=main "
                                "! h264parse ")
                     .arg(rung.videoKbps)
                     .arg(keyInterval);
        else
            d += QStringLiteral("! avenc_flv bitrate=%1 gop-size=%2 ").arg(rung.videoKbps * 1000).arg(keyInterval);
        d += QStringLiteral("! flvmux name=mux%1 streamable=true ! appsink name=out%1 sync=false ").arg(i);
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
        gst_discoverer_stream_info_list_free(audio);
        GList *videos = gst_discoverer_info_get_video_streams(info);
        for (GList *l = videos; l; l = l->next) {
            auto *v = GST_DISCOVERER_VIDEO_INFO(l->data);
            if (gst_discoverer_video_info_is_image(v))
                continue; // cover art of a sound file
            int width = int(gst_discoverer_video_info_get_width(v));
            const int height = int(gst_discoverer_video_info_get_height(v));
            const guint parN = gst_discoverer_video_info_get_par_num(v);
            const guint parD = gst_discoverer_video_info_get_par_denom(v);
            if (parN > 0 && parD > 0 && parN != parD)
                width = int(std::lround(double(width) * parN / parD));
            QString orientation = orientationOf(gst_discoverer_stream_info_get_tags(GST_DISCOVERER_STREAM_INFO(v)));
            if (orientation.isEmpty())
                orientation = orientationOf(gst_discoverer_info_get_tags(info));
            m.flipMethod = flipFor(orientation, &m.quarterTurn);
            m.frameSize = m.quarterTurn ? QSize(height, width) : QSize(width, height);
            m.frameRateNum = int(gst_discoverer_video_info_get_framerate_num(v));
            m.frameRateDen = std::max(1, int(gst_discoverer_video_info_get_framerate_denom(v)));
            m.hasVideo = !m.frameSize.isEmpty();
            break;
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
                          {"flvmux", "gstreamer1.0-plugins-good"}};
    if (codec == VideoCodec::H264)
        needed += QList<Element>{{"x264enc", "gstreamer1.0-plugins-ugly"}, {"h264parse", "gstreamer1.0-plugins-bad"}};
    else
        needed += QList<Element>{{"avenc_flv", "gstreamer1.0-libav"}};
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
    auto element = [bin](const char *name) {
        GstElement *e = gst_bin_get_by_name(bin, name);
        if (e)
            gst_object_unref(e); // the bin keeps it
        return e;
    };
    g_object_set(element("src"), "location", QFile::encodeName(request.source).constData(), nullptr);
    g_signal_connect(element("dec"), "pad-added", G_CALLBACK(linkDecoded), pipeline.get());

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
        if (!outputs.back()->file.open())
            return fail(request.outputs.at(i), outputs.back()->file.errorString());
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = outputSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(element(QStringLiteral("out%1").arg(i).toLatin1().constData())),
                                   &callbacks, outputs.back().get(), nullptr);
    }
    ThumbnailFrame frame;
    frame.target = GstClockTime(request.movie.seconds / 3.0 * GST_SECOND);
    if (!request.thumbnail.isEmpty()) {
        GstPad *gate = gst_element_get_static_pad(element("tq"), "src");
        gst_pad_add_probe(gate, GST_PAD_PROBE_TYPE_BUFFER, thumbnailGate, &frame, nullptr);
        gst_object_unref(gate);
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = thumbnailSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(element("thumb")), &callbacks, &frame, nullptr);
    }
    std::atomic<qint64> position{0};
    {
        GstPad *pad = gst_element_get_static_pad(element("vq"), "src");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, progressProbe, &position, nullptr);
        gst_object_unref(pad);
    }

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
        const qint64 now = std::min(position.load(), total);
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
        // A write that failed says more than the pipeline's error does.
        if (out->failed) {
            const QString why = out->file.errorString().isEmpty() ? out->flv.error() : out->file.errorString();
            return fail(out->file.path(), why);
        }
    }
    if (!error.isEmpty())
        return fail(request.source, error);
    for (const auto &out : outputs) {
        if (!out->flv.finish())
            return fail(out->file.path(), out->flv.error());
        if (out->flv.videoKbps() <= 0)
            return fail(request.source, QStringLiteral("no picture came out of the movie"));
    }
    // Stop still counts up to here; once the files take their names the
    // work is done.
    if (control.stopRequested()) {
        outcome.stopped = true;
        return outcome;
    }
    for (int i = 0; i < int(outputs.size()); ++i) {
        Output &out = *outputs[size_t(i)];
        if (!out.file.commit()) {
            outcome.removeFiles();
            return fail(out.file.path(), out.file.errorString());
        }
        outcome.streams.append({out.file.path(), s.rungs.at(i).size, out.flv.bitrate()});
    }
    std::stable_sort(outcome.streams.begin(), outcome.streams.end(),
                     [](const ConvertedStream &a, const ConvertedStream &b) { return a.bitrate > b.bitrate; });
    QImage thumbnail;
    {
        std::lock_guard lock(frame.mutex);
        thumbnail = frame.image;
    }
    // Without a frame (a movie shorter than it said) the video gets the
    // placeholder; a frame that cannot be written fails the run, as the
    // placeholder could not be written either.
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
