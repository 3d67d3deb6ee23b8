#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QSize>
#include <QString>

namespace qm {

class FileWriter;

// Passes a muxer's FLV byte stream (in pieces of any size) into a file,
// with an onMetaData tag of our own at its head in place of the muxer's:
// width, height, duration, the video and audio data rates, frame rate,
// codecs and file size, all within the first kilobyte where readFLVMetadata
// looks, and last the index of keyframes ("keyframes": "times" in seconds,
// "filepositions" of their tags) that players seek by. What is only known
// at the end is measured from the tags that went through; finish() writes
// the head and moves the tags behind it.
//
// The muxer's closing video tag (a frame of nothing after the last picture)
// is left out for Sorenson Spark and not counted as a picture for H.264.
class FLVStreamWriter
{
public:
    struct Header
    {
        int width = 0; // what was asked; setPictureSize() gives what was encoded
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
    // The size of the pictures the encoder was given.
    void setPictureSize(QSize size);
    // Writes the head with the measured figures; the caller commits.
    bool finish();

    double seconds() const { return m_seconds; }
    double videoKbps() const { return m_videoKbps; }
    double audioKbps() const { return m_audioKbps; }
    // As readFLVMetadata adds the rates up, but at least 1 once anything
    // was written: a still picture's few bytes a second are still a stream.
    int bitrate() const;
    // Pictures written (the muxer's sequence headers and closing tags aside).
    int frames() const { return m_frames; }
    QSize pictureSize() const { return {m_header.width, m_header.height}; }
    // A malformed stream from the muxer; empty while all is well.
    const QString &error() const { return m_error; }

private:
    bool take(const QByteArray &tag);
    bool fail(const QString &why);

    FileWriter &m_out;
    Header m_header;
    QByteArray m_pending;
    qint64 m_headSize = -1; // -1 until the first head is written
    bool m_skippedHeader = false;
    qint64 m_videoBytes = 0;
    qint64 m_audioBytes = 0;
    int m_frames = 0;
    qint64 m_firstPts = -1;
    qint64 m_lastPts = -1; // the latest picture's presentation time
    qint64 m_lastAudioMs = -1;
    QList<double> m_keyTimes;        // seconds
    QList<qint64> m_keyPositions;    // from the end of the head
    double m_seconds = 0;
    double m_videoKbps = 0;
    double m_audioKbps = 0;
    QString m_error;
};

} // namespace qm
