#include "mainwindow/DeletionController.h"

#include "mainwindow/AlbumTreeModel.h"
#include "mainwindow/ItemListModel.h"
#include "mainwindow/ItemListView.h"
#include "storage/Gallery.h"
#include "storage/GalleryTrash.h"
#include "storage/Preferences.h"
#include "storage/Trash.h"

#include <QAbstractItemView>
#include <QMessageBox>
#include <QPushButton>

namespace qm {

DeletionController::DeletionController(Gallery *gallery, QWidget *window, QAbstractItemView *tree,
                                       AlbumTreeModel *treeModel, ItemListView *list, ItemListModel *itemModel)
    : QObject(window)
    , m_gallery(gallery)
    , m_window(window)
    , m_tree(tree)
    , m_treeModel(treeModel)
    , m_list(list)
    , m_itemModel(itemModel)
{
}

QString DeletionController::question(const TreeNode &node)
{
    const GalleryTrash::Counts c = GalleryTrash::countNode(node);
    QStringList parts;
    if (node.isCollection() && c.collections > 1)
        parts << counted(c.collections - 1, "collection", "collections");
    if (node.isCollection() && c.albums > 0)
        parts << counted(c.albums, "album", "albums");
    if (c.photos > 0)
        parts << counted(c.photos, "photo", "photos");
    if (c.videos > 0)
        parts << counted(c.videos, "video", "videos");
    const QString kind = node.isAlbum() ? tr("album") : tr("collection");
    if (parts.isEmpty())
        return tr("Delete the %1 \u201c%2\u201d?").arg(kind, node.title());
    return tr("Delete the %1 \u201c%2\u201d with %3?").arg(kind, node.title(), parts.join(tr(", ")));
}

QString DeletionController::question(const QList<ItemPtr> &items)
{
    if (items.size() == 1)
        return tr("Delete \u201c%1\u201d?").arg(items.first()->title());
    return tr("Delete the %1 selected items?").arg(items.size());
}

QString DeletionController::noTrashReason() const
{
    const Preferences &prefs = m_gallery->prefs();
    for (const QString &folder : {prefs.imgFolder(), prefs.xmlFolder()}) {
        const TrashFolder trash = trashFolderFor(folder + QStringLiteral("/file"), false);
        if (!trash.exists())
            return trash.reason;
    }
    return QString();
}

bool DeletionController::confirm(const QString &what, bool ask, Removal &how)
{
    const QString noTrash = noTrashReason();
    how = noTrash.isEmpty() ? Removal::Trash : Removal::ForGood;
    if (!ask && noTrash.isEmpty())
        return true;
    QMessageBox box(QMessageBox::Question, tr("Delete"), what, QMessageBox::NoButton, m_window);
    box.setObjectName(QStringLiteral("confirmDelete"));
    box.setWindowModality(Qt::WindowModal);
    QPushButton *del;
    if (noTrash.isEmpty()) {
        box.setInformativeText(tr("Their files are moved to the trash. Edit > Undo brings them back."));
        del = box.addButton(tr("&Delete"), QMessageBox::DestructiveRole);
    } else {
        box.setIcon(QMessageBox::Warning);
        box.setInformativeText(tr("There is no trash for the gallery's folder (%1). Their files would be deleted "
                                  "for good, and this cannot be undone.").arg(noTrash));
        del = box.addButton(tr("Delete for Good"), QMessageBox::DestructiveRole);
    }
    auto *cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(cancel);
    box.exec();
    return box.clickedButton() == static_cast<QAbstractButton *>(del);
}

void DeletionController::deleteNode(const NodePtr &node, bool ask)
{
    Removal how;
    if (node && !m_gallery->isBusy() && confirm(question(*node), ask, how))
        m_gallery->removeNode(node, how);
}

void DeletionController::deleteItems(Album *album, const QList<ItemPtr> &items, bool ask)
{
    Removal how;
    if (album && !items.isEmpty() && !m_gallery->isBusy() && confirm(question(items), ask, how))
        m_gallery->removeItems(album, items, how);
}

void DeletionController::clickedDelete()
{
    if (m_gallery->isBusy())
        return;
    const QModelIndexList rows = m_list->selectionModel()->selectedRows();
    if (m_list->currentView()->hasFocus() && !rows.isEmpty() && m_itemModel->album()) {
        QList<int> sorted;
        for (const QModelIndex &i : rows)
            sorted.append(i.row());
        std::sort(sorted.begin(), sorted.end());
        QList<ItemPtr> items;
        for (int row : sorted) {
            if (ItemPtr item = m_itemModel->itemPtrAt(row))
                items.append(item);
        }
        deleteItems(m_itemModel->album(), items, true);
        return;
    }
    const QModelIndexList nodes = m_tree->selectionModel()->selectedRows();
    deleteNode(nodes.isEmpty() ? nullptr : m_treeModel->nodePtrForIndex(nodes.first()), true);
}

} // namespace qm
