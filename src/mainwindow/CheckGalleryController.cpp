#include "mainwindow/CheckGalleryController.h"

#include "storage/Job.h"
#include "storage/JobSheet.h"
#include "storage/Preferences.h"

#include <QAbstractTableModel>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace qm {

namespace {

QString counted(int n, const QString &one, const QString &many)
{
    return (n == 1 ? one : many).arg(QLocale().toString(n));
}

QString kindText(CheckedFile::Kind kind)
{
    switch (kind) {
    case CheckedFile::Link:
        return CheckGalleryController::tr("symbolic link");
    case CheckedFile::Folder:
        return CheckGalleryController::tr("folder");
    case CheckedFile::Other:
        return CheckGalleryController::tr("not a plain file");
    case CheckedFile::File:
        break;
    }
    return QString();
}

} // namespace

// One list of the report; tens of thousands of rows stay quick.
class CheckedFileModel : public QAbstractTableModel
{
public:
    enum Mode { Missing, Orphans, Problems };
    CheckedFileModel(Mode mode, QObject *parent) : QAbstractTableModel(parent), m_mode(mode) {}

    void setFiles(QList<CheckedFile> files)
    {
        beginResetModel();
        m_files = std::move(files);
        endResetModel();
    }
    const CheckedFile &file(int row) const { return m_files.at(row); }

    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : int(m_files.size()); }
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : m_mode == Problems ? 2 : m_mode == Missing ? 3 : 4;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        if (m_mode == Problems)
            return section == 0 ? CheckGalleryController::tr("File") : CheckGalleryController::tr("Problem");
        switch (section) {
        case 0:
            return CheckGalleryController::tr("File");
        case 1:
            return CheckGalleryController::tr("Folder");
        case 2:
            return m_mode == Missing ? CheckGalleryController::tr("Named by") : CheckGalleryController::tr("Size");
        case 3:
            return CheckGalleryController::tr("Note");
        }
        return {};
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= m_files.size())
            return {};
        const CheckedFile &f = m_files.at(index.row());
        if (role == Qt::ToolTipRole)
            return QDir::toNativeSeparators(f.path);
        if (role == Qt::TextAlignmentRole && m_mode == Orphans && index.column() == 2)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        if (role != Qt::DisplayRole)
            return {};
        if (m_mode == Problems)
            return index.column() == 0 ? f.name : f.note;
        switch (index.column()) {
        case 0:
            return f.name;
        case 1:
            return f.xml ? QStringLiteral("xml") : QStringLiteral("img");
        case 2:
            if (m_mode == Missing)
                return f.owner;
            return f.size >= 0 ? QLocale().formattedDataSize(f.size) : QString();
        case 3: {
            const QString kind = kindText(f.kind);
            return kind.isEmpty() ? f.note : f.note.isEmpty() ? kind : kind + QStringLiteral("; ") + f.note;
        }
        }
        return {};
    }

    void sort(int column, Qt::SortOrder order) override
    {
        beginResetModel();
        auto key = [&](const CheckedFile &a, const CheckedFile &b) {
            if (m_mode == Orphans && column == 2)
                return a.size < b.size;
            if (column == 1 && a.xml != b.xml)
                return a.xml < b.xml;
            if (m_mode == Missing && column == 2 && a.owner != b.owner)
                return a.owner.localeAwareCompare(b.owner) < 0;
            if (m_mode != Missing && column == 3 && a.note != b.note)
                return a.note < b.note;
            return a.name < b.name;
        };
        if (order == Qt::AscendingOrder)
            std::stable_sort(m_files.begin(), m_files.end(), key);
        else
            std::stable_sort(m_files.begin(), m_files.end(), [&](const auto &a, const auto &b) { return key(b, a); });
        endResetModel();
    }

private:
    Mode m_mode;
    QList<CheckedFile> m_files;
};

