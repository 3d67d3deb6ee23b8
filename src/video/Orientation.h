#pragma once

#include <QImage>
#include <QString>

#include <optional>

class QPainter;
class QRectF;

namespace qm {

// How a stored picture is turned to be seen as it was filmed: the eight
// turns and mirrors a display matrix can hold. A phone held upright stores
// its picture lying on its side and says Clockwise; a front camera's picture
// may be Mirrored.
enum class Orientation {
    Upright,
    Clockwise,        // a quarter turn to the right
    UpsideDown,
    CounterClockwise, // a quarter turn to the left
    Mirrored,         // left and right swapped
    Flipped,          // top and bottom swapped
    Transposed,       // mirrored across the upper-left to lower-right diagonal
    AntiTransposed,   // mirrored across the upper-right to lower-left diagonal
};

// A quarter turn (or a diagonal mirror): the shown picture's width is the
// stored one's height.
bool swapsSides(Orientation o);

// The value of videoflip's "video-direction" that shows the picture upright.
const char *videoDirection(Orientation o);

// The turn an ISO display matrix's upper 2 x 2 part (a, b, c, d, as stored:
// x' = a x + c y, y' = b x + d y, y downwards) stands for; nothing for a
// matrix that is not a multiple of a quarter turn or mirror.
std::optional<Orientation> orientationFromMatrix(double a, double b, double c, double d);

// A GStreamer "image-orientation" tag ("rotate-90", "flip-rotate-0", ...).
std::optional<Orientation> orientationFromTag(const QString &tag);

// The display matrix of a track of an ISO movie (MP4, MOV, M4V, 3GP): the
// track with that id, or the first video track for id 0. Nothing when the
// file is not one, has no such track, or the matrix is no known turn.
std::optional<Orientation> readTrackOrientation(const QString &path, quint32 trackId = 0);

// `stored` as it is to be shown.
QImage orientedImage(const QImage &stored, Orientation o);

// Draws a stored frame upright into `target` (whose shape is the upright
// picture's).
void drawOriented(QPainter &painter, const QRectF &target, const QImage &stored, Orientation o);

} // namespace qm
