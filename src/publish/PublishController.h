#pragma once

#include "publish/Publisher.h"
#include "storage/Job.h"

#include <QDialog>
#include <QPointer>

#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSettings;
class QSpinBox;
class QStackedWidget;
class QTabWidget;
class QListWidget;

namespace qm {


// What a publish did (or, in a dry run, would do): what was sent, removed
// and refused, and what ended it early.
class PublishResultDialog : public QDialog
{
    Q_OBJECT
public:
    explicit PublishResultDialog(QWidget *parent);
    void show(const PublishReport &report, const QString &destination);

    QLabel *lblSummary() const { return m_lblSummary; }
    QListWidget *lstSent() const { return m_lists[0]; }
    QListWidget *lstRemoved() const { return m_lists[1]; }
    QListWidget *lstRefused() const { return m_lists[2]; }

private:
    QLabel *m_lblSummary;
    QTabWidget *m_tabs;
    QListWidget *m_lists[3];
};

// Gallery > Publish...: where to, remembered per gallery, and the publish
// itself as a job with its sheet. The password is asked for when the
// server wants one and is never kept.
class PublishController : public QDialog
{
    Q_OBJECT
public:
    PublishController(QSettings *settings, QWidget *parent);
    ~PublishController() override;

    // Shows the window for the gallery in `galleryFolder`, as saved there.
    void open(const QString &galleryFolder);
    Destination destination() const;
    bool isPublishing() const { return !m_job.isNull(); }
    Job *job() const { return m_job; }
    const PublishReport &report() const { return m_report; }
    PublishResultDialog *resultDialog() const { return m_result; }

    QComboBox *cmbKind() const { return m_cmbKind; }
    QLineEdit *txtHost() const { return m_txtHost; }
    QSpinBox *spnPort() const { return m_spnPort; }
    QLineEdit *txtUser() const { return m_txtUser; }
    QLineEdit *txtRemoteFolder() const { return m_txtRemoteFolder; }
    QLineEdit *txtKeyFile() const { return m_txtKeyFile; }
    QLineEdit *txtFolder() const { return m_txtFolder; }
    QCheckBox *chkCheckServer() const { return m_chkCheckServer; }
    QPushButton *btnPublish() const { return m_btnPublish; }
    QPushButton *btnDryRun() const { return m_btnDryRun; }
    QLabel *lblProblem() const { return m_lblProblem; }

    // Tests set where known hosts and keys are, instead of ~/.ssh.
    void setSshDirForTesting(const QString &dir) { m_sshDir = dir; }

public slots:
    void clickedPublish();
    void clickedDryRun();

signals:
    void publishFinished();

private:
    void start(bool dryRun);
    void finished();
    void setDestination(const Destination &d);

    QSettings *m_settings;
    QString m_gallery;
    QString m_sshDir;
    QPointer<Job> m_job;
    std::shared_ptr<PublishReport> m_running;
    PublishReport m_report;
    PublishResultDialog *m_result;

    QComboBox *m_cmbKind;
    QStackedWidget *m_pages;
    QLineEdit *m_txtHost;
    QSpinBox *m_spnPort;
    QLineEdit *m_txtUser;
    QLineEdit *m_txtRemoteFolder;
    QLineEdit *m_txtKeyFile;
    QLineEdit *m_txtFolder;
    QCheckBox *m_chkCheckServer;
    QLabel *m_lblProblem;
    QPushButton *m_btnPublish;
    QPushButton *m_btnDryRun;
};

} // namespace qm
