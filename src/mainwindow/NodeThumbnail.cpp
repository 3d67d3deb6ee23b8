#include "mainwindow/NodeThumbnail.h"

#include "imaging/ImageProc.h"
#include "model/TreeNode.h"
#include "storage/Common.h"
#include "storage/Preferences.h"

#include <QFileInfo>

namespace qm {

QString makeNodeThumbnail(const Preferences &prefs, TreeNode &node, const QString &source, QString *why)
{
    QString name = node.thumbFile();
    const bool fresh = name.isEmpty() || prefs.imgPath(name).isNull();
    if (fresh) {
        quint64 key = timeKey();
        name = thumbnailFileName(key);
        // Another node's picture made in the same hundredth must survive.
        while (QFileInfo::exists(prefs.imgPath(name)))
            name = thumbnailFileName(++key);
    }
    const QString path = prefs.imgPath(name);
    // A quality above 1 asks for the best there is.
    const bool written = ImageProc::scaleAndSaveAsJPEG(source, 60, 40, 80.0f, path, why);
    // A new name for a picture that was never written would leave the web
    // gallery showing a broken image; an existing name keeps its old picture.
    if (fresh && written)
        node.setThumbFile(name);
    return written ? path : QString();
}

} // namespace qm
