#pragma once

#include <QFrame>
#include <QImage>

class QMimeData;

namespace qm {

class MyImageView;

// Decides about drops on an image well. Every method is optional.
class ImageViewDataSource
{
public:
    virtual ~ImageViewDataSource() = default;
    virtual Qt::DropAction validateDrop(MyImageView *, const QMimeData *) { return Qt::IgnoreAction; }
    virtual bool acceptDrop(MyImageView *, const QMimeData *) { return false; }
    virtual void dragHasLeft(MyImageView *) {}
};

// An image well: shows one picture scaled to fit (never enlarged), passes
// every drop decision to its data source and reports double clicks. A drop
// never puts the dragged picture into the well by itself.
class MyImageView : public QFrame
{
    Q_OBJECT
public:
    explicit MyImageView(QWidget *parent = nullptr);

    void setDataSource(ImageViewDataSource *source) { m_dataSource = source; }
    ImageViewDataSource *dataSource() const { return m_dataSource; }

    void setImage(const QImage &image);
    // Loads from a file; an unreadable or missing file shows no picture.
    // For the program's own pictures: the file is read on this thread.
    void setImageFromFile(const QString &path);
    // The same for a file of the gallery: read off the GUI thread, shown when
    // read, unless another picture was asked for meanwhile.
    void setImageFromFileLater(const QString &path);
    const QImage &image() const { return m_image; }

    // At the picture's own size: drawn 1:1 from the top-left corner, no
    // inset, and the view asks for exactly the picture's size (the viewer).
    void setActualSize(bool on);
    bool actualSize() const { return m_actualSize; }
    // At the picture's own size times this (1: each picture pixel one device pixel).
    void setZoom(qreal zoom);
    qreal zoom() const { return m_zoom; }

    // Accepting drops is asked of the data source; this only switches it on.
    void setAcceptsDrops(bool on) { setAcceptDrops(on); }

    QSize sizeHint() const override;

signals:
    // Sent on a double click with the event's keyboard modifiers.
    void doubleClicked(Qt::KeyboardModifiers modifiers);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

signals:
    // A picture asked for with setImageFromFileLater() is shown (or none, when unreadable).
    void imageLoaded();

private:
    static QImage read(const QString &path);

    ImageViewDataSource *m_dataSource = nullptr;
    QImage m_image;
    quint64 m_asked = 0; // the latest picture asked for
    Qt::DropAction m_entryAnswer = Qt::IgnoreAction;
    bool m_actualSize = false;
    qreal m_zoom = 1;
};

} // namespace qm
