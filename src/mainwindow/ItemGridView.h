#pragma once

#include "mainwindow/ItemDropIndicator.h"

#include <QListView>

namespace qm {

// The item list as a grid of larger pictures with their titles beneath, in
// album order. It shows the item model's title column (the picture from
// GridThumbnailRole, else the decoration) and is meant to share the table's
// selection model: a selection here is a selection of whole rows there.
// Drops land where the item model decides, as in the table.
class ItemGridView : public ItemDropView<QListView, ItemDropIndicator::LeftToRight>
{
    Q_OBJECT
public:
    explicit ItemGridView(QWidget *parent = nullptr);

    // The rectangle a picture and its title are drawn in.
    QRect cellRect(int row) const;
    QRect rowRect(int row) const override { return cellRect(row); }

    // The size pictures are drawn at; the cells follow.
    void setThumbnailSize(QSize size);
    QSize thumbnailSize() const;

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
};

} // namespace qm
