#pragma once

#include <QFutureWatcher>
#include <QGroupBox>
#include <QList>
#include <QSize>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace qm {

class Gallery;
class Item;
class MyImageView;

// The details of the item selected in the list: its picture, the pixel
// sizes of its files, its description, and the show-video button. Typing
// in the description is an edit of the gallery; showing one is not. The
// picture and the sizes are read off the GUI thread and shown when ready.
class ItemDetailPanel : public QGroupBox
{
    Q_OBJECT
public:
    explicit ItemDetailPanel(Gallery *gallery, QWidget *parent = nullptr);

    // Null clears the details.
    void showItem(Item *item);
    Item *item() const { return m_item; }

    MyImageView *ivPhoto() const { return m_ivPhoto; }
    MyImageView *ivTrash() const { return m_ivTrash; }
    QLabel *lblSmallImageSize() const { return m_lblSmallImageSize; }
    QLabel *lblImageSize() const { return m_lblImageSize; }
    QLabel *lblLargeImageSize() const { return m_lblLargeImageSize; }
    QPlainTextEdit *txtPhotoDesc() const { return m_txtPhotoDesc; }
    QPushButton *btnShowVideo() const { return m_btnShowVideo; }

signals:
    void showVideoEnabledChanged(bool on);

private:
    void fill();
    void showSizes();
    void textDidChange();
    void setDescription(const QString &text, bool editable);

    Gallery *m_gallery;
    Item *m_item = nullptr;
    QFutureWatcher<QStringList> m_sizes; // small, normal and large, being read
    MyImageView *m_ivPhoto;
    MyImageView *m_ivTrash;
    QLabel *m_lblSmallImageSize;
    QLabel *m_lblImageSize;
    QLabel *m_lblLargeImageSize;
    QPlainTextEdit *m_txtPhotoDesc;
    QPushButton *m_btnShowVideo;
};

} // namespace qm
