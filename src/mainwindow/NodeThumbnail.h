#pragma once

#include "model/Data.h"
#include "storage/FileWriter.h"

#include <QString>

#include <functional>

class QObject;

namespace qm {

class Gallery;

// Makes the 60 x 40 thumbnail of an album or collection from a picture
// file: under the node's thumbnail name when it may be replaced, under a
// fresh "albthumb_<key>.jpg" otherwise. The picture is read and scaled off
// the GUI thread; `done` hears the outcome on it, unless `context` is gone
// or the node has left the gallery by then. A picture that cannot be made
// changes nothing and says why.
void makeNodeThumbnail(Gallery &gallery, const NodePtr &node, const QString &source, QObject *context,
                       std::function<void(const WriteResult &)> done);

} // namespace qm
