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

QByteArray amfStrictArray(const QList<double> &values)
{
    QByteArray b(5, '\0');
    b[0] = 0x0a; // strict array
    qToBigEndian(quint32(values.size()), b.data() + 1);
    for (double v : values)
        b += amfNumber(v);
    return b;
}

const QByteArray kObjectEnd("\x00\x00\x09", 3);

// What the head says beyond the header's own figures.
struct Figures
{
    double duration = 0;
    double videoKbps = 0;
    double audioKbps = 0;
    double fileSize = 0;
    QList<double> keyTimes;
    QList<double> keyPositions;
};

QByteArray buildHead(const FLVStreamWriter::Header &h, const Figures &f)
{
    QByteArray body;
    body += char(0x02);
    body += amfName("onMetaData");
    body += char(0x08); // ECMA array
    body += QByteArray(4, '\0');
    int properties = 0;
    auto number = [&](const char *name, double value) {
        body += amfName(name);
        body += amfNumber(value);
        ++properties;
    };
    auto boolean = [&](const char *name, bool value) {
        body += amfName(name);
        body += char(0x01);
        body += char(value ? 1 : 0);
        ++properties;
    };
    number("duration", f.duration);
    number("width", h.width);
    number("height", h.height);
    number("videodatarate", f.videoKbps);
    if (h.frameRate > 0)
        number("framerate", h.frameRate);
    number("videocodecid", h.videoCodecId);
    if (h.hasAudio) {
        number("audiodatarate", f.audioKbps);
        number("audiosamplerate", h.audioRate);
        number("audiosamplesize", 16);
        boolean("stereo", h.stereo);
        number("audiocodecid", h.audioCodecId);
    }
    number("filesize", f.fileSize);
    if (!f.keyTimes.isEmpty()) {
        // Last: long, and nothing the first kilobyte's scan looks for.
        boolean("hasKeyframes", true);
        body += amfName("keyframes");
        body += char(0x03); // object
        body += amfName("times");
        body += amfStrictArray(f.keyTimes);
        body += amfName("filepositions");
        body += amfStrictArray(f.keyPositions);
        body += kObjectEnd;
        ++properties;
    }
    body += kObjectEnd;
    qToBigEndian(quint32(properties), body.data() + 14);

    QByteArray out("FLV\x01", 4);
    out += char(h.hasAudio ? 0x05 : 0x01);
    out += QByteArray("\x00\x00\x00\x09" "\x00\x00\x00\x00", 8);
    QByteArray tag(kTagHeader, '\0');
    tag[0] = char(kScriptTag);
    tag[1] = char((body.size() >> 16) & 0xff);
    tag[2] = char((body.size() >> 8) & 0xff);
    tag[3] = char(body.size() & 0xff);
    out += tag;
    out += body;
    QByteArray trailer(4, '\0');
    qToBigEndian(quint32(kTagHeader + body.size()), trailer.data());
    out += trailer;
    return out;
}

// Samples in one compressed sound frame.
int samplesPerFrame(const FLVStreamWriter::Header &h)
{
    if (h.audioCodecId == 10)
        return 1024;
    return h.audioRate >= 32000 ? 1152 : 576; // MPEG-1 or MPEG-2 layer III
}

} // namespace

FLVStreamWriter::FLVStreamWriter(FileWriter &out, const Header &header)
    : m_out(out)
    , m_header(header)
{
}

void FLVStreamWriter::setPictureSize(QSize size)
{
    if (size.isEmpty())
        return;
    m_header.width = size.width();
    m_header.height = size.height();
}

int FLVStreamWriter::bitrate() const
{
    const int sum = truncateToInt(m_videoKbps) + truncateToInt(m_audioKbps);
    return sum > 0 || m_videoBytes + m_audioBytes == 0 ? sum : 1;
}

bool FLVStreamWriter::fail(const QString &why)
{
    if (m_error.isEmpty())
        m_error = why;
    return false;
}

