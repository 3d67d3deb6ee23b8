#include "publish/PublishController.h"

#include "storage/FolderChooser.h"
#include "storage/Job.h"
#include "storage/JobSheet.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QVBoxLayout>

#include <condition_variable>
#include <mutex>

namespace qm {

namespace {

QString counted(qsizetype n, const char *one, const char *many)
{
    return PublishController::tr(n == 1 ? one : many).arg(QLocale().toString(qint64(n)));
}

// The questions of a connection, put to the user on the GUI thread while the
// job's thread waits; a stopped job stops waiting.
class GuiPrompts : public PublishPrompts
{
public:
    GuiPrompts(QWidget *parent, JobControl &control) : m_parent(parent), m_control(control) {}

    bool acceptHostKey(const HostKey &key) override
    {
        return ask<bool>(
            [key](QWidget *parent) {
                QMessageBox box(QMessageBox::Question, PublishController::tr("Unknown Server"),
                                PublishController::tr("Quillmere has not connected to %1 before.").arg(key.host),
                                QMessageBox::Cancel, parent);
                box.setObjectName(QStringLiteral("msgHostKey"));
                box.setInformativeText(PublishController::tr("The server shows the %1 key with the fingerprint\n%2\n\n"
                                                             "Compare it with the fingerprint your host gives you. "
                                                             "Once trusted, the key is kept in your known hosts and "
                                                             "checked at every connection.")
                                           .arg(key.type, key.fingerprint));
                QPushButton *trust = box.addButton(PublishController::tr("&Trust and Connect"), QMessageBox::AcceptRole);
                trust->setObjectName(QStringLiteral("btnTrust"));
                box.exec();
                return box.clickedButton() == trust;
            },
            false);
    }

    std::optional<QString> secret(const QString &question) override
    {
        return ask<std::optional<QString>>(
            [question](QWidget *parent) -> std::optional<QString> {
                bool ok = false;
                const QString text = QInputDialog::getText(parent, PublishController::tr("Log In"), question,
                                                           QLineEdit::Password, QString(), &ok);
                return ok ? std::optional<QString>(text) : std::nullopt;
            },
            std::nullopt);
    }

private:
    template<typename T>
    T ask(std::function<T(QWidget *)> question, T ifStopped)
    {
        struct State
        {
            std::mutex mutex;
            std::condition_variable ready;
            std::optional<T> answer;
        };
        auto state = std::make_shared<State>();
        QPointer<QWidget> parent = m_parent;
        QMetaObject::invokeMethod(
            qApp,
            [state, parent, question] {
                T answer = question(parent);
                std::lock_guard lock(state->mutex);
                state->answer = std::move(answer);
                state->ready.notify_all();
            },
            Qt::QueuedConnection);
        std::unique_lock lock(state->mutex);
        while (!state->answer) {
            if (m_control.stopRequested())
                return ifStopped;
            state->ready.wait_for(lock, std::chrono::milliseconds(100));
        }
        return *state->answer;
    }

    QPointer<QWidget> m_parent;
    JobControl &m_control;
};

QLineEdit *lineEdit(const QString &name, const QString &placeholder = QString())
{
    auto *edit = new QLineEdit;
    edit->setObjectName(name);
    edit->setPlaceholderText(placeholder);
    return edit;
}

// A line with a button that fills it from a chooser.
QWidget *withChooser(QLineEdit *edit, const QString &name, std::function<void()> choose)
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *button = new QPushButton(PublishController::tr("Choose..."));
    button->setObjectName(name);
    button->setAutoDefault(false);
    QObject::connect(button, &QPushButton::clicked, button, std::move(choose));
    layout->addWidget(edit, 1);
    layout->addWidget(button);
    return row;
}

} // namespace

PublishResultDialog::PublishResultDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("wndPublishResult"));
    setWindowModality(Qt::WindowModal);
    m_lblSummary = new QLabel;
    m_lblSummary->setObjectName(QStringLiteral("lblSummary"));
    m_lblSummary->setWordWrap(true);
    m_lblSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_tabs = new QTabWidget;
    const char *names[3] = {"lstSent", "lstRemoved", "lstRefused"};
    for (int i = 0; i < 3; ++i) {
        m_lists[i] = new QListWidget;
        m_lists[i]->setObjectName(QLatin1String(names[i]));
        m_lists[i]->setUniformItemSizes(true);
        m_tabs->addTab(m_lists[i], QString());
    }
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_lblSummary);
    layout->addWidget(m_tabs, 1);
    layout->addWidget(buttons);
    resize(560, 420);
}

