#include "mainwindow/MyImageView.h"

#include "storage/FileReader.h"

#include <QDragEnterEvent>
#include <QFile>
#include <QFutureWatcher>
#include <QImageReader>
#include <QMimeData>
#include <QPainter>
#include <QtConcurrent/QtConcurrentRun>

namespace qm {

MyImageView::MyImageView(QWidget *parent)
    : QFrame(parent)
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setMinimumSize(48, 40);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

QSize MyImageView::sizeHint() const
{
    if (m_actualSize && !m_image.isNull())
        return (QSizeF(m_image.size()) * m_zoom / m_image.devicePixelRatio()).toSize().expandedTo(QSize(1, 1));
    return QSize(96, 72);
}

void MyImageView::setActualSize(bool on)
{
    m_actualSize = on;
    if (on) {
        setFrameStyle(QFrame::NoFrame);
        setMinimumSize(0, 0);
    }
    updateGeometry();
    update();
}

void MyImageView::setZoom(qreal zoom)
{
    m_zoom = zoom;
    updateGeometry();
    update();
}

void MyImageView::setImage(const QImage &image)
{
    ++m_asked; // a picture still being read is not wanted any more
    m_image = image;
    if (m_actualSize)
        updateGeometry();
    update();
}

QImage MyImageView::read(const QString &path)
{
    QFile file;
    if (path.isEmpty() || !FileReader::open(file, path, FileReader::kPictureLimit))
        return QImage();
    QImageReader reader(&file);
    reader.setAutoTransform(true);
    // Wells only ever show small pictures; never decode a huge one whole.
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > 2048 || size.height() > 2048))
        reader.setScaledSize(size.scaled(2048, 2048, Qt::KeepAspectRatio));
    return reader.read();
}

void MyImageView::setImageFromFile(const QString &path)
{
    setImage(read(path));
}

void MyImageView::setImageFromFileLater(const QString &path)
{
    const quint64 asked = ++m_asked;
    auto *watcher = new QFutureWatcher<QImage>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, asked] {
        watcher->deleteLater();
        if (asked != m_asked)
            return;
        m_image = watcher->result();
        if (m_actualSize)
            updateGeometry();
        update();
        emit imageLoaded();
    });
    watcher->setFuture(QtConcurrent::run(&MyImageView::read, path));
}

void MyImageView::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    if (m_image.isNull())
        return;
    QPainter p(this);
    if (m_actualSize) {
        // At its own size pixel for pixel: a photo is not resampled on its
        // way to the screen unless it is zoomed.
        const QSize size = sizeHint();
        const QRect area = contentsRect();
        const QPoint at(area.left() + std::max(0, (area.width() - size.width()) / 2),
                        area.top() + std::max(0, (area.height() - size.height()) / 2));
        if (m_zoom == 1) {
            p.drawImage(at, m_image);
        } else {
            p.setRenderHint(QPainter::SmoothPixmapTransform, m_zoom < 4);
            p.drawImage(QRect(at, size), m_image);
        }
        return;
    }
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect area = contentsRect().adjusted(3, 3, -3, -3);
    QSize size = m_image.size();
    if (size.width() > area.width() || size.height() > area.height())
        size = size.scaled(area.size(), Qt::KeepAspectRatio);
    QRect target(QPoint(0, 0), size);
    target.moveCenter(area.center());
    p.drawImage(target, m_image);
}

void MyImageView::mouseDoubleClickEvent(QMouseEvent *event)
{
    emit doubleClicked(event->modifiers());
    event->accept();
}

void MyImageView::dragEnterEvent(QDragEnterEvent *event)
{
    m_entryAnswer = m_dataSource ? m_dataSource->validateDrop(this, event->mimeData()) : Qt::IgnoreAction;
    // The source hears the well's own answer; one it does not offer (a
    // file manager offering only Move) is no drop at all.
    if (m_entryAnswer != Qt::IgnoreAction && !(event->possibleActions() & m_entryAnswer)) {
        m_entryAnswer = Qt::IgnoreAction;
        m_dataSource->dragHasLeft(this);
    }
    if (m_entryAnswer != Qt::IgnoreAction) {
        event->setDropAction(m_entryAnswer);
        event->accept();
    } else {
        event->ignore();
    }
}

void MyImageView::dragMoveEvent(QDragMoveEvent *event)
{
    // The answer given on entry stands while the drag moves over the well.
    if (m_entryAnswer == Qt::IgnoreAction) {
        event->ignore();
        return;
    }
    event->setDropAction(m_entryAnswer);
    event->accept();
}

void MyImageView::dragLeaveEvent(QDragLeaveEvent *event)
{
    if (m_dataSource)
        m_dataSource->dragHasLeft(this);
    event->accept();
}

void MyImageView::dropEvent(QDropEvent *event)
{
    const bool taken = m_entryAnswer != Qt::IgnoreAction && m_dataSource && m_dataSource->acceptDrop(this, event->mimeData());
    if (taken) {
        event->setDropAction(m_entryAnswer);
        event->accept();
    } else {
        event->ignore();
    }
    m_entryAnswer = Qt::IgnoreAction;
}

} // namespace qm
