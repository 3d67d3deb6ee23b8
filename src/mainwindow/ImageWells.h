#pragma once

#include "mainwindow/MyImageView.h"

#include <QObject>

namespace qm {

class DeletionController;
class Gallery;
class TreeNode;

// The drop rules of the album thumbnail well (a picture file or an item
// becomes the selected node's thumbnail) and of the trash well (albums,
// collections and items dropped on it are deleted with their files), and
// what the thumbnail well shows.
class ImageWells : public QObject, public ImageViewDataSource
{
    Q_OBJECT
public:
    ImageWells(Gallery *gallery, DeletionController *deletion, MyImageView *albumThumb, MyImageView *trash,
               QObject *parent = nullptr);

    Qt::DropAction validateDrop(MyImageView *view, const QMimeData *mime) override;
    bool acceptDrop(MyImageView *view, const QMimeData *mime) override;
    void dragHasLeft(MyImageView *view) override;

    // The selected album's or collection's thumbnail, or nothing; read off
    // the GUI thread and shown when it is there.
    void showNodeThumbnail();

signals:
    // Something to tell the user in passing.
    void status(const QString &text);

private:
    TreeNode *selectedNode() const;
    void showTrash(bool full);

    Gallery *m_gallery;
    DeletionController *m_deletion;
    MyImageView *m_albumThumb;
    MyImageView *m_trash;
};

} // namespace qm
