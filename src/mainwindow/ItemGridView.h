#pragma once

#include "mainwindow/ItemDropIndicator.h"

#include <QListView>

namespace qm {

// The item list as a grid of larger pictures with their titles beneath, in
// album order. It shows the item model's title column (the picture from
// GridThumbnailRole, else the decoration) and is meant to share the table's
// selection model: a selection here is a selection of whole rows there.
// Drops land where the item model decides, as in the table.
class ItemGridView : public QListView
{
    Q_OBJECT
public:
    explicit ItemGridView(QWidget *parent = nullptr);

    void setDropRule(DropRule rule) { m_indicator.setRule(std::move(rule)); }
    const ItemDropIndicator::Target &dropTarget() const { return m_indicator.target(); }
    // The rectangle a picture and its title are drawn in.
    QRect cellRect(int row) const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    ItemDropIndicator m_indicator;
};

} // namespace qm
