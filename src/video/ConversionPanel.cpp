#include "video/ConversionPanel.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace qm {

namespace {

enum Column { NameColumn, SizeColumn, RateColumn };

} // namespace

ConversionPanel::ConversionPanel(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("conversionPanel"));
    auto *intro = new QLabel(tr("This movie is converted to Flash video: one stream for each row checked, "
                                "each sized for the gallery's 600 \u00d7 400 player."));
    intro->setWordWrap(true);
    m_tvStreams = new QTableWidget(0, 3);
    m_tvStreams->setObjectName(QStringLiteral("tvStreams"));
    m_tvStreams->setAccessibleName(tr("Streams"));
    m_tvStreams->setHorizontalHeaderLabels({tr("Stream"), tr("Size"), tr("Video bitrate")});
    m_tvStreams->verticalHeader()->hide();
    m_tvStreams->setSelectionMode(QAbstractItemView::NoSelection);
    m_tvStreams->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tvStreams->horizontalHeader()->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    m_tvStreams->horizontalHeader()->setSectionResizeMode(SizeColumn, QHeaderView::ResizeToContents);
    m_tvStreams->horizontalHeader()->setSectionResizeMode(RateColumn, QHeaderView::ResizeToContents);
    m_tvStreams->setMinimumHeight(130);
    connect(m_tvStreams, &QTableWidget::itemChanged, this, &ConversionPanel::changed);

    m_cmbCodec = new QComboBox;
    m_cmbCodec->setObjectName(QStringLiteral("cmbCodec"));
    m_cmbCodec->addItem(tr("H.264 (small files)"), int(VideoCodec::H264));
    m_cmbCodec->addItem(tr("Sorenson Spark (every Flash player)"), int(VideoCodec::Spark));
    connect(m_cmbCodec, &QComboBox::currentIndexChanged, this, &ConversionPanel::changedCodec);
    m_lblSound = new QLabel;
    m_lblSound->setObjectName(QStringLiteral("lblSound"));
    m_lblProblem = new QLabel;
    m_lblProblem->setObjectName(QStringLiteral("lblConvertProblem"));
    m_lblProblem->setWordWrap(true);
    m_lblProblem->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_lblProblem->hide();

    auto *form = new QFormLayout;
    form->addRow(tr("Video codec:"), m_cmbCodec);
    form->addRow(tr("Sound:"), m_lblSound);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(intro);
    layout->addWidget(m_tvStreams, 1);
    layout->addLayout(form);
    layout->addWidget(m_lblProblem);
}

void ConversionPanel::setMovie(const SourceMovie &movie, const QString &problem)
{
    m_movie = movie;
    m_lblProblem->setText(problem.isEmpty() ? QString() : tr("This movie cannot be converted: %1.").arg(problem));
    m_lblProblem->setVisible(!problem.isEmpty());
    m_rungs = problem.isEmpty() ? defaultLadder(movie, VideoCodec(m_cmbCodec->currentData().toInt())) : QList<StreamRung>();
    fill();
}

void ConversionPanel::changedCodec()
{
    // The rates that suit one codec do not suit the other.
    m_rungs = defaultLadder(m_movie, VideoCodec(m_cmbCodec->currentData().toInt()));
    QList<bool> checked;
    for (int row = 0; row < m_tvStreams->rowCount(); ++row)
        checked << (m_tvStreams->item(row, NameColumn)->checkState() == Qt::Checked);
    fill();
    for (int row = 0; row < std::min<int>(int(checked.size()), m_tvStreams->rowCount()); ++row)
        m_tvStreams->item(row, NameColumn)->setCheckState(checked[row] ? Qt::Checked : Qt::Unchecked);
}

void ConversionPanel::fill()
{
    const QSignalBlocker block(m_tvStreams);
    m_tvStreams->setRowCount(int(m_rungs.size()));
    const VideoCodec codec = VideoCodec(m_cmbCodec->currentData().toInt());
    for (int row = 0; row < m_rungs.size(); ++row) {
        const StreamRung &rung = m_rungs.at(row);
        auto *name = new QTableWidgetItem(rung.name);
        name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        name->setCheckState(Qt::Checked);
        m_tvStreams->setItem(row, NameColumn, name);
        auto *size = new QTableWidgetItem(QStringLiteral("%1 \u00d7 %2").arg(rung.size.width()).arg(rung.size.height()));
        size->setFlags(Qt::ItemIsEnabled);
        m_tvStreams->setItem(row, SizeColumn, size);
        auto *rate = new QSpinBox;
        rate->setObjectName(QStringLiteral("spnRate%1").arg(row));
        rate->setAccessibleName(tr("Video bitrate of the %1 stream").arg(rung.name));
        rate->setRange(50, 20000);
        rate->setSingleStep(50);
        rate->setSuffix(tr(" kbps"));
        rate->setValue(rung.videoKbps);
        connect(rate, &QSpinBox::valueChanged, this, &ConversionPanel::changed);
        m_tvStreams->setCellWidget(row, RateColumn, rate);
    }
    const int audioKbps = ConversionSettings().audioKbps;
    if (!m_movie.hasAudio)
        m_lblSound->setText(tr("none"));
    else
        m_lblSound->setText(tr("%1, %2 kbps, 44.1 kHz stereo")
                                .arg(codec == VideoCodec::H264 ? QStringLiteral("AAC") : QStringLiteral("MP3"))
                                .arg(audioKbps));
    emit changed();
}

ConversionSettings ConversionPanel::settings() const
{
    ConversionSettings s;
    s.codec = VideoCodec(m_cmbCodec->currentData().toInt());
    for (int row = 0; row < m_rungs.size() && row < m_tvStreams->rowCount(); ++row) {
        if (m_tvStreams->item(row, NameColumn)->checkState() != Qt::Checked)
            continue;
        StreamRung rung = m_rungs.at(row);
        rung.videoKbps = static_cast<QSpinBox *>(m_tvStreams->cellWidget(row, RateColumn))->value();
        s.rungs.append(rung);
    }
    return s;
}

bool ConversionPanel::canConvert() const
{
    return !settings().rungs.isEmpty();
}

void ConversionPanel::setCodec(VideoCodec codec)
{
    m_cmbCodec->setCurrentIndex(m_cmbCodec->findData(int(codec)));
}

} // namespace qm
