#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace qm {

class FileWriter;

// Passes a muxer's FLV byte stream (in pieces of any size) into a file,
// with an onMetaData tag of our own at its head in place of the muxer's:
// width, height, duration, the video and audio data rates, frame rate,
// codecs and file size, all within the first kilobyte where readFLVMetadata
// looks. The figures only known at the end are measured from the tags that
// went through and written into the head by finish().
class FLVStreamWriter
{
public:
    struct Header
    {
        int width = 0;
        int height = 0;
        double frameRate = 0; // 0: not written
        int videoCodecId = 7; // 2 Sorenson Spark, 7 AVC
        bool hasAudio = false;
        int audioCodecId = 10; // 2 MP3, 10 AAC
        int audioRate = 44100;
        bool stereo = true;
    };

    FLVStreamWriter(FileWriter &out, const Header &header);

    bool append(QByteArrayView bytes);
    // Writes the measured figures into the head; the caller commits.
    bool finish();

    double seconds() const { return m_seconds; }
    int videoKbps() const { return m_videoKbps; }
    int audioKbps() const { return m_audioKbps; }
    // As readFLVMetadata adds them up.
    int bitrate() const { return m_videoKbps + m_audioKbps; }
    // A malformed stream from the muxer; empty while all is well.
    const QString &error() const { return m_error; }

    // The head alone: FLV header and the onMetaData tag, placeholders 0.
    static QByteArray head(const Header &header);

private:
    bool writeHead();
    bool take(const QByteArray &tag);
    bool fail(const QString &why);

    FileWriter &m_out;
    Header m_header;
    QByteArray m_pending;
    bool m_skippedHeader = false;
    bool m_wroteHead = false;
    qint64 m_videoBytes = 0;
    qint64 m_audioBytes = 0;
    qint64 m_lastVideoMs = -1;
    qint64 m_lastAudioMs = -1;
    double m_seconds = 0;
    int m_videoKbps = 0;
    int m_audioKbps = 0;
    QString m_error;
};

} // namespace qm
