#include "mainwindow/ItemGridView.h"

#include "mainwindow/DropViews.h"

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

    static QRect pictureRect(const QRect &cell)
    {
        QRect r(QPoint(0, 0), kGridThumbnailSize);
        r.moveCenter(QPoint(cell.center().x(), cell.top() + kPadding + kGridThumbnailSize.height() / 2));
        return r;
    }
    static QRect textRect(const QRect &cell)
    {
        return QRect(cell.left() + kPadding / 2, cell.top() + 2 * kPadding + kGridThumbnailSize.height(),
                     cell.width() - kPadding, cell.bottom() - cell.top() - 2 * kPadding - kGridThumbnailSize.height());
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
            picture = d.canConvert<QPixmap>() ? d.value<QPixmap>() : d.value<QIcon>().pixmap(kGridThumbnailSize);
        }
        if (!picture.isNull()) {
            QSize size = picture.deviceIndependentSize().toSize();
            if (size.width() > kGridThumbnailSize.width() || size.height() > kGridThumbnailSize.height())
                size.scale(kGridThumbnailSize, Qt::KeepAspectRatio);
            QRect target(QPoint(0, 0), size);
            target.moveCenter(pictureRect(option.rect).center());
            p->drawPixmap(target, picture);
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
        return QSize(kGridThumbnailSize.width() + 3 * kPadding,
                     kGridThumbnailSize.height() + 3 * kPadding + option.fontMetrics.height() + 4);
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
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    setGridSize(itemDelegate()->sizeHint(option, QModelIndex()));
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

QRect ItemGridView::cellRect(int row) const
{
    return model() ? visualRect(model()->index(row, modelColumn(), rootIndex())) : QRect();
}

} // namespace qm
