#include "video/CaptureGeometry.h"

namespace qm {

CaptureGeometry captureGeometry(int movieWidth, int movieHeight)
{
    CaptureGeometry g;
    if (movieWidth > CaptureGeometry::kAreaWidth) {
        g.width = CaptureGeometry::kAreaWidth;
        g.offsetX = 0;
    } else {
        g.width = movieWidth;
        g.offsetX = (CaptureGeometry::kAreaWidth - movieWidth) / 2;
    }
    if (movieHeight > CaptureGeometry::kAreaHeight) {
        g.height = CaptureGeometry::kAreaHeight;
        g.offsetY = 0;
    } else {
        g.height = movieHeight;
        g.offsetY = (CaptureGeometry::kAreaHeight - movieHeight) / 2;
    }
    return g;
}

QRect captureRectInView(QSize viewSize, int movieWidth, int movieHeight)
{
    const CaptureGeometry g = captureGeometry(movieWidth, movieHeight);
    const int bottom = viewSize.height() - CaptureGeometry::kBottomMargin - g.offsetY; // exclusive, top-left coordinates
    return {g.offsetX, bottom - g.height, g.width, g.height};
}

QRect frameRectInView(QSize viewSize, QSize frameSize)
{
    // Offsets from the same halving as the capture, so the two always agree.
    const int offsetX = (CaptureGeometry::kAreaWidth - frameSize.width()) / 2;
    const int offsetY = (CaptureGeometry::kAreaHeight - frameSize.height()) / 2;
    const int bottom = viewSize.height() - CaptureGeometry::kBottomMargin - offsetY;
    return {offsetX, bottom - frameSize.height(), frameSize.width(), frameSize.height()};
}

QRect playerAreaInView(QSize viewSize)
{
    return {0, viewSize.height() - CaptureGeometry::kBottomMargin - CaptureGeometry::kAreaHeight,
            CaptureGeometry::kAreaWidth, CaptureGeometry::kAreaHeight};
}

} // namespace qm
