#pragma once

#include <QString>

namespace qm {

class Preferences;
class TreeNode;

// Makes the 60 x 40 thumbnail of an album or collection from a picture
// file. The node keeps its thumbnail name when it has one (the picture is
// replaced) and gets a fresh "albthumb_<key>.jpg" otherwise. Returns the
// path written, or a null string when the picture could not be made (`why`
// says why; the old picture stays as it was, and a fresh name is not set).
QString makeNodeThumbnail(const Preferences &prefs, TreeNode &node, const QString &source, QString *why = nullptr);

} // namespace qm
