#pragma once

#include "mainwindow/ItemDropIndicator.h"

#include <QStackedWidget>

class QAbstractItemModel;
class QItemSelectionModel;

namespace qm {

class ItemGridView;
class ItemTableView;

// The item list, shown as a table or as a grid of larger pictures: the
// same model, the same selection model, the same drops. Switching keeps
// the selection, the current item in view and the keyboard focus.
class ItemListView : public QStackedWidget
{
    Q_OBJECT
public:
    explicit ItemListView(QWidget *parent = nullptr);

    // Both views show `model`; the grid its `gridColumn`, with the table's selection model.
    void setModel(QAbstractItemModel *model, int gridColumn);
    void setDropRule(const DropRule &rule);

    ItemTableView *table() const { return m_table; }
    ItemGridView *grid() const { return m_grid; }
    QAbstractItemView *currentView() const;
    QItemSelectionModel *selectionModel() const;

    bool isGridShown() const;

public slots:
    void setGridShown(bool on);

signals:
    void gridShownChanged(bool on);

private:
    ItemTableView *m_table;
    ItemGridView *m_grid;
};

} // namespace qm