namespace {

QTreeView *listView(const QString &name, QAbstractItemModel *model, bool multiSelect)
{
    auto *view = new QTreeView;
    view->setObjectName(name);
    view->setModel(model);
    view->setRootIsDecorated(false);
    view->setUniformRowHeights(true);
    view->setAlternatingRowColors(true);
    view->setSortingEnabled(true);
    view->header()->setSortIndicator(0, Qt::AscendingOrder);
    view->setSelectionMode(multiSelect ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->header()->setStretchLastSection(true);
    view->setColumnWidth(0, 260);
    return view;
}

} // namespace

CheckGalleryController::CheckGalleryController(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("wndCheckGallery"));
    setWindowTitle(tr("Check Gallery"));
    m_lblSummary = new QLabel;
    m_lblSummary->setObjectName(QStringLiteral("lblSummary"));
    m_lblSummary->setWordWrap(true);
    m_lblSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_missing = new CheckedFileModel(CheckedFileModel::Missing, this);
    m_orphans = new CheckedFileModel(CheckedFileModel::Orphans, this);
    m_problems = new CheckedFileModel(CheckedFileModel::Problems, this);
    m_tvMissing = listView(QStringLiteral("tvMissing"), m_missing, false);
    m_tvOrphans = listView(QStringLiteral("tvOrphans"), m_orphans, true);
    m_tvProblems = listView(QStringLiteral("tvProblems"), m_problems, false);
    m_tvMissing->setColumnWidth(1, 60);
    m_tvOrphans->setColumnWidth(1, 60);
    m_tvOrphans->setColumnWidth(2, 90);
    // A missing file leads to what names it.
    m_tvMissing->setToolTip(tr("Double-click a file, or press Return, to go to what names it"));
    connect(m_tvMissing, &QAbstractItemView::activated, this, [this](const QModelIndex &index) {
        if (index.isValid())
            emit missingFileChosen(m_missing->file(index.row()).name);
    });
    m_tabs = new QTabWidget;
    m_tabs->setObjectName(QStringLiteral("tabs"));
    m_tabs->addTab(m_tvMissing, QString());
    m_tabs->addTab(m_tvOrphans, QString());
    m_tabs->addTab(m_tvProblems, QString());
    m_tvUnplayable = new QTreeWidget;
    m_tvUnplayable->setObjectName(QStringLiteral("tvUnplayable"));
    m_tvUnplayable->setHeaderLabels({tr("Video"), tr("Album"), tr("Streams")});
    m_tvUnplayable->setRootIsDecorated(false);
    m_tvUnplayable->setAlternatingRowColors(true);
    m_tvUnplayable->setColumnWidth(0, 200);
    m_tvUnplayable->setColumnWidth(1, 160);
    m_tabs->addTab(m_tvUnplayable, QString());
    m_tabs->setTabToolTip(3, tr("Web browsers play H.264 streams; these videos have only streams for the Flash player"));

    m_btnMoveToTrash = new QPushButton(tr("&Move to Trash"));
    m_btnMoveToTrash->setObjectName(QStringLiteral("btnMoveToTrash"));
    m_btnMoveToTrash->setToolTip(tr("Moves the chosen files, which the gallery does not name, to the trash"));
    m_btnAddBrowserStream = new QPushButton(tr("Add &H.264 Stream..."));
    m_btnAddBrowserStream->setObjectName(QStringLiteral("btnAddBrowserStream"));
    m_btnAddBrowserStream->setToolTip(tr("Converts the chosen video into a stream that web browsers play"));
    m_btnCheckAgain = new QPushButton(tr("Check &Again"));
    m_btnCheckAgain->setObjectName(QStringLiteral("btnCheckAgain"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    buttons->addButton(m_btnMoveToTrash, QDialogButtonBox::ActionRole);
    buttons->addButton(m_btnAddBrowserStream, QDialogButtonBox::ActionRole);
    buttons->addButton(m_btnCheckAgain, QDialogButtonBox::ActionRole);
    for (QAbstractButton *b : buttons->buttons())
        static_cast<QPushButton *>(b)->setAutoDefault(false);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_btnMoveToTrash, &QPushButton::clicked, this, &CheckGalleryController::clickedMoveToTrash);
    connect(m_btnCheckAgain, &QPushButton::clicked, this, &CheckGalleryController::clickedCheckAgain);
    connect(m_btnAddBrowserStream, &QPushButton::clicked, this, &CheckGalleryController::clickedAddBrowserStream);
    connect(m_tvUnplayable, &QTreeWidget::itemSelectionChanged, this, &CheckGalleryController::updateButtons);
    connect(m_tvUnplayable, &QTreeWidget::itemDoubleClicked, this, &CheckGalleryController::clickedAddBrowserStream);
    connect(m_tvOrphans->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CheckGalleryController::updateButtons);
    connect(m_tabs, &QTabWidget::currentChanged, this, &CheckGalleryController::updateButtons);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_lblSummary);
    layout->addWidget(m_tabs, 1);
    layout->addWidget(buttons);
    resize(760, 480);
    showReport();
}

