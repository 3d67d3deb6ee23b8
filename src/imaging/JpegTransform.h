#pragma once

#include <QByteArray>
#include <QString>

namespace qm {

// Turns a JPEG a quarter turn without decoding it: the compressed blocks
// are rearranged (TurboJPEG's lossless transform), so no generation of
// JPEG loss is added. The picture comes out upright in its pixels: an EXIF
// orientation it carried is applied in the same step and set to "upright".
// Where a side is not a whole number of blocks (8 or 16 pixels), the blocks
// of the edge that cannot be moved are left out: the picture loses those
// few pixels rather than gaining loss everywhere. Safe from any thread.
class JpegTransform
{
public:
    struct Result
    {
        QByteArray jpeg;   // empty on failure
        QString error;     // why it failed
        int trimmed = 0;   // pixels left out at one edge
        bool ok() const { return !jpeg.isEmpty(); }
    };

    // `quarterTurns` clockwise: 1 right, -1 left, 2 upside down.
    static Result turn(const QByteArray &jpeg, int quarterTurns);
};

} // namespace qm
