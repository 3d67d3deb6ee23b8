#pragma once

#include <QAbstractItemView>

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

} // namespace qm