CheckGalleryController::~CheckGalleryController()
{
    delete m_job; // stops and waits
}

void CheckGalleryController::setAddBrowserStream(std::function<void(quint64)> add)
{
    m_addBrowserStream = std::move(add);
    updateButtons();
}

void CheckGalleryController::setMoveToTrash(MoveToTrash move)
{
    m_moveToTrash = std::move(move);
    updateButtons();
}

bool CheckGalleryController::isChecking() const
{
    return m_job && !m_job->isFinished();
}

void CheckGalleryController::check(const Data &data, const Preferences &prefs)
{
    m_data = &data;
    m_prefs = &prefs;
    show();
    raise();
    activateWindow();
    if (isChecking())
        return;
    // The names now, while the gallery holds still; the folders on the job's thread.
    auto names = std::make_shared<GalleryNames>(GalleryNames::of(data));
    const QString img = prefs.imgFolder(), xml = prefs.xmlFolder();
    auto videos = std::make_shared<GalleryVideos>(GalleryVideos::of(data, img));
    auto result = std::make_shared<std::pair<GalleryCheckReport, QList<UnplayableVideo>>>();
    m_result = result;
    delete m_job;
    m_job = new Job(tr("Checking the Gallery"), [names, videos, img, xml, result](JobControl &control) {
        result->first = GalleryCheck::run(*names, img, xml, &control);
        if (!result->first.stopped) {
            control.setLabel(tr("Reading the videos' streams..."));
            result->second = findUnplayableVideos(*videos, &control);
        }
    }, this);
    connect(m_job, &Job::finished, this, &CheckGalleryController::checkDone);
    m_lblSummary->setText(tr("Checking the gallery\u2026"));
    updateButtons();
    if (names->names.size() > kSheetAbove)
        JobSheet::run(this, m_job);
    else
        m_job->start();
}

void CheckGalleryController::checkDone()
{
    if (!m_job || m_job->result().stopped || !m_result) {
        m_lblSummary->setText(tr("The check was stopped."));
        updateButtons();
        emit checkFinished();
        return;
    }
    m_report = std::move(m_result->first);
    m_unplayable = std::move(m_result->second);
    m_result.reset();
    showReport();
    emit checkFinished();
}

