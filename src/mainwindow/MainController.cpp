#include "mainwindow/MainController.h"

#include "mainwindow/AlbumTreeModel.h"
#include "mainwindow/BatchEditController.h"
#include "mainwindow/FileChecks.h"
#include "mainwindow/FindController.h"
#include "import/ImportPhotosController.h"
#include "import/ImportingPhotosController.h"
#include "mainwindow/ChangeAlbumThumbController.h"
#include "mainwindow/CheckGalleryController.h"
#include "mainwindow/DeletionController.h"
#include "mainwindow/ImageWells.h"
#include "mainwindow/ItemDetailPanel.h"
#include "mainwindow/ItemGridView.h"
#include "mainwindow/ItemListView.h"
#include "mainwindow/ItemTableView.h"
#include "mainwindow/ThumbnailCache.h"
#include "video/CreateVideoThumbController.h"
#include "video/ConversionPanel.h"
#include "video/ImportVideoController.h"
#include "video/VideoPreviewController.h"
#include "mainwindow/PhotoWindowController.h"
#include "mainwindow/ItemListModel.h"
#include "mainwindow/MyImageView.h"
#include "mainwindow/PreferencesController.h"
#include "publish/PublishController.h"
#include "model/Photo.h"
#include "model/Video.h"
#include "storage/FirstRunController.h"
#include "storage/FolderChooser.h"
#include "storage/GalleryTrash.h"
#include "storage/JobSheet.h"
#include "storage/Common.h"
#include "storage/NewOrvaneFolderController.h"
#include "storage/Resources.h"
#include "web/PreviewServer.h"
#include "web/WebViewer.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalBlocker>
#include <QSlider>
#include <QUndoStack>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

namespace qm {

namespace {

// Reading or writing a large gallery takes a moment: say so under the pointer.
struct BusyCursor
{
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

} // namespace

MainController::MainController(QSettings *settings, QWidget *parent)
    : QMainWindow(parent)
    , m_settings(settings)
    , m_prefs(settings)
    , m_gallery(m_prefs)
    , m_recent(settings)
{
    setObjectName(QStringLiteral("win"));
    setWindowTitle(QStringLiteral("Quillmere"));
    setWindowIcon(QIcon(resourcePath(QStringLiteral("quillmere.png"))));

    // What goes was selected: nothing is, rather than whatever the view
    // moves its cursor to. Connected before the models are made, so that
    // this runs before the views hear of the removal.
    connect(&m_gallery, &Gallery::nodeAboutToBeRemoved, this, [this](TreeNode *node) {
        const TreeNode *selected = selectedNode();
        if (selected && (selected == node
                         || (node->isCollection() && selected->isCollectionAncestor(static_cast<AlbumCollection *>(node)))))
            deselectAllAlbums();
    });
    connect(&m_gallery, &Gallery::itemsAboutToBeRemoved, this, [this](Album *album, int first, int last) {
        if (album != m_itemModel->album())
            return;
        for (const QModelIndex &row : m_tvPhotos->selectionModel()->selectedRows()) {
            if (row.row() >= first && row.row() <= last) {
                deselectAllItems();
                return;
            }
        }
    });
    m_treeModel = new AlbumTreeModel(&m_gallery, this);
    m_itemModel = new ItemListModel(&m_gallery, this);
    m_thumbnails = new ThumbnailCache(this);
    m_treeModel->setThumbnails(m_thumbnails);
    m_itemModel->setThumbnails(m_thumbnails);
    m_fileChecks = new FileChecks(this);
    m_itemModel->setFileChecks(m_fileChecks);
    // A picture written again under its name, or back from the trash, is read again.
    connect(&m_gallery, &Gallery::filesChanged, m_thumbnails,
            qOverload<const QStringList &>(&ThumbnailCache::invalidate));
    connect(&m_gallery, &Gallery::filesChanged, m_fileChecks, &FileChecks::invalidate);
    m_ctlNewOrvaneFolder = new NewOrvaneFolderController(this);
    m_ctlFirstRun = new FirstRunController(m_ctlNewOrvaneFolder, this);
    m_ctlPreferences = new PreferencesController(&m_prefs, this);

    connect(m_ctlFirstRun, &FirstRunController::galleryChosen, this, [this](const QString &path) { openGallery(path); });
    connect(m_ctlFirstRun, &FirstRunController::quitRequested, this, [this] {
        QTimer::singleShot(0, this, &QWidget::close);
    });
    connect(m_treeModel, &AlbumTreeModel::editRefused, this, [this](const QString &why) {
        statusBar()->showMessage(why, 8000);
    });

    buildWindow();
    m_find = new FindController(&m_gallery, m_treeModel, m_ovAlbums, m_itemModel, m_itemViews, this);
    connect(m_find, &FindController::status, this, [this](const QString &text) { statusBar()->showMessage(text); });
    m_batch = new BatchEditController(&m_gallery, this);
    connect(m_batch, &BatchEditController::status, this, [this](const QString &text) { statusBar()->showMessage(text, 8000); });
    m_deletion = new DeletionController(&m_gallery, this, m_ovAlbums, m_treeModel, m_itemViews, m_itemModel);
    m_wells = new ImageWells(&m_gallery, m_deletion, m_ivAlbumThumb, m_itemDetails->ivTrash(), this);
    connect(m_wells, &ImageWells::status, this, [this](const QString &text) { statusBar()->showMessage(text, 8000); });
    buildMenus();
    m_ctlChangeAlbumThumb = new ChangeAlbumThumbController(&m_gallery, m_thumbnails, this);
    m_ctlPhotoWindow = new PhotoWindowController(&m_prefs, this);
    connect(m_ctlPhotoWindow, &PhotoWindowController::stepRequested, this, &MainController::showNextPhoto);
    connect(m_ctlPhotoWindow, &PhotoWindowController::cannotShow, this, [this](const QString &path, const QString &why) {
        showError(tr("The photo cannot be shown."), QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), why));
    });
    m_ctlImportingPhotos = new ImportingPhotosController(&m_gallery, this);
    m_ctlImportPhotos = new ImportPhotosController(&m_prefs, m_ctlImportingPhotos, this);
    connect(m_ctlImportingPhotos, &ImportingPhotosController::importFinished, this,
            [this](Album *, int added, const QList<ImportFailure> &failures, bool stopped) {
                QString text = tr("%1 imported.").arg(counted(added, "photo", "photos"));
                if (stopped)
                    text += QLatin1Char(' ') + tr("The import was stopped.");
                statusBar()->showMessage(text, 8000);
                if (failures.isEmpty())
                    return;
                QList<FileProblem> problems;
                for (const ImportFailure &f : failures)
                    problems.append({f.path, f.reason});
                showProblems(tr("%1 could not be imported and %2 left out.")
                                 .arg(counted(int(failures.size()), "file", "files"),
                                      failures.size() == 1 ? tr("was") : tr("were")),
                             problems);
            });
    m_ctlImportVideo = new ImportVideoController(&m_gallery, this);
    m_ctlCreateVideoThumb = new CreateVideoThumbController(&m_gallery, this);
    m_ctlVideoPreview = new VideoPreviewController(&m_gallery, m_ctlCreateVideoThumb, this);
    m_ctlCheckGallery = new CheckGalleryController(this);
    m_ctlPublish = new PublishController(m_settings, this);
    // Orphans go to the trash as a step of the gallery: Undo brings them back.
    m_ctlCheckGallery->setMoveToTrash([this](const QStringList &paths, const std::function<void()> &done) {
        m_gallery.trashFiles(paths);
        if (Job *job = m_gallery.currentJob())
            connect(job, &Job::finished, m_ctlCheckGallery, done);
        else
            done();
    });
    m_ctlCheckGallery->setAddBrowserStream([this](quint64 videoId) { addBrowserStream(videoId); });
    connect(m_btnChangeAlbumThumb, &QPushButton::clicked, this, &MainController::clickedChangeAlbumThumb);
    setupDragAndDrop();
    wireGallery();
    buildContextMenus();
    connect(m_ctlCheckGallery, &CheckGalleryController::missingFileChosen, this, [this](const QString &name) {
        if (showItemNaming(name)) {
            activateWindow();
            raise();
        }
    });

