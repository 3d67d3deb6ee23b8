#include "mainwindow/ItemDropIndicator.h"

#include <QDragMoveEvent>
#include <QPainter>

namespace qm {

void ItemDropIndicator::update(QAbstractItemView *view, QAbstractItemView::DropIndicatorPosition position,
                               QDragMoveEvent *event)
{
    Target target;
    if (event->isAccepted() && m_rule && view->model()) {
        const QModelIndex at = view->indexAt(event->position().toPoint());
        int row = -1;
        bool on = false;
        // Qt's proposal, as the model's drop entry point receives it.
        if (at.isValid() && position == QAbstractItemView::AboveItem) {
            row = at.row();
        } else if (at.isValid() && position == QAbstractItemView::BelowItem) {
            row = at.row() + 1;
        } else if (at.isValid() && position == QAbstractItemView::OnItem) {
            row = at.row();
            on = true;
        }
        if (m_rule(event->mimeData(), row, on) != Qt::IgnoreAction) {
            const int rows = view->model()->rowCount(view->rootIndex());
            target.row = row < 0 || row > rows ? rows : row;
            target.on = on && row >= 0 && row < rows;
        }
    }
    if (target.row != m_target.row || target.on != m_target.on) {
        m_target = target;
        view->viewport()->update();
    }
}

void ItemDropIndicator::clear(QAbstractItemView *view)
{
    if (m_target.isValid()) {
        m_target = Target();
        view->viewport()->update();
    }
}

void ItemDropIndicator::paint(QAbstractItemView *view, QPainter &p, const std::function<QRect(int row)> &rowRect,
                              bool leftToRight) const
{
    if (!m_target.isValid() || !view->model())
        return;
    const int rows = view->model()->rowCount(view->rootIndex());
    const QColor color = view->palette().color(QPalette::Highlight);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    if (m_target.on) {
        const QRect r = rowRect(m_target.row).adjusted(1, 1, -1, -1);
        p.setPen(QPen(color, 2));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
        p.restore();
        return;
    }
    // A bar between rows: before the target row, or after the last one.
    QLine bar;
    if (rows == 0) {
        bar = leftToRight ? QLine(2, 2, 2, 60) : QLine(0, 1, view->viewport()->width(), 1);
    } else if (m_target.row < rows) {
        const QRect r = rowRect(m_target.row);
        bar = leftToRight ? QLine(r.left(), r.top(), r.left(), r.bottom()) : QLine(0, r.top(), view->viewport()->width(), r.top());
    } else {
        const QRect r = rowRect(rows - 1);
        bar = leftToRight ? QLine(r.right(), r.top(), r.right(), r.bottom())
                          : QLine(0, r.bottom(), view->viewport()->width(), r.bottom());
    }
    p.setPen(QPen(color, 3, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(bar);
    p.setPen(QPen(color, 2));
    p.setBrush(view->palette().color(QPalette::Base));
    p.drawEllipse(QPointF(bar.p1()) + (leftToRight ? QPointF(0, 3.5) : QPointF(4.5, 0)), 3, 3);
    p.restore();
}

} // namespace qm
