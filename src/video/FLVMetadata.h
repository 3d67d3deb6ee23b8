#pragma once

#include <QByteArray>
#include <QString>

namespace qm {

// Width, height and total data rate (kbit/s) from the first kilobyte of an
// FLV file. Width and height change only when the file names them; the
// bitrate is always set (0 when no rate is found or the file cannot be read).
void readFLVMetadata(const QString &path, int &width, int &height, int &bitrate);

// The name scan itself: examines start offsets 0 .. offsets-1 of `bytes`, and
// only those whose name and 8-byte value lie wholly inside `bytes`.
void scanFLVMetadata(const QByteArray &bytes, int offsets, int &width, int &height, int &bitrate);

// Truncation toward zero that stays defined for any double: NaN gives 0,
// values beyond the int range give its nearest end.
int truncateToInt(double value);

// What the player learns from the whole first "onMetaData" tag, wherever it
// lies in the first tags of the file (not only in the first kilobyte).
struct FLVTagMetadata
{
    bool found = false; // an onMetaData tag was read
    int width = 0;      // 0 when absent
    int height = 0;
    int bitrate = 0;    // video + audio rate, each truncated; 0 when absent
};
FLVTagMetadata readFLVTagMetadata(const QString &path);

// The movie's length in milliseconds from the container itself: the
// timestamp of its last tag, found through the size that ends the file.
// 0 when the file does not end on a whole tag.
qint64 flvDurationMs(const QString &path);

// The data rate in kbit/s of `bytes` played over `ms` milliseconds, at most
// the int range (a reported length can be absurdly short); 0 when either is
// unknown.
int bitrateFromSize(qint64 bytes, qint64 ms);

// The total data rate in kbit/s worked out from the file's size and its
// length, for files whose metadata gives no rates. The length is the
// container's own, else `fallbackMs` (what a player reports); 0 when neither
// is known.
int estimatedFLVBitrate(const QString &path, qint64 fallbackMs = 0);

// What an FLV file holds, from its header and its first tags.
struct FLVContent
{
    bool isFLV = false;  // an FLV header
    int videoCodec = -1; // the codec id of its pictures; -1 when none were found
    int audioCodec = -1; // the codec id of its sound; -1 when none was found
    // Holds something, and only codecs every Flash player of this gallery
    // plays: Sorenson Spark, VP6 or H.264 pictures, MP3 or AAC sound.
    bool flashPlays() const;
    // "H.264 with MP3 sound", "sound only (Nellymoser)".
    QString codecs() const;
};
FLVContent readFLVContent(const QString &path);

} // namespace qm
