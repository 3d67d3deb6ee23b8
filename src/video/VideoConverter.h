#pragma once

#include "video/ConversionLadder.h"

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

namespace qm {

class JobControl;

// What a movie holds, or why it cannot be converted.
struct MovieProbe
{
    SourceMovie movie;
    QString error;
    bool ok() const { return error.isEmpty(); }
};
MovieProbe probeMovie(const QString &path);

// The GStreamer elements a conversion needs that are not installed, each
// as "element (Debian package)". Empty when everything is there.
QStringList missingPlugins(VideoCodec codec, bool withAudio);

struct ConversionRequest
{
    QString source;
    SourceMovie movie;
    ConversionSettings settings;
    QStringList outputs; // one new FLV per rung
    QString thumbnail;   // a new JPEG of a frame a third of the way in; empty: none
    QSize thumbnailSize{120, 90};
    int thumbnailQuality = 80;
};

struct ConvertedStream
{
    QString path;
    QSize size;      // of the pictures encoded
    int bitrate = 0; // kbit/s, as the file's metadata gives it
};

struct ConversionOutcome
{
    QList<ConvertedStream> streams; // every file written, highest bitrate first
    QString thumbnail;              // written, or empty when no frame came
    QString error;                  // why nothing was made
    QString errorPath;              // the file it concerns
    bool stopped = false;
    // Where the movie's pictures and sound ended, and the length it states:
    // a file cut short ends well before it.
    qint64 endsAtMs = 0;
    qint64 statedMs = 0;
    bool ok() const { return error.isEmpty() && !stopped; }
    bool endsEarly() const;
    // Takes back what was written: for a result that is not used after all.
    void removeFiles();
};

// Decodes the source once and makes every stream of the ladder from it,
// each FLV written through FileWriter and committed only when the whole
// run has succeeded: a stopped or failed run leaves no file behind. Runs on
// the job's thread; progress counts milliseconds of the movie. Interlaced
// pictures are deinterlaced and turned pictures set upright first. A run
// succeeds when pictures were written, however few; one that ended early
// says so through endsEarly() and its files stay for the caller to keep or
// take back.
ConversionOutcome convertMovie(const ConversionRequest &request, JobControl &control);

// Slows a conversion down so that tests can stop one in the middle.
void setConversionDelayForTesting(int millisecondsPerFrame);

} // namespace qm
