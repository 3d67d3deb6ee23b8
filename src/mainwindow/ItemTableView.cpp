#include "mainwindow/ItemTableView.h"

#include "mainwindow/ThumbnailCache.h"

#include <QDragMoveEvent>
#include <QHeaderView>
#include <QPainter>

namespace qm {

ItemTableView::ItemTableView(QWidget *parent)
    : ItemDropView(parent)
{
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setIconSize(kListThumbnailSize);
    setWordWrap(false);
    setShowGrid(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(std::max(fontMetrics().height() + 8, kListThumbnailSize.height() + 4));
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    // Rows, not cells: a drop near a row's edge goes between rows. (In
    // overwrite mode Qt would also blank the dragged cells after a move.)
    setDragDropOverwriteMode(false);
}

QRect ItemTableView::rowRect(int row) const
{
    return QRect(0, rowViewportPosition(row), viewport()->width(), rowHeight(row));
}

} // namespace qm
