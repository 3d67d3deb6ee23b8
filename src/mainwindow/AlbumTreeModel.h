#pragma once

#include "model/Data.h"

#include <QAbstractItemModel>

namespace qm {

class Preferences;

// The tree of collections and albums, straight over Data: the model objects
// are the rows, nothing is copied. Every change to the tree goes through
// here so that views hear of it.
class AlbumTreeModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    enum Column { TitleColumn = 0, NumberColumn, XMLFileColumn, ColumnCount };

    AlbumTreeModel(Data *data, Preferences *prefs, QObject *parent = nullptr);

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    TreeNode *nodeForIndex(const QModelIndex &index) const;
    NodePtr nodePtrForIndex(const QModelIndex &index) const;
    QModelIndex indexForNode(const TreeNode *node, int column = 0) const;

    // New "Untitled" nodes placed by the selection rule: top level with
    // nothing selected, beside a selected album, inside a selected
    // collection. Returns the new node's index; `error` gets why its default
    // thumbnail could not be copied (the node is made regardless).
    QModelIndex newCollection(TreeNode *selected, QString *error = nullptr);
    QModelIndex newAlbum(TreeNode *selected, QString *error = nullptr);

    // The whole tree was replaced (a gallery was loaded).
    void reload();
    // An album's item count changed.
    void albumItemsChanged(const Album *album);

signals:
    // An edit was refused; the text says why, for the status bar.
    void editRefused(const QString &reason);

private:
    QModelIndex insertNode(NodePtr node, TreeNode *selected);
    QString copyDefaultThumb(const QString &resource, QString *error);
    const QList<NodePtr> &childrenOf(const TreeNode *node) const;
    int rowOf(const TreeNode *node) const;

    Data *m_data;
    Preferences *m_prefs;
};

} // namespace qm
