#pragma once

#include "model/Item.h"
#include "model/TreeNode.h"

#include <QList>

namespace qm {

class Album : public TreeNode
{
public:
    Album() : TreeNode(Kind::Album) {}

    const QString &description() const { return m_description; }
    void setDescription(const QString &v) { m_description = v; }

    const QString &XMLFile() const { return m_xmlFile; }
    void setXMLFile(const QString &v) { m_xmlFile = v; }

    QList<ItemPtr> &items() { return m_items; }
    const QList<ItemPtr> &items() const { return m_items; }
    const ItemPtr &itemAtIndex(qint32 index) const { return m_items.at(index); }
    void addItem(ItemPtr item) { m_items.append(std::move(item)); }
    void insertItem(ItemPtr item, qint32 index) { m_items.insert(index, std::move(item)); }
    // Removes every occurrence of that very object.
    void removeItem(const Item *item);
    int indexOfItem(const Item *item) const;

    // Other tools' content of the album file around and between the items
    // (its document and root element); it follows the album to a new file name.
    const ForeignXmlPtr &foreignFile() const { return m_foreignFile; }
    void setForeignFile(ForeignXmlPtr foreign) { m_foreignFile = std::move(foreign); }

private:
    QString m_description = QStringLiteral("");
    QList<ItemPtr> m_items;
    QString m_xmlFile = QStringLiteral("");
    ForeignXmlPtr m_foreignFile;
};

using AlbumPtr = std::shared_ptr<Album>;

} // namespace qm
