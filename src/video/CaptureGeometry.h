#pragma once

#include <QRect>
#include <QSize>

namespace qm {

// The player shows a movie at its own pixel size, centred in an area of
// 600 x 400 whose lower edge lies 70 pixels above the player's lower edge.
// A dimension larger than the area is captured over the area's extent.
struct CaptureGeometry
{
    static constexpr int kAreaWidth = 600;
    static constexpr int kAreaHeight = 400;
    static constexpr int kBottomMargin = 70;

    int width = 0;
    int height = 0;
    int offsetX = 0; // from the area's left edge
    int offsetY = 0; // from the area's lower edge, upwards
};

CaptureGeometry captureGeometry(int movieWidth, int movieHeight);

// The capture rectangle inside a player of `viewSize`, in the player's own
// top-left coordinates.
QRect captureRectInView(QSize viewSize, int movieWidth, int movieHeight);

// Where a frame of that size is drawn (it may reach past the area, which
// clips it), in the same coordinates.
QRect frameRectInView(QSize viewSize, QSize frameSize);

// The area itself.
QRect playerAreaInView(QSize viewSize);

} // namespace qm
