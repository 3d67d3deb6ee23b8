#pragma once

#include "mainwindow/ItemDropIndicator.h"

#include <QTableView>

namespace qm {

// The item list as a table: one row per item with its small picture at the
// start of the title. The drop indicator shows where a drop will land as
// the item model decides it (setDropRule).
class ItemTableView : public QTableView
{
    Q_OBJECT
public:
    explicit ItemTableView(QWidget *parent = nullptr);

    void setDropRule(DropRule rule) { m_indicator.setRule(std::move(rule)); }
    const ItemDropIndicator::Target &dropTarget() const { return m_indicator.target(); }
    // The row's rectangle across the whole viewport.
    QRect rowRect(int row) const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    ItemDropIndicator m_indicator;
};

} // namespace qm
