#pragma once

#include <QByteArray>
#include <QImage>

namespace qm {

// What the thumbnail window starts with while nothing is stored.
constexpr int kDefaultVideoThumbWidth = 120;
constexpr int kDefaultVideoThumbHeight = 90;
constexpr int kDefaultVideoThumbQuality = 80;

QByteArray encodeJPEG(const QImage &image, int quality);

// The thumbnail the thumbnail window makes of `frame` when its rectangle is
// left where it starts (the largest of the width : height shape, centred),
// scaled to `width`. Empty for a null frame or a size of nothing.
QByteArray videoThumbnailJPEG(const QImage &frame, int width, int height, int quality);

} // namespace qm