    // Start-up state: nothing loaded until the window first becomes active.
    setAlbumDescription(QString(), false);
    restoreWindowState();
    updateCommands();
}

MainController::~MainController()
{
    // The server asks the gallery for its XML: it goes first.
    delete m_preview;
    m_preview = nullptr;
    // Work in the background ends while the gallery it reports to is still here.
    m_ctlImportingPhotos->stopAndWait();
    if (Job *job = m_gallery.currentJob()) {
        job->stop();
        job->waitForFinished();
    }
    // The gallery goes before the child widgets; their last signals
    // (selection and text changes while they go) must not reach it.
    for (QObject *child : findChildren<QObject *>())
        disconnect(child, nullptr, this, nullptr);
    delete takeCentralWidget();
}

MyImageView *MainController::ivPhoto() const
{
    return m_itemDetails->ivPhoto();
}

MyImageView *MainController::ivTrash() const
{
    return m_itemDetails->ivTrash();
}

QLabel *MainController::lblSmallImageSize() const
{
    return m_itemDetails->lblSmallImageSize();
}

QLabel *MainController::lblImageSize() const
{
    return m_itemDetails->lblImageSize();
}

QLabel *MainController::lblLargeImageSize() const
{
    return m_itemDetails->lblLargeImageSize();
}

QPlainTextEdit *MainController::txtPhotoDesc() const
{
    return m_itemDetails->txtPhotoDesc();
}

QTableView *MainController::tvPhotos() const
{
    return m_tvPhotos;
}

QPushButton *MainController::btnShowVideo() const
{
    return m_itemDetails->btnShowVideo();
}

void MainController::wireGallery()
{
    connect(&m_gallery, &Gallery::jobStarted, this, [this](Job *job) { JobSheet::run(this, job); });
    connect(&m_gallery, &Gallery::problems, this, &MainController::showProblems);
    connect(&m_gallery, &Gallery::filesReport, this, [this](const QString &text) {
        statusBar()->showMessage(text, 8000);
    });
    QUndoStack *stack = m_gallery.undoStack();
    connect(stack, &QUndoStack::indexChanged, this, &MainController::updateUndoActions);
    // What an undo or redo did replaces what the step itself reported.
    connect(stack, &QUndoStack::indexChanged, this, [this] {
        if (!m_afterStep.isEmpty())
            statusBar()->showMessage(std::exchange(m_afterStep, QString()), 8000);
    });
    connect(stack, &QUndoStack::cleanChanged, this, &MainController::updateUndoActions);
    connect(&m_gallery, &Gallery::undoAvailabilityChanged, this, &MainController::updateUndoActions);
    // The album description follows an undo of its typing.
    connect(&m_gallery, &Gallery::nodeChanged, this, [this](TreeNode *node) {
        if (node == m_gallery.data().selectedAlbum()
            && m_txtAlbumDesc->toPlainText() != static_cast<Album *>(node)->description())
            setAlbumDescription(static_cast<Album *>(node)->description(), true);
    });
    // Rows that come or go (an undo, an import) change what is selected.
    connect(m_itemModel, &QAbstractItemModel::rowsRemoved, this, &MainController::tableViewSelectionDidChange);
    connect(m_itemModel, &QAbstractItemModel::modelReset, this, &MainController::tableViewSelectionDidChange);
    connect(m_treeModel, &QAbstractItemModel::rowsRemoved, this, &MainController::outlineViewSelectionDidChange);
    connect(m_treeModel, &QAbstractItemModel::modelReset, this, &MainController::outlineViewSelectionDidChange);
    updateUndoActions();
}

