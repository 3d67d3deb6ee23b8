#include "mainwindow/FindController.h"

#include "edit/BatchEdit.h"
#include "mainwindow/AlbumTreeModel.h"
#include "mainwindow/ItemGridView.h"
#include "mainwindow/ItemListModel.h"
#include "mainwindow/ItemListView.h"
#include "mainwindow/ItemTableView.h"
#include "storage/Gallery.h"
#include "storage/GalleryTrash.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QTreeView>

namespace qm {

FindController::FindController(Gallery *gallery, AlbumTreeModel *treeModel, QTreeView *tree, ItemListModel *itemModel,
                               ItemListView *list, QObject *parent)
    : QObject(parent)
    , m_gallery(gallery)
    , m_treeModel(treeModel)
    , m_tree(tree)
    , m_itemModel(itemModel)
    , m_list(list)
{
    m_field = new QLineEdit;
    m_field->setObjectName(QStringLiteral("txtFind"));
    m_field->setAccessibleName(tr("Find"));
    m_field->setPlaceholderText(tr("Find titles, dates, places (Ctrl+F)"));
    m_field->setToolTip(tr("Finds albums and items across the gallery by title, date, location and description; "
                           "Return goes to the next one found"));
    m_field->setClearButtonEnabled(true);
    m_field->setMinimumWidth(220);
    m_field->installEventFilter(this);
    // Typing fast searches once for what has been typed by then.
    m_typing.setSingleShot(true);
    m_typing.setInterval(0);
    connect(&m_typing, &QTimer::timeout, this, &FindController::search);
    connect(m_field, &QLineEdit::textChanged, &m_typing, qOverload<>(&QTimer::start));

    // What the gallery holds changed under the search: it is searched again.
    connect(gallery, &Gallery::reset, this, [this] {
        m_hint.reset();
        changedWhileActive();
    });
    connect(gallery, &Gallery::itemChanged, this, &FindController::changedWhileActive);
    connect(gallery, &Gallery::nodeChanged, this, &FindController::changedWhileActive);
    connect(gallery, &Gallery::nodeInserted, this, &FindController::changedWhileActive);
    connect(gallery, &Gallery::nodeMoved, this, &FindController::changedWhileActive);
    connect(gallery, &Gallery::nodeRemoved, this, &FindController::changedWhileActive);
    connect(gallery, &Gallery::itemsInserted, this, &FindController::changedWhileActive);
    connect(gallery, &Gallery::itemsRemoved, this, &FindController::changedWhileActive);
    // Another album shown, or its rows changed: its rows are filtered again.
    auto refilter = [this] {
        if (isActive())
            filterItems();
    };
    connect(itemModel, &QAbstractItemModel::modelReset, this, refilter);
    connect(itemModel, &QAbstractItemModel::layoutChanged, this, refilter);
}

void FindController::changedWhileActive()
{
    if (isActive())
        m_typing.start();
}

bool FindController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_field && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        switch (key->key()) {
        case Qt::Key_Escape:
            clear();
            m_list->currentView()->setFocus();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (m_typing.isActive())
                search();
            jump(key->modifiers() & Qt::ShiftModifier ? -1 : +1);
            return true;
        case Qt::Key_Down:
            m_list->currentView()->setFocus();
            return true;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void FindController::clear()
{
    m_field->clear();
    search();
}

void FindController::search()
{
    m_typing.stop();
    const QString query = m_field->text();
    // Only a slashed date reads two ways; the gallery's own form says which.
    if (query.contains(QLatin1Char('/')) && !m_hint)
        m_hint = DateForm::ofGallery(m_gallery->data());
    m_result = GallerySearch::find(m_gallery->data(), query, m_hint.value_or(DateForm()));
    m_hit = -1;
    filterTree();
    // The album shown holds nothing found: show the first that does.
    const TreeNode *shown = m_treeModel->nodeForIndex(m_tree->currentIndex());
    if (isActive() && !m_result.hits.isEmpty() && (!shown || !m_result.shownNodes.contains(shown)))
        m_tree->setCurrentIndex(m_treeModel->indexForNode(m_result.hits.first().node));
    filterItems();
    if (!isActive())
        emit status(QString());
    else if (m_result.hits.isEmpty())
        emit status(tr("Nothing found for \u201c%1\u201d.").arg(m_result.text()));
    else
        emit status(tr("\u201c%1\u201d found %2 in %3 and %4. Return goes to the next.")
                        .arg(m_result.text(), counted(m_result.itemCount, "item", "items"),
                             counted(m_result.albumsWithItems, "album", "albums"),
                             counted(int(m_result.hits.size()) - m_result.itemCount, "title in the tree",
                                     "titles in the tree")));
}

void FindController::filterTree()
{
    const bool active = isActive();
    if (active && !m_treeFiltered) {
        // How the tree was opened, to put it back when the search ends.
        m_expandedBefore.clear();
        m_gallery->data().forEachNode([this](const NodePtr &n) {
            if (n->isCollection() && m_tree->isExpanded(m_treeModel->indexForNode(n.get())))
                m_expandedBefore.insert(n.get());
            return true;
        });
        m_treeFiltered = true;
    }
    if (!m_treeFiltered)
        return;
    m_gallery->data().forEachNode([this, active](const NodePtr &n) {
        const QModelIndex index = m_treeModel->indexForNode(n.get());
        const bool hide = active && !m_result.shownNodes.contains(n.get());
        if (m_tree->isRowHidden(index.row(), index.parent()) != hide)
            m_tree->setRowHidden(index.row(), index.parent(), hide);
        if (n->isCollection()) {
            const bool open = active ? m_result.shownNodes.contains(n.get()) : m_expandedBefore.contains(n.get());
            if (m_tree->isExpanded(index) != open)
                m_tree->setExpanded(index, open);
        }
        return true;
    });
    if (!active)
        m_treeFiltered = false;
}

void FindController::filterItems()
{
    const Album *album = m_itemModel->album();
    QItemSelectionModel *selection = m_list->selectionModel();
    for (int row = 0; row < m_itemModel->rowCount(); ++row) {
        const bool hide = isActive() && !m_result.showsItem(album, m_itemModel->itemAt(row));
        if (m_list->table()->isRowHidden(row) != hide) {
            m_list->table()->setRowHidden(row, hide);
            m_list->grid()->setRowHidden(row, hide);
        }
        // What cannot be seen is not acted on.
        if (hide && selection->isRowSelected(row))
            selection->select(m_itemModel->index(row, 0), QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    }
}

void FindController::jump(int step)
{
    const QList<GallerySearch::Hit> &hits = m_result.hits;
    if (hits.isEmpty())
        return;
    if (m_hit < 0) {
        // From what is selected now, where it is among the hits.
        const TreeNode *node = m_treeModel->nodeForIndex(m_tree->currentIndex());
        const QModelIndexList rows = m_list->selectionModel()->selectedRows();
        const Item *item = rows.size() == 1 ? m_itemModel->itemAt(rows.first().row()) : nullptr;
        for (qsizetype i = 0; i < hits.size(); ++i)
            if (hits[i].node == node && hits[i].item == item)
                m_hit = int(i);
        if (m_hit < 0 && step < 0)
            m_hit = 0; // backwards from before the first: the last

    }
    m_hit = int((m_hit + step + hits.size()) % hits.size());
    const GallerySearch::Hit &hit = hits[m_hit];
    const QModelIndex node = m_treeModel->indexForNode(hit.node);
    m_tree->setCurrentIndex(node);
    m_tree->scrollTo(node);
    QItemSelectionModel *selection = m_list->selectionModel();
    const int row = hit.item && hit.node->isAlbum() ? static_cast<Album *>(hit.node)->indexOfItem(hit.item) : -1;
    if (row >= 0 && m_itemModel->album() == hit.node) {
        const QModelIndex index = m_itemModel->index(row, ItemListModel::TitleColumn);
        selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_list->currentView()->scrollTo(index);
    }
    emit status(tr("%1 of %2 found for \u201c%3\u201d.").arg(m_hit + 1).arg(hits.size()).arg(m_result.text()));
}

} // namespace qm
