#pragma once

#include "storage/GalleryCheck.h"
#include "web/BrowserVideo.h"

#include <QDialog>
#include <QPointer>

#include <functional>

class QLabel;
class QPushButton;
class QTabWidget;
class QTreeView;
class QTreeWidget;

namespace qm {

class CheckedFileModel;
class Job;
class Preferences;

// The Check Gallery window: the files the gallery names that are missing
// from its folders, and the files in them that nothing names, with their
// sizes. The user may move chosen ones of the latter to the trash; how
// that is done (and undone) is the caller's, through setMoveToTrash.
class CheckGalleryController : public QDialog
{
    Q_OBJECT
public:
    // Calls `done` once the files are moved (or the move has failed): the
    // window checks again then, not while a large move is under way.
    using MoveToTrash = std::function<void(const QStringList &paths, const std::function<void()> &done)>;

    explicit CheckGalleryController(QWidget *parent = nullptr);
    ~CheckGalleryController() override;

    // Without it the window only shows.
    void setMoveToTrash(MoveToTrash move);
    // Offers the conversion that adds an H.264 stream to a video no browser can play.
    void setAddBrowserStream(std::function<void(quint64 videoId)> add);
    // Takes the gallery's names now, checks the folders off the GUI thread
    // and shows the window. `data` and `prefs` must outlive the window.
    void check(const Data &data, const Preferences &prefs);
    bool isChecking() const;
    const GalleryCheckReport &report() const { return m_report; }
    // Videos whose streams are all Sorenson Spark (or another Flash-only codec).
    const QList<UnplayableVideo> &unplayable() const { return m_unplayable; }

    QLabel *lblSummary() const { return m_lblSummary; }
    QTabWidget *tabs() const { return m_tabs; }
    QTreeView *tvMissing() const { return m_tvMissing; }
    QTreeView *tvOrphans() const { return m_tvOrphans; }
    QTreeView *tvProblems() const { return m_tvProblems; }
    QPushButton *btnMoveToTrash() const { return m_btnMoveToTrash; }
    QPushButton *btnCheckAgain() const { return m_btnCheckAgain; }
    QTreeWidget *tvUnplayable() const { return m_tvUnplayable; }
    QPushButton *btnAddBrowserStream() const { return m_btnAddBrowserStream; }

    // Galleries with more names than this show a progress sheet while checked.
    static constexpr int kSheetAbove = 20000;

public slots:
    void clickedMoveToTrash();
    void clickedCheckAgain();
    void clickedAddBrowserStream();

signals:
    void checkFinished();
    // A missing file was double-clicked: the main window shows what names it.
    void missingFileChosen(const QString &name);

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    void checkDone();
    void showReport();
    void updateButtons();
    QStringList chosenOrphans() const;

    const Data *m_data = nullptr;
    const Preferences *m_prefs = nullptr;
    MoveToTrash m_moveToTrash;
    QPointer<Job> m_job;
    std::function<void(quint64)> m_addBrowserStream;
    std::shared_ptr<std::pair<GalleryCheckReport, QList<UnplayableVideo>>> m_result;
    GalleryCheckReport m_report;
    QList<UnplayableVideo> m_unplayable;

    QLabel *m_lblSummary;
    QTabWidget *m_tabs;
    QTreeView *m_tvMissing;
    QTreeView *m_tvOrphans;
    QTreeView *m_tvProblems;
    CheckedFileModel *m_missing;
    CheckedFileModel *m_orphans;
    CheckedFileModel *m_problems;
    QPushButton *m_btnMoveToTrash;
    QPushButton *m_btnCheckAgain;
    QTreeWidget *m_tvUnplayable;
    QPushButton *m_btnAddBrowserStream;
};

} // namespace qm
