#pragma once

#include <QByteArrayView>
#include <QDateTime>
#include <QString>

namespace qm {

// When a photo was taken, as the camera recorded it: EXIF DateTimeOriginal,
// else the TIFF DateTime. Read from header bytes only (a JPEG's APP1
// segment, or the IFDs of a TIFF file); the picture is never decoded. Every
// offset and count in the file is checked, so a damaged or forged header
// gives no date rather than a wrong one. Stateless; safe from any thread.
class ExifDate
{
public:
    // An invalid QDateTime when the file has no usable date. The camera's
    // clock time is given as UTC whatever the zone of this computer.
    static QDateTime dateTaken(const QString &path);

    // The same from bytes in memory: a whole JPEG or TIFF file, or its start.
    static QDateTime fromFileBytes(QByteArrayView bytes);
    // From a TIFF structure (what follows "Exif\0\0" in a JPEG's APP1).
    static QDateTime fromTiff(QByteArrayView tiff);
    // "YYYY:MM:DD HH:MM:SS" as EXIF writes it; a time that cannot be read
    // leaves midnight, a date that cannot be read gives nothing.
    static QDateTime parse(QByteArrayView ascii);
};

} // namespace qm
