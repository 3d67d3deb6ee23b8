#include "mainwindow/ItemGridView.h"

#include "mainwindow/DropViews.h"

#include "mainwindow/ItemListModel.h"
#include "mainwindow/ThumbnailCache.h"

#include <QApplication>
#include <QDragMoveEvent>
#include <QIcon>
#include <QPainter>
#include <QStyledItemDelegate>

namespace qm {

namespace {

constexpr int kPadding = 6;

// A picture over its title, the whole cell marked when selected.
class GridDelegate : public TypingDelegate
{
public:
    using TypingDelegate::TypingDelegate;

    QSize thumbnailSize = kGridThumbnailSize;

    QRect pictureRect(const QRect &cell) const
    {
        QRect r(QPoint(0, 0), thumbnailSize);
        r.moveCenter(QPoint(cell.center().x(), cell.top() + kPadding + thumbnailSize.height() / 2));
        return r;
    }
    QRect textRect(const QRect &cell) const
    {
        return QRect(cell.left() + kPadding / 2, cell.top() + 2 * kPadding + thumbnailSize.height(),
                     cell.width() - kPadding, cell.bottom() - cell.top() - 2 * kPadding - thumbnailSize.height());
    }
    QRect textRect(const QStyleOptionViewItem &option, const QModelIndex &) const override
    {
        return textRect(option.rect);
    }

    void paint(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QWidget *view = opt.widget;
        QStyle *style = view ? view->style() : QApplication::style();
        // The platform's own item background: selection, focus, hover.
        opt.text.clear();
        opt.icon = QIcon();
        opt.features &= ~QStyleOptionViewItem::HasDecoration;
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, p, view);

        QPixmap picture = index.data(GridThumbnailRole).value<QPixmap>();
        if (picture.isNull()) {
            const QVariant d = index.data(Qt::DecorationRole);
            picture = d.canConvert<QPixmap>() ? d.value<QPixmap>() : d.value<QIcon>().pixmap(thumbnailSize);
        }
        if (!picture.isNull()) {
            QSize size = picture.deviceIndependentSize().toSize();
            if (size.width() > thumbnailSize.width() || size.height() > thumbnailSize.height())
                size.scale(thumbnailSize, Qt::KeepAspectRatio);
            QRect target(QPoint(0, 0), size);
            target.moveCenter(pictureRect(option.rect).center());
            p->save();
            p->setRenderHint(QPainter::SmoothPixmapTransform);
            p->drawPixmap(target, picture);
            p->restore();
        }
        // Files of the item are missing: a mark in the picture's corner.
        if (index.data(MissingFilesRole).isValid()) {
            const int side = std::clamp(thumbnailSize.width() / 6, 14, 28);
            const QRect picture = pictureRect(option.rect);
            index.siblingAtColumn(ItemListModel::KindColumn)
                .data(Qt::DecorationRole)
                .value<QIcon>()
                .paint(p, QRect(picture.right() - side, picture.top(), side, side));
        }

        const QString title = index.data(Qt::DisplayRole).toString();
        const QRect text = textRect(option.rect);
        const bool selected = option.state & QStyle::State_Selected;
        p->save();
        p->setFont(opt.font);
        p->setPen(opt.palette.color(option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive,
                                    selected ? QPalette::HighlightedText : QPalette::Text));
        p->drawText(text, Qt::AlignHCenter | Qt::AlignTop,
                    opt.fontMetrics.elidedText(title, Qt::ElideMiddle, text.width()));
        p->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const override
    {
        return QSize(thumbnailSize.width() + 3 * kPadding,
                     thumbnailSize.height() + 3 * kPadding + option.fontMetrics.height() + 4);
    }

    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option, const QModelIndex &) const override
    {
        QRect r = textRect(option.rect);
        r.setHeight(std::max(r.height(), editor->sizeHint().height()));
        editor->setGeometry(r);
    }
};

} // namespace

ItemGridView::ItemGridView(QWidget *parent)
    : ItemDropView(parent)
{
    setViewMode(QListView::ListMode); // laid out as a grid by the flow; no free moving of icons
    setFlow(QListView::LeftToRight);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setMovement(QListView::Static);
    setUniformItemSizes(true);
    setItemDelegate(new GridDelegate(this));
    setThumbnailSize(kGridThumbnailSize);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
}

void ItemGridView::setThumbnailSize(QSize size)
{
    static_cast<GridDelegate *>(itemDelegate())->thumbnailSize = size;
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    setGridSize(itemDelegate()->sizeHint(option, QModelIndex()));
    if (currentIndex().isValid())
        scrollTo(currentIndex());
}

QSize ItemGridView::thumbnailSize() const
{
    return static_cast<const GridDelegate *>(itemDelegate())->thumbnailSize;
}

QModelIndex ItemGridView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    // A page is as many rows of cells as the view shows whole.
    const QModelIndex current = currentIndex();
    if ((action != MovePageDown && action != MovePageUp) || !current.isValid() || !model() || gridSize().isEmpty())
        return ItemDropView::moveCursor(action, modifiers);
    const int perRow = std::max(1, viewport()->width() / gridSize().width());
    const int rows = std::max(1, viewport()->height() / gridSize().height());
    const int count = model()->rowCount(rootIndex());
    int row = current.row();
    const int step = action == MovePageDown ? 1 : -1;
    // Hidden rows (a search) are passed over, as the arrows pass them.
    for (int moved = 0; moved < perRow * rows;) {
        const int next = row + step;
        if (next < 0 || next >= count)
            break;
        row = next;
        if (!isRowHidden(row))
            ++moved;
    }
    while (row >= 0 && row < count && isRowHidden(row))
        row -= step;
    return model()->index(std::clamp(row, 0, count - 1), modelColumn(), rootIndex());
}

QRect ItemGridView::cellRect(int row) const
{
    return model() ? visualRect(model()->index(row, modelColumn(), rootIndex())) : QRect();
}

} // namespace qm
