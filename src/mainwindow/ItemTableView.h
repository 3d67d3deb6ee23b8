#pragma once

#include "mainwindow/ItemDropIndicator.h"

#include <QTableView>

namespace qm {

// The item list as a table: one row per item with its small picture at the
// start of the title. The drop indicator shows where a drop will land as
// the item model decides it (setDropRule).
class ItemTableView : public ItemDropView<QTableView, ItemDropIndicator::TopToBottom>
{
    Q_OBJECT
public:
    explicit ItemTableView(QWidget *parent = nullptr);

    // The row's rectangle across the whole viewport.
    QRect rowRect(int row) const override;
};

} // namespace qm