void MainController::buildWindow()
{
    // Left pane: the album tree with the selected node's thumbnail and description.
    m_subvAlbums = new QWidget;
    m_subvAlbums->setObjectName(QStringLiteral("subvAlbums"));
    m_subvAlbums->setMinimumWidth(240);
    m_subvAlbums->setMaximumWidth(460);
    m_ovAlbums = new AlbumTreeView;
    m_ovAlbums->setObjectName(QStringLiteral("ovAlbums"));
    m_ovAlbums->setModel(m_treeModel);
    m_ovAlbums->setHeaderHidden(false);
    m_ovAlbums->setUniformRowHeights(true);
    m_ovAlbums->setAlternatingRowColors(true);
    m_ovAlbums->setSelectionMode(QAbstractItemView::SingleSelection);
    m_ovAlbums->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                                | QAbstractItemView::SelectedClicked);
    m_ovAlbums->header()->setStretchLastSection(false);
    m_ovAlbums->header()->setSectionResizeMode(AlbumTreeModel::TitleColumn, QHeaderView::Stretch);
    m_ovAlbums->header()->setSectionResizeMode(AlbumTreeModel::NumberColumn, QHeaderView::ResizeToContents);
    m_ovAlbums->setColumnHidden(AlbumTreeModel::XMLFileColumn, true);
    m_ovAlbums->setAccessibleName(tr("Albums"));
    m_ovAlbums->setIconSize(kTreeThumbnailSize);
    m_ovAlbums->setItemDelegate(new TypingDelegate(m_ovAlbums));
    connect(m_ovAlbums->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainController::outlineViewSelectionDidChange);

    m_ivAlbumThumb = new MyImageView;
    m_ivAlbumThumb->setObjectName(QStringLiteral("ivAlbumThumb"));
    m_ivAlbumThumb->setAccessibleName(tr("Album thumbnail"));
    m_ivAlbumThumb->setToolTip(tr("Drop a picture or an item here to make it the thumbnail"));
    m_ivAlbumThumb->setFixedSize(88, 64);
    m_btnChangeAlbumThumb = new QPushButton(tr("&Choose..."));
    m_btnChangeAlbumThumb->setObjectName(QStringLiteral("btnChangeAlbumThumb"));
    m_btnChangeAlbumThumb->setToolTip(tr("Choose one of the gallery's thumbnails"));
    m_txtAlbumDesc = new QPlainTextEdit;
    m_txtAlbumDesc->setObjectName(QStringLiteral("txtAlbumDesc"));
    m_txtAlbumDesc->setAccessibleName(tr("Album description"));
    m_txtAlbumDesc->setPlaceholderText(tr("Album description"));
    m_txtAlbumDesc->setTabChangesFocus(true);
    m_txtAlbumDesc->setMaximumHeight(110);
    connect(m_txtAlbumDesc, &QPlainTextEdit::textChanged, this, &MainController::albumDescriptionChanged);

    auto *albumBox = new QGroupBox(tr("Album"));
    auto *albumGrid = new QGridLayout(albumBox);
    auto *thumbColumn = new QVBoxLayout;
    thumbColumn->addWidget(m_ivAlbumThumb, 0, Qt::AlignHCenter);
    thumbColumn->addWidget(m_btnChangeAlbumThumb);
    thumbColumn->addStretch();
    albumGrid->addLayout(thumbColumn, 0, 0);
    albumGrid->addWidget(m_txtAlbumDesc, 0, 1);

    auto *left = new QVBoxLayout(m_subvAlbums);
    left->setContentsMargins(0, 0, 0, 0);
    left->addWidget(m_ovAlbums, 1);
    left->addWidget(albumBox);

    // Right pane: the item list over the selected item's details.
    auto *right = new QWidget;
    m_itemViews = new ItemListView;
    m_itemViews->setModel(m_itemModel, ItemListModel::TitleColumn);
    m_itemViews->setDropRule([this](const QMimeData *mime, int &row, bool &on) {
        return m_itemModel->validateDrop(mime, row, on);
    });
    m_tvPhotos = m_itemViews->table();
    m_tvPhotos->setItemDelegate(new TypingDelegate(m_tvPhotos));
    m_tvPhotos->setAlternatingRowColors(true);
    m_tvPhotos->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                                | QAbstractItemView::SelectedClicked);
    m_itemViews->grid()->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    m_tvPhotos->horizontalHeader()->setHighlightSections(false);
    m_tvPhotos->horizontalHeader()->moveSection(ItemListModel::IndexColumn, 0);
    m_tvPhotos->horizontalHeader()->setSectionResizeMode(ItemListModel::IndexColumn, QHeaderView::Fixed);
    m_tvPhotos->horizontalHeader()->setSectionResizeMode(ItemListModel::TitleColumn, QHeaderView::Stretch);
    m_tvPhotos->horizontalHeader()->setSectionResizeMode(ItemListModel::KindColumn, QHeaderView::Fixed);
    m_tvPhotos->setColumnWidth(ItemListModel::IndexColumn, 48);
    m_tvPhotos->setColumnWidth(ItemListModel::DateColumn, 120);
    m_tvPhotos->setColumnWidth(ItemListModel::LocationColumn, 150);
    m_tvPhotos->setColumnWidth(ItemListModel::KindColumn, 44);
    m_tvPhotos->setAccessibleName(tr("Items"));
    m_itemViews->grid()->setAccessibleName(tr("Items"));
    connect(m_tvPhotos->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainController::tableViewSelectionDidChange);

    m_itemDetails = new ItemDetailPanel(&m_gallery);
    connect(m_itemDetails->btnShowVideo(), &QPushButton::clicked, this, &MainController::clickedShowVideo);
    connect(m_itemDetails, &ItemDetailPanel::showVideoEnabledChanged, this, [this](bool on) {
        if (m_miShowVideo)
            m_miShowVideo->setEnabled(on);
    });

    // The list over the item's details; the user decides how much each gets.
    m_itemSplitter = new QSplitter(Qt::Vertical);
    m_itemSplitter->setObjectName(QStringLiteral("itemSplitView"));
    m_itemSplitter->setChildrenCollapsible(false);
    m_itemSplitter->addWidget(m_itemViews);
    m_itemSplitter->addWidget(m_itemDetails);
    m_itemSplitter->setStretchFactor(0, 1);
    m_itemSplitter->setStretchFactor(1, 0);
    auto *rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(m_itemSplitter);

    m_splitter = new QSplitter(Qt::Horizontal);
    m_splitter->setObjectName(QStringLiteral("splitView"));
    m_splitter->setChildrenCollapsible(false);
    m_splitter->addWidget(m_subvAlbums);
    m_splitter->addWidget(right);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({280, 700});

    auto *central = new QWidget;
    auto *outer = new QVBoxLayout(central);
    outer->setContentsMargins(8, 8, 8, 8);
    outer->addWidget(m_splitter);
    setCentralWidget(central);

    // The grid's picture size, at the foot of the window.
    m_sliderThumbnailSize = new QSlider(Qt::Horizontal);
    m_sliderThumbnailSize->setObjectName(QStringLiteral("sliderThumbnailSize"));
    m_sliderThumbnailSize->setAccessibleName(tr("Thumbnail size"));
    m_sliderThumbnailSize->setToolTip(tr("Size of the pictures in the grid"));
    m_sliderThumbnailSize->setRange(64, 384);
    m_sliderThumbnailSize->setSingleStep(16);
    m_sliderThumbnailSize->setPageStep(64);
    m_sliderThumbnailSize->setValue(kGridThumbnailSize.width());
    m_sliderThumbnailSize->setMaximumWidth(160);
    connect(m_sliderThumbnailSize, &QSlider::valueChanged, this, [this](int side) {
        m_itemModel->setGridThumbnailSize(QSize(side, side));
        m_itemViews->grid()->setThumbnailSize(QSize(side, side));
    });
    statusBar()->addPermanentWidget(m_sliderThumbnailSize);
    // Tab moves between the fields, not between the cells of the list.
    m_tvPhotos->setTabKeyNavigation(false);
    setTabOrder(m_ovAlbums, m_txtAlbumDesc);
    setTabOrder(m_txtAlbumDesc, m_tvPhotos);
    setTabOrder(m_tvPhotos, m_itemDetails->txtPhotoDesc());
}

