#pragma once

#include "storage/FileWriter.h"

#include <QString>

namespace qm {

class Gallery;
class TreeNode;

// Makes the 60 x 40 thumbnail of an album or collection from a picture
// file: under the node's thumbnail name when it has one (the picture is
// replaced), under a fresh "albthumb_<key>.jpg" otherwise. A picture that
// cannot be made changes nothing and says why.
WriteResult makeNodeThumbnail(Gallery &gallery, TreeNode &node, const QString &source);

} // namespace qm
