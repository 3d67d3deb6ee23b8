#pragma once

#include "mainwindow/DropHandler.h"

#include <QDragMoveEvent>
#include <QDropEvent>
#include <QTableView>
#include <QTreeView>

namespace qm {

// A view that tells the drag's source the action its model decided, not
// the one the source proposed: a Shift-drag of files from a file manager
// must hear Copy, or the source may delete the originals. A drop whose
// decided action the source does not offer is refused.
template<class View>
class DecidedDropView : public View
{
public:
    using View::View;

    // An edit still open in a cell holds the user's text, not yet the
    // model's: hand it over and close the editor (before a save or a quit).
    void commitOpenEditors()
    {
        if (View::state() != QAbstractItemView::EditingState)
            return;
        // Editors live on the viewport; anything else there is not one and is ignored.
        for (QWidget *editor : View::viewport()->template findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            View::commitData(editor);
            View::closeEditor(editor, QAbstractItemDelegate::NoHint);
        }
    }

protected:
    void dragMoveEvent(QDragMoveEvent *event) override
    {
        View::dragMoveEvent(event);
        settle(event);
    }
    void dropEvent(QDropEvent *event) override
    {
        // Decided before the drop: the drop changes the model.
        const Qt::DropAction decided = decide(event);
        if (decided == Qt::IgnoreAction || !(event->possibleActions() & decided)) {
            event->ignore();
            View::stopAutoScroll();
            View::setState(View::NoState);
            View::viewport()->update();
            return;
        }
        event->setDropAction(decided);
        View::dropEvent(event);
        if (event->isAccepted()) {
            event->setDropAction(decided);
            event->accept();
        }
    }

private:
    Qt::DropAction decide(const QDropEvent *event) const
    {
        const auto *decision = dynamic_cast<const DropDecision *>(View::model());
        if (!decision)
            return event->proposedAction();
        const QModelIndex index = View::indexAt(event->position().toPoint());
        switch (View::dropIndicatorPosition()) {
        case QAbstractItemView::OnItem:
            return decision->dropAction(event->mimeData(), -1, index);
        case QAbstractItemView::AboveItem:
            return decision->dropAction(event->mimeData(), index.row(), index.parent());
        case QAbstractItemView::BelowItem:
            return decision->dropAction(event->mimeData(), index.row() + 1, index.parent());
        case QAbstractItemView::OnViewport:
            break;
        }
        return decision->dropAction(event->mimeData(), -1, View::rootIndex());
    }

    void settle(QDropEvent *event)
    {
        if (!event->isAccepted())
            return;
        const Qt::DropAction decided = decide(event);
        if (decided == Qt::IgnoreAction || !(event->possibleActions() & decided)) {
            event->ignore();
            return;
        }
        event->setDropAction(decided);
        event->accept();
    }
};

using AlbumTreeView = DecidedDropView<QTreeView>;

} // namespace qm