void CheckGalleryController::showReport()
{
    const GalleryCheckReport &r = m_report;
    m_missing->setFiles(r.missing);
    m_orphans->setFiles(r.orphans);
    QList<CheckedFile> problems;
    for (const CheckedFile &f : r.notPlain) {
        CheckedFile p = f;
        p.note = tr("named by %1, but it is a %2 and is not used").arg(f.owner, kindText(f.kind));
        problems.append(p);
    }
    for (const FileProblem &fp : r.problems)
        problems.append({fp.path, QDir::toNativeSeparators(fp.path), false, CheckedFile::Other, -1, QString(), fp.reason});
    m_problems->setFiles(problems);
    for (QTreeView *v : {m_tvMissing, m_tvOrphans, m_tvProblems})
        v->header()->setSortIndicator(0, Qt::AscendingOrder);

    m_tabs->setTabText(0, tr("Missing (%1)").arg(QLocale().toString(r.missing.size())));
    m_tabs->setTabText(1, tr("Not Named (%1)").arg(QLocale().toString(r.orphans.size())));
    m_tabs->setTabText(2, tr("Other Problems (%1)").arg(QLocale().toString(problems.size())));
    m_tabs->setTabVisible(2, !problems.isEmpty());
    m_tvUnplayable->clear();
    for (const UnplayableVideo &v : m_unplayable) {
        auto *row = new QTreeWidgetItem(m_tvUnplayable, {v.title, v.album, v.streams});
        row->setData(0, Qt::UserRole, QVariant::fromValue(v.videoId));
        row->setToolTip(2, v.streams);
    }
    m_tabs->setTabText(3, tr("Not Playable in Browsers (%1)").arg(QLocale().toString(m_unplayable.size())));
    m_tabs->setTabVisible(3, !m_unplayable.isEmpty());

    if (!m_data) {
        m_lblSummary->clear();
    } else if (r.clean() && m_unplayable.isEmpty()) {
        m_lblSummary->setText(tr("Every file the gallery names is there, and nothing else is in its folders "
                                 "(%1 files).").arg(QLocale().toString(r.namedFiles)));
    } else {
        QStringList parts;
        if (!r.missing.isEmpty())
            parts << counted(int(r.missing.size()), tr("%1 file the gallery names is missing."),
                             tr("%1 files the gallery names are missing."));
        if (!r.orphans.isEmpty())
            parts << counted(int(r.orphans.size()), tr("%1 file in the gallery's folders is named by nothing"),
                             tr("%1 files in the gallery's folders are named by nothing"))
                         + QStringLiteral(" (%1).").arg(QLocale().formattedDataSize(r.orphanBytes));
        if (!problems.isEmpty())
            parts << counted(int(problems.size()), tr("%1 other problem."), tr("%1 other problems."));
        if (!m_unplayable.isEmpty())
            parts << counted(int(m_unplayable.size()),
                             tr("%1 video has no stream that web browsers play (only Sorenson Spark or another Flash format)."),
                             tr("%1 videos have no stream that web browsers play (only Sorenson Spark or another Flash format)."));
        m_lblSummary->setText(parts.join(QLatin1Char(' ')));
        // The list that needs the user first.
        m_tabs->setCurrentIndex(!r.missing.isEmpty() ? 0 : !r.orphans.isEmpty() ? 1 : !problems.isEmpty() ? 2 : 3);
    }
    updateButtons();
}

QStringList CheckGalleryController::chosenOrphans() const
{
    QStringList paths;
    for (const QModelIndex &row : m_tvOrphans->selectionModel()->selectedRows())
        paths << m_orphans->file(row.row()).path;
    return paths;
}

void CheckGalleryController::updateButtons()
{
    const bool busy = isChecking();
    m_btnCheckAgain->setEnabled(!busy && m_data);
    m_btnMoveToTrash->setVisible(bool(m_moveToTrash));
    m_btnMoveToTrash->setEnabled(!busy && m_moveToTrash && m_tabs->currentWidget() == m_tvOrphans
                                 && m_tvOrphans->selectionModel()->hasSelection());
    m_btnAddBrowserStream->setVisible(m_addBrowserStream && !m_unplayable.isEmpty());
    m_btnAddBrowserStream->setEnabled(!busy && m_tabs->currentWidget() == m_tvUnplayable
                                      && m_tvUnplayable->currentItem() && m_tvUnplayable->currentItem()->isSelected());
}

void CheckGalleryController::clickedAddBrowserStream()
{
    const QTreeWidgetItem *row = m_tvUnplayable->currentItem();
    if (row && m_addBrowserStream && !isChecking())
        m_addBrowserStream(row->data(0, Qt::UserRole).value<quint64>());
}

void CheckGalleryController::clickedMoveToTrash()
{
    const QStringList paths = chosenOrphans();
    if (paths.isEmpty() || !m_moveToTrash || isChecking())
        return;
    m_moveToTrash(paths, [this] { clickedCheckAgain(); });
}

void CheckGalleryController::clickedCheckAgain()
{
    if (m_data && m_prefs)
        check(*m_data, *m_prefs);
}

void CheckGalleryController::closeEvent(QCloseEvent *event)
{
    if (isChecking())
        m_job->stop();
    QDialog::closeEvent(event);
}

void CheckGalleryController::reject()
{
    if (isChecking())
        m_job->stop();
    QDialog::reject();
}

} // namespace qm
