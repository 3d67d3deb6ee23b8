#include "video/PlayerView.h"

#include "video/CaptureGeometry.h"
#include "video/FLVMetadata.h"
#include "video/MetadataMessage.h"
#include "video/PlayerPage.h"

#include <QFile>
#include <QMediaMetaData>
#include <QMediaPlayer>
#include <QPainter>
#include <QVideoFrame>
#include <QVideoSink>

namespace qm {

PlayerView::PlayerView(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("webView"));
    setAccessibleName(tr("Video player"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_player = new QMediaPlayer(this);
    m_sink = new QVideoSink(this);
    m_player->setVideoSink(m_sink);
    m_player->setLoops(QMediaPlayer::Infinite);
    connect(m_sink, &QVideoSink::videoFrameChanged, this, &PlayerView::frameChanged);
    connect(m_player, &QMediaPlayer::metaDataChanged, this, &PlayerView::maybeSendMetadata);
}

PlayerView::~PlayerView()
{
    m_player->stop();
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

int PlayerView::load(const QUrl &page)
{
    ++m_load;
    m_player->stop();
    m_frame = QImage();
    m_sent = false;
    m_tagBitrate = -1;
    QFile file(page.toLocalFile());
    // A page is small; anything large is not ours to read.
    const QString html = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.read(1 << 20)) : QString();
    m_movie = moviePathFromPage(html);
    update();
    if (m_movie.isEmpty())
        return m_load;
    const FLVTagMetadata tag = readFLVTagMetadata(m_movie);
    if (tag.found)
        m_tagBitrate = tag.bitrate;
    m_player->setSource(QUrl::fromLocalFile(m_movie));
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
    update();
}

void PlayerView::frameChanged(const QVideoFrame &frame)
{
    if (m_movie.isEmpty() || !frame.isValid())
        return;
    QImage image = frame.toImage();
    if (image.isNull())
        return;
    m_frame = image.convertToFormat(QImage::Format_RGB32);
    update();
    emit frameShown();
    maybeSendMetadata();
}

void PlayerView::maybeSendMetadata()
{
    if (m_sent || m_frame.isNull())
        return;
    // The player's own figures in bit/s when the demuxer gives them, else
    // the file's metadata tag in kbit/s.
    const QMediaMetaData meta = m_player->metaData();
    const int video = meta.value(QMediaMetaData::VideoBitRate).toInt();
    const int audio = meta.value(QMediaMetaData::AudioBitRate).toInt();
    int bitrate = (video + audio) / 1000;
    if (bitrate <= 0)
        bitrate = std::max(0, m_tagBitrate);
    m_sent = true;
    emit metadataMessage(qm::metadataMessage(m_frame.width(), m_frame.height(), bitrate), m_load);
}

QImage PlayerView::capture(const QRect &rect)
{
    const QRect r = rect.intersected(this->rect());
    if (r.isEmpty())
        return {};
    QImage out(r.size(), QImage::Format_RGB32);
    out.fill(Qt::black);
    render(&out, QPoint(), QRegion(r));
    return out;
}

void PlayerView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(24, 24, 24));
    const QRect area = playerAreaInView(size());
    p.fillRect(area, Qt::black);
    if (m_frame.isNull()) {
        if (!m_movie.isEmpty()) {
            p.setPen(QColor(160, 160, 160));
            p.drawText(area, Qt::AlignCenter, tr("Loading the movie..."));
        }
        return;
    }
    p.setClipRect(area);
    p.drawImage(frameRectInView(size(), m_frame.size()).topLeft(), m_frame);
}

} // namespace qm