bool FLVStreamWriter::append(QByteArrayView bytes)
{
    if (!m_error.isEmpty())
        return false;
    if (m_headSize < 0) {
        // The head before anything is known; finish() writes the figures.
        const QByteArray first = buildHead(m_header, {});
        if (!m_out.write(first))
            return fail(m_out.errorString());
        m_headSize = first.size();
    }
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
        if (body < 1)
            return true;
        bool picture = true;
        qint64 pts = ms;
        if ((t[11] & 0x0f) == 7) {
            // AVC: a sequence header or the end of the sequence holds no
            // picture; a picture is shown its composition offset after its time.
            picture = body >= 5 && t[12] == 1;
            if (picture)
                pts += qint32((quint32(t[13]) << 24) | (quint32(t[14]) << 16) | (quint32(t[15]) << 8)) >> 8;
        } else if (body == 1) {
            return true; // a frame of nothing: the muxer's closing tag
        }
        if (picture) {
            m_firstPts = m_frames == 0 ? pts : std::min(m_firstPts, pts);
            m_lastPts = std::max(m_lastPts, pts);
            ++m_frames;
            if ((t[11] >> 4) == 1) {
                m_keyTimes << double(ms) / 1000.0;
                m_keyPositions << m_out.written() - m_headSize;
            }
        }
        m_videoBytes += body;
    } else if (type == kAudioTag && body >= 1) {
        if (!((t[11] >> 4) == 10 && body >= 2 && t[12] == 0)) // not AAC's configuration
            m_lastAudioMs = std::max(m_lastAudioMs, ms);
        m_audioBytes += body;
    }
    if (!m_out.write(tag))
        return fail(m_out.errorString());
    return true;
}

bool FLVStreamWriter::finish()
{
    if (!m_error.isEmpty())
        return false;
    if (m_headSize < 0 && !append({}))
        return false;
    if (!m_pending.isEmpty())
        return fail(QStringLiteral("the muxer's output ends inside a tag"));
    // The last picture lasts one frame, the last sound frame its samples.
    double frameMs = 40;
    if (m_header.frameRate > 0)
        frameMs = 1000.0 / m_header.frameRate;
    else if (m_frames > 1)
        frameMs = double(m_lastPts - m_firstPts) / (m_frames - 1);
    double seconds = m_frames > 0 ? (double(m_lastPts) + frameMs) / 1000.0 : 0.0;
    if (m_lastAudioMs >= 0 && m_header.audioRate > 0)
        seconds = std::max(seconds, (double(m_lastAudioMs) + 1000.0 * samplesPerFrame(m_header) / m_header.audioRate)
                                        / 1000.0);
    m_seconds = seconds;
    if (seconds > 0) {
        m_videoKbps = double(m_videoBytes) * 8 / 1000.0 / seconds;
        m_audioKbps = double(m_audioBytes) * 8 / 1000.0 / seconds;
    }

    // The head with the index, whose positions count from the file's start;
    // its size does not depend on the figures in it.
    const qint64 tags = m_out.written() - m_headSize;
    Figures f{seconds, m_videoKbps, m_audioKbps, 0, m_keyTimes, QList<double>(m_keyTimes.size(), 0.0)};
    const qint64 headSize = buildHead(m_header, f).size();
    for (int i = 0; i < m_keyPositions.size(); ++i)
        f.keyPositions[i] = double(headSize + m_keyPositions.at(i));
    f.fileSize = double(headSize + tags);
    const qint64 grow = headSize - m_headSize;
    if (grow < 0)
        return fail(QStringLiteral("the head shrank"));
    // The tags move back to make room, the last piece first.
    if (grow > 0 && !m_out.write(QByteArray(grow, '\0')))
        return fail(m_out.errorString());
    constexpr qint64 kPiece = 4 << 20;
    for (qint64 end = tags; grow > 0 && end > 0;) {
        const qint64 length = std::min(kPiece, end);
        const qint64 start = end - length;
        const QByteArray piece = m_out.readAt(m_headSize + start, length);
        if (piece.size() != length || !m_out.writeAt(headSize + start, piece))
            return fail(m_out.errorString());
        end = start;
    }
    if (!m_out.writeAt(0, buildHead(m_header, f)))
        return fail(m_out.errorString());
    m_headSize = headSize;
    return true;
}

} // namespace qm
