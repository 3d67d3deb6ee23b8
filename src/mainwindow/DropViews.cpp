#include "mainwindow/DropViews.h"

#include <QApplication>
#include <QHelpEvent>
#include <QLineEdit>
#include <QToolTip>
#include <QMimeData>

namespace qm {

void commitOpenEditors(QAbstractItemView *view)
{
    // Editors live on the viewport; anything else there is not one, and the
    // view ignores it. The slots are protected, but every view has them.
    for (QWidget *editor : view->viewport()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        // One closed already is hidden until it goes.
        if (editor->isHidden())
            continue;
        QMetaObject::invokeMethod(view, "commitData", Q_ARG(QWidget *, editor));
        QMetaObject::invokeMethod(view, "closeEditor", Q_ARG(QWidget *, editor),
                                  Q_ARG(QAbstractItemDelegate::EndEditHint, QAbstractItemDelegate::NoHint));
    }
}

void TypingDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    if (const auto *line = qobject_cast<QLineEdit *>(editor); line && line->isModified())
        return;
    QStyledItemDelegate::setEditorData(editor, index);
}

QRect TypingDelegate::textRect(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget *view = opt.widget;
    return (view ? view->style() : QApplication::style())->subElementRect(QStyle::SE_ItemViewItemText, &opt, view);
}

bool TypingDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                               const QModelIndex &index)
{
    if (event->type() != QEvent::ToolTip || !index.data(Qt::ToolTipRole).isNull())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    const QString text = index.data(Qt::DisplayRole).toString();
    // A little room for the style's own margins inside the text's rectangle.
    const QRect room = textRect(option, index);
    if (!text.isEmpty() && option.fontMetrics.horizontalAdvance(text) > room.width() - 4) {
        QToolTip::showText(event->globalPos(), text, view->viewport());
        return true;
    }
    QToolTip::hideText();
    event->ignore();
    return true;
}

Qt::DropAction AlbumTreeView::decide(const QDropEvent *event) const
{
    const auto *decision = dynamic_cast<const DropDecision *>(model());
    if (!decision)
        return event->proposedAction();
    const QModelIndex index = indexAt(event->position().toPoint());
    switch (dropIndicatorPosition()) {
    case OnItem:
        return decision->dropAction(event->mimeData(), -1, index);
    case AboveItem:
        return decision->dropAction(event->mimeData(), index.row(), index.parent());
    case BelowItem:
        return decision->dropAction(event->mimeData(), index.row() + 1, index.parent());
    case OnViewport:
        break;
    }
    return decision->dropAction(event->mimeData(), -1, rootIndex());
}

void AlbumTreeView::dragMoveEvent(QDragMoveEvent *event)
{
    QTreeView::dragMoveEvent(event);
    if (!event->isAccepted())
        return;
    const Qt::DropAction decided = decide(event);
    if (!dropAllowed(event, decided)) {
        event->ignore();
        return;
    }
    event->setDropAction(decided);
    event->accept();
}

void AlbumTreeView::dropEvent(QDropEvent *event)
{
    // Decided before the drop: the drop changes the model.
    const Qt::DropAction decided = decide(event);
    if (!dropAllowed(event, decided)) {
        event->ignore();
        stopAutoScroll();
        setState(NoState);
        viewport()->update();
        return;
    }
    event->setDropAction(decided);
    QTreeView::dropEvent(event);
    if (event->isAccepted())
        event->setDropAction(decided);
}

} // namespace qm