void PublishResultDialog::show(const PublishReport &r, const QString &destination)
{
    setWindowTitle(r.dryRun ? tr("Changes to Publish") : tr("Publish Result"));
    QStringList lines;
    const QString size = QLocale().formattedDataSize(r.bytes, 1);
    if (r.dryRun && r.failure.isEmpty()) {
        lines << (r.sent.isEmpty() && r.removed.isEmpty()
                      ? tr("%1 is up to date: nothing to send or remove.").arg(destination)
                      : tr("Publishing to %1 would send %2 (%3) and remove %4.")
                            .arg(destination, counted(r.sent.size(), "%1 file", "%1 files"), size,
                                 counted(r.removed.size(), "%1 file", "%1 files")));
    } else if (!r.dryRun) {
        lines << tr("%1 sent to %2 (%3), %4 removed.")
                     .arg(counted(r.sent.size(), "%1 file", "%1 files"), destination, size,
                          counted(r.removed.size(), "%1 file", "%1 files"));
    }
    if (r.unchanged > 0)
        lines << counted(r.unchanged, "%1 file was already there as it is.", "%1 files were already there as they are.");
    if (r.comparedServer && r.failure.isEmpty())
        lines << tr("Every file was compared with the server.");
    if (r.stopped)
        lines << tr("The publish was stopped. What was sent is in place; the next publish finishes the rest.");
    if (!r.failure.isEmpty())
        lines << (r.dryRun ? r.failure
                           : r.failure + QLatin1Char('\n')
                                 + tr("The gallery on the server is still whole; the next publish finishes the work."));
    if (!r.refused.isEmpty())
        lines << counted(r.refused.size(), "%1 file was not published or removed; see Refused.",
                         "%1 files were not published or removed; see Refused.");
    m_lblSummary->setText(lines.join(QLatin1Char('\n')));

    const QStringList *lists[2] = {&r.sent, &r.removed};
    for (int i = 0; i < 2; ++i) {
        m_lists[i]->clear();
        m_lists[i]->addItems(*lists[i]);
    }
    m_lists[2]->clear();
    for (const FileProblem &p : r.refused)
        m_lists[2]->addItem(QStringLiteral("%1: %2").arg(p.path, p.reason));
    m_tabs->setTabText(0, (r.dryRun ? tr("To Send (%1)") : tr("Sent (%1)")).arg(r.sent.size()));
    m_tabs->setTabText(1, (r.dryRun ? tr("To Remove (%1)") : tr("Removed (%1)")).arg(r.removed.size()));
    m_tabs->setTabText(2, tr("Refused (%1)").arg(r.refused.size()));
    m_tabs->setCurrentIndex(!r.refused.isEmpty() ? 2 : r.sent.isEmpty() && !r.removed.isEmpty() ? 1 : 0);
    open();
}

PublishController::PublishController(QSettings *settings, QWidget *parent)
    : QDialog(parent)
    , m_settings(settings)
{
    setObjectName(QStringLiteral("wndPublish"));
    setWindowTitle(tr("Publish Gallery"));
    setWindowModality(Qt::WindowModal);
    m_result = new PublishResultDialog(this);

    m_cmbKind = new QComboBox;
    m_cmbKind->setObjectName(QStringLiteral("cmbKind"));
    m_cmbKind->addItems({tr("SFTP server"), tr("Folder (a mounted share or a local web root)")});

    m_txtHost = lineEdit(QStringLiteral("txtHost"), tr("www.example.org"));
    m_spnPort = new QSpinBox;
    m_spnPort->setObjectName(QStringLiteral("spnPort"));
    m_spnPort->setRange(1, 65535);
    m_spnPort->setValue(22);
    m_txtUser = lineEdit(QStringLiteral("txtUser"));
    m_txtRemoteFolder = lineEdit(QStringLiteral("txtRemoteFolder"), tr("public_html/gallery"));
    m_txtKeyFile = lineEdit(QStringLiteral("txtKeyFile"), tr("optional"));
    auto *sftpPage = new QWidget;
    auto *sftp = new QFormLayout(sftpPage);
    sftp->addRow(tr("&Server:"), m_txtHost);
    sftp->addRow(tr("P&ort:"), m_spnPort);
    sftp->addRow(tr("&User:"), m_txtUser);
    sftp->addRow(tr("&Folder on the server:"), m_txtRemoteFolder);
    sftp->addRow(tr("&Key file:"), withChooser(m_txtKeyFile, QStringLiteral("btnChooseKey"), [this] {
                     const QString file = QFileDialog::getOpenFileName(this, tr("Choose a Private Key"),
                                                                       QDir::homePath() + QStringLiteral("/.ssh"));
                     if (!file.isEmpty())
                         m_txtKeyFile->setText(file);
                 }));
    auto *note = new QLabel(tr("Your SSH agent and usual keys are tried first. A password is asked for when the "
                               "server wants one, and is never kept."));
    note->setWordWrap(true);
    sftp->addRow(note);

    m_txtFolder = lineEdit(QStringLiteral("txtFolder"));
    auto *folderPage = new QWidget;
    auto *folder = new QFormLayout(folderPage);
    folder->addRow(tr("F&older:"), withChooser(m_txtFolder, QStringLiteral("btnChooseFolder"), [this] {
                       const QString chosen = FolderChooser::chooseFolder(this, tr("Select folder to publish to"));
                       if (!chosen.isEmpty())
                           m_txtFolder->setText(chosen);
                   }));

    m_pages = new QStackedWidget;
    m_pages->addWidget(sftpPage);
    m_pages->addWidget(folderPage);
    connect(m_cmbKind, &QComboBox::currentIndexChanged, m_pages, &QStackedWidget::setCurrentIndex);

    m_chkCheckServer = new QCheckBox(tr("Check Server: compare every file there, not only what changed here"));
    m_chkCheckServer->setObjectName(QStringLiteral("chkCheckServer"));
    m_lblProblem = new QLabel;
    m_lblProblem->setObjectName(QStringLiteral("lblProblem"));
    m_lblProblem->setWordWrap(true);
    m_lblProblem->setStyleSheet(QStringLiteral("color: #b00020"));

    m_btnPublish = new QPushButton(tr("&Publish"));
    m_btnPublish->setObjectName(QStringLiteral("btnPublish"));
    m_btnDryRun = new QPushButton(tr("&Show Changes"));
    m_btnDryRun->setObjectName(QStringLiteral("btnDryRun"));
    m_btnDryRun->setToolTip(tr("Lists what a publish would send and remove, and changes nothing"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    buttons->addButton(m_btnDryRun, QDialogButtonBox::ActionRole);
    buttons->addButton(m_btnPublish, QDialogButtonBox::AcceptRole);
    m_btnPublish->setDefault(true);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_btnPublish, &QPushButton::clicked, this, &PublishController::clickedPublish);
    connect(m_btnDryRun, &QPushButton::clicked, this, &PublishController::clickedDryRun);

    auto *form = new QFormLayout;
    form->addRow(tr("Publish &to:"), m_cmbKind);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_pages);
    layout->addWidget(m_chkCheckServer);
    layout->addWidget(m_lblProblem);
    layout->addStretch();
    layout->addWidget(buttons);
    resize(520, 360);
}

