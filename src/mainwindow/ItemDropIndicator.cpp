#include "mainwindow/ItemDropIndicator.h"

#include <QDrag>
#include <QDragMoveEvent>
#include <QIcon>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QSet>
#include <QPainter>

namespace qm {

std::pair<int, bool> ItemDropIndicator::proposal(const QAbstractItemView *view, QPoint pos, Flow flow)
{
    const QModelIndex at = view->indexAt(pos);
    const QRect r = at.isValid() ? view->visualRect(at) : QRect();
    if (!r.contains(pos))
        return {-1, false};
    // Near an edge a drop goes between items; Qt's margins, a fifth of a
    // row's height in a table, two pixels beside an item in a grid.
    const int margin = flow == TopToBottom ? std::clamp(qRound(r.height() / 5.5), 2, 12) : 2;
    const int before = flow == TopToBottom ? pos.y() - r.top() : pos.x() - r.left();
    const int after = flow == TopToBottom ? r.bottom() - pos.y() : r.right() - pos.x();
    if (before < margin)
        return {at.row(), false};
    if (after < margin)
        return {at.row() + 1, false};
    if (view->model()->flags(at) & Qt::ItemIsDropEnabled)
        return {at.row(), true};
    const bool firstHalf = flow == TopToBottom ? pos.y() < r.center().y() : pos.x() < r.center().x();
    return {firstHalf ? at.row() : at.row() + 1, false};
}

void ItemDropIndicator::startDrag(QAbstractItemView *view, Qt::DropActions supported, Qt::DropAction preferred)
{
    QAbstractItemModel *model = view->model();
    if (!model || !view->selectionModel())
        return;
    QModelIndexList indexes;
    for (const QModelIndex &i : view->selectionModel()->selectedIndexes()) {
        if (model->flags(i) & Qt::ItemIsDragEnabled)
            indexes << i;
    }
    if (indexes.isEmpty())
        return;
    QMimeData *mime = model->mimeData(indexes);
    if (!mime)
        return;
    QSet<int> rows;
    for (const QModelIndex &i : indexes)
        rows.insert(i.row());
    // The first item's picture, and how many go.
    const QModelIndex first = view->currentIndex().isValid() && rows.contains(view->currentIndex().row())
        ? view->currentIndex()
        : indexes.first();
    QPixmap picture;
    for (int c = 0; c < model->columnCount(first.parent()) && picture.isNull(); ++c) {
        const QVariant d = model->index(first.row(), c, first.parent()).data(Qt::DecorationRole);
        picture = d.canConvert<QPixmap>() ? d.value<QPixmap>() : d.value<QIcon>().pixmap(view->iconSize());
    }
    const qreal dpr = view->devicePixelRatioF();
    QPixmap image(QSize(64, 56) * dpr);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    if (!picture.isNull()) {
        const QSize size = picture.deviceIndependentSize().toSize().scaled(QSize(56, 48), Qt::KeepAspectRatio);
        p.setOpacity(0.85);
        p.drawPixmap(QRect(QPoint(0, 0), size), picture);
        p.setOpacity(1);
    }
    if (rows.size() > 1) {
        const QString count = QString::number(rows.size());
        QFont font = view->font();
        font.setBold(true);
        p.setFont(font);
        const int w = std::max(20, p.fontMetrics().horizontalAdvance(count) + 10);
        const QRect badge(64 - w, 56 - 20, w, 20);
        p.setPen(Qt::NoPen);
        p.setBrush(view->palette().color(QPalette::Highlight));
        p.drawRoundedRect(badge, 10, 10);
        p.setPen(view->palette().color(QPalette::HighlightedText));
        p.drawText(badge, Qt::AlignCenter, count);
    }
    p.end();
    auto *drag = new QDrag(view);
    drag->setMimeData(mime);
    drag->setPixmap(image);
    drag->setHotSpot(QPoint(12, 12));
    drag->exec(supported, supported.testFlag(preferred) ? preferred : Qt::CopyAction);
}

void ItemDropIndicator::update(QAbstractItemView *view, int row, bool on, QDragMoveEvent *event)
{
    Target target;
    if (event->isAccepted() && m_rule && view->model()) {
        const Qt::DropAction decided = m_rule(event->mimeData(), row, on);
        if (dropAllowed(event, decided)) {
            const int rows = view->model()->rowCount(view->rootIndex());
            target.row = row < 0 || row > rows ? rows : row;
            target.on = on && row >= 0 && row < rows;
            event->setDropAction(decided);
            event->accept();
        } else {
            event->ignore();
        }
    }
    if (target.row != m_target.row || target.on != m_target.on) {
        m_target = target;
        view->viewport()->update();
    }
}

bool ItemDropIndicator::prepareDrop(QAbstractItemView *view, QDropEvent *event, Flow flow)
{
    clear(view);
    auto [row, on] = proposal(view, event->position().toPoint(), flow);
    const Qt::DropAction decided = m_rule ? m_rule(event->mimeData(), row, on) : event->proposedAction();
    if (!dropAllowed(event, decided)) {
        event->ignore();
        return false;
    }
    event->setDropAction(decided);
    return true;
}

void ItemDropIndicator::clear(QAbstractItemView *view)
{
    if (m_target.isValid()) {
        m_target = Target();
        view->viewport()->update();
    }
}

void ItemDropIndicator::paint(QAbstractItemView *view, QPainter &p, const std::function<QRect(int row)> &rowRect,
                              Flow flow) const
{
    const bool leftToRight = flow == LeftToRight;
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
