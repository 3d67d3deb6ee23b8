#pragma once

#include <QDialog>
#include <QPointer>

class QLabel;
class QProgressBar;
class QPushButton;

namespace qm {

class Job;

// The one progress sheet: a window-modal sheet over `parent` that follows a
// job's progress and label, offers Stop, and closes itself when the job
// finishes. Escape stops, as the button does. It never runs a loop of its
// own: callers learn of the end from the job's finished().
//
// Work that ends quickly (one photo deleted) shows no sheet; the sheet
// appears once the job has run for kShowAfterMs. From the start the
// program's windows take no input but the sheet's (and a message box's),
// as if it were there; what the user typed or clicked before the sheet
// appeared is handed on when the job has ended.
class JobSheet : public QDialog
{
    Q_OBJECT
public:
    // Starts `job` (which must not have finished) with a sheet over `parent`.
    static JobSheet *run(QWidget *parent, Job *job, const QString &stoppingLabel = QString());
    static constexpr int kShowAfterMs = 400;

    QProgressBar *progressBar() const { return m_progress; }
    QPushButton *btnStop() const { return m_btnStop; }
    QLabel *label() const { return m_label; }

protected:
    void reject() override;
    void closeEvent(QCloseEvent *event) override;

private:
    JobSheet(QWidget *parent, Job *job, QString stoppingLabel);
    void update();
    void clickedStop();

    QPointer<Job> m_job;
    QString m_stoppingLabel;
    QLabel *m_label;
    QProgressBar *m_progress;
    QPushButton *m_btnStop;
};

} // namespace qm