PublishController::~PublishController()
{
    if (m_job) {
        m_job->stop();
        m_job->waitForFinished();
    }
}

void PublishController::open(const QString &galleryFolder)
{
    m_gallery = galleryFolder;
    setDestination(Destination::load(*m_settings, galleryFolder));
    m_lblProblem->clear();
    m_chkCheckServer->setChecked(false);
    QDialog::open();
}

void PublishController::setDestination(const Destination &d)
{
    m_cmbKind->setCurrentIndex(d.kind == Destination::Folder ? 1 : 0);
    m_txtHost->setText(d.host);
    m_spnPort->setValue(d.port);
    m_txtUser->setText(d.user.isEmpty() ? qEnvironmentVariable("USER") : d.user);
    m_txtRemoteFolder->setText(d.remoteFolder);
    m_txtKeyFile->setText(d.keyFile);
    m_txtFolder->setText(d.folder);
}

Destination PublishController::destination() const
{
    Destination d;
    d.kind = m_cmbKind->currentIndex() == 1 ? Destination::Folder : Destination::Sftp;
    d.host = m_txtHost->text().trimmed();
    d.port = m_spnPort->value();
    d.user = m_txtUser->text().trimmed();
    d.remoteFolder = m_txtRemoteFolder->text().trimmed();
    d.keyFile = m_txtKeyFile->text().trimmed();
    d.folder = m_txtFolder->text().trimmed();
    return d;
}

void PublishController::clickedPublish()
{
    start(false);
}

void PublishController::clickedDryRun()
{
    start(true);
}

void PublishController::start(bool dryRun)
{
    if (m_job)
        return;
    const Destination d = destination();
    const QString refusal = d.refusal();
    m_lblProblem->setText(refusal);
    if (!refusal.isEmpty())
        return;
    d.save(*m_settings, m_gallery);
    PublishOptions options;
    options.dryRun = dryRun;
    options.checkServer = m_chkCheckServer->isChecked();
    options.sshDir = m_sshDir;
    m_running = std::make_shared<PublishReport>();
    QPointer<QWidget> self = this;
    m_job = new Job(dryRun ? tr("Comparing with %1").arg(d.displayName()) : tr("Publishing to %1").arg(d.displayName()),
                    [report = m_running, gallery = m_gallery, d, options, self](JobControl &control) {
                        GuiPrompts prompts(self, control);
                        *report = Publisher(gallery, d, options).run(&control, &prompts);
                    },
                    this);
    connect(m_job, &Job::finished, this, &PublishController::finished);
    JobSheet::run(this, m_job);
}

void PublishController::finished()
{
    m_report = *m_running;
    m_job->deleteLater();
    m_job = nullptr;
    m_result->show(m_report, destination().displayName());
    emit publishFinished();
}

} // namespace qm
