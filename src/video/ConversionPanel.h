#pragma once

#include "video/ConversionLadder.h"

#include <QWidget>

class QComboBox;
class QLabel;
class QTableWidget;

namespace qm {

// The streams a movie that is not FLV becomes: one row per stream of the
// ladder with its size and an editable video bitrate, the video codec and
// the sound they carry. Shown in the import window.
class ConversionPanel : public QWidget
{
    Q_OBJECT
public:
    explicit ConversionPanel(QWidget *parent = nullptr);

    // The ladder for that movie; `problem` says why it cannot be converted.
    void setMovie(const SourceMovie &movie, const QString &problem);
    // The checked streams with their rates; no rung when nothing is checked.
    ConversionSettings settings() const;
    bool canConvert() const;
    void setCodec(VideoCodec codec);

    QTableWidget *tvStreams() const { return m_tvStreams; }
    QComboBox *cmbCodec() const { return m_cmbCodec; }
    QLabel *lblSound() const { return m_lblSound; }
    QLabel *lblProblem() const { return m_lblProblem; }

signals:
    void changed();

private:
    void fill();
    void changedCodec();

    SourceMovie m_movie;
    QList<StreamRung> m_rungs;
    QTableWidget *m_tvStreams;
    QComboBox *m_cmbCodec;
    QLabel *m_lblSound;
    QLabel *m_lblProblem;
};

} // namespace qm