void MainController::buildMenus()
{
    auto add = [this](QMenu *menu, const QString &name, const QString &text, const QKeySequence &key,
                      auto slot) {
        auto *a = new QAction(text, this);
        a->setObjectName(name);
        if (!key.isEmpty())
            a->setShortcut(key);
        connect(a, &QAction::triggered, this, slot);
        menu->addAction(a);
        return a;
    };

    QMenu *file = menuBar()->addMenu(tr("&File"));
    add(file, QStringLiteral("miFileNew"), tr("&New Gallery..."), QKeySequence(Qt::CTRL | Qt::Key_N), &MainController::clickedFileNew);
    add(file, QStringLiteral("miFileOpen"), tr("&Open Gallery..."), QKeySequence(Qt::CTRL | Qt::Key_O), &MainController::clickedFileOpen);
    m_miOpenRecent = file->addMenu(tr("Open &Recent"));
    m_miOpenRecent->setObjectName(QStringLiteral("miOpenRecent"));
    connect(m_miOpenRecent, &QMenu::aboutToShow, this, &MainController::fillRecentMenu);
    fillRecentMenu();
    file->addSeparator();
    add(file, QStringLiteral("miSave"), tr("&Save"), QKeySequence(Qt::CTRL | Qt::Key_S), &MainController::clickedSave);
    file->addSeparator();
    auto *quit = add(file, QStringLiteral("miQuit"), tr("&Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q), &QWidget::close);
    quit->setMenuRole(QAction::QuitRole);

    QMenu *edit = menuBar()->addMenu(tr("&Edit"));
    m_miUndo = add(edit, QStringLiteral("miUndo"), tr("&Undo"), QKeySequence(Qt::CTRL | Qt::Key_Z), &MainController::clickedUndo);
    // Ctrl+Y belongs to Show Photo.
    m_miRedo = add(edit, QStringLiteral("miRedo"), tr("&Redo"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z),
                   &MainController::clickedRedo);
    edit->addSeparator();
    // Text fields take these keys themselves while they have the focus.
    add(edit, QStringLiteral("miCut"), tr("&Cut"), QKeySequence(Qt::CTRL | Qt::Key_X), &MainController::clickedCut);
    add(edit, QStringLiteral("miPaste"), tr("Pa&ste"), QKeySequence(Qt::CTRL | Qt::Key_V), &MainController::clickedPaste);
    edit->addSeparator();
    m_miApplyTitleToRest = add(edit, QStringLiteral("miApplyTitleToRest"), tr("Apply &Title to Rest"),
                               QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T), &MainController::clickedApplyTitleToRest);
    m_miApplyDateToRest = add(edit, QStringLiteral("miApplyDateToRest"), tr("Apply D&ate to Rest"),
                              QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D), &MainController::clickedApplyDateToRest);
    m_miApplyLocationToRest = add(edit, QStringLiteral("miApplyLocationToRest"), tr("Apply &Location to Rest"),
                                  QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L), &MainController::clickedApplyLocationToRest);
    add(edit, QStringLiteral("miChangeItems"), tr("Chan&ge Items..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E),
        &MainController::clickedChangeItems);
    add(edit, QStringLiteral("miShiftDates"), tr("S&hift Dates..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_H),
        &MainController::clickedShiftDates);
    add(edit, QStringLiteral("miNumberTitles"), tr("&Number Titles..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_J),
        &MainController::clickedNumberTitles);
    edit->addSeparator();
    add(edit, QStringLiteral("miRename"), tr("Rena&me"), QKeySequence(Qt::Key_F2), &MainController::clickedRename)
        ->setShortcutContext(Qt::WindowShortcut);
    auto *del = add(edit, QStringLiteral("miDelete"), tr("&Delete..."), QKeySequence(Qt::Key_Delete), &MainController::clickedDelete);
    del->setShortcutContext(Qt::WindowShortcut);
    edit->addSeparator();
    add(edit, QStringLiteral("miFind"), tr("&Find..."), QKeySequence(Qt::CTRL | Qt::Key_F), &MainController::clickedFind);
    add(edit, QStringLiteral("miFindNext"), tr("Find Ne&xt"), QKeySequence(Qt::Key_F3), [this] { m_find->findNext(); });
    add(edit, QStringLiteral("miFindPrevious"), tr("Find Pre&vious"), QKeySequence(Qt::SHIFT | Qt::Key_F3),
        [this] { m_find->findPrevious(); });
    edit->addSeparator();
    // Spelled out: the platform's standard keys are empty on some desktops.
    auto *prefs = add(edit, QStringLiteral("miPreferences"), tr("&Preferences..."), QKeySequence(Qt::CTRL | Qt::Key_Comma),
                      &MainController::clickedPreferences);
    prefs->setMenuRole(QAction::PreferencesRole);

    QMenu *view = menuBar()->addMenu(tr("&View"));
    auto *grid = add(view, QStringLiteral("miShowAsGrid"), tr("Show Items as &Grid"), QKeySequence(Qt::CTRL | Qt::Key_G),
                     [this](bool on) {
                         m_itemViews->setGridShown(on);
                         m_settings->setValue("ItemListGrid", on);
                     });
    grid->setCheckable(true);
    connect(m_itemViews, &ItemListView::gridShownChanged, grid, &QAction::setChecked);
    auto *larger = add(view, QStringLiteral("miLargerThumbnails"), tr("&Larger Pictures"), QKeySequence(Qt::CTRL | Qt::Key_Plus),
                       [this] { m_sliderThumbnailSize->triggerAction(QSlider::SliderPageStepAdd); });
    larger->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    add(view, QStringLiteral("miSmallerThumbnails"), tr("&Smaller Pictures"), QKeySequence(Qt::CTRL | Qt::Key_Minus),
        [this] { m_sliderThumbnailSize->triggerAction(QSlider::SliderPageStepSub); });

    QMenu *gallery = menuBar()->addMenu(tr("&Gallery"));
    auto *newAlbum = add(gallery, QStringLiteral("miNewAlbum"), tr("New &Album"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N),
                         &MainController::clickedNewAlbum);
    auto *newCollection = add(gallery, QStringLiteral("miNewCollection"), tr("New &Collection"),
                              QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_N), &MainController::clickedNewCollection);
    gallery->addSeparator();
    add(gallery, QStringLiteral("miImportPhotos"), tr("&Import Photos..."), QKeySequence(Qt::CTRL | Qt::Key_I),
        &MainController::clickedImportPhotos);
    add(gallery, QStringLiteral("miImportVideo"), tr("Import &Video..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I),
        &MainController::clickedImportVideo);
    QMenu *sort = gallery->addMenu(tr("S&ort Album By"));
    sort->setObjectName(QStringLiteral("miSortAlbum"));
    for (const auto &[key, name] : {std::pair{SortKey::DateTaken, QStringLiteral("miSortByDate")},
                                    {SortKey::Title, QStringLiteral("miSortByTitle")},
                                    {SortKey::FileName, QStringLiteral("miSortByFileName")}}) {
        QAction *by = sort->addAction(QLatin1Char('&') + sortKeyName(key), this, [this, key = key] { clickedSortBy(key); });
        by->setObjectName(name);
    }
    gallery->addSeparator();
    add(gallery, QStringLiteral("miChangeAlbumThumb"), tr("Choose &Thumbnail..."), QKeySequence(Qt::CTRL | Qt::Key_T),
        &MainController::clickedChangeAlbumThumb);
    add(gallery, QStringLiteral("miCheckGallery"), tr("Chec&k Gallery..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K),
        &MainController::clickedCheckGallery);
    add(gallery, QStringLiteral("miPublish"), tr("P&ublish..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P),
        &MainController::clickedPublish);
    add(gallery, QStringLiteral("miPreviewInBrowser"), tr("Preview in &Browser"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B),
        &MainController::clickedPreviewInBrowser);
    add(gallery, QStringLiteral("miAddWebViewer"), tr("Add &Web Viewer"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_W),
        &MainController::clickedAddWebViewer);
    gallery->addSeparator();
    add(gallery, QStringLiteral("miShowPhoto"), tr("Show &Photo"), QKeySequence(Qt::CTRL | Qt::Key_Y),
        [this] { doubleClickedPhoto(Qt::NoModifier); });
    add(gallery, QStringLiteral("miShowLargePhoto"), tr("Show &Large Photo"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Y),
        [this] { doubleClickedPhoto(Qt::ControlModifier); });
    auto *showVideo = add(gallery, QStringLiteral("miShowVideo"), tr("Show Vi&deo..."), QKeySequence(Qt::CTRL | Qt::Key_E),
                          &MainController::clickedShowVideo);
    m_miShowVideo = showVideo;

    QMenu *photo = menuBar()->addMenu(tr("&Photo"));
    photo->setObjectName(QStringLiteral("menuPhoto"));
    add(photo, QStringLiteral("miRotateLeft"), tr("Rotate &Left"), QKeySequence(Qt::CTRL | Qt::Key_L),
        [this] { clickedRotate(-1); });
    add(photo, QStringLiteral("miRotateRight"), tr("Rotate &Right"), QKeySequence(Qt::CTRL | Qt::Key_R),
        [this] { clickedRotate(1); });
    photo->addSeparator();
    add(photo, QStringLiteral("miUseAsAlbumThumb"), tr("&Use as Album Thumbnail"), QKeySequence(Qt::CTRL | Qt::Key_U),
        &MainController::clickedUseAsAlbumThumb);
    photo->addSeparator();
    add(photo, QStringLiteral("miReplacePicture"), tr("Re&place Picture..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R),
        &MainController::clickedReplacePicture);
    add(photo, QStringLiteral("miMakeSizesAgain"), tr("&Make Sizes Again..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M),
        &MainController::clickedMakeSizesAgain);

    QMenu *help = menuBar()->addMenu(tr("&Help"));
    add(help, QStringLiteral("miHelp"), tr("Quillmere &Help"), QKeySequence(Qt::Key_F1), [this] { showGalleryHelp(this); });

    auto *tools = addToolBar(tr("Gallery"));
    tools->setObjectName(QStringLiteral("mainToolbar"));
    tools->setMovable(false);
    tools->setToolButtonStyle(Qt::ToolButtonTextOnly);
    tools->addAction(newAlbum);
    tools->addAction(newCollection);
    tools->addSeparator();
    tools->addAction(action(QStringLiteral("miSave")));
    // The find field at the toolbar's far end.
    auto *gap = new QWidget;
    gap->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    tools->addWidget(gap);
    tools->addWidget(m_find->field());
}

void MainController::fillRecentMenu()
{
    m_miOpenRecent->clear();
    const QStringList galleries = m_recent.galleries();
    for (const QString &path : galleries) {
        // An "&" in a folder's name is a letter, not a mnemonic.
        QString text = QDir::toNativeSeparators(path);
        text.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction *open = m_miOpenRecent->addAction(text, this, [this, path] { openGallery(path); });
        // A gallery moved or on a disk not attached cannot be opened now.
        open->setEnabled(QFileInfo(path).isDir() && path != m_prefs.orvaneFolder());
    }
    if (!galleries.isEmpty())
        m_miOpenRecent->addSeparator();
    QAction *clear = m_miOpenRecent->addAction(tr("&Clear Menu"), this, [this] { m_recent.clear(); });
    clear->setEnabled(!galleries.isEmpty());
}

void MainController::clickedCheckGallery()
{
    if (!m_prefs.orvaneFolder().isEmpty())
        m_ctlCheckGallery->check(m_gallery.data(), m_prefs);
}

// What is published is what is saved: unsaved changes are saved first, or left out.
void MainController::clickedPublish()
{
    if (m_prefs.orvaneFolder().isEmpty())
        return;
    commitEditors();
    if (m_gallery.needsToSaveChanges()) {
        QMessageBox box(QMessageBox::Question, tr("Publish"), tr("Save your changes before publishing?"),
                        QMessageBox::Cancel, this);
        box.setObjectName(QStringLiteral("msgSaveBeforePublish"));
        box.setInformativeText(tr("Publishing sends the gallery as it is saved on disk."));
        QPushButton *save = box.addButton(tr("&Save and Publish"), QMessageBox::AcceptRole);
        save->setObjectName(QStringLiteral("btnSaveAndPublish"));
        QPushButton *saved = box.addButton(tr("Publish the &Saved Version"), QMessageBox::DestructiveRole);
        saved->setObjectName(QStringLiteral("btnPublishSaved"));
        box.setDefaultButton(save);
        box.exec();
        if (box.clickedButton() == save) {
            if (!saveData())
                return;
        } else if (box.clickedButton() != saved) {
            return;
        }
    }
    m_ctlPublish->open(m_prefs.orvaneFolder());
}

void MainController::clickedPreviewInBrowser()
{
    const QString folder = m_prefs.orvaneFolder();
    if (folder.isEmpty())
        return;
    commitEditors();
    if (viewerSourceFolder().isEmpty()) {
        showError(tr("The web viewer's files are not installed with this program, so there is nothing to preview."));
        return;
    }
    if (!m_preview)
        m_preview = new PreviewServer(galleryXmlSource(m_gallery), this);
    QString why;
    if (!m_preview->serve(m_prefs, viewerSourceFolder(), &why)) {
        showError(tr("The gallery cannot be previewed: no local web server could be started."), why);
        return;
    }
    QUrl url = m_preview->viewerUrl();
    // The album the user is looking at.
    if (const Album *album = data().selectedAlbum(); album && isBareFileName(album->XMLFile()))
        url.setFragment(QStringLiteral("/a/") + QString::fromLatin1(QUrl::toPercentEncoding(album->XMLFile())));
    statusBar()->showMessage(tr("Previewing the gallery at %1").arg(url.toString()), 15000);
    if (!QDesktopServices::openUrl(url))
        showError(tr("No web browser could be opened. The preview is at %1").arg(url.toString()));
}

void MainController::addBrowserStream(quint64 videoId)
{
    Album *album = nullptr;
    Video *video = nullptr;
    data().forEachNode([&](const NodePtr &node) {
        if (!node->isAlbum())
            return true;
        for (const ItemPtr &item : static_cast<Album &>(*node).items()) {
            if (item->id() == videoId && item->isVideo()) {
                album = static_cast<Album *>(node.get());
                video = static_cast<Video *>(item.get());
            }
        }
        return !video;
    });
    if (!video || video->streams().isEmpty())
        return;
    // The richest stream is the source: the first, as streams go by bitrate.
    const QString source = m_prefs.imgPath(video->streams().first()->file());
    if (source.isEmpty())
        return;
    m_ctlImportVideo->setAddingStream(true);
    m_ctlImportVideo->setVideo(video);
    m_ctlImportVideo->conversionPanel()->setCodec(VideoCodec::H264);
    m_ctlImportVideo->setFile(source, album, true);
    m_ctlImportVideo->showWindow();
}

void MainController::clickedAddWebViewer()
{
    const QString gallery = m_prefs.orvaneFolder();
    if (gallery.isEmpty() || m_viewerJob)
        return;
    // The viewer folder's files are read off the GUI thread; the step is taken here.
    const QString source = viewerSourceFolder();
    auto plan = std::make_shared<ViewerPlan>();
    auto *job = new Job(tr("Add Web Viewer"), [source, gallery, plan](JobControl &) {
        *plan = planWebViewer(source, gallery);
    }, this);
    m_viewerJob = job;
    connect(job, &Job::finished, this, [this, job, gallery, plan] {
        job->deleteLater();
        m_viewerJob = nullptr;
        updateCommands();
        webViewerPlanned(gallery, *plan);
    });
    updateCommands();
    job->start();
}

void MainController::webViewerPlanned(const QString &gallery, const ViewerPlan &plan)
{
    if (gallery != m_prefs.orvaneFolder())
        return; // another gallery was opened meanwhile
    if (!plan.ok()) {
        showError(tr("The web viewer was not added."), plan.refusal);
        return;
    }
    const QString where = QDir::toNativeSeparators(plan.folder);
    QString text;
    if (plan.changes.isEmpty()) {
        text = tr("The gallery's web viewer in \u201c%1\u201d is up to date.").arg(where);
    } else {
        const WriteResult written = m_gallery.changeFiles(plan.update ? tr("Update Web Viewer") : tr("Add Web Viewer"),
                                                          plan.changes, plan.folder);
        if (!written) {
            showProblems(tr("The web viewer could not be written; the gallery's viewer folder is as it was."),
                         {{written.path, written.reason}});
            return;
        }
        text = (plan.update ? tr("The web viewer in \u201c%1\u201d was brought up to date.")
                            : tr("The web viewer was added to the gallery, in \u201c%1\u201d."))
                   .arg(where)
            + QLatin1Char(' ')
            + tr("Put the gallery folder on any web server; its viewer/index.html shows the gallery.");
    }
    statusBar()->showMessage(text, 15000);
    if (!plan.kept.isEmpty())
        showProblems(text + QLatin1Char(' ') + tr("These files are not Quillmere's and were left as they are:"), plan.kept);
}

QAction *MainController::action(const QString &objectName) const
{
    return findChild<QAction *>(objectName);
}

void MainController::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // Some platforms never report activation of the first window.
    QTimer::singleShot(0, this, [this] {
        if (isVisible())
            windowDidBecomeKey();
    });
}

void MainController::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        QTimer::singleShot(0, this, &MainController::windowDidBecomeKey);
}

void MainController::windowDidBecomeKey()
{
    if (m_windowWasKey)
        return;
    m_windowWasKey = true;
    const QString folder = m_prefs.orvaneFolder();
    if (!folder.isEmpty() && QFileInfo::exists(folder))
        loadData();
    else
        m_ctlFirstRun->exec();
}

void MainController::loadData()
{
    const QString folder = m_prefs.orvaneFolder();
    Gallery::OpenReport report;
    auto open = [&](bool readOnly) {
        const BusyCursor busy;
        m_thumbnails->clear();
        m_fileChecks->clear();
        m_ctlCheckGallery->close();
        m_find->clear();
        m_cut.clear();
        report = m_gallery.open(readOnly);
        deselectAllAlbums();
        m_ovAlbums->expandAll();
        restoreSelection();
    };
    open(false);
    if (report.lock == GalleryLock::State::HeldElsewhere || report.lock == GalleryLock::State::Failed) {
        updateCommands();
        if (!offerReadOnly(folder)) {
            setWindowTitle(QStringLiteral("Quillmere"));
            m_ctlFirstRun->exec();
            return;
        }
        open(true);
    }
    // "[*]" marks unsaved changes in the title.
    setWindowTitle(m_gallery.isReadOnly() ? tr("Quillmere - %1 (read-only)").arg(folder)
                                          : QStringLiteral("Quillmere - %1[*]").arg(folder));
    m_recent.add(folder);
    if (m_preview && m_preview->isServing())
        m_preview->serve(m_prefs, viewerSourceFolder());
    updateCommands();
    if (!report.tidying.isEmpty()) {
        showProblems(tr("The last save of this gallery was cut short, and Quillmere could not complete it. "
                        "The gallery is shown read-only, as its files are now; the save is completed the "
                        "next time it is opened where these files can be written."),
                     report.tidying);
    } else if (report.leftoversRemoved > 0) {
        statusBar()->showMessage(tr("%1 left by work that was interrupted removed.")
                                     .arg(counted(report.leftoversRemoved, "temporary file", "temporary files")),
                                 8000);
    }
    if (!report.load.ok()) {
        showProblems(tr("Some files of the gallery could not be read, or not completely. What could not be "
                        "read is not shown. Such a file stays as it is until a change of yours must replace "
                        "it; then it is kept beside under a second name."),
                     report.load.unreadable);
    }
}

bool MainController::offerReadOnly(const QString &folder)
{
    const GalleryLock &lock = m_gallery.lock();
    QString text;
    if (lock.state() == GalleryLock::State::HeldElsewhere) {
        const GalleryLock::Holder &h = lock.holder();
        const QString who = h.program.isEmpty() || h.program == QCoreApplication::applicationName()
                                ? tr("another copy of Quillmere")
                                : tr("another program (%1)").arg(h.program);
        text = tr("The gallery \u201c%1\u201d is in use by %2 on %3 (process %4) since %5.")
                   .arg(QDir::toNativeSeparators(folder), who, h.host.isEmpty() ? tr("another computer") : h.host)
                   .arg(h.pid)
                   .arg(QLocale().toString(h.since, QLocale::ShortFormat));
    } else {
        text = tr("The gallery \u201c%1\u201d cannot be opened for changes: %2.")
                   .arg(QDir::toNativeSeparators(folder), lock.error());
    }
    QMessageBox box(QMessageBox::Warning, tr("Gallery in Use"), text, QMessageBox::NoButton, this);
    box.setInformativeText(tr("Only one copy of Quillmere can change a gallery at a time. You can open it "
                              "read-only: you see it as it is, and nothing in it can be changed."));
    box.setWindowModality(Qt::WindowModal);
    auto *readOnly = box.addButton(tr("Open Read-Only"), QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(readOnly);
    box.exec();
    return box.clickedButton() == readOnly;
}

bool MainController::saveData(GalleryFile::OnChangedFiles onChanged)
{
    commitEditors();
    const SaveReport report = [this, onChanged] {
        const BusyCursor busy;
        return m_gallery.save(onChanged);
    }();
    if (!report.changedOnDisk.isEmpty())
        return resolveChangedFiles(report.changedOnDisk);
    if (!report.ok() && report.tookEffect) {
        showProblems(tr("The gallery was saved, but some of its files could not take their new content yet. "
                        "Quillmere completes this the next time the gallery is opened; until then a web viewer "
                        "may show these files as they were."),
                     report.failed + report.notes);
        return true;
    }
    if (!report.ok()) {
        showProblems(tr("The gallery was not saved: no file of it was changed. Your changes are still open "
                        "and marked unsaved."),
                     report.failed);
        return false;
    }
    if (!report.notes.isEmpty())
        showProblems(tr("The gallery was saved. To keep everything, Quillmere did this as well:"), report.notes);
    statusBar()->showMessage(tr("Saved"), 3000);
    return true;
}

bool MainController::resolveChangedFiles(const QList<FileProblem> &files)
{
    QStringList lines;
    for (const FileProblem &p : files)
        lines << QDir::toNativeSeparators(p.path);
    QMessageBox box(QMessageBox::Warning, tr("Files Changed by Another Program"),
                    tr("Another program changed files of this gallery since Quillmere read them. Nothing was "
                       "saved yet."),
                    QMessageBox::NoButton, this);
    box.setInformativeText(tr("Keep Mine saves your version; theirs is kept beside each file under a second "
                              "name. Reload Theirs shows the gallery as it is now on disk, and your unsaved "
                              "changes are lost.\n\n%1").arg(lines.join(QLatin1Char('\n'))));
    box.setWindowModality(Qt::WindowModal);
    auto *mine = box.addButton(tr("Keep Mine"), QMessageBox::AcceptRole);
    auto *theirs = box.addButton(tr("Reload Theirs"), QMessageBox::DestructiveRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(mine);
    box.exec();
    if (box.clickedButton() == mine)
        return saveData(GalleryFile::OnChangedFiles::KeepTheirsAside);
    if (box.clickedButton() == theirs) {
        loadData();
        return true;
    }
    return false;
}

void MainController::clickedSave()
{
    if (!m_prefs.orvaneFolder().isEmpty())
        saveData();
}

void MainController::clickedUndo()
{
    commitEditors();
    const QString text = m_gallery.undoStack()->undoText();
    // What the step reported (files moved to the trash) is no longer so.
    statusBar()->clearMessage();
    m_afterStep = tr("Undone: %1").arg(text);
    if (!m_gallery.undo())
        m_afterStep.clear();
}

void MainController::clickedRedo()
{
    commitEditors();
    const QString text = m_gallery.undoStack()->redoText();
    statusBar()->clearMessage();
    m_afterStep = tr("Redone: %1").arg(text);
    if (!m_gallery.redo())
        m_afterStep.clear();
}

void MainController::updateUndoActions()
{
    setWindowModified(m_gallery.needsToSaveChanges());
    const QUndoStack *stack = m_gallery.undoStack();
    m_miUndo->setEnabled(m_gallery.canUndo());
    m_miRedo->setEnabled(m_gallery.canRedo());
    m_miUndo->setText(stack->canUndo() ? tr("&Undo %1").arg(stack->undoText()) : tr("&Undo"));
    m_miRedo->setText(stack->canRedo() ? tr("&Redo %1").arg(stack->redoText()) : tr("&Redo"));
}

void MainController::updateCommands()
{
    // Without a gallery, or with one open read-only, nothing may touch files.
    const bool open = !m_prefs.orvaneFolder().isEmpty() && m_windowWasKey && !m_gallery.isReadOnly();
    const Data &data = m_gallery.data();
    const TreeNode *node = selectedNode();
    const Item *item = m_itemModel->itemAt(selectedItemRow());
    const bool photo = item && item->isPhoto();
    for (const char *name : {"miSave", "miNewAlbum", "miNewCollection", "miCheckGallery"})
        action(QLatin1String(name))->setEnabled(open);
    // Only reads: a gallery open read-only is shown too.
    action(QStringLiteral("miPreviewInBrowser"))->setEnabled(!m_prefs.orvaneFolder().isEmpty() && m_windowWasKey);
    action(QStringLiteral("miAddWebViewer"))->setEnabled(open && !m_viewerJob);
    action(QStringLiteral("miImportPhotos"))->setEnabled(open && data.selectedAlbum());
    action(QStringLiteral("miImportVideo"))->setEnabled(open && data.selectedAlbum());
    action(QStringLiteral("miChangeAlbumThumb"))->setEnabled(open && node);
    m_btnChangeAlbumThumb->setEnabled(open && node);
    action(QStringLiteral("miShowPhoto"))->setEnabled(photo);
    const QString large = photo ? m_prefs.imgPath(static_cast<const Photo *>(item)->largeImageFile()) : QString();
    action(QStringLiteral("miShowLargePhoto"))->setEnabled(!large.isEmpty() && QFileInfo::exists(large));
    m_miShowVideo->setEnabled(item && item->isVideo());
    action(QStringLiteral("miRename"))->setEnabled(open && (node || item));
    action(QStringLiteral("miDelete"))->setEnabled(open && (node || !m_tvPhotos->selectionModel()->selectedRows().isEmpty()));
    for (QAction *a : {m_miApplyTitleToRest, m_miApplyDateToRest, m_miApplyLocationToRest})
        a->setEnabled(open && item);
    updateEditCommands();
    updateUndoActions();
}

bool MainController::openGallery(const QString &path)
{
    if (!QFileInfo(path).isDir()) {
        // Names are UTF-8 here: bytes that are not were replaced when the name was read.
        showError(path.contains(QChar::ReplacementCharacter)
                      ? tr("Quillmere cannot open \u201c%1\u201d: the folder's name, or the name of a folder it is "
                           "in, is not valid UTF-8 text. Rename it and open it again.").arg(QDir::toNativeSeparators(path))
                      : tr("There is no folder \u201c%1\u201d.").arg(QDir::toNativeSeparators(path)));
        return false;
    }
    if (m_gallery.needsToSaveChanges() && !saveData()) {
        QMessageBox box(QMessageBox::Warning, tr("Unsaved Changes"),
                        tr("The open gallery could not be saved. Open the other gallery anyway and lose "
                           "the unsaved changes?"),
                        QMessageBox::NoButton, this);
        box.setWindowModality(Qt::WindowModal);
        auto *open = box.addButton(tr("Open Anyway"), QMessageBox::DestructiveRole);
        auto *stay = box.addButton(tr("Stay"), QMessageBox::RejectRole);
        box.setDefaultButton(stay);
        box.exec();
        if (box.clickedButton() != open)
            return false;
    }
    saveWindowState(); // the album selected in the gallery left
    m_prefs.setOrvaneFolder(path);
    m_settings->sync();
    loadData();
    return true;
}

void MainController::clickedFileNew()
{
    const QString location = FolderChooser::chooseFolder(this, tr("Choose Where the New Gallery Goes"));
    if (location.isEmpty())
        return;
    m_ctlNewOrvaneFolder->setParentFolder(location);
    QString created;
    auto conn = connect(m_ctlNewOrvaneFolder, &NewOrvaneFolderController::galleryCreated, this,
                        [&created](const QString &path) { created = path; });
    m_ctlNewOrvaneFolder->exec();
    disconnect(conn);
    if (!created.isEmpty())
        openGallery(created);
}

void MainController::clickedFileOpen()
{
    const QString path = FolderChooser::chooseFolder(this, tr("Open a Gallery Folder"));
    if (!path.isEmpty())
        openGallery(path);
}

TreeNode *MainController::selectedNode() const
{
    const QModelIndexList rows = m_ovAlbums->selectionModel()->selectedRows();
    return rows.isEmpty() ? nullptr : m_treeModel->nodeForIndex(rows.first());
}

void MainController::clickedNewAlbum()
{
    m_find->clear();
    QString why;
    const NodePtr node = m_gallery.newAlbum(selectedNode(), &why);
    if (!why.isEmpty())
        showError(node ? tr("The new album has no thumbnail picture.") : tr("No album could be made."), why);
    showNewNode(node.get());
}

void MainController::clickedNewCollection()
{
    m_find->clear();
    QString why;
    const NodePtr node = m_gallery.newCollection(selectedNode(), &why);
    if (!why.isEmpty())
        showError(node ? tr("The new collection has no thumbnail picture.") : tr("No collection could be made."), why);
    showNewNode(node.get());
}

void MainController::showNewNode(TreeNode *node)
{
    const QModelIndex index = m_treeModel->indexForNode(node);
    if (!index.isValid())
        return;
    // Selected, with its title open for the name it is to have.
    m_ovAlbums->expand(index.parent());
    m_ovAlbums->scrollTo(index);
    m_ovAlbums->setCurrentIndex(index);
    m_ovAlbums->setFocus();
    m_ovAlbums->edit(index);
}

void MainController::clickedPreferences()
{
    m_ctlPreferences->show();
    m_ctlPreferences->raise();
    m_ctlPreferences->activateWindow();
}

void MainController::clickedShowVideo()
{
    Item *item = m_gallery.data().selectedItem();
    if (!item || !item->isVideo())
        return;
    m_ctlVideoPreview->setVideo(static_cast<Video *>(item));
    m_ctlVideoPreview->showWindow();
}

void MainController::setAlbumDescription(const QString &text, bool editable)
{
    // Loading a description is not an edit: keep it from reaching the gallery.
    const QSignalBlocker block(m_txtAlbumDesc);
    m_txtAlbumDesc->setPlainText(text);
    m_txtAlbumDesc->setReadOnly(!editable || m_gallery.isReadOnly());
}

void MainController::albumDescriptionChanged()
{
    if (Album *album = m_gallery.data().selectedAlbum())
        m_gallery.setAlbumDescription(album, m_txtAlbumDesc->toPlainText());
}

void MainController::deselectAllAlbums()
{
    m_ovAlbums->selectionModel()->clearSelection();
    m_ovAlbums->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    outlineViewSelectionDidChange();
}

void MainController::deselectAllItems()
{
    m_tvPhotos->selectionModel()->clearSelection();
    tableViewSelectionDidChange();
}

void MainController::outlineViewSelectionDidChange()
{
    TreeNode *node = selectedNode();
    Album *album = node && node->isAlbum() ? static_cast<Album *>(node) : nullptr;
    AlbumCollection *collection = node && node->isCollection() ? static_cast<AlbumCollection *>(node) : nullptr;
    const bool changed = album != m_gallery.data().selectedAlbum() || collection != m_gallery.data().selectedCollection();
    m_gallery.setSelection(album, collection);
    if (changed || !album)
        setAlbumDescription(album ? album->description() : QString(), album != nullptr);
    if (m_itemModel->album() != album) {
        m_tvPhotos->selectionModel()->clearSelection();
        m_itemModel->setAlbum(album);
    }
    tableViewSelectionDidChange();
    m_wells->showNodeThumbnail();
}

int MainController::selectedItemRow() const
{
    const QModelIndexList rows = m_tvPhotos->selectionModel()->selectedRows();
    return rows.size() == 1 ? rows.first().row() : -1;
}

void MainController::tableViewSelectionDidChange()
{
    Item *item = m_itemModel->itemAt(selectedItemRow());
    m_gallery.setSelectedItem(item);
    m_itemDetails->showItem(item);
    updateCommands();
}

void MainController::applyToRest(ItemField field)
{
    commitEditors();
    m_gallery.applyToRest(m_itemModel->album(), selectedItemRow(), field);
}

void MainController::clickedApplyTitleToRest()
{
    applyToRest(ItemField::Title);
}

void MainController::clickedApplyDateToRest()
{
    applyToRest(ItemField::Date);
}

void MainController::clickedApplyLocationToRest()
{
    applyToRest(ItemField::Location);
}

void MainController::commitEditors()
{
    commitOpenEditors(m_ovAlbums);
    commitOpenEditors(m_tvPhotos);
    commitOpenEditors(m_itemViews->grid());
}

bool MainController::applicationShouldTerminate()
{
    commitEditors();
    if (!m_gallery.needsToSaveChanges())
        return true;
    if (saveData())
        return true;
    // A failed save must not silently lose the changes.
    QMessageBox box(QMessageBox::Warning, tr("Quit Without Saving?"),
                    tr("The gallery could not be saved. If you quit now, your unsaved changes are lost."),
                    QMessageBox::NoButton, this);
    box.setWindowModality(Qt::WindowModal);
    auto *quit = box.addButton(tr("Quit Anyway"), QMessageBox::DestructiveRole);
    auto *stay = box.addButton(tr("Don't Quit"), QMessageBox::RejectRole);
    box.setDefaultButton(stay);
    box.exec();
    return box.clickedButton() == quit;
}

void MainController::closeEvent(QCloseEvent *event)
{
    // Work in the middle ends first: an import with the pictures in hand,
    // a deletion put back or finished, so that what is saved names only
    // files that are there.
    m_ctlImportingPhotos->stopAndWait();
    if (Job *job = m_gallery.currentJob()) {
        job->stop();
        job->waitForFinished();
    }
    if (m_terminating || applicationShouldTerminate()) {
        if (!m_terminating)
            saveWindowState();
        m_terminating = true;
        m_ctlPreferences->close();
        m_ctlPhotoWindow->close();
        m_ctlImportVideo->close();
        m_ctlVideoPreview->close();
        if (m_preview)
            m_preview->stop();
        event->accept();
    } else {
        event->ignore();
    }
}

void MainController::showProblems(const QString &message, const QList<FileProblem> &problems)
{
    QStringList lines;
    for (const FileProblem &p : problems)
        lines << QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(p.path), p.reason);
    showError(message, lines.join(QLatin1Char('\n')));
}

void MainController::showError(const QString &message, const QString &details)
{
    QMessageBox box(QMessageBox::Warning, tr("Quillmere"), message, QMessageBox::Ok, this);
    box.setWindowModality(Qt::WindowModal);
    if (!details.isEmpty()) {
        // The first lines are shown at once; all of them under Details.
        const QStringList lines = details.split(QLatin1Char('\n'));
        QString shown = lines.mid(0, 5).join(QLatin1Char('\n'));
        if (lines.size() > 5)
            shown += tr("\n... and %n more", nullptr, int(lines.size() - 5));
        box.setInformativeText(shown);
        box.setDetailedText(details);
    }
    box.exec();
}

} // namespace qm
