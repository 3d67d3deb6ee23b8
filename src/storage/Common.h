#pragma once

#include <QString>

#include <functional>

namespace qm {

class Common
{
public:
    // Decimal text of `number`, left-padded with "0" to at least `digits`; never cut.
    static QString paddedStringFromNumber(qint32 number, int digits);

    // A path that exists, is not a folder, and ends in one of the picture
    // extensions (compared lower-cased). The content is not looked at.
    static bool isValidImageFile(const QString &path);

    // The lower-cased text after the last "." of the last path component.
    static QString lowerExtension(const QString &path);
};

// Hundredths of a second since 2001-01-01 00:00:00 UTC, as generated file
// names use it. A clock set before 2001 gives 0 rather than wrapping.
quint64 timeKey();
// The key as file names write it: lower-case hex, no prefix, no leading zeros.
QString timeKeyString(quint64 key);
QString timeKeyString();

// Tests fix the clock; the function returns milliseconds since the Unix epoch.
void setClockForTesting(std::function<qint64()> clock);

// The process-lifetime album counter: starts at 1, one step per new album.
class AlbumCounter
{
public:
    // The digit for the next album (counter modulo 10), then counts on.
    static int takeDigit();
    static void resetForTesting();
};

// The first time key from now for which no photo file "img_<key>_*" is in
// the img folder: a run's names never overwrite a photo of an earlier run.
quint64 freePhotoKey(const QString &imgFolder);

// Generated file names.
QString albumFileName(quint64 key, int counterDigit);        // album_%qx%d.xml
QString photoBaseName(quint64 key, qint32 position);          // %qx_%@ with 4-digit position
QString photoFileName(const QString &base);                   // img_%@.jpg
QString photoSmallFileName(const QString &base);              // img_%@_sm.jpg
QString photoLargeFileName(const QString &base);              // img_%@_lg.jpg
QString thumbnailFileName(quint64 key);                       // albthumb_%qx.jpg
QString videoStreamFileName(quint64 key);                     // vstream_%qx.flv
QString videoThumbFileName(quint64 key);                      // vthumb_%qx.jpg

// A stored name may only name a file directly inside its folder: not empty,
// no path separator, not "." or "..", no NUL.
bool isBareFileName(const QString &name);

} // namespace qm
