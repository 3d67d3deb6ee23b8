#pragma once

#include "model/Foreign.h"

#include <QString>

#include <memory>

namespace qm {

// Common base of Photo and Video: the text fields both carry.
class Item : public std::enable_shared_from_this<Item>
{
public:
    enum class Kind { Photo, Video };

    virtual ~Item();
    Item(const Item &) = delete;
    Item &operator=(const Item &) = delete;

    Kind kind() const { return m_kind; }
    bool isPhoto() const { return m_kind == Kind::Photo; }
    bool isVideo() const { return m_kind == Kind::Video; }
    quint64 id() const { return m_id; }

    const QString &title() const { return m_title; }
    void setTitle(const QString &v) { m_title = v; }
    const QString &date() const { return m_date; }
    void setDate(const QString &v) { m_date = v; }
    const QString &location() const { return m_location; }
    void setLocation(const QString &v) { m_location = v; }
    const QString &description() const { return m_description; }
    void setDescription(const QString &v) { m_description = v; }

    // Other tools' content of the item's element in its album file.
    const ForeignXmlPtr &foreign() const { return m_foreign; }
    void setForeign(ForeignXmlPtr foreign) { m_foreign = std::move(foreign); }

protected:
    explicit Item(Kind kind);

private:
    Kind m_kind;
    quint64 m_id;
    QString m_title = QStringLiteral("");
    QString m_date = QStringLiteral("");
    QString m_location = QStringLiteral("");
    QString m_description = QStringLiteral("");
    ForeignXmlPtr m_foreign;
};

using ItemPtr = std::shared_ptr<Item>;

} // namespace qm
