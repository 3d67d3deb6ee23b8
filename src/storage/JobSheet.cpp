#include "storage/JobSheet.h"

#include "storage/Job.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace qm {

namespace {

// Holds off the user's input to every window but the sheet's while a job
// runs, so that nothing changes under it before the sheet shows.
class InputBlocker : public QObject
{
public:
    explicit InputBlocker(QWidget *sheet) : QObject(sheet), m_sheet(sheet) { qApp->installEventFilter(this); }

protected:
    bool eventFilter(QObject *receiver, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            break;
        default:
            return false;
        }
        auto *widget = qobject_cast<QWidget *>(receiver);
        if (!widget)
            return event->type() == QEvent::Shortcut; // menu shortcuts go to their actions
        QWidget *modal = QApplication::activeModalWidget();
        const bool own = widget == m_sheet || m_sheet->isAncestorOf(widget);
        const bool asked = modal && modal != m_sheet->parentWidget() && (widget == modal || modal->isAncestorOf(widget));
        return !own && !asked;
    }

private:
    QWidget *m_sheet;
};

} // namespace

JobSheet *JobSheet::run(QWidget *parent, Job *job, const QString &stoppingLabel)
{
    auto *sheet = new JobSheet(parent, job, stoppingLabel);
    new InputBlocker(sheet);
    QTimer::singleShot(kShowAfterMs, sheet, [sheet] {
        if (sheet->m_job && !sheet->m_job->isFinished())
            sheet->open();
    });
    job->start();
    return sheet;
}

JobSheet::JobSheet(QWidget *parent, Job *job, QString stoppingLabel)
    : QDialog(parent)
    , m_job(job)
    , m_stoppingLabel(stoppingLabel.isEmpty() ? tr("Stopping\u2026") : std::move(stoppingLabel))
{
    setObjectName(QStringLiteral("jobSheet"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    setWindowTitle(job->title());
    m_label = new QLabel;
    m_label->setObjectName(QStringLiteral("lblStatus"));
    m_label->setMinimumWidth(380);
    m_label->setWordWrap(true);
    m_progress = new QProgressBar;
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setTextVisible(false);
    m_btnStop = new QPushButton(tr("&Stop"));
    m_btnStop->setObjectName(QStringLiteral("btnStop"));
    m_btnStop->setAutoDefault(false);
    connect(m_btnStop, &QPushButton::clicked, this, &JobSheet::clickedStop);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_label);
    layout->addWidget(m_progress);
    layout->addWidget(m_btnStop, 0, Qt::AlignRight);

    connect(job, &Job::progressChanged, this, &JobSheet::update);
    // Closed or never shown, the sheet goes with its job.
    auto end = [this] {
        accept();
        deleteLater();
    };
    connect(job, &Job::finished, this, end);
    connect(job, &QObject::destroyed, this, end);
    update();
}

void JobSheet::update()
{
    if (!m_job)
        return;
    if (m_job->isStopping()) {
        m_label->setText(m_stoppingLabel);
        m_btnStop->setEnabled(false);
        return;
    }
    m_label->setText(m_job->label());
    const qint64 total = m_job->total();
    if (total <= 0) {
        m_progress->setRange(0, 0); // busy until the work knows how much there is
        return;
    }
    // The bar counts in thousandths so that byte counts fit its int range;
    // it never shows full: the sheet closes instead.
    constexpr int kScale = 1000;
    m_progress->setRange(0, kScale);
    m_progress->setValue(int(std::min<qint64>(kScale - 1, kScale * std::min(m_job->done(), total) / total)));
}

void JobSheet::clickedStop()
{
    if (m_job)
        m_job->stop();
}

void JobSheet::reject()
{
    // Escape stops the work; the sheet stays until the work has ended.
    if (m_job && !m_job->isFinished())
        clickedStop();
    else
        QDialog::reject();
}

void JobSheet::closeEvent(QCloseEvent *event)
{
    if (m_job && !m_job->isFinished()) {
        clickedStop();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

} // namespace qm
