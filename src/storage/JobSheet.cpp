#include "storage/JobSheet.h"

#include "storage/Job.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <memory>
#include <vector>

namespace qm {

namespace {

// Holds off the user's input to every window but the sheet's while a job
// runs, so that nothing changes under it. What was typed or clicked before
// the sheet showed is handed on when the job ends quickly (as it would have
// been, had the work run on the GUI thread); once the sheet is there, the
// user sees that the window is busy, and nothing is kept.
class InputBlocker : public QObject
{
public:
    InputBlocker(QWidget *sheet, Job *job) : QObject(sheet), m_sheet(sheet)
    {
        qApp->installEventFilter(this);
        connect(job, &Job::finished, this, &InputBlocker::release);
        connect(job, &QObject::destroyed, this, &InputBlocker::release);
    }
    // From now on the user sees that the window is busy.
    void sheetShown()
    {
        m_shown = true;
        m_held.clear();
    }

protected:
    bool eventFilter(QObject *receiver, QEvent *event) override
    {
        bool keep = true; // worth handing on later
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
            break;
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            keep = false;
            break;
        default:
            return false;
        }
        auto *widget = qobject_cast<QWidget *>(receiver);
        if (widget) {
            QWidget *modal = QApplication::activeModalWidget();
            const bool own = widget == m_sheet || m_sheet->isAncestorOf(widget);
            const bool asked = modal && modal != m_sheet->parentWidget() && (widget == modal || modal->isAncestorOf(widget));
            if (own || asked)
                return false;
        } else if (event->type() != QEvent::Shortcut) {
            return false; // menu shortcuts go to their actions
        }
        if (keep && !m_shown)
            m_held.emplace_back(receiver, event->clone());
        return true;
    }

private:
    void release()
    {
        qApp->removeEventFilter(this);
        for (auto &[receiver, event] : m_held) {
            if (receiver)
                QCoreApplication::postEvent(receiver, event.release());
        }
        m_held.clear();
    }

    QWidget *m_sheet;
    bool m_shown = false;
    std::vector<std::pair<QPointer<QObject>, std::unique_ptr<QEvent>>> m_held;
};

} // namespace

JobSheet *JobSheet::run(QWidget *parent, Job *job, const QString &stoppingLabel)
{
    auto *sheet = new JobSheet(parent, job, stoppingLabel);
    auto *blocker = new InputBlocker(sheet, job);
    QTimer::singleShot(kShowAfterMs, sheet, [sheet, blocker] {
        if (sheet->m_job && !sheet->m_job->isFinished()) {
            blocker->sheetShown();
            sheet->open();
        }
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
