#include "mainwindow/ItemTableView.h"

#include "mainwindow/ThumbnailCache.h"

#include <QDragMoveEvent>
#include <QHeaderView>
#include <QPainter>

namespace qm {

ItemTableView::ItemTableView(QWidget *parent)
    : QTableView(parent)
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

void ItemTableView::paintEvent(QPaintEvent *event)
{
    // Qt's indicator follows the pointer; ours follows the model.
    setDropIndicatorShown(false);
    QTableView::paintEvent(event);
    setDropIndicatorShown(true);
    QPainter p(viewport());
    m_indicator.paint(this, p, [this](int row) { return rowRect(row); }, ItemDropIndicator::TopToBottom);
}

void ItemTableView::dragMoveEvent(QDragMoveEvent *event)
{
    QTableView::dragMoveEvent(event);
    const auto [row, on] = ItemDropIndicator::proposal(this, event->position().toPoint(), ItemDropIndicator::TopToBottom);
    m_indicator.update(this, row, on, event);
}

void ItemTableView::startDrag(Qt::DropActions supportedActions)
{
    ItemDropIndicator::startDrag(this, supportedActions, defaultDropAction());
}

void ItemTableView::dragLeaveEvent(QDragLeaveEvent *event)
{
    QTableView::dragLeaveEvent(event);
    m_indicator.clear(this);
}

void ItemTableView::dropEvent(QDropEvent *event)
{
    // Decided before the drop: the drop changes the model.
    if (!m_indicator.prepareDrop(this, event, ItemDropIndicator::TopToBottom))
        return;
    const Qt::DropAction decided = event->dropAction();
    QTableView::dropEvent(event);
    if (event->isAccepted())
        event->setDropAction(decided);
}

} // namespace qm
