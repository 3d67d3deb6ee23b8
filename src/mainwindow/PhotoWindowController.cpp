#include "mainwindow/PhotoWindowController.h"

#include "mainwindow/MyImageView.h"
#include "model/Photo.h"
#include "storage/FileReader.h"
#include "storage/Preferences.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

namespace qm {

PhotoWindowController::PhotoWindowController(Preferences *prefs, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_prefs(prefs)
{
    setObjectName(QStringLiteral("wndPhoto"));
    m_ivPhoto = new MyImageView;
    m_ivPhoto->setObjectName(QStringLiteral("ivPhoto"));
    m_ivPhoto->setAccessibleName(tr("Photo"));
    m_ivPhoto->setActualSize(true);
    m_scroll = new QScrollArea;
    m_scroll->setObjectName(QStringLiteral("scrollPhoto"));
    m_scroll->setFrameStyle(QFrame::NoFrame);
    m_scroll->setAlignment(Qt::AlignCenter);
    m_scroll->setWidget(m_ivPhoto);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_scroll);
}

bool PhotoWindowController::showFile(const QString &path, const QString &title)
{
    // Only a plain file: a pipe named like the photo must not hang the window.
    QFile file;
    if (!FileReader::open(file, path, FileReader::kPictureLimit))
        return false;
    QImageReader reader(&file);
    reader.setAutoTransform(true);
    const QImage image = reader.read();
    // An unreadable picture leaves the window as it was rather than shrinking it to nothing.
    if (image.isNull())
        return false;
    const QRect oldFrame = isVisible() ? frameGeometry() : QRect();
    m_ivPhoto->setImage(QImage());
    setWindowTitle(title);
    m_ivPhoto->setImage(image);
    m_ivPhoto->resize(image.size());
    placeOnScreen(oldFrame);
    show();
    raise();
    activateWindow();
    // The window manager may give the frame its decorations only now.
    QTimer::singleShot(0, this, [this] { placeOnScreen(frameGeometry()); });
    return true;
}

void PhotoWindowController::placeOnScreen(const QRect &oldFrame)
{
    QScreen *screen = oldFrame.isValid() ? QGuiApplication::screenAt(oldFrame.center()) : nullptr;
    if (!screen)
        screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    // The frame's decorations, once the window has them.
    const QMargins frame = isVisible() ? QMargins(geometry().left() - frameGeometry().left(),
                                                  geometry().top() - frameGeometry().top(),
                                                  frameGeometry().right() - geometry().right(),
                                                  frameGeometry().bottom() - geometry().bottom())
                                       : QMargins();
    const QSize room = area.size().shrunkBy(frame);
    const QSize picture = m_ivPhoto->image().size() / m_ivPhoto->image().devicePixelRatio();
    const QSize content = picture.boundedTo(room).expandedTo(QSize(1, 1));
    resize(content);
    const QSize outer = content.grownBy(frame);

    QPoint topLeft;
    if (oldFrame.isValid()) {
        // The lower left corner stays.
        topLeft = QPoint(oldFrame.left(), oldFrame.bottom() + 1 - outer.height());
    } else {
        const QRect over = parentWidget() && parentWidget()->isVisible() ? parentWidget()->frameGeometry() : area;
        topLeft = over.center() - QPoint(outer.width() / 2, outer.height() / 2);
    }
    topLeft.setX(std::clamp(topLeft.x(), area.left(), std::max(area.left(), area.right() + 1 - outer.width())));
    topLeft.setY(std::clamp(topLeft.y(), area.top(), std::max(area.top(), area.bottom() + 1 - outer.height())));
    move(topLeft);
}

void PhotoWindowController::showPhoto(const Photo &photo)
{
    showFile(m_prefs->imgPath(photo.imageFile()), tr("Photo - %1").arg(photo.title()));
}

void PhotoWindowController::showLargePhoto(const Photo &photo)
{
    const QString path = m_prefs->imgPath(photo.largeImageFile());
    if (path.isNull() || !QFileInfo(path).isFile())
        return;
    showFile(path, tr("Photo (large) - %1").arg(photo.title()));
}

} // namespace qm
