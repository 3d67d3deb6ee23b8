#pragma once

#include "model/Item.h"

namespace qm {

class Photo : public Item
{
public:
    Photo() : Item(Kind::Photo) {}

    // All three start null; a null large image means the photo has none.
    const QString &imageFile() const { return m_imageFile; }
    void setImageFile(const QString &v) { m_imageFile = v; }
    const QString &smallImageFile() const { return m_smimageFile; }
    void setSmallImageFile(const QString &v) { m_smimageFile = v; }
    const QString &largeImageFile() const { return m_lgimageFile; }
    void setLargeImageFile(const QString &v) { m_lgimageFile = v; }

private:
    QString m_imageFile;
    QString m_smimageFile;
    QString m_lgimageFile;
};

} // namespace qm
