#include "video/PlayerView.h"

#include "video/CaptureGeometry.h"
#include "video/FLVMetadata.h"
#include "video/MetadataMessage.h"
#include "video/PlayerPage.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMediaDevices>
#include <QMediaMetaData>
#include <QMediaPlayer>
#include <QPainter>
#include <QProxyStyle>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QVideoFrame>
#include <QVideoSink>

#include <cmath>

namespace qm {

QString playerClock(qint64 ms)
{
    const qint64 s = std::max<qint64>(0, ms) / 1000;
    return s >= 3600 ? QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'))
                     : QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

namespace {

// A click on the position slider's track goes to that point (not a page
// further), as in every player.
class ClickToPointStyle : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_Slider_AbsoluteSetButtons)
            return Qt::LeftButton;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

PlayerView::PlayerView(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("webView"));
    setAccessibleName(tr("Video player"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    m_player = new QMediaPlayer(this);
    m_sink = new QVideoSink(this);
    m_player->setVideoSink(m_sink);
    connect(m_sink, &QVideoSink::videoFrameChanged, this, &PlayerView::frameChanged);
    // Without a sound device the picture plays all the same: a sound
    // output with nowhere to go would hold some movies at their first frame.
    m_audio = new QAudioOutput(this);
    if (!QMediaDevices::audioOutputs().isEmpty())
        m_player->setAudioOutput(m_audio);
    m_player->setLoops(QMediaPlayer::Infinite);
    connect(m_player, &QMediaPlayer::metaDataChanged, this, &PlayerView::maybeSendMetadata);
    connect(m_player, &QMediaPlayer::mediaStatusChanged, this, &PlayerView::maybeSendMetadata);
    connect(m_player, &QMediaPlayer::hasVideoChanged, this, &PlayerView::maybeSendMetadata);
    buildControls();
}

PlayerView::~PlayerView()
{
    // The player and the sound output are destroyed after this view: what
    // they signal meanwhile must not reach it.
    m_player->disconnect(this);
    m_audio->disconnect(this);
    m_sink->disconnect(this);
    m_player->stop();
}

void PlayerView::buildControls()
{
    m_controls = new QWidget(this);
    m_controls->setObjectName(QStringLiteral("playerControls"));
    auto button = [this](const char *name, QStyle::StandardPixmap icon, const QString &tip) {
        auto *b = new QToolButton(m_controls);
        b->setObjectName(QLatin1String(name));
        b->setIcon(style()->standardIcon(icon));
        b->setToolTip(tip);
        b->setAccessibleName(tip);
        b->setAutoRaise(true);
        b->setIconSize(QSize(22, 22));
        // The keys belong to the player: Space must not press a focused button.
        b->setFocusPolicy(Qt::NoFocus);
        return b;
    };
    m_btnPlay = button("btnPlay", QStyle::SP_MediaPause, tr("Pause (Space)"));
    m_btnStepBack = button("btnStepBack", QStyle::SP_MediaSeekBackward, tr("Previous frame (Left Arrow)"));
    m_btnStepForward = button("btnStepForward", QStyle::SP_MediaSeekForward, tr("Next frame (Right Arrow)"));
    m_btnMute = button("btnMute", QStyle::SP_MediaVolume, tr("Mute"));
    m_sldPosition = new QSlider(Qt::Horizontal, m_controls);
    m_sldPosition->setObjectName(QStringLiteral("sldPosition"));
    m_sldPosition->setAccessibleName(tr("Position"));
    m_sldPosition->setFocusPolicy(Qt::NoFocus);
    auto *clickToPoint = new ClickToPointStyle;
    clickToPoint->setParent(m_sldPosition);
    m_sldPosition->setStyle(clickToPoint);
    m_sldVolume = new QSlider(Qt::Horizontal, m_controls);
    m_sldVolume->setObjectName(QStringLiteral("sldVolume"));
    m_sldVolume->setAccessibleName(tr("Volume"));
    m_sldVolume->setFocusPolicy(Qt::NoFocus);
    m_sldVolume->setRange(0, 100);
    m_sldVolume->setValue(100);
    m_sldVolume->setFixedWidth(70);
    m_lblTime = new QLabel(m_controls);
    m_lblTime->setObjectName(QStringLiteral("lblTime"));
    m_lblTime->setMinimumWidth(m_lblTime->fontMetrics().horizontalAdvance(QStringLiteral("00:00 / 00:00")) + 4);

    auto *row = new QHBoxLayout(m_controls);
    row->setContentsMargins(8, 0, 8, 0);
    row->setSpacing(4);
    row->addWidget(m_btnPlay);
    row->addWidget(m_btnStepBack);
    row->addWidget(m_btnStepForward);
    row->addWidget(m_sldPosition, 1);
    row->addWidget(m_lblTime);
    row->addSpacing(6);
    row->addWidget(m_btnMute);
    row->addWidget(m_sldVolume);

    connect(m_btnPlay, &QToolButton::clicked, this, &PlayerView::togglePlaying);
    connect(m_btnStepBack, &QToolButton::clicked, this, [this] { stepFrame(-1); });
    connect(m_btnStepForward, &QToolButton::clicked, this, [this] { stepFrame(1); });
    connect(m_btnMute, &QToolButton::clicked, this, [this] { m_audio->setMuted(!m_audio->isMuted()); });
    connect(m_sldVolume, &QSlider::valueChanged, this, [this](int v) { m_audio->setVolume(float(v) / 100.0f); });
    // Dragged, clicked on the track, or paged: the movie follows the slider.
    connect(m_sldPosition, &QSlider::sliderMoved, this, &PlayerView::seekFromSlider);
    connect(m_sldPosition, &QSlider::actionTriggered, this, &PlayerView::seekFromSlider);
    connect(m_sldPosition, &QSlider::sliderReleased, this, &PlayerView::seekFromSlider);
    connect(m_audio, &QAudioOutput::mutedChanged, this, &PlayerView::updateControls);
    connect(m_player, &QMediaPlayer::playbackStateChanged, this, &PlayerView::updateControls);
    connect(m_player, &QMediaPlayer::durationChanged, this, &PlayerView::updateControls);
    connect(m_player, &QMediaPlayer::positionChanged, this, &PlayerView::updateControls);
    connect(m_player, &QMediaPlayer::seekableChanged, this, &PlayerView::updateControls);
    connect(m_player, &QMediaPlayer::mediaStatusChanged, this, &PlayerView::startWhereAsked);
    connect(m_player, &QMediaPlayer::seekableChanged, this, &PlayerView::startWhereAsked);
    updateControls();
}

void PlayerView::seekFromSlider()
{
    if (!m_movie.isEmpty() && m_player->isSeekable())
        m_player->setPosition(m_sldPosition->sliderPosition());
}

void PlayerView::startWhereAsked()
{
    if (m_startMs <= 0)
        return;
    const QMediaPlayer::MediaStatus status = m_player->mediaStatus();
    if (status != QMediaPlayer::LoadedMedia && status != QMediaPlayer::BufferedMedia
        && status != QMediaPlayer::BufferingMedia)
        return;
    // A movie that cannot seek starts at its beginning once it is ready.
    if (!m_player->isSeekable() && status != QMediaPlayer::BufferedMedia)
        return;
    if (m_player->isSeekable()) {
        const qint64 duration = m_player->duration();
        m_player->setPosition(duration > 0 ? std::min(m_startMs, duration - 1) : m_startMs);
    }
    m_startMs = -1;
    if (std::exchange(m_playAfterStart, false))
        m_player->play();
}

void PlayerView::updateControls()
{
    const bool loaded = !m_movie.isEmpty();
    const bool playing = isPlaying();
    m_btnPlay->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    m_btnPlay->setToolTip(playing ? tr("Pause (Space)") : tr("Play (Space)"));
    m_btnPlay->setAccessibleName(playing ? tr("Pause") : tr("Play"));
    const bool audible = m_player->audioOutput() != nullptr;
    m_btnMute->setEnabled(audible);
    m_sldVolume->setEnabled(audible);
    const bool muted = m_audio->isMuted();
    m_btnMute->setIcon(style()->standardIcon(muted || !audible ? QStyle::SP_MediaVolumeMuted : QStyle::SP_MediaVolume));
    m_btnMute->setToolTip(!audible ? tr("No sound device") : muted ? tr("Sound on") : tr("Mute"));
    m_btnMute->setAccessibleName(m_btnMute->toolTip());
    const qint64 duration = loaded ? m_player->duration() : 0;
    const bool seekable = loaded && m_player->isSeekable() && duration > 0;
    for (QWidget *w : {static_cast<QWidget *>(m_btnPlay), static_cast<QWidget *>(m_sldPosition)})
        w->setEnabled(loaded);
    m_btnStepBack->setEnabled(seekable && m_player->hasVideo());
    m_btnStepForward->setEnabled(seekable && m_player->hasVideo());
    m_sldPosition->setEnabled(seekable);
    if (!m_sldPosition->isSliderDown()) {
        const QSignalBlocker block(m_sldPosition);
        m_sldPosition->setRange(0, int(std::min<qint64>(duration, std::numeric_limits<int>::max())));
        m_sldPosition->setValue(int(std::min<qint64>(position(), std::numeric_limits<int>::max())));
    }
    m_lblTime->setText(loaded ? QStringLiteral("%1 / %2").arg(playerClock(position()), playerClock(duration)) : QString());
}

QSize PlayerView::sizeHint() const
{
    return {CaptureGeometry::kAreaWidth, CaptureGeometry::kAreaHeight + CaptureGeometry::kBottomMargin};
}

QSize PlayerView::minimumSizeHint() const
{
    return sizeHint();
}

bool PlayerView::isPlaying() const
{
    return m_player->playbackState() == QMediaPlayer::PlayingState;
}

qint64 PlayerView::position() const
{
    return m_movie.isEmpty() ? 0 : m_player->position();
}

qint64 PlayerView::shownPosition() const
{
    return m_frameStartMs >= 0 ? m_frameStartMs : position();
}

double PlayerView::frameMs() const
{
    const double fps = m_player->metaData().value(QMediaMetaData::VideoFrameRate).toDouble();
    if (fps >= 1 && fps <= 240)
        return 1000.0 / fps;
    return m_frameEndMs > m_frameStartMs && m_frameStartMs >= 0 ? double(m_frameEndMs - m_frameStartMs) : 40.0;
}

void PlayerView::togglePlaying()
{
    if (m_movie.isEmpty())
        return;
    if (isPlaying())
        m_player->pause();
    else
        m_player->play();
}

void PlayerView::pause()
{
    if (isPlaying())
        m_player->pause();
}

void PlayerView::stepFrame(int frames)
{
    if (m_movie.isEmpty() || !m_player->isSeekable())
        return;
    pause();
    // Counted in frames from the frame on show (or the one a step before
    // this is heading for): a frame shown after a seek reports the time
    // sought, not its own start.
    const double step = frameMs();
    const qint64 from = m_stepTargetMs >= 0 ? m_stepTargetMs : shownPosition();
    const qint64 frame = qint64(std::floor((double(from) + 1.0) / step)) + frames;
    const qint64 duration = m_player->duration();
    const qint64 last = duration > 0 ? qint64(std::floor((double(duration) - 1.0) / step)) : frame;
    const qint64 target = std::clamp<qint64>(frame, 0, std::max<qint64>(0, last));
    m_stepTargetMs = qint64(std::ceil(double(target) * step));
    // The middle of the frame: its very start may round to the one before.
    m_player->setPosition(qint64(std::lround((double(target) + 0.5) * step)));
}

void PlayerView::setFitted(bool fitted, Orientation orientation)
{
    m_fitted = fitted;
    m_orientation = orientation;
    update();
}

void PlayerView::setNotice(const QString &text)
{
    m_notice = text;
    update();
}

int PlayerView::load(const QUrl &page, qint64 startMs, bool paused)
{
    ++m_load;
    m_player->stop();
    m_frame = QImage();
    m_pendingFrame = QVideoFrame();
    m_frameStartMs = m_frameEndMs = m_stepTargetMs = -1;
    m_startMs = startMs;
    m_sent = false;
    m_tagBitrate = -1;
    QFile file(page.toLocalFile());
    // A page is small; anything large is not ours to read.
    const QString html = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.read(1 << 20)) : QString();
    m_movie = moviePathFromPage(html);
    update();
    updateControls();
    if (m_movie.isEmpty())
        return m_load;
    const FLVTagMetadata tag = readFLVTagMetadata(m_movie);
    if (tag.found)
        m_tagBitrate = tag.bitrate;
    m_player->setSource(QUrl::fromLocalFile(m_movie));
    // Started elsewhere than at the beginning: it waits until it is there.
    m_playAfterStart = !paused && startMs > 0;
    if (paused || startMs > 0)
        m_player->pause();
    else
        m_player->play();
    return m_load;
}

void PlayerView::loadEmpty()
{
    ++m_load;
    m_player->stop();
    m_player->setSource(QUrl());
    m_movie.clear();
    m_frame = QImage();
    m_pendingFrame = QVideoFrame();
    m_frameStartMs = m_frameEndMs = m_stepTargetMs = m_startMs = -1;
    m_playAfterStart = false;
    update();
    updateControls();
}

// The sink hands over each frame from the GUI thread while its streaming
// thread waits, and gives up (stopping the movie for good) after 300 ms. The
// first conversion of a frame can take that long where a display offers GL,
// so the frame is only kept here and shown once the sink has its answer.
void PlayerView::frameChanged(const QVideoFrame &frame)
{
    const bool scheduled = m_pendingFrame.isValid();
    m_pendingFrame = frame;
    if (!scheduled)
        QMetaObject::invokeMethod(this, &PlayerView::showPendingFrame, Qt::QueuedConnection);
}

void PlayerView::showPendingFrame()
{
    QVideoFrame frame = std::exchange(m_pendingFrame, QVideoFrame());
    // Before it has gone where it was asked to start, the first frame is not its frame.
    if (m_movie.isEmpty() || !frame.isValid() || m_startMs > 0)
        return;
    // The stored picture: Qt turns some movies by their tags (not every
    // mirror, nor the same way); the turn is ours to make, once.
    frame.setRotationAngle(QVideoFrame::Rotation0);
    frame.setMirrored(false);
    QImage image = frame.toImage();
    if (image.isNull())
        return;
    m_frame = image.convertToFormat(QImage::Format_RGB32);
    m_frameStartMs = frame.startTime() >= 0 ? frame.startTime() / 1000 : -1;
    m_frameEndMs = frame.endTime() >= 0 ? frame.endTime() / 1000 : -1;
    m_stepTargetMs = -1;
    update();
    emit frameShown();
    maybeSendMetadata();
}

void PlayerView::maybeSendMetadata()
{
    // A picture after a report of none (the tracks were not all known yet)
    // is reported again.
    if ((m_sent && !(m_sentSoundOnly && !m_frame.isNull())) || m_movie.isEmpty())
        return;
    const QMediaPlayer::MediaStatus status = m_player->mediaStatus();
    const bool loaded = status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::BufferedMedia
                        || status == QMediaPlayer::BufferingMedia || status == QMediaPlayer::EndOfMedia;
    // A picture gives its size with its first frame; sound alone says so
    // once the movie is loaded and has no picture.
    const bool soundOnly = loaded && !m_player->hasVideo() && m_player->hasAudio();
    if (m_frame.isNull() && !soundOnly)
        return;
    // The player's own figures in bit/s when the demuxer gives them, else
    // the file's metadata tag in kbit/s, else the file's size over its length.
    const QMediaMetaData meta = m_player->metaData();
    const int video = meta.value(QMediaMetaData::VideoBitRate).toInt();
    const int audio = meta.value(QMediaMetaData::AudioBitRate).toInt();
    int bitrate = (video + audio) / 1000;
    if (bitrate <= 0)
        bitrate = std::max(0, m_tagBitrate);
    if (bitrate <= 0)
        bitrate = estimatedFLVBitrate(m_movie, m_player->duration());
    m_sent = true;
    m_sentSoundOnly = m_frame.isNull();
    const QSize size = m_frame.isNull() ? QSize(0, 0) : m_frame.size();
    emit metadataMessage(qm::metadataMessage(size.width(), size.height(), bitrate), m_load);
}

QImage PlayerView::capture(const QRect &rect)
{
    const QRect r = rect.intersected(playerAreaInView(size()));
    if (r.isEmpty())
        return {};
    QImage out(r.size(), QImage::Format_RGB32);
    out.fill(Qt::black);
    render(&out, QPoint(), QRegion(r), RenderFlags(DrawWindowBackground));
    return out;
}

void PlayerView::resizeEvent(QResizeEvent *)
{
    m_controls->setGeometry(0, height() - CaptureGeometry::kBottomMargin, width(), CaptureGeometry::kBottomMargin);
}

void PlayerView::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Space:
        togglePlaying();
        break;
    case Qt::Key_Left:
        stepFrame(-1);
        break;
    case Qt::Key_Right:
        stepFrame(1);
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void PlayerView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QRect area = playerAreaInView(size());
    p.fillRect(rect(), QColor(24, 24, 24));
    p.fillRect(QRect(0, area.bottom() + 1, width(), height() - area.bottom() - 1), palette().window());
    p.fillRect(area, Qt::black);
    if (m_frame.isNull()) {
        if (m_movie.isEmpty() && !m_notice.isEmpty()) {
            p.setPen(QColor(200, 200, 200));
            p.drawText(area.adjusted(24, 0, -24, 0), Qt::AlignCenter | Qt::TextWordWrap, m_notice);
        } else if (!m_movie.isEmpty()) {
            p.setPen(QColor(160, 160, 160));
            const bool soundOnly = m_player->mediaStatus() != QMediaPlayer::LoadingMedia && !m_player->hasVideo()
                                   && m_player->hasAudio();
            p.drawText(area, Qt::AlignCenter, soundOnly ? tr("Sound only: this movie has no picture.")
                                                        : tr("Loading the movie..."));
        }
        return;
    }
    p.setClipRect(area);
    if (!m_fitted) {
        p.drawImage(frameRectInView(size(), m_frame.size()).topLeft(), m_frame);
        return;
    }
    const QSizeF upright = swapsSides(m_orientation) ? m_frame.size().transposed() : m_frame.size();
    const qreal scale = std::min({1.0, area.width() / upright.width(), area.height() / upright.height()});
    QRectF target(QPointF(0, 0), upright * scale);
    target.moveCenter(QRectF(area).center());
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    drawOriented(p, target, m_frame, m_orientation);
}

} // namespace qm
