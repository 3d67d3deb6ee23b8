#include "mainwindow/ItemListView.h"

#include "mainwindow/ItemGridView.h"
#include "mainwindow/ItemTableView.h"

#include <QItemSelectionModel>

namespace qm {

ItemListView::ItemListView(QWidget *parent)
    : QStackedWidget(parent)
{
    m_table = new ItemTableView;
    m_table->setObjectName(QStringLiteral("tvPhotos"));
    m_grid = new ItemGridView;
    m_grid->setObjectName(QStringLiteral("gvPhotos"));
    addWidget(m_table);
    addWidget(m_grid);
    setFocusProxy(m_table);
}

void ItemListView::setModel(QAbstractItemModel *model, int gridColumn)
{
    m_table->setModel(model);
    m_grid->setModel(model);
    m_grid->setModelColumn(gridColumn);
    QItemSelectionModel *own = m_grid->selectionModel();
    m_grid->setSelectionModel(m_table->selectionModel());
    if (own != m_table->selectionModel())
        delete own;
}

void ItemListView::setDropRule(const DropRule &rule)
{
    m_table->setDropRule(rule);
    m_grid->setDropRule(rule);
}

QAbstractItemView *ItemListView::currentView() const
{
    return isGridShown() ? static_cast<QAbstractItemView *>(m_grid) : m_table;
}

QItemSelectionModel *ItemListView::selectionModel() const
{
    return m_table->selectionModel();
}

bool ItemListView::isGridShown() const
{
    return currentWidget() == m_grid;
}

void ItemListView::setGridShown(bool on)
{
    if (on == isGridShown())
        return;
    QAbstractItemView *from = currentView();
    QAbstractItemView *to = on ? static_cast<QAbstractItemView *>(m_grid) : m_table;
    const bool hadFocus = from->hasFocus();
    setCurrentWidget(to);
    setFocusProxy(to);
    const QModelIndex current = selectionModel() ? selectionModel()->currentIndex() : QModelIndex();
    if (current.isValid())
        to->scrollTo(current.siblingAtColumn(on ? m_grid->modelColumn() : current.column()));
    if (hadFocus)
        to->setFocus();
    emit gridShownChanged(on);
}

} // namespace qm
