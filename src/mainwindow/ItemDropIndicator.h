#pragma once

#include "mainwindow/DropHandler.h"

#include <QAbstractItemView>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QItemSelectionModel>
#include <QPainter>

#include <functional>

class QDragMoveEvent;
class QMimeData;
class QPainter;

namespace qm {

// The item model's drop rule: may move the proposed position (`row`, `on`
// that row or above it; a row equal to the row count is the end).
using DropRule = std::function<Qt::DropAction(const QMimeData *mime, int &row, bool &on)>;

// Shows where a drop will land as the model decides it, not where the
// pointer is: above a row, on a row, or after the last one. The item views
// keep Qt's own indicator from drawing and draw this one instead.
class ItemDropIndicator
{
public:
    struct Target
    {
        int row = -1;
        bool on = false;
        bool isValid() const { return row >= 0; }
    };

    enum Flow { TopToBottom, LeftToRight };

    // Where Qt's drop code puts a drop at `pos` before the model is asked,
    // as the model's drop entry point receives it: a row and whether it is
    // on that row (-1: below every row). Qt's own indicator position is not
    // used: it does not always say what the drop will be given.
    static std::pair<int, bool> proposal(const QAbstractItemView *view, QPoint pos, Flow flow);

    void setRule(DropRule rule) { m_rule = std::move(rule); }
    const DropRule &rule() const { return m_rule; }

    // After the view's own dragMoveEvent, with Qt's proposal as the model's
    // drop entry point would receive it (`row` -1: below every row). The
    // drag's source hears the action the rule decided, not the one it
    // proposed: a Shift-drag of files from a file manager must hear Copy,
    // or it may delete the originals. An action it does not offer is no drop.
    void update(QAbstractItemView *view, int row, bool on, QDragMoveEvent *event);
    // Before the view's own dropEvent: the decided action is set on the
    // event, or the drop refused (false).
    bool prepareDrop(QAbstractItemView *view, QDropEvent *event, Flow flow);
    void clear(QAbstractItemView *view);
    const Target &target() const { return m_target; }

    // Starts a drag of the view's selected rows. The model does every move
    // itself when the drop is taken, so nothing is removed or cleared here
    // afterwards, as Qt's own drag start would (blanking or removing the
    // dragged rows if they are still selected then).
    static void startDrag(QAbstractItemView *view, Qt::DropActions supported, Qt::DropAction preferred);

    // `rowRect` gives a row's rectangle in viewport coordinates; rows flow
    // left to right (a grid) or top to bottom (a table).
    void paint(QAbstractItemView *view, QPainter &painter, const std::function<QRect(int row)> &rowRect,
               Flow flow) const;

private:
    DropRule m_rule;
    Target m_target;
};

// What the two item views share: they start their own drags, and show and
// take drops where the rule decides. `Base` is the Qt view, `kFlow` how its
// rows run; the view gives each row's rectangle.
template<class Base, ItemDropIndicator::Flow kFlow>
class ItemDropView : public Base
{
public:
    using Base::Base;

    void setDropRule(DropRule rule) { m_indicator.setRule(std::move(rule)); }
    const ItemDropIndicator::Target &dropTarget() const { return m_indicator.target(); }
    virtual QRect rowRect(int row) const = 0;

    // Rows a search hides are not chosen with the rest.
    void selectAll() override
    {
        QAbstractItemModel *m = Base::model();
        if (!m || !Base::selectionModel() || Base::selectionMode() != QAbstractItemView::ExtendedSelection)
            return Base::selectAll();
        QItemSelection visible;
        const int rows = m->rowCount(Base::rootIndex()), last = m->columnCount(Base::rootIndex()) - 1;
        for (int r = 0; r < rows;) {
            while (r < rows && Base::isRowHidden(r))
                ++r;
            const int first = r;
            while (r < rows && !Base::isRowHidden(r))
                ++r;
            if (r > first)
                visible.select(m->index(first, 0, Base::rootIndex()), m->index(r - 1, last, Base::rootIndex()));
        }
        Base::selectionModel()->select(visible, QItemSelectionModel::ClearAndSelect);
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        // Qt's indicator follows the pointer; ours follows the model.
        Base::setDropIndicatorShown(false);
        Base::paintEvent(event);
        Base::setDropIndicatorShown(true);
        QPainter p(Base::viewport());
        m_indicator.paint(this, p, [this](int row) { return rowRect(row); }, kFlow);
    }
    void startDrag(Qt::DropActions supportedActions) override
    {
        ItemDropIndicator::startDrag(this, supportedActions, Base::defaultDropAction());
    }
    void dragMoveEvent(QDragMoveEvent *event) override
    {
        Base::dragMoveEvent(event);
        const auto [row, on] = ItemDropIndicator::proposal(this, event->position().toPoint(), kFlow);
        m_indicator.update(this, row, on, event);
    }
    void dragLeaveEvent(QDragLeaveEvent *event) override
    {
        Base::dragLeaveEvent(event);
        m_indicator.clear(this);
    }
    void dropEvent(QDropEvent *event) override
    {
        // Decided before the drop: the drop changes the model.
        if (!m_indicator.prepareDrop(this, event, kFlow)) {
            // Refused: out of the drag as after any drop.
            Base::stopAutoScroll();
            Base::setState(QAbstractItemView::NoState);
            Base::viewport()->update();
            return;
        }
        const Qt::DropAction decided = event->dropAction();
        // Straight to the model's drop: a list view's own handling would
        // move rows itself.
        QAbstractItemView::dropEvent(event);
        if (event->isAccepted())
            event->setDropAction(decided);
    }

private:
    ItemDropIndicator m_indicator;
};

} // namespace qm
