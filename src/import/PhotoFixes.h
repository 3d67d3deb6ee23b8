#pragma once

#include "import/PhotoImportWorker.h"
#include "storage/Gallery.h"

namespace qm {

// What each fix of a photo's picture does with its files, for
// Gallery::changePictures: the new files are written under the names given,
// and what was written is taken back when a file fails.
namespace PhotoFixes {

// A quarter turn of each of the photo's files (1 right, -1 left), without
// loss (JpegTransform).
Gallery::PictureMaker turn(int quarterTurns);
// The photo's picture made from another file, in the sizes of `settings`.
Gallery::PictureMaker replace(const QString &source, const PhotoImportSettings &settings);
// The sizes made again with new settings, from the largest file the photo
// has; it says when a size could only be made from a smaller file.
Gallery::PictureMaker remake(const PhotoImportSettings &settings);

} // namespace PhotoFixes
} // namespace qm
