#include "mainwindow/NodeThumbnail.h"

#include "imaging/ImageProc.h"
#include "storage/Gallery.h"

namespace qm {

WriteResult makeNodeThumbnail(Gallery &gallery, TreeNode &node, const QString &source)
{
    QString why;
    // A quality above 1 asks for the best there is.
    const QByteArray jpeg = ImageProc::scaleToJPEG(source, 60, 40, 80.0f, &why);
    if (jpeg.isEmpty())
        return {source, why};
    return gallery.setNodeThumbnail(&node, jpeg);
}

} // namespace qm
