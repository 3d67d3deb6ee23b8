#pragma once

#include "model/Foreign.h"

#include <QString>

#include <memory>

namespace qm {

class AlbumCollection;

// Common base of the two kinds of tree node. Code that needs to tell them
// apart asks kind(); there are no other subclasses.
class TreeNode : public std::enable_shared_from_this<TreeNode>
{
public:
    enum class Kind { Album, Collection };

    virtual ~TreeNode();
    TreeNode(const TreeNode &) = delete;
    TreeNode &operator=(const TreeNode &) = delete;

    Kind kind() const { return m_kind; }
    bool isAlbum() const { return m_kind == Kind::Album; }
    bool isCollection() const { return m_kind == Kind::Collection; }

    // Process-unique, never reused: lets drag payloads name a node safely.
    quint64 id() const { return m_id; }

    const QString &title() const { return m_title; }
    void setTitle(const QString &title) { m_title = title; }

    const QString &thumbFile() const { return m_thumbFile; }
    void setThumbFile(const QString &file) { m_thumbFile = file; }

    AlbumCollection *parentCollection() const { return m_parent; }
    void setParentCollection(AlbumCollection *parent) { m_parent = parent; }

    // True when `collection` is a proper ancestor (walks parent links by identity).
    bool isCollectionAncestor(const AlbumCollection *collection) const;

    // Other tools' content of the node's entry in the index file.
    const ForeignXmlPtr &foreign() const { return m_foreign; }
    void setForeign(ForeignXmlPtr foreign) { m_foreign = std::move(foreign); }

protected:
    explicit TreeNode(Kind kind);

private:
    Kind m_kind;
    quint64 m_id;
    QString m_title = QStringLiteral("");
    QString m_thumbFile; // null until a thumbnail is given
    AlbumCollection *m_parent = nullptr;
    ForeignXmlPtr m_foreign;
};

using NodePtr = std::shared_ptr<TreeNode>;

quint64 nextObjectId();

} // namespace qm
