#include "mainwindow/PhotoWindowController.h"

#include "mainwindow/MyImageView.h"
#include "model/Photo.h"
#include "storage/FileReader.h"
#include "storage/Preferences.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

namespace qm {

namespace {

constexpr qreal kZoomStep = 1.25;
constexpr qreal kMinZoom = 1.0 / 32;
constexpr qreal kMaxZoom = 16;

} // namespace

PhotoWindowController::PhotoWindowController(Preferences *prefs, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_prefs(prefs)
{
    setObjectName(QStringLiteral("wndPhoto"));
    m_ivPhoto = new MyImageView;
    m_ivPhoto->setObjectName(QStringLiteral("ivPhoto"));
    m_ivPhoto->setAccessibleName(tr("Photo"));
    m_ivPhoto->setActualSize(true);
    m_ivPhoto->installEventFilter(this);
    m_scroll = new QScrollArea;
    m_scroll->setObjectName(QStringLiteral("scrollPhoto"));
    m_scroll->setFrameStyle(QFrame::NoFrame);
    m_scroll->setAlignment(Qt::AlignCenter);
    m_scroll->setWidget(m_ivPhoto);
    m_scroll->viewport()->installEventFilter(this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_scroll);

    auto add = [this](const QString &name, const QString &text, const QList<QKeySequence> &keys, auto slot) {
        auto *a = new QAction(text, this);
        a->setObjectName(name);
        a->setShortcuts(keys);
        a->setShortcutContext(Qt::WindowShortcut);
        connect(a, &QAction::triggered, this, slot);
        addAction(a);
        return a;
    };
    add(QStringLiteral("miClose"), tr("Close"), {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}, [this] {
        // Escape leaves the full screen first.
        if (isFullScreen())
            toggleFullScreen();
        else
            close();
    });
    add(QStringLiteral("miPrevious"), tr("Previous Photo"), {QKeySequence(Qt::Key_Left), QKeySequence(Qt::Key_PageUp)},
        [this] { emit stepRequested(-1); });
    add(QStringLiteral("miNext"), tr("Next Photo"),
        {QKeySequence(Qt::Key_Right), QKeySequence(Qt::Key_PageDown), QKeySequence(Qt::Key_Space)},
        [this] { emit stepRequested(+1); });
    add(QStringLiteral("miZoomIn"), tr("Zoom In"),
        {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal), QKeySequence(Qt::Key_Plus)},
        [this] { setZoom(zoom() * kZoomStep); });
    add(QStringLiteral("miZoomOut"), tr("Zoom Out"), {QKeySequence(Qt::CTRL | Qt::Key_Minus), QKeySequence(Qt::Key_Minus)},
        [this] { setZoom(zoom() / kZoomStep); });
    add(QStringLiteral("miActualSize"), tr("Actual Size"), {QKeySequence(Qt::CTRL | Qt::Key_0), QKeySequence(Qt::Key_1)},
        [this] { setZoom(1); });
    add(QStringLiteral("miFit"), tr("Fit to Window"), {QKeySequence(Qt::Key_F), QKeySequence(Qt::CTRL | Qt::Key_9)},
        &PhotoWindowController::fitToWindow);
    add(QStringLiteral("miFullScreen"), tr("Full Screen"), {QKeySequence(Qt::Key_F11)},
        &PhotoWindowController::toggleFullScreen);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

qreal PhotoWindowController::zoom() const
{
    return m_ivPhoto->zoom();
}

void PhotoWindowController::setZoom(qreal zoom)
{
    m_fit = false;
    m_zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
    applyZoom();
}

void PhotoWindowController::fitToWindow()
{
    m_fit = true;
    const QImage &image = m_ivPhoto->image();
    if (image.isNull())
        return;
    // The whole picture in the room the window has, never enlarged.
    const QSizeF room = QSizeF(m_scroll->maximumViewportSize()) * image.devicePixelRatio();
    m_zoom = std::min({qreal(1), room.width() / image.width(), room.height() / image.height()});
    applyZoom();
}

void PhotoWindowController::applyZoom()
{
    m_ivPhoto->setZoom(m_zoom);
    m_ivPhoto->resize(m_ivPhoto->sizeHint());
    updateTitle();
}

void PhotoWindowController::toggleFullScreen()
{
    if (isFullScreen())
        showNormal();
    else
        showFullScreen();
}

void PhotoWindowController::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_fit)
        fitToWindow();
}

bool PhotoWindowController::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == m_ivPhoto || watched == m_scroll->viewport()) && event->type() == QEvent::MouseButtonDblClick) {
        toggleFullScreen();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void PhotoWindowController::updateTitle()
{
    const int percent = qRound(m_zoom * 100);
    setWindowTitle(percent == 100 ? m_title : tr("%1 (%2%)").arg(m_title).arg(percent));
}

bool PhotoWindowController::showFile(const QString &path, const QString &title)
{
    // Only a plain file: a pipe named like the photo must not hang the window.
    QFile file;
    QString refused;
    if (!FileReader::open(file, path, FileReader::kPictureLimit, &refused)) {
        emit cannotShow(path, refused);
        return false;
    }
    QImageReader reader(&file);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    // An unreadable picture leaves the window as it was rather than shrinking it to nothing.
    if (image.isNull()) {
        emit cannotShow(path, QFileInfo::exists(path) ? reader.errorString() : tr("the file is not there"));
        return false;
    }
    // One picture pixel on one pixel of the screen, whatever its scale.
    image.setDevicePixelRatio(devicePixelRatioF());
    const QRect oldFrame = isVisible() ? frameGeometry() : QRect();
    m_ivPhoto->setImage(QImage());
    m_title = title;
    m_ivPhoto->setImage(image);
    // Full screen, or fitted, it stays so; otherwise the window takes the picture's size.
    const bool keepFrame = isFullScreen() || (m_fit && isVisible());
    if (keepFrame) {
        fitToWindow();
    } else {
        m_fit = false;
        m_zoom = 1;
        applyZoom();
        placeOnScreen(oldFrame);
    }
    show();
    raise();
    activateWindow();
    if (!keepFrame) {
        // The window manager may give the frame its decorations only now.
        QTimer::singleShot(0, this, [this] {
            if (!isFullScreen() && !m_fit)
                placeOnScreen(frameGeometry());
        });
    }
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
    const QSize picture = m_ivPhoto->sizeHint();
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
    if (showFile(m_prefs->imgPath(photo.imageFile()), tr("Photo - %1").arg(photo.title())))
        m_large = false;
}

void PhotoWindowController::showLargePhoto(const Photo &photo)
{
    const QString path = m_prefs->imgPath(photo.largeImageFile());
    if (path.isNull() || !QFileInfo(path).isFile())
        return;
    if (showFile(path, tr("Photo (large) - %1").arg(photo.title())))
        m_large = true;
}

} // namespace qm
