#pragma once

#include "mainwindow/DropHandler.h"

#include <QDragMoveEvent>
#include <QDropEvent>
#include <QStyledItemDelegate>
#include <QTreeView>

namespace qm {

// An edit still open in a cell holds the user's text, not yet the model's:
// hands it over and closes the editor (before a save or a quit).
void commitOpenEditors(QAbstractItemView *view);

// Keeps what the user typed in a cell: a change of the row while its editor
// is open (a thumbnail that came in, an edit elsewhere) does not put the
// model's text back into the editor.
class TypingDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    // A text cut short shows whole in its tooltip.
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;
    // Where the cell's text is drawn.
    virtual QRect textRect(const QStyleOptionViewItem &option, const QModelIndex &index) const;
};

// A tree view that tells the drag's source the action its model decided,
// not the one the source proposed: a Shift-drag of files from a file
// manager must hear Copy, or the source may delete the originals. A drop
// whose decided action the source does not offer is refused.
class AlbumTreeView : public QTreeView
{
    Q_OBJECT
public:
    using QTreeView::QTreeView;

protected:
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    Qt::DropAction decide(const QDropEvent *event) const;
};

} // namespace qm
