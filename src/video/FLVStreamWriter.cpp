#include "video/FLVStreamWriter.h"

#include "storage/FileWriter.h"
#include "video/FLVMetadata.h"

#include <QtEndian>

#include <cmath>
#include <cstring>

namespace qm {

namespace {

constexpr int kFileHeader = 9 + 4; // "FLV", version, flags, offset; previous tag size 0
constexpr int kTagHeader = 11;
constexpr int kTagTrailer = 4;
constexpr int kAudioTag = 8;
constexpr int kVideoTag = 9;
constexpr int kScriptTag = 18;

QByteArray amfNumber(double value)
{
    quint64 bits;
    std::memcpy(&bits, &value, 8);
    QByteArray b(9, '\0');
    b[0] = 0x00; // number
    qToBigEndian(bits, b.data() + 1);
    return b;
}

QByteArray amfName(const char *name)
{
    const auto n = quint16(std::strlen(name));
    QByteArray b(2, '\0');
    qToBigEndian(n, b.data());
    return b + QByteArray(name, n);
}

// Where each patched figure's 8 bytes lie in the head.
struct Layout
{
    QByteArray bytes;
    int duration = -1;
    int videoRate = -1;
    int audioRate = -1;
    int fileSize = -1;
};

Layout buildHead(const FLVStreamWriter::Header &h)
{
    QByteArray body;
    body += char(0x02);
    body += amfName("onMetaData");
    body += char(0x08); // ECMA array
    QByteArray count(4, '\0');
    body += count;
    int properties = 0;
    Layout layout;
    // Offsets are found relative to the body, then moved to the file.
    auto number = [&](const char *name, double value) {
        body += amfName(name);
        const int at = int(body.size()) + 1;
        body += amfNumber(value);
        ++properties;
        return at;
    };
    auto boolean = [&](const char *name, bool value) {
        body += amfName(name);
        body += char(0x01);
        body += char(value ? 1 : 0);
        ++properties;
    };
    layout.duration = number("duration", 0);
    number("width", h.width);
    number("height", h.height);
    layout.videoRate = number("videodatarate", 0);
    if (h.frameRate > 0)
        number("framerate", h.frameRate);
    number("videocodecid", h.videoCodecId);
    if (h.hasAudio) {
        layout.audioRate = number("audiodatarate", 0);
        number("audiosamplerate", h.audioRate);
        number("audiosamplesize", 16);
        boolean("stereo", h.stereo);
        number("audiocodecid", h.audioCodecId);
    }
    layout.fileSize = number("filesize", 0);
    body += QByteArray("\x00\x00\x09", 3);
    qToBigEndian(quint32(properties), body.data() + 14);

    QByteArray out("FLV\x01", 4);
    out += char(h.hasAudio ? 0x05 : 0x01);
    out += QByteArray("\x00\x00\x00\x09" "\x00\x00\x00\x00", 8);
    QByteArray tag(kTagHeader, '\0');
    tag[0] = char(kScriptTag);
    tag[1] = char((body.size() >> 16) & 0xff);
    tag[2] = char((body.size() >> 8) & 0xff);
    tag[3] = char(body.size() & 0xff);
    const int bodyStart = int(out.size()) + kTagHeader;
    out += tag;
    out += body;
    QByteArray trailer(4, '\0');
    qToBigEndian(quint32(kTagHeader + body.size()), trailer.data());
    out += trailer;
    for (int *at : {&layout.duration, &layout.videoRate, &layout.audioRate, &layout.fileSize})
        if (*at >= 0)
            *at += bodyStart;
    layout.bytes = out;
    return layout;
}

QByteArray numberBytes(double value)
{
    return amfNumber(value).mid(1);
}

} // namespace

FLVStreamWriter::FLVStreamWriter(FileWriter &out, const Header &header)
    : m_out(out)
    , m_header(header)
{
}

QByteArray FLVStreamWriter::head(const Header &header)
{
    return buildHead(header).bytes;
}

bool FLVStreamWriter::fail(const QString &why)
{
    if (m_error.isEmpty())
        m_error = why;
    return false;
}

bool FLVStreamWriter::writeHead()
{
    m_wroteHead = true;
    return m_out.write(buildHead(m_header).bytes);
}

bool FLVStreamWriter::append(QByteArrayView bytes)
{
    if (!m_error.isEmpty())
        return false;
    if (!m_wroteHead && !writeHead())
        return fail(m_out.errorString());
    m_pending.append(bytes.data(), bytes.size());
    if (!m_skippedHeader) {
        if (m_pending.size() < kFileHeader)
            return true;
        if (!m_pending.startsWith("FLV"))
            return fail(QStringLiteral("the muxer's output is not FLV"));
        const quint32 offset = qFromBigEndian<quint32>(m_pending.constData() + 5);
        if (offset < 9 || offset > 1024)
            return fail(QStringLiteral("the muxer's output is not FLV"));
        if (m_pending.size() < qsizetype(offset) + 4)
            return true;
        m_pending.remove(0, offset + 4);
        m_skippedHeader = true;
    }
    // Whole tags only; a tag is at most 16 MB, so the rest waits here.
    qsizetype at = 0;
    bool ok = true;
    while (ok && m_pending.size() - at >= kTagHeader) {
        const auto *t = reinterpret_cast<const uchar *>(m_pending.constData() + at);
        const qsizetype body = (qsizetype(t[1]) << 16) | (qsizetype(t[2]) << 8) | t[3];
        const qsizetype whole = kTagHeader + body + kTagTrailer;
        if (m_pending.size() - at < whole)
            break;
        ok = take(m_pending.mid(at, whole));
        at += whole;
    }
    m_pending.remove(0, at);
    return ok;
}

bool FLVStreamWriter::take(const QByteArray &tag)
{
    const auto *t = reinterpret_cast<const uchar *>(tag.constData());
    const int type = t[0] & 0x1f;
    const qsizetype body = tag.size() - kTagHeader - kTagTrailer;
    const qint64 ms = (qint64(t[7]) << 24) | (qint64(t[4]) << 16) | (qint64(t[5]) << 8) | t[6];
    if (type == kScriptTag)
        return true; // ours stands at the head
    if (type == kVideoTag) {
        m_videoBytes += body;
        m_lastVideoMs = std::max(m_lastVideoMs, ms);
    } else if (type == kAudioTag) {
        m_audioBytes += body;
        m_lastAudioMs = std::max(m_lastAudioMs, ms);
    }
    if (!m_out.write(tag))
        return fail(m_out.errorString());
    return true;
}

bool FLVStreamWriter::finish()
{
    if (!m_error.isEmpty())
        return false;
    if (!m_wroteHead && !writeHead())
        return fail(m_out.errorString());
    if (!m_pending.isEmpty())
        return fail(QStringLiteral("the muxer's output ends inside a tag"));
    // The last frame lasts as long as one frame; the last sound packet about
    // 24 ms (1024 or 1152 samples at 44.1 kHz).
    const double frame = m_header.frameRate > 0 ? 1.0 / m_header.frameRate : 0.04;
    double seconds = 0;
    if (m_lastVideoMs >= 0)
        seconds = m_lastVideoMs / 1000.0 + frame;
    if (m_lastAudioMs >= 0)
        seconds = std::max(seconds, m_lastAudioMs / 1000.0 + 0.024);
    m_seconds = seconds;
    if (seconds > 0) {
        m_videoKbps = truncateToInt(m_videoBytes * 8 / 1000.0 / seconds);
        m_audioKbps = truncateToInt(m_audioBytes * 8 / 1000.0 / seconds);
    }
    const Layout layout = buildHead(m_header);
    bool ok = m_out.writeAt(layout.duration, numberBytes(seconds))
              && m_out.writeAt(layout.videoRate, numberBytes(m_videoKbps))
              && m_out.writeAt(layout.fileSize, numberBytes(double(m_out.written())));
    if (ok && layout.audioRate >= 0)
        ok = m_out.writeAt(layout.audioRate, numberBytes(m_audioKbps));
    return ok || fail(m_out.errorString());
}

} // namespace qm
