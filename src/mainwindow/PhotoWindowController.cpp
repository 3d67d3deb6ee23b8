#include "mainwindow/PhotoWindowController.h"

#include "mainwindow/MyImageView.h"
#include "model/Photo.h"
#include "storage/Preferences.h"

#include <QFileInfo>
#include <QImageReader>
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
    m_ivPhoto->setFrameStyle(QFrame::NoFrame);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_ivPhoto);
}

bool PhotoWindowController::showFile(const QString &path, const QString &title)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QImage image = reader.read();
    // An unreadable picture leaves the window as it was rather than shrinking it to nothing.
    if (image.isNull())
        return false;
    const QPoint bottomLeft = isVisible() ? frameGeometry().bottomLeft() : QPoint();
    m_ivPhoto->setImage(QImage());
    setWindowTitle(title);
    m_ivPhoto->setImage(image);
    resize(image.size());
    if (!bottomLeft.isNull())
        move(bottomLeft.x(), bottomLeft.y() - frameGeometry().height() + 1);
    show();
    raise();
    activateWindow();
    return true;
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
